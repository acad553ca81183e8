#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "support/CapturedTraces.hh"
#include "support/EngineFixture.hh"
#include "support/Failure.hh"
#include "support/RecordingEngineListener.hh"
#include "support/TestConstraints.hh"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

namespace KALDEN {
namespace {

using Events = std::vector<std::string>;

class ActivationTest : public NetworkFixture {};

TEST_F(ActivationTest, AVariableTakesItsConstraintsAlongOncePerLink) {
  RecordingEngineListener listener(engine());
  Id<ConstrainedVariable> x = intVar("x", 0, 10);
  Id<ConstrainedVariable> y = intVar("y", 0, 10);
  TestConstraint* twice = new TestConstraint("twice", "Default", engine(), makeScope(x, y, x));
  TestConstraint* once = new TestConstraint("once", "Default", engine(), makeScope(x));
  listener.clear();

  x->deactivate();
  EXPECT_EQ(listener.events(),
            (Events{"L deactivatedConstraint twice", "L deactivatedConstraint once", "L deactivatedVariable x"}));
  EXPECT_EQ(twice->deactivationCount(), 2u);
  EXPECT_FALSE(m_propagator->updateRequired());
  x->deactivate();
  EXPECT_EQ(listener.events().size(), 3u); // only the first deactivation is reported
  EXPECT_EQ(twice->deactivationCount(), 4u);

  listener.clear();
  x->undoDeactivation();
  EXPECT_TRUE(listener.events().empty());
  EXPECT_FALSE(x->isActive() || twice->isActive() || once->isActive());
  x->undoDeactivation();
  EXPECT_EQ(listener.events(),
            (Events{"L activatedConstraint twice", "L activatedConstraint once", "L activatedVariable x"}));
  EXPECT_EQ(twice->deactivationCount(), 0u);
  EXPECT_TRUE(m_propagator->updateRequired()); // reactivated constraints are queued again

  // Counts never go below zero: a refused undo changes nothing.
  listener.clear();
  EXPECT_CHECK_FAILS(x->undoDeactivation(), "m_deactivationRefCount > 0");
  EXPECT_TRUE(x->isActive() && twice->isActive());
  EXPECT_TRUE(listener.events().empty());
  Entity::purgeStart();
  EXPECT_CHECK_FAILS(x->deactivate(), "!Entity::isPurging()");
  Entity::purgeEnd();
  EXPECT_TRUE(x->isActive());
}

TEST_F(ActivationTest, AConstraintBuiltOverInactiveVariablesWaitsForAllOfThem) {
  RecordingEngineListener listener(engine());
  Id<ConstrainedVariable> x = intVar("x", 0, 10);
  Id<ConstrainedVariable> y = intVar("y", 0, 3);
  x->deactivate();
  x->deactivate();
  y->deactivate();
  listener.clear();
  Constraint* c = new LessThanEqualTestConstraint("c", "Default", engine(), makeScope(x, y));
  EXPECT_EQ(listener.events(), (Events{"L addedConstraint c", "L deactivatedConstraint c"}));
  EXPECT_FALSE(m_propagator->updateRequired());
  EXPECT_EQ(c->deactivationCount(), 3u); // one unit per outstanding deactivation of each variable

  y->undoDeactivation();
  x->undoDeactivation();
  EXPECT_FALSE(c->isActive());
  x->undoDeactivation();
  EXPECT_TRUE(c->isActive());
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(x->lastDomain().getUpperBound(), 3);
}

TEST_F(ActivationTest, DeactivationKeepsNarrowingAndReactivationRunsTheConstraintAgain) {
  RecordingEngineListener listener(engine());
  Id<ConstrainedVariable> x = intVar("x", 0, 10);
  Id<ConstrainedVariable> y = intVar("y", 0, 3);
  Constraint* c = new LessThanEqualTestConstraint("c", "Default", engine(), makeScope(x, y));
  EXPECT_TRUE(m_engine->propagate());
  CapturedTraces traces("ConstraintEngine:propagate");
  c->deactivate();
  EXPECT_EQ(x->lastDomain().getUpperBound(), 3);
  // Changes routed while the constraint is off do not queue it.
  y->getCurrentDomain().intersect(0, 2);
  EXPECT_FALSE(m_propagator->updateRequired());
  // An activation alone makes the next run do work.
  listener.clear();
  c->undoDeactivation();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(x->lastDomain().getUpperBound(), 2);
  EXPECT_EQ(traces.text().find("Nothing to do"), std::string::npos);
  EXPECT_NE(std::find(listener.events().begin(), listener.events().end(), "L executed c"), listener.events().end());
}

// A domain emptied while its variable is inactive is heard by no one; once active, it counts.
TEST_F(ActivationTest, AVariableEmptiedWhileInactiveMakesTheEngineInconsistentOnceActive) {
  // Closed with no member, its base domain is empty too: relaxation cannot refill it.
  Id<ConstrainedVariable> v =
      (new Variable<EnumeratedDomain>(engine(), NumericDomain(FloatDT::instance()), false, true, "v",
                                      Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
          ->getId();
  v->deactivate();
  v->close();
  EXPECT_TRUE(m_engine->propagate());
  v->undoDeactivation();
  EXPECT_TRUE(m_engine->pending());
  EXPECT_FALSE(m_engine->propagate());
}

TEST_F(ActivationTest, TracesNameTheObjectAndTheKindOfTransition) {
  Id<ConstrainedVariable> x = intVar("x", 0, 10);
  TestConstraint* c = new TestConstraint("c", "Default", engine(), makeScope(x));
  CapturedTraces traces("ConstraintEngine:not");
  x->deactivate();
  x->undoDeactivation();
  const std::string xk = "x(" + std::to_string(x->getKey()) + ")\n", ck = "c(" + std::to_string(c->getKey()) + ")\n";
  EXPECT_EQ(traces.text(), "[ConstraintEngine:notifyDeactivated:Constraint]" + ck +
                               "[ConstraintEngine:notifyDeactivated:ConstrainedVariable]" + xk +
                               "[ConstraintEngine:notifyActivated:Constraint]" + ck +
                               "[ConstraintEngine:notifyActivated:ConstrainedVariable]" + xk);
  EXPECT_CHECK_FAILS(m_engine->notifyActivated(Id<ConstrainedVariable>::noId()), "var.isValid() && var->isActive()");
  EXPECT_CHECK_FAILS(m_engine->notifyDeactivated(x), "var.isValid() && !var->isActive()");
  EXPECT_CHECK_FAILS(m_engine->notifyDeactivated(c->getId()),
                     "deactivatedConstraint.isValid() && !deactivatedConstraint->isActive()");
}

} // namespace
} // namespace KALDEN
