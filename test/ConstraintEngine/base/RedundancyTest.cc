#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
#include "ConstraintEngine/component/Constraints.hh"
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

// The events of a log that concern the named constraint.
Events about(const Events& log, const std::string& name) {
  Events kept;
  for (const std::string& event : log)
    if (event.size() > name.size() && event.compare(event.size() - name.size() - 1, name.size() + 1, " " + name) == 0)
      kept.push_back(event);
  return kept;
}

class RedundancyTest : public NetworkFixture {};

TEST_F(RedundancyTest, AConstraintFixedFromTheStartRunsOnceMoreAndRetiresAfterACompletedRun) {
  RecordingEngineListener listener(engine());
  Id<ConstrainedVariable> x = intVar("x", 2, 2), y = intVar("y", 3, 3);
  CapturedTraces traces("ConstraintEngine:notify");
  TestConstraint* r = new TestConstraint("r", "Default", engine(), makeScope(x, y));
  EXPECT_TRUE(r->isRedundant());
  EXPECT_NE(traces.text().find("[ConstraintEngine:notifyRedundant:Constraint]r("), std::string::npos);
  EXPECT_EQ(traces.text().find("[ConstraintEngine:notifyActivated:Constraint]"), std::string::npos);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(about(listener.events(), "r"),
            (Events{"L addedConstraint r", "L executed r", "L deactivatedConstraint r"}));
  EXPECT_EQ(r->executions(), 1);
  // Retired for good; and retiring left work for the next run, which finds nothing to do.
  r->undoDeactivation();
  EXPECT_FALSE(r->isActive());
  listener.clear();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(listener.events().empty());
}

TEST_F(RedundancyTest, AValueMovedWithinTheToleranceBringsARetiredConstraintBackForARun) {
  // 1.3e-5 apart the two differ; b specified within the tolerance of its base's value, 4e-6 from a,
  // they are equal.
  Id<ConstrainedVariable> a = floatVar("a", 0.299996, 0.299996), b = enumVar("b", {0.300009});
  AllDiffConstraint* c = new AllDiffConstraint("c", "Default", engine(), makeScope(a, b));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(c->isRetired());
  b->specify(0.300000001);
  EXPECT_TRUE(c->isActive());
  EXPECT_FALSE(m_engine->propagate());
  delete c;
  EXPECT_TRUE(m_engine->propagate());
  // Still redundant, it retires again once it holds.
  c = new AllDiffConstraint("c", "Default", engine(), makeScope(a, b));
  b->reset();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(c->isRetired());
  b->specify(0.300011);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(c->isRetired());
}

TEST_F(RedundancyTest, BuiltWhileAVariableIsInactiveItRunsOnceActiveThenRetires) {
  Id<ConstrainedVariable> x = intVar("x", 2, 2), y = intVar("y", 3, 3);
  y->deactivate();
  TestConstraint* r = new TestConstraint("r", "Default", engine(), makeScope(x, y));
  EXPECT_TRUE(r->isRedundant());
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(r->executions(), 0);
  y->undoDeactivation();
  EXPECT_TRUE(r->isActive());
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(r->executions(), 1);
  EXPECT_TRUE(r->isRetired());
  EXPECT_FALSE(r->isActive());
}

TEST_F(RedundancyTest, AViolatedConstraintOverDecidedValuesIsNeverRetiredUnchecked) {
  // Found redundant beside a failing constraint; the failure comes first, and the recovery
  // must still check it: 0 = 1 does not hold.
  Id<ConstrainedVariable> v1 = intVar("v1", 0, 0), v2 = intVar("v2", 1, 1);
  Id<ConstrainedVariable> a = intVar("a", 5, 5), b = intVar("b", 0, 3);
  Constraint* failing = new LessThanEqualConstraint("leq", "Default", engine(), makeScope(a, b));
  new EqualConstraint("eq", "Default", engine(), makeScope(v2, v1));
  EXPECT_FALSE(m_engine->propagate());
  delete failing;
  EXPECT_FALSE(m_engine->propagate());
}

// An open base domain may still gain values: it decides nothing for good, even with one member.
TEST_F(RedundancyTest, AnOpenBaseDomainKeepsTheConstraintInPlayUntilItIsChecked) {
  Id<ConstrainedVariable> b = intVar("b", 1, 1), o = enumVar("o", {-3});
  o->open();
  Constraint* leq = new LessThanEqualConstraint("leq", "Default", engine(), makeScope(b, o));
  EXPECT_FALSE(leq->isRedundant());
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(leq->isActive());
  o->close();
  EXPECT_FALSE(m_engine->propagate());
}

TEST_F(RedundancyTest, SwitchedOffBeforeItRanARedundantConstraintIsCheckedOnceBack) {
  Id<ConstrainedVariable> w = intVar("w", 4, 4), v = intVar("v", 0, 0);
  Constraint* off = new EqualConstraint("off", "Default", engine(), makeScope(w, v));
  off->deactivate();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_FALSE(off->isRetired());
  off->undoDeactivation();
  EXPECT_FALSE(m_engine->propagate());
}

TEST_F(RedundancyTest, ARestrictedBaseDomainMakesAConstraintRedundantUntilItIsRemoved) {
  Id<ConstrainedVariable> x = intVar("x", 2, 2), y = intVar("y", 0, 3);
  TestConstraint* r = new TestConstraint("r", "Default", engine(), makeScope(x, y));
  TestConstraint* kept = new TestConstraint("kept", "Default", engine(), makeScope(y));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_FALSE(r->isRedundant());
  y->restrictBaseDomain(IntervalIntDomain(1, 1, IntDT::instance()));
  EXPECT_TRUE(r->isRedundant() && kept->isRedundant());
  // Not consistent yet: the buffer cannot be processed.
  const Error failure = failureOf([&] { m_engine->processRedundantConstraints(); });
  EXPECT_EQ(failure.getCondition(), "constraintConsistent()");
  EXPECT_EQ(failure.getMessage(), "Can only process when fully propagated.");
  delete r;
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_FALSE(kept->isActive());
  EXPECT_EQ(m_engine->getConstraints().size(), 1u);
}

// A less-or-equal is found redundant by its base domains' order only when a base domain is
// restricted: ordered already when it is made, it stays active and runs like any other.
TEST_F(RedundancyTest, ALessOrEqualOrderedWhenMadeRetiresOnlyAfterALaterRestriction) {
  Id<ConstrainedVariable> x = intVar("x", 0, 2), y = intVar("y", 3, 5);
  Constraint* leq = new LessThanEqualConstraint("leq", "Default", engine(), makeScope(x, y));
  EXPECT_FALSE(leq->isRedundant());
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(leq->isActive());
  y->restrictBaseDomain(IntervalIntDomain(3, 4, IntDT::instance()));
  EXPECT_TRUE(leq->isRedundant());
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(leq->isRetired() && !leq->isActive());
}

// Listeners hear what happened: a constraint found redundant while active is queued again
// without an "activated"; it runs in the next run and then retires. One found redundant while
// switched off is told as activated only when it truly comes back.
TEST_F(RedundancyTest, FoundRedundantTheListenersHearNoActivationThatDidNotHappen) {
  RecordingEngineListener listener(engine());
  Id<ConstrainedVariable> x = intVar("x", 2, 2), y = intVar("y", 0, 3);
  TestConstraint* r = new TestConstraint("r", "Default", engine(), makeScope(x, y));
  TestConstraint* off = new TestConstraint("off", "Default", engine(), makeScope(x, y));
  EXPECT_TRUE(m_engine->propagate());
  off->deactivate();
  listener.clear();
  y->restrictBaseDomain(IntervalIntDomain(1, 1, IntDT::instance()));
  EXPECT_TRUE(r->isRedundant() && off->isRedundant());
  EXPECT_TRUE(about(listener.events(), "r").empty());
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(about(listener.events(), "r"), (Events{"L executed r", "L deactivatedConstraint r"}));
  EXPECT_EQ(r->executions(), 2);
  EXPECT_TRUE(about(listener.events(), "off").empty());
  listener.clear();
  off->undoDeactivation();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(about(listener.events(), "off"),
            (Events{"L activatedConstraint off", "L executed off", "L deactivatedConstraint off"}));
}

TEST_F(RedundancyTest, APreemptedRunKeepsTheBufferForTheNextCompletedOne) {
  m_engine->setAllowViolations(true);
  RecordingEngineListener listener(engine());
  Id<ConstrainedVariable> x = intVar("x", 2, 2), y = intVar("y", 3, 3), z = intVar("z", 0, 1);
  Constraint* never = new NeverTestConstraint("never", "Default", engine(), makeScope(x, y));
  new TestConstraint("other", "Default", engine(), makeScope(z));
  EXPECT_TRUE(never->isRedundant());
  // Violated in the first run, which was preempted; the second ran "other".
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(m_engine->isViolated(never->getId()));
  // Held violated, not retired: a withdrawn violation brings it back to run again.
  EXPECT_EQ(never->deactivationCount(), 1u);
  EXPECT_FALSE(never->isRetired());
  EXPECT_EQ(about(listener.events(), "never"),
            (Events{"L addedConstraint never", "L executed never", "L deactivatedConstraint never",
                    "L violationAdded never"}));
}

TEST_F(RedundancyTest, RetiringMayRemoveOtherBufferedConstraints) {
  struct Remover : ConstraintEngineListener {
    Remover(const Id<ConstraintEngine>& e) : ConstraintEngineListener(e) {}
    void notifyDeactivated(const Id<Constraint>&) override {
      Constraint* doomed = victim;
      victim = nullptr;
      delete doomed;
    }
    Constraint* victim = nullptr;
  } remover(engine());
  Id<ConstrainedVariable> x = intVar("x", 2, 2);
  TestConstraint* first = new TestConstraint("first", "Default", engine(), makeScope(x));
  remover.victim = new TestConstraint("second", "Default", engine(), makeScope(x));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_FALSE(first->isActive());
  EXPECT_EQ(m_engine->getConstraints().size(), 1u);
}

} // namespace
} // namespace KALDEN
