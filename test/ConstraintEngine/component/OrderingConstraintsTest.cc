#include "ConstraintEngine/component/OrderingConstraints.hh"

#include "support/BoundsFixture.hh"
#include "support/CapturedTraces.hh"
#include "support/Failure.hh"

#include <gtest/gtest.h>

#include <cmath>

namespace KALDEN {
namespace {

class OrderingConstraintsTest : public BoundsFixture {
protected:
  // The shared symbol type lives for the whole process: make it before the fixture counts handles.
  static void SetUpTestSuite() { SymbolDT::instance(); }
};

// x <= y and x < y over mixed integer and real intervals: {x, y, expected x, expected y}.
struct OrderingCase {
  bool xInt, yInt;
  BoundsFixture::Bounds x, y, xAfter, yAfter;
};

TEST_F(OrderingConstraintsTest, LessThanEqualNarrowsMixedBounds) {
  const double inf = PLUS_INFINITY;
  const OrderingCase cases[] = {
      {false, false, {0, 10}, {0, 5}, {0, 5}, {0, 5}},        {false, false, {3, 10}, {0, 5}, {3, 5}, {3, 5}},
      {true, false, {0, 10}, {0, 5.5}, {0, 5}, {0, 5.5}},     {false, true, {2.5, 10}, {0, 5}, {2.5, 5}, {3, 5}},
      {false, false, {-inf, inf}, {1, 2}, {-inf, 2}, {1, 2}}, {false, false, {1, 2}, {-inf, inf}, {1, 2}, {1, inf}},
  };
  for (const OrderingCase& c : cases) {
    Id<ConstrainedVariable> x = var("x", c.xInt, c.x), y = var("y", c.yInt, c.y);
    LessThanEqualConstraint leq("leq", "Default", engine(), makeScope(x, y));
    leq.handleExecute();
    EXPECT_EQ(after(x), c.xAfter) << c.x[0] << ".." << c.x[1];
    EXPECT_EQ(after(y), c.yAfter) << c.y[0] << ".." << c.y[1];
  }
}

TEST_F(OrderingConstraintsTest, LessThanEqualStopsWhenXEmpties) {
  Id<ConstrainedVariable> x = floatVar("x", 6, 10), y = floatVar("y", 0, 5);
  CapturedTraces traces("LessThanEqualConstraint:handleExecute");
  LessThanEqualConstraint leq("leq", "Default", engine(), makeScope(x, y));
  leq.handleExecute();
  EXPECT_TRUE(dom(x).isEmpty());
  EXPECT_EQ(bounds(y), Bounds({0, 5}));
  EXPECT_EQ(traces.text().rfind("[LessThanEqualConstraint:handleExecute]Intersecting ", 0), 0u);
  EXPECT_NE(traces.text().find(" with [6 5]"), std::string::npos);
  EXPECT_CHECK_FAILS(leq.handleExecute(), "!m_x.isEmpty() && !m_y.isEmpty()");
}

TEST_F(OrderingConstraintsTest, OrderingsIgnoreOnlyMovesThatCannotMatter) {
  Id<ConstrainedVariable> x = floatVar("x", 0, 10), y = floatVar("y", 0, 10);
  LessThanEqualConstraint leq("leq", "Default", engine(), makeScope(x, y));
  LessThanConstraint lt("lt", "Default", engine(), makeScope(x, y));
  for (int arg = 0; arg < 2; ++arg)
    for (int kind = DomainListener::UPPER_BOUND_DECREASED; kind <= DomainListener::EMPTIED; ++kind) {
      const DomainListener::ChangeType change = static_cast<DomainListener::ChangeType>(kind);
      const bool expected = (arg == 0 && change == DomainListener::UPPER_BOUND_DECREASED) ||
                            (arg == 1 && change == DomainListener::LOWER_BOUND_INCREASED);
      EXPECT_EQ(leq.canIgnore(arg == 0 ? x : y, arg, change), expected) << arg << " " << kind;
      EXPECT_EQ(lt.canIgnore(arg == 0 ? x : y, arg, change), expected) << arg << " " << kind;
    }
}

TEST_F(OrderingConstraintsTest, LessThanEqualBecomesRedundantWhenBaseDomainsOrderTheVariables) {
  Id<ConstrainedVariable> x = floatVar("x", 0, 10), y = floatVar("y", 5, 20);
  LessThanEqualConstraint* leq = new LessThanEqualConstraint("leq", "Running", engine(), makeScope(x, y));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_FALSE(leq->isRedundant());
  EXPECT_EQ(bounds(x), Bounds({0, 10}));
  x->restrictBaseDomain(IntervalDomain(0, 5, FloatDT::instance()));
  EXPECT_TRUE(leq->isRedundant());
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_FALSE(leq->isActive());
  // A base domain that may still gain values never makes the ordering redundant for good.
  NumericDomain growing(FloatDT::instance());
  growing.insert(1);
  Id<ConstrainedVariable> open = (new Variable<EnumeratedDomain>(engine(), growing, false, true, "open",
                                                                 Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
                                     ->getId();
  LessThanEqualConstraint openY("leq", "Default", engine(), makeScope(open, y));
  EXPECT_FALSE(openY.testIsRedundant(Id<ConstrainedVariable>::noId()));
}

TEST_F(OrderingConstraintsTest, ConstructionChecksArityFirstAndLeavesNothingBehind) {
  Id<ConstrainedVariable> x = floatVar("x", 0, 1);
  Id<ConstrainedVariable> s = (new Variable<EnumeratedDomain>(engine(), SymbolDomain(SymbolDT::instance()), false, true,
                                                              "s", Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
                                  ->getId();
  const std::size_t before = m_engine->getConstraints().size();
  const std::vector<Id<ConstrainedVariable> > one(1, x);
  EXPECT_CHECK_FAILS(LessThanEqualConstraint("leq", "Default", engine(), one),
                     "variables.size() == (unsigned int) ARG_COUNT");
  EXPECT_CHECK_FAILS(LessThanConstraint("lt", "Default", engine(), one),
                     "variables.size() == (unsigned int) ARG_COUNT");
  EXPECT_CHECK_FAILS(WithinBounds("wb", "Default", engine(), makeScope(x, x)), "variables.size() == ARG_COUNT");
  EXPECT_CHECK_FAILS(LessThanEqualConstraint("leq", "Default", engine(), makeScope(x, s)), "m_y.isNumeric()");
  EXPECT_CHECK_FAILS(WithinBounds("wb", "Default", engine(), makeScope(x, s, x)), "m_x.isNumeric()");
  EXPECT_EQ(m_engine->getConstraints().size(), before);
  EXPECT_EQ(x->getConstraints().size(), 0);
}

// x < y: {x int?, y int?, x, y, expected x, expected y}.
TEST_F(OrderingConstraintsTest, LessThanStepsEachSideByItsOwnTolerance) {
  const double inf = PLUS_INFINITY, eps = g_epsilon();
  // 5 - eps rounds to a double less than eps below 5, which the tolerance would find equal to 5:
  // a real x stops one bit lower.
  const double below5 = std::nextafter(5 - eps, 0.0);
  const OrderingCase cases[] = {
      {true, true, {0, 10}, {0, 5}, {0, 4}, {1, 5}},
      {false, false, {0, 10}, {0, 5}, {0, below5}, {eps, 5}},
      // An integer x stops at the last integer below y's upper bound, whatever y's kind.
      {true, false, {0, 10}, {0, 5.5}, {0, 5}, {eps, 5.5}},
      {false, true, {0, 10}, {0, 5}, {0, below5}, {1, 5}},
      // Infinite bounds are never stepped.
      {false, false, {0, inf}, {0, inf}, {0, inf}, {eps, inf}},
      {false, false, {-inf, 3}, {-inf, 3}, {-inf, 3 - eps}, {-inf, 3}},
      // A bound left closer than the tolerance to the other side's (by an earlier run against a
      // wider y) steps past it as from afar: x comes to 2 - eps as a fresh engine's would.
      {false, false, {0.3, 1.999991}, {1.5, 2}, {0.3, 2 - eps}, {1.5, 2}},
      {false, false, {0.3, 1}, {0.300009, 2}, {0.3, 1}, {0.3 + eps, 2}},
  };
  for (const OrderingCase& c : cases) {
    Id<ConstrainedVariable> x = var("x", c.xInt, c.x), y = var("y", c.yInt, c.y);
    LessThanConstraint lt("lt", "Default", engine(), makeScope(x, y));
    lt.handleExecute();
    EXPECT_EQ(after(x), c.xAfter) << c.x[0] << ".." << c.x[1];
    EXPECT_EQ(after(y), c.yAfter) << c.y[0] << ".." << c.y[1];
  }
}

// Across kinds an integer bound is the next integer strictly beyond the other side's bound,
// and a real one that bound plus the tolerance.
TEST_F(OrderingConstraintsTest, LessThanAcrossKindsStepsToTheNextValueBeyondTheOtherBound) {
  const double eps = g_epsilon();
  const OrderingCase cases[] = {
      {false, true, {0.5, 0.5}, {0, 10}, {0.5, 0.5}, {1, 10}},
      {false, true, {1, 1}, {0, 10}, {1, 1}, {2, 10}},
      {false, true, {-0.5, -0.5}, {-3, 0}, {-0.5, -0.5}, {0, 0}},
      {false, true, {-1.5, 3}, {-3, 4}, {-1.5, 3}, {-1, 4}},
      {true, false, {0, 10}, {5.5, 5.5}, {0, 5}, {5.5, 5.5}},
      {true, false, {0, 5}, {5.5, 5.5}, {0, 5}, {5.5, 5.5}}, // the same x, already within: unchanged
      {true, false, {0, 10}, {5, 5}, {0, 4}, {5, 5}},
      {true, false, {-3, 2}, {-2.5, 1.5}, {-3, 1}, {-2.5, 1.5}},
      {true, false, {2, 4}, {0, 2.75}, {2, 2}, {2 + eps, 2.75}},
      {true, false, {0, 4}, {-1, 0.25}, {0, 0}, {eps, 0.25}},
  };
  for (const OrderingCase& c : cases) {
    Id<ConstrainedVariable> x = var("x", c.xInt, c.x), y = var("y", c.yInt, c.y);
    LessThanConstraint lt("lt", "Default", engine(), makeScope(x, y));
    lt.handleExecute();
    EXPECT_EQ(after(x), c.xAfter) << c.x[0] << ".." << c.x[1] << " < " << c.y[0] << ".." << c.y[1];
    EXPECT_EQ(after(y), c.yAfter) << c.x[0] << ".." << c.x[1] << " < " << c.y[0] << ".." << c.y[1];
  }
  // Through the engine: -0.5 < y has the solution y = 0.
  Id<ConstrainedVariable> x = floatVar("x", -0.5, -0.5), y = intVar("y", -3, 0);
  new LessThanConstraint("lt", "Running", engine(), makeScope(x, y));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(bounds(y), Bounds({0, 0}));
}

TEST_F(OrderingConstraintsTest, LessThanEmptiesXOfEqualSingletons) {
  Id<ConstrainedVariable> x = intVar("x", 5, 5), y = intVar("y", 5, 5);
  LessThanConstraint lt("lt", "Default", engine(), makeScope(x, y));
  lt.handleExecute();
  EXPECT_TRUE(dom(x).isEmpty());
  EXPECT_EQ(bounds(y), Bounds({5, 5}));
  // Enumerations: x < y keeps the members that have a partner.
  Id<ConstrainedVariable> a = enumVar("a", {1, 2, 3}), b = enumVar("b", {1, 2, 3});
  LessThanConstraint ab("lt", "Default", engine(), makeScope(a, b));
  ab.handleExecute();
  EXPECT_EQ(values(a), std::vector<double>({1, 2}));
  EXPECT_EQ(values(b), std::vector<double>({2, 3}));
}

// A bound a hair beside a value (3 computed as 3.0000000000000013): x keeps only what lies the
// tolerance below y, though a step the tolerance below that bound lies within it of 3; and y
// only what lies the tolerance above x (1 computed as 0.9999999999999999).
TEST_F(OrderingConstraintsTest, LessThanKeepsNoValueWithinTheToleranceOfTheOtherBound) {
  const double hairAbove3 = 3.0000000000000013, hairBelow1 = 0.9999999999999999;
  Id<ConstrainedVariable> a = enumVar("a", {1, 2, 3}), y = floatVar("y", hairAbove3, hairAbove3);
  LessThanConstraint ay("lt", "Default", engine(), makeScope(a, y));
  ay.handleExecute();
  EXPECT_EQ(values(a), std::vector<double>({1, 2}));
  Id<ConstrainedVariable> i = intVar("i", 0, 3), z = floatVar("z", hairAbove3, hairAbove3);
  LessThanConstraint iz("lt", "Default", engine(), makeScope(i, z));
  iz.handleExecute();
  EXPECT_EQ(after(i), Bounds({0, 2}));
  Id<ConstrainedVariable> x = floatVar("x", hairBelow1, hairBelow1), b = enumVar("b", {1, 2, 3});
  LessThanConstraint xb("lt", "Default", engine(), makeScope(x, b));
  xb.handleExecute();
  EXPECT_EQ(values(b), std::vector<double>({2, 3}));
  Id<ConstrainedVariable> w = floatVar("w", hairBelow1, hairBelow1), j = intVar("j", 1, 3);
  LessThanConstraint wj("lt", "Default", engine(), makeScope(w, j));
  wj.handleExecute();
  EXPECT_EQ(after(j), Bounds({2, 3}));
}

TEST_F(OrderingConstraintsTest, WithinBoundsNarrowsXAndLeavesOrderingToItsMember) {
  Id<ConstrainedVariable> x = floatVar("x", 0, 100), lb = floatVar("lb", 10, 50), ub = floatVar("ub", 30, 40);
  WithinBounds* wb = new WithinBounds("wb", "Running", engine(), makeScope(x, lb, ub));
  EXPECT_EQ(lb->getConstraints().size(), 2); // the constraint and its member
  wb->handleExecute();
  EXPECT_EQ(bounds(x), Bounds({10, 40}));
  EXPECT_EQ(bounds(lb), Bounds({10, 50}));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(bounds(lb), Bounds({10, 40}));
  EXPECT_EQ(bounds(ub), Bounds({30, 40}));
  // Discarding retires the member too, before the object is destroyed.
  wb->discard(false);
  EXPECT_EQ(lb->getConstraints().size(), 0);
  delete wb;
  EXPECT_EQ(lb->getConstraints().size(), 0);
}

} // namespace
} // namespace KALDEN
