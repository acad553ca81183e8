// After a failed run and the client's recovery, the next run answers as a fresh engine over the
// same live network would: what was queued before or during the failure still runs.

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/component/Constraints.hh"
#include "ConstraintEngine/component/EqualityConstraintPropagator.hh"
#include "support/ConstraintCatalogue.hh"
#include "support/EngineFixture.hh"
#include "support/TestConstraints.hh"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace KALDEN {
namespace {

class RecoveryTest : public NetworkFixture {
protected:
  RecoveryTest() { m_engine->setAutoPropagation(false); }

  Constraint* leq(const Id<ConstrainedVariable>& x, const Id<ConstrainedVariable>& y) {
    return new LessThanEqualConstraint("leq", "Default", engine(), makeScope(x, y));
  }
  Constraint* eq(const Id<ConstrainedVariable>& x, const Id<ConstrainedVariable>& y, const char* propagator = "Default") {
    return new EqualConstraint("eq", propagator, engine(), makeScope(x, y));
  }
  static std::string bounds(const Id<ConstrainedVariable>& var) {
    return "[" + std::to_string(var->lastDomain().getLowerBound()).substr(0, 4) + ", " +
           std::to_string(var->lastDomain().getUpperBound()).substr(0, 4) + "]";
  }
};

TEST_F(RecoveryTest, WorkQueuedBesideTheFailureRunsAfterTheCulpritIsDeleted) {
  for (int xLow : {5, 0}) {
    Id<ConstrainedVariable> a = intVar("a", 5, 5), b = intVar("b", 0, 3);
    Id<ConstrainedVariable> x = intVar("x", xLow, 10), y = intVar("y", 0, 3);
    Constraint* failing = leq(a, b);
    leq(x, y);
    EXPECT_FALSE(m_engine->propagate());
    // Held while the engine is proven inconsistent: nothing reads as work.
    EXPECT_FALSE(m_propagator->updateRequired());
    EXPECT_FALSE(m_engine->pending());
    delete failing;
    // x <= y has no solution when x starts at 5; otherwise x ends at y's bound.
    EXPECT_EQ(m_engine->propagate(), xLow == 0) << "x from " << xLow;
    if (xLow == 0) {
      EXPECT_EQ(x->lastDomain().getUpperBound(), 3);
    }
    for (Id<ConstrainedVariable> var : {a, b, x, y})
      delete static_cast<ConstrainedVariable*>(var);
  }
}

TEST_F(RecoveryTest, ResettingTheSpecifiedCulpritLeavesNoQueuedConstraintUnrun) {
  Id<ConstrainedVariable> p = intVar("p", 0, 10), q = intVar("q", 0, 3);
  Id<ConstrainedVariable> v4 = intVar("v4", 0, 200), v5 = intVar("v5", 101, 102);
  p->specify(5);
  v4->specify(101);
  leq(p, q);
  eq(v4, v5);
  EXPECT_FALSE(m_engine->propagate());
  p->reset();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(bounds(v5), "[101., 101.]");
}

TEST_F(RecoveryTest, AConstraintPostedWhileInconsistentRunsAfterTheRecovery) {
  Id<ConstrainedVariable> a = intVar("a", 5, 5), b = intVar("b", 0, 3);
  Id<ConstrainedVariable> v6 = intVar("v6", 1, 1), v7 = intVar("v7", 0, 5);
  Constraint* culprit = leq(a, b);
  EXPECT_FALSE(m_engine->propagate());
  // The run after the posting fails again before the new constraint's turn.
  eq(v6, v7);
  EXPECT_FALSE(m_engine->propagate());
  // Deleting with auto-propagation on propagates at once.
  m_engine->setAutoPropagation(true);
  m_engine->deleteConstraint(culprit->getId());
  EXPECT_FALSE(m_engine->provenInconsistent());
  EXPECT_EQ(bounds(v7), "[1.00, 1.00]");
}

TEST_F(RecoveryTest, TheEqualityPropagatorHoldsItsClassesWhileTheEngineIsInconsistent) {
  EqualityConstraintPropagator* equality = new EqualityConstraintPropagator("Equal", engine());
  Id<ConstrainedVariable> a = intVar("a", 5, 5), b = intVar("b", 0, 3);
  Id<ConstrainedVariable> u = intVar("u", 0, 9), w = intVar("w", 4, 6);
  Constraint* culprit = leq(a, b);
  EXPECT_FALSE(m_engine->propagate());
  eq(u, w, "Equal");
  EXPECT_FALSE(equality->updateRequired());
  delete culprit;
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(bounds(u), "[4.00, 6.00]");
}

// Clearing the records of emptied variables keeps those still empty: the engine stays proven
// inconsistent and the next run fails again. A record whose domain was refilled goes.
TEST_F(RecoveryTest, ClearingTheEmptiedRecordsKeepsTheDomainsStillEmpty) {
  Id<ConstrainedVariable> p = intVar("p", 0, 10), q = intVar("q", 0, 3);
  p->specify(5);
  leq(p, q);
  EXPECT_FALSE(m_engine->propagate());
  const ConstrainedVariableSet emptied = m_engine->getViolationMgr().getEmptyVariables();
  ASSERT_FALSE(emptied.empty());
  m_engine->clearEmptyVariables();
  EXPECT_EQ(m_engine->getViolationMgr().getEmptyVariables(), emptied);
  EXPECT_TRUE(m_engine->provenInconsistent());
  EXPECT_FALSE(m_engine->propagate());

  // Refilled by their own relaxation, which leaves the records alone, the variables are forgotten.
  for (const Id<ConstrainedVariable>& var : emptied)
    var->relax();
  for (Id<ConstrainedVariable> var : {p, q})
    ASSERT_FALSE(var->lastDomain().isEmpty());
  m_engine->clearEmptyVariables();
  EXPECT_FALSE(m_engine->provenInconsistent());
  EXPECT_FALSE(m_engine->propagate()) << "p is still specified above q";
  p->reset();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(bounds(p), "[0.00, 3.00]");
}

// A variable emptied for good and switched off is judged when it is on again: meanwhile the
// engine is not proven inconsistent, what waits is pending, and the next run does it.
TEST_F(RecoveryTest, AnEmptiedVariableSwitchedOffLeavesTheWaitingWorkPending) {
  Id<ConstrainedVariable> x = enumVar("x", {1, 2});
  Id<ConstrainedVariable> z = intVar("z", 0, 10), y = intVar("y", 0, 5);
  x->remove(1);
  x->remove(2);
  EXPECT_TRUE(m_engine->pending());
  x->deactivate();
  leq(z, y);
  EXPECT_FALSE(m_engine->provenInconsistent());
  EXPECT_FALSE(m_engine->hasEmptyVariables());
  EXPECT_TRUE(m_engine->pending());
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(bounds(z), "[0.00, 5.00]");
  x->undoDeactivation();
  EXPECT_TRUE(m_engine->pending());
  EXPECT_FALSE(m_engine->propagate());
  EXPECT_TRUE(m_engine->provenInconsistent());
}

// Something that may refill an emptied domain after it was found (here the culprit switched off,
// whose narrowing stays) leaves the answer to the next run: pending, not proven inconsistent.
TEST_F(RecoveryTest, SwitchingOffAfterAFailureLeavesTheAnswerToTheNextRun) {
  Id<ConstrainedVariable> a = intVar("a", 5, 5), b = intVar("b", 0, 10), c = intVar("c", 0, 3);
  Constraint* first = leq(a, b);
  leq(b, c);
  EXPECT_FALSE(m_engine->propagate());
  EXPECT_TRUE(m_engine->provenInconsistent());
  EXPECT_FALSE(m_engine->pending());
  first->deactivate();
  EXPECT_TRUE(m_engine->hasEmptyVariables());
  EXPECT_FALSE(m_engine->provenInconsistent());
  EXPECT_TRUE(m_engine->pending());
  EXPECT_TRUE(m_engine->propagate());
}

// A rule whose run fails a check has not run: it stays queued, fails again, and goes only with
// its deletion.
TEST_F(RecoveryTest, ARuleWhoseRunFailsACheckStaysQueued) {
  Id<ConstrainedVariable> x = intVar("x", 0, 10), y = intVar("y", 0, 10);
  Constraint* thrower = new ThrowingTestConstraint("thrower", "Default", engine(), makeScope(x, y));
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_THROW(m_engine->propagate(), Error) << attempt;
    EXPECT_TRUE(m_engine->pending()) << attempt;
  }
  delete thrower;
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_FALSE(m_engine->pending());
}

// A client's call that empties a domain after a true answer leaves the answer to the next run,
// which may refill it: respecifying, or specifying past a switched-off constraint's narrowing.
TEST_F(RecoveryTest, AClientEmptyingADomainAfterATrueAnswerLeavesItPending) {
  registerCatalogue(*m_schema);
  Id<ConstrainedVariable> v = intVar("v", 0, 2);
  v->specify(1);
  ASSERT_TRUE(m_engine->propagate());
  v->specify(2);
  EXPECT_TRUE(m_engine->pending());
  EXPECT_TRUE(expectForecastHolds("respecified"));
  EXPECT_EQ(bounds(v), "[2.00, 2.00]");

  m_engine->setAutoPropagation(true);
  Id<ConstrainedVariable> x = intVar("x", 0, 5), y = intVar("y", 0, 5);
  y->specify(0);
  const Id<Constraint> same = m_engine->createConstraint("eq", makeScope(x, y));
  ASSERT_EQ(bounds(x), "[0.00, 0.00]");
  same->deactivate();
  x->specify(3);
  EXPECT_TRUE(m_engine->pending());
  EXPECT_TRUE(expectForecastHolds("past a switched-off narrowing"));
  EXPECT_EQ(bounds(x), "[3.00, 3.00]");
}

// A run that fails on what a switched-off constraint narrowed does not answer false: the next
// run's relaxation would give it back. The answer is the next run's, twice alike.
TEST_F(RecoveryTest, ARunFailingOnASwitchedOffNarrowingAnswersAsTheNextRunWould) {
  registerCatalogue(*m_schema);
  for (bool violations : {true, false}) {
    m_engine->setAllowViolations(violations);
    m_engine->setAutoPropagation(true);
    Id<ConstrainedVariable> x = intVar("x", 1, 1), y = floatVar("y", -0.3, 2);
    m_engine->createConstraint("leq", makeScope(x, y));
    ASSERT_EQ(bounds(y), "[1.00, 2.00]");
    x->deactivate();
    Id<ConstrainedVariable> z = floatVar("z", -0.3, 0.5);
    m_engine->createConstraint("lt", makeScope(y, z));
    EXPECT_TRUE(expectForecastHolds("violations " + std::to_string(violations)));
    EXPECT_TRUE(y->lastDomain().isMember(0.0));
    m_engine->setAutoPropagation(false);
    for (const Id<Constraint>& c : std::vector<Id<Constraint> >(m_engine->getConstraints().begin(),
                                                                m_engine->getConstraints().end()))
      delete static_cast<Constraint*>(c);
    m_engine->setAllowViolations(false);
  }
}

// A variable emptied and then switched off leaves nothing its emptiness caused: with it off,
// nothing excludes x = 2.
TEST_F(RecoveryTest, AnEmptiedVariableSwitchedOffKeepsEverySolutionOfTheRest) {
  Id<ConstrainedVariable> x = intVar("x", 1, 2), y = intVar("y", 0, 2);
  y->specify(1);
  eq(x, y);
  ASSERT_TRUE(m_engine->propagate());
  ASSERT_EQ(bounds(x), "[1.00, 1.00]");
  y->specify(2);
  y->deactivate();
  EXPECT_TRUE(m_engine->pending());
  EXPECT_TRUE(expectForecastHolds("switched off"));
  EXPECT_EQ(bounds(x), "[1.00, 2.00]");
}

} // namespace
} // namespace KALDEN
