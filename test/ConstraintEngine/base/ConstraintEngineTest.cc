#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
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

// A variable whose deactivation count a test can raise directly.
class SwitchableVariable : public Variable<IntervalDomain> {
public:
  SwitchableVariable(const Id<ConstraintEngine>& engine, const char* name)
      : Variable<IntervalDomain>(engine, IntervalDomain(0, 10, FloatDT::instance()), false, true, name,
                                 Id<Entity>::noId(), NO_INDEX) {}
  void setActive(bool active) { m_deactivationRefCount = active ? 0 : 1; }
};

class ConstraintEngineTest : public EngineFixture {
protected:
  TestConstraint* constrain(const char* name, const std::vector<Id<ConstrainedVariable> >& scope) {
    return new TestConstraint(name, "Default", engine(), scope);
  }
};

TEST_F(ConstraintEngineTest, FreshEngine) {
  EXPECT_TRUE(m_engine->getAutoPropagation());
  EXPECT_FALSE(m_engine->isPropagating());
  EXPECT_EQ(m_engine->mostRecentRepropagation(), 1);
  EXPECT_FALSE(m_engine->getAllowViolations());
  EXPECT_EQ(m_engine->getViolation(), 0.0);
  EXPECT_FALSE(m_engine->provenInconsistent());
  EXPECT_TRUE(m_engine->constraintConsistent());
  EXPECT_FALSE(m_engine->pending());
  EXPECT_TRUE(m_engine->getVariables().empty());
  EXPECT_EQ(m_engine->getCESchema(), m_schema->getId());
  EXPECT_EQ(m_engine->getPropagatorByName("Default"), m_propagator->getId());
  EXPECT_TRUE(m_engine->getPropagatorByName("Other").isNoId());
  m_engine->setAllowViolations(true);
  EXPECT_TRUE(m_engine->getAllowViolations());
  EXPECT_EQ(m_engine->getViolationMgr().getMaxViolationsAllowed(), 2147483647u);
}

// Every event of a life cycle, told to two listeners in the order they registered, wherever they lie.
TEST_F(ConstraintEngineTest, ListenersHearEveryEventInTheOrderTheyRegistered) {
  Events log;
  std::unique_ptr<RecordingEngineListener> a(new RecordingEngineListener(engine(), &log, "A"));
  std::unique_ptr<RecordingEngineListener> b(new RecordingEngineListener(engine(), &log, "B"));
  const std::string first = "A";
  const std::string second = "B";
  auto both = [&](const std::string& event) { return Events{first + " " + event, second + " " + event}; };
  auto expect = [&](std::initializer_list<std::string> events) {
    Events expected;
    for (const std::string& event : events)
      for (const std::string& told : both(event))
        expected.push_back(told);
    EXPECT_EQ(log, expected);
    log.clear();
  };

  Id<ConstrainedVariable> x = floatVar("x", 0, 10);
  expect({"addedVariable x", "changed x CLOSED"});
  Id<ConstrainedVariable> y = floatVar("y", 0, 10);
  log.clear();
  TestConstraint* c = constrain("c", makeScope(x, y));
  expect({"addedConstraint c"});
  x->getCurrentDomain().intersect(0, 5);
  expect({"changed x UPPER_BOUND_DECREASED"});
  delete c; // an active constraint's removal relaxes its scope
  expect({"changed x RELAXED", "removedConstraint c"});
  delete static_cast<ConstrainedVariable*>(x);
  expect({"removedVariable x"});
  // Adding propagators or listeners tells nobody.
  new TestPropagator("Other", engine());
  RecordingEngineListener third(engine(), &log, "C");
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(m_propagator->events(), (Events{"added c", "notify c[0] x UPPER_BOUND_DECREASED", "removed c"}));
  delete static_cast<ConstrainedVariable*>(y);
}

TEST_F(ConstraintEngineTest, RoutesEachChangeOncePerLinkInLinkOrder) {
  Id<ConstrainedVariable> x = floatVar("x", 0, 10);
  Id<ConstrainedVariable> y = floatVar("y", 0, 10);
  TestConstraint* twice = constrain("twice", makeScope(x, y, x));
  TestConstraint* picky = constrain("picky", makeScope(y, x));
  TestConstraint* off = constrain("off", makeScope(x));
  off->deactivate();
  picky->setIgnoreRule([](const Id<ConstrainedVariable>&, int, DomainListener::ChangeType change) {
    return change == DomainListener::LOWER_BOUND_INCREASED;
  });
  m_propagator->clear();

  x->getCurrentDomain().intersect(0, 8);
  x->getCurrentDomain().intersect(1, 8);
  EXPECT_EQ(m_propagator->events(),
            (Events{"notify twice[0] x UPPER_BOUND_DECREASED", "notify twice[2] x UPPER_BOUND_DECREASED",
                    "notify picky[1] x UPPER_BOUND_DECREASED", "notify twice[0] x LOWER_BOUND_INCREASED",
                    "notify twice[2] x LOWER_BOUND_INCREASED"}));
  delete twice;
  delete picky;
  delete off;
}

TEST_F(ConstraintEngineTest, EmptiedDomainIsRecordedAndOfferedToNoPropagator) {
  RecordingEngineListener listener(engine());
  Id<ConstrainedVariable> x = floatVar("x", 0, 10);
  Id<ConstrainedVariable> y = floatVar("y", 0, 10);
  TestConstraint* c = constrain("c", makeScope(x, y));
  int asked = 0;
  c->setIgnoreRule([&asked](const Id<ConstrainedVariable>&, int, DomainListener::ChangeType) { return ++asked < 0; });
  m_propagator->clear();
  listener.clear();

  x->getCurrentDomain().empty();
  EXPECT_TRUE(m_propagator->events().empty());
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(listener.events(), (Events{"L changed x EMPTIED"}));
  EXPECT_TRUE(m_engine->pending());
  EXPECT_TRUE(m_engine->getViolationMgr().isEmpty(x));
  EXPECT_FALSE(m_engine->constraintConsistent());
  EXPECT_EQ(m_engine->getViolation(), 1.0);

  // Deleting the emptied variable takes its record along; others can be recorded afterwards.
  delete c;
  delete static_cast<ConstrainedVariable*>(x);
  EXPECT_FALSE(m_engine->provenInconsistent());
  y->getCurrentDomain().empty();
  EXPECT_TRUE(m_engine->getViolationMgr().isEmpty(y));
  delete static_cast<ConstrainedVariable*>(y);
  EXPECT_FALSE(m_engine->provenInconsistent());
}

TEST_F(ConstraintEngineTest, InactiveVariableChangesOnlyMakeTheEngineDirty) {
  RecordingEngineListener listener(engine());
  SwitchableVariable* x = new SwitchableVariable(engine(), "x");
  TestConstraint* c = constrain("c", makeScope(x->getId()));
  m_propagator->clear();
  listener.clear();
  x->setActive(false);
  x->getCurrentDomain().intersect(0, 5);
  x->getCurrentDomain().empty();
  EXPECT_TRUE(m_propagator->events().empty());
  EXPECT_TRUE(listener.events().empty());
  EXPECT_FALSE(m_engine->provenInconsistent());
  x->setActive(true);
  delete c;
  delete x;
}

TEST_F(ConstraintEngineTest, CallbacksMayDeleteWhatTheRoutingWalks) {
  // A propagator that, told of one constraint, deletes the other one.
  struct Wrecker : TestPropagator {
    Wrecker(const Id<ConstraintEngine>& e) : TestPropagator("Wrecker", e) {}
    void handleNotification(const Id<ConstrainedVariable>& variable, int argIndex, const Id<Constraint>& constraint,
                            const DomainListener::ChangeType& change) override {
      TestPropagator::handleNotification(variable, argIndex, constraint, change);
      // Cleared first: the deletion relaxes x, whose change comes back here.
      Constraint* doomed = victim;
      victim = nullptr;
      if (doomed != nullptr && doomed->getId() != constraint)
        delete doomed;
    }
    Constraint* victim = nullptr;
  };
  // A listener that deletes another listener when told of a change.
  struct Remover : RecordingEngineListener {
    Remover(const Id<ConstraintEngine>& e) : RecordingEngineListener(e) {}
    void notifyChanged(const Id<ConstrainedVariable>& v, const DomainListener::ChangeType& change) override {
      RecordingEngineListener::notifyChanged(v, change);
      victim.reset();
    }
    std::unique_ptr<RecordingEngineListener> victim;
  };
  Wrecker* wrecker = new Wrecker(engine());
  Id<ConstrainedVariable> x = floatVar("x", 0, 10);
  TestConstraint* c1 = new TestConstraint("c1", "Wrecker", engine(), makeScope(x));
  wrecker->victim = new TestConstraint("c2", "Wrecker", engine(), makeScope(x));
  Remover first(engine());
  Remover second(engine());
  first.victim.reset(new RecordingEngineListener(engine()));
  second.victim.reset(new RecordingEngineListener(engine()));
  wrecker->clear();
  x->getCurrentDomain().intersect(0, 5);
  EXPECT_EQ(wrecker->events(),
            (Events{"notify c1[0] x UPPER_BOUND_DECREASED", "removed c2", "notify c1[0] x RELAXED"}));
  EXPECT_EQ(x->constraintCount(), 1u);
  EXPECT_EQ(first.events(),
            (Events{"L changed x RELAXED", "L removedConstraint c2", "L changed x UPPER_BOUND_DECREASED"}));
  EXPECT_EQ(second.events(), first.events());
  EXPECT_FALSE(first.victim || second.victim);
  delete c1;
  delete static_cast<ConstrainedVariable*>(x);
}

// A variable deleted by the first propagator told of its change: the routing stops there, tells
// no other constraint and no listener, and reads nothing of the variable afterwards.
TEST_F(ConstraintEngineTest, AVariableDeletedWhileItsChangeIsRoutedEndsTheRouting) {
  struct Deleter : TestPropagator {
    Deleter(const Id<ConstraintEngine>& e) : TestPropagator("Deleter", e) {}
    void handleNotification(const Id<ConstrainedVariable>& variable, int argIndex, const Id<Constraint>& constraint,
                            const DomainListener::ChangeType& change) override {
      TestPropagator::handleNotification(variable, argIndex, constraint, change);
      ConstrainedVariable* doomed = victim;
      victim = nullptr;
      if (doomed != nullptr)
        delete doomed;
    }
    ConstrainedVariable* victim = nullptr;
  };
  Deleter* deleter = new Deleter(engine());
  Id<ConstrainedVariable> x = floatVar("x", 0, 10);
  Id<ConstrainedVariable> y = floatVar("y", 0, 10);
  TestConstraint* c1 = new TestConstraint("c1", "Deleter", engine(), makeScope(x));
  TestConstraint* c2 = new TestConstraint("c2", "Deleter", engine(), makeScope(x, y));
  RecordingEngineListener listener(engine());
  deleter->victim = static_cast<ConstrainedVariable*>(x);
  deleter->clear();
  listener.clear();
  x->getCurrentDomain().intersect(0, 5);
  EXPECT_EQ(deleter->events(), (Events{"notify c1[0] x UPPER_BOUND_DECREASED", "removed c1", "removed c2"}));
  for (const std::string& event : listener.events())
    EXPECT_EQ(event.find("changed x"), std::string::npos) << event;
  EXPECT_FALSE(x.isValid());
  EXPECT_EQ(y->constraintCount(), 0u);
  (void)c1;
  (void)c2;
  delete static_cast<ConstrainedVariable*>(y);
}

TEST_F(ConstraintEngineTest, LookupsFollowKeyOrder) {
  Id<ConstrainedVariable> a = floatVar("same", 0, 1);
  Id<ConstrainedVariable> b = floatVar("same", 0, 1);
  Id<ConstrainedVariable> c = floatVar("other", 0, 1);
  TestConstraint* c1 = constrain("c1", makeScope(a));
  TestConstraint* c2 = constrain("c2", makeScope(b));
  const std::vector<Id<ConstrainedVariable> > vars{a, b, c};
  for (unsigned int i = 0; i < vars.size(); ++i) {
    EXPECT_EQ(m_engine->getVariable(i), vars[i]);
    EXPECT_EQ(m_engine->getIndex(vars[i]), static_cast<int>(i));
  }
  EXPECT_EQ(m_engine->getConstraint(1), c2->getId());
  EXPECT_EQ(m_engine->getIndex(c2->getId()), 1);
  EXPECT_EQ(m_engine->getVariableByName("same"), static_cast<PSVariable*>(a));
  EXPECT_EQ(m_engine->getVariableByName("none"), nullptr);
  EXPECT_EQ(m_engine->getVariableByKey(c->getKey()), static_cast<PSVariable*>(c));

  EXPECT_CHECK_FAILS(m_engine->getVariable(3), "index < m_variables.size()");
  EXPECT_CHECK_FAILS(m_engine->getConstraint(2), "index < m_constraints.size()");
  EXPECT_CHECK_FAILS(m_engine->getVariableByKey(c1->getKey()), "Id<T>::convertable(org)");
  EXPECT_CHECK_FAILS(m_engine->getVariableByKey(-5), "entity.isValid()");

  delete c1;
  delete static_cast<ConstrainedVariable*>(a);
  EXPECT_EQ(m_engine->getIndex(c), 1);
  EXPECT_EQ(m_engine->getIndex(c2->getId()), 0);
  EXPECT_EQ(m_engine->getVariableByName("same"), static_cast<PSVariable*>(b));
  const Id<Constraint> gone = c2->getId();
  delete c2;
  Id<ConstrainedVariable> unregistered = b;
  delete static_cast<ConstrainedVariable*>(b);
  EXPECT_CHECK_FAILS(m_engine->getIndex(gone), "constr.isValid()");
  EXPECT_CHECK_FAILS(m_engine->getIndex(unregistered), "var.isValid()");
  delete static_cast<ConstrainedVariable*>(c);
}

TEST_F(ConstraintEngineTest, PropagatorRegistration) {
  Id<ConstrainedVariable> x = floatVar("x", 0, 1);
  constrain("c", makeScope(x));
  Error failure = failureOf([&] { new TestConstraint("c", "Nobody", engine(), makeScope(x)); });
  EXPECT_EQ(failure.getCondition(), "m_propagatorsByName.find(propagatorName.getKey()) != m_propagatorsByName.end()");
  EXPECT_EQ(failure.getMessage(), "Propagator Nobody has not been registered.");
  EXPECT_EQ(m_engine->getConstraints().size(), 1u);
  EXPECT_EQ(x->constraintCount(), 1u);

  // A namesake may not take over while the registered propagator holds constraints.
  const std::size_t handles = IdTable::size();
  failure = failureOf([&] { new TestPropagator("Default", engine()); });
  EXPECT_EQ(failure.getCondition(), "!oldPropagator.isValid() || oldPropagator->getConstraints().empty()");
  EXPECT_EQ(IdTable::size(), handles);
  EXPECT_EQ(m_engine->getPropagatorByName("Default"), m_propagator->getId());

  // Without constraints it is replaced, and the old one discarded.
  delete static_cast<Constraint*>(m_engine->getConstraint(0));
  TestPropagator* replacement = new TestPropagator("Default", engine());
  EXPECT_TRUE(m_propagator->isDiscarded());
  EXPECT_EQ(m_engine->getPropagatorByName("Default"), replacement->getId());
  m_propagator = replacement;
  TestConstraint* c = constrain("c", makeScope(x));
  EXPECT_EQ(c->getPropagator(), replacement->getId());

  const std::size_t before = IdTable::size();
  EXPECT_CHECK_FAILS(new TestPropagator("P", Id<ConstraintEngine>::noId()),
                     "!m_constraintEngine.isNoId() && m_constraintEngine.isValid()");
  EXPECT_EQ(IdTable::size(), before);
  delete c;
  delete static_cast<ConstrainedVariable*>(x);
}

// Every order in which a client may take a network apart leaves nothing behind (the fixture checks).
TEST_F(ConstraintEngineTest, VariableDeletedBeforeItsConstraints) {
  RecordingEngineListener listener(engine());
  Id<ConstrainedVariable> x = floatVar("x", 0, 10);
  Id<ConstrainedVariable> y = floatVar("y", 0, 10);
  TestConstraint* c = constrain("c", makeScope(x, y));
  const Id<Constraint> cid = c->getId();
  listener.clear();
  delete static_cast<ConstrainedVariable*>(x);
  EXPECT_EQ(listener.events(), (Events{"L removedConstraint c", "L removedVariable x"}));
  EXPECT_TRUE(cid.isValid() && c->isDiscarded());
  EXPECT_EQ(y->constraintCount(), 0u);
  delete c; // a pooled constraint may still be deleted by its owner
  Entity::garbageCollect();
  delete static_cast<ConstrainedVariable*>(y);
}

TEST_F(ConstraintEngineTest, PurgeDiscardsConstraintsThenVariablesWithoutTellingAnyone) {
  RecordingEngineListener listener(engine());
  Id<ConstrainedVariable> x = floatVar("x", 0, 10);
  constrain("c", makeScope(x, x));
  listener.clear();
  m_propagator->clear();
  EXPECT_CHECK_FAILS(m_engine->purge(), "Entity::isPurging() || m_constraints.empty()");
  EXPECT_EQ(m_engine->getConstraints().size(), 1u); // a refused purge changes nothing
  Entity::purgeStart();
  m_engine->purge();
  Entity::purgeEnd();
  EXPECT_TRUE(m_engine->getConstraints().empty());
  EXPECT_TRUE(m_engine->getVariables().empty());
  EXPECT_TRUE(listener.events().empty());
  EXPECT_TRUE(m_engine->getPropagatorByName("Default").isNoId());
  EXPECT_EQ(x->constraintCount(), 2u); // purged objects keep their links
  m_propagator = nullptr;
}

TEST_F(ConstraintEngineTest, DeletingAFullEngineOutsideAPurgeReportsAndStillCleansUp) {
  Id<ConstrainedVariable> x = floatVar("x", 0, 10);
  constrain("c", makeScope(x));
  const unsigned long reported = Error::suppressedCount();
  m_engine.reset();
  m_propagator = nullptr;
  EXPECT_EQ(Error::suppressedCount(), reported + 2); // the constraint check and the variable check
}

TEST_F(ConstraintEngineTest, ListenersMayOutliveOrLeaveTheirEngine) {
  CESchema otherSchema;
  std::unique_ptr<ConstraintEngine> other(new ConstraintEngine(otherSchema.getId()));
  RecordingEngineListener listener(engine());
  listener.setConstraintEngine(other->getId());
  Id<ConstrainedVariable> x = floatVar("x", 0, 1);
  EXPECT_TRUE(listener.events().empty());
  EXPECT_CHECK_FAILS(listener.setConstraintEngine(other->getId()), "m_listeners.count(listener) == 0");
  EXPECT_CHECK_FAILS(listener.setConstraintEngine(Id<ConstraintEngine>::noId()), "m_constraintEngine.isValid()");

  PSConstraintEngineListener unattached;
  other.reset(); // the listener's destructor below leaves the deleted engine alone
  const unsigned long reported = Error::suppressedCount();
  {
    RecordingEngineListener orphan(engine());
    destroyEngine();
  }
  EXPECT_EQ(Error::suppressedCount(), reported);
  (void)x;
}

// Registering with the same engine twice is refused; by way of another engine, a listener
// registers again and is told after those that stayed.
TEST_F(ConstraintEngineTest, AListenerRegisteredAgainIsToldLast) {
  CESchema otherSchema;
  std::unique_ptr<ConstraintEngine> other(new ConstraintEngine(otherSchema.getId()));
  std::vector<std::string> log;
  RecordingEngineListener first(engine(), &log, "A");
  RecordingEngineListener second(engine(), &log, "B");
  EXPECT_CHECK_FAILS(first.setConstraintEngine(engine()), "m_listeners.count(listener) == 0");
  first.setConstraintEngine(other->getId());
  first.setConstraintEngine(engine());
  floatVar("x", 0, 1);
  EXPECT_EQ(log, (std::vector<std::string>{"B addedVariable x", "A addedVariable x", "B changed x CLOSED",
                                           "A changed x CLOSED"}));
}

TEST_F(ConstraintEngineTest, PublicListenerGetsInterfacePointersAndNumbers) {
  struct Public : PSConstraintEngineListener {
    using PSConstraintEngineListener::notifyChanged;
    Public(const Id<ConstraintEngine>& e) : PSConstraintEngineListener(e) {}
    void notifyChanged(PSVariable* variable, PSChangeType change) override {
      told.push_back(variable->getEntityName() + " " + std::to_string(change));
    }
    Events told;
  } listener(engine());
  Id<ConstrainedVariable> x = floatVar("x", 0, 10);
  x->getCurrentDomain().empty();
  EXPECT_EQ(listener.told, (Events{"x 8", "x 10"}));
  delete static_cast<ConstrainedVariable*>(x);
}

TEST_F(ConstraintEngineTest, PendingWorkFollowsTheEnabledPropagators) {
  SwitchableVariable* x = new SwitchableVariable(engine(), "x");
  EXPECT_TRUE(m_engine->constraintConsistent());
  EXPECT_FALSE(m_engine->pending());
  TestConstraint* c = constrain("c", makeScope(x->getId()));
  EXPECT_EQ(m_engine->getNextPropagator(), m_propagator->getId());
  EXPECT_FALSE(m_engine->constraintConsistent());
  EXPECT_TRUE(m_engine->pending() && x->pending());
  m_propagator->disable();
  EXPECT_TRUE(m_engine->getNextPropagator().isNoId());
  EXPECT_TRUE(m_engine->constraintConsistent() && !m_engine->pending());
  m_propagator->enable();

  m_engine->setAutoPropagation(true); // its value already: nothing happens
  m_engine->setAutoPropagation(false);
  EXPECT_FALSE(m_engine->getAutoPropagation());

  EXPECT_TRUE(allActiveVariables({}));
  EXPECT_TRUE(allActiveVariables(c->getScope()));
  x->setActive(false);
  EXPECT_FALSE(allActiveVariables(c->getScope()));
  x->setActive(true);

  Entity::purgeStart();
  EXPECT_CHECK_FAILS(RecordingEngineListener listener(engine()), "!Entity::isPurging()");
  EXPECT_CHECK_FAILS(floatVar("late", 0, 1), "!Entity::isPurging()");
  Entity::purgeEnd();
  EXPECT_EQ(m_engine->getVariables().size(), 1u);
  delete c;
  delete x;
}

TEST_F(ConstraintEngineTest, RoutingTrace) {
  Id<ConstrainedVariable> x = intVar("x", 0, 10);
  CapturedTraces traces("ConstraintEngine:notify");
  x->getCurrentDomain().intersect(2, 10);
  x->getCurrentDomain().open(); // OPENED is routed without a trace line
  EXPECT_EQ(traces.text(), "[ConstraintEngine:notify]x (" + std::to_string(x->getKey()) +
                               ") LOWER_BOUND_INCREASED => int:CLOSED[2, 10]\n");
  // The listener goes with the variable: its handle, still held by the domain, is no longer valid.
  const Id<DomainListener> listener = x->lastDomain().getListener();
  delete static_cast<ConstrainedVariable*>(x);
  EXPECT_FALSE(listener.isValid());
}

TEST_F(ConstraintEngineTest, RegistrationTraces) {
  CapturedTraces traces("ConstraintEngine:");
  DebugMessage::disable("ConstraintEngine:notify");
  Id<ConstrainedVariable> x = floatVar("x", 0, 1);
  TestConstraint* c = constrain("c", makeScope(x));
  const std::string xk = std::to_string(x->getKey()), ck = std::to_string(c->getKey());
  const std::string relaxing =
      "[ConstraintEngine:remove:Constraint]Propagating relaxations for " + c->toString() + "\n";
  delete c;
  delete static_cast<ConstrainedVariable*>(x);
  EXPECT_EQ(traces.text(), "[ConstraintEngine:add:ConstrainedVariable]x(" + xk + ")\n" +
                               "[ConstraintEngine:add:constraint:Propagator]c(" + ck + ") added to Default\n" +
                               relaxing + "[ConstraintEngine:remove:Constraint]c(" + ck + ")\n" +
                               "[ConstraintEngine:remove:ConstrainedVariable]x(" + xk + ")\n");
}

} // namespace
} // namespace KALDEN
