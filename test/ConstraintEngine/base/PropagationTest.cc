#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/component/Propagators.hh"
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

// The events of a log that begin with one of the given words (after the listener's tag).
Events only(const Events& log, const std::vector<std::string>& kinds) {
  Events kept;
  for (const std::string& event : log)
    for (const std::string& kind : kinds)
      if (event.compare(2, kind.size() + 1, kind + " ") == 0 || event.substr(2) == kind)
        kept.push_back(event);
  return kept;
}

std::string bounds(const Id<ConstrainedVariable>& var) {
  return "[" + std::to_string(static_cast<int>(var->lastDomain().getLowerBound())) + "," +
         std::to_string(static_cast<int>(var->lastDomain().getUpperBound())) + "]";
}

class PropagationTest : public NetworkFixture {
protected:
  Constraint* leq(const char* name, const Id<ConstrainedVariable>& x, const Id<ConstrainedVariable>& y) {
    return new LessThanEqualTestConstraint(name, "Default", engine(), makeScope(x, y));
  }
};

TEST_F(PropagationTest, ChainReachesItsFixpointRunningLowestKeyFirst) {
  RecordingEngineListener listener(engine());
  Id<ConstrainedVariable> x = intVar("x", 0, 10);
  Id<ConstrainedVariable> y = intVar("y", 0, 5);
  Id<ConstrainedVariable> z = intVar("z", 1, 3);
  leq("c1", x, y);
  leq("c2", y, z);
  listener.clear();

  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(bounds(x), "[0,3]");
  EXPECT_EQ(bounds(y), "[0,3]");
  EXPECT_EQ(bounds(z), "[1,3]");
  // c2's narrowing of y queues c1 again; each constraint's own changes do not queue it.
  EXPECT_EQ(only(listener.events(), {"commenced", "executed", "completed", "preempted"}),
            (Events{"L commenced", "L executed c1", "L executed c2", "L executed c1", "L completed"}));
  EXPECT_TRUE(m_engine->constraintConsistent());
  EXPECT_FALSE(m_engine->pending());

  // A clean engine does nothing and tells nobody.
  listener.clear();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(listener.events().empty());
}

TEST_F(PropagationTest, EnumerationsNarrowToTheirCommonValues) {
  Id<ConstrainedVariable> a = enumVar("a", {1, 2, 3, 4});
  Id<ConstrainedVariable> b = enumVar("b", {2, 3, 4, 5});
  Id<ConstrainedVariable> c = enumVar("c", {0, 3, 4});
  new EqualTestConstraint("ab", "Default", engine(), makeScope(a, b));
  new EqualTestConstraint("bc", "Default", engine(), makeScope(b, c));
  EXPECT_TRUE(m_engine->propagate());
  for (const Id<ConstrainedVariable>& var : {a, b, c})
    EXPECT_EQ(var->toString(), "{3, 4}") << var->getName().toString();
}

TEST_F(PropagationTest, EmptiedDomainPreemptsTheRun) {
  RecordingEngineListener listener(engine());
  Id<ConstrainedVariable> x = intVar("x", 5, 10);
  Id<ConstrainedVariable> y = intVar("y", 0, 3);
  Id<ConstrainedVariable> z = intVar("z", 0, 3);
  Constraint* c = leq("c", x, y);
  leq("d", y, z);
  listener.clear();

  EXPECT_FALSE(m_engine->propagate());
  EXPECT_EQ(only(listener.events(), {"commenced", "executed", "completed", "preempted"}),
            (Events{"L commenced", "L executed c", "L preempted"}));
  EXPECT_TRUE(m_engine->provenInconsistent());
  EXPECT_FALSE(m_engine->constraintConsistent());
  EXPECT_FALSE(m_engine->pending());
  EXPECT_FALSE(m_propagator->updateRequired()); // d never ran: the agenda was cleared
  EXPECT_EQ(m_engine->getViolation(), 1.0);
  EXPECT_EQ(m_engine->getViolationExpl().size(), 0);
  EXPECT_FALSE(m_engine->isViolated(c->getId()));
  EXPECT_TRUE(c->isActive());

  // The next run relaxes the emptied variable first, and fails again.
  listener.clear();
  EXPECT_FALSE(m_engine->propagate());
  EXPECT_EQ(only(listener.events(), {"changed", "executed"}),
            (Events{"L changed x RELAXED", "L executed c", "L changed x EMPTIED"}));
}

TEST_F(PropagationTest, WithViolationsAllowedTheCulpritIsSetAsideAndPropagationGoesOn) {
  m_engine->setAllowViolations(true);
  RecordingEngineListener listener(engine());
  Id<ConstrainedVariable> x = intVar("x", 5, 10);
  Id<ConstrainedVariable> y = intVar("y", 0, 3);
  Id<ConstrainedVariable> z = intVar("z", 0, 2);
  Constraint* c = leq("c", x, y);
  leq("d", y, z);
  listener.clear();

  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(only(listener.events(), {"commenced", "executed", "completed", "preempted", "deactivatedConstraint",
                                     "violationAdded"}),
            (Events{"L commenced", "L executed c", "L deactivatedConstraint c", "L violationAdded c", "L preempted",
                    "L commenced", "L executed d", "L completed"}));
  EXPECT_EQ(bounds(x), "[5,10]"); // relaxed, and not narrowed again by the violated constraint
  EXPECT_EQ(bounds(y), "[0,2]");
  EXPECT_FALSE(c->isActive());
  EXPECT_TRUE(m_engine->isViolated(c->getId()));
  EXPECT_FALSE(m_engine->provenInconsistent());
  EXPECT_EQ(m_engine->getViolation(), 1.0);
  ASSERT_EQ(m_engine->getViolationExpl().size(), 1);
  EXPECT_EQ(m_engine->getViolationExpl().get(0),
            "c(x(" + std::to_string(x->getKey()) + "),y(" + std::to_string(y->getKey()) + "))");
  EXPECT_EQ(m_engine->getAllViolations().get(0), static_cast<PSConstraint*>(c->getId()));
  EXPECT_EQ(x->getViolation(), 1.0);
  EXPECT_EQ(z->getViolation(), 0.0);
  EXPECT_EQ(x->getViolationExpl(), m_engine->getViolationExpl().get(0) + "\n");
  EXPECT_CHECK_FAILS(m_engine->setAllowViolations(false), "m_violatedConstraints.size() == 0");

  // Withdrawn, the constraint is active again and queued.
  c->notifyNoLongerViolated();
  EXPECT_TRUE(c->isActive());
  EXPECT_FALSE(m_engine->isViolated(c->getId()));
  EXPECT_EQ(listener.events().back(), "L violationRemoved c");
  EXPECT_CHECK_FAILS(c->notifyNoLongerViolated(), "isViolated(c)");
}

TEST_F(PropagationTest, AConstraintBlamedTwiceInOneExecutionIsSetAsideOnce) {
  m_engine->setAllowViolations(true);
  RecordingEngineListener listener(engine());
  Id<ConstrainedVariable> x = intVar("x", 0, 1);
  Id<ConstrainedVariable> y = intVar("y", 0, 1);
  Constraint* never = new NeverTestConstraint("never", "Default", engine(), makeScope(x, y));
  listener.clear();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(only(listener.events(), {"violationAdded", "deactivatedConstraint"}),
            (Events{"L deactivatedConstraint never", "L violationAdded never"}));
  EXPECT_EQ(never->deactivationCount(), 1u);
  EXPECT_EQ(bounds(x), "[0,1]");
  EXPECT_EQ(bounds(y), "[0,1]");
  // One withdrawal makes it active again.
  never->notifyNoLongerViolated();
  EXPECT_TRUE(never->isActive());
}

TEST_F(PropagationTest, AFailedRunThatSetsNoConstraintAsideIsNotRepeated) {
  // A listener that empties a domain whenever a constraint is about to run: no constraint is to blame.
  struct Spoiler : RecordingEngineListener {
    Spoiler(const Id<ConstraintEngine>& e, const Id<ConstrainedVariable>& v) : RecordingEngineListener(e), victim(v) {}
    void notifyExecuted(const Id<Constraint>& c) override {
      RecordingEngineListener::notifyExecuted(c);
      victim->getCurrentDomain().empty();
    }
    Id<ConstrainedVariable> victim;
  };
  m_engine->setAllowViolations(true);
  Id<ConstrainedVariable> x = intVar("x", 0, 10);
  Id<ConstrainedVariable> y = intVar("y", 0, 10);
  leq("c", x, y);
  Spoiler spoiler(engine(), y);
  EXPECT_FALSE(m_engine->propagate());
  EXPECT_EQ(only(spoiler.events(), {"commenced", "preempted"}), (Events{"L commenced", "L preempted"}));
  EXPECT_TRUE(m_engine->provenInconsistent());
  EXPECT_EQ(m_engine->getAllViolations().size(), 0);
}

TEST_F(PropagationTest, ADomainThatRelaxationCannotRefillKeepsTheEngineInconsistent) {
  m_engine->setAllowViolations(true);
  Id<ConstrainedVariable> none = enumVar("none", {});
  EXPECT_TRUE(m_engine->provenInconsistent());
  EXPECT_FALSE(m_engine->propagate());
  EXPECT_TRUE(m_engine->provenInconsistent());
  EXPECT_TRUE(m_engine->getViolationMgr().isEmpty(none));
}

} // namespace
} // namespace KALDEN
