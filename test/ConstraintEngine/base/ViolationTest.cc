// With violations allowed: a constraint set aside as violated leaves no narrowing behind, and a
// violated constraint is either held violated or active again, never dropped unseen.

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/component/Constraints.hh"
#include "Utils/Error.hh"
#include "support/ConstraintCatalogue.hh"
#include "support/EngineFixture.hh"
#include "support/RecordingEngineListener.hh"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

class ViolationTest : public NetworkFixture {
protected:
  Constraint* equal(const std::vector<Id<ConstrainedVariable> >& scope) {
    return new EqualConstraint("eq", "Default", engine(), scope);
  }
  Id<ConstrainedVariable> intEnum(const char* name, const std::list<double>& values) {
    return (new Variable<EnumeratedDomain>(engine(), NumericDomain(values, IntDT::instance()), false, true, name,
                                           Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
        ->getId();
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

// Violations cannot be forbidden while one is held: from a listener told of a removal inside a
// destructor, the refusal is thrown to the listener; leaving it, it is printed once, by the
// failure point, and the limit stays as it was.
TEST_F(ViolationTest, ForbiddingViolationsFromADestructorWhileOneIsHeldIsPrintedAndChangesNothing) {
  m_engine->setAllowViolations(true);
  const unsigned int limit = m_engine->getViolationMgr().getMaxViolationsAllowed();
  Constraint* eq = equal(makeScope(intEnum("x", {1}), intEnum("y", {2})));
  ASSERT_TRUE(m_engine->propagate());
  ASSERT_TRUE(m_engine->isViolated(eq->getId()));
  RecordingEngineListener actor(engine());
  bool thrown = false;
  actor.actAt("removedVariable z", [&] {
    thrown = true;
    m_engine->setAllowViolations(false);
    thrown = false;
  });
  const Id<ConstrainedVariable> z = intVar("z", 0, 9);
  testing::internal::CaptureStderr();
  const unsigned long before = Error::suppressedCount();
  delete static_cast<ConstrainedVariable*>(z);
  const unsigned long printed = Error::suppressedCount() - before;
  const std::string text = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(thrown);
  EXPECT_FALSE(actor.armed());
  EXPECT_EQ(printed, 1u);
  EXPECT_NE(text.find("no violations"), std::string::npos) << text;
  EXPECT_TRUE(m_engine->getAllowViolations());
  EXPECT_EQ(m_engine->getViolationMgr().getMaxViolationsAllowed(), limit);
  EXPECT_TRUE(m_engine->isViolated(eq->getId()));
  delete eq;
  m_engine->setAllowViolations(false);
  EXPECT_FALSE(m_engine->getAllowViolations());
}

// An open enumeration takes a closed one's members in a run whose constraints are set aside: the
// answer is the fixpoint of the constraints that stand, whatever order the constraints run in (it
// follows allocation: the network is built in every order).
TEST_F(ViolationTest, AnOpenEnumerationTakingMembersBesideConstraintsSetAsideEndsAtTheFixpointOfTheRest) {
  m_engine->setAllowViolations(true);
  std::vector<int> order{0, 1, 2, 3};
  int layout = 0;
  do {
    std::vector<std::unique_ptr<char[]> > padding;
    std::map<int, Id<ConstrainedVariable> > vars;
    for (int i = 0; i < 4; ++i) {
      const int which = order[static_cast<std::size_t>((i + layout) % 4)];
      padding.emplace_back(new char[static_cast<std::size_t>(24 + 40 * ((which + layout) % 5))]);
      vars[which] = which == 0   ? intEnum("v0", {-3})
                    : which == 1 ? intEnum("v1", {-6, -4, 1})
                    : which == 2 ? intEnum("v2", {0})
                                 : openEnum("v4", {-6, -4, 1});
    }
    ++layout;
    const Id<ConstrainedVariable> v0 = vars[0], v1 = vars[1], v2 = vars[2], v4 = vars[3];
    std::vector<Constraint*> made;
    for (int which : order) {
      padding.emplace_back(new char[static_cast<std::size_t>(16 + 48 * which)]);
      if (which == 0)
        made.push_back(equal(makeScope(v4, v1)));
      else if (which == 1)
        made.push_back(new AddEqualConstraint("addEq", "Default", engine(), makeScope(v4, v4, v0)));
      else
        made.push_back(
            new LessThanConstraint("lt", "Default", engine(), which == 2 ? makeScope(v4, v4) : makeScope(v1, v2)));
    }
    EXPECT_TRUE(m_engine->propagate());
    EXPECT_FALSE(m_engine->pending());
    // Neither addEq nor lt(v4, v4) can hold once v1 < 0; without them v1 is {-6, -4}.
    EXPECT_EQ(m_engine->getAllViolations().size(), 2);
    EXPECT_EQ(v1->lastDomain().toString(), "int:CLOSED{-6, -4}");
    EXPECT_EQ(v4->lastDomain().toString(), "int:CLOSED{-6, -4}");
    for (Constraint* c : made)
      delete c;
    for (const Id<ConstrainedVariable>& v : {v0, v1, v2, v4})
      delete static_cast<ConstrainedVariable*>(v);
  } while (std::next_permutation(order.begin(), order.end()) && !HasFailure());
}

// Open enumerations take a closed one's members in the run where constraints over one of them
// are set aside: what those constraints caused goes, what they narrowed of the members taken
// included, and the network without them answers.
TEST_F(ViolationTest, OpenEnumerationsTakingMembersBesideConstraintsSetAsideKeepNothingTheyCaused) {
  m_engine->setAllowViolations(true);
  auto open = [this](const char* name, const std::list<double>& members) {
    NumericDomain values(IntDT::instance());
    values.insert(members);
    return (new Variable<EnumeratedDomain>(engine(), values, false, true, name, Id<Entity>::noId(),
                                           ConstrainedVariable::NO_INDEX))
        ->getId();
  };
  const Id<ConstrainedVariable> v0 = intEnum("v0", {-3}), v1 = intEnum("v1", {-6, -4, 1}), v2 = intEnum("v2", {0});
  const Id<ConstrainedVariable> v4 = open("v4", {-6, -4, 1}), v6 = open("v6", {-6, -4, 1});
  v1->open();
  v1->close();
  equal(makeScope(v4, v1, v4, v6));
  Constraint* addEq = new AddEqualConstraint("addEq", "Default", engine(), makeScope(v4, v4, v0));
  Constraint* lt = new LessThanConstraint("lt", "Default", engine(), makeScope(v4, v4));
  new LessThanConstraint("lt", "Default", engine(), makeScope(v1, v2));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(m_engine->isViolated(addEq->getId()));
  EXPECT_TRUE(m_engine->isViolated(lt->getId()));
  EXPECT_EQ(v1->lastDomain().toString(), "int:CLOSED{-6, -4}");
  EXPECT_EQ(v6->lastDomain().toString(), "int:CLOSED{-6, -4}");
}

// With violations allowed, a base restricted past the current domain empties it: the next run
// sets the culprit aside, so the queries say pending, and the two next answers are alike.
TEST_F(ViolationTest, ABaseChangeThatEmptiesLeavesTheNextRunToSetTheCulpritAside) {
  registerCatalogue(*m_schema);
  m_engine->setAllowViolations(true);
  const Id<ConstrainedVariable> x = intVar("x", -1, 0), y = intVar("y", 0, 0);
  const Id<Constraint> same = m_engine->createConstraint("Equal", makeScope(x, y));
  ASSERT_TRUE(holds(x, 0) && !holds(x, -1));
  x->restrictBaseDomain(IntervalIntDomain(-1, -1, IntDT::instance()));
  EXPECT_FALSE(m_engine->provenInconsistent());
  EXPECT_TRUE(m_engine->pending());
  EXPECT_TRUE(expectForecastHolds("base restricted"));
  EXPECT_TRUE(m_engine->isViolated(same));
  EXPECT_TRUE(holds(x, -1));
}

// At the limit, the constraint reaching it leaves its domain emptied and the call answers false;
// the next run's relaxation may refill it, so the engine says pending, never proven.
// At the limit, what the failure emptied stays empty: the next run answers alike, changing nothing.
TEST_F(ViolationTest, AFailureAtTheLimitIsProvenAndStays) {
  registerCatalogue(*m_schema);
  m_engine->getViolationMgr().setMaxViolationsAllowed(1);
  const Id<ConstrainedVariable> x = floatVar("x", 3, 3.0000045), y = floatVar("y", 0.3, 0.300002);
  m_engine->createConstraint("LessThan", makeScope(x, y));
  EXPECT_TRUE(m_engine->hasEmptyVariables());
  EXPECT_TRUE(m_engine->provenInconsistent());
  EXPECT_FALSE(m_engine->pending());
  EXPECT_FALSE(expectForecastHolds("at the limit"));
  EXPECT_TRUE(x->lastDomain().isEmpty());
}

} // namespace
} // namespace KALDEN
