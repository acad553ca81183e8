#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
#include "ConstraintEngine/component/Constraints.hh"
#include "ConstraintEngine/component/Propagators.hh"
#include "support/CapturedTraces.hh"
#include "support/ConstraintCatalogue.hh"
#include "support/EngineFixture.hh"
#include "support/Failure.hh"
#include "support/RecordingEngineListener.hh"
#include "support/TestConstraints.hh"

#include <gtest/gtest.h>

#include <functional>
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

// A second propagator that runs what it is given through the engine; `visit` may act instead.
class RunningPropagator : public TestPropagator {
public:
  RunningPropagator(const LabelStr& name, const Id<ConstraintEngine>& engine) : TestPropagator(name, engine) {}
  std::function<void(const Id<Constraint>&)> visit;

protected:
  void runConstraint(const Id<Constraint>& constraint) override {
    if (visit)
      visit(constraint);
    else
      Propagator::execute(constraint);
  }
};

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

  // Nothing changed since: the next call answers alike at once, doing and telling nothing.
  listener.clear();
  EXPECT_FALSE(m_engine->propagate());
  EXPECT_EQ(listener.events(), Events{});
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
  EXPECT_EQ(only(listener.events(),
                 {"commenced", "executed", "completed", "preempted", "deactivatedConstraint", "violationAdded"}),
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

// Told that a run failed, a listener resets every emptied variable. The model is the same, and
// so is the answer: propagate() answers false after one run. Reset while specified, the
// variable is another model: the call goes on, and answers as a fresh engine would.
TEST_F(PropagationTest, AFailedRunGoesOnOnlyWhenADeedChangedTheModel) {
  struct Resetter : RecordingEngineListener {
    using RecordingEngineListener::RecordingEngineListener;
    void notifyPropagationCommenced() override {
      RecordingEngineListener::notifyPropagationCommenced();
      ++runs;
    }
    void notifyPropagationPreempted() override {
      RecordingEngineListener::notifyPropagationPreempted();
      // Bounded, so that a call that would go on for ever ends the test instead.
      const std::vector<Id<ConstrainedVariable> > all(engine->getVariables().begin(), engine->getVariables().end());
      for (const Id<ConstrainedVariable>& v : all)
        if (runs < 5 && (v->lastDomain().isEmpty() || v->isSpecified()))
          v->reset();
    }
    ConstraintEngine* engine = nullptr;
    int runs = 0;
  };
  Resetter listener(engine());
  listener.engine = m_engine.get();
  for (bool specified : {false, true}) {
    SCOPED_TRACE(specified);
    const Id<ConstrainedVariable> x = intVar("x", 0, specified ? 9 : 2), y = intVar("y", 5, 9);
    if (specified)
      x->specify(0);
    new EqualConstraint("eq", "Default", engine(), makeScope(x, y));
    listener.runs = 0;
    EXPECT_EQ(m_engine->propagate(), specified);
    EXPECT_EQ(listener.runs, specified ? 2 : 1);
    EXPECT_EQ(bounds(x), specified ? "[5,9]" : "[0,2]");
    for (const Id<ConstrainedVariable>& v : {x, y})
      delete static_cast<ConstrainedVariable*>(v);
  }
}

// A run whose opening relaxation withdraws a violation and then sets the same constraint
// aside again did set a constraint aside: propagation goes on.
TEST_F(PropagationTest, AConstraintSetAsideAgainInTheNextRunLetsPropagationGoOn) {
  m_engine->setAllowViolations(true);
  Id<ConstrainedVariable> x = intVar("x", 5, 10);
  Id<ConstrainedVariable> y = intVar("y", 0, 3);
  Constraint* c = leq("c", x, y);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(m_engine->isViolated(c->getId()));
  y->getCurrentDomain().empty();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_FALSE(m_engine->provenInconsistent());
  EXPECT_TRUE(m_engine->isViolated(c->getId()));
  EXPECT_EQ(bounds(x), "[5,10]");
}

TEST_F(PropagationTest, ADomainThatRelaxationCannotRefillKeepsTheEngineInconsistent) {
  m_engine->setAllowViolations(true);
  Id<ConstrainedVariable> none = enumVar("none", {});
  EXPECT_TRUE(m_engine->pending());
  EXPECT_FALSE(m_engine->propagate());
  EXPECT_TRUE(m_engine->provenInconsistent());
  EXPECT_TRUE(m_engine->getViolationMgr().isEmpty(none));
}

TEST_F(PropagationTest, RunsAreCountedAndAnnouncedOnlyWhenTheyDoWork) {
  RecordingEngineListener listener(engine());
  CapturedTraces traces("ConstraintEngine:propagate");
  EXPECT_TRUE(m_engine->propagate()); // nothing was ever added: clean
  EXPECT_EQ(traces.text(), "[ConstraintEngine:propagate]Nothing to do, bailing out\n"
                           "[ConstraintEngine:propagate]\nDefault() enabled=1 updateRequired=0\n\n\n");

  // A change with no constraint to run: each run counts two cycles, tells nobody and leaves the engine dirty.
  Id<ConstrainedVariable> x = intVar("x", 0, 10);
  x->getCurrentDomain().intersect(0, 5);
  listener.clear();
  for (int i = 0; i < 2; ++i)
    EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(listener.events().empty());
  EXPECT_NE(traces.text().find("[ConstraintEngine:propagate]Completed without doing any work\n"
                               "[ConstraintEngine:propagate]Completed without doing any work\n"),
            std::string::npos);
  // Relaxing opens a cycle, which stamps the variable and records the cycle: 1 + 2 + 2 + 1.
  x->reset();
  EXPECT_TRUE(m_engine->isRelaxed());
  EXPECT_EQ(x->lastRelaxed(), 6);
  EXPECT_EQ(m_engine->mostRecentRepropagation(), 6);
  EXPECT_TRUE(m_engine->pending());

  Id<ConstrainedVariable> y = intVar("y", 0, 3);
  leq("c", x, y);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_FALSE(m_engine->isRelaxed());
  x->reset();
  EXPECT_EQ(x->lastRelaxed(), 9);
  EXPECT_EQ(y->lastRelaxed(), 9); // reached through c
  EXPECT_EQ(m_engine->mostRecentRepropagation(), 9);
}

TEST_F(PropagationTest, PropagatingFromInsideARunOrItsEndIsRefused) {
  struct Reentrant : RecordingEngineListener {
    Reentrant(const Id<ConstraintEngine>& e) : RecordingEngineListener(e), engine(e) {}
    void notifyPropagationCommenced() override {
      RecordingEngineListener::notifyPropagationCommenced();
      inRun = engine->isPropagating();
      if (onCommenced)
        engine->propagate();
    }
    void notifyPropagationCompleted() override {
      RecordingEngineListener::notifyPropagationCompleted();
      afterRun = engine->isPropagating();
      nested = engine->propagate();
    }
    const Id<ConstraintEngine>& engine;
    bool onCommenced = true, inRun = false, afterRun = true, nested = false;
  } listener(engine());
  Id<ConstrainedVariable> x = intVar("x", 0, 10);
  Id<ConstrainedVariable> y = intVar("y", 0, 3);
  leq("c", x, y);
  const Error failure = failureOf([&] { m_engine->propagate(); });
  EXPECT_EQ(failure.getCondition(), "!m_propInProgress");
  EXPECT_EQ(failure.getMessage(), "Attempted to propagate while in propagation. Not allowed to call this cyclically.");
  EXPECT_TRUE(listener.inRun);
  EXPECT_FALSE(m_engine->isPropagating()); // the refusal left the engine usable

  // Told that the run completed, it is still inside the client's call: a run there would be
  // heard before the others hear the end. The refusal leaves the answer to the outer call.
  listener.onCommenced = false;
  x->relax();
  const Error nested = failureOf([&] { m_engine->propagate(); });
  EXPECT_EQ(nested.getCondition(), "!isInsideCall()");
  EXPECT_FALSE(listener.afterRun);
  EXPECT_FALSE(listener.nested);
  EXPECT_EQ(bounds(x), "[0,3]");
  EXPECT_FALSE(m_engine->pending());
}

// Whatever a listener changes when told a run completed (a creation by name, a specify, a reset,
// a base restricted, an insertion into an open base), propagate() answers at the fixpoint of what
// it left, and tells the end again once there.
TEST_F(PropagationTest, ADeedHeardAtTheEndOfARunIsPropagatedBeforeTheAnswer) {
  registerCatalogue(*m_schema);
  RecordingEngineListener listener(engine());
  const char* const expected[] = {"[0,2]", "[0,3]", "[0,10]", "[0,3]", "[0,4]"};
  for (int way = 0; way < 5; ++way) {
    SCOPED_TRACE(way);
    // y <= w; w is specified to 4 over [0,10] for the reset; o is held within s.
    const Id<ConstrainedVariable> y = intVar("y", 0, 10), w = intVar("w", 0, way == 2 ? 10 : 4);
    const Id<ConstrainedVariable> o = openEnum("o", {1, 2, 3, 7}, FloatDT::instance()), s = enumVar("s", {1, 2, 3});
    if (way == 2)
      w->specify(4);
    leq("yw", y, w);
    new SubsetOfConstraint("subsetOf", "Default", engine(), makeScope(o, s));
    listener.clear();
    listener.actAt("completed", [&] {
      if (way == 0)
        m_engine->createConstraint("leq", makeScope(w, intVar("z", 0, 2)));
      else if (way == 1)
        w->specify(3);
      else if (way == 2)
        w->reset();
      else if (way == 3)
        w->restrictBaseDomain(IntervalIntDomain(0, 3, IntDT::instance()));
      else
        o->insert(9);
    });
    EXPECT_TRUE(m_engine->propagate());
    EXPECT_FALSE(listener.armed());
    EXPECT_EQ(bounds(y), expected[way]);
    EXPECT_TRUE(o->lastDomain().isClosed() && o->lastDomain().getSize() == 3u) << o->lastDomain().toString();
    EXPECT_FALSE(m_engine->pending());
    EXPECT_EQ(only(listener.events(), {"completed"}), (Events{"L completed", "L completed"}));
    EXPECT_EQ(listener.events().back(), "L completed");
    const std::vector<Id<ConstrainedVariable> > all(m_engine->getVariables().begin(), m_engine->getVariables().end());
    for (const Id<ConstrainedVariable>& v : all)
      delete static_cast<ConstrainedVariable*>(v);
  }

  // Told that a redundant constraint retired (after the end was told), a listener makes another by
  // name: it is propagated too, and retiring finds nothing amiss.
  Constraint* r = leq("r", intVar("x", 2, 2), intVar("z", 3, 3));
  const Id<ConstrainedVariable> a = intVar("a", 0, 10), b = intVar("b", 0, 5);
  listener.actAt("deactivatedConstraint r", [&] { m_engine->createConstraint("leq", makeScope(a, b)); });
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_FALSE(listener.armed());
  EXPECT_TRUE(r->isRetired());
  EXPECT_EQ(bounds(a), "[0,5]");
  EXPECT_FALSE(m_engine->pending());
}

// Told that a run failed, a listener deletes the culprit (through the engine, which would
// propagate, or directly): propagate() goes on from what the deletion refilled, and answers true.
TEST_F(PropagationTest, ACulpritDeletedWhenTheRunFailsLetsPropagateAnswerTrue) {
  RecordingEngineListener listener(engine());
  ASSERT_TRUE(m_engine->getAutoPropagation());
  for (bool byEngine : {true, false}) {
    SCOPED_TRACE(byEngine ? "deleteConstraint" : "delete");
    const Id<ConstrainedVariable> a = intVar("a", 5, 10), b = intVar("b", 0, 3), c = intVar("c", 0, 10);
    Constraint* culprit = leq("culprit", a, b);
    leq("other", c, a);
    listener.actAt("preempted", [&] {
      if (byEngine)
        m_engine->deleteConstraint(culprit->getId());
      else
        delete culprit;
    });
    EXPECT_TRUE(m_engine->propagate());
    EXPECT_FALSE(listener.armed());
    EXPECT_FALSE(m_engine->pending());
    EXPECT_FALSE(m_engine->provenInconsistent());
    EXPECT_EQ(bounds(a), "[5,10]");
    EXPECT_EQ(bounds(b), "[0,3]");
    EXPECT_EQ(bounds(c), "[0,10]");
    for (const Id<ConstrainedVariable>& v : {a, b, c})
      delete static_cast<ConstrainedVariable*>(v);
  }
}

TEST_F(PropagationTest, EarlierPropagatorsGoFirstAndDisabledOnesNeverRun) {
  RecordingEngineListener listener(engine());
  RunningPropagator* second = new RunningPropagator("Second", engine());
  Id<ConstrainedVariable> x = intVar("x", 0, 10);
  Id<ConstrainedVariable> y = intVar("y", 0, 10);
  Id<ConstrainedVariable> z = intVar("z", 0, 4);
  leq("a", x, y);
  new LessThanEqualTestConstraint("s", "Second", engine(), makeScope(y, z));

  second->disable();
  listener.clear();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(only(listener.events(), {"executed"}), (Events{"L executed a"}));
  EXPECT_TRUE(m_engine->constraintConsistent());
  EXPECT_TRUE(second->updateRequired());

  second->enable();
  x->touch(); // something to do for both
  listener.clear();
  EXPECT_TRUE(m_engine->propagate());
  // s narrows y, which queues a with the first propagator: it runs before s's second turn.
  EXPECT_EQ(only(listener.events(), {"executed"}),
            (Events{"L executed a", "L executed s", "L executed a", "L executed s"}));
  EXPECT_EQ(bounds(x), "[0,4]");
}

TEST_F(PropagationTest, ExecutionIsCheckedBeforeAnythingHappens) {
  RecordingEngineListener listener(engine());
  Id<ConstrainedVariable> x = intVar("x", 0, 10);
  Id<ConstrainedVariable> y = intVar("y", 0, 10);
  Constraint* c = leq("c", x, y);
  EXPECT_TRUE(m_engine->propagate());
  listener.clear();
  EXPECT_CHECK_FAILS(m_engine->execute(c->getId()), "m_propInProgress");
  EXPECT_CHECK_FAILS(m_engine->execute(c->getId(), x, 0, DomainListener::RELAXED), "m_propInProgress");
  EXPECT_CHECK_FAILS(m_engine->execute(Id<Constraint>::noId()), "!hasEmptyVariables() && constraint.isValid()");
  EXPECT_TRUE(listener.events().empty());

  // A client cannot undo the deactivation the engine made for a switched-off variable: the
  // constraint stays off, as it was.
  y->deactivate();
  EXPECT_CHECK_FAILS(c->undoDeactivation(), "m_clientDeactivations > 0");
  EXPECT_FALSE(c->isActive());
  // Should a propagator or composite do so wrongly, the execution is refused, naming the constraint.
  c->undoDeactivationByEngine();
  const Error failure = failureOf([&] { m_engine->propagate(); });
  EXPECT_EQ(failure.getCondition(), "allActiveVariables(constraint->getScope())");
  EXPECT_EQ(failure.getMessage(),
            "All variables of an active constraint must also be active. Clients must ensure this happens. " +
                c->toString());
  EXPECT_FALSE(m_engine->isPropagating());
  // The form for one change looks only at the changed variable.
  RunningPropagator* second = new RunningPropagator("Second", engine());
  second->visit = [&](const Id<Constraint>& constraint) {
    m_engine->execute(constraint, constraint->getScope()[0], 0, DomainListener::UPPER_BOUND_DECREASED);
  };
  Constraint* d = new LessThanEqualTestConstraint("d", "Second", engine(), makeScope(x, y));
  d->undoDeactivationByEngine();
  x->getCurrentDomain().intersect(0, 5);
  c->deactivate();
  listener.clear();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(only(listener.events(), {"executed"}), (Events{"L executed d"}));

  // Once a domain is recorded empty, nothing may run.
  // Give back what was taken: y's reactivation undoes the engine's deactivation of each of its constraints.
  c->undoDeactivation();
  c->deactivateByEngine();
  d->deactivateByEngine();
  y->undoDeactivation();
  EXPECT_TRUE(c->isActive() && d->isActive());
  x->getCurrentDomain().empty();
  EXPECT_CHECK_FAILS(m_engine->execute(c->getId()), "!hasEmptyVariables() && constraint.isValid()");
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
  vars[2]->touch();
  vars[0]->touch();
  vars[1]->touch();
  vars[0]->touch();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(only(listener.events(), {"executed"}), (Events{"L executed c0", "L executed c1", "L executed c2"}));
  for (TestConstraint* c : cs)
    EXPECT_EQ(c->executions(), 2);

  // A constraint deactivated while queued leaves the agenda at once.
  vars[1]->touch();
  cs[1]->deactivate();
  EXPECT_FALSE(m_propagator->updateRequired());
  // Reactivated, it is queued again.
  cs[1]->undoDeactivation();
  EXPECT_TRUE(m_propagator->updateRequired());
  CapturedTraces traces("DefaultPropagator:");
  vars[0]->getCurrentDomain().intersect(0, 5);
  EXPECT_TRUE(m_engine->propagate());
  const std::string key0 = std::to_string(cs[0]->getKey());
  EXPECT_EQ(traces.text(), "[DefaultPropagator:handleNotification]Adding to the agenda: c0(" + key0 +
                               ") because of UPPER_BOUND_DECREASED change to [0,5]\n");
}

TEST_F(PropagationTest, ListenersSeeTheDomainsAsTheyWereBeforeTheExecution) {
  struct Watcher : RecordingEngineListener {
    Watcher(const Id<ConstraintEngine>& e, const Id<ConstrainedVariable>& v) : RecordingEngineListener(e), var(v) {}
    void notifyExecuted(const Id<Constraint>&) override { seen.push_back(bounds(var)); }
    Id<ConstrainedVariable> var;
    Events seen;
  };
  Id<ConstrainedVariable> x = intVar("x", 0, 10);
  Id<ConstrainedVariable> y = intVar("y", 0, 3);
  leq("c", x, y);
  Watcher watcher(engine(), x);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(watcher.seen, (Events{"[0,10]"}));
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

  // c, emptied while the records were walked, is recorded and fails that run; the deletion
  // changed the model, so the call goes on, and the next run's relaxation refills c.
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_FALSE(m_engine->provenInconsistent());
  EXPECT_TRUE(m_engine->getViolationMgr().getEmptyVariables().empty());
  EXPECT_FALSE(meddler.spoil->lastDomain().isEmpty());
  EXPECT_FALSE(meddler.trigger->lastDomain().isEmpty());
}

} // namespace
} // namespace KALDEN
