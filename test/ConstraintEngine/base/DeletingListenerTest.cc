#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
#include "ConstraintEngine/base/ConstraintType.hh"
#include "ConstraintEngine/component/AllDiffConstraints.hh"
#include "ConstraintEngine/component/EqualityConstraintPropagator.hh"
#include "ConstraintEngine/component/EqualityConstraints.hh"
#include "ConstraintEngine/component/SumConstraints.hh"
#include "ConstraintEngine/component/OrderingConstraints.hh"
#include "support/EngineFixture.hh"
#include "support/Failure.hh"
#include "support/RecordingEngineListener.hh"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <list>
#include <string>
#include <utility>
#include <vector>

namespace KALDEN {
namespace {

// An engine listener that acts once, on the first notice whose text is `trigger`: "changed x
// CLOSED", "deactivated c", "activated c" (a variable or constraint by name); "* EMPTIED" is
// the first notice ending so.
class DeletingListener : public ConstraintEngineListener {
public:
  explicit DeletingListener(const Id<ConstraintEngine>& engine) : ConstraintEngineListener(engine) {}
  std::string trigger;
  std::function<void()> act;
  bool acted = false;

  std::function<void()> anyChange;

  void notifyChanged(const Id<ConstrainedVariable>& v, const DomainListener::ChangeType& change) override {
    if (anyChange)
      anyChange();
    heard("changed " + v->getName().toString() + " " + DomainListener::toString(change));
  }
  void notifyDeactivated(const Id<Constraint>& c) override { heard("deactivated " + c->getName().toString()); }
  void notifyActivated(const Id<Constraint>& c) override { heard("activated " + c->getName().toString()); }
  void notifyDeactivated(const Id<ConstrainedVariable>& v) override { heard("deactivated " + v->getName().toString()); }
  void notifyActivated(const Id<ConstrainedVariable>& v) override { heard("activated " + v->getName().toString()); }

private:
  void heard(const std::string& notice) {
    // "*x" matches any notice that ends with x.
    const bool matches = trigger.compare(0, 1, "*") == 0
                             ? notice.size() >= trigger.size() - 1 &&
                                   notice.compare(notice.size() - (trigger.size() - 1), std::string::npos, trigger, 1,
                                                  std::string::npos) == 0
                             : notice == trigger;
    if (acted || !matches)
      return;
    acted = true;
    act();
  }
};

// Every call that tells the engine's listeners of a change must stay memory-safe when a listener
// deletes what it hears about (or another object of the network): the call touches nothing that
// may have gone, and the engine then answers as for any deletion. Run under the sanitizer build.
class DeletingListenerTest : public NetworkFixture {
protected:
  DeletingListenerTest() : listener(engine()) { m_engine->setAutoPropagation(false); }

  Id<Constraint> leq(const char* name, const Id<ConstrainedVariable>& a, const Id<ConstrainedVariable>& b) {
    return (new LessThanEqualConstraint(name, "Default", engine(), makeScope(a, b)))->getId();
  }
  // Deletes `victim` when the listener hears `trigger` during `call`; then the victim is gone,
  // what is left is valid, and the engine propagates as after any deletion.
  template <class Victim>
  void expectSafe(const std::string& trigger, const Id<Victim>& victim, const std::function<void()>& call) {
    SCOPED_TRACE(trigger);
    Victim* raw = victim;
    listener.acted = false;
    listener.trigger = trigger;
    listener.act = [raw] { delete raw; };
    call();
    EXPECT_TRUE(listener.acted) << "the notice was never heard";
    EXPECT_FALSE(victim.isValid());
    for (const Id<ConstrainedVariable>& var : m_engine->getVariables())
      EXPECT_TRUE(var->isValid()) << var->getName().toString();
    EXPECT_TRUE(m_engine->propagate());
  }

  DeletingListener listener;
};

TEST_F(DeletingListenerTest, ClientCallsOnAVariableDeletedWhileTheyAreHeard) {
  const Id<ConstrainedVariable> y = intVar("y", 0, 10);
  // close() and open() of an enumeration.
  Id<ConstrainedVariable> x = openEnum("x", {1, 2, 3});
  leq("c", x, y);
  expectSafe("changed x CLOSED", x, [&] { x->close(); });
  x = enumVar("x", {1, 2, 3});
  expectSafe("changed x OPENED", x, [&] { x->open(); });
  // An open enumeration emptied as it closes: the deletion comes at the first of two notices.
  x = openEnum("x", {});
  expectSafe("changed x CLOSED", x, [&] { x->close(); });

  // specify(): to a value, to one the current domain lost, on an open enumeration.
  x = intVar("x", 0, 10);
  expectSafe("changed x SET_TO_SINGLETON", x, [&] { x->specify(3); });
  x = intVar("x", 0, 10);
  x->getCurrentDomain().intersect(0, 4);
  expectSafe("changed x EMPTIED", x, [&] { x->specify(7); });
  x = openEnum("x", {1, 2, 3});
  expectSafe("changed x CLOSED", x, [&] { x->specify(2); });
  x = intVar("x", 0, 10);
  m_engine->setAllowViolations(true);
  x->getCurrentDomain().intersect(0, 4);
  expectSafe("changed x RELAXED", x, [&] { x->specify(7); });
  m_engine->setAllowViolations(false);

  // reset(): the relaxation, then RESET; on an enumeration too.
  x = intVar("x", 0, 10);
  x->specify(4);
  expectSafe("changed x RELAXED", x, [&] { x->reset(); });
  x = enumVar("x", {1, 2, 3});
  x->specify(2);
  expectSafe("changed x RELAXED", x, [&] { x->reset(); });

  // restrictBaseDomain(): the narrowing, and the value a singleton fixes.
  x = intVar("x", 0, 10);
  leq("c", x, y);
  expectSafe("changed x UPPER_BOUND_DECREASED", x,
             [&] { x->restrictBaseDomain(IntervalIntDomain(0, 5, IntDT::instance())); });
  x = intVar("x", 0, 10);
  leq("c", x, y);
  expectSafe("changed x RESTRICT_TO_SINGLETON", x,
             [&] { x->restrictBaseDomain(IntervalIntDomain(5, 5, IntDT::instance())); });

  // relax(), insert(), remove() and touch() tell once, last.
  x = intVar("x", 0, 10);
  x->getCurrentDomain().intersect(0, 4);
  expectSafe("changed x RELAXED", x, [&] { x->relax(); });
  x = enumVar("x", {1, 2, 3});
  expectSafe("changed x VALUE_REMOVED", x, [&] { x->remove(2); });
  x = intVar("x", 0, 10);
  expectSafe("changed x BOUNDS_RESTRICTED", x, [&] { x->touch(); });
}

TEST_F(DeletingListenerTest, ActivationNoticesMayDeleteTheVariableOrTheConstraint) {
  const Id<ConstrainedVariable> y = intVar("y", 0, 10);
  // A variable switched off or on tells of each constraint first, then of itself.
  Id<ConstrainedVariable> x = intVar("x", 0, 10);
  leq("c", x, y);
  leq("d", x, y);
  expectSafe("deactivated c", x, [&] { x->deactivate(); });
  x = intVar("x", 0, 10);
  leq("c", x, y);
  expectSafe("deactivated x", x, [&] { x->deactivate(); });
  x = intVar("x", 0, 10);
  leq("c", x, y);
  leq("d", x, y);
  x->deactivate();
  expectSafe("activated c", x, [&] { x->undoDeactivation(); });

  // The constraint itself, switched off or on directly or through its variable.
  x = intVar("x", 0, 10);
  Id<Constraint> c = leq("c", x, y);
  expectSafe("deactivated c", c, [&] { c->deactivate(); });
  c = leq("c", x, y);
  c->deactivate();
  expectSafe("activated c", c, [&] { c->undoDeactivation(); });
  c = leq("c", x, y);
  expectSafe("deactivated c", c, [&] { x->deactivate(); });
  c = leq("c", x, y);
  expectSafe("activated c", c, [&] { x->undoDeactivation(); });

  // A composite, whose members follow it after the notice.
  const Id<ConstrainedVariable> a = intVar("a", 0, 3), b = intVar("b", 0, 3);
  c = (new AllDiffConstraint("c", "Default", engine(), makeScope(a, b)))->getId();
  expectSafe("deactivated c", c, [&] { c->deactivate(); });
  c = (new AllDiffConstraint("c", "Default", engine(), makeScope(a, b)))->getId();
  c->deactivate();
  expectSafe("activated c", c, [&] { c->undoDeactivation(); });
  // Deleted while its members come back, after its own notice.
  const Id<ConstrainedVariable> s = intVar("s", 0, 10), d = intVar("d", 0, 5);
  c = (new EqualSumConstraint("c", "Default", engine(), makeScope(s, a, b, d)))->getId();
  ASSERT_TRUE(m_engine->propagate());
  c->deactivate();
  expectSafe("activated AddEqual", c, [&] { c->undoDeactivation(); });
}

TEST_F(DeletingListenerTest, RetirementAndItsUndoingMayDeleteTheConstraint) {
  // Over closed singletons the constraint retires at the end of a completed run.
  const Id<ConstrainedVariable> two = enumVar("two", {2}), three = enumVar("three", {2, 3});
  three->restrictBaseDomain(NumericDomain(3, FloatDT::instance()));
  Id<Constraint> c = leq("c", two, three);
  expectSafe("deactivated c", c, [&] { EXPECT_TRUE(m_engine->propagate()); });

  // Opening a base domain brings a retired constraint back.
  c = leq("c", two, three);
  ASSERT_TRUE(m_engine->propagate());
  ASSERT_TRUE(c->isRetired());
  expectSafe("activated c", c, [&] { two->open(); });
}

TEST_F(DeletingListenerTest, ALaterListenerHearsNothingOfWhatAnEarlierOneDeleted) {
  // Both listeners act on the same notice: whichever is told first deletes, and the other must
  // not be handed the freed object (it would read its name). The notice's subject is the
  // object's own handle, which goes with it.
  DeletingListener other(engine());
  const Id<ConstrainedVariable> y = intVar("y", 0, 10);
  const auto both = [&](const std::string& trigger, const std::function<void()>& deletion) {
    for (DeletingListener* l : {&listener, &other}) {
      l->acted = false;
      l->trigger = trigger;
      l->act = deletion;
    }
  };
  Id<ConstrainedVariable> x = intVar("x", 0, 10);
  ConstrainedVariable* rawX = x;
  both("changed x SET_TO_SINGLETON", [rawX] { delete rawX; });
  x->specify(3);
  EXPECT_NE(listener.acted, other.acted);

  x = intVar("x", 0, 10);
  Constraint* rawC = new LessThanEqualConstraint("c", "Default", engine(), makeScope(x, y));
  both("deactivated c", [rawC] { delete rawC; });
  rawC->deactivate();
  EXPECT_NE(listener.acted, other.acted);

  rawX = x;
  both("deactivated x", [rawX] { delete rawX; });
  x->deactivate();
  EXPECT_NE(listener.acted, other.acted);
  EXPECT_TRUE(m_engine->propagate());
}

TEST_F(DeletingListenerTest, RelaxingEmptiedVariablesSurvivesTheDeletionOfAComposite) {
  // A member of the composite is held violated; the next run first relaxes the emptied
  // variables, and the first notice of it deletes the composite.
  m_schema->registerDataType((new IntDT())->getId());
  m_schema->registerConstraintType(
      (new ConcreteConstraintType<LessOrEqThanSumConstraint>("leqsum", "Default", false))->getId());
  m_engine->setAutoPropagation(true);
  m_engine->getViolationMgr().setMaxViolationsAllowed(1);
  const Id<ConstrainedVariable> x = enumVar("x", {-3, 1, 2}), y = intVar("y", -3, -2);
  x->restrictBaseDomain(IntervalIntDomain(2, 3, IntDT::instance()));
  const Id<ConstrainedVariable> z = floatVar("z", 2, 3);
  const Id<Constraint> c = m_engine->createConstraint("leqsum", makeScope(x, y, z));
  ASSERT_EQ(m_engine->getAllViolations().size(), 1);
  Constraint* raw = c;
  listener.trigger = "";
  listener.act = [] {};
  listener.anyChange = [raw, this] {
    delete raw;
    listener.anyChange = nullptr;
  };
  // Switched off and on, y breaks the record of the failure: the next run relaxes x.
  y->deactivate();
  y->undoDeactivation();
  m_engine->propagate();
  EXPECT_FALSE(c.isValid());
  EXPECT_TRUE(m_engine->propagate());
}

TEST_F(DeletingListenerTest, ARunFinishesAtTheFixpointOfWhatADeletionLeft) {
  // Deleted once it has emptied a domain, the equality leaves nothing to empty it: the run ends
  // true, as a fresh one over what is left would.
  new EqualityConstraintPropagator("Equal", engine());
  const Id<ConstrainedVariable> x = intVar("x", -2, 0), zero = intVar("zero", 0, 0), y = intVar("y", 1, 3);
  Constraint* equal = new EqualConstraint("c", "Equal", engine(), makeScope(y, x, zero));
  // Which variable empties first depends on where they lie in memory.
  listener.trigger = "* EMPTIED";
  listener.act = [equal] { delete equal; };
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(listener.acted);
  EXPECT_FALSE(m_engine->pending());
  EXPECT_EQ(y->lastDomain().getLowerBound(), 1);
  // Likewise a variable of an equality, deleted as the run empties a domain: the other is left alone.
  const Id<ConstrainedVariable> u = intVar("u", 0, 1), w = enumVar("w", {-3, -2});
  new EqualConstraint("d", "Equal", engine(), makeScope(u, w));
  ConstrainedVariable* rawW = w;
  listener.acted = false;
  listener.trigger = "* EMPTIED";
  listener.act = [rawW] { delete rawW; };
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(listener.acted);
  EXPECT_EQ(u->lastDomain().getUpperBound(), 1);
  EXPECT_FALSE(m_engine->provenInconsistent());

  // Deleted as it retires at the end of a run (its base domains ordered), a constraint relaxes
  // what it narrowed, and the run goes on from there before it answers.
  const Id<ConstrainedVariable> v = enumVar("v", {-3, -2, -1, 0, 3}), lb = floatVar("lb", -3, -2);
  Constraint* within = new WithinBounds("w", "Default", engine(), makeScope(v, lb, v));
  v->remove(-3);
  v->restrictBaseDomain(NumericDomain(std::list<double>{-3, -2, 0}, FloatDT::instance()));
  listener.acted = false;
  listener.trigger = "deactivated w";
  listener.act = [within] { delete within; };
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(listener.acted);
  EXPECT_FALSE(m_engine->pending());
}

TEST_F(DeletingListenerTest, AConstraintSetAsideInItsOwnExecutionIsDeletedOnlyOnceItReturns) {
  // Its run empties y and, violations allowed, sets it aside: the notice of that waits until the
  // execution is over, then the deletion relaxes what it narrowed.
  m_engine->setAllowViolations(true);
  const Id<ConstrainedVariable> x = intVar("x", 6, 10), y = intVar("y", 0, 5);
  const Id<Constraint> c = leq("c", x, y);
  expectSafe("deactivated c", c, [&] { m_engine->propagate(); });
  EXPECT_EQ(m_engine->getAllViolations().size(), 0);
  EXPECT_EQ(y->lastDomain().getUpperBound(), 5);
}

// Violations allowed and x emptied: told that x's constraint is removed as x goes, a listener
// deletes another constraint through the engine, or makes one by name, with auto-propagation on.
// Deleted, x owes no run inside its destructor: the run waits for the next propagate(); discarded,
// x has gone by the time the run commences.
TEST_F(DeletingListenerTest, ARunOwedWhileAnEmptiedVariableGoesWaitsUntilItHasGone) {
  m_schema->registerConstraintType(
      (new ConcreteConstraintType<LessThanEqualConstraint>("leq", "Default", false))->getId());
  m_engine->setAllowViolations(true);
  m_engine->setAutoPropagation(true);
  RecordingEngineListener log(engine());
  for (int way = 0; way < 4; ++way) {
    SCOPED_TRACE(way);
    const bool discard = way >= 2, byName = way % 2 == 1;
    const Id<ConstrainedVariable> x = intVar("x", 0, 10), p = intVar("p", 0, 10), q = intVar("q", 0, 5);
    leq("c", x, intVar("y", 0, 10));
    const Id<Constraint> other = leq("other", p, q);
    leq("kept", p, intVar("s", 0, 7)); // what the deletion of `other` gives back it narrows again
    ASSERT_TRUE(m_engine->propagate());
    x->getCurrentDomain().empty();
    ASSERT_TRUE(m_engine->pending());
    bool xGoneAtRun = false;
    const int xKey = x->getKey();
    log.actAt("removedConstraint c", [&] {
      log.actAt("commenced", [&] {
        xGoneAtRun = std::none_of(m_engine->getVariables().begin(), m_engine->getVariables().end(),
                                  [xKey](const Id<ConstrainedVariable>& v) { return v->getKey() == xKey; });
      });
      if (byName)
        m_engine->createConstraint("leq", makeScope(q, intVar("r", 0, 2)));
      else
        m_engine->deleteConstraint(other);
    });
    log.clear();
    if (discard)
      x->discard();
    else
      delete static_cast<ConstrainedVariable*>(x);
    const std::vector<std::string> heard = log.events();
    const auto at = [&heard](const std::string& event) {
      return std::find(heard.begin(), heard.end(), event) - heard.begin();
    };
    EXPECT_EQ(std::count(heard.begin(), heard.end(), "L commenced"), discard ? 1 : 0);
    if (discard) {
      EXPECT_TRUE(xGoneAtRun);
      EXPECT_LT(at("L removedVariable x"), at("L commenced"));
    }
    EXPECT_FALSE(m_engine->provenInconsistent());
    EXPECT_TRUE(m_engine->propagate());
    EXPECT_FALSE(log.armed());
    EXPECT_TRUE(xGoneAtRun);
    EXPECT_FALSE(m_engine->pending());
    EXPECT_EQ(p->lastDomain().getUpperBound(), byName ? 2 : 7);
    const std::vector<Id<ConstrainedVariable> > left(m_engine->getVariables().begin(), m_engine->getVariables().end());
    for (const Id<ConstrainedVariable>& v : left)
      delete static_cast<ConstrainedVariable*>(v);
    Entity::garbageCollect();
  }
}

// Told that a run commenced, a listener discards, or switches off, the variable of the only
// constraints queued (a comparison, or a withinBounds switched off and on): the run finds nothing
// left to do, and answers true.
TEST_F(DeletingListenerTest, ARunWhoseOnlyWorkGoesAsItCommencesAnswersTrue) {
  m_schema->registerDataType((new IntDT())->getId());
  RecordingEngineListener log(engine());
  for (int way = 0; way < 4; ++way) {
    SCOPED_TRACE(way);
    const bool discard = way % 2 == 0;
    const Id<ConstrainedVariable> u = intVar("u", 0, 10), p = intVar("p", 0, 5);
    if (way < 2) {
      leq("leq", u, p);
    } else {
      Constraint* within = new WithinBounds("withinBounds", "Default", engine(), makeScope(u, p, intVar("q", 6, 9)));
      within->deactivate();
      within->undoDeactivation();
    }
    log.actAt("commenced", [&] {
      if (discard)
        u->discard();
      else
        u->deactivate();
    });
    EXPECT_TRUE(m_engine->propagate());
    EXPECT_FALSE(log.armed());
    EXPECT_FALSE(m_engine->pending());
    const std::vector<Id<ConstrainedVariable> > left(m_engine->getVariables().begin(), m_engine->getVariables().end());
    for (const Id<ConstrainedVariable>& v : left)
      delete static_cast<ConstrainedVariable*>(v);
    Entity::garbageCollect();
  }
}

TEST_F(DeletingListenerTest, AnOpenEnumerationSpecifiedIsSetBeforeAnyoneHearsItClose) {
  // The constraint discarded at the closing relaxes x: x must be at its value by then.
  const Id<ConstrainedVariable> x = openEnum("x", {-3, -2, -1, 1}), y = intVar("y", -3, 3);
  const Id<Constraint> c = leq("c", x, y);
  listener.trigger = "changed x CLOSED";
  listener.act = [c] { c->discard(); };
  x->specify(-3);
  EXPECT_TRUE(listener.acted);
  ASSERT_TRUE(x->lastDomain().isSingleton());
  EXPECT_EQ(x->lastDomain().getSingletonValue(), -3);
  EXPECT_TRUE(x->isSpecified());
  EXPECT_TRUE(m_engine->propagate());
}

// What the engine lists holds the parts composites build (withinBounds' ordering, the interim
// variable and members of a sum comparison): each goes only with its composite. Deleting or
// discarding one on its own is refused, naming the composite, and leaves the network as it was;
// switching a part off and on stays allowed; a loop deleting whatever is listed, skipping the
// refusals, clears the network (run under the sanitizers).
TEST_F(DeletingListenerTest, APartIsDeletedOnlyWithItsComposite) {
  m_schema->registerDataType((new IntDT())->getId());
  const Id<ConstrainedVariable> x = intVar("x", 0, 10), lb = intVar("lb", 2, 5), ub = intVar("ub", 3, 8);
  const Id<Constraint> within = (new WithinBounds("withinBounds", "Default", engine(), makeScope(x, lb, ub)))->getId();
  const Id<ConstrainedVariable> s = intVar("s", 0, 20);
  new GreaterThanSumConstraint("gtsum", "Default", engine(), makeScope(s, intVar("y1", 0, 4), intVar("y2", 0, 4)));
  EXPECT_TRUE(m_engine->propagate());
  const std::vector<Id<Constraint> > constraints(m_engine->getConstraints().begin(), m_engine->getConstraints().end());
  const std::vector<Id<ConstrainedVariable> > variables(m_engine->getVariables().begin(),
                                                        m_engine->getVariables().end());
  const Id<Constraint> ordering = constraints[1];
  ASSERT_EQ(ordering->standingOwner(), within);
  const Id<ConstrainedVariable> interim =
      *std::find_if(variables.begin(), variables.end(), [](const Id<ConstrainedVariable>& v) {
        return v->getName() == LabelStr("InternalConstraintVariable");
      });
  ASSERT_EQ(interim->standingOwner()->getName(), LabelStr("gtsum"));
  const std::string named = "it is part of constraint withinBounds (key " + std::to_string(within->getKey()) + ")";
  EXPECT_NE(failureOf([&] { m_engine->deleteConstraint(ordering); }).getMessage().find(named), std::string::npos);
  EXPECT_CHECK_FAILS(ordering->discard(), "standingOwner().isNoId()");
  EXPECT_CHECK_FAILS(interim->discard(), "standingOwner().isNoId()");
  EXPECT_CHECK_FAILS(ordering->decRefCount(), "standingOwner().isNoId()");
  EXPECT_EQ(ordering->refCount(), 1u);
  EXPECT_EQ(m_engine->getConstraints().size(), constraints.size());
  EXPECT_EQ(m_engine->getVariables().size(), variables.size());
  EXPECT_FALSE(ordering->isDiscarded() || interim->isDiscarded());
  EXPECT_EQ(x->lastDomain(), IntervalIntDomain(2, 8, IntDT::instance()));
  EXPECT_FALSE(m_engine->pending());
  ordering->deactivate();
  interim->deactivate();
  within->deactivate();
  ordering->undoDeactivation();
  within->undoDeactivation();
  interim->undoDeactivation();
  interim->reset();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(ordering->isActive() && within->isActive());

  // Cleared as listed, last first and then first first, skipping the refusals.
  for (int pass = 0; pass < 2 && !m_engine->getConstraints().empty(); ++pass) {
    std::vector<Id<Constraint> > listed(m_engine->getConstraints().begin(), m_engine->getConstraints().end());
    if (pass == 0)
      std::reverse(listed.begin(), listed.end());
    for (const Id<Constraint>& c : listed)
      if (c.isValid() && !c->isDiscarded() && c->standingOwner().isNoId())
        m_engine->deleteConstraint(c);
  }
  EXPECT_TRUE(m_engine->getConstraints().empty());
  // The interim variables went with their composites; the client's are left to discard.
  for (const Id<ConstrainedVariable>& var : variables) {
    if (!var.isValid() || var->isDiscarded())
      continue;
    EXPECT_TRUE(var->standingOwner().isNoId());
    var->discard();
  }
  EXPECT_TRUE(m_engine->getVariables().empty());
  Entity::garbageCollect();
}

// Whichever way a withinBounds goes, it is heard removed before its ordering: a listener told of
// the ordering's removal finds it gone, and one that would delete it then does not free it twice.
TEST_F(DeletingListenerTest, AWithinBoundsIsHeardRemovedBeforeItsOrdering) {
  struct Remover : ConstraintEngineListener {
    explicit Remover(const Id<ConstraintEngine>& engine) : ConstraintEngineListener(engine) {}
    Id<Constraint> composite;
    std::vector<int> heard;
    void notifyRemoved(const Id<Constraint>& c) override {
      heard.push_back(c->getKey());
      if (c != composite && composite.isValid() && !composite->isDiscarded())
        delete static_cast<Constraint*>(composite);
    }
  } remover(engine());
  for (int way = 0; way < 3; ++way) {
    SCOPED_TRACE(way);
    const Id<ConstrainedVariable> x = intVar("x", 0, 10), lb = intVar("lb", 2, 5), ub = intVar("ub", 3, 8);
    remover.composite = (new WithinBounds("withinBounds", "Default", engine(), makeScope(x, lb, ub)))->getId();
    const int key = remover.composite->getKey();
    remover.heard.clear();
    if (way == 0)
      delete static_cast<Constraint*>(remover.composite);
    else if (way == 1)
      m_engine->deleteConstraint(remover.composite);
    else
      delete static_cast<ConstrainedVariable*>(ub);
    EXPECT_EQ(remover.heard, (std::vector<int>{key, key + 1}));
    EXPECT_TRUE(m_engine->getConstraints().empty());
    for (const Id<ConstrainedVariable>& var : {x, lb, ub})
      if (var.isValid())
        delete static_cast<ConstrainedVariable*>(var);
    Entity::garbageCollect();
  }
}

// While a composite is being discarded, its part still names it, and deleteConstraint refuses the
// part naming it too: a client that asks first is never refused.
TEST_F(DeletingListenerTest, APartNamesItsCompositeWhileThatIsDiscarded) {
  struct Asker : ConstraintEngineListener {
    explicit Asker(const Id<ConstraintEngine>& engine) : ConstraintEngineListener(engine), ce(engine) {}
    Id<ConstraintEngine> ce;
    Id<Constraint> composite, part;
    std::string owner;
    void notifyRemoved(const Id<Constraint>& c) override {
      if (c != composite)
        return;
      owner = part->standingOwner() == composite ? "composite" : "other";
      // Inside the composite's destructor too the refusal is thrown to the listener; the part
      // stays for the composite to take.
      const unsigned long printed = Error::suppressedCount();
      try {
        ce->deleteConstraint(part);
      } catch (const Error& e) {
        refused = e.getCondition() == "standingOwner().isNoId()";
      }
      refused = refused && Error::suppressedCount() == printed && part.isValid() && !part->isDiscarded();
    }
    bool refused = false;
  } asker(engine());
  const Id<ConstrainedVariable> x = intVar("x", 0, 10), lb = intVar("lb", 2, 5), ub = intVar("ub", 3, 8);
  asker.composite = (new WithinBounds("withinBounds", "Default", engine(), makeScope(x, lb, ub)))->getId();
  for (const Id<Constraint>& c : m_engine->getConstraints())
    if (c != asker.composite)
      asker.part = c;
  m_engine->deleteConstraint(asker.composite);
  EXPECT_EQ(asker.owner, "composite");
  EXPECT_TRUE(asker.refused);
  EXPECT_TRUE(m_engine->getConstraints().empty());
}

// A listener told of a variable's making (its closing, or emptying, from its constructor) deletes
// or discards it: a creation by type name is refused, reading nothing freed, and nothing is left.
TEST_F(DeletingListenerTest, AVariableDeletedWhileItIsMadeByNameIsRefused) {
  m_schema->registerDataType((new IntDT())->getId());
  for (const char* trigger : {"changed v CLOSED", "changed v EMPTIED"}) {
    for (int way = 0; way < 2; ++way) {
      SCOPED_TRACE(std::string(trigger) + (way == 0 ? ", deleted" : ", discarded"));
      listener.acted = false;
      listener.trigger = trigger;
      listener.act = [this, way] {
        const std::vector<Id<ConstrainedVariable> > listed(m_engine->getVariables().begin(),
                                                           m_engine->getVariables().end());
        for (const Id<ConstrainedVariable>& var : listed)
          if (var->getName() == LabelStr("v")) {
            if (way == 0)
              delete static_cast<ConstrainedVariable*>(var);
            else
              var->discard();
          }
      };
      const bool emptied = std::string(trigger) == "changed v EMPTIED";
      const IntervalIntDomain base(emptied ? 1 : 0, emptied ? 0 : 3, IntDT::instance());
      EXPECT_CHECK_FAILS(m_engine->createVariable("int", base, false, true, "v", Id<Entity>::noId(), -1),
                         "made.isValid() && !made->isDiscarded()");
      EXPECT_TRUE(listener.acted);
      EXPECT_TRUE(m_engine->getVariables().empty());
      Entity::garbageCollect();
    }
  }
  // Made with new, it may be discarded there: new answers the discarded variable.
  listener.acted = false;
  listener.trigger = "changed w CLOSED";
  listener.act = [this] {
    const std::vector<Id<ConstrainedVariable> > listed(m_engine->getVariables().begin(),
                                                       m_engine->getVariables().end());
    for (const Id<ConstrainedVariable>& var : listed)
      if (var->getName() == LabelStr("w"))
        var->discard();
  };
  const Id<ConstrainedVariable> w = intVar("w", 0, 3);
  EXPECT_TRUE(listener.acted && w->isDiscarded());
  EXPECT_TRUE(m_engine->getVariables().empty());
  // Deleting another object there leaves the creation standing.
  const Id<ConstrainedVariable> other = intVar("other", 0, 1);
  listener.acted = false;
  listener.trigger = "changed v CLOSED";
  listener.act = [other] { delete static_cast<ConstrainedVariable*>(other); };
  const Id<ConstrainedVariable> v = m_engine->createVariable("int", IntervalIntDomain(0, 3, IntDT::instance()), false,
                                                             true, "v", Id<Entity>::noId(), -1);
  EXPECT_TRUE(listener.acted);
  EXPECT_TRUE(v.isValid() && !v->isDiscarded());
  EXPECT_FALSE(other.isValid());
}

TEST_F(DeletingListenerTest, WhatAListenerWidensDuringARelaxationWidensAllItReaches) {
  // Told that e widened, the listener deletes u <= t, or resets the specified u: u's own
  // relaxation joins the one under way and reaches w through the equality.
  for (const bool byReset : {false, true}) {
    SCOPED_TRACE(byReset ? "reset" : "deletion");
    const Id<ConstrainedVariable> t = intVar("t", 3, 3), r = intVar("r", 0, 10), e = intVar("e", 0, 10),
                                  u = intVar("u", 0, 10), w = intVar("w", 0, 10);
    Constraint* rt = leq("rt", r, t);
    new EqualConstraint("re", "Default", engine(), makeScope(r, e));
    Constraint* ut = leq("ut", u, t);
    new EqualConstraint("uw", "Default", engine(), makeScope(u, w));
    if (byReset)
      u->specify(2);
    ASSERT_TRUE(m_engine->propagate());
    listener.acted = false;
    listener.trigger = "changed e RELAXED";
    listener.act = [&] { byReset ? u->reset() : delete ut; };
    delete rt;
    EXPECT_TRUE(listener.acted);
    EXPECT_TRUE(m_engine->propagate());
    EXPECT_EQ(w->lastDomain().getUpperBound(), byReset ? 3 : 10);
  }

  // Likewise while the emptied variables are relaxed: x lost its specified value from its base,
  // and is walked past before y; told that y is refilled, the listener resets x, which is then
  // no longer recorded empty.
  const Id<ConstrainedVariable> x = enumVar("x", {1, 2, 3}), y = enumVar("y", {0, 1});
  x->specify(1);
  x->restrictBaseDomain(NumericDomain(std::list<double>{2, 3}, FloatDT::instance()));
  y->specify(0);
  y->specify(1);
  ASSERT_EQ(m_engine->getViolationMgr().getEmptyVariables().size(), 2u);
  listener.acted = false;
  listener.trigger = "changed y RELAXED";
  listener.act = [x] { x->reset(); };
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(listener.acted);
  EXPECT_FALSE(m_engine->provenInconsistent());
}

TEST_F(DeletingListenerTest, ARunWhoseListenerFailsEndsWholeAndGivesBackWhatADeletedConstraintNarrowed) {
  // Told that x lost values, the listener deletes the constraint that narrowed it, then calls
  // propagate(), which is refused inside a run: the run ends whole, with x widened again, and
  // the refusal leaves propagate() after it.
  const Id<ConstrainedVariable> x = intVar("x", 0, 10), y = intVar("y", 0, 3);
  Constraint* c = leq("c", x, y);
  listener.trigger = "changed x UPPER_BOUND_DECREASED";
  listener.act = [&] {
    delete c;
    m_engine->propagate();
  };
  EXPECT_CHECK_FAILS(m_engine->propagate(), "!m_propInProgress");
  EXPECT_TRUE(listener.acted);
  EXPECT_EQ(x->lastDomain().getUpperBound(), 10);
  EXPECT_FALSE(m_engine->pending());
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(x->lastDomain().getUpperBound(), 10);

  // Likewise what a constraint set aside as violated narrowed, as the next run would have it.
  m_engine->setAllowViolations(true);
  const Id<ConstrainedVariable> u = intVar("u", 6, 10), w = intVar("w", 0, 5);
  const Id<Constraint> d = leq("d", u, w);
  listener.acted = false;
  listener.trigger = "deactivated d";
  listener.act = [&] { m_engine->propagate(); };
  EXPECT_CHECK_FAILS(m_engine->propagate(), "!m_propInProgress");
  EXPECT_TRUE(listener.acted);
  EXPECT_TRUE(m_engine->isViolated(d));
  EXPECT_EQ(u->lastDomain().getLowerBound(), 6);
  EXPECT_EQ(w->lastDomain().getUpperBound(), 5);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(m_engine->isViolated(d));
}

// Told that a deletion let go of t, t's listener may act on t or delete another constraint: the
// constraint going, still held violated and linked to t, is never brought back to a propagator.
TEST_F(DeletingListenerTest, AVariableListenerActingOnAnUnlinkLeavesTheGoingConstraintQueuedNowhere) {
  struct ActsOnUnlink : ConstrainedVariableListener {
    ActsOnUnlink(const Id<ConstrainedVariable>& variable, std::function<void()> act)
        : ConstrainedVariableListener(variable), m_act(std::move(act)) {}
    void notifyConstraintRemoved(const Id<Constraint>&, int) override {
      if (m_act)
        std::exchange(m_act, nullptr)();
    }
    std::function<void()> m_act;
  };
  for (int deed = 0; deed < 4; ++deed) {
    SCOPED_TRACE(deed);
    m_engine->getViolationMgr().setMaxViolationsAllowed(2);
    const Id<ConstrainedVariable> p = intVar("p", 0, 10), t = intVar("t", 0, 10);
    const Id<Constraint> pp = (new LessThanConstraint("lt", "Default", engine(), makeScope(p, p)))->getId();
    const Id<Constraint> tt = (new LessThanConstraint("lt", "Default", engine(), makeScope(t, t)))->getId();
    m_engine->propagate();
    ASSERT_TRUE(m_engine->isViolated(pp) && m_engine->isViolated(tt));
    const std::vector<std::function<void()> > deeds = {
        [t] { t->reset(); }, [t] { t->relax(); }, [t] { t->specify(4); }, [pp] { delete static_cast<Constraint*>(pp); }};
    const ActsOnUnlink actor(t, [&] {
      deeds[static_cast<std::size_t>(deed)]();
      m_propagator->isValid();
    });
    // Told inside the destructor, where a failed check is only printed.
    const unsigned long printed = Error::suppressedCount();
    m_engine->deleteConstraint(tt);
    EXPECT_EQ(Error::suppressedCount(), printed);
    EXPECT_TRUE(m_engine->propagate());
    EXPECT_EQ(m_engine->getViolation(), deed == 3 ? 0.0 : 1.0);
    delete static_cast<ConstrainedVariable*>(p);
    delete static_cast<ConstrainedVariable*>(t);
    m_engine->getViolationMgr().setMaxViolationsAllowed(0);
  }
}

} // namespace
} // namespace KALDEN
