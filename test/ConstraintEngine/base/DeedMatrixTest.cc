// The deed matrix: every deed a listener may make, at the first notice of each kind, during each
// kind of client call, with auto-propagation on and off, over three small networks. Each case runs
// on a fresh engine in a child process (which goes on to the next case only while its cases pass),
// so that no crash or corruption reaches another case; each test, a network and a call, lists its
// failing cases grouped by what failed. KALDEN_DEEDS_IN_PROCESS=1 runs the cases in the test's own
// process (for a debugger), KALDEN_DEEDS_CASE=text only those whose name holds the text (such as
// "deleteConstraint@changed auto"), and KALDEN_DEEDS_REPORT=file appends each failure to the file.

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
#include "ConstraintEngine/base/ViolationMgr.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/Domains.hh"
#include "ConstraintEngine/component/Propagators.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "Utils/Entity.hh"
#include "Utils/Error.hh"
#include "Utils/IdTable.hh"
#include "support/ConstraintCatalogue.hh"
#include "support/MirrorListener.hh"
#include "support/NetworkSnapshot.hh"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <iterator>
#include <list>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace KALDEN {
namespace {

// The engine listener's fifteen notices, then the variable listener's three; a case names its
// notice by its index here.
const std::vector<std::string>& notices() {
  static const std::vector<std::string> sl_notices = [] {
    std::istringstream words("commenced completed preempted addedVariable removedVariable activatedVariable "
                             "deactivatedVariable addedConstraint removedConstraint activatedConstraint "
                             "deactivatedConstraint executed changed violationAdded violationRemoved "
                             "variable:discard variable:linked variable:unlinked");
    return std::vector<std::string>(std::istream_iterator<std::string>(words), std::istream_iterator<std::string>());
  }();
  return sl_notices;
}
int noticeOf(const std::string& name) {
  return static_cast<int>(std::find(notices().begin(), notices().end(), name) - notices().begin());
}

typedef Id<ConstrainedVariable> VarId;
typedef Id<Constraint> ConId;
typedef std::vector<VarId> Scope;
typedef std::function<bool(const VarId&)> VariableTest;
typedef std::function<bool(const ConId&)> ConstraintTest;

// A notice as a deed hears it, with the variable or constraint it is about.
struct Heard {
  std::string notice;
  VarId variable;
  ConId constraint;
};
// One case; a deed of -1 is the probe, which learns which notice kinds the call gives.
struct Coordinates {
  int network, call;
  bool autoPropagation;
  int deed, notice;
};
// What a case found: the notice kinds heard during the call (as bits) and each failed check.
struct Outcome {
  unsigned int heard = 0;
  std::vector<std::string> failures;
};
// A constraint the test made at the top level, as a fresh engine makes it again.
struct Made {
  ConId id;
  std::string name;
  bool byName;
  Scope scope;
};

bool any(const VarId&) { return true; }
bool isPart(const VarId& v) { return v->standingOwner().isId(); }
bool isPart(const ConId& c) { return c->standingOwner().isId(); }
bool isInterval(const VarId& v) { return v->baseDomain().isInterval() && !isPart(v); }
bool isEnumeration(const VarId& v) { return v->baseDomain().isEnumerated(); }
bool isOpen(const VarId& v) { return isEnumeration(v) && v->baseDomain().isOpen(); }
bool isClosedEnumeration(const VarId& v) { return isEnumeration(v) && v->baseDomain().isClosed(); }
bool inactive(const VarId& v) { return !v->isActive(); }
bool specified(const VarId& v) { return v->specifiedFlag(); }

// A value of the current domain that narrows it: its greatest (the base's least once it is empty).
double valueOf(const VarId& v) {
  const AbstractDomain& d = v->lastDomain();
  if (d.isEmpty())
    return v->baseDomain().isEmpty() ? 0 : v->baseDomain().getLowerBound();
  return d.getUpperBound();
}

// Takes the greatest value (or the last unit of an interval) from the base domain.
void restrictBase(const VarId& v) {
  const std::unique_ptr<AbstractDomain> base(v->baseDomain().copy());
  if (base->isEnumerated() && base->getSize() > 1)
    base->remove(base->getUpperBound());
  else if (!base->isEnumerated())
    base->intersect(base->getLowerBound(), base->getUpperBound() - (base->minDelta() >= 1 ? 1 : 0.5));
  v->restrictBaseDomain(*base);
}

const ConstraintEntry& entryNamed(const std::string& name) {
  for (const ConstraintEntry& e : constraintCatalogue())
    if (std::find(e.names.begin(), e.names.end(), name) != e.names.end())
      return e;
  throw std::logic_error("no catalogue entry " + name);
}

// A new variable over a copy of the domain, of the class the domain calls for.
VarId variableOver(const Id<ConstraintEngine>& engine, const AbstractDomain& base, const std::string& name) {
  const Id<Entity> none = Id<Entity>::noId();
  const int index = ConstrainedVariable::NO_INDEX;
  if (base.isEnumerated())
    return (new Variable<EnumeratedDomain>(engine, base, false, true, name, none, index))->getId();
  if (base.minDelta() >= 1)
    return (new Variable<IntervalIntDomain>(engine, base, false, true, name, none, index))->getId();
  return (new Variable<IntervalDomain>(engine, base, false, true, name, none, index))->getId();
}

// Counts a `new` expression under way for as long as it lasts.
struct Making {
  int& depth;
  explicit Making(int& counter) : depth(++counter) {}
  ~Making() { --depth; }
};

class Case;

// An engine listener telling the case of each notice, in its place: the first recorder (after the
// first mirror), the acting listener, or the late recorder (after the late mirror).
class Told : public ConstraintEngineListener {
public:
  enum Role { FIRST, ACTOR, LATE };
  Told(Case& owner, Role role);
  void notifyPropagationCommenced() override { tell("commenced"); }
  void notifyPropagationCompleted() override { tell("completed"); }
  void notifyPropagationPreempted() override { tell("preempted"); }
  void notifyAdded(const VarId& v) override { tell("addedVariable", v); }
  void notifyRemoved(const VarId& v) override { tell("removedVariable", v); }
  void notifyActivated(const VarId& v) override { tell("activatedVariable", v); }
  void notifyDeactivated(const VarId& v) override { tell("deactivatedVariable", v); }
  void notifyAdded(const ConId& c) override { tell("addedConstraint", VarId(), c); }
  void notifyRemoved(const ConId& c) override { tell("removedConstraint", VarId(), c); }
  void notifyActivated(const ConId& c) override { tell("activatedConstraint", VarId(), c); }
  void notifyDeactivated(const ConId& c) override { tell("deactivatedConstraint", VarId(), c); }
  void notifyExecuted(const ConId& c) override { tell("executed", VarId(), c); }
  void notifyChanged(const VarId& v, const DomainListener::ChangeType&) override { tell("changed", v); }
  void notifyViolationAdded(const ConId& c) override { tell("violationAdded", VarId(), c); }
  void notifyViolationRemoved(const ConId& c) override { tell("violationRemoved", VarId(), c); }

private:
  void tell(const char* notice, const VarId& v = VarId(), const ConId& c = ConId());
  Case& m_case;
  Role m_role;
};

// A variable listener telling the case of its three notices, where the deed may be done too.
class VariableTold : public ConstrainedVariableListener {
public:
  VariableTold(Case& owner, const VarId& variable)
      : ConstrainedVariableListener(variable), m_case(owner), m_heardOf(variable) {}
  void notifyDiscard() override { tell("variable:discard", ConId()); }
  void notifyConstraintAdded(const ConId& c, int) override { tell("variable:linked", c); }
  void notifyConstraintRemoved(const ConId& c, int) override { tell("variable:unlinked", c); }

private:
  void tell(const char* notice, const ConId& c);
  Case& m_case;
  VarId m_heardOf;
};

/**
 * One case: the network built and propagated, the listeners registered (a mirror, the first
 * recorder, a counter for snapshots, the acting listener, a late mirror and the late recorder),
 * the call prepared and made, the deed done at the first notice of its kind during the call. Then
 * the oracles: the call succeeds or fails only with the refusal the README documents for it; a
 * refused deed changes nothing; no run commences inside a deed, a constructor or a destructor, nor
 * before the late recorder heard what came before; both mirrors keep the protocol and picture the
 * engine, and the late recorder hears each object's notices in the first one's order; once all
 * is switched on and propagated, the answer and the domains are a fresh engine's over the
 * surviving model; and nothing is left behind.
 */
class Case {
public:
  Case(const Coordinates& at, Outcome& outcome);
  ~Case();
  void run();

  ConstraintEngine& ce() { return *m_engine; }
  const Id<ConstraintEngine>& id() const { return m_engine->getId(); }
  void fail(const std::string& what) { m_outcome.failures.push_back(what); }

  // What the networks, calls and deeds make is the test's own: all it may delete with `delete`.
  VarId interval(const char* name, double lb, double ub, bool real);
  VarId enumeration(const char* name, const std::list<double>& values, bool open);
  void createVariable() {
    m_owned.insert(ce().createVariable("int", IntervalIntDomain(0, 9, IntDT::instance()), false, true, "made",
                                       Id<Entity>::noId(), ConstrainedVariable::NO_INDEX)
                       ->getKey());
  }
  ConId make(const std::string& name, bool byName, const Scope& scope);
  Scope scope(const std::string& roles) {
    Scope result;
    for (char role : roles)
      result.push_back(v.at(role));
    return result;
  }
  // Makes the constraint over distinct interval variables, the first from the notice where it fits.
  void makeOver(const Heard& h, const char* name, bool byName, std::size_t arity);
  // A constraint switched off and on by the test, which counts its own deactivations (a client
  // never undoes one the engine or a variable made).
  void switchOff(const ConId& k) {
    const int key = k->getKey(); // a listener may delete it meanwhile
    k->deactivate();
    ++m_offByTest[key];
  }
  void switchOn(const ConId& k) {
    const int key = k->getKey();
    k->undoDeactivation();
    --m_offByTest[key];
  }
  int offByTest(const ConId& k) const { return m_offByTest.count(k->getKey()) ? m_offByTest.at(k->getKey()) : 0; }

  // A deed's target: the object heard of where it fits, else one of its scope or constraints, else
  // the first of the network that fits; never one going or heard removed, nor, for a plain delete,
  // one the test did not make or one being made (or a variable of a constraint being made).
  VarId variableFor(const Heard& h, const VariableTest& fits, bool deleting = false);
  ConId constraintFor(const Heard& h, const ConstraintTest& fits, bool deleting = false);

  // The listeners' notices: recorded, or heard by the actor, who does the deed at the first of its kind.
  void told(Told::Role role, const Heard& h);
  void act(const Heard& h);
  void watch(const VarId& v) {
    if (m_armed && v.isValid() && !v->isDiscarded())
      m_watchers.emplace_back(new VariableTold(*this, v));
  }

  std::map<char, VarId> v;         // roles: a, b, r (intervals), e (closed enumeration), o (open), s (off)
  std::map<char, ConId> k;         // roles: c (plain, in effect), m (a composite or another), s (off)
  double narrow = 0, conflict = 0; // a's values that narrow its network and that empty a domain in a run
  int making = 0;                  // depth of the `new` expressions under way

private:
  struct Entry {
    int key; // -1 for a run's notices
    std::string notice;
    bool told; // heard by the late recorder too
  };
  void heardLate(int key, const std::string& notice);
  std::string untold();
  void perform(const Heard& h);
  void runCommenced();
  void checkListeners(const std::string& when);
  void settle();
  void compareWithFresh(bool answer);

  Coordinates m_at;
  Outcome& m_outcome;
  std::unique_ptr<CESchema> m_schema;
  std::unique_ptr<ConstraintEngine> m_engine;
  std::vector<Made> m_made;
  std::set<int> m_owned;
  std::map<int, int> m_offByTest;
  std::unique_ptr<MirrorListener> m_mirror, m_lateMirror;
  std::unique_ptr<HeardCounter> m_counter;
  std::unique_ptr<Told> m_first, m_actor, m_late;
  std::vector<std::unique_ptr<VariableTold> > m_watchers;
  std::vector<Entry> m_log;             // what the first recorder heard
  std::map<int, std::size_t> m_matched; // per key, one past the entry the late recorder matched last
  std::set<int> m_removed;              // the keys heard removed
  std::size_t m_checked = 0;            // the entries checked as heard by the late recorder
  bool m_armed = false, m_done = false;
  int m_inDeed = 0;
};

// ---- The deeds, the networks and the calls, as data.

typedef std::function<void(Case&, const Heard&)> Act;
struct Deed {
  const char* name;
  Act act;
};

// A deed on a variable that fits (else any, unless it deletes).
Act onVariable(const VariableTest& fits, const std::function<void(const VarId&)>& f, bool deleting = false) {
  return [=](Case& c, const Heard& h) {
    VarId target = c.variableFor(h, fits, deleting);
    if (target.isNoId() && !deleting)
      target = c.variableFor(h, any);
    if (target.isId())
      f(target);
  };
}
Act onConstraint(const std::function<void(Case&, const ConId&)>& f, bool deleting = false) {
  return [=](Case& c, const Heard& h) {
    const ConId target = c.constraintFor(
        h, [](const ConId&) { return true; }, deleting);
    if (target.isId())
      f(c, target);
  };
}

const std::vector<Deed>& deeds() {
  static const std::vector<Deed> sl_deeds = {
      {"createConstraint", [](Case& c, const Heard& h) { c.makeOver(h, "leq", true, 2); }},
      {"new leq", [](Case& c, const Heard& h) { c.makeOver(h, "leq", false, 2); }},
      {"new withinBounds", [](Case& c, const Heard& h) { c.makeOver(h, "withinBounds", false, 3); }},
      {"deleteConstraint", onConstraint([](Case& c, const ConId& k) { c.ce().deleteConstraint(k); })},
      {"delete constraint", onConstraint([](Case&, const ConId& k) { delete static_cast<Constraint*>(k); }, true)},
      {"discard constraint", onConstraint([](Case&, const ConId& k) { k->discard(); })},
      {"delete variable", onVariable(
                              any, [](const VarId& v) { delete static_cast<ConstrainedVariable*>(v); }, true)},
      {"discard variable", onVariable(any, [](const VarId& v) { v->discard(); })},
      {"createVariable", [](Case& c, const Heard&) { c.createVariable(); }},
      {"new Variable", [](Case& c, const Heard&) { c.interval("made", 0, 9, false); }},
      {"specify", onVariable(any, [](const VarId& v) { v->specify(valueOf(v)); })},
      {"specifyValue", onVariable(any,
                                  [](const VarId& v) {
                                    PSVarValue value(valueOf(v), v->getType());
                                    v->specifyValue(value);
                                  })},
      {"reset", onVariable(specified, [](const VarId& v) { v->reset(); })},
      {"relax", onVariable(any, [](const VarId& v) { v->relax(); })},
      {"restrictBaseDomain", onVariable(any, restrictBase)},
      {"insert", onVariable(isOpen, [](const VarId& v) { v->insert(9); })},
      {"remove", onVariable(isEnumeration, [](const VarId& v) { v->remove(valueOf(v)); })},
      {"open", onVariable(isClosedEnumeration, [](const VarId& v) { v->open(); })},
      {"close", onVariable(isOpen, [](const VarId& v) { v->close(); })},
      {"deactivate variable", onVariable(any, [](const VarId& v) { v->deactivate(); })},
      {"undoDeactivation variable", onVariable(inactive, [](const VarId& v) { v->undoDeactivation(); })},
      {"deactivate constraint", onConstraint([](Case& c, const ConId& k) { c.switchOff(k); })},
      // One the test switched off, else any switched off: the engine must refuse what it switched off itself.
      {"undoDeactivation constraint",
       [](Case& c, const Heard& h) {
         ConId target = c.constraintFor(h, [&c](const ConId& k) { return c.offByTest(k) > 0; });
         target = target.isId() ? target : c.constraintFor(h, [](const ConId& k) { return !k->isActive(); });
         if (target.isId())
           c.switchOn(target);
       }},
      {"autoPropagation on", [](Case& c, const Heard&) { c.ce().setAutoPropagation(true); }},
      {"autoPropagation off", [](Case& c, const Heard&) { c.ce().setAutoPropagation(false); }},
      {"setAllowViolations", [](Case& c, const Heard&) { c.ce().setAllowViolations(!c.ce().getAllowViolations()); }},
      {"setMaxViolationsAllowed", [](Case& c, const Heard&) { c.ce().getViolationMgr().setMaxViolationsAllowed(2); }},
      {"propagate", [](Case& c, const Heard&) { c.ce().propagate(); }},
  };
  return sl_deeds;
}

// Built with auto-propagation off, then propagated; the roles name what the calls act on.
struct Network {
  const char* name;
  std::function<void(Case&)> build;
};

const std::vector<Network>& networks() {
  static const std::vector<Network> sl_networks = {
      {"composite",
       [](Case& c) {
         const VarId x = c.v['a'] = c.interval("x", 0, 10, false), y = c.v['b'] = c.interval("y", 0, 10, false);
         const VarId r = c.v['r'] = c.interval("r", 0, 10, true), z = c.interval("z", 0, 20, false);
         const VarId e = c.v['e'] = c.enumeration("e", {1, 3, 5, 7}, false);
         c.k['m'] = c.make("withinBounds", false, {r, x, y});
         c.k['c'] = c.make("leq", false, {x, y});
         c.make("eq", true, {e, x});
         c.make("sum", true, {z, x, y, e});
         c.narrow = 5, c.conflict = 2;
       }},
      {"open",
       [](Case& c) {
         const VarId o = c.v['o'] = c.enumeration("o", {1, 2, 3}, true), x = c.v['a'] = c.interval("x", 0, 5, false);
         const VarId e = c.v['e'] = c.enumeration("e", {2, 4}, false), r = c.v['r'] = c.interval("r", 0.5, 4.5, true);
         const VarId y = c.v['b'] = c.interval("y", 0, 5, false);
         c.k['c'] = c.make("leq", false, {x, r});
         c.k['m'] = c.make("eq", true, {x, e});
         c.make("eq", true, {o, y});
         c.narrow = 4, c.conflict = 3;
       }},
      {"switched",
       [](Case& c) {
         const VarId x = c.v['a'] = c.interval("x", 0, 8, false), y = c.v['s'] = c.interval("y", 0, 8, false);
         const VarId z = c.v['b'] = c.interval("z", 0, 8, false), r = c.v['r'] = c.interval("r", 0, 8, true);
         const VarId e = c.v['e'] = c.enumeration("e", {1, 3, 6}, false);
         c.k['m'] = c.make("leq", false, {x, y});
         c.make("leq", true, {y, z});
         c.k['c'] = c.make("eq", true, {e, x});
         c.k['s'] = c.make("lt", false, {z, r});
         y->deactivate();
         c.switchOff(c.k['s']);
         c.narrow = 3, c.conflict = 2;
       }},
  };
  return sl_networks;
}

// A client call: its preparation (listeners registered, no deed yet) and the call. It may fail only
// with the refusal named, which the README documents for a listener's deed during it.
struct Call {
  const char* name;
  std::function<void(Case&)> prepare;
  std::function<void(Case&)> call;
  const char* mayRefuse;
};

const char* const MADE_REFUSED = "!isDiscarded() && variable.isValid() && !variable->isDiscarded()";
const char* const VARIABLE_REFUSED = "made.isValid() && !made->isDiscarded()";
void nothing(Case&) {}
void narrowed(Case& c) { c.v['a']->specify(c.narrow); }
void conflicting(Case& c) { c.v['a']->specify(c.conflict); }
void failed(Case& c) { conflicting(c), c.ce().propagate(); }
// An open enumeration to insert into or close: the network's own, else its closed one opened.
void openOne(Case& c) {
  if (c.v.count('o') == 0)
    (c.v['o'] = c.v['e'])->open();
  c.ce().propagate();
}
void deleteEmptied(Case& c) {
  for (const VarId& v : c.ce().getViolationMgr().getEmptyVariables())
    if (!isPart(v))
      return delete static_cast<ConstrainedVariable*>(v);
  c.fail("no emptied variable to delete");
}

const std::vector<Call>& calls() {
  static const std::vector<Call> sl_calls = {
      {"propagate", narrowed, [](Case& c) { c.ce().propagate(); }, nullptr},
      {"failing propagate", conflicting, [](Case& c) { c.ce().propagate(); }, nullptr},
      {"reset after a failure", failed, [](Case& c) { c.v['a']->reset(); }, nullptr},
      {"propagate after recovery", [](Case& c) { failed(c), c.v['a']->reset(); }, [](Case& c) { c.ce().propagate(); },
       nullptr},
      {"propagate with violations allowed", [](Case& c) { c.ce().setAllowViolations(true), conflicting(c); },
       [](Case& c) { c.ce().propagate(); }, nullptr},
      {"delete an emptied variable with violations allowed",
       [](Case& c) { c.ce().getViolationMgr().setMaxViolationsAllowed(1), failed(c); }, deleteEmptied, nullptr},
      {"createConstraint", nothing, [](Case& c) { c.make("leq", true, c.scope("ar")); }, nullptr},
      {"createConstraint composite", nothing, [](Case& c) { c.make("withinBounds", true, c.scope("rab")); }, nullptr},
      {"new leq", nothing, [](Case& c) { c.make("leq", false, c.scope("ar")); }, MADE_REFUSED},
      {"new withinBounds", nothing, [](Case& c) { c.make("withinBounds", false, c.scope("rab")); }, MADE_REFUSED},
      {"createVariable", nothing, [](Case& c) { c.createVariable(); }, VARIABLE_REFUSED},
      {"new Variable", nothing, [](Case& c) { c.interval("made", 0, 9, false); }, nullptr},
      {"deleteConstraint", nothing, [](Case& c) { c.ce().deleteConstraint(c.k['c']); }, nullptr},
      {"delete constraint", nothing, [](Case& c) { delete static_cast<Constraint*>(c.k['c']); }, nullptr},
      {"discard constraint", nothing, [](Case& c) { c.k['c']->discard(); }, nullptr},
      {"deleteConstraint composite", nothing, [](Case& c) { c.ce().deleteConstraint(c.k['m']); }, nullptr},
      {"delete composite", nothing, [](Case& c) { delete static_cast<Constraint*>(c.k['m']); }, nullptr},
      {"discard composite", nothing, [](Case& c) { c.k['m']->discard(); }, nullptr},
      {"delete variable", nothing, [](Case& c) { delete static_cast<ConstrainedVariable*>(c.v['a']); }, nullptr},
      {"discard variable", nothing, [](Case& c) { c.v['a']->discard(); }, nullptr},
      {"specify", nothing, narrowed, nullptr},
      {"specifyValue", nothing,
       [](Case& c) {
         PSVarValue value(c.narrow, c.v['a']->getType());
         c.v['a']->specifyValue(value);
       },
       nullptr},
      {"reset", [](Case& c) { narrowed(c), c.ce().propagate(); }, [](Case& c) { c.v['a']->reset(); }, nullptr},
      {"relax", nothing, [](Case& c) { c.v['a']->relax(); }, nullptr},
      {"restrictBaseDomain", nothing, [](Case& c) { restrictBase(c.v['a']); }, nullptr},
      {"insert", openOne, [](Case& c) { c.v['o']->insert(9); }, nullptr},
      {"remove", nothing, [](Case& c) { c.v['e']->remove(valueOf(c.v['e'])); }, nullptr},
      {"open", nothing, [](Case& c) { c.v['e']->open(); }, nullptr},
      {"close", openOne, [](Case& c) { c.v['o']->close(); }, nullptr},
      {"deactivate variable", nothing, [](Case& c) { c.v['a']->deactivate(); }, nullptr},
      {"undoDeactivation variable", [](Case& c) { c.v.count('s') ? void() : (c.v['s'] = c.v['a'])->deactivate(); },
       [](Case& c) { c.v['s']->undoDeactivation(); }, nullptr},
      {"deactivate constraint", nothing, [](Case& c) { c.switchOff(c.k['c']); }, nullptr},
      {"undoDeactivation constraint", [](Case& c) { c.k.count('s') ? void() : c.switchOff(c.k['s'] = c.k['c']); },
       [](Case& c) { c.switchOn(c.k['s']); }, nullptr},
  };
  return sl_calls;
}

// ---- The listeners.

Told::Told(Case& owner, Role role) : ConstraintEngineListener(owner.id()), m_case(owner), m_role(role) {}

void Told::tell(const char* notice, const VarId& v, const ConId& c) {
  if (m_role == ACTOR && v.isId() && std::string(notice) == "addedVariable")
    m_case.watch(v);
  m_case.told(m_role, Heard{notice, v, c});
}

void VariableTold::tell(const char* notice, const ConId& c) { m_case.act(Heard{notice, m_heardOf, c}); }

// ---- A case.

Case::Case(const Coordinates& at, Outcome& outcome)
    : m_at(at), m_outcome(outcome), m_schema(new CESchema()), m_engine(new ConstraintEngine(m_schema->getId())) {
  m_schema->registerDataType((new IntDT())->getId());
  m_schema->registerDataType((new FloatDT())->getId());
  registerCatalogue(*m_schema);
  new DefaultPropagator("Default", id()); // owned by the engine
}

Case::~Case() {
  m_watchers.clear();
  m_late.reset(), m_lateMirror.reset(), m_actor.reset(), m_counter.reset(), m_first.reset(), m_mirror.reset();
  Entity::purgeStart();
  m_engine.reset();
  Entity::purgeEnd();
  m_schema.reset();
}

VarId Case::interval(const char* name, double lb, double ub, bool real) {
  const Making during(making);
  const VarId made = real ? variableOver(id(), IntervalDomain(lb, ub, FloatDT::instance()), name)
                          : variableOver(id(), IntervalIntDomain(int(lb), int(ub), IntDT::instance()), name);
  m_owned.insert(made->getKey());
  return made;
}

VarId Case::enumeration(const char* name, const std::list<double>& values, bool open) {
  NumericDomain domain(IntDT::instance());
  domain.insert(values);
  if (!open)
    domain.close();
  const VarId made = variableOver(id(), domain, name);
  m_owned.insert(made->getKey());
  return made;
}

ConId Case::make(const std::string& name, bool byName, const Scope& scope) {
  ConId made;
  if (byName)
    made = ce().createConstraint(name, scope);
  else {
    const Making during(making);
    made = entryNamed(name).build(id(), "Default", scope, {})->getId();
  }
  m_made.push_back(Made{made, name, byName, scope});
  if (made.isValid())
    m_owned.insert(made->getKey());
  return made;
}

void Case::makeOver(const Heard& h, const char* name, bool byName, std::size_t arity) {
  Scope scope;
  while (scope.size() < arity) {
    const VarId next = variableFor(h, [&scope](const VarId& v) {
      return isInterval(v) && std::find(scope.begin(), scope.end(), v) == scope.end();
    });
    if (next.isNoId())
      return;
    scope.push_back(next);
  }
  make(name, byName, scope);
}

VarId Case::variableFor(const Heard& h, const VariableTest& fits, bool deleting) {
  Scope candidates{h.variable};
  const bool constraintMade = h.constraint.isValid() && ce().isBeingMade(h.constraint->getKey());
  if (h.constraint.isValid())
    candidates.insert(candidates.end(), h.constraint->getScope().begin(), h.constraint->getScope().end());
  candidates.insert(candidates.end(), ce().getVariables().begin(), ce().getVariables().end());
  for (const VarId& v : candidates) {
    if (!v.isValid() || v->isDiscarded() || !fits(v) ||
        (v == h.variable && (h.notice == "removedVariable" || h.notice == "variable:discard")))
      continue;
    if (!deleting || (m_owned.count(v->getKey()) != 0 && !ce().isBeingMade(v->getKey()) &&
                      !(constraintMade && h.constraint->isVariableOf(v))))
      return v;
  }
  return VarId();
}

ConId Case::constraintFor(const Heard& h, const ConstraintTest& fits, bool deleting) {
  std::vector<ConId> candidates{h.constraint};
  if (h.variable.isValid() && !h.variable->isDiscarded()) {
    std::set<ConId> linked;
    h.variable->constraints(linked);
    candidates.insert(candidates.end(), linked.begin(), linked.end());
  }
  candidates.insert(candidates.end(), ce().getConstraints().begin(), ce().getConstraints().end());
  for (ConId k : candidates) {
    if (deleting && k.isValid() && isPart(k))
      k = k->standingOwner();
    if (!k.isValid() || k->isDiscarded() || !fits(k) || (k == h.constraint && h.notice == "removedConstraint"))
      continue;
    if (!deleting || (m_owned.count(k->getKey()) != 0 && !ce().isBeingMade(k->getKey())))
      return k;
  }
  return ConId();
}

void Case::told(Told::Role role, const Heard& h) {
  const ConId& c = h.constraint;
  const int key = noticeOf(h.notice) < 3 ? -1
                  : h.variable.isId()    ? (h.variable.isValid() ? h.variable->getKey() : -2)
                  : c.isValid()          ? c->getKey()
                                         : -2;
  if (key == -2)
    fail("told " + h.notice + " of an invalid handle");
  if (role == Told::ACTOR)
    return act(h);
  if (role == Told::LATE)
    return heardLate(key, h.notice);
  if (h.notice == "commenced")
    runCommenced();
  if (h.notice == "removedVariable" || h.notice == "removedConstraint")
    m_removed.insert(key);
  m_log.push_back(Entry{key, h.notice, false});
}

// What the first recorder heard of an object, the late one hears in the same order, or some of it
// (not what was told about the object once a deed before it deleted it).
void Case::heardLate(int key, const std::string& notice) {
  const auto same = [&](const Entry& e) { return e.key == key && e.notice == notice && !e.told; };
  auto it = std::find_if(m_log.begin() + static_cast<long>(m_matched[key]), m_log.end(), same);
  if (it == m_log.end()) {
    fail("a later listener heard " + notice + (key < 0 ? "" : " of #" + std::to_string(key)) +
         " out of the first listener's order");
    it = std::find_if(m_log.begin(), m_log.end(), same); // heard all the same: not reported as unheard
  } else
    m_matched[key] = static_cast<std::size_t>(it - m_log.begin()) + 1;
  if (it != m_log.end())
    it->told = true;
}

// The first notice the late recorder should have heard by now and did not, empty when none.
std::string Case::untold() {
  while (m_checked < m_log.size()) {
    const Entry& e = m_log[m_checked++];
    if (!e.told && m_removed.count(e.key) == 0)
      return e.notice + (e.key < 0 ? "" : " of #" + std::to_string(e.key));
  }
  return "";
}

void Case::act(const Heard& h) {
  if (!m_armed)
    return;
  m_outcome.heard |= 1u << noticeOf(h.notice);
  if (!m_done && m_at.notice >= 0 && h.notice == notices()[static_cast<std::size_t>(m_at.notice)])
    m_done = true, perform(h);
}

// A deed refused (thrown, or printed inside a destructor) must leave everything as it was.
void Case::perform(const Heard& h) {
  const Deed& deed = deeds()[static_cast<std::size_t>(m_at.deed)];
  const NetworkSnapshot before(ce(), *m_counter);
  const unsigned long printed = Error::suppressedCount();
  std::string refusal;
  ++m_inDeed;
  try {
    deed.act(*this, h);
  } catch (const Error& e) {
    refusal = e.getCondition();
  }
  --m_inDeed;
  if (refusal.empty() && Error::suppressedCount() != printed)
    refusal = "printed inside a destructor";
  const bool madeWithNew = std::string(deed.name).rfind("new ", 0) == 0;
  const std::string changed =
      refusal.empty() ? "" : before.differenceFrom(NetworkSnapshot(ce(), *m_counter), madeWithNew);
  if (!changed.empty())
    fail("a refused deed (" + refusal + ") changed the network: " + changed);
}

// No run inside another call: only the client's own propagate(), or the run a deed owes once the
// outermost call's notices are all told.
void Case::runCommenced() {
  std::string unheard;
  if (NoThrowScope::active())
    fail("a run commenced inside a destructor");
  else if (making > 0)
    fail("a run commenced inside a constructor");
  else if (m_inDeed > 0)
    fail("a run commenced inside a deed, while its notice was told");
  else if (!(unheard = untold()).empty())
    fail("a run commenced before a later listener heard " + unheard);
}

void Case::checkListeners(const std::string& when) {
  for (MirrorListener* mirror : {m_mirror.get(), m_lateMirror.get()}) {
    const std::string which = mirror == m_mirror.get() ? "the first mirror " : "the late mirror ";
    if (!mirror->breach().empty())
      fail(which + "heard a breach: " + mirror->breach());
    if (!mirror->differenceFromEngine().empty())
      fail(which + "differs from the engine " + when + ": " + mirror->differenceFromEngine());
  }
  const std::string unheard = untold();
  if (!unheard.empty())
    fail("a later listener never heard " + unheard + " " + when);
}

void Case::run() {
  ce().setAutoPropagation(false);
  networks()[static_cast<std::size_t>(m_at.network)].build(*this);
  ce().propagate();
  ce().setAutoPropagation(m_at.autoPropagation);
  m_mirror.reset(new MirrorListener(id()));
  m_first.reset(new Told(*this, Told::FIRST));
  m_counter.reset(new HeardCounter(id()));
  m_actor.reset(new Told(*this, Told::ACTOR));
  m_lateMirror.reset(new MirrorListener(id()));
  m_late.reset(new Told(*this, Told::LATE));
  const Call& call = calls()[static_cast<std::size_t>(m_at.call)];
  call.prepare(*this);
  m_armed = true;
  for (const VarId& var : ce().getVariables())
    watch(var);
  try {
    call.call(*this);
  } catch (const Error& e) {
    if (call.mayRefuse == nullptr || e.getCondition() != call.mayRefuse)
      fail("the call failed: " + e.getCondition() + " " + e.getMessage());
  }
  m_armed = false;
  checkListeners("after the call");
  settle();
}

// Everything the test switched off is switched on again and propagated.
void Case::settle() {
  try {
    for (const VarId& var : Scope(ce().getVariables().begin(), ce().getVariables().end()))
      for (unsigned int n = var->refCount(); n > 0; --n)
        var->undoDeactivation();
    for (const ConId& con : std::vector<ConId>(ce().getConstraints().begin(), ce().getConstraints().end()))
      for (int n = offByTest(con); n > 0; --n)
        switchOn(con);
    const bool answer = ce().propagate();
    checkListeners("after the final propagate");
    compareWithFresh(answer);
  } catch (const Error& e) {
    fail("settling after the call failed: " + e.getCondition() + " " + e.getMessage());
  }
}

// The answer and the domains are a fresh engine's over the surviving model: the live variables
// (but parts) with their base domains and specified values, and the constraints the test made, in
// order, with what the live engine holds violated, or could not switch on, switched off.
void Case::compareWithFresh(bool answer) {
  std::unique_ptr<ConstraintEngine> engine(new ConstraintEngine(m_schema->getId()));
  ConstraintEngine& fresh = *engine;
  new DefaultPropagator("Default", fresh.getId()); // owned by the engine
  fresh.setAutoPropagation(false);
  fresh.getViolationMgr().setMaxViolationsAllowed(ce().getViolationMgr().getMaxViolationsAllowed());
  std::map<int, std::pair<VarId, VarId> > variables; // by the live key: the live variable, the fresh one
  for (const VarId& live : ce().getVariables()) {
    if (isPart(live))
      continue;
    const VarId again = variableOver(fresh.getId(), live->baseDomain(), live->getName().toString());
    variables[live->getKey()] = std::make_pair(live, again);
    if (live->specifiedFlag() && again->baseDomain().isMember(live->getSpecifiedValue()))
      again->specify(live->getSpecifiedValue());
    else if (live->specifiedFlag())
      again->getCurrentDomain().empty();
    if (!live->isActive())
      again->deactivate();
  }
  const auto withParts = [](ConstraintEngine& on, const ConId& top) {
    std::vector<ConId> result{top};
    for (const ConId& con : on.getConstraints())
      if (con->standingOwner() == top)
        result.push_back(con);
    return result;
  };
  for (const Made& made : m_made) {
    if (!made.id.isValid() || made.id->isDiscarded())
      continue;
    Scope scope;
    for (const VarId& var : made.scope)
      scope.push_back(variables.at(var->getKey()).second);
    const ConId built = made.byName ? fresh.createConstraint(made.name, scope)
                                    : entryNamed(made.name).build(fresh.getId(), "Default", scope, {})->getId();
    const std::vector<ConId> live = withParts(ce(), made.id), now = withParts(fresh, built);
    for (std::size_t i = 0; i < live.size() && i < now.size(); ++i)
      if (ce().isViolated(live[i]) || (!live[i]->isActive() && !live[i]->isRetired()))
        now[i]->deactivate();
  }
  if (answer != fresh.propagate())
    fail(std::string("the final propagate answered ") + (answer ? "true" : "false") + ", a fresh engine the opposite");
  else if (answer)
    for (const auto& entry : variables) {
      const AbstractDomain &live = entry.second.first->lastDomain(), &again = entry.second.second->lastDomain();
      if (!(live == again))
        fail("after the final propagate " + entry.second.first->getName().toString() + " holds " + live.toString() +
             ", a fresh engine's " + again.toString());
    }
  Entity::purgeStart();
  delete engine.release();
  Entity::purgeEnd();
}

// ---- Running the cases.

Outcome runCase(const Coordinates& at) {
  FloatDT::instance(), IntDT::instance(), BoolDT::instance(); // shared for the whole process
  const std::size_t entities = Entity::liveCount(), handles = IdTable::size();
  Outcome outcome;
  try {
    Case c(at, outcome);
    c.run();
  } catch (const std::exception& e) {
    outcome.failures.push_back(std::string("unexpected failure: ") + e.what());
  }
  Entity::garbageCollect();
  if (Entity::liveCount() != entities || IdTable::size() != handles)
    outcome.failures.push_back("left " + std::to_string(Entity::liveCount() - entities) + " entities and " +
                               std::to_string(IdTable::size() - handles) + " handles behind");
  return outcome;
}

std::string readAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t n;
  for (off_t at = 0; (n = pread(fd, buffer, sizeof buffer, at)) > 0; at += n)
    text.append(buffer, static_cast<std::size_t>(n));
  return text;
}

// A child process running cases in turn, from `first` on until `end` or a failing case: each
// writes "index heard count" and its failures, one a line; its error stream goes to another file.
struct Child {
  int out = fileno(std::tmpfile()), err = fileno(std::tmpfile());
  pid_t pid = 0;
  std::size_t first = 0, end = 0;

  void start(const std::vector<Coordinates>& cases, std::size_t from, std::size_t to) {
    for (int fd : {out, err})
      if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0)
        throw std::runtime_error("cannot reuse a child's files");
    first = from, end = to;
    if ((pid = fork()) != 0)
      return;
    dup2(err, 2);
    for (std::size_t i = first; i < end; ++i) {
      const Outcome outcome = runCase(cases[i]);
      std::ostringstream text;
      text << i << " " << outcome.heard << " " << outcome.failures.size() << "\n";
      for (const std::string& failure : outcome.failures)
        text << std::regex_replace(failure, std::regex("\n"), " ") << "\n";
      if (write(out, text.str().data(), text.str().size()) != static_cast<ssize_t>(text.str().size()))
        _exit(3);
      if (!outcome.failures.empty())
        break;
    }
    _exit(0);
  }
  // Takes what the child wrote; answers the case the next child starts at. A crash (and the
  // sanitizer's summary of it) is the failure of the case after the last one written.
  std::size_t finish(int status, std::vector<Outcome>& outcomes) {
    pid = 0;
    std::istringstream lines(readAll(out)), errors(readAll(err));
    std::string line, report;
    std::size_t next = first, index = 0, count = 0;
    unsigned int heard = 0;
    while (lines >> index >> heard >> count && std::getline(lines, line)) {
      outcomes[index].heard = heard;
      for (std::size_t i = 0; i < count && std::getline(lines, line); ++i)
        outcomes[index].failures.push_back(line);
      next = index + 1;
    }
    if ((WIFEXITED(status) && WEXITSTATUS(status) == 0) || next == end)
      return next;
    while (std::getline(errors, line))
      if (line.rfind("SUMMARY:", 0) == 0)
        report = ": " + std::regex_replace(line, std::regex("/[^ ]*/(ConstraintEngine|Utils|test)/"), "$1/");
    outcomes[next].failures.push_back(std::string("the case crashed (") +
                                      (WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                                           : "exit " + std::to_string(WEXITSTATUS(status))) +
                                      ")" + report);
    return next + 1;
  }
};

// Runs the cases in child processes, as many at once as there are processors (at most eight).
std::vector<Outcome> runAll(const std::vector<Coordinates>& cases) {
  std::vector<Outcome> outcomes(cases.size());
  if (std::getenv("KALDEN_DEEDS_IN_PROCESS") != nullptr) {
    for (std::size_t i = 0; i < cases.size(); ++i)
      outcomes[i] = runCase(cases[i]);
    return outcomes;
  }
  static std::vector<Child> sl_children(std::max(1L, std::min(8L, sysconf(_SC_NPROCESSORS_ONLN))));
  std::deque<std::pair<std::size_t, std::size_t> > work;
  for (std::size_t i = 0; i < cases.size(); i += 16)
    work.emplace_back(i, std::min(cases.size(), i + 16));
  std::fflush(nullptr);
  for (std::size_t running = 0; !work.empty() || running > 0;) {
    const auto idle = std::find_if(sl_children.begin(), sl_children.end(), [](const Child& c) { return c.pid == 0; });
    if (!work.empty() && idle != sl_children.end()) {
      idle->start(cases, work.front().first, work.front().second);
      work.pop_front(), ++running;
      continue;
    }
    int status = 0;
    const pid_t done = waitpid(-1, &status, 0);
    for (Child& child : sl_children)
      if (done > 0 && child.pid == done) {
        const std::size_t next = child.finish(status, outcomes);
        if (next < child.end)
          work.emplace_front(next, child.end);
        --running;
      }
  }
  return outcomes;
}

std::string caseName(const Coordinates& at) {
  return std::string(at.deed < 0 ? "no deed" : deeds()[static_cast<std::size_t>(at.deed)].name) +
         (at.deed < 0 ? "" : std::string("@") + notices()[static_cast<std::size_t>(at.notice)]) +
         (at.autoPropagation ? " auto" : " manual");
}

TEST(DeedMatrixDocumentation, TheRefusalsTheCallsMayMeetAreDocumented) {
  std::ifstream readme(KALDEN_SOURCE_DIR "/README.md");
  const std::string text((std::istreambuf_iterator<char>(readme)), std::istreambuf_iterator<char>());
  const std::string flowing = std::regex_replace(text, std::regex("\\s+"), " ");
  for (const Call& call : calls()) {
    if (call.mayRefuse != nullptr) {
      EXPECT_NE(flowing.find(call.mayRefuse), std::string::npos) << call.name;
    }
  }
}

class DeedMatrixTest : public ::testing::TestWithParam<std::tuple<int, int> > {};

// Every deed at the first notice of every kind that the call gives (a probe without a deed tells
// which). The failures are grouped by their text with the numbers left out, each with its cases.
TEST_P(DeedMatrixTest, EveryDeedAtEveryNotice) {
  const int network = std::get<0>(GetParam()), call = std::get<1>(GetParam());
  const char* const only = std::getenv("KALDEN_DEEDS_CASE");
  const char* const reportFile = std::getenv("KALDEN_DEEDS_REPORT");
  std::map<std::string, std::pair<std::string, std::vector<std::string> > > classes;
  std::size_t failing = 0;
  const auto record = [&](const Coordinates& at, const Outcome& outcome) {
    failing += outcome.failures.empty() ? 0 : 1;
    for (const std::string& failure : outcome.failures) {
      auto& entry = classes[std::regex_replace(failure, std::regex("[0-9]+"), "#")];
      entry.first = failure, entry.second.push_back(caseName(at));
      if (reportFile != nullptr)
        std::ofstream(reportFile, std::ios::app) << networks()[network].name << " | " << calls()[call].name << " | "
                                                 << caseName(at) << " | " << failure << "\n";
    }
  };
  const std::vector<Coordinates> probes{{network, call, true, -1, -1}, {network, call, false, -1, -1}};
  const std::vector<Outcome> heard = runAll(probes);
  std::vector<Coordinates> cases;
  for (std::size_t p = 0; p < probes.size(); ++p) {
    record(probes[p], heard[p]);
    for (int notice = 0; notice < static_cast<int>(notices().size()); ++notice)
      for (int deed = 0; deed < static_cast<int>(deeds().size()) && (heard[p].heard >> notice & 1u) != 0; ++deed) {
        const Coordinates at{network, call, probes[p].autoPropagation, deed, notice};
        if (only == nullptr || caseName(at).find(only) != std::string::npos)
          cases.push_back(at);
      }
  }
  const std::vector<Outcome> outcomes = runAll(cases);
  for (std::size_t i = 0; i < cases.size(); ++i)
    record(cases[i], outcomes[i]);
  std::ostringstream shown;
  for (const auto& entry : classes) {
    const std::vector<std::string>& where = entry.second.second;
    shown << "\n  " << entry.second.first << "\n    in " << where.size() << ":";
    for (std::size_t i = 0; i < where.size() && i < 8; ++i)
      shown << (i == 0 ? " " : ", ") << where[i];
    shown << (where.size() > 8 ? ", ..." : "");
  }
  RecordProperty("cases", static_cast<int>(cases.size() + probes.size()));
  EXPECT_EQ(failing, 0u) << failing << " of " << cases.size() + probes.size() << " cases failed:" << shown.str();
}

std::string testName(const ::testing::TestParamInfo<std::tuple<int, int> >& info) {
  const std::string name =
      std::string(networks()[std::get<0>(info.param)].name) + "_" + calls()[std::get<1>(info.param)].name;
  return std::regex_replace(name, std::regex("[^A-Za-z0-9]+"), "_");
}

INSTANTIATE_TEST_SUITE_P(Networks, DeedMatrixTest,
                         ::testing::Combine(::testing::Range(0, static_cast<int>(networks().size())),
                                            ::testing::Range(0, static_cast<int>(calls().size()))),
                         testName);

} // namespace
} // namespace KALDEN
