#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
#include "ConstraintEngine/component/Constraints.hh"
#include "support/ConstraintCatalogue.hh"
#include "support/EngineFixture.hh"
#include "support/Failure.hh"
#include "support/RecordingEngineListener.hh"
#include "support/TestConstraints.hh"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <list>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

// Switching variables and constraints off and on loses no value for good: what a removal, a reset
// or a reopening gives back reaches past whatever is switched off, and the deactivation counts
// stay balanced whatever the order of the calls.
class SwitchingTest : public NetworkFixture {
protected:
  Id<ConstrainedVariable> intEnum(const char* name, const std::list<double>& values) {
    return (new Variable<EnumeratedDomain>(engine(), NumericDomain(values, IntDT::instance()), false, true, name,
                                           Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
        ->getId();
  }
  template <class C>
  Id<Constraint> make(const std::vector<Id<ConstrainedVariable> >& scope) {
    return (new C("c", "Default", engine(), scope))->getId();
  }
  bool propagate() { return m_engine->propagate(); }
  // How many times the listener heard `event`.
  static long heardTimes(const RecordingEngineListener& listener, const std::string& event) {
    return std::count(listener.events().begin(), listener.events().end(), "L " + event);
  }
  // Reopens a closed enumeration, adds a value to it, closes it and specifies it to that value.
  static void reopenTo(const Id<ConstrainedVariable>& var, double value) {
    var->open();
    var->insert(value);
    var->close();
    var->specify(value);
  }
};

TEST_F(SwitchingTest, RemovingAConstraintGivesBackWhatItNarrowedWhateverIsSwitchedOff) {
  enum Removal { DELETE, DELETE_CONSTRAINT, DELETE_Y };
  for (Removal removal : {DELETE, DELETE_CONSTRAINT, DELETE_Y}) {
    for (bool xOff : {false, true}) {
      SCOPED_TRACE(std::to_string(removal) + (xOff ? " x off" : " y off"));
      // w <= x < y = 3: x and, through it, w are narrowed to [0,2].
      const Id<ConstrainedVariable> w = intVar("w", 0, 5), x = intVar("x", 0, 5), y = intVar("y", 0, 5);
      y->specify(3);
      const Id<Constraint> c = make<LessThanConstraint>(makeScope(x, y));
      const Id<Constraint> wx = make<LessThanEqualConstraint>(makeScope(w, x));
      ASSERT_TRUE(propagate());
      ASSERT_EQ(x->toString(), "[0,2]");
      const Id<ConstrainedVariable> off = xOff ? x : y;
      off->deactivate();
      if (removal == DELETE)
        delete static_cast<Constraint*>(c);
      else if (removal == DELETE_CONSTRAINT)
        m_engine->deleteConstraint(c);
      else
        delete static_cast<ConstrainedVariable*>(y);
      EXPECT_EQ(x->toString(), "[0,5]");
      // Reached from x while x itself is off, through a constraint that is off with it.
      EXPECT_EQ(w->toString(), "[0,5]");
      if (off.isValid())
        off->undoDeactivation();
      EXPECT_TRUE(wx->isActive());
      ASSERT_TRUE(propagate());
      EXPECT_EQ(x->toString(), "[0,5]");
      x->specify(4); // what nothing constrains any more
      EXPECT_TRUE(propagate());
      delete static_cast<Constraint*>(wx);
    }
  }
}

TEST_F(SwitchingTest, AResetReachesAVariableSwitchedOff) {
  const Id<ConstrainedVariable> y = intVar("y", -3, 3), x = intVar("x", -3, 3);
  make<AbsoluteValue>(makeScope(y, x)); // y = |x|
  x->specify(0);
  ASSERT_TRUE(propagate());
  ASSERT_EQ(y->toString(), "0");
  y->deactivate();
  x->reset();
  y->undoDeactivation();
  ASSERT_TRUE(propagate());
  EXPECT_EQ(y->toString(), "[0,3]");
  y->specify(3);
  EXPECT_TRUE(propagate());
  EXPECT_EQ(x->toString(), "[-3,3]");
}

// A listener may widen a switched-off variable while the engine runs: what it narrowed is given
// back once the run allows, and the run ends at the fixpoint of what is left.
TEST_F(SwitchingTest, ASwitchedOffVariableWidenedDuringARunIsRelaxedAfterIt) {
  struct Resetter : ConstraintEngineListener {
    Resetter(const Id<ConstraintEngine>& e, const Id<ConstrainedVariable>& v) : ConstraintEngineListener(e), var(v) {}
    void notifyExecuted(const Id<Constraint>&) override {
      if (var->specifiedFlag())
        var->reset();
    }
    Id<ConstrainedVariable> var;
  };
  const Id<ConstrainedVariable> y = intVar("y", 0, 10), z = intVar("z", 0, 10);
  y->specify(2);
  make<LessThanEqualConstraint>(makeScope(z, y));
  ASSERT_TRUE(propagate());
  ASSERT_EQ(z->toString(), "[0,2]");
  y->deactivate();
  make<LessThanEqualConstraint>(makeScope(intVar("a", 0, 5), intVar("b", 0, 3))); // something to run
  Resetter resetter(engine(), y);
  EXPECT_TRUE(propagate());
  EXPECT_EQ(y->toString(), "[0,10]");
  EXPECT_EQ(z->toString(), "[0,10]");
  y->undoDeactivation();
  EXPECT_TRUE(propagate());
  EXPECT_EQ(z->toString(), "[0,10]");
}

// A listener told that one of a variable's constraints went off (or on) deletes a constraint
// through the engine: the run that starts waits until all of them are switched, then reaches the
// fixpoint before the switching call returns.
TEST_F(SwitchingTest, ARunADeletionStartsWhileAVariableIsSwitchedWaitsForTheSwitching) {
  struct Deleter : ConstraintEngineListener {
    Deleter(const Id<ConstraintEngine>& e) : ConstraintEngineListener(e) {}
    void notifyDeactivated(const Id<Constraint>&) override { deleteVictim(); }
    void notifyActivated(const Id<Constraint>&) override { deleteVictim(); }
    void deleteVictim() {
      if (victim.isNoId())
        return;
      const Id<Constraint> c = victim;
      victim = Id<Constraint>::noId();
      engine->deleteConstraint(c);
    }
    Id<ConstraintEngine> engine;
    Id<Constraint> victim;
  };
  const Id<ConstrainedVariable> b = intVar("b", 0, 10), q = intVar("q", 0, 10), r = intVar("r", 0, 10);
  const Id<ConstrainedVariable> v = intVar("v", 0, 10), a = intVar("a", 0, 10), p = intVar("p", 0, 10);
  q->specify(3);
  r->specify(2);
  p->specify(7);
  const Id<Constraint> bq = make<LessThanEqualConstraint>(makeScope(b, q));
  const Id<Constraint> br = make<LessThanEqualConstraint>(makeScope(b, r));
  make<LessThanEqualConstraint>(makeScope(v, b));
  make<LessThanEqualConstraint>(makeScope(a, v));
  make<LessThanEqualConstraint>(makeScope(v, p));
  ASSERT_TRUE(propagate());
  ASSERT_EQ(a->toString(), "[0,2]");
  ASSERT_TRUE(m_engine->getAutoPropagation());
  Deleter deleter(engine());
  deleter.engine = engine();
  // Switched off: b <= 2 goes, b <= 3 holds again; v's constraints are all off.
  deleter.victim = br;
  v->deactivate();
  EXPECT_TRUE(deleter.victim.isNoId());
  EXPECT_FALSE(m_engine->pending());
  EXPECT_EQ(b->toString(), "[0,3]");
  // Switched on: b <= 3 goes, and v <= 7 bounds v and a again.
  deleter.victim = bq;
  v->undoDeactivation();
  EXPECT_TRUE(deleter.victim.isNoId());
  EXPECT_FALSE(m_engine->pending());
  EXPECT_EQ(b->toString(), "[0,10]");
  EXPECT_EQ(v->toString(), "[0,7]");
  EXPECT_EQ(a->toString(), "[0,7]");
}

// A constraint off because a variable of its scope is off was switched off by the engine: the
// client cannot switch it on, and the variable's own undo brings the variable and all its
// constraints back.
TEST_F(SwitchingTest, AConstraintOffWithItsVariableComesBackOnlyWithIt) {
  const Id<ConstrainedVariable> x = intVar("x", 0, 10), y = intVar("y", 0, 5), z = intVar("z", 0, 3);
  const Id<Constraint> xy = make<LessThanEqualConstraint>(makeScope(x, y));
  const Id<Constraint> zx = make<LessThanEqualConstraint>(makeScope(z, x));
  x->deactivate();
  RecordingEngineListener heard(engine());
  const bool pendingBefore = m_engine->pending();
  EXPECT_CHECK_FAILS(xy->undoDeactivation(), "m_clientDeactivations > 0");
  EXPECT_FALSE(xy->isActive());
  EXPECT_EQ(xy->deactivationCount(), 1u);
  EXPECT_EQ(m_engine->pending(), pendingBefore);
  EXPECT_TRUE(heard.events().empty());
  x->undoDeactivation();
  EXPECT_TRUE(x->isActive() && xy->isActive() && zx->isActive());
  EXPECT_EQ(heardTimes(heard, "activatedVariable x"), 1);
  EXPECT_EQ(heardTimes(heard, "activatedConstraint c"), 2);
  EXPECT_TRUE(propagate());
  EXPECT_EQ(x->toString(), "[0,5]");
}

// Told of a switching of x (one of its constraints going off, or x itself), a listener switches x
// off again: refused while x is being switched, so x is off once and heard off once, and one
// undo brings it back.
TEST_F(SwitchingTest, SwitchingAVariableWhileItIsSwitchedIsRefused) {
  for (const char* notice : {"deactivatedConstraint c", "deactivatedVariable x"}) {
    SCOPED_TRACE(notice);
    const Id<ConstrainedVariable> x = intVar("x", 0, 10);
    const Id<Constraint> c = make<LessThanEqualConstraint>(makeScope(x, intVar("y", 0, 5)));
    ASSERT_TRUE(propagate());
    RecordingEngineListener heard(engine());
    std::string refusal;
    heard.actAt(notice, [&] { refusal = failureOf([&] { x->deactivate(); }).getCondition(); });
    x->deactivate();
    EXPECT_EQ(refusal, "!isBeingSwitched()");
    EXPECT_EQ(x->refCount(), 1u);
    EXPECT_EQ(c->deactivationCount(), 1u);
    EXPECT_EQ(heardTimes(heard, "deactivatedVariable x"), 1);
    heard.clear();
    x->undoDeactivation();
    EXPECT_TRUE(x->isActive() && c->isActive());
    EXPECT_EQ(heardTimes(heard, "activatedVariable x"), 1);
    EXPECT_TRUE(propagate());
    delete static_cast<ConstrainedVariable*>(x);
  }
}

// Told that one of v's constraints went off (or on) while v is switched, a listener specifies w:
// taken, and the run it owes comes once, after v is heard switched.
TEST_F(SwitchingTest, ASpecifyHeardWhileAVariableIsSwitchedRunsOnceAfterTheSwitching) {
  const Id<ConstrainedVariable> v = intVar("v", 0, 10), w = intVar("w", 0, 10), y = intVar("y", 0, 10);
  make<LessThanEqualConstraint>(makeScope(v, w));
  make<LessThanEqualConstraint>(makeScope(y, w));
  ASSERT_TRUE(propagate());
  RecordingEngineListener heard(engine());
  for (bool on : {false, true}) {
    SCOPED_TRACE(on ? "switched on" : "switched off");
    w->reset();
    ASSERT_TRUE(propagate());
    heard.clear();
    PSVarValue value(on ? 4 : 6, INTEGER);
    heard.actAt(on ? "activatedConstraint c" : "deactivatedConstraint c", [&] { w->specifyValue(value); });
    if (on)
      v->undoDeactivation();
    else
      v->deactivate();
    EXPECT_FALSE(heard.armed());
    const std::vector<std::string>& events = heard.events();
    const auto switched =
        std::find(events.begin(), events.end(), on ? "L activatedVariable v" : "L deactivatedVariable v");
    EXPECT_EQ(heardTimes(heard, "commenced"), 1);
    EXPECT_LT(switched - events.begin(), std::find(events.begin(), events.end(), "L commenced") - events.begin());
    EXPECT_FALSE(m_engine->pending());
    EXPECT_EQ(y->toString(), on ? "[0,4]" : "[0,6]");
    EXPECT_EQ(v->toString(), on ? "[0,4]" : "[0,10]");
  }
}

TEST_F(SwitchingTest, ReopeningAVariableOfARetiredCompositeKeepsTheCountsBalanced) {
  const Id<ConstrainedVariable> a = intEnum("a", {1}), b = intEnum("b", {2});
  const Id<Constraint> c = make<AllDiffConstraint>(makeScope(a, b));
  ASSERT_TRUE(propagate());
  ASSERT_TRUE(c->isRetired());
  a->deactivate();
  b->open();
  a->undoDeactivation();
  EXPECT_TRUE(c->isActive());
  EXPECT_FALSE(c->isRetired());
  for (const Id<Constraint>& constraint : m_engine->getConstraints())
    EXPECT_TRUE(constraint->isActive() || constraint->isRedundant()) << constraint->toString();
  EXPECT_TRUE(propagate());
  // It constrains again: b may not take a's value.
  b->insert(1);
  b->close();
  b->specify(1);
  EXPECT_FALSE(propagate());
}

TEST_F(SwitchingTest, ACompositeTheClientSwitchedOffStaysOffThroughAReopening) {
  const std::function<void(const Id<Constraint>&, const Id<ConstrainedVariable>&, double)> check =
      [this](const Id<Constraint>& c, const Id<ConstrainedVariable>& reopened, double value) {
        ASSERT_TRUE(propagate());
        ASSERT_TRUE(c->isRetired());
        c->deactivate();
        reopenTo(reopened, value);
        EXPECT_TRUE(propagate()) << "a composite switched off constrained";

        EXPECT_FALSE(c->isActive());
        c->undoDeactivation();
        EXPECT_FALSE(propagate());
        m_engine->deleteConstraint(c); // the next case starts consistent
      };
  {
    SCOPED_TRACE("AllDiff");
    const Id<ConstrainedVariable> a = intEnum("a", {1}), b = intEnum("b", {2});
    check(make<AllDiffConstraint>(makeScope(a, b)), b, 1);
  }
  {
    SCOPED_TRACE("WithinBounds");
    const Id<ConstrainedVariable> x = intEnum("x", {5}), lb = intEnum("lb", {3}), ub = intEnum("ub", {5});
    check(make<WithinBounds>(makeScope(x, lb, ub)), lb, 9);
  }
}

// With violations allowed, a member of the composite is held violated once the composite is back:
// it stays off until its violation is withdrawn, which deleting the composite does once.
TEST_F(SwitchingTest, AViolatedMemberOfAReopenedCompositeIsWithdrawnOnce) {
  m_engine->setAllowViolations(true);
  const Id<ConstrainedVariable> a = intEnum("a", {1}), b = intEnum("b", {2});
  const Id<Constraint> c = make<AllDiffConstraint>(makeScope(a, b));
  ASSERT_TRUE(propagate());
  c->deactivate();
  reopenTo(b, 1);
  EXPECT_TRUE(propagate());
  EXPECT_EQ(m_engine->getAllViolations().size(), 0);
  c->undoDeactivation();
  propagate();
  const PSList<PSConstraint*> violated = m_engine->getAllViolations();
  ASSERT_GT(violated.size(), 0);
  for (int i = 0; i < violated.size(); ++i)
    EXPECT_FALSE(violated.get(i)->isActive());
  delete static_cast<Constraint*>(c);
  EXPECT_EQ(m_engine->getAllViolations().size(), 0);
  EXPECT_TRUE(propagate());
  EXPECT_EQ(b->toString(), "1");
}

// A value specified and reset over a closed singleton base is no longer the client's: reopened,
// the variable takes the values inserted into its base.
TEST_F(SwitchingTest, AResetVariableReopenedTakesWhatItsBaseGains) {
  const Id<ConstrainedVariable> v = intEnum("v", {-3, -1, 0, 2, 3});
  v->restrictBaseDomain(NumericDomain(std::list<double>{-3, -2}, IntDT::instance()));
  v->specify(-3);
  v->reset();
  EXPECT_FALSE(v->specifiedFlag());
  v->open();
  v->insert(0);
  v->close();
  EXPECT_EQ(v->toString(), "{-3, 0}");
  EXPECT_TRUE(propagate());
}

// What a rule decided for want of a value, or the value it removed, comes back into question when
// the value is inserted: the rule runs again over what the domain holds now.
TEST_F(SwitchingTest, InsertingIntoAnOpenEnumerationRunsItsConstraintsAgain) {
  const Id<ConstrainedVariable> open = openEnum("open", {0});
  const Id<ConstrainedVariable> b = intVar("b", 0, 1);
  make<NotEqualConstraint>(makeScope(b, open));
  // An open domain decides nothing, however few values it holds; closed, it decides.
  ASSERT_TRUE(propagate());
  ASSERT_EQ(b->toString(), "[0,1]");
  open->insert(2);
  EXPECT_TRUE(propagate());
  EXPECT_EQ(b->toString(), "[0,1]");
  open->remove(2);
  open->close();
  EXPECT_TRUE(propagate());
  EXPECT_EQ(b->toString(), "1");

  // A rule that reads an open domain's values so far (the library's wait) takes 3 again.
  const Id<ConstrainedVariable> o = openEnum("o", {-3, 1, 3});
  make<ValueRemovingTestConstraint>(makeScope(o, intVar("three", 3, 3)));
  ASSERT_TRUE(propagate());
  o->insert(3);
  EXPECT_TRUE(propagate());
  EXPECT_FALSE(o->lastDomain().isMember(3));
}

// A specified variable holds its value or nothing, closed, whether its domain was open or not.
TEST_F(SwitchingTest, SpecifyingAnOpenEnumerationToAValueItLostLeavesItClosedAndEmpty) {
  const Id<ConstrainedVariable> o = openEnum("o", {-1, 0, 1, 3});
  make<ValueRemovingTestConstraint>(makeScope(o, intVar("three", 3, 3)));
  ASSERT_TRUE(propagate());
  o->specify(3);
  EXPECT_TRUE(o->lastDomain().isEmpty());
  EXPECT_TRUE(o->lastDomain().isClosed());
  EXPECT_FALSE(propagate());
}

// An open enumeration that has lost its last member may still gain values: no failure. The
// inequality decides nothing over an open one, however few values it holds: both keep 2 until it
// is closed.
TEST_F(SwitchingTest, AnOpenEnumerationThatLosesItsLastMemberAnswers) {
  const Id<ConstrainedVariable> x = openEnum("x", {2}), y = intEnum("y", {2});
  make<ValueRemovingTestConstraint>(makeScope(x, y));
  EXPECT_TRUE(propagate());
  EXPECT_TRUE(x->lastDomain().isEmpty());
  x->insert(3);
  EXPECT_TRUE(propagate());
  EXPECT_EQ(x->toString(), "3");

  const Id<ConstrainedVariable> u = openEnum("u", {2}), v = intEnum("v", {2});
  make<NotEqualConstraint>(makeScope(u, v));
  EXPECT_TRUE(propagate());
  EXPECT_EQ(u->lastDomain().toString(), "int:OPEN{2}");
  EXPECT_EQ(v->toString(), "2");
  u->close();
  EXPECT_FALSE(propagate());
}

// Every rule that takes an open enumeration at creation answers over one that holds nothing yet,
// beside closed enumerations and booleans.
TEST_F(SwitchingTest, EveryRuleAnswersOverAnOpenEnumerationThatHoldsNothingYet) {
  const std::vector<ConstraintEntry>& catalogue = constraintCatalogue();
  for (const ConstraintEntry& entry : catalogue) {
    const auto accepts = [&entry](unsigned int position) {
      return entry.position ? entry.position(position) : ConstraintEntry::Position();
    };
    for (unsigned int arity : {entry.minArity, entry.maxArity > 4 ? 4u : entry.maxArity}) {
      for (unsigned int open = 0; open < arity; ++open) {
        std::vector<Id<ConstrainedVariable> > scope;
        for (unsigned int i = 0; i < arity && scope.size() == i; ++i) {
          const ConstraintEntry::Position p = accepts(i);
          if (i == open && (p.kinds & KIND_ENUMERATION) != 0)
            scope.push_back(openEnum("o", {}));
          else if (i != open && (p.kinds & KIND_ENUMERATION) != 0)
            scope.push_back(p.fixed ? intEnum("e", {1}) : intEnum("e", {0, 1, 2}));
          else if (i != open && (p.kinds & KIND_BOOLEAN) != 0)
            scope.push_back((new Variable<BoolDomain>(engine(), BoolDomain(BoolDT::instance()), false, true, "b",
                                                      Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
                                ->getId());
        }
        if (scope.size() == arity) {
          SCOPED_TRACE(entry.className + " of " + std::to_string(arity) + ", open at " + std::to_string(open));
          Constraint* made = nullptr;
          try {
            made = entry.build(engine(), "Default", scope, {KIND_ENUMERATION, 1});
          } catch (const Error&) {
            // refused at creation
          }
          if (made != nullptr) {
            EXPECT_NO_THROW(propagate());
            delete made;
          }
        }
        for (const Id<ConstrainedVariable>& var : scope)
          delete static_cast<ConstrainedVariable*>(var);
        EXPECT_TRUE(propagate());
      }
    }
  }
}

// An open enumeration under a unary constraint, switched off and on, then takes a closed
// enumeration's members through an equality: the unary judges them before the answer. One that
// holds nothing, whose base holds none of them, takes nothing and waits.
TEST_F(SwitchingTest, AUnaryJudgesWhatAVariableSwitchedOffAndOnTakesLater) {
  for (int held : {-1, 1}) {
    SCOPED_TRACE(held < 0 ? "open and empty" : "open holding 1");
    NumericDomain values(IntDT::instance());
    if (held > 0)
      values.insert(held);
    const Id<ConstrainedVariable> x =
        (new Variable<EnumeratedDomain>(engine(), values, false, true, "x", Id<Entity>::noId(),
                                        ConstrainedVariable::NO_INDEX))
            ->getId();
    const Id<ConstrainedVariable> w = intEnum("w", {2});
    Constraint* unary = new UnaryConstraint(NumericDomain({1}, IntDT::instance()), x);
    ASSERT_TRUE(m_engine->propagate());
    x->deactivate();
    ASSERT_TRUE(m_engine->propagate());
    x->undoDeactivation();
    ASSERT_TRUE(m_engine->propagate());
    Constraint* eq = new EqualConstraint("eq", "Default", engine(), makeScope(x, w));
    EXPECT_EQ(m_engine->propagate(), held < 0) << x->lastDomain().toString();
    EXPECT_EQ(x->lastDomain().toString(), held < 0 ? "int:OPEN{}" : "int:CLOSED{}");
    delete eq;
    delete unary;
    delete static_cast<ConstrainedVariable*>(x);
    delete static_cast<ConstrainedVariable*>(w);
    m_engine->clearEmptyVariables();
  }
}

// A switched-off variable is judged when it is switched on, whenever it was emptied: emptied
// while on and then switched off, it no longer makes the answer false; switched on, it does.
TEST_F(SwitchingTest, AVariableEmptiedWhileOnAndThenSwitchedOffIsJudgedWhenOn) {
  const Id<ConstrainedVariable> x = intEnum("x", {1, 2}), y = intEnum("y", {3});
  Constraint* eq = new EqualConstraint("eq", "Default", engine(), makeScope(x, y));
  EXPECT_FALSE(m_engine->propagate());
  x->deactivate();
  EXPECT_TRUE(m_engine->propagate());
  x->undoDeactivation();
  EXPECT_FALSE(m_engine->propagate());
  delete eq;
  EXPECT_TRUE(m_engine->propagate());
}

// What an open enumeration took from a closed domain through a constraint does not outlast the
// constraint being switched off, by the client or with a variable of its scope: the enumeration
// widens to its base and the rules reading it answer as over the network without the constraint.
TEST_F(SwitchingTest, WhatAnOpenEnumerationTookGoesWhenItsGiverIsSwitchedOff) {
  for (bool offWithVariable : {false, true}) {
    SCOPED_TRACE(offWithVariable ? "the closed variable switched off" : "the equality switched off");
    const Id<ConstrainedVariable> x = openEnum("x", {0, 1, 2}), y = intEnum("y", {1, 2});
    Constraint* eq = new EqualConstraint("eq", "Default", engine(), makeScope(x, y));
    ASSERT_TRUE(propagate());
    ASSERT_EQ(x->lastDomain().toString(), "int:CLOSED{1, 2}");
    if (offWithVariable)
      y->deactivate();
    else
      eq->deactivate();
    EXPECT_TRUE(propagate());
    EXPECT_EQ(x->lastDomain().toString(), "int:OPEN{0, 1, 2}");
    // A rule reading x meets what it holds without the equality.
    Constraint* unary = new UnaryConstraint(NumericDomain({0}, IntDT::instance()), x);
    EXPECT_TRUE(propagate());
    EXPECT_EQ(x->lastDomain().toString(), "int:CLOSED{0}");
    delete unary;
    delete eq;
    delete static_cast<ConstrainedVariable*>(x);
    delete static_cast<ConstrainedVariable*>(y);
  }
}

} // namespace
} // namespace KALDEN
