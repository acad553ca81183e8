#include "ConstraintEngine/component/SignConstraints.hh"

#include "support/BoundsFixture.hh"
#include "support/Failure.hh"

#include <gtest/gtest.h>

#include <list>
#include <vector>

namespace KALDEN {
namespace {

typedef BoundsFixture::Bounds Bounds;
typedef std::vector<double> Values;

const BoundsFixture::Bounds EMPTIED;

// Two interval variables before and after one execution.
struct BinaryCase {
  const char* what;
  bool xInt, yInt;
  Bounds x, y, xAfter, yAfter;
};

class SignConstraintsTest : public BoundsFixture {
protected:
  template <class C>
  void runBinary(const BinaryCase& c) {
    Id<ConstrainedVariable> x = var("x", c.xInt, c.x), y = var("y", c.yInt, c.y);
    C constraint("c", "Default", engine(), makeScope(x, y));
    constraint.handleExecute();
    EXPECT_EQ(after(x), c.xAfter) << c.what << ": x";
    EXPECT_EQ(after(y), c.yAfter) << c.what << ": y";
  }

  // Runs x = |y| once over an enumerated y; returns what is left of y's members while the constraint holds.
  Values absOverEnumeration(const Id<ConstrainedVariable>& x, const std::list<double>& yValues) {
    Id<ConstrainedVariable> y = enumVar("y", yValues);
    AbsoluteValue abs("absVal", "Default", engine(), makeScope(x, y));
    abs.handleExecute();
    return values(y);
  }
};

TEST_F(SignConstraintsTest, NegationNarrowsBothWaysFromBoundsOnEntry) {
  const double inf = PLUS_INFINITY;
  const BinaryCase cases[] = {
      {"both", false, false, {0, 10}, {-3, 20}, {0, 3}, {-3, 0}},
      {"infinities swap", false, false, {-inf, inf}, {2, 5}, {-5, -2}, {2, 5}},
      {"unbounded y", false, false, {1, 2}, {-inf, inf}, {1, 2}, {-2, -1}},
      {"x emptied, y left", false, false, {1, 2}, {1, 2}, EMPTIED, {1, 2}},
      {"integer x rounds inward", true, false, {-10, 10}, {-2.5, 7.5}, {-7, 2}, {-2.5, 7.5}},
  };
  for (const BinaryCase& c : cases)
    runBinary<NegateConstraint>(c);
}

TEST_F(SignConstraintsTest, NegationRefusesEnumeratedBaseDomainsAfterCheckingArity) {
  Id<ConstrainedVariable> x = floatVar("x", 0, 1), e = enumVar("e", {3});
  EXPECT_CHECK_FAILS(NegateConstraint("neg", "Default", engine(), makeScope(e, x, x)), "variables.size() == 2");
  EXPECT_CHECK_FAILS(NegateConstraint("neg", "Default", engine(), std::vector<Id<ConstrainedVariable> >(1, e)),
                     "variables.size() == 2");
  EXPECT_CHECK_FAILS(NegateConstraint("neg", "Default", engine(), makeScope(e, x)),
                     "!variables[0]->baseDomain().isEnumerated()");
  EXPECT_CHECK_FAILS(NegateConstraint("neg", "Default", engine(), makeScope(x, e)),
                     "!variables[1]->baseDomain().isEnumerated()");
  EXPECT_CHECK_FAILS(AbsoluteValue("absVal", "Default", engine(), std::vector<Id<ConstrainedVariable> >(1, x)),
                     "variables.size() == ARG_COUNT");
  EXPECT_EQ(m_engine->getConstraints().size(), 0u);
}

TEST_F(SignConstraintsTest, AbsoluteValueOverIntervals) {
  const double inf = PLUS_INFINITY;
  const BinaryCase cases[] = {
      {"negative y", false, false, {-inf, inf}, {-7, -2}, {2, 7}, {-7, -2}},
      {"y across zero", false, false, {-inf, inf}, {-3, 5}, {0, 5}, {-3, 5}},
      {"x may be zero", false, false, {0, 4}, {-10, 10}, {0, 4}, {-4, 4}},
      {"both signs", false, false, {3, 4}, {-10, 10}, {3, 4}, {-10, 10}},
      {"negative side only", false, false, {3, 4}, {-10, 2}, {3, 4}, {-4, -3}},
      {"positive side only", true, false, {3, 4}, {-2, 10}, {3, 4}, {3, 4}},
      {"unbounded y", false, false, {-inf, inf}, {-inf, inf}, {0, inf}, {-inf, inf}},
      {"integer x from real y", true, false, {-10, 10}, {-2.5, -0.5}, {1, 2}, {-2, -1}},
      // A real x whose ends no integer y holds: y's integers within its range still count.
      {"integer y, both signs", false, true, {0.5, 2.25}, {-1, 2}, {0.5, 2}, {-1, 2}},
      {"integer y, negative side only", false, true, {0.5, 1.75}, {-1, 0}, {0.5, 1}, {-1, -1}},
  };
  for (const BinaryCase& c : cases)
    runBinary<AbsoluteValue>(c);
}

TEST_F(SignConstraintsTest, AbsoluteValueDecidesABooleanOnlyToAValueItCanTake) {
  // x = |y| over a boolean x keeps 0 and 1 only where |y| may take them.
  const struct {
    Bounds y, xAfter;
  } cases[] = {{{-5, -5}, EMPTIED}, {{2, 3}, EMPTIED}, {{-1, 3}, {0, 1}}, {{-1, -1}, {1, 1}}, {{0, 0}, {0, 0}}};
  for (const auto& c : cases) {
    Id<ConstrainedVariable> x = boolVar("x"), y = var("y", true, c.y);
    AbsoluteValue abs("absVal", "Default", engine(), makeScope(x, y));
    abs.handleExecute();
    EXPECT_EQ(after(x), c.xAfter) << "y in [" << c.y[0] << ", " << c.y[1] << "]";
  }
}

TEST_F(SignConstraintsTest, AbsoluteValueOverEnumerations) {
  // A member of y whose absolute value x allows stays, on whichever side of zero it is.
  EXPECT_EQ(absOverEnumeration(floatVar("x", 5, 8), {-6, 5, 7}), Values({-6, 5, 7}));
  EXPECT_EQ(absOverEnumeration(floatVar("x", 2, 3), {-3, 1, 4}), Values({-3}));
  EXPECT_EQ(absOverEnumeration(floatVar("x", 1, 3), {-5, 1, 2}), Values({1, 2}));
  EXPECT_EQ(absOverEnumeration(floatVar("x", 0, 4), {-5, -4, 0, 4, 9}), Values({-4, 0, 4}));
  // An enumerated x narrows to its members within the range of |y|.
  Id<ConstrainedVariable> x = enumVar("x", {1, 3, 9}), y = enumVar("y", {-3, 2});
  AbsoluteValue xy("absVal", "Default", engine(), makeScope(x, y));
  xy.handleExecute();
  EXPECT_EQ(values(x), Values({1, 3}));
  EXPECT_EQ(values(y), Values({-3, 2}));
  Id<ConstrainedVariable> small = enumVar("small", {1, 2}), wide = floatVar("wide", 5, 6);
  AbsoluteValue abs("absVal", "Default", engine(), makeScope(small, wide));
  abs.handleExecute();
  EXPECT_TRUE(dom(small).isEmpty());
  EXPECT_EQ(bounds(wide), Bounds({5, 6}));
}

// x narrower than the tolerance, below 0 but within the tolerance of it: x = |y| meets it at 0,
// leaving no bound past the other and handing y no reversed range.
TEST_F(SignConstraintsTest, AbsoluteValueMeetsANarrowIntervalJustBelowZeroAtZero) {
  for (bool yEnumerated : {true, false}) {
    const Id<ConstrainedVariable> x = floatVar("x", -0.000015, -0.000006);
    const Id<ConstrainedVariable> y = yEnumerated ? enumVar("y", {0}) : intVar("y", -2, 0);
    AbsoluteValue abs("absVal", "Default", engine(), makeScope(x, y));
    abs.handleExecute();
    EXPECT_EQ(bounds(x), Bounds({0, 0})) << yEnumerated;
    EXPECT_EQ(bounds(y), Bounds({0, 0})) << yEnumerated;
  }
}

} // namespace
} // namespace KALDEN
