#include "ConstraintEngine/component/Constraints.hh"
#include "support/BoundsFixture.hh"
#include "support/Failure.hh"

#include <gtest/gtest.h>

#include <algorithm>

#include <memory>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

typedef std::vector<double> Values;
const Values EMPTIED;
const Values UNDECIDED = {0, 1};

class AllDiffConstraintsTest : public BoundsFixture {
protected:
  // The constraint over b and the xs, run once by hand; it stays, as removing it would undo its work.
  void runCond(const Id<ConstrainedVariable>& b, const std::vector<Id<ConstrainedVariable> >& xs) {
    std::vector<Id<ConstrainedVariable> > scope(1, b);
    scope.insert(scope.end(), xs.begin(), xs.end());
    (new CondAllDiffConstraint("CondAllDiff", "Default", engine(), scope))->handleExecute();
  }
  // What is left of a finite domain, {} when emptied.
  static Values left(const Id<ConstrainedVariable>& v) { return dom(v).isEmpty() ? EMPTIED : values(v); }

  Id<ConstrainedVariable> constraintVariableNamed(const char* name) {
    for (const Id<ConstrainedVariable>& v : m_engine->getVariables())
      if (v->getName() == LabelStr(name))
        return v;
    return Id<ConstrainedVariable>();
  }
  Id<Constraint> constraintNamed(const char* name) {
    for (const Id<Constraint>& c : m_engine->getConstraints())
      if (c->getName() == LabelStr(name))
        return c;
    return Id<Constraint>();
  }
};

// Widening keeps every value of both domains; an enumeration and an interval of several
// values give their hull, integral only when both hold integers only.
TEST_F(AllDiffConstraintsTest, UnionHoldsEveryValueOfBothDomains) {
  struct Case {
    const char* what;
    AbstractDomain* u;
    AbstractDomain* d;
    bool replaced;
    bool integerInterval; // else a real interval, unless an enumeration is expected
    Values expected;      // members of an enumeration, or the interval's bounds
  };
  const Id<DataType> i = IntDT::instance(), f = FloatDT::instance();
  Case cases[] = {
      {"two enumerations", new NumericDomain({1, 3}, i), new NumericDomain({3, 4}, i), true, false, {1, 3, 4}},
      {"interval and value", new IntervalIntDomain(1, 3, i), new NumericDomain({7}, i), true, true, {1, 7}},
      {"value within", new IntervalIntDomain(1, 9, i), new NumericDomain({4}, i), false, true, {1, 9}},
      {"reals", new IntervalDomain(0, 1, f), new IntervalDomain(0.5, 2, f), true, false, {0, 2}},
      {"inner values of an interval", new NumericDomain({1, 5}, i), new IntervalIntDomain(2, 4, i), true, true, {1, 5}},
      {"integers and reals", new IntervalIntDomain(1, 2, i), new IntervalDomain(2.5, 3.5, f), true, false, {1, 3.5}},
      {"a real value within integers",
       new IntervalIntDomain(1, 3, i),
       new NumericDomain({2.5}, f),
       true,
       false,
       {1, 3}},
  };
  for (Case& c : cases) {
    const AbstractDomain* before = c.u;
    addToUnion(&c.u, *c.d);
    EXPECT_EQ(c.u != before, c.replaced) << c.what;
    if (c.u->isEnumerated()) {
      std::list<double> members;
      c.u->getValues(members);
      EXPECT_EQ(Values(members.begin(), members.end()), c.expected) << c.what;
    } else {
      EXPECT_EQ(dynamic_cast<IntervalIntDomain*>(c.u) != nullptr, c.integerInterval) << c.what;
      EXPECT_EQ(Values({c.u->getLowerBound(), c.u->getUpperBound()}), c.expected) << c.what;
    }
    delete c.u;
    delete c.d;
  }
  AbstractDomain* open = new NumericDomain(i);
  const NumericDomain one({1}, i);
  EXPECT_CHECK_FAILS(addToUnion(&open, one), "!(*unionOfDomains)->isEmpty() && !(*unionOfDomains)->isOpen()");
  delete open;
}

TEST_F(AllDiffConstraintsTest, WalkDecidesTheCondition) {
  // b undecided unless stated; enumerations unless stated.
  struct Case {
    const char* what;
    std::function<std::vector<Id<ConstrainedVariable> >()> xs;
    Values bAfter;
  };
  const Case cases[] = {
      {"disjoint values",
       [&] {
         return std::vector<Id<ConstrainedVariable> >{enumVar("x", {1}), enumVar("x", {2}), enumVar("x", {3})};
       },
       {1}},
      {"three over two values",
       [&] {
         return std::vector<Id<ConstrainedVariable> >{enumVar("x", {1, 2}), enumVar("x", {1, 2}), enumVar("x", {1, 2})};
       },
       {0}},
      {"three integer intervals over two values",
       [&] {
         return std::vector<Id<ConstrainedVariable> >{intVar("x", 1, 2), intVar("x", 1, 2), intVar("x", 1, 2)};
       },
       {0}},
      {"overlap with room",
       [&] {
         return std::vector<Id<ConstrainedVariable> >{enumVar("x", {1}), enumVar("x", {1, 2})};
       },
       UNDECIDED},
      // 1, 3, 5 are all different: the interval's inner values count.
      {"interval inside an enumeration",
       [&] {
         return std::vector<Id<ConstrainedVariable> >{enumVar("x", {1, 5}), intVar("x", 2, 4), enumVar("x", {1, 5})};
       },
       UNDECIDED},
      // x1 may take 3: an open domain adds no value to the count.
      {"open first",
       [&] {
         return std::vector<Id<ConstrainedVariable> >{openVar("x"), enumVar("x", {1}), enumVar("x", {2})};
       },
       UNDECIDED},
      {"open first, then too few values",
       [&] {
         return std::vector<Id<ConstrainedVariable> >{openVar("x"), enumVar("x", {1}), enumVar("x", {1})};
       },
       {0}},
      // 1, 2.7, 3, 2 are all different: a real interval keeps the union real.
      {"integers beside reals",
       [&] {
         return std::vector<Id<ConstrainedVariable> >{intVar("x", 1, 2), floatVar("x", 2.5, 3.5), enumVar("x", {3}),
                                                      intVar("x", 1, 2)};
       },
       UNDECIDED},
      {"disjoint but open",
       [&] {
         return std::vector<Id<ConstrainedVariable> >{enumVar("x", {1}), openVar("x")};
       },
       UNDECIDED},
  };
  for (const Case& c : cases) {
    const Id<ConstrainedVariable> b = boolVar("b");
    runCond(b, c.xs());
    EXPECT_EQ(left(b), c.bAfter) << c.what;
  }
  // Two singletons equal by the tolerance make b false in every order of the scope, though a
  // hull over reals met between them counts no values: a real interval narrower than the
  // tolerance equals a value within the tolerance of both its ends, and 0.3 equals 0.3. One at
  // least the tolerance beyond both its ends differs from it, and b is true in every order, though
  // a hull met first holds values between them.
  const std::pair<std::vector<std::vector<double> >, Values> judged[] = {
      {{{0.299998, 0.30000001}, {0.3, 0.3}, {2, 2}}, {0}},
      {{{0.3, 0.3}, {0.3, 0.3}, {1, 2}}, {0}},
      {{{0.299998, 0.30000001}, {0.300011, 0.300011}, {2, 2}}, {1}},
  };
  for (const auto& xsAndB : judged) {
    const std::vector<std::vector<double> >& xs = xsAndB.first;
    std::vector<int> order = {0, 1, 2};
    do {
      const Id<ConstrainedVariable> b = boolVar("b");
      std::vector<Id<ConstrainedVariable> > scope;
      for (int i : order)
        scope.push_back(floatVar("x", xs[static_cast<std::size_t>(i)][0], xs[static_cast<std::size_t>(i)][1]));
      runCond(b, scope);
      EXPECT_EQ(left(b), xsAndB.second) << "order " << order[0] << order[1] << order[2] << " of " << xs[1][0];
    } while (std::next_permutation(order.begin(), order.end()));
  }
}

TEST_F(AllDiffConstraintsTest, DecidedConditionIsCheckedAndEnforced) {
  // A true b with a union too small, or a false b with every domain closed and disjoint, is a contradiction.
  for (bool truth : {true, false}) {
    const Id<ConstrainedVariable> b = boolVar("b", truth);
    runCond(b, truth ? std::vector<Id<ConstrainedVariable> >{enumVar("x", {4}), enumVar("x", {4})}
                     : std::vector<Id<ConstrainedVariable> >{enumVar("x", {1}), intVar("x", 2, 3)});
    EXPECT_TRUE(dom(b).isEmpty()) << truth;
  }
  const Id<ConstrainedVariable> unknown = boolVar("b", false);
  runCond(unknown, {enumVar("x", {1}), openVar("x")});
  EXPECT_EQ(left(unknown), Values{0});

  // A true b removes decided values wherever they can go, until nothing moves.
  const Id<ConstrainedVariable> x1 = enumVar("x1", {1}), x2 = enumVar("x2", {1, 2}), x3 = enumVar("x3", {1, 2, 3});
  runCond(boolVar("b", true), {x1, x2, x3});
  EXPECT_EQ(values(x2), Values{2});
  EXPECT_EQ(values(x3), Values{3});
  const Id<ConstrainedVariable> y1 = enumVar("y1", {4}), y2 = enumVar("y2", {4, 7}), y3 = enumVar("y3", {7, 9});
  runCond(boolVar("b", true), {y3, y2, y1}); // the later decision must reach the earlier position
  EXPECT_EQ(values(y2), Values{7});
  EXPECT_EQ(values(y3), Values{9});
  // An interval loses a decided value at an end only; a real interval never.
  const Id<ConstrainedVariable> atEnd = intVar("atEnd", 5, 9), inside = intVar("inside", 3, 9),
                                real = floatVar("real", 5, 9);
  runCond(boolVar("b", true), {enumVar("v", {5}), atEnd, inside, real});
  EXPECT_EQ(bounds(atEnd), Values({6, 9}));
  EXPECT_EQ(bounds(inside), Values({3, 9}));
  EXPECT_EQ(bounds(real), Values({5, 9}));
}

TEST_F(AllDiffConstraintsTest, AllDiffPropagatesThroughItsMember) {
  const Id<ConstrainedVariable> x1 = enumVar("x1", {1}), x2 = enumVar("x2", {1, 2}), x3 = intVar("x3", 1, 3);
  const std::size_t constraints = m_engine->getConstraints().size(), variables = m_engine->getVariables().size();
  AllDiffConstraint* allDiff = new AllDiffConstraint("AllDiff", "Running", engine(), makeScope(x1, x2, x3));
  EXPECT_EQ(m_engine->getConstraints().size(), constraints + 2);
  EXPECT_EQ(m_engine->getVariables().size(), variables + 1);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(values(x2), Values{2});
  EXPECT_EQ(bounds(x3), Values({3, 3}));
  // Discarding retires the boolean and the member; deleting afterwards does nothing again.
  allDiff->discard(false);
  EXPECT_EQ(m_engine->getConstraints().size(), constraints);
  EXPECT_EQ(m_engine->getVariables().size(), variables);
  delete allDiff;
  EXPECT_EQ(x1->constraintCount(), 0u);
}

TEST_F(AllDiffConstraintsTest, AllDiffLeavesNothingBehind) {
  const Id<ConstrainedVariable> x1 = intVar("x1", 1, 3), x2 = intVar("x2", 1, 3);
  // Refused: one variable only.
  EXPECT_CHECK_FAILS(AllDiffConstraint("AllDiff", "Running", engine(), std::vector<Id<ConstrainedVariable> >{x1}),
                     "ARG_COUNT > 2");
  EXPECT_TRUE(m_engine->getConstraints().empty());
  EXPECT_EQ(m_engine->getVariables().size(), 2u);
  // Deleted through the engine.
  m_engine->deleteConstraint((new AllDiffConstraint("AllDiff", "Running", engine(), makeScope(x1, x2)))->getId());
  EXPECT_TRUE(m_engine->getConstraints().empty());
  EXPECT_EQ(m_engine->getVariables().size(), 2u);
  // The member cannot go first, by another road: it goes with the composite.
  const Id<Constraint> allDiff = (new AllDiffConstraint("AllDiff", "Running", engine(), makeScope(x1, x2)))->getId();
  EXPECT_CHECK_FAILS(m_engine->deleteConstraint(constraintNamed("CondAllDiff")), "standingOwner().isNoId()");
  m_engine->deleteConstraint(allDiff);
  EXPECT_TRUE(m_engine->getConstraints().empty());
  EXPECT_FALSE(constraintVariableNamed("Internal:AllDiff:cond").isValid());
  // A scope variable discarded takes the composite and its member along.
  new AllDiffConstraint("AllDiff", "Running", engine(), makeScope(x1, x2));
  delete static_cast<ConstrainedVariable*>(x2);
  EXPECT_TRUE(m_engine->getConstraints().empty());
}

} // namespace
} // namespace KALDEN
