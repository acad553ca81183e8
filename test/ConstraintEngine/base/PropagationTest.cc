#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
#include "ConstraintEngine/component/Propagators.hh"
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

// The events of a log that begin with one of the given words (after the listener's tag).
Events only(const Events& log, const std::vector<std::string>& kinds) {
  Events kept;
  for (const std::string& event : log)
    for (const std::string& kind : kinds)
      if (event.compare(2, kind.size() + 1, kind + " ") == 0 || event.substr(2) == kind)
        kept.push_back(event);
  return kept;
}

const std::vector<std::string> RUNS{"commenced", "executed", "completed", "preempted"};

// A second propagator that runs through the engine what it is given.
class RunningPropagator : public TestPropagator {
public:
  RunningPropagator(const LabelStr& name, const Id<ConstraintEngine>& engine) : TestPropagator(name, engine) {}

protected:
  void runConstraint(const Id<Constraint>& constraint) override { Propagator::execute(constraint); }
};

class PropagationTest : public NetworkFixture {
protected:
  Constraint* leq(const char* name, const Id<ConstrainedVariable>& x, const Id<ConstrainedVariable>& y,
                  const char* propagator = "Default") {
    return new LessThanEqualTestConstraint(name, propagator, engine(), makeScope(x, y));
  }
};

TEST_F(PropagationTest, NetworksReachTheirFixpointRunningLowestKeyFirst) {
  RecordingEngineListener listener(engine());
  Id<ConstrainedVariable> x = intVar("x", 0, 10), y = intVar("y", 0, 5), z = intVar("z", 1, 3);
  leq("c1", x, y);
  leq("c2", y, z);
  Id<ConstrainedVariable> a = enumVar("a", {1, 2, 3, 4}), b = enumVar("b", {2, 3, 4, 5}), c = enumVar("c", {0, 3, 4});
  new EqualTestConstraint("ab", "Default", engine(), makeScope(a, b));
  new EqualTestConstraint("bc", "Default", engine(), makeScope(b, c));
  listener.clear();

  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(x->toString() + y->toString() + z->toString(), "[0,3][0,3][1,3]");
  EXPECT_EQ(a->toString() + b->toString() + c->toString(), "{3, 4}{3, 4}{3, 4}");
  // c2's narrowing of y queues c1 again, whose key comes before ab's; a constraint's own changes never queue it.
  EXPECT_EQ(only(listener.events(), RUNS), (Events{"L commenced", "L executed c1", "L executed c2", "L executed c1",
                                                   "L executed ab", "L executed bc", "L executed ab", "L completed"}));
  EXPECT_TRUE(m_engine->constraintConsistent() && !m_engine->pending());
  listener.clear();
  EXPECT_TRUE(m_engine->propagate()); // clean: nothing runs, nobody is told
  EXPECT_TRUE(listener.events().empty());
}

TEST_F(PropagationTest, RunsAreCountedAndAnnouncedOnlyWhenTheyDoWork) {
  RecordingEngineListener listener(engine());
  CapturedTraces traces("ConstraintEngine:propagate");
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(traces.text(), "[ConstraintEngine:propagate]Nothing to do, bailing out\n"
                           "[ConstraintEngine:propagate]\nDefault() enabled=1 updateRequired=0\n\n\n");
  // A change with no constraint to run: each run counts two cycles, tells nobody and leaves the engine dirty.
  Id<ConstrainedVariable> x = intVar("x", 0, 10);
  x->getCurrentDomain().intersect(0, 5);
  listener.clear();
  EXPECT_TRUE(m_engine->propagate() && m_engine->propagate());
  EXPECT_TRUE(listener.events().empty());
  EXPECT_NE(traces.text().find("Completed without doing any work\n[ConstraintEngine:propagate]Completed without"),
            std::string::npos);
  // Relaxing opens a cycle, which stamps the variable and records the cycle: 1 + 2 + 2 + 1.
  x->reset();
  EXPECT_TRUE(m_engine->isRelaxed() && m_engine->pending());
  EXPECT_EQ(x->lastRelaxed(), 6);
  EXPECT_EQ(m_engine->mostRecentRepropagation(), 6);
  Id<ConstrainedVariable> y = intVar("y", 0, 3);
  leq("c", x, y);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_FALSE(m_engine->isRelaxed());
  x->reset();
  EXPECT_EQ(y->lastRelaxed(), 9); // reached through c
}

TEST_F(PropagationTest, PropagatingFromInsideARunIsRefusedButAllowedOnceItEnded) {
  struct Reentrant : ConstraintEngineListener {
    Reentrant(const Id<ConstraintEngine>& e) : ConstraintEngineListener(e), engine(e) {}
    void notifyPropagationCommenced() override {
      if (early)
        engine->propagate();
    }
    void notifyPropagationCompleted() override { nested = engine->propagate(); }
    const Id<ConstraintEngine>& engine;
    bool early = true, nested = false;
  } listener(engine());
  Id<ConstrainedVariable> x = intVar("x", 0, 10), y = intVar("y", 0, 3);
  leq("c", x, y);
  const Error failure = failureOf([&] { m_engine->propagate(); });
  EXPECT_EQ(failure.getCondition(), "!m_propInProgress");
  EXPECT_EQ(failure.getMessage(), "Attempted to propagate while in propagation. Not allowed to call this cyclically.");
  EXPECT_FALSE(m_engine->isPropagating()); // the refusal left the engine usable
  listener.early = false;
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(listener.nested);
  EXPECT_EQ(x->toString(), "[0,3]");
}

TEST_F(PropagationTest, EarlierPropagatorsGoFirstAndDisabledOnesNeverRun) {
  RecordingEngineListener listener(engine());
  RunningPropagator* second = new RunningPropagator("Second", engine());
  Id<ConstrainedVariable> x = intVar("x", 0, 10), y = intVar("y", 0, 10), z = intVar("z", 0, 4);
  leq("a", x, y);
  leq("s", y, z, "Second");
  second->disable();
  listener.clear();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(only(listener.events(), {"executed"}), (Events{"L executed a"}));
  second->enable();
  x->touch();
  listener.clear();
  EXPECT_TRUE(m_engine->propagate());
  // s narrows y, which queues a with the first propagator: it runs before s's second turn.
  EXPECT_EQ(only(listener.events(), {"executed"}),
            (Events{"L executed a", "L executed s", "L executed a", "L executed s"}));
}

TEST_F(PropagationTest, ExecutionIsRefusedOutsideARunAndOverInactiveVariables) {
  Id<ConstrainedVariable> x = intVar("x", 0, 10), y = intVar("y", 0, 10);
  Constraint* c = leq("c", x, y);
  EXPECT_CHECK_FAILS(m_engine->execute(c->getId()), "m_propInProgress");
  EXPECT_CHECK_FAILS(m_engine->execute(c->getId(), x, 0, DomainListener::RELAXED), "m_propInProgress");
  y->deactivate();
  c->undoDeactivation(); // active over an inactive variable: the client's fault
  const Error failure = failureOf([&] { m_engine->propagate(); });
  EXPECT_EQ(failure.getCondition(), "allActiveVariables(constraint->getScope())");
  EXPECT_EQ(failure.getMessage(),
            "All variables of an active constraint must also be active. Clients must ensure this happens. " +
                c->toString());
  c->deactivate();
  y->undoDeactivation();
  x->getCurrentDomain().empty();
  EXPECT_CHECK_FAILS(m_engine->execute(c->getId()), "!provenInconsistent() && constraint.isValid()");
}

TEST_F(PropagationTest, TheAgendaRunsInKeyOrderWhateverTheOrderOfQueueing) {
  RecordingEngineListener listener(engine());
  std::vector<Id<ConstrainedVariable> > vars;
  std::vector<TestConstraint*> cs;
  for (const char* name : {"c0", "c1", "c2"}) {
    vars.push_back(intVar(name, 0, 10));
    cs.push_back(new TestConstraint(name, "Default", engine(), makeScope(vars.back())));
  }
  EXPECT_TRUE(m_engine->propagate());
  listener.clear();
  for (int i : {2, 0, 1, 0})
    vars[i]->touch();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(only(listener.events(), {"executed"}), (Events{"L executed c0", "L executed c1", "L executed c2"}));
}

TEST_F(PropagationTest, EmptiedDomainPreemptsTheRun) {
  RecordingEngineListener listener(engine());
  Id<ConstrainedVariable> x = intVar("x", 5, 10), y = intVar("y", 0, 3), z = intVar("z", 0, 3);
  Constraint* c = leq("c", x, y);
  leq("d", y, z);
  listener.clear();
  EXPECT_FALSE(m_engine->propagate());
  EXPECT_EQ(only(listener.events(), RUNS), (Events{"L commenced", "L executed c", "L preempted"}));
  EXPECT_TRUE(m_engine->provenInconsistent());
  EXPECT_FALSE(m_engine->constraintConsistent() || m_engine->pending());
  EXPECT_FALSE(m_propagator->updateRequired()); // d never ran: the agenda was cleared
  EXPECT_EQ(m_engine->getViolation(), 1.0);
  EXPECT_EQ(m_engine->getViolationExpl().size(), 0);
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
  Id<ConstrainedVariable> x = intVar("x", 5, 10), y = intVar("y", 0, 3), z = intVar("z", 0, 2);
  Constraint* c = leq("c", x, y);
  leq("d", y, z);
  listener.clear();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(only(listener.events(), {"commenced", "executed", "completed", "preempted", "deactivatedConstraint",
                                     "violationAdded"}),
            (Events{"L commenced", "L executed c", "L deactivatedConstraint c", "L violationAdded c", "L preempted",
                    "L commenced", "L executed d", "L completed"}));
  EXPECT_EQ(x->toString() + y->toString(), "[5,10][0,2]"); // x relaxed, and left alone by the violated c
  EXPECT_FALSE(c->isActive() || m_engine->provenInconsistent());
  ASSERT_EQ(m_engine->getViolationExpl().size(), 1);
  const std::string expl = "c(x(" + std::to_string(x->getKey()) + "),y(" + std::to_string(y->getKey()) + "))";
  EXPECT_EQ(m_engine->getViolationExpl().get(0), expl);
  EXPECT_EQ(m_engine->getAllViolations().get(0), static_cast<PSConstraint*>(c->getId()));
  EXPECT_EQ(x->getViolation() + z->getViolation(), 1.0);
  EXPECT_EQ(x->getViolationExpl(), expl + "\n");
  EXPECT_CHECK_FAILS(m_engine->setAllowViolations(false), "m_violatedConstraints.size() == 0");
  c->notifyNoLongerViolated();
  EXPECT_TRUE(c->isActive() && !m_engine->isViolated(c->getId()));
  EXPECT_EQ(listener.events().back(), "L violationRemoved c");
  EXPECT_CHECK_FAILS(c->notifyNoLongerViolated(), "isViolated(c)");
}

TEST_F(PropagationTest, AConstraintBlamedTwiceInOneExecutionIsSetAsideOnce) {
  m_engine->setAllowViolations(true);
  RecordingEngineListener listener(engine());
  Id<ConstrainedVariable> x = intVar("x", 0, 1), y = intVar("y", 0, 1);
  Constraint* never = new NeverTestConstraint("never", "Default", engine(), makeScope(x, y));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(only(listener.events(), {"violationAdded", "deactivatedConstraint"}),
            (Events{"L deactivatedConstraint never", "L violationAdded never"}));
  EXPECT_EQ(x->toString() + y->toString(), "[0,1][0,1]");
  never->notifyNoLongerViolated(); // one withdrawal makes it active again
  EXPECT_TRUE(never->isActive());
}

TEST_F(PropagationTest, AFailedRunThatSetsNoConstraintAsideIsNotRepeated) {
  // A listener that empties a domain whenever a constraint is about to run: no constraint is to blame.
  struct Spoiler : ConstraintEngineListener {
    Spoiler(const Id<ConstraintEngine>& e, const Id<ConstrainedVariable>& v) : ConstraintEngineListener(e), victim(v) {}
    void notifyExecuted(const Id<Constraint>&) override { victim->getCurrentDomain().empty(); }
    Id<ConstrainedVariable> victim;
  };
  m_engine->setAllowViolations(true);
  Id<ConstrainedVariable> x = intVar("x", 0, 10), y = intVar("y", 0, 10);
  leq("c", x, y);
  Spoiler spoiler(engine(), y);
  EXPECT_FALSE(m_engine->propagate());
  EXPECT_TRUE(m_engine->provenInconsistent());
  EXPECT_EQ(m_engine->getAllViolations().size(), 0);
  // Nor is one whose emptied domain relaxation cannot refill.
  Id<ConstrainedVariable> none = enumVar("none", {});
  EXPECT_FALSE(m_engine->propagate());
  EXPECT_TRUE(m_engine->getViolationMgr().isEmpty(none));
}

TEST_F(PropagationTest, RelaxingEmptiedVariablesKeepsWhatIsRecordedMeanwhile) {
  // A listener that, when `trigger` is relaxed, empties `spoil` and deletes `victim`.
  struct Meddler : ConstraintEngineListener {
    Meddler(const Id<ConstraintEngine>& e) : ConstraintEngineListener(e) {}
    void notifyChanged(const Id<ConstrainedVariable>& v, const DomainListener::ChangeType& change) override {
      if (v != trigger || change != DomainListener::RELAXED)
        return;
      spoil->getCurrentDomain().empty();
      delete static_cast<ConstrainedVariable*>(victim);
    }
    Id<ConstrainedVariable> trigger, spoil, victim;
  } meddler(engine());
  meddler.trigger = intVar("a", 0, 10);
  meddler.victim = intVar("b", 0, 10);
  meddler.spoil = intVar("c", 0, 10);
  meddler.trigger->getCurrentDomain().empty();
  meddler.victim->getCurrentDomain().empty();
  EXPECT_FALSE(m_engine->propagate()); // c, emptied while the records were walked, is still recorded
  EXPECT_EQ(m_engine->getViolationMgr().getEmptyVariables().size(), 1u);
  EXPECT_TRUE(m_engine->getViolationMgr().isEmpty(meddler.spoil));
}

} // namespace
} // namespace KALDEN
