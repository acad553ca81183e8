#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "support/CapturedTraces.hh"
#include "support/EngineFixture.hh"
#include "support/Failure.hh"
#include "support/RecordingEngineListener.hh"
#include "support/TestConstraints.hh"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace KALDEN {
namespace {

using Events = std::vector<std::string>;

class ActivationTest : public NetworkFixture {};

TEST_F(ActivationTest, AVariableTakesItsConstraintsAlongOncePerLink) {
  RecordingEngineListener listener(engine());
  Id<ConstrainedVariable> x = intVar("x", 0, 10), y = intVar("y", 0, 10);
  TestConstraint* twice = new TestConstraint("twice", "Default", engine(), makeScope(x, y, x));
  TestConstraint* once = new TestConstraint("once", "Default", engine(), makeScope(x));
  listener.clear();
  x->deactivate();
  x->deactivate(); // only the first deactivation is reported
  EXPECT_EQ(listener.events(), (Events{"L deactivatedConstraint twice", "L deactivatedConstraint once",
                                       "L deactivatedVariable x"}));
  EXPECT_EQ(twice->deactivationCount(), 4u);
  EXPECT_FALSE(m_propagator->updateRequired());
  listener.clear();
  x->undoDeactivation();
  EXPECT_TRUE(listener.events().empty());
  EXPECT_FALSE(x->isActive() || twice->isActive() || once->isActive());
  x->undoDeactivation();
  EXPECT_EQ(listener.events(), (Events{"L activatedConstraint twice", "L activatedConstraint once",
                                       "L activatedVariable x"}));
  EXPECT_TRUE(m_propagator->updateRequired()); // reactivated constraints are queued again
  // Counts never go below zero: a refused undo changes nothing.
  EXPECT_CHECK_FAILS(x->undoDeactivation(), "m_deactivationRefCount > 0");
  EXPECT_TRUE(x->isActive() && twice->isActive());
}

TEST_F(ActivationTest, AConstraintBuiltOverInactiveVariablesWaitsForAllOfThem) {
  RecordingEngineListener listener(engine());
  Id<ConstrainedVariable> x = intVar("x", 0, 10), y = intVar("y", 0, 3);
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
  EXPECT_TRUE(c->isActive() && m_engine->propagate());
  EXPECT_EQ(x->toString(), "[0,3]");
}

TEST_F(ActivationTest, DeactivationKeepsNarrowingAndReactivationRunsTheConstraintAgain) {
  Id<ConstrainedVariable> x = intVar("x", 0, 10), y = intVar("y", 0, 3);
  Constraint* c = new LessThanEqualTestConstraint("c", "Default", engine(), makeScope(x, y));
  EXPECT_TRUE(m_engine->propagate());
  CapturedTraces traces("ConstraintEngine:propagate");
  c->deactivate();
  EXPECT_EQ(x->toString(), "[0,3]");
  y->getCurrentDomain().intersect(0, 2); // routed while c is off: not queued
  EXPECT_FALSE(m_propagator->updateRequired());
  c->undoDeactivation();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(x->toString(), "[0,2]");
  EXPECT_EQ(traces.text().find("Nothing to do"), std::string::npos);
}

} // namespace
} // namespace KALDEN
