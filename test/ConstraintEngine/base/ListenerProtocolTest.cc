#define KALDEN_SOURCE "test/ConstraintEngine/base/ListenerProtocolTest"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
#include "ConstraintEngine/base/PSVarValue.hh"
#include "ConstraintEngine/component/EqualityConstraintPropagator.hh"
#include "ConstraintEngine/component/EqualityConstraints.hh"
#include "ConstraintEngine/component/OrderingConstraints.hh"
#include "ConstraintEngine/component/SumConstraints.hh"
#include "support/ConstraintCatalogue.hh"
#include "support/EngineFixture.hh"
#include "support/Failure.hh"
#include "support/ListenerSlots.hh"
#include "support/MirrorListener.hh"
#include "support/RecordingEngineListener.hh"
#include "support/TestConstraints.hh"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

// Acts once on the first notice `when` answers true for.
class ActingListener : public ConstraintEngineListener {
public:
  explicit ActingListener(const Id<ConstraintEngine>& engine) : ConstraintEngineListener(engine) {}
  std::function<bool(const std::string&)> when;
  std::function<void()> act;

  void notifyExecuted(const Id<Constraint>& c) override { heard("executed " + c->getName().toString()); }
  void notifyAdded(const Id<Constraint>& c) override { heard("added " + c->getName().toString()); }
  void notifyAdded(const Id<ConstrainedVariable>& v) override { heard("added variable " + v->getName().toString()); }
  void notifyRemoved(const Id<Constraint>& c) override { heard("removed " + c->getName().toString()); }
  void notifyViolationAdded(const Id<Constraint>& c) override { heard("violated " + c->getName().toString()); }
  void notifyDeactivated(const Id<Constraint>& c) override { heard("deactivated " + c->getName().toString()); }
  void notifyChanged(const Id<ConstrainedVariable>& v, const DomainListener::ChangeType&) override {
    heard("changed " + v->getName().toString());
  }
  void notifyPropagationPreempted() override { heard("preempted"); }
  // A variable heard removed is whole for the call: its domain is read.
  void notifyRemoved(const Id<ConstrainedVariable>& v) override {
    lastRemovedDomain = v->lastDomain().toString();
    heard("removed variable " + v->getName().toString());
  }
  std::string lastRemovedDomain;

private:
  void heard(const std::string& notice) {
    if (!act || !when || !when(notice))
      return;
    const std::function<void()> once = act;
    act = nullptr;
    once();
  }
};

// Deletes (or discards) the variable it listens to when told a constraint was linked to it.
class VariableDeleter : public ConstrainedVariableListener {
public:
  VariableDeleter(const Id<ConstrainedVariable>& variable, bool discard)
      : ConstrainedVariableListener(variable), m_discard(discard) {}
  void notifyConstraintAdded(const Id<Constraint>&, int) override {
    const Id<ConstrainedVariable> variable = m_variable;
    if (m_discard)
      variable->discard();
    else
      delete static_cast<ConstrainedVariable*>(variable);
  }
  void notifyDiscard() override { delete this; }

private:
  bool m_discard;
};

// Counts what a variable's listener hears.
class LinkCounter : public ConstrainedVariableListener {
public:
  explicit LinkCounter(const Id<ConstrainedVariable>& variable) : ConstrainedVariableListener(variable) {}
  int added = 0;
  int removed = 0;
  void notifyConstraintAdded(const Id<Constraint>&, int) override { ++added; }
  void notifyConstraintRemoved(const Id<Constraint>&, int) override { ++removed; }
};

// Acts once when told a constraint was linked to its variable.
class LinkActor : public ConstrainedVariableListener {
public:
  explicit LinkActor(const Id<ConstrainedVariable>& variable) : ConstrainedVariableListener(variable) {}
  std::function<void()> act;
  void notifyConstraintAdded(const Id<Constraint>&, int) override {
    const std::function<void()> once = act;
    act = nullptr;
    if (once)
      once();
  }
};

// Pictures a variable's links from its listener's notices alone; records the first breach.
class LinkMirror : public ConstrainedVariableListener {
public:
  explicit LinkMirror(const Id<ConstrainedVariable>& variable) : ConstrainedVariableListener(variable) {}
  std::set<Id<Constraint> > linked;
  std::string breach;
  void notifyConstraintAdded(const Id<Constraint>& c, int) override {
    if (!linked.insert(c).second && breach.empty())
      breach = "linked twice";
  }
  void notifyConstraintRemoved(const Id<Constraint>& c, int) override {
    if (linked.erase(c) == 0 && breach.empty())
      breach = "unlinked before linked";
  }
  // Where the picture differs from the variable's own links.
  std::string difference() const {
    std::set<Id<Constraint> > actual;
    m_variable->constraints(actual);
    return actual == linked ? breach : breach + "; the links differ";
  }
};

// The protocol every listener can rely on, held against a listener that pictures the network
// from the notices alone: after each step its picture is the engine's and it heard no breach.
class ListenerProtocolTest : public NetworkFixture {
protected:
  ListenerProtocolTest() : mirror(engine()), log(engine()), actor(engine()), lateMirror(engine()) {
    m_schema->registerDataType((new IntDT())->getId());
    m_schema->registerDataType((new FloatDT())->getId());
    m_schema->registerDataType((new BoolDT())->getId());
    registerCatalogue(*m_schema);
  }

  void expectMirrored(const std::string& when) {
    EXPECT_EQ(mirror.breach(), "") << when;
    EXPECT_EQ(mirror.differenceFromEngine(), "") << when;
    EXPECT_EQ(lateMirror.breach(), "") << when;
    EXPECT_EQ(lateMirror.differenceFromEngine(), "") << when;
  }
  Id<Constraint> leq(const Id<ConstrainedVariable>& a, const Id<ConstrainedVariable>& b) {
    return (new LessThanEqualConstraint("leq", "Default", engine(), makeScope(a, b)))->getId();
  }
  // Deletes every variable, and so every constraint, and frees what was discarded.
  void clearNetwork() {
    Entity::garbageCollect();
    const std::vector<Id<ConstrainedVariable> > variables(m_engine->getVariables().begin(),
                                                          m_engine->getVariables().end());
    for (const Id<ConstrainedVariable>& var : variables)
      delete static_cast<ConstrainedVariable*>(var);
    Entity::garbageCollect();
    m_engine->getViolationMgr().clearEmptyVariables();
  }
  // The log with the tag left out.
  std::vector<std::string> events() const {
    std::vector<std::string> result;
    for (const std::string& e : log.events())
      result.push_back(e.substr(2));
    return result;
  }

  MirrorListener mirror;
  RecordingEngineListener log;
  ActingListener actor;
  // Told after the actor (listeners are told in the order they registered): it hears what the actor's deeds overtake.
  MirrorListener lateMirror;
};

// Counts the changes of one variable an engine listener hears.
class ChangeCounter : public ConstraintEngineListener {
public:
  ChangeCounter(const Id<ConstraintEngine>& engine, const Id<ConstrainedVariable>& variable)
      : ConstraintEngineListener(engine), m_variable(variable) {}
  int changes = 0;
  void notifyChanged(const Id<ConstrainedVariable>& v, const DomainListener::ChangeType&) override {
    changes += v == m_variable ? 1 : 0;
  }

private:
  Id<ConstrainedVariable> m_variable;
};

// Discards its variable when told a constraint was linked to it.
class LinkDiscarder : public ConstrainedVariableListener {
public:
  explicit LinkDiscarder(const Id<ConstrainedVariable>& variable) : ConstrainedVariableListener(variable) {}
  void notifyConstraintAdded(const Id<Constraint>&, int) override {
    const Id<ConstrainedVariable> variable = m_variable;
    variable->discard();
  }
};

// Deletes a variable when told it changed.
class ChangeDeleter : public ConstraintEngineListener {
public:
  explicit ChangeDeleter(const Id<ConstraintEngine>& engine) : ConstraintEngineListener(engine) {}
  void notifyChanged(const Id<ConstrainedVariable>& v, const DomainListener::ChangeType&) override {
    delete static_cast<ConstrainedVariable*>(v);
  }
};

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Whatever deletes an object inside a run, delete or discard, of a constraint or of a variable,
// every listener hears it removed once, with the object whole while it is told.
TEST_F(ListenerProtocolTest, RemovalsInsideARunAreHeardOnceWhicheverWay) {
  for (int way = 0; way < 4; ++way) {
    SCOPED_TRACE(way);
    const bool discard = way % 2 == 1;
    const bool aVariable = way >= 2;
    const Id<ConstrainedVariable> x = intVar("x", 0, 10);
    const Id<ConstrainedVariable> y = intVar("y", 0, 5);
    const Id<ConstrainedVariable> z = intVar("z", 0, 3);
    leq(x, y);
    const Id<Constraint> second = leq(y, z);
    log.clear();
    actor.when = [](const std::string& notice) { return notice == "executed leq"; };
    actor.act = [=] {
      if (aVariable) {
        if (discard)
          y->discard();
        else
          delete static_cast<ConstrainedVariable*>(y);
      } else if (discard) {
        second->discard();
      } else {
        delete static_cast<Constraint*>(second);
      }
    };
    EXPECT_TRUE(m_engine->propagate());
    expectMirrored("after the run");
    const std::vector<std::string> heard = events();
    const auto count = [&heard](const std::string& e) { return std::count(heard.begin(), heard.end(), e); };
    EXPECT_EQ(count("removedConstraint leq"), aVariable ? 2 : 1);
    EXPECT_EQ(count("removedVariable y"), aVariable ? 1 : 0);
    clearNetwork();
    expectMirrored("after clean-up");
  }
}

// Something made inside a run and removed before the run's notices are told is heard of by
// nobody: neither added nor removed.
TEST_F(ListenerProtocolTest, AnObjectMadeAndGoneWhileNoticesWaitIsNeverHeard) {
  const Id<ConstrainedVariable> x = intVar("x", 0, 10);
  const Id<ConstrainedVariable> y = intVar("y", 0, 5);
  leq(x, y);
  actor.when = [](const std::string& notice) { return notice == "executed leq"; };
  actor.act = [&] {
    const Id<ConstrainedVariable> brief = intVar("brief", 0, 1);
    delete static_cast<ConstrainedVariable*>(brief);
  };
  log.clear();
  EXPECT_TRUE(m_engine->propagate());
  for (const std::string& e : events())
    EXPECT_EQ(e.find("brief"), std::string::npos) << e;
  expectMirrored("after the run");
}

// A delegate made by name while its owner is built: both are heard added before the run
// their creation starts, and the run's executions come after it commenced.
TEST_F(ListenerProtocolTest, ADelegateByNameIsHeardAddedBeforeTheRun) {
  const Id<ConstrainedVariable> a = intVar("a", 0, 4);
  const Id<ConstrainedVariable> b = intVar("b", 2, 9);
  const Id<ConstrainedVariable> m = intVar("m", 0, 20);
  log.clear();
  m_engine->createConstraint("max", makeScope(a, b, m));
  const std::vector<std::string> heard = events();
  ASSERT_GE(heard.size(), 4u);
  EXPECT_EQ(heard[0], "addedConstraint max");
  EXPECT_EQ(heard[1], "addedConstraint EqualMaximum");
  EXPECT_EQ(heard[2], "commenced");
  EXPECT_TRUE(startsWith(heard[3], "executed")) << heard[3];
  EXPECT_EQ(heard.back(), "completed");
  EXPECT_EQ(m->lastDomain().getUpperBound(), 9);
  expectMirrored("after the creation");
}

// A rule that fails part-way: what it changed is told before the error leaves propagate(),
// the run is heard preempted, and nothing it held reaches a later call.
TEST_F(ListenerProtocolTest, ARuleThatThrowsHasItsNoticesToldBeforeTheErrorLeaves) {
  const Id<ConstrainedVariable> x = intVar("x", 0, 10);
  const Id<ConstrainedVariable> y = intVar("y", 0, 10);
  new ThrowingTestConstraint("thrower", "Default", engine(), makeScope(x, y));
  log.clear();
  EXPECT_CHECK_FAILS(m_engine->propagate(), "false");
  const std::vector<std::string> heard = events();
  const std::vector<std::string> expected = {"commenced", "executed thrower", "changed x BOUNDS_RESTRICTED",
                                             "preempted"};
  EXPECT_EQ(heard, expected);
  expectMirrored("after the failure");
  // A later creation tells nothing of the failed run.
  log.clear();
  m_engine->setAutoPropagation(false);
  const Id<ConstrainedVariable> z = intVar("z", 0, 1);
  EXPECT_EQ(events(), (std::vector<std::string>{"addedVariable z", "changed z CLOSED"}));
  delete static_cast<ConstrainedVariable*>(x);
  expectMirrored("after the clean-up");
}

// A creation by name that is refused is heard of by nobody, engine listeners or variable
// listeners alike; one that stands is heard by both once it stands.
TEST_F(ListenerProtocolTest, ARefusedCreationByNameIsHeardOfByNobody) {
  const Id<ConstrainedVariable> x = intVar("x", 0, 10);
  LinkCounter* links = new LinkCounter(x);
  log.clear();
  EXPECT_THROW(m_engine->createConstraint("leq", makeScope(x)), Error);
  EXPECT_EQ(links->added, 0);
  EXPECT_EQ(links->removed, 0);
  EXPECT_EQ(events(), std::vector<std::string>{});
  expectMirrored("after the refusal");
  const Id<ConstrainedVariable> y = intVar("y", 0, 10);
  m_engine->createConstraint("leq", makeScope(x, y));
  EXPECT_EQ(links->added, 1);
  expectMirrored("after the creation");
  delete links;
}

// A variable's own listener deletes (or discards) the variable when told a constraint was
// linked to it: the constraint made with `new` is refused, and is heard added and removed;
// nothing freed is touched (run under the sanitizers). By name, the listener is told once the
// constraint stands, and the variable takes it along.
TEST_F(ListenerProtocolTest, AVariableDeletedByItsListenerWhileLinkedRefusesTheConstraint) {
  for (int way = 0; way < 4; ++way) {
    SCOPED_TRACE(way);
    const bool discard = way % 2 == 1;
    const bool byName = way >= 2;
    const Id<ConstrainedVariable> keeper = intVar("keeper", 0, 10);
    const Id<ConstrainedVariable> victim = intVar("victim", 0, 10);
    new VariableDeleter(victim, discard);
    if (byName) {
      m_engine->setAutoPropagation(false);
      const Id<Constraint> c = m_engine->createConstraint("leq", makeScope(keeper, victim));
      EXPECT_TRUE(!c.isValid() || c->isDiscarded());
      m_engine->setAutoPropagation(true);
    } else {
      EXPECT_CHECK_FAILS(leq(keeper, victim), "!isDiscarded() && variable.isValid() && !variable->isDiscarded()");
    }
    EXPECT_TRUE(keeper->isValid());
    EXPECT_TRUE(m_engine->getConstraints().empty());
    expectMirrored("after the creation");
    clearNetwork();
  }
}

// A listener deleting other objects from notifyAdded, notifyRemoved and the violation notices
// leaves every other listener's picture whole.
TEST_F(ListenerProtocolTest, DeletingFromAdditionsRemovalsAndViolationsKeepsThePicture) {
  m_engine->setAllowViolations(true);
  for (const char* trigger : {"added leq", "removed leq", "violated leq"}) {
    SCOPED_TRACE(trigger);
    const Id<ConstrainedVariable> x = intVar("x", 5, 10);
    const Id<ConstrainedVariable> y = intVar("y", 0, 3);
    const Id<ConstrainedVariable> other = intVar("other", 0, 3);
    const Id<Constraint> kept = leq(other, y);
    const std::string when = trigger;
    Id<Constraint> c;
    if (when != "added leq")
      c = leq(x, y);
    actor.when = [when](const std::string& notice) { return notice == when; };
    actor.act = [&] { delete static_cast<ConstrainedVariable*>(other); };
    if (when == "added leq")
      c = m_engine->createConstraint("leq", makeScope(x, y));
    else if (when == "removed leq")
      delete static_cast<Constraint*>(c);
    else
      m_engine->propagate();
    EXPECT_FALSE(actor.act) << "the notice was never heard";
    EXPECT_FALSE(kept.isValid() && !kept->isDiscarded());
    expectMirrored("after the deletion");
    clearNetwork();
    expectMirrored("after the clean-up");
  }
}

// A constraint set aside as violated and deleted later in the run: every listener hears its
// violation, then the withdrawal, then its removal, and keeps a picture of what is violated.
TEST_F(ListenerProtocolTest, AViolatedConstraintDeletedInARunIsHeardWithdrawnThenRemoved) {
  m_engine->setAllowViolations(true);
  const Id<ConstrainedVariable> x = intVar("x", 5, 10);
  const Id<ConstrainedVariable> y = intVar("y", 0, 3);
  const Id<Constraint> violated = leq(x, y);
  leq(intVar("z", 0, 10), intVar("w", 0, 5));
  int executions = 0;
  actor.when = [&executions](const std::string& notice) { return notice == "executed leq" && ++executions == 2; };
  actor.act = [&] {
    ASSERT_TRUE(m_engine->isViolated(violated));
    delete static_cast<Constraint*>(violated);
  };
  log.clear();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_FALSE(actor.act) << "the second execution was never heard";
  std::vector<std::string> heard = events();
  heard.erase(std::remove_if(heard.begin(), heard.end(),
                             [](const std::string& e) {
                               return !startsWith(e, "violation") && !startsWith(e, "removedConstraint");
                             }),
              heard.end());
  EXPECT_EQ(heard, (std::vector<std::string>{"violationAdded leq", "violationRemoved leq", "removedConstraint leq"}));
  expectMirrored("after the run");
}

// While the notices of a creation by name are told, a listener deletes what they concern or
// something else: every listener, told before or after it, keeps a picture that is the engine's.
TEST_F(ListenerProtocolTest, DeletingWhileACreationByNameIsToldKeepsEveryPicture) {
  m_engine->setAllowViolations(true);
  {
    SCOPED_TRACE("a scope variable, on hearing the interim variable added");
    const Id<ConstrainedVariable> z = intVar("z", 0, 20);
    const Id<ConstrainedVariable> x = intVar("x", 0, 10);
    const Id<ConstrainedVariable> y = intVar("y", 0, 10);
    actor.when = [](const std::string& notice) { return startsWith(notice, "added variable"); };
    actor.act = [&] { delete static_cast<ConstrainedVariable*>(x); };
    m_engine->createConstraint("sum", makeScope(z, x, y));
    EXPECT_FALSE(actor.act) << "the interim variable was never heard added";
    expectMirrored("after the sum");
    clearNetwork();
  }
  {
    SCOPED_TRACE("a scope variable, on hearing the constraint added");
    const Id<ConstrainedVariable> x = intVar("x", 0, 10);
    const Id<ConstrainedVariable> w = intVar("w", 0, 10);
    LinkMirror* links = new LinkMirror(w);
    actor.when = [](const std::string& notice) { return notice == "added leq"; };
    actor.act = [&] { delete static_cast<ConstrainedVariable*>(x); };
    m_engine->createConstraint("leq", makeScope(x, w));
    EXPECT_FALSE(actor.act);
    EXPECT_EQ(links->difference(), "");
    expectMirrored("after the leq");
    delete links;
    clearNetwork();
  }
  {
    SCOPED_TRACE("a scope variable, by the other variable's listener on hearing the link");
    const Id<ConstrainedVariable> x = intVar("x", 0, 10);
    const Id<ConstrainedVariable> w = intVar("w", 0, 10);
    // The actor registers first, so the mirror is told after it.
    struct Pair {
      explicit Pair(const Id<ConstrainedVariable>& v) : actor(v), links(v) {}
      LinkActor actor;
      LinkMirror links;
    };
    Pair* pair = new Pair(w);
    pair->actor.act = [&] { delete static_cast<ConstrainedVariable*>(x); };
    m_engine->createConstraint("leq", makeScope(x, w));
    EXPECT_FALSE(pair->actor.act);
    EXPECT_EQ(pair->links.difference(), "");
    expectMirrored("after the leq");
    delete pair;
    clearNetwork();
  }
  {
    SCOPED_TRACE("another constraint, on hearing the delegate added");
    const Id<ConstrainedVariable> x = intVar("x", 5, 9);
    const Id<ConstrainedVariable> y = intVar("y", 0, 9);
    const Id<ConstrainedVariable> m = intVar("m", 0, 9);
    const Id<ConstrainedVariable> z = intVar("z", 0, 2);
    const Id<Constraint> bound = leq(m, z);
    m_engine->propagate();
    actor.when = [](const std::string& notice) { return notice == "added EqualMaximum"; };
    actor.act = [&] { delete static_cast<Constraint*>(bound); };
    m_engine->createConstraint("max", makeScope(x, y, m));
    EXPECT_FALSE(actor.act);
    expectMirrored("after the max");
    m_engine->propagate();
    expectMirrored("after the next run");
    clearNetwork();
  }
}

// A creation by name whose run fails: no run starts while it is made (its delegate's run is the
// creation's own, once it stands), so it is heard added, then removed as it is taken back; what
// the run and the take-back did to the constraints already there is heard too.
TEST_F(ListenerProtocolTest, ARefusedCreationByNameKeepsTheNoticesAboutOthers) {
  m_engine->setAllowViolations(true);
  const Id<ConstrainedVariable> p = intVar("p", 0, 1);
  const Id<ConstrainedVariable> q = intVar("q", 5, 6);
  const Id<Constraint> eq = (new EqualConstraint("eq", "Default", engine(), makeScope(p, q)))->getId();
  m_engine->propagate();
  ASSERT_TRUE(m_engine->isViolated(eq));
  expectMirrored("after the violation");
  const Id<ConstrainedVariable> x = intVar("x", 0, 10);
  new ThrowingTestConstraint("thrower", "Default", engine(), makeScope(x, intVar("t", 0, 10)));
  log.clear();
  EXPECT_CHECK_FAILS(m_engine->createConstraint("max", makeScope(x, intVar("y", 0, 9), p)), "false");
  expectMirrored("after the refusal");
  std::vector<std::string> aboutMax;
  for (const std::string& e : events())
    if (e.find("max") != std::string::npos)
      aboutMax.push_back(e);
  EXPECT_EQ(aboutMax, (std::vector<std::string>{"addedConstraint max", "removedConstraint max"}));
  for (const Id<Constraint>& c : m_engine->getConstraints())
    EXPECT_NE(c->getName().toString(), "max");
  EXPECT_CHECK_FAILS(m_engine->propagate(), "false");
  expectMirrored("after the next run");
  clearNetwork();
}

// A listener told of an addition makes a composite by name whose delegate propagates inside its
// making: nothing of the composite is heard before it stands (its delegate its part by then), and
// its run comes after every listener heard of it, whatever a listener then does to it.
TEST_F(ListenerProtocolTest, ACompositeMadeByNameFromAListenerIsHeardOnlyOnceItStands) {
  for (int way = 0; way < 3; ++way) {
    SCOPED_TRACE(way);
    const Id<ConstrainedVariable> a = intVar("a", 0, 10);
    const Id<ConstrainedVariable> b = intVar("b", 0, 10);
    const Id<ConstrainedVariable> x1 = intVar("x1", 5, 5);
    const Id<ConstrainedVariable> x2 = intVar("x2", 0, 3);
    const Id<ConstrainedVariable> m = intVar("m", 0, 10);
    Id<Constraint> max;
    bool refused = false;
    actor.when = [](const std::string& notice) { return notice == "added leq"; };
    actor.act = [&] {
      actor.when = [way](const std::string& notice) { return notice == (way == 2 ? "added EqualMaximum" : "added max"); };
      actor.act = [&] {
        if (way == 0) {
          x2->discard();
        } else if (way == 1) {
          for (const Id<Constraint>& c : m_engine->getConstraints())
            if (c->getName() == LabelStr("EqualMaximum")) {
              EXPECT_CHECK_FAILS(m_engine->deleteConstraint(c), "standingOwner().isNoId()");
              break;
            }
        } else {
          KALDEN_CHECK(false);
        }
      };
      try {
        max = m_engine->createConstraint("max", makeScope(x1, x2, m));
      } catch (const Error&) {
        refused = true;
      }
      a->specify(3);
    };
    // A failure while the creation's notices are told takes it back before the error leaves;
    // so is the composite a listener made meanwhile when the failure is on a notice about it.
    if (way == 2)
      EXPECT_CHECK_FAILS(m_engine->createConstraint("leq", makeScope(a, b)), "false");
    else
      m_engine->createConstraint("leq", makeScope(a, b));
    EXPECT_FALSE(actor.act) << "the notice was never heard";
    // A failing listener keeps no other from hearing every notice.
    expectMirrored("after the creation");
    if (way == 0) {
      EXPECT_FALSE(x2.isValid() && !x2->isDiscarded());
    } else if (way == 1) {
      EXPECT_FALSE(refused);
      EXPECT_EQ(m->lastDomain().getLowerBound(), 5);
      EXPECT_EQ(m->lastDomain().getUpperBound(), 5);
    } else {
      EXPECT_FALSE(refused);
      EXPECT_FALSE(max.isValid() && !max->isDiscarded());
      EXPECT_TRUE(m_engine->getConstraints().empty()) << "neither the leq nor the composite stands";
    }
    EXPECT_TRUE(a->lastDomain().isSingleton());
    clearNetwork();
    expectMirrored("after the clean-up");
  }
}

// A listener that deletes a variable made by type name when told it was added: the creation is
// refused, after the variable was made, and nothing of it is left.
TEST_F(ListenerProtocolTest, AVariableDeletedWhenHeardAddedByTypeNameIsRefused) {
  for (int way = 0; way < 2; ++way) {
    SCOPED_TRACE(way);
    actor.when = [](const std::string& notice) { return notice == "added variable v"; };
    actor.act = [&] {
      Id<ConstrainedVariable> v;
      for (const Id<ConstrainedVariable>& var : m_engine->getVariables())
        v = var;
      if (way == 0)
        delete static_cast<ConstrainedVariable*>(v);
      else
        v->discard();
    };
    EXPECT_CHECK_FAILS(m_engine->createVariable("int", IntervalIntDomain(0, 4, IntDT::instance()), false, true, "v",
                                                Id<Entity>::noId(), -1),
                       "made.isValid() && !made->isDiscarded()");
    EXPECT_FALSE(actor.act);
    EXPECT_TRUE(m_engine->getVariables().empty());
    expectMirrored("after the refusal");
    Entity::garbageCollect();
  }
}

// The variable or constraint named `name`, the last registered of that name.
template <class T>
Id<T> named(const KeyOrderedSet<T>& objects, const char* name) {
  Id<T> found;
  for (const auto& object : objects)
    if (object->getName() == LabelStr(name))
      found = object;
  return found;
}

// While a constraint made with `new` is built, a listener discards a variable of its scope,
// deletes one, or deletes or discards the constraint itself: it is refused, the error leaves its
// constructor, nothing freed is read, and every listener heard it added and removed or not at all.
TEST_F(ListenerProtocolTest, AConstraintMadeWithNewLosingItsScopeOrItselfIsRefused) {
  new EqualityConstraintPropagator("Equal", engine());
  const char* const refusal = "!isDiscarded() && variable.isValid() && !variable->isDiscarded()";
  for (int way = 0; way < 6; ++way) {
    SCOPED_TRACE(way);
    const Id<ConstrainedVariable> z = intVar("z", 0, 20);
    const Id<ConstrainedVariable> x = intVar("x", 0, 10);
    const Id<ConstrainedVariable> y = intVar("y", 0, 10);
    const std::vector<Id<ConstrainedVariable> > scope = makeScope(z, x, y);
    if (way == 4)
      x->deactivate();
    actor.when = [way](const std::string& notice) {
      if (way == 3)
        return notice == "added own";
      return way == 4 ? notice == "deactivated own" : startsWith(notice, "added");
    };
    actor.act = [&] {
      if (way <= 1)
        x->discard();
      else if (way == 2)
        delete static_cast<ConstrainedVariable*>(x);
      else if (way == 3)
        named(m_engine->getConstraints(), "own")->discard();
      else
        m_engine->deleteConstraint(named(m_engine->getConstraints(), "own"));
    };
    switch (way) {
    case 0:
      EXPECT_CHECK_FAILS(new EqualSumConstraint("own", "Default", engine(), scope), refusal);
      break;
    case 1:
      EXPECT_CHECK_FAILS(new LessOrEqThanSumConstraint("own", "Default", engine(), scope), refusal);
      break;
    case 2:
      EXPECT_CHECK_FAILS(new EqualConstraint("own", "Equal", engine(), makeScope(x, y)), refusal);
      break;
    default:
      EXPECT_CHECK_FAILS(new LessThanEqualConstraint("own", "Default", engine(), makeScope(x, y)), refusal);
    }
    EXPECT_FALSE(actor.act) << "the notice was never heard";
    EXPECT_TRUE(m_engine->getConstraints().empty());
    expectMirrored("after the refusal");
    EXPECT_TRUE(m_engine->propagate());
    clearNetwork();
    expectMirrored("after the clean-up");
  }
}

// A composite made with `new` is heard added only once its members are built and are its parts,
// whether it holds them by value (withinBounds) or makes them with `new` (leqsum). Told of it or
// of a member, a listener that deletes it only discards it, as it is still being made: its
// constructor refuses it, nothing freed is read, and every listener heard it added and removed.
TEST_F(ListenerProtocolTest, ACompositeIsHeardAddedOnlyOnceItsMembersAreItsParts) {
  const char* const refusal = "!isDiscarded() && variable.isValid() && !variable->isDiscarded()";
  for (int kind = 0; kind < 2; ++kind) {
    // way 0: nobody acts; 1: deleted when heard added; 2: deleted when its first member is.
    for (int way = 0; way < 3; ++way) {
      SCOPED_TRACE(std::string(kind == 0 ? "withinBounds" : "leqsum") + " way " + std::to_string(way));
      const Id<ConstrainedVariable> x = intVar("x", 0, 20);
      const Id<ConstrainedVariable> lb = intVar("lb", 2, 5);
      const Id<ConstrainedVariable> ub = intVar("ub", 3, 8);
      // The composite, the first constraint made; its parts, counted when it is heard added.
      const auto composite = [this] { return *m_engine->getConstraints().begin(); };
      std::size_t partsWhenHeard = 0;
      int additions = 0;
      actor.when = [&](const std::string& notice) {
        if (!startsWith(notice, "added ") || startsWith(notice, "added variable "))
          return false;
        if (++additions == 1)
          for (const Id<Constraint>& c : m_engine->getConstraints())
            partsWhenHeard += c->standingOwner() == composite() ? 1 : 0;
        return additions == way;
      };
      actor.act = [&] { m_engine->deleteConstraint(composite()); };
      const auto make = [&]() -> Constraint* {
        if (kind == 0)
          return new WithinBounds("own", "Default", engine(), makeScope(x, lb, ub));
        return new LessOrEqThanSumConstraint("own", "Default", engine(), makeScope(x, lb, ub));
      };
      if (way == 0) {
        const Id<Constraint> made = make()->getId();
        EXPECT_EQ(made, composite());
        EXPECT_TRUE(m_engine->propagate());
        EXPECT_EQ(x->lastDomain().getUpperBound(), kind == 0 ? 8 : 13);
        // Its parts go with it (an interim variable held by value is no client's to delete).
        m_engine->deleteConstraint(made);
      } else {
        EXPECT_CHECK_FAILS(make(), refusal);
        EXPECT_FALSE(actor.act) << "the notice was never heard";
        EXPECT_TRUE(m_engine->getConstraints().empty());
        EXPECT_EQ(m_engine->getVariables().size(), 3u) << "an internal variable left behind";
        EXPECT_TRUE(m_engine->propagate());
      }
      EXPECT_EQ(partsWhenHeard, kind == 0 ? 1u : 3u) << "heard added before its members were its parts";
      expectMirrored("after the making");
      actor.act = nullptr;
      clearNetwork();
      expectMirrored("after the clean-up");
    }
  }
}

// A listener told of a constraint or variable made with `new` (its constructor still running)
// drops its last hold, through an Entity pointer or its own class, or discards it and collects
// the garbage: nothing frees it. The drop is refused (the listener may catch that, and the object
// stands as it was; uncaught, the error leaves the constructor); the collection keeps it for later.
TEST_F(ListenerProtocolTest, NothingBeingMadeIsFreedByAListener) {
  const char* const refusal = "!isBeingMade()";
  for (int variable = 0; variable < 2; ++variable) {
    // way 0, 1: the last hold dropped through Entity or its own class, the refusal caught; 2: not
    // caught; 3: discarded, then the garbage collected.
    for (int way = 0; way < 4; ++way) {
      SCOPED_TRACE(std::string(variable ? "variable" : "constraint") + " way " + std::to_string(way));
      const Id<ConstrainedVariable> x = intVar("x", 0, 10);
      const Id<ConstrainedVariable> y = intVar("y", 0, 10);
      std::string caught;
      actor.when = [variable](const std::string& notice) {
        return notice == (variable ? "added variable v" : "added own");
      };
      actor.act = [&] {
        Entity* const made =
            variable ? static_cast<Entity*>(static_cast<ConstrainedVariable*>(named(m_engine->getVariables(), "v")))
                     : static_cast<Entity*>(static_cast<Constraint*>(named(m_engine->getConstraints(), "own")));
        if (way == 3) {
          const std::size_t live = Entity::liveCount();
          made->discard();
          Entity::garbageCollect();
          EXPECT_EQ(Entity::liveCount(), live);
          return;
        }
        try {
          if (way == 1 && variable)
            static_cast<ConstrainedVariable*>(made)->decRefCount();
          else if (way == 1)
            static_cast<Constraint*>(made)->decRefCount();
          else
            made->decRefCount();
        } catch (const Error& error) {
          caught = error.getCondition();
          EXPECT_EQ(made->refCount(), 1u);
          EXPECT_FALSE(made->isDiscarded());
          if (way == 2)
            throw;
        }
      };
      const auto make = [&]() -> Entity* {
        if (variable)
          return intVar("v", 2, 4).operator->();
        return new LessThanEqualConstraint("own", "Default", engine(), makeScope(x, y));
      };
      if (way == 2 || (way == 3 && !variable)) {
        EXPECT_CHECK_FAILS(make(),
                           way == 2 ? refusal : "!isDiscarded() && variable.isValid() && !variable->isDiscarded()");
        EXPECT_EQ(m_engine->getVariables().size(), 2u);
        EXPECT_TRUE(m_engine->getConstraints().empty());
      } else {
        Entity* const made = make();
        EXPECT_EQ(made->isDiscarded(), way == 3);
        EXPECT_EQ(m_engine->getVariables().size() + m_engine->getConstraints().size(), way == 3 ? 2u : 3u);
      }
      EXPECT_FALSE(actor.act) << "the notice was never heard";
      EXPECT_EQ(caught, way < 3 ? refusal : "");
      expectMirrored("after the making");
      EXPECT_TRUE(m_engine->propagate());
      actor.act = nullptr;
      clearNetwork();
      EXPECT_EQ(Entity::pooledCount(), 0u);
    }
  }
}

// A variable made with `new` and discarded when heard added: it has its domains by then, so the
// listeners told of its removal read them; `new` answers the discarded variable.
TEST_F(ListenerProtocolTest, AVariableDiscardedWhenHeardAddedIsWholeWhenHeardRemoved) {
  actor.when = [](const std::string& notice) { return notice == "added variable v"; };
  actor.act = [&] { named(m_engine->getVariables(), "v")->discard(); };
  const Id<ConstrainedVariable> v = intVar("v", 2, 4);
  EXPECT_FALSE(actor.act);
  EXPECT_TRUE(v->isDiscarded());
  EXPECT_EQ(actor.lastRemovedDomain, IntervalIntDomain(2, 4, IntDT::instance()).toString());
  expectMirrored("after the discard");
  Entity::garbageCollect();
}

// Told that a constraint made by name was added, a listener deletes another with
// auto-propagation on: the run that deletion starts waits until every listener heard the
// addition, so none hears an execution of what it does not hold.
TEST_F(ListenerProtocolTest, ADeletionFromAnAdditionPropagatesOnceTheAdditionIsHeard) {
  const Id<ConstrainedVariable> x = intVar("x", 0, 10);
  const Id<ConstrainedVariable> y = intVar("y", 0, 5);
  const Id<Constraint> other = leq(intVar("p", 0, 3), intVar("q", 0, 3));
  m_engine->propagate();
  actor.when = [](const std::string& notice) { return notice == "added leq"; };
  actor.act = [&] { m_engine->deleteConstraint(other); };
  m_engine->createConstraint("leq", makeScope(x, y));
  EXPECT_FALSE(actor.act);
  EXPECT_FALSE(other.isValid());
  EXPECT_EQ(x->lastDomain().getUpperBound(), 5);
  EXPECT_FALSE(m_engine->pending());
  expectMirrored("after the creation");
}

// Told of a constraint or a variable made with `new`, a listener's deed that owes a run (a
// specify, switching auto-propagation on) is taken and the object stands; no run starts inside
// the constructor: it waits for the next propagate().
TEST_F(ListenerProtocolTest, ARunOwedWhileAnObjectIsMadeWithNewWaitsForTheNextPropagation) {
  for (int way = 0; way < 3; ++way) {
    SCOPED_TRACE(way);
    const bool specifying = way != 1, ofAVariable = way == 2;
    const Id<ConstrainedVariable> x = intVar("x", 0, 10), y = intVar("y", 0, 8);
    if (ofAVariable)
      leq(x, y);
    m_engine->setAutoPropagation(specifying);
    ASSERT_TRUE(m_engine->propagate());
    PSVarValue five(5, INTEGER);
    log.actAt(ofAVariable ? "addedVariable v" : "addedConstraint leq", [&] {
      if (specifying)
        y->specifyValue(five);
      else
        m_engine->setAutoPropagation(true);
    });
    log.clear();
    const unsigned long printedBefore = Error::suppressedCount();
    const Id<Constraint> made = ofAVariable ? Id<Constraint>() : leq(x, y);
    if (ofAVariable)
      intVar("v", 0, 1);
    EXPECT_FALSE(log.armed());
    EXPECT_EQ(Error::suppressedCount(), printedBefore);
    EXPECT_TRUE(ofAVariable || (made.isValid() && m_engine->getConstraints().count(made) == 1));
    EXPECT_EQ(std::count(log.events().begin(), log.events().end(), "L commenced"), 0);
    EXPECT_TRUE(m_engine->pending());
    EXPECT_TRUE(m_engine->getAutoPropagation());
    EXPECT_TRUE(m_engine->propagate());
    EXPECT_FALSE(m_engine->pending());
    EXPECT_EQ(x->lastDomain().getUpperBound(), specifying ? 5 : 8);
    expectMirrored("after the propagation");
    clearNetwork();
  }
}

// Told that c came on (the client switched it on, or its violation was withdrawn), the first
// listener switches c, or a variable of its scope, off: a later listener hears c on, then off,
// never twice alike nor the stale activation last. Switching c itself while c is being switched
// is refused; what stands is what the listeners heard.
TEST_F(ListenerProtocolTest, AConstraintSwitchedOffWhenHeardOnIsHeardOnThenOff) {
  RecordingEngineListener later(engine(), nullptr, "Z");
  for (int way = 0; way < 4; ++way) {
    SCOPED_TRACE(way);
    const bool violated = way >= 2;
    m_engine->setAllowViolations(violated);
    const Id<ConstrainedVariable> a = intVar("a", 0, 5), b = intVar("b", 3, 3);
    const Id<Constraint> c = (new EqualConstraint("c", "Default", engine(), makeScope(a, b)))->getId();
    if (violated)
      a->specify(1);
    else
      c->deactivate();
    ASSERT_TRUE(m_engine->propagate());
    ASSERT_FALSE(c->isActive());
    std::string refusal;
    log.actAt(way == 3 ? "violationRemoved c" : "activatedConstraint c", [&] {
      try {
        if (way == 1)
          a->deactivate();
        else
          c->deactivate();
      } catch (const Error& e) {
        refusal = e.getCondition();
      }
    });
    later.clear();
    if (violated)
      a->reset();
    else
      c->undoDeactivation();
    EXPECT_FALSE(log.armed());
    expectMirrored("after the switching");
    std::vector<std::string> heardOfC;
    for (const std::string& e : later.events())
      if (e == "Z activatedConstraint c" || e == "Z deactivatedConstraint c")
        heardOfC.push_back(e.substr(2));
    if (refusal.empty()) {
      EXPECT_FALSE(c->isActive());
      EXPECT_EQ(heardOfC, (std::vector<std::string>{"activatedConstraint c", "deactivatedConstraint c"}));
    } else {
      EXPECT_EQ(refusal, "!isBeingSwitched()");
      EXPECT_TRUE(c->isActive());
      EXPECT_EQ(heardOfC, std::vector<std::string>{"activatedConstraint c"});
    }
    EXPECT_TRUE(way != 1 || refusal.empty()) << "a variable is not the constraint being switched";
    EXPECT_TRUE(m_engine->propagate());
    expectMirrored("after the propagation");
    clearNetwork();
  }
  m_engine->setAllowViolations(false);
}

// A listener makes a composite by name while another creation's notices are told, and fails when
// told of that composite's delegate: the creation it failed on must not stand, nor its delegate,
// nor what it would narrow.
TEST_F(ListenerProtocolTest, AFailureOnTheDelegateOfANestedCreationTakesThatCreationBack) {
  const Id<ConstrainedVariable> a = intVar("a", 0, 10), b = intVar("b", 0, 10);
  const Id<ConstrainedVariable> x1 = intVar("x1", 5, 5), x2 = intVar("x2", 0, 3), m = intVar("m", 0, 10);
  Id<Constraint> max;
  actor.when = [](const std::string& notice) { return notice == "added leq"; };
  actor.act = [&] {
    actor.when = [](const std::string& notice) { return notice == "added EqualMaximum"; };
    actor.act = [] { KALDEN_CHECK(false); };
    max = m_engine->createConstraint("max", makeScope(x1, x2, m));
  };
  EXPECT_CHECK_FAILS(m_engine->createConstraint("leq", makeScope(a, b)), "false");
  EXPECT_FALSE(actor.act) << "the delegate was never heard";
  expectMirrored("after the failure");
  EXPECT_FALSE(max.isValid() && !max->isDiscarded());
  for (const Id<Constraint>& c : m_engine->getConstraints())
    EXPECT_TRUE(c->getName() != LabelStr("max") && c->getName() != LabelStr("EqualMaximum")) << c->toString();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(m->lastDomain().getLowerBound(), 0);
  expectMirrored("after the propagation");
}

// Attaches a link mirror to every variable it hears added, as a view of the network would.
class LinkMirrorAttacher : public ConstraintEngineListener {
public:
  explicit LinkMirrorAttacher(const Id<ConstraintEngine>& engine) : ConstraintEngineListener(engine) {}
  void notifyAdded(const Id<ConstrainedVariable>& v) override { mirrors.emplace_back(new Mirror(v)); }
  struct Mirror : LinkMirror {
    explicit Mirror(const Id<ConstrainedVariable>& v) : LinkMirror(v) {}
    void notifyDiscard() override { gone = true; }
    bool gone = false;
  };
  // Where a standing variable's mirror differs from its links.
  std::string difference() const {
    for (const std::unique_ptr<Mirror>& m : mirrors)
      if (!m->gone && !m->difference().empty())
        return m->difference();
    return "";
  }
  std::vector<std::unique_ptr<Mirror> > mirrors;
};

// Variable listeners attached when their variables are heard added hear every link a creation
// by name makes, the interim variables' included, and an unlink only of a link they heard.
TEST_F(ListenerProtocolTest, ListenersAttachedWhenAVariableIsHeardAddedHearItsLinks) {
  LinkMirrorAttacher* attacher = new LinkMirrorAttacher(engine());
  for (int additions = 0; additions < 7; additions += 5) {
    SCOPED_TRACE(additions);
    const Id<ConstrainedVariable> z = intVar("z", 0, 40);
    const std::vector<Id<ConstrainedVariable> > scope =
        makeScope(z, intVar("a", 0, 10), intVar("b", 0, 10), intVar("c", 0, 10), intVar("d", 0, 10));
    int heard = 0;
    actor.when = [&heard, additions](const std::string& notice) {
      return additions != 0 && startsWith(notice, "added") && ++heard == additions;
    };
    actor.act = [&] { named(m_engine->getConstraints(), "sum")->discard(); };
    m_engine->createConstraint("sum", scope);
    EXPECT_EQ(attacher->difference(), "");
    EXPECT_GT(attacher->mirrors.size(), 5u) << "the interim variables were heard added";
    expectMirrored("after the creation");
    // The composite's interim variables are its own: they go with it.
    delete static_cast<ConstrainedVariable*>(z);
    clearNetwork();
    attacher->mirrors.clear();
  }
  delete attacher;
}

} // namespace
} // namespace KALDEN

namespace KALDEN {
namespace {

// Listeners are told in the order they registered, wherever they lie: one registered before a
// listener that deletes the variable it is told of hears that notice, one registered after it
// does not (an engine's listeners told of a specify; a variable's told of a link).
TEST_F(ListenerProtocolTest, ListenersAreToldInTheOrderTheyRegisteredWhereverTheyLie) {
  std::mt19937 random(5);
  Slots<2> slots;
  for (int round = 0; round < 16; ++round) {
    SCOPED_TRACE(round);
    const bool counterFirst = round % 2 == 0;
    std::size_t at[2] = {0, 1};
    std::shuffle(at, at + 2, random);

    const Id<ConstrainedVariable> x = intVar("x", 0, 10);
    ChangeCounter* counter = nullptr;
    ChangeDeleter* deleter = nullptr;
    for (int i = 0; i < 2; ++i) {
      if ((i == 0) == counterFirst)
        counter = slots.make<ChangeCounter>(at[i], engine(), x);
      else
        deleter = slots.make<ChangeDeleter>(at[i], engine());
    }
    x->specify(3);
    EXPECT_FALSE(x.isValid());
    EXPECT_EQ(counter->changes, counterFirst ? 1 : 0);
    SlotRelease()(counter);
    SlotRelease()(deleter);

    const Id<ConstrainedVariable> keeper = intVar("keeper", 0, 10);
    const Id<ConstrainedVariable> victim = intVar("victim", 0, 10);
    LinkCounter* links = nullptr;
    LinkDiscarder* discarder = nullptr;
    for (int i = 0; i < 2; ++i) {
      if ((i == 0) == counterFirst)
        links = slots.make<LinkCounter>(at[i], victim);
      else
        discarder = slots.make<LinkDiscarder>(at[i], victim);
    }
    EXPECT_CHECK_FAILS(leq(keeper, victim), "!isDiscarded() && variable.isValid() && !variable->isDiscarded()");
    EXPECT_EQ(links->added, counterFirst ? 1 : 0);
    SlotRelease()(links);
    SlotRelease()(discarder);
    expectMirrored("after the round");
    clearNetwork();
  }
}

// A listener that fails when told of a creation by name, of a constraint or a variable: every
// listener still hears the notice, the creation is taken back before the error leaves, and
// nothing of it is left registered or pending.
TEST_F(ListenerProtocolTest, AListenerFailingWhileACreationByNameIsToldTakesItBack) {
  const Id<ConstrainedVariable> x = intVar("x", 0, 10);
  const Id<ConstrainedVariable> y = intVar("y", 0, 5);
  actor.when = [](const std::string& notice) { return notice == "added leq"; };
  actor.act = [] { KALDEN_CHECK(false); };
  EXPECT_CHECK_FAILS(m_engine->createConstraint("leq", makeScope(x, y)), "false");
  EXPECT_TRUE(m_engine->getConstraints().empty());
  EXPECT_FALSE(m_engine->pending());
  EXPECT_EQ(x->lastDomain().getUpperBound(), 10);
  expectMirrored("after the constraint");
  actor.when = [](const std::string& notice) { return notice == "added variable v"; };
  actor.act = [] { KALDEN_CHECK(false); };
  EXPECT_CHECK_FAILS(m_engine->createVariable("int", IntervalIntDomain(0, 4, IntDT::instance()), false, true, "v",
                                              Id<Entity>::noId(), -1),
                     "false");
  EXPECT_EQ(m_engine->getVariables().size(), 2u);
  expectMirrored("after the variable");
  // While a constructor tells, nothing propagates.
  actor.when = [](const std::string& notice) { return notice == "added own"; };
  actor.act = [this] { EXPECT_CHECK_FAILS(m_engine->propagate(), "!isBeingMade()"); };
  new LessThanEqualConstraint("own", "Default", engine(), makeScope(x, y));
  EXPECT_FALSE(actor.act);
  EXPECT_TRUE(m_engine->pending());
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(x->lastDomain().getUpperBound(), 5);
  expectMirrored("after the propagation");
}

// Every run heard commenced is heard to end before the call returns.
bool everyRunEnds(const std::vector<std::string>& events) {
  int open = 0;
  for (const std::string& e : events)
    open += e == "commenced" ? 1 : (e == "completed" || e == "preempted") ? -1 : 0;
  return open == 0;
}

// A listener that fails (throws) cuts nothing short: the call finishes whole, every listener
// hears every notice, a run ends, queued work stays, and the first failure leaves the outermost
// call once it has returned; a creation by name that owed the failed run goes with it.
TEST_F(ListenerProtocolTest, AFailingListenerLetsTheCallFinishWhole) {
  const auto newest = [this] {
    Id<ConstrainedVariable> last;
    for (const Id<ConstrainedVariable>& v : m_engine->getVariables())
      last = v;
    return last;
  };
  const Id<ConstrainedVariable> x = intVar("x", 0, 10), y = intVar("y", 0, 10), z = intVar("z", 0, 10);
  const Id<Constraint> c1 = leq(x, y), c2 = leq(y, z);
  ASSERT_TRUE(m_engine->propagate());
  // A run: the failure leaves after it ended, at the fixpoint.
  actor.when = [](const std::string& notice) { return notice == "executed leq"; };
  actor.act = [] { throw std::runtime_error("told of an execution"); };
  z->specify(4);
  EXPECT_THROW(m_engine->propagate(), std::runtime_error);
  EXPECT_EQ(x->lastDomain().getUpperBound(), 4);
  EXPECT_FALSE(m_engine->pending());
  EXPECT_TRUE(everyRunEnds(events()));
  expectMirrored("after the run");
  // A switching: both constraints go off with the variable, and come back with it.
  actor.when = [](const std::string& notice) { return notice == "deactivated leq"; };
  actor.act = [] { KALDEN_CHECK(false); };
  EXPECT_CHECK_FAILS(y->deactivate(), "false");
  EXPECT_FALSE(c1->isActive());
  EXPECT_FALSE(c2->isActive());
  y->undoDeactivation();
  EXPECT_TRUE(c1->isActive() && c2->isActive());
  expectMirrored("after the switching");
  // A discard: every listener hears the removal, and what it narrowed is given back.
  z->reset();
  y->specify(3);
  ASSERT_TRUE(m_engine->propagate());
  actor.when = [](const std::string& notice) { return notice == "changed x"; };
  actor.act = [] { KALDEN_CHECK(false); };
  EXPECT_CHECK_FAILS(c1->discard(), "false");
  EXPECT_EQ(m_engine->getConstraints().size(), 1u);
  expectMirrored("after the discard");
  y->reset();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(x->lastDomain().getUpperBound(), 10);
  // A creation by type name whose listener's creation owes a run that fails: both go.
  actor.when = [](const std::string& notice) { return notice == "added variable v"; };
  actor.act = [&] {
    actor.when = [](const std::string& notice) { return notice == "executed eq"; };
    actor.act = [] { KALDEN_CHECK(false); };
    m_engine->createConstraint("eq", makeScope(newest(), x));
  };
  const std::size_t variablesBefore = m_engine->getVariables().size();
  EXPECT_CHECK_FAILS(m_engine->createVariable("int", IntervalIntDomain(0, 4, IntDT::instance()), false, true, "v",
                                              Id<Entity>::noId(), -1),
                     "false");
  EXPECT_EQ(m_engine->getVariables().size(), variablesBefore);
  EXPECT_EQ(m_engine->getConstraints().size(), 1u);
  EXPECT_TRUE(everyRunEnds(events()));
  expectMirrored("after the creation");
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(x->lastDomain().getUpperBound(), 10);
  // Discarded by a listener in the run its creation owes, a variable made by type name is refused.
  actor.when = [](const std::string& notice) { return notice == "added variable w"; };
  actor.act = [&] {
    const Id<ConstrainedVariable> w = newest();
    actor.when = [](const std::string& notice) { return notice == "executed leq"; };
    actor.act = [w] { w->discard(); };
    m_engine->createConstraint("leq", makeScope(w, x));
  };
  EXPECT_CHECK_FAILS(m_engine->createVariable("int", IntervalIntDomain(0, 4, IntDT::instance()), false, true, "w",
                                              Id<Entity>::noId(), -1),
                     "made.isValid() && !made->isDiscarded()");
  expectMirrored("after the refusal");
}

// The run a listener's deed owes while a constraint or variable is discarded starts once it has
// gone whole: a composite with its parts and interim variables. So it does however discard() or
// decRefCount() is reached, through an Entity pointer too.
TEST_F(ListenerProtocolTest, TheRunOwedInsideADiscardStartsOnceItHasGone) {
  const Id<ConstrainedVariable> x = intVar("x", 0, 10), y = intVar("y", 0, 10), z = intVar("z", 0, 5);
  bool ranInside = false;
  struct RunWatch : ConstraintEngineListener {
    RunWatch(const Id<ConstraintEngine>& e, bool& flag) : ConstraintEngineListener(e), engine(e), ranInside(flag) {}
    // Its parts still there: the run started before the composite had gone whole.
    void notifyExecuted(const Id<Constraint>&) override {
      for (const Id<Constraint>& c : engine->getConstraints())
        ranInside = ranInside || (composite.isId() && c->standingOwner() == composite);
    }
    Id<ConstraintEngine> engine;
    Id<Constraint> composite;
    bool& ranInside;
  } watch(engine(), ranInside);
  for (int way = 0; way < 3; ++way) {
    SCOPED_TRACE(way == 0 ? "discard()" : way == 1 ? "discard() of an Entity" : "decRefCount() of an Entity");
    const Id<Constraint> sum = m_engine->createConstraint("sum", makeScope(z, x, y));
    const Id<Constraint> other = leq(x, y);
    ASSERT_TRUE(m_engine->propagate());
    actor.when = [](const std::string& notice) { return notice == "removed sum"; };
    actor.act = [&] { m_engine->deleteConstraint(other); };
    watch.composite = sum;
    ranInside = false;
    Entity* const entity = static_cast<Constraint*>(sum);
    if (way == 0)
      sum->discard();
    else if (way == 1)
      entity->discard();
    else
      entity->decRefCount();
    EXPECT_FALSE(ranInside);
    EXPECT_TRUE(m_engine->getConstraints().empty());
    EXPECT_FALSE(m_engine->pending());
    EXPECT_EQ(x->lastDomain().getUpperBound(), 10);
    expectMirrored("after the discard");
    watch.composite = Id<Constraint>();
  }
}

// A listener's creation made in a run that another listener fails stands, whichever call owed
// the run: nothing failed on it. The creation that owed the run is taken back.
TEST_F(ListenerProtocolTest, ACreationMadeInAFailedRunStandsWhicheverCallOwedIt) {
  const Id<ConstrainedVariable> x = intVar("x", 0, 10), y = intVar("y", 0, 10), u = intVar("u", 0, 10);
  struct Failing : ConstraintEngineListener {
    explicit Failing(const Id<ConstraintEngine>& e) : ConstraintEngineListener(e) {}
    void notifyExecuted(const Id<Constraint>&) override {
      if (armed)
        armed = false, throw std::runtime_error("told it runs");
    }
    bool armed = false;
  } failing(engine());
  for (bool owedByCreation : {true, false}) {
    SCOPED_TRACE(owedByCreation ? "owed by createConstraint" : "an explicit propagate()");
    const std::size_t before = m_engine->getConstraints().size();
    const auto arm = [&] {
      actor.when = [](const std::string& notice) { return notice.rfind("executed", 0) == 0; };
      actor.act = [&] { m_engine->createConstraint("leq", makeScope(u, x)); };
      failing.armed = true;
    };
    if (owedByCreation) {
      arm();
      EXPECT_THROW(m_engine->createConstraint("leq", makeScope(x, y)), std::runtime_error);
    } else {
      leq(x, y); // made with new outside any call: its run waits for the propagate()
      ASSERT_TRUE(m_engine->pending());
      arm();
      EXPECT_THROW(m_engine->propagate(), std::runtime_error);
    }
    // The listener's leq(u, x) stands; the client's leq(x, y) only when made before the call.
    EXPECT_EQ(m_engine->getConstraints().size(), before + (owedByCreation ? 1u : 2u));
    bool listenerMade = false;
    for (const Id<Constraint>& c : m_engine->getConstraints())
      listenerMade = listenerMade || c->getScope()[0] == u;
    EXPECT_TRUE(listenerMade);
    expectMirrored("after the failed run");
    for (const Id<Constraint>& c : std::vector<Id<Constraint> >(m_engine->getConstraints().begin(),
                                                                m_engine->getConstraints().end()))
      m_engine->deleteConstraint(c);
  }
}

// A creation taken back because a listener failed goes through the ordinary deletion: a
// composite whole with its parts. What the listeners told of its removal make stands, even when
// a listener fails on it: it was made after the failure. Nothing is printed but from where
// nothing may throw.
TEST_F(ListenerProtocolTest, ACreationTakenBackGoesWholeThroughTheOrdinaryDeletion) {
  const Id<ConstrainedVariable> x = intVar("x", 0, 10), y = intVar("y", 0, 10), m = intVar("m", 0, 10);
  testing::internal::CaptureStderr();
  // Failing on the part of a composite made by name takes the composite back, parts and all.
  actor.when = [](const std::string& notice) { return notice == "added EqualMaximum"; };
  actor.act = [] { KALDEN_CHECK(false); };
  EXPECT_CHECK_FAILS(m_engine->createConstraint("allmax", makeScope(x, y, m)), "false");
  EXPECT_TRUE(m_engine->getConstraints().empty());
  expectMirrored("after the composite");
  // Told of the take-back, a listener makes another by name and fails on it: it stands, the
  // first failure is the one that leaves, and the later one, inside the take-back's destructor,
  // is printed.
  actor.when = [](const std::string& notice) { return notice == "added leq"; };
  actor.act = [&] {
    actor.when = [](const std::string& notice) { return notice == "removed leq"; };
    actor.act = [&] {
      actor.when = [](const std::string& notice) { return notice == "added lt"; };
      actor.act = [] { throw std::runtime_error("a later failure"); };
      m_engine->createConstraint("lt", makeScope(x, y));
    };
    KALDEN_CHECK(false);
  };
  EXPECT_CHECK_FAILS(m_engine->createConstraint("leq", makeScope(x, y)), "false");
  ASSERT_EQ(m_engine->getConstraints().size(), 1u);
  EXPECT_EQ((*m_engine->getConstraints().begin())->getName(), LabelStr("lt"));
  expectMirrored("after the nested take-back");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "A listener failed: a later failure\n");
  actor.when = [](const std::string&) { return false; };
  m_engine->deleteConstraint(*m_engine->getConstraints().begin());
  // Made with new and refused: its refusal has left the scope it failed in, so the creation by
  // name its removal makes is a call of its own, taken back for the failure on its part (printed,
  // inside the refusal); the handles stay true.
  actor.when = [](const std::string& notice) { return notice == "added own"; };
  actor.act = [&] {
    actor.when = [](const std::string& notice) { return notice == "removed own"; };
    actor.act = [&] {
      actor.when = [](const std::string& notice) { return notice == "added EqualMaximum"; };
      actor.act = [] { throw std::runtime_error("told of a part"); };
      m_engine->createConstraint("allmax", makeScope(x, y, m));
    };
    KALDEN_CHECK(false);
  };
  testing::internal::CaptureStderr();
  EXPECT_CHECK_FAILS(new LessThanEqualConstraint("own", "Default", engine(), makeScope(x, y)), "false");
  EXPECT_TRUE(m_engine->getConstraints().empty());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "A listener failed: told of a part\n");
  expectMirrored("after the refused new");
  leq(x, y);
  EXPECT_TRUE(m_engine->propagate());
  expectMirrored("after a new constraint");
}

} // namespace
} // namespace KALDEN
