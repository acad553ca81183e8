#include "ConstraintEngine/component/ConstraintAgenda.hh"
#include "ConstraintEngine/component/Propagators.hh"
#include "support/EngineFixture.hh"
#include "support/Failure.hh"
#include "support/RecordingEngineListener.hh"
#include "support/TestConstraints.hh"
#include "Utils/base/EntityComparator.hh"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

typedef std::set<Id<Constraint>, EntityComparator<Id<Constraint> > > ByKey;

// Whether the agenda holds exactly the model's constraints.
::testing::AssertionResult sameContents(const ConstraintAgenda& agenda, const ByKey& model) {
  if (agenda.size() != model.size() || agenda.empty() != model.empty())
    return ::testing::AssertionFailure() << "size " << agenda.size() << " instead of " << model.size();
  ByKey seen;
  bool keysMatch = true;
  agenda.forEach([&seen, &keysMatch](int key, const Id<Constraint>& constraint) {
    keysMatch = keysMatch && key == constraint->getKey() && seen.insert(constraint).second;
  });
  if (!keysMatch)
    return ::testing::AssertionFailure() << "an entry is visited twice or under another key";
  if (seen != model)
    return ::testing::AssertionFailure() << "other constraints than the model's";
  for (const Id<Constraint>& constraint : model)
    if (!agenda.contains(constraint))
      return ::testing::AssertionFailure() << "contains() misses " << constraint->getKey();
  return ::testing::AssertionSuccess();
}

class ConstraintAgendaTest : public EngineFixture {
protected:
  std::vector<Id<Constraint> > makeConstraints(int count) {
    std::vector<Id<Constraint> > made;
    Id<ConstrainedVariable> x = intVar("x", 0, 10);
    for (int i = 0; i < count; ++i)
      made.push_back((new TestConstraint("c", "Default", engine(), makeScope(x)))->getId());
    return made;
  }
};

// Random queueing, withdrawal, taking off the front and clearing, in bursts that drain the
// agenda from large sizes and leave many withdrawn entries behind a queued front: the agenda
// always holds what a set ordered by key holds, and gives the constraints in the same order.
TEST_F(ConstraintAgendaTest, BehavesAsASetOrderedByKey) {
  const std::vector<Id<Constraint> > constraints = makeConstraints(1500);
  // Per phase, the percentages below which a step queues or withdraws (the rest take the front):
  // filling, withdrawing behind the front, a mix, and queueing in key order as a network being
  // built does (wrapping around). Now and then everything is cleared.
  const int odds[4][2] = {{70, 80}, {10, 90}, {30, 60}, {60, 65}};
  std::size_t sweep = 0;
  for (unsigned int seed = 1; seed <= 6; ++seed) {
    std::mt19937 random(seed);
    ConstraintAgenda agenda;
    ByKey model;
    for (int step = 0; step < 40000; ++step) {
      const int phase = (step / 2500) % 4;
      const int* odd = odds[phase];
      const int roll = static_cast<int>(random() % 100);
      const Id<Constraint>& pick = constraints[(phase == 3 && roll < odd[0] ? sweep++ : random()) % constraints.size()];
      if (step % 7777 == 7776) {
        agenda.clear();
        model.clear();
      } else if (roll < odd[0]) {
        EXPECT_EQ(agenda.insert(pick), model.insert(pick).second);
      } else if (roll < odd[1]) {
        EXPECT_EQ(agenda.erase(pick), model.erase(pick) == 1);
      } else if (!model.empty()) {
        EXPECT_EQ(agenda.takeFront(), *model.begin());
        model.erase(model.begin());
      }
      if (step % 97 == 0) {
        ASSERT_TRUE(sameContents(agenda, model)) << "seed " << seed << " step " << step;
      }
    }
    while (!model.empty()) {
      ASSERT_EQ(agenda.takeFront(), *model.begin());
      model.erase(model.begin());
    }
    EXPECT_TRUE(agenda.empty());
    // A drained agenda keeps no more than the room of a small one.
    EXPECT_LE(agenda.storageBytes(), 2048u);
  }
}

// Withdrawing everything but the front leaves no lasting footprint: the withdrawn entries are
// dropped once they outnumber the queued ones.
TEST_F(ConstraintAgendaTest, WithdrawnEntriesDoNotPileUp) {
  const std::vector<Id<Constraint> > constraints = makeConstraints(1000);
  ConstraintAgenda agenda;
  for (const Id<Constraint>& constraint : constraints)
    agenda.insert(constraint);
  const std::size_t full = agenda.storageBytes();
  for (std::size_t i = 1; i < constraints.size(); ++i)
    EXPECT_TRUE(agenda.erase(constraints[i]));
  EXPECT_EQ(agenda.size(), 1u);
  EXPECT_LT(agenda.storageBytes(), full / 4);
  // Queued again, a withdrawn constraint takes its place in key order.
  agenda.insert(constraints[500]);
  EXPECT_EQ(agenda.takeFront(), constraints[0]);
  EXPECT_EQ(agenda.takeFront(), constraints[500]);
  EXPECT_TRUE(agenda.empty());
}

// The marks are the agenda's for its life only: an agenda that goes, or is cleared, with
// constraints on it leaves them free for the next one, queued or withdrawn alike.
TEST_F(ConstraintAgendaTest, AGoneOrClearedAgendaLeavesItsConstraintsFree) {
  const std::vector<Id<Constraint> > constraints = makeConstraints(10);
  {
    ConstraintAgenda agenda;
    for (const Id<Constraint>& constraint : constraints)
      agenda.insert(constraint);
    agenda.erase(constraints[3]);
    agenda.clear();
    EXPECT_TRUE(agenda.empty());
    for (const Id<Constraint>& constraint : constraints)
      EXPECT_FALSE(agenda.contains(constraint));
    agenda.insert(constraints[7]);
    agenda.insert(constraints[2]);
    agenda.erase(constraints[2]);
  }
  ConstraintAgenda agenda;
  for (auto it = constraints.rbegin(); it != constraints.rend(); ++it)
    EXPECT_TRUE(agenda.insert(*it));
  for (const Id<Constraint>& constraint : constraints)
    EXPECT_EQ(agenda.takeFront(), constraint);
  EXPECT_TRUE(agenda.empty());
}

// A constraint that goes, queued or withdrawn, leaves an entry the agenda must drop without
// reading it: the others still come in key order, the count stays right, and going in numbers
// (which rebuilds the heap) loses none of those that stay.
TEST_F(ConstraintAgendaTest, ConstraintsThatGoAreSkippedUnread) {
  std::vector<Id<Constraint> > constraints = makeConstraints(400);
  ConstraintAgenda agenda;
  for (const Id<Constraint>& constraint : constraints)
    agenda.insert(constraint);
  std::vector<Id<Constraint> > staying;
  for (std::size_t i = 0; i < constraints.size(); ++i) {
    const Id<Constraint> constraint = constraints[i];
    if (i % 4 == 0) {
      staying.push_back(constraint);
      continue;
    }
    if (i % 4 == 1) {
      EXPECT_TRUE(agenda.erase(constraint));
    }
    EXPECT_EQ(agenda.forget(constraint), i % 4 != 1);
    delete static_cast<Constraint*>(constraint);
  }
  EXPECT_EQ(agenda.size(), staying.size());
  for (const Id<Constraint>& constraint : staying) {
    ASSERT_FALSE(agenda.empty());
    EXPECT_EQ(agenda.takeFront(), constraint);
  }
  EXPECT_TRUE(agenda.empty());
  EXPECT_LE(agenda.storageBytes(), 2048u);
  // Each goes while it is the only entry left: the drained agenda holds nothing of it.
  agenda.insert(staying.front());
  EXPECT_TRUE(agenda.forget(staying.front()));
  delete static_cast<Constraint*>(staying.front());
  EXPECT_TRUE(agenda.empty());
}

// A constraint that only counts its executions, each over its own variable, so that the model
// of what the default propagator queues stays simple: creation and activation queue it, a
// change of its variable queues it while it is active, deactivation and deletion take it off.
class DefaultAgendaTest : public NetworkFixture {};

TEST_F(DefaultAgendaTest, RunsWhatASetOrderedByKeyWouldRun) {
  for (unsigned int seed = 1; seed <= 4; ++seed) {
    std::mt19937 random(seed);
    RecordingEngineListener listener(engine());
    std::vector<TestConstraint*> live;
    std::vector<Id<ConstrainedVariable> > vars;
    std::vector<unsigned int> deactivations;
    ByKey model;
    int made = 0;
    for (int step = 0; step < 1500; ++step) {
      const int roll = static_cast<int>(random() % 100);
      const std::size_t pick = live.empty() ? 0 : random() % live.size();
      if (roll < 25 || live.empty()) {
        vars.push_back(intVar("v", 0, 1000));
        live.push_back(new TestConstraint("c" + std::to_string(made++), "Default", engine(), makeScope(vars.back())));
        deactivations.push_back(0);
        model.insert(live.back()->getId());
      } else if (roll < 40) {
        if (deactivations[pick]++ == 0)
          model.erase(live[pick]->getId());
        live[pick]->deactivate();
      } else if (roll < 55) {
        if (deactivations[pick] == 0)
          continue;
        if (--deactivations[pick] == 0)
          model.insert(live[pick]->getId());
        live[pick]->undoDeactivation();
      } else if (roll < 65) {
        model.erase(live[pick]->getId());
        delete live[pick];
        live.erase(live.begin() + static_cast<long>(pick));
        deactivations.erase(deactivations.begin() + static_cast<long>(pick));
        delete static_cast<ConstrainedVariable*>(vars[pick]);
        vars.erase(vars.begin() + static_cast<long>(pick));
      } else if (roll < 90) {
        AbstractDomain& dom = vars[pick]->getCurrentDomain();
        if (dom.getUpperBound() <= dom.getLowerBound())
          continue;
        dom.intersect(dom.getLowerBound(), dom.getUpperBound() - 1.0);
        if (deactivations[pick] == 0)
          model.insert(live[pick]->getId());
      } else {
        std::vector<std::string> expected;
        for (const Id<Constraint>& constraint : model)
          expected.push_back("L executed " + constraint->getName().toString());
        model.clear();
        listener.clear();
        ASSERT_TRUE(m_engine->propagate());
        std::vector<std::string> executed;
        for (const std::string& event : listener.events())
          if (event.compare(0, 11, "L executed ") == 0)
            executed.push_back(event);
        ASSERT_EQ(executed, expected) << "seed " << seed << " step " << step;
      }
      ASSERT_EQ(m_propagator->updateRequired(), !model.empty()) << "seed " << seed << " step " << step;
    }
    for (TestConstraint* constraint : live)
      delete constraint;
    for (const Id<ConstrainedVariable>& var : vars)
      delete static_cast<ConstrainedVariable*>(var);
    m_engine->propagate();
  }
}

// Constraints purged behind the engine's back stay queued: the check reports the lowest-keyed
// of them, as a walk of the agenda in key order would, whatever order they were queued in.
TEST_F(DefaultAgendaTest, TheCheckOfTheAgendaReportsTheLowestKeyedStaleConstraint) {
  Id<ConstrainedVariable> x = intVar("x", 0, 10);
  TestConstraint* first = new TestConstraint("first", "Default", engine(), makeScope(x));
  TestConstraint* second = new TestConstraint("second", "Default", engine(), makeScope(x));
  TestConstraint* third = new TestConstraint("third", "Default", engine(), makeScope(x));
  // The first is queued again behind the others.
  first->deactivate();
  first->undoDeactivation();
  std::ostringstream firstHandle;
  firstHandle << first->getId();
  Entity::purgeStart();
  delete third;
  delete first;
  Entity::purgeEnd();
  const Error failure = failureOf([this] { m_propagator->isValid(); });
  EXPECT_EQ(failure.getCondition(), "constraint.isValid()");
  EXPECT_EQ(failure.getMessage(), firstHandle.str());
  Entity::purgeStart();
  delete second;
  delete static_cast<ConstrainedVariable*>(x);
  Entity::purgeEnd();
}

} // namespace
} // namespace KALDEN
