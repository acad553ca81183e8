#include "ConstraintEngine/component/Constraints.hh"
#include "Utils/Error.hh"

#include "support/ConstraintCatalogue.hh"
#include "support/EngineFixture.hh"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace KALDEN {
namespace {

class OpenEnumerationRulesTest : public NetworkFixture {
protected:
  OpenEnumerationRulesTest() {
    m_schema->registerDataType((new IntDT())->getId());
    m_schema->registerDataType((new FloatDT())->getId());
    m_schema->registerDataType((new BoolDT())->getId());
    registerCatalogue(*m_schema);
  }

  Id<ConstrainedVariable> boolVar(const char* name) {
    return (new Variable<BoolDomain>(engine(), BoolDomain(BoolDT::instance()), false, true, name, Id<Entity>::noId(),
                                     ConstrainedVariable::NO_INDEX))
        ->getId();
  }
  static std::string shown(const Id<ConstrainedVariable>& var) { return var->lastDomain().toString(); }

  // Every variable the test made goes, and with them their constraints.
  void dropAll(std::vector<Id<ConstrainedVariable> >& scope) {
    for (const Id<ConstrainedVariable>& var : scope)
      if (var.isValid())
        delete static_cast<ConstrainedVariable*>(var);
    scope.clear();
    Entity::garbageCollect();
  }
};

// Every name that takes an enumeration at a position takes an open one holding values there: it
// waits or narrows soundly, never fails a check, and acts as ever once the domain is closed.
// The other positions hold integer intervals (booleans where a truth value must stand).
TEST_F(OpenEnumerationRulesTest, EveryNameTakesAnOpenEnumerationAtEveryPosition) {
  for (const ConstraintEntry& entry : constraintCatalogue()) {
    if (entry.names.empty())
      continue;
    const char* name = entry.names.front();
    for (unsigned int open = 0; open < entry.minArity; ++open) {
      if (entry.position && (entry.position(open).kinds & KIND_OPEN) == 0)
        continue;
      SCOPED_TRACE(std::string(name) + ", open at " + std::to_string(open));
      std::vector<Id<ConstrainedVariable> > scope;
      for (unsigned int i = 0; i < entry.minArity; ++i) {
        const unsigned int kinds = entry.position ? entry.position(i).kinds : KIND_ANY;
        if (i == open)
          scope.push_back(openEnum("o", {1, 5, 9}));
        else if (entry.position && entry.position(i).fixed)
          scope.push_back(enumVar("f", {5}));
        else
          scope.push_back((kinds & KIND_INTERVAL) != 0 ? intVar("i", 0, 10) : boolVar("b"));
      }
      try {
        m_engine->createConstraint(name, scope);
        EXPECT_TRUE(m_engine->propagate());
        scope[open]->close();
        m_engine->propagate();
      } catch (const Error& e) {
        ADD_FAILURE() << "failed check: " << e.what();
      }
      dropAll(scope);
    }
  }
}

// Equality of an interval and an open enumeration waits for the enumeration to close, then equates.
TEST_F(OpenEnumerationRulesTest, EqualityWithAnIntervalWaitsForTheClosing) {
  const Id<ConstrainedVariable> x = openEnum("x", {1, 5, 9}), y = intVar("y", 0, 10), z = intVar("z", 4, 20);
  m_engine->createConstraint("eq", makeScope(y, x, z));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(shown(x), "int:OPEN{1, 5, 9}");
  EXPECT_EQ(shown(y), "int:CLOSED[0, 10]");
  x->close();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(shown(x), "int:CLOSED{5, 9}");
  EXPECT_EQ(shown(y), "int:CLOSED[5, 9]");
  EXPECT_EQ(shown(z), "int:CLOSED[5, 9]");
}

// The rules that narrow an open domain by bounds wait; the domain's values stay as they are
// until it is closed, when the rule acts on them. Nor are an open bound's values so far read: y
// keeps its bounds until the bound is closed.
TEST_F(OpenEnumerationRulesTest, BoundsRulesWaitOnAnOpenDomain) {
  const Id<ConstrainedVariable> x = openEnum("x", {1, 5, 9}), lb = intVar("lb", 2, 3), ub = intVar("ub", 6, 7);
  m_engine->createConstraint("withinBounds", makeScope(x, lb, ub));
  const Id<ConstrainedVariable> y = intVar("y", 0, 10), openLb = openEnum("openLb", {3});
  m_engine->createConstraint("withinBounds", makeScope(y, openLb, ub));
  const Id<ConstrainedVariable> s = openEnum("s", {0, 1, 30}), t = intVar("t", -10, 100);
  m_engine->createConstraint("sin", makeScope(s, t));
  const Id<ConstrainedVariable> a = openEnum("a", {-3, 2, 4}), b = intVar("b", -2, 2);
  m_engine->createConstraint("absVal", makeScope(a, b));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(shown(x), "int:OPEN{1, 5, 9}");
  EXPECT_EQ(shown(s), "int:OPEN{0, 1, 30}");
  EXPECT_EQ(shown(t), "int:CLOSED[-10, 100]");
  EXPECT_EQ(shown(b), "int:CLOSED[-2, 2]");
  EXPECT_EQ(shown(y), "int:CLOSED[0, 10]");
  openLb->insert(1);
  x->close();
  openLb->close();
  s->close();
  a->close();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(shown(x), "int:CLOSED{5}");
  EXPECT_EQ(shown(s), "int:CLOSED{0, 1}"); // sin(t), t clamped to [-10, 90]
  EXPECT_EQ(shown(t), "int:CLOSED[-10, 90]");
  EXPECT_EQ(shown(a), "int:CLOSED{2}");
  EXPECT_EQ(shown(y), "int:CLOSED[1, 7]");
}

// An open enumeration holding one value is not decided: it may still gain any value, so the
// other side of an inequality keeps that value, in a live engine as in a fresh one; nor is the
// open one narrowed by the decided side until it is closed.
TEST_F(OpenEnumerationRulesTest, NotEqualWaitsOnAnOpenEnumerationHoldingOneValue) {
  const Id<ConstrainedVariable> y = intVar("y", 1, 5), x = openEnum("x", {2});
  m_engine->createConstraint("neq", makeScope(x, y));
  new UnaryConstraint(IntervalIntDomain(2, 2, IntDT::instance()), y);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(shown(y), "int:CLOSED[2, 2]");
  EXPECT_EQ(shown(x), "int:OPEN{2}");
  x->insert(4);
  x->close();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(shown(x), "int:CLOSED{4}");
}

// Counting waits while an xi or the count may still gain values: the count is not narrowed to
// the zeros the held values allow, nor an xi to 0.
TEST_F(OpenEnumerationRulesTest, CountingWaitsWhileADomainIsOpen) {
  const Id<ConstrainedVariable> count = openEnum("count", {2, 3}), x = intVar("x", 0, 1), y = openEnum("y", {1});
  m_engine->createConstraint("CountZeros", makeScope(count, x, y));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(shown(x), "int:CLOSED[0, 1]");
  y->insert(0);
  y->close();
  count->close();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(shown(count), "int:CLOSED{2}");
  EXPECT_EQ(shown(x), "int:CLOSED[0, 0]");
  EXPECT_EQ(shown(y), "int:CLOSED{0}");
}

// A root, a quotient or a clamp at the edge of its domain takes a value within the tolerance of
// the edge as on it: 0.3 + -(0.1 + 0.2) is zero to the user, and so is its root.
TEST_F(OpenEnumerationRulesTest, ASumZeroWithinTheToleranceHasTheRootZero) {
  for (double below : {0.0, 3e-6, 9.9e-6}) {
    SCOPED_TRACE(below);
    const double b = -(0.1 + 0.2) - below;
    std::vector<Id<ConstrainedVariable> > scope = {floatVar("a", 0.3, 0.3), floatVar("b", b, b),
                                                   floatVar("r", 0, 2)};
    m_engine->createConstraint("distanceSquares", scope);
    EXPECT_TRUE(m_engine->propagate());
    EXPECT_TRUE(scope[2]->lastDomain().isMember(0.0));
    dropAll(scope);
  }
  // At the tolerance below zero the sum differs from it: no real root.
  std::vector<Id<ConstrainedVariable> > scope = {floatVar("a", 0.3, 0.3), floatVar("b", -0.30002, -0.30002),
                                                 floatVar("r", 0, 2)};
  m_engine->createConstraint("distanceSquares", scope);
  EXPECT_FALSE(m_engine->propagate());
  dropAll(scope);
}

// A divisor within the tolerance of zero may be zero: nothing is divided by it.
TEST_F(OpenEnumerationRulesTest, ADivisorWithinTheToleranceOfZeroMayBeZero) {
  const Id<ConstrainedVariable> x = floatVar("x", 0, 10), y = floatVar("y", 1e-7, 1), z = floatVar("z", 0, 0);
  m_engine->createConstraint("mulEq", makeScope(x, y, z));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(x->lastDomain().getLowerBound(), 0.0); // 0 * x = 0 for any x
  EXPECT_EQ(x->lastDomain().getUpperBound(), 10.0);
  // A divisor clear of zero divides as before.
  const Id<ConstrainedVariable> u = floatVar("u", 0, 10), v = floatVar("v", 2e-5, 1), w = floatVar("w", 1, 1);
  m_engine->createConstraint("mulEq", makeScope(u, v, w));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(u->lastDomain().getLowerBound(), 1.0);
}

} // namespace
} // namespace KALDEN
