#include "ConstraintEngine/component/AllSameConstraints.hh"

#include "support/BoundsFixture.hh"
#include "support/Failure.hh"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace KALDEN {
namespace {

typedef BoundsFixture::Bounds Bounds;
typedef std::vector<double> Values;

class CondAllSameTest : public BoundsFixture {
protected:
  // One execution over [b, xs...]; answers what is left of b ({} when emptied). The constraint
  // stays until the purge: its removal would relax its variables.
  Values run(const Id<ConstrainedVariable>& b, std::vector<Id<ConstrainedVariable> > xs) {
    xs.insert(xs.begin(), b);
    (new CondAllSameConstraint("condEq", "Default", engine(), xs))->handleExecute();
    return dom(b).isEmpty() ? Values() : values(b);
  }
  Id<ConstrainedVariable> fixedInt(int v) { return intVar("x", v, v); }
  Id<ConstrainedVariable> fixedReal(double v) { return floatVar("x", v, v); }
  Id<ConstrainedVariable> openEnum() {
    Id<ConstrainedVariable> v = enumVar("open", {1});
    dom(v).open();
    return v;
  }
};

const Values UNDECIDED = {0, 1}, TRUE = {1}, FALSE = {0}, EMPTIED = {};

TEST_F(CondAllSameTest, ChecksItsScope) {
  Id<ConstrainedVariable> x = fixedInt(1);
  EXPECT_CHECK_FAILS(CondAllSameConstraint("condEq", "Default", engine(), makeScope(boolVar("b"), x)), "ARG_COUNT > 2");
  EXPECT_CHECK_FAILS(CondAllSameConstraint("condEq", "Default", engine(), makeScope(x, x, x)),
                     "getCurrentDomain(m_variables[0]).isBool()");
  EXPECT_EQ(m_engine->getConstraints().size(), 0u);
}

TEST_F(CondAllSameTest, DecidesBFromTheOperands) {
  const double eps = dom(fixedReal(0)).minDelta();
  EXPECT_EQ(run(boolVar("b"), {fixedInt(3), fixedInt(3), fixedInt(3)}), TRUE);
  EXPECT_EQ(run(boolVar("b"), {fixedInt(3), fixedInt(5)}), FALSE);
  EXPECT_EQ(run(boolVar("b"), {fixedReal(3), fixedReal(3 + eps / 2)}), TRUE);
  // An integer 3 and a real 3.5 differ, though 0.5 is within the integer's step: either order.
  EXPECT_EQ(run(boolVar("b"), {fixedInt(3), fixedReal(3.5)}), FALSE);
  EXPECT_EQ(run(boolVar("b"), {fixedReal(3.5), fixedInt(3)}), FALSE);
  EXPECT_EQ(run(boolVar("b"), {intVar("x1", 1, 2), intVar("x2", 5, 6)}), FALSE);
  // A singleton after a non-singleton is not compared; an open operand never proves equality.
  EXPECT_EQ(run(boolVar("b"), {intVar("x1", 1, 2), fixedInt(7)}), UNDECIDED);
  EXPECT_EQ(run(boolVar("b"), {fixedInt(1), fixedInt(1), openEnum()}), UNDECIDED);
  // Nor an open first one without members, whose bounds are never read.
  const Id<ConstrainedVariable> none = openEnum();
  dom(none).remove(1);
  EXPECT_EQ(run(boolVar("b"), {none, fixedInt(1), fixedInt(1)}), UNDECIDED);
}

TEST_F(CondAllSameTest, FalseRemovesTheCommonValueWhereItCan) {
  struct Case {
    const char* what;
    Id<ConstrainedVariable> x3;
    Values after; // x3's values, or for intervals its bounds
  };
  const Case cases[] = {
      {"enumeration", enumVar("x3", {1, 4, 6}), {1, 6}},
      {"integer interval, value at its end", intVar("x3", 4, 9), {5, 9}},
      {"integer interval, value inside", intVar("x3", 2, 9), {2, 9}},
      {"real interval", floatVar("x3", 4, 9), {4, 9}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run(boolVar("b", false), {fixedInt(4), fixedInt(4), c.x3}), FALSE) << c.what;
    EXPECT_EQ(dom(c.x3).isEnumerated() ? values(c.x3) : bounds(c.x3), c.after) << c.what;
  }
  // Two candidates: nothing changes.
  Id<ConstrainedVariable> x2 = intVar("x2", 1, 9), x3 = intVar("x3", 0, 5);
  run(boolVar("b", false), {fixedInt(4), x2, x3});
  EXPECT_EQ(bounds(x2), Bounds({1, 9}));
  EXPECT_EQ(bounds(x3), Bounds({0, 5}));
  // All equal although b is false: b empties.
  EXPECT_EQ(run(boolVar("b", false), {fixedInt(2), fixedInt(2), fixedInt(2)}), EMPTIED);
}

TEST_F(CondAllSameTest, TrueEquatesTheOperands) {
  Id<ConstrainedVariable> x1 = intVar("x1", 0, 10), x2 = intVar("x2", 5, 20), x3 = intVar("x3", 8, 9);
  EXPECT_EQ(run(boolVar("b", true), {x1, x2, x3}), TRUE);
  for (const Id<ConstrainedVariable>& x : {x1, x2, x3})
    EXPECT_EQ(bounds(x), Bounds({8, 9}));
  Id<ConstrainedVariable> o1 = openEnum(), o2 = openEnum();
  run(boolVar("b", true), {o1, o2});
  EXPECT_TRUE(dom(o1).isOpen() && dom(o2).isOpen());
  // Operands that cannot be equal: a domain empties, and the pass stops there instead of
  // equating the emptied domain again.
  Id<ConstrainedVariable> a = fixedInt(1), b = enumVar("b", {0, 1}), c = fixedInt(3);
  run(boolVar("t", true), {a, b, c});
  EXPECT_TRUE(dom(a).isEmpty() || dom(b).isEmpty() || dom(c).isEmpty());
}

} // namespace
} // namespace KALDEN
