// With violations allowed: a constraint set aside as violated leaves no narrowing behind, and a
// violated constraint is either held violated or active again, never dropped unseen.

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/component/Constraints.hh"
#include "support/EngineFixture.hh"

#include <gtest/gtest.h>

#include <list>

namespace KALDEN {
namespace {

class ViolationTest : public NetworkFixture {
protected:
  Constraint* equal(const std::vector<Id<ConstrainedVariable> >& scope) {
    return new EqualConstraint("eq", "Default", engine(), scope);
  }
  static bool holds(const Id<ConstrainedVariable>& var, double value) { return var->lastDomain().isMember(value); }
};

TEST_F(ViolationTest, WhatASetAsideConstraintNarrowedIsUndone) {
  for (bool deleteIt : {false, true}) {
    m_engine->setAllowViolations(true);
    Id<ConstrainedVariable> x = enumVar("x", {2, 4}), y = intVar("y", 2, 2), z = intVar("z", 5, 5);
    Constraint* eq = equal(makeScope(x, y, z));
    EXPECT_TRUE(m_engine->propagate());
    EXPECT_TRUE(m_engine->isViolated(eq->getId()) && !eq->isActive());
    EXPECT_TRUE(holds(x, 2) && holds(x, 4)) << "x keeps 4 while nothing else constrains it";
    if (deleteIt) {
      delete eq;
      EXPECT_TRUE(m_engine->propagate());
      EXPECT_EQ(m_engine->getViolation(), 0.0);
      EXPECT_TRUE(holds(x, 4));
    } else {
      // Switching violations off needs none recorded: withdrawn, the constraint is back and fails.
      eq->notifyNoLongerViolated();
      m_engine->setAllowViolations(false);
      EXPECT_FALSE(m_engine->propagate());
      delete eq;
    }
    for (Id<ConstrainedVariable> var : {x, y, z})
      delete static_cast<ConstrainedVariable*>(var);
    m_engine->clearEmptyVariables();
  }
}

TEST_F(ViolationTest, AViolatedConstraintOverDecidedValuesIsNeverRetiredUnseen) {
  for (unsigned int limit : {1u, 2147483647u}) {
    m_engine->getViolationMgr().setMaxViolationsAllowed(limit);
    Id<ConstrainedVariable> a = intVar("a", 1, 1), b = intVar("b", 2, 2);
    Constraint* eq = equal(makeScope(a, b));
    EXPECT_TRUE(eq->isRedundant());
    // At the limit the run fails; under it the constraint is set aside and the run goes on.
    EXPECT_EQ(m_engine->propagate(), limit > 1) << "limit " << limit;
    for (int again = 0; again < 2; ++again) {
      const bool answer = m_engine->propagate();
      // A true answer holds the constraint violated; a false one has it fail again.
      EXPECT_EQ(answer, limit > 1) << "limit " << limit;
      EXPECT_EQ(m_engine->getViolation(), 1.0) << "limit " << limit;
      EXPECT_TRUE(m_engine->isViolated(eq->getId()) || eq->isActive());
    }
    // Removing it leaves nothing violated, and the variables as their base domains say.
    delete eq;
    EXPECT_TRUE(m_engine->propagate());
    EXPECT_EQ(m_engine->getViolation(), 0.0);
    delete static_cast<ConstrainedVariable*>(a);
    delete static_cast<ConstrainedVariable*>(b);
    m_engine->getViolationMgr().setMaxViolationsAllowed(0);
  }
}

// A limit of n sets aside n - 1 violations: the n-th is held violated too, but the run answers
// false and leaves its emptied variable empty. Relaxing that variable withdraws the violation and
// the next run empties it again; deleting the constraint recovers.
TEST_F(ViolationTest, TheViolationThatReachesTheLimitFailsTheRun) {
  m_engine->getViolationMgr().setMaxViolationsAllowed(2);
  Id<ConstrainedVariable> a = intVar("a", 1, 1), b = intVar("b", 2, 2);
  Id<ConstrainedVariable> c = intVar("c", 1, 1), d = intVar("d", 2, 2);
  Constraint* first = equal(makeScope(a, b));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(m_engine->isViolated(first->getId()));
  EXPECT_TRUE(m_engine->getViolationMgr().getEmptyVariables().empty());
  Constraint* second = equal(makeScope(c, d));
  for (int again = 0; again < 2; ++again) {
    EXPECT_FALSE(m_engine->propagate());
    EXPECT_TRUE(m_engine->isViolated(second->getId()) && !second->isActive());
    EXPECT_EQ(m_engine->getViolation(), 2.0);
    ASSERT_EQ(m_engine->getViolationMgr().getEmptyVariables().size(), 1u);
    const Id<ConstrainedVariable> emptied = *m_engine->getViolationMgr().getEmptyVariables().begin();
    EXPECT_TRUE(emptied == c || emptied == d);
    EXPECT_TRUE(emptied->lastDomain().isEmpty());
    emptied->relax();
    EXPECT_FALSE(m_engine->isViolated(second->getId()));
  }
  delete second;
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(m_engine->getViolation(), 1.0);
  EXPECT_TRUE(m_engine->getViolationMgr().getEmptyVariables().empty());
  delete first;
  m_engine->getViolationMgr().setMaxViolationsAllowed(0);
}

// Retired as redundant, a composite leaves its members alone: one held violated comes back
// when its violation is withdrawn, instead of staying off under its retired owner.
TEST_F(ViolationTest, AMemberHeldViolatedIsNotRetiredWithItsComposite) {
  m_engine->getViolationMgr().setMaxViolationsAllowed(2);
  Id<ConstrainedVariable> v = intVar("v", 1, 1);
  Constraint* sum = new EqualSumConstraint("EqualSum", "Default", engine(), makeScope(v, v, v));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(sum->isRetired());
  ASSERT_EQ(m_engine->getAllViolations().size(), 1);
  Constraint* member = dynamic_cast<Constraint*>(m_engine->getAllViolations().get(0));
  ASSERT_NE(member, nullptr);
  member->notifyNoLongerViolated();
  EXPECT_TRUE(member->isActive());
  m_engine->getViolationMgr().setMaxViolationsAllowed(0);
  EXPECT_FALSE(m_engine->propagate());
}

TEST_F(ViolationTest, ResettingAVariableOfAViolatedConstraintBringsItBack) {
  m_engine->setAllowViolations(true);
  Id<ConstrainedVariable> a = intVar("a", 0, 5), b = intVar("b", 3, 3);
  a->specify(1);
  Constraint* eq = equal(makeScope(a, b));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(m_engine->isViolated(eq->getId()));
  // The reset relaxes a, which withdraws the violation: the constraint runs again and holds.
  a->reset();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(m_engine->getViolation(), 0.0);
  EXPECT_TRUE(eq->isActive());
  EXPECT_TRUE(a->lastDomain().isSingleton() && holds(a, 3));
}

} // namespace
} // namespace KALDEN
