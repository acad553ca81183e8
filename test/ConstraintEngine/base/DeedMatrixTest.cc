// The deed matrix: every deed a listener may make, and its failure, at the first notice of each
// kind, during each kind of client call, with auto-propagation on and off, by one acting listener
// or two, over eight small networks. Each case runs on a fresh engine in a child process (which
// goes on to the next case only while its cases pass), so that no crash or corruption reaches
// another case; each test, a network and a call, lists its failing cases grouped by what failed.
// The default run takes the matrix as it was (one listener's deeds over the first three networks)
// whole and a fixed sample of the rest; KALDEN_DEEDS_ALL=1 runs every case, KALDEN_DEEDS_CASE=text
// every case whose name holds the text (such as "deleteConstraint@changed auto"),
// KALDEN_DEEDS_IN_PROCESS=1 runs them in the test's own process (for a debugger), and
// KALDEN_DEEDS_REPORT=file appends each failure to the file.

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
#include "ConstraintEngine/base/ConstraintType.hh"
#include "ConstraintEngine/base/ViolationMgr.hh"
#include "ConstraintEngine/component/AllDiffConstraints.hh"
#include "ConstraintEngine/component/Constraints.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/Domains.hh"
#include "ConstraintEngine/component/EqualityConstraintPropagator.hh"
#include "ConstraintEngine/component/Propagators.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "Utils/Entity.hh"
#include "Utils/Error.hh"
#include "Utils/IdTable.hh"
#include "Utils/LabelStr.hh"
#include "support/ConstraintCatalogue.hh"
#include "support/MirrorListener.hh"
#include "support/NetworkSnapshot.hh"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <list>
#include <map>
#include <memory>
#include <numeric>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
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
// How the listeners act in a case: the acting listener's deed alone; its deed, then a failed check
// of its own; its deed, and a std::exception from a second acting listener at the next notice it
// hears and every later one of that kind (such as each addition of a composite's parts); the deed
// by the variable listeners, registered on the network's variables before the mirrors picture
// their links; or the deed by the acting listener and again by the second.
enum Variant { DEED, DEED_THEN_FAILS, SECOND_THROWS, VARIABLE_FIRST, TWICE };
const char* const VARIANT_NAMES[] = {"", " then fails", " and a second throws", " by a first variable listener",
                                     " and again by a second"};

// One case; a deed of -1 is the probe, which learns which notice kinds the call gives.
struct Coordinates {
  int network, call;
  bool autoPropagation;
  int deed, notice;
  int variant = DEED;
};

// What a failing listener throws when it does not fail a check.
struct ListenerFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};
// The condition of a listener's failed check; its message, as a ListenerFailure's text, numbers it.
const char* const LISTENER_CHECK = "the listener's own check";
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

// A value the base holds and the current domain (not empty) lost, whose specifying empties it; NaN when none.
double lostValue(const VarId& v) {
  const AbstractDomain &current = v->lastDomain(), &base = v->baseDomain();
  if (current.isEmpty() || !base.isClosed() || !current.isClosed())
    return std::nan("");
  std::list<double> candidates;
  if (base.isEnumerated())
    base.getValues(candidates);
  else
    candidates = {base.getLowerBound(), base.getUpperBound()};
  for (double value : candidates)
    if (!current.isMember(value))
      return value;
  return std::nan("");
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

// A copy of a domain that also holds a value: an enumeration gains it, an interval stretches to it.
AbstractDomain* withValue(const AbstractDomain& dom, double value) {
  const double lb = std::min(dom.getLowerBound(), value), ub = std::max(dom.getUpperBound(), value);
  if (!dom.isEnumerated() && dom.minDelta() >= 1)
    return new IntervalIntDomain(static_cast<int>(lb), static_cast<int>(ub), dom.getDataType());
  if (!dom.isEnumerated())
    return new IntervalDomain(lb, ub, dom.getDataType());
  std::list<double> values;
  dom.getValues(values);
  values.push_back(value);
  AbstractDomain* const result = new EnumeratedDomain(dom.getDataType(), values);
  if (dom.isOpen())
    result->open();
  return result;
}

// Counts a `new` expression under way for as long as it lasts.
struct Making {
  int& depth;
  explicit Making(int& counter) : depth(++counter) {}
  ~Making() { --depth; }
};

class Case;
struct Call;

// An engine listener telling the case of each notice, in its place: the first recorder (after the
// first mirror), the acting listener, a second acting listener right after it (in its variant
// alone), or the late recorder (after the late mirror).
class Told : public ConstraintEngineListener {
public:
  enum Role { FIRST, ACTOR, SECOND, LATE };
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
 * the oracles: the call succeeds or fails only with the refusal the README documents for it, or
 * with the first failure a listener threw where it could leave (exactly once: never from a deed,
 * never again later); a refused deed changes nothing; no run commences inside a deed, a
 * constructor or a destructor, nor before the late recorder heard what came before, and every run
 * heard commenced is heard ended before the call returns; both mirrors keep the protocol and
 * picture the engine, and the late recorder hears each object's notices in the first one's order;
 * a refusal is thrown to the deed, inside a destructor too, and nothing is printed but by the
 * failure point (a listener's failure that could not leave); a creation made after a failure
 * stands; no run leaks into a later call; the next propagate() answers as the engine forecast
 * (whatever is switched off), a second one right after alike, changing nothing and telling of no
 * change, and a true answer keeps every value a solution uses; once all is switched on and
 * propagated, the answer and the domains are a fresh engine's over the surviving model, which
 * holds nothing a creation taken back made; and nothing is left behind.
 */
class Case {
public:
  Case(const Coordinates& at, Outcome& outcome);
  ~Case();
  void run();
  // A failing listener: a failed check (only printed inside a destructor) or a ListenerFailure.
  void listenerFails(bool check);

  ConstraintEngine& ce() { return *m_engine; }
  const Id<ConstraintEngine>& id() const { return m_engine->getId(); }
  void fail(const std::string& what) { m_outcome.failures.push_back(what); }

  // What the networks, calls and deeds make is the test's own: all it may delete with `delete`.
  VarId interval(const char* name, double lb, double ub, bool real);
  VarId enumeration(const char* name, const std::list<double>& values, bool open);
  // By type name, a string variable over its type's base (open, holding nothing); with `new`, a
  // closed symbol enumeration of {plum, teal}.
  VarId strings(const char* name);
  VarId symbols(const char* name);
  // Runs a later, unrelated call that never propagates, with the listeners disarmed: no run owed
  // before it may start inside it.
  void unrelatedCall() {
    m_armed = false;
    m_unrelated = true;
    createVariable();
    m_unrelated = false;
  }
  // Whether the deed was done (or the listener failed in its place); never in a probe.
  bool deedDone() const { return m_done; }
  const HeardCounter& counter() const { return *m_counter; }
  // From the first recorder at the first run of the call: fails there (see Call::failsInRun).
  void failInRun() { m_failInRun = true; }
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
  void switchOff(const ConId& k) { switchBy(k, true); }
  void switchOn(const ConId& k) { switchBy(k, false); }
  // A switching counts once made: a listener's failure leaves the call after it, a refusal before.
  void switchBy(const ConId& k, bool off) {
    const int key = k->getKey(); // a listener may delete it meanwhile
    try {
      off ? k->deactivate() : k->undoDeactivation();
    } catch (const std::exception& e) {
      const std::string what = e.what();
      if (std::any_of(m_thrown.begin(), m_thrown.end(), [&](const Thrown& t) { return what.find(t.what) != std::string::npos; }))
        m_offByTest[key] += off ? 1 : -1;
      throw;
    }
    m_offByTest[key] += off ? 1 : -1;
  }
  int offByTest(const ConId& k) const { return m_offByTest.count(k->getKey()) ? m_offByTest.at(k->getKey()) : 0; }
  // Specifies the variable to a value its current domain lost; the client resets it once the call is over.
  void emptyBySpecifying(const VarId& var) {
    m_emptiedByDeed.insert(var->getKey());
    var->specify(lostValue(var));
  }

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
  bool equality = false;           // whether the network has an equality propagator, "Equal"

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
  void callClient(const Call& call);
  void leftDeed(const std::string& what);
  std::size_t timesPrinted(const std::string& what);
  void checkFailureLeft(const std::string& left, bool otherError);
  void checkPrinted();
  bool holdsViolation() {
    return std::any_of(ce().getConstraints().begin(), ce().getConstraints().end(),
                       [this](const ConId& k) { return ce().isViolated(k); });
  }
  struct Forecast {
    bool inconsistent, pending;
    std::string picture;
    std::size_t heard;
  };
  Forecast forecast();
  void checkForecast(const Forecast& told, bool answer);
  bool propagateTwice(const Forecast& told);
  void keepsSolutionValues();
  void settle();
  void compareWithFresh(bool answer);

  Coordinates m_at;
  Outcome& m_outcome;
  std::unique_ptr<CESchema> m_schema;
  std::unique_ptr<ConstraintEngine> m_engine;
  std::vector<Made> m_made;
  std::set<int> m_owned;
  std::map<int, int> m_offByTest;
  std::set<int> m_emptiedByDeed; // the variables a deed specified to empty them, by key
  std::unique_ptr<MirrorListener> m_mirror, m_lateMirror;
  std::unique_ptr<HeardCounter> m_counter;
  std::unique_ptr<Told> m_first, m_actor, m_second, m_late;
  std::vector<std::unique_ptr<VariableTold> > m_watchers;
  struct Thrown {
    std::string what;
    bool inDestructor;     // where a failure cannot leave, and is printed instead
    bool leftDeed = false; // reported already
  };
  std::vector<Thrown> m_thrown;                                        // what the listeners threw, in order
  std::stringbuf m_printed;                                            // the error stream while the case runs
  std::streambuf* m_errorStream = nullptr;                             // the error stream's own buffer meanwhile
  std::vector<Entry> m_log;                                            // what the first recorder heard
  std::map<int, std::size_t> m_matched; // per key, one past the entry the late recorder matched last
  std::set<int> m_removed;              // the keys heard removed
  std::size_t m_checked = 0;            // the entries checked as heard by the late recorder
  bool m_armed = false, m_done = false;
  bool m_unrelated = false;  // inside unrelatedCall()
  bool m_failInRun = false;  // the first recorder fails at the next run's commenced notice
  std::set<int> m_madeAfterFailure; // keys a deed made by name after a listener had failed
  bool m_runOpen = false;    // a run heard commenced and not yet ended
  bool m_justActed = false;  // the deed's notice is still being told on, to the second actor next
  std::string m_secondFails; // the notice the second actor fails at, each time, once it has failed
  int m_inDeed = 0;
};

// ---- The deeds, the networks and the calls, as data.

typedef std::function<void(Case&, const Heard&)> Act;
struct Deed {
  const char* name;
  Act act;
  bool grown = false; // added as the matrix grew: sampled by default
  int failures = 0;   // at how many notices of its kind the listener fails instead of acting (-1: at each)
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
      // Empties a domain elsewhere than the constraint heard of, whose refill reaches none of its
      // rules; the client resets the variable once the call is over.
      {"specify emptying",
       [](Case& c, const Heard& h) {
         const auto lost = [](const VarId& v) { return v->isActive() && !isPart(v) && !std::isnan(lostValue(v)); };
         VarId target = c.variableFor(h, [&](const VarId& v) {
           return lost(v) && !(h.constraint.isValid() && h.constraint->isVariableOf(v));
         });
         target = target.isId() ? target : c.variableFor(h, lost);
         if (target.isId())
           c.emptyBySpecifying(target);
       }},
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
      {"createConstraint allmax", [](Case& c, const Heard& h) { c.makeOver(h, "allmax", true, 3); }, true},
      {"createConstraint addlt", [](Case& c, const Heard& h) { c.makeOver(h, "addlt", true, 3); }, true},
      // Refused by the class after the checks of the scope: condEq's first must be a boolean, neg's
      // variables numbers that are no enumeration.
      {"createConstraint refused",
       [](Case& c, const Heard& h) {
         const VarId a = c.variableFor(h, isInterval), e = c.variableFor(h, isEnumeration);
         if (a.isId() && e.isId())
           c.ce().createConstraint("condEq", {a, e, a});
       },
       true},
      {"new neg refused",
       [](Case& c, const Heard& h) {
         const VarId a = c.variableFor(h, isInterval), e = c.variableFor(h, isEnumeration);
         if (a.isId() && e.isId()) {
           const Making during(c.making);
           entryNamed("neg").build(c.id(), "Default", {e, a}, {});
         }
       },
       true},
      {"fail check", [](Case& c, const Heard&) { c.listenerFails(true); }, true, 1},
      {"throw exception", [](Case& c, const Heard&) { c.listenerFails(false); }, true, 1},
      {"throw at each", [](Case& c, const Heard&) { c.listenerFails(false); }, true, -1},
  };
  return sl_deeds;
}

// Built with auto-propagation off, then propagated; the roles name what the calls act on.
struct Network {
  const char* name;
  std::function<void(Case&)> build;
  bool sampled = false; // its cases run whole only on demand
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
         // Apart from the rest: u, narrowed by w, is what a deed empties without touching the others.
         c.make("leq", false, {c.interval("u", 0, 9, false), c.interval("w", 0, 4, false)});
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
      {"equality",
       [](Case& c) {
         c.equality = true;
         new EqualityConstraintPropagator("Equal", c.id()); // owned by the engine
         const VarId x = c.v['a'] = c.interval("x", 0, 10, false), y = c.v['b'] = c.interval("y", 0, 10, false);
         const VarId z = c.interval("z", 0, 10, false), r = c.v['r'] = c.interval("r", 0, 10, true);
         const VarId e = c.v['e'] = c.enumeration("e", {1, 3, 5, 7}, false);
         c.k['c'] = c.make("eqE", true, {x, y});
         c.k['m'] = c.make("eqE", true, {y, z});
         c.make("eqE", true, {e, x});
         c.make("leq", false, {z, r});
         c.narrow = 5, c.conflict = 2;
       },
       true},
      // Two constraints held violated at the limit; the calls' composite is one of them.
      {"violated",
       [](Case& c) {
         c.ce().getViolationMgr().setMaxViolationsAllowed(2);
         const VarId p = c.interval("p", 0, 5, false), t = c.interval("t", 0, 5, false);
         const VarId x = c.v['a'] = c.interval("x", 0, 10, false), y = c.v['b'] = c.interval("y", 0, 10, false);
         c.v['r'] = c.interval("r", 0, 10, true);
         const VarId e = c.v['e'] = c.enumeration("e", {1, 3, 5, 7}, false);
         c.make("lt", false, {p, p});
         c.k['m'] = c.make("lt", true, {t, t});
         c.k['c'] = c.make("leq", false, {x, y});
         c.make("asame", true, {e, x});
         c.narrow = 5, c.conflict = 2;
       },
       true},
      {"by name",
       [](Case& c) {
         const VarId x = c.v['a'] = c.interval("x", 0, 10, false), y = c.v['b'] = c.interval("y", 0, 10, false);
         const VarId w = c.interval("w", 0, 10, false), z = c.interval("z", 0, 30, false);
         const VarId r = c.v['r'] = c.interval("r", 0, 10, true);
         const VarId e = c.v['e'] = c.enumeration("e", {1, 3, 5, 7}, false);
         c.k['m'] = c.make("allmax", true, {x, y, w});
         c.make("sum", true, {z, x, y, e});
         c.make("addlt", true, {x, y, z});
         c.make("withinBounds", true, {r, x, w});
         c.k['c'] = c.make("leq", true, {x, w});
         c.make("eq", true, {e, x});
         c.narrow = 5, c.conflict = 2;
       },
       true},
      // Real intervals narrower than the tolerance, one holding an integer.
      {"narrow reals",
       [](Case& c) {
         const VarId x = c.v['a'] = c.interval("x", 0, 5, false), y = c.v['b'] = c.interval("y", 0, 5, false);
         const VarId r = c.v['r'] = c.interval("r", 3, 3.000008, true), q = c.interval("q", 1.99999, 1.9999901, true);
         const VarId n = c.interval("n", -0.000015, -0.000006, true);
         const VarId e = c.v['e'] = c.enumeration("e", {1, 3}, false);
         c.k['c'] = c.make("leq", false, {x, r});
         c.k['m'] = c.make("leq", true, {q, y});
         c.make("leq", true, {n, x});
         c.make("eq", true, {e, x});
         c.narrow = 3, c.conflict = 2;
       },
       true},
      // An open enumeration equal to a closed one, which it takes the members of.
      {"gaining",
       [](Case& c) {
         const VarId o = c.v['o'] = c.enumeration("o", {1, 2, 3, 4}, true);
         const VarId e = c.v['e'] = c.enumeration("e", {2, 4, 5}, false);
         const VarId x = c.v['a'] = c.interval("x", 0, 5, false), r = c.v['r'] = c.interval("r", 0.5, 4.5, true);
         c.v['b'] = c.interval("y", 0, 5, false);
         c.k['m'] = c.make("eq", true, {o, e});
         c.k['c'] = c.make("leq", false, {x, r});
         c.make("eq", true, {e, x});
         c.narrow = 4, c.conflict = 3;
       },
       true},
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
// The closed enumeration emptied for good, every member of its base removed, then switched off.
void emptiedOff(Case& c) {
  std::list<double> members;
  c.v['e']->baseDomain().getValues(members);
  for (double member : members)
    c.v['e']->remove(member);
  c.v['e']->deactivate();
}
// A variable the run narrowed but `a` (which the call specified), active and no part, whose
// current domain lost a value of its base; the first of `preferred` that fits, else of the network.
VarId narrowedOther(Case& c, const Scope& preferred) {
  Scope candidates(preferred);
  candidates.insert(candidates.end(), c.ce().getVariables().begin(), c.ce().getVariables().end());
  for (const VarId& v : candidates)
    if (v != c.v['a'] && v->isActive() && !isPart(v) && !std::isnan(lostValue(v)))
      return v;
  return VarId();
}
// A one-value domain of the variable's kind, at the value.
AbstractDomain* oneValue(const VarId& v, double value) {
  const AbstractDomain& base = v->baseDomain();
  if (base.isEnumerated())
    return new EnumeratedDomain(base.getDataType(), std::list<double>{value});
  if (base.minDelta() >= 1)
    return new IntervalIntDomain(static_cast<int>(value), static_cast<int>(value), base.getDataType());
  return new IntervalDomain(value, value, base.getDataType());
}
// A string variable whose open base holds nothing, a label it lacks removed from it, beside symbols.
void stringLacking(Case& c) {
  c.v['t'] = c.symbols("t");
  c.v['g'] = c.strings("g");
  c.make("leq", true, c.scope("ab"));
  c.ce().propagate();
  c.v['g']->remove(LabelStr("blue"));
}
// An all-different over strings and symbols, made with `new`, which its member refuses; the client
// catches the refusal. Without a deed, it leaves the engine as it was, owing no run.
void newRefused(Case& c) {
  const NetworkSnapshot before(c.ce(), c.counter());
  try {
    const Making during(c.making);
    new AllDiffConstraint("allDiff", "Default", c.id(), c.scope("ggt"));
    c.fail("an all-different over strings and symbols was made");
  } catch (const Error& e) {
    if (e.getCondition().find("canBeCompared") == std::string::npos)
      throw;
  }
  const std::string changed = before.differenceFrom(NetworkSnapshot(c.ce(), c.counter()), true);
  if (!c.deedDone() && !changed.empty())
    c.fail("a refused new changed the network: " + changed);
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
      // What the links of a constraint made with new outside any call owe waits for the next
      // propagate(), never starting inside a later call.
      {"new leq, then createVariable", nothing,
       [](Case& c) {
         c.make("leq", false, c.scope("ar"));
         c.unrelatedCall();
       },
       MADE_REFUSED},
      // The first recorder fails at the run the creation owes: the creation is taken back, and
      // what a deed makes once that failure was thrown (told of the take-back) stands.
      {"createConstraint failing in its run", [](Case& c) { c.failInRun(); },
       [](Case& c) { c.make("leq", true, c.scope("ar")); }, nullptr},
      {"new withinBounds", nothing, [](Case& c) { c.make("withinBounds", false, c.scope("rab")); }, MADE_REFUSED},
      {"new leq beside a switched-off emptied variable", emptiedOff,
       [](Case& c) { c.make("leq", false, c.scope("ar")); }, MADE_REFUSED},
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
      // A variable specified and propagated, specified again to a value its domain lost that the
      // rest of the network admits.
      {"specify again, emptying", [](Case& c) { narrowed(c), c.ce().propagate(); },
       [](Case& c) { c.v['a']->specify(c.narrow - 2); }, nullptr},
      // What a switched-off constraint narrowed stays: a variable of its scope specified past it empties.
      {"specify emptying beside a switched-off constraint",
       [](Case& c) { narrowed(c), c.ce().propagate(), c.switchOff(c.k['c']); },
       [](Case& c) {
         const VarId target = narrowedOther(c, c.k['c']->getScope());
         if (target.isId())
           target->specify(lostValue(target));
       },
       nullptr},
      // Violations allowed, a base restricted to a value the current domain lost.
      {"restrictBaseDomain emptying with violations allowed",
       [](Case& c) { c.ce().setAllowViolations(true), narrowed(c), c.ce().propagate(); },
       [](Case& c) {
         const VarId target = narrowedOther(c, {});
         if (target.isId())
           target->restrictBaseDomain(*std::unique_ptr<AbstractDomain>(oneValue(target, lostValue(target))));
       },
       nullptr},
      // Emptied by the client, then switched off: what its narrowing took elsewhere comes back.
      {"deactivate an emptied variable",
       [](Case& c) { narrowed(c), c.ce().propagate(), c.v['a']->specify(c.narrow - 2); },
       [](Case& c) { c.v['a']->deactivate(); }, nullptr},
      {"new refused after removing what an open base lacks", stringLacking, newRefused, MADE_REFUSED},
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
  m_schema->registerDataType((new StringDT())->getId());
  m_schema->registerDataType((new SymbolDT())->getId());
  registerCatalogue(*m_schema);
  m_schema->registerConstraintType((new ConcreteConstraintType<EqualConstraint>("eqE", "Equal", false))->getId());
  new DefaultPropagator("Default", id()); // owned by the engine
}

Case::~Case() {
  if (m_errorStream != nullptr)
    std::cerr.rdbuf(m_errorStream);
  m_watchers.clear();
  m_late.reset(), m_lateMirror.reset(), m_second.reset(), m_actor.reset(), m_counter.reset(), m_first.reset();
  m_mirror.reset();
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

VarId Case::strings(const char* name) {
  const VarId made = ce().createVariable("string", StringDomain(StringDT::instance()), false, true, name,
                                         Id<Entity>::noId(), ConstrainedVariable::NO_INDEX);
  m_owned.insert(made->getKey());
  return made;
}

VarId Case::symbols(const char* name) {
  const Making during(making);
  const VarId made = variableOver(
      id(), SymbolDomain(std::list<double>{LabelStr("plum").getKey(), LabelStr("teal").getKey()}, SymbolDT::instance()),
      name);
  m_owned.insert(made->getKey());
  return made;
}

ConId Case::make(const std::string& name, bool byName, const Scope& scope) {
  const bool afterFailure = !m_thrown.empty(); // before it began: a failure on its notices concerns it
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
  if (made.isValid() && byName && m_inDeed > 0 && afterFailure)
    m_madeAfterFailure.insert(made->getKey());
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
  if (role == Told::SECOND) {
    if (m_justActed && m_inDeed == 0 && m_at.variant == TWICE && m_armed)
      m_justActed = false, perform(h);
    else if (m_justActed && m_inDeed == 0)
      m_justActed = false; // the deed's own notice
    else if (m_done && m_armed && m_at.variant == SECOND_THROWS && (m_secondFails.empty() || m_secondFails == h.notice))
      m_secondFails = h.notice, listenerFails(false);
    return;
  }
  if (m_inDeed == 0)
    m_justActed = false; // another notice: the second actor did not hear the deed's (it went)
  if (h.notice == "commenced")
    runCommenced(), m_runOpen = true;
  else if (h.notice == "completed" || h.notice == "preempted")
    m_runOpen = false;
  if (h.notice == "removedVariable" || h.notice == "removedConstraint")
    m_removed.insert(key);
  m_log.push_back(Entry{key, h.notice, false});
  if (m_failInRun && m_armed && h.notice == "commenced")
    m_failInRun = false, listenerFails(false);
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
  if (m_at.notice < 0 || h.notice != notices()[static_cast<std::size_t>(m_at.notice)])
    return;
  const Deed& deed = deeds()[static_cast<std::size_t>(m_at.deed)];
  if (m_done && deed.failures >= 0)
    return;
  m_done = true;
  if (deed.failures != 0)
    return deed.act(*this, h);
  m_justActed = true;
  perform(h);
  if (m_at.variant == DEED_THEN_FAILS)
    listenerFails(true);
}

void Case::listenerFails(bool check) {
  const std::string what = "listener failure " + std::to_string(m_thrown.size() + 1) + ".";
  m_thrown.push_back(Thrown{what, NoThrowScope::active() || std::uncaught_exceptions() > 0});
  if (!check)
    throw ListenerFailure(what);
  raiseFailedCheck(LISTENER_CHECK, "test/ConstraintEngine/base/DeedMatrixTest.cc", __LINE__, what.c_str());
}

// A deed refused (thrown to it, inside a destructor too) must leave everything as it was.
void Case::perform(const Heard& h) {
  const Deed& deed = deeds()[static_cast<std::size_t>(m_at.deed)];
  const NetworkSnapshot before(ce(), *m_counter);
  const unsigned long printed = Error::suppressedCount();
  std::string refusal, left;
  ++m_inDeed;
  try {
    deed.act(*this, h);
  } catch (const Error& e) {
    refusal = e.getCondition();
    left = refusal == LISTENER_CHECK ? e.getMessage() : "";
  } catch (const ListenerFailure& e) {
    refusal = LISTENER_CHECK, left = e.what();
  }
  --m_inDeed;
  if (!left.empty())
    leftDeed(left);
  if (refusal == LISTENER_CHECK)
    return;
  if (Error::suppressedCount() != printed)
    fail("a deed's refusal was printed, not thrown to the listener");
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
  if (m_unrelated)
    fail("a run owed before it commenced inside a later createVariable(), which never propagates");
  else if (NoThrowScope::active())
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
  m_errorStream = std::cerr.rdbuf(&m_printed);
  ce().setAutoPropagation(false);
  networks()[static_cast<std::size_t>(m_at.network)].build(*this);
  ce().propagate();
  ce().setAutoPropagation(m_at.autoPropagation);
  const auto watchAll = [this] {
    m_armed = true;
    for (const VarId& var : ce().getVariables())
      watch(var);
  };
  if (m_at.variant == VARIABLE_FIRST)
    watchAll(), m_armed = false;
  m_mirror.reset(new MirrorListener(id()));
  m_first.reset(new Told(*this, Told::FIRST));
  m_counter.reset(new HeardCounter(id()));
  m_actor.reset(new Told(*this, Told::ACTOR));
  if (m_at.variant == SECOND_THROWS || m_at.variant == TWICE)
    m_second.reset(new Told(*this, Told::SECOND));
  m_lateMirror.reset(new MirrorListener(id()));
  m_late.reset(new Told(*this, Told::LATE));
  const Call& call = calls()[static_cast<std::size_t>(m_at.call)];
  try {
    call.prepare(*this);
  } catch (const Error&) {
    if (holdsViolation()) // the call changes violations, refused while one is held: no case
      return;
    throw;
  }
  if (m_at.variant == VARIABLE_FIRST)
    m_armed = true;
  else
    watchAll();
  callClient(call);
  m_armed = false;
  // Made after a listener's failure, nothing failed on it: it stands (a second deed may delete it).
  if (m_at.variant != TWICE)
    for (const int key : m_madeAfterFailure)
      if (Entity::getEntity(key).isNoId() || Entity::getEntity(key)->isDiscarded())
        fail("a creation made after a listener's failure was taken back");
  checkListeners("after the call");
  settle();
  checkPrinted();
}

// The client's call may fail only with its documented refusal, or with the failure a listener
// threw first where it could leave; and every run it heard commenced ends before it returns.
void Case::callClient(const Call& call) {
  std::string left;
  bool otherwise = false;
  try {
    call.call(*this);
  } catch (const Error& e) {
    if (e.getCondition() == LISTENER_CHECK)
      left = e.getMessage();
    else if (call.mayRefuse == nullptr || e.getCondition() != call.mayRefuse)
      fail("the call failed: " + e.getCondition() + " " + e.getMessage());
    otherwise = left.empty();
  } catch (const ListenerFailure& e) {
    left = e.what();
  }
  if (m_runOpen)
    fail("a run heard commenced was not heard to end when the call returned");
  checkFailureLeft(left, otherwise);
}

// A listener's failure that left a deed, an inner call, where it should have been kept for the outermost.
void Case::leftDeed(const std::string& what) {
  fail("a listener's failure left a deed, not the outermost call");
  for (Thrown& thrown : m_thrown)
    thrown.leftDeed = thrown.leftDeed || thrown.what == what;
}

std::size_t Case::timesPrinted(const std::string& what) {
  const std::string text = m_printed.str();
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

// The first failure a listener threw that nothing printed leaves the call; a failure thrown where
// it could leave is printed only when another error leaves instead.
void Case::checkFailureLeft(const std::string& left, bool otherError) {
  std::string first;
  for (const Thrown& thrown : m_thrown) {
    const std::size_t printed = timesPrinted(thrown.what);
    if (first.empty() && printed == 0 && !thrown.leftDeed)
      first = thrown.what;
    if (printed > 1)
      fail("a listener's failure was printed " + std::to_string(printed) + " times");
    if (printed > 0 && !thrown.inDestructor && left.empty() && !otherError)
      fail("a listener's failure where it could leave was printed, and the call returned normally");
  }
  if (left.empty() && !first.empty() && !otherError)
    fail("the call returned normally though a listener failed and nothing printed it");
  else if (!left.empty() && left != first)
    fail("the call threw " + left + (first.empty() ? " though that was printed" : ", not " + first) +
         ": the first failure a listener threw that nothing printed");
}

// No check is printed but by the failure point: a listener's failure that could not leave.
void Case::checkPrinted() {
  const std::string text = m_printed.str();
  std::size_t from = 0;
  for (std::size_t end = text.find('\n'); end != std::string::npos; from = end + 1, end = text.find('\n', from)) {
    const std::string line = text.substr(from, end - from);
    if (line.find("listener failure ") == std::string::npos)
      fail("printed what is no listener's failure: " + line);
  }
}

// What the engine tells of the next propagate() before it, and what it may not change.
Case::Forecast Case::forecast() {
  return Forecast{ce().provenInconsistent(), ce().pending(), runPicture(ce()), m_counter->heard().size()};
}

// Proven inconsistent, the next propagate() answers false, whatever is switched off; neither
// that nor pending, it answers true and changes nothing, unheard.
void Case::checkForecast(const Forecast& told, bool answer) {
  const std::string when = std::string(told.inconsistent ? "proven inconsistent" : "neither proven inconsistent") +
                           (told.pending ? ", pending," : " nor pending") + " after the call, the next propagate ";
  if (told.inconsistent && answer)
    fail(when + "answered true");
  else if (!told.inconsistent && !told.pending && !answer)
    fail(when + "answered false");
  else if (!told.inconsistent && !told.pending && forecast().picture != told.picture)
    fail(when + "changed the network");
  else if (!told.inconsistent && !told.pending && m_counter->heard().size() != told.heard)
    fail(when + "was heard");
}

// The first line of two pictures that differs, "before" against "after".
std::string firstDifference(const std::string& before, const std::string& after) {
  std::istringstream was(before), now(after);
  std::string a, b;
  while (std::getline(was, a) && std::getline(now, b))
    if (a != b)
      return "was \"" + a + "\", now \"" + b + "\"";
  return "a line more or fewer";
}

// The next propagate() after a client call answers as the engine forecast; a second one right
// after answers alike, changing nothing and telling of no change; a true answer keeps every value
// a solution uses.
bool Case::propagateTwice(const Forecast& told) {
  const bool answer = ce().propagate();
  checkForecast(told, answer);
  const std::string picture = runPicture(ce());
  const std::size_t heard = m_counter->heard().size();
  const bool again = ce().propagate();
  const std::string second =
      std::string("a second propagate with nothing between, after ") + (answer ? "true" : "false") + ", ";
  std::string change;
  if (again != answer)
    fail(second + "answered the opposite");
  else if (runPicture(ce()) != picture)
    fail(second + "changed the network: " + firstDifference(picture, runPicture(ce())));
  else if (!(change = changeHeardSince(*m_counter, heard)).empty())
    fail(second + "told of a change: " + change);
  if (answer)
    keepsSolutionValues();
  return answer;
}

// The integers a variable of numbers may take in a solution: those of its base domain (at most
// fifty from zero), at the value specified when it is.
std::vector<int> integersOf(const VarId& v) {
  const AbstractDomain& base = v->baseDomain();
  std::vector<int> result;
  if (base.isEmpty() || !base.isNumeric())
    return result;
  const int lb = static_cast<int>(std::min(51.0, std::max(-50.0, std::floor(base.getLowerBound()))));
  const int ub = static_cast<int>(std::max(-51.0, std::min(50.0, std::ceil(base.getUpperBound()))));
  for (int i = lb; i <= ub; ++i)
    if (base.isMember(i) && (!v->specifiedFlag() || base.compareEqual(v->getSpecifiedValue(), i)))
      result.push_back(i);
  return result;
}

// A true answer keeps every value a solution of the network uses: the test's variables over their
// base domains (at the value specified), the constraints it made that stand, but those held
// violated (or a part of them): the switched-off ones too, whose narrowing stays. Judged over the
// integers, part by part (a part without solution leaves its values unjudged), but for parts
// holding an open enumeration, which may gain any value.
void Case::keepsSolutionValues() {
  std::vector<VarId> vars;
  std::map<int, std::size_t> positionOf;
  for (const VarId& var : ce().getVariables())
    if (!isPart(var))
      positionOf[var->getKey()] = vars.size(), vars.push_back(var);
  std::set<int> violated;
  for (const ConId& con : ce().getConstraints())
    if (ce().isViolated(con))
      violated.insert(isPart(con) ? con->standingOwner()->getKey() : con->getKey());
  std::vector<SearchedConstraint> searched;
  for (const Made& made : m_made) {
    if (!made.id.isValid() || made.id->isDiscarded() || violated.count(made.id->getKey()) != 0)
      continue;
    searched.push_back(SearchedConstraint{&entryNamed(made.name == "eqE" ? "eq" : made.name), {}, {}});
    for (const VarId& var : made.scope)
      searched.back().scope.push_back(positionOf.at(var->getKey()));
  }
  std::vector<std::size_t> root(vars.size());
  std::iota(root.begin(), root.end(), 0);
  const std::function<std::size_t(std::size_t)> find = [&](std::size_t i) {
    return root[i] == i ? i : root[i] = find(root[i]);
  };
  for (const SearchedConstraint& con : searched)
    for (std::size_t v : con.scope)
      root[find(v)] = find(con.scope.front());
  for (std::size_t part = 0; part < vars.size(); ++part) {
    if (find(part) != part)
      continue;
    std::vector<std::size_t> members; // positions in vars
    std::map<std::size_t, std::size_t> inPart;
    for (std::size_t i = 0; i < vars.size(); ++i)
      if (find(i) == part)
        inPart[i] = members.size(), members.push_back(i);
    if (std::any_of(members.begin(), members.end(), [&](std::size_t i) { return isOpen(vars[i]); }))
      continue;
    std::vector<std::vector<int> > candidates;
    for (std::size_t i : members)
      candidates.push_back(integersOf(vars[i]));
    std::vector<SearchedConstraint> local;
    for (const SearchedConstraint& con : searched)
      if (find(con.scope.front()) == part) {
        local.push_back(SearchedConstraint{con.entry, {}, {}});
        for (std::size_t v : con.scope)
          local.back().scope.push_back(inPart.at(v));
      }
    std::vector<std::set<int> > support;
    if (!searchSolutions(candidates, local, support))
      continue;
    for (std::size_t j = 0; j < members.size(); ++j) {
      const VarId& var = vars[members[j]];
      for (int value : support[j])
        if (var->isActive() && !var->lastDomain().isMember(value))
          return fail("a true answer left " + var->getName().toString() + " " + var->lastDomain().toString() +
                      " without " + std::to_string(value) + ", which a solution uses");
    }
  }
}

// What a deed emptied by specifying is reset, everything the test switched off is switched on
// again, and all is propagated. The next propagate() after the call is held to what the engine
// told of it: the final one, or one of its own before those calls.
void Case::settle() {
  try {
    const Scope variables(ce().getVariables().begin(), ce().getVariables().end());
    const std::vector<ConId> constraints(ce().getConstraints().begin(), ce().getConstraints().end());
    Scope emptied;
    for (const VarId& var : variables)
      if (m_emptiedByDeed.count(var->getKey()) != 0 && var->specifiedFlag())
        emptied.push_back(var);
    const bool calls = !emptied.empty() ||
                       std::any_of(variables.begin(), variables.end(), [](const VarId& v) { return v->refCount() > 0; }) ||
                       std::any_of(constraints.begin(), constraints.end(), [this](const ConId& k) { return offByTest(k) > 0; });
    Forecast told = forecast();
    if (calls) {
      propagateTwice(told);
      if (m_runOpen)
        fail("a run heard commenced in the propagate after the call was not heard to end");
    }
    for (const VarId& var : emptied)
      var->reset();
    for (const VarId& var : variables)
      for (unsigned int n = var->refCount(); n > 0; --n)
        var->undoDeactivation();
    for (const ConId& con : constraints)
      for (int n = offByTest(con); n > 0; --n)
        switchOn(con);
    if (calls)
      told = forecast();
    const bool answer = propagateTwice(told);
    if (m_runOpen)
      fail("a run heard commenced in the final propagate was not heard to end");
    checkListeners("after the final propagate");
    compareWithFresh(answer);
  } catch (const Error& e) {
    fail("settling after the call failed: " + e.getCondition() + " " + e.getMessage());
  } catch (const ListenerFailure& e) {
    fail(std::string("a listener's failure left a later call: ") + e.what());
  }
}

// The answer and the domains are a fresh engine's over the surviving model: the live variables
// (but parts) with their base domains and specified values, and the constraints the test made, in
// order, with what the live engine holds violated, or could not switch on, switched off.
void Case::compareWithFresh(bool answer) {
  std::unique_ptr<ConstraintEngine> engine(new ConstraintEngine(m_schema->getId()));
  ConstraintEngine& fresh = *engine;
  new DefaultPropagator("Default", fresh.getId()); // owned by the engine
  if (equality)
    new EqualityConstraintPropagator("Equal", fresh.getId()); // likewise
  fresh.setAutoPropagation(false);
  fresh.getViolationMgr().setMaxViolationsAllowed(ce().getViolationMgr().getMaxViolationsAllowed());
  std::map<int, std::pair<VarId, VarId> > variables; // by the live key: the live variable, the fresh one
  for (const ConId& live : ce().getConstraints())
    if (!isPart(live) && m_owned.count(live->getKey()) == 0)
      fail("the engine holds " + live->getName().toString() + ", which no call that returned made");
  for (const VarId& live : ce().getVariables()) {
    if (!isPart(live) && m_owned.count(live->getKey()) == 0)
      fail("the engine holds variable " + live->getName().toString() + ", which no call that returned made");
    if (isPart(live))
      continue;
    // Specified to a value its base has lost since: built the way it came about, specified and
    // then restricted, for no fresh variable takes a value its base lacks.
    const AbstractDomain& base = live->baseDomain();
    const bool lost = live->specifiedFlag() && !base.isEmpty() && !base.isMember(live->getSpecifiedValue());
    const std::unique_ptr<AbstractDomain> domain(lost ? withValue(base, live->getSpecifiedValue()) : base.copy());
    const VarId again = variableOver(fresh.getId(), *domain, live->getName().toString());
    variables[live->getKey()] = std::make_pair(live, again);
    if (live->specifiedFlag() && again->baseDomain().isMember(live->getSpecifiedValue()))
      again->specify(live->getSpecifiedValue());
    else if (live->specifiedFlag())
      again->getCurrentDomain().empty();
    if (lost)
      again->restrictBaseDomain(base);
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
  // Violations held at the limit stop every run: the answer is false.
  const std::size_t held = ce().getAllViolations().size();
  const bool atLimit = held > 0 && held >= ce().getViolationMgr().getMaxViolationsAllowed();
  if (answer != (fresh.propagate() && !atLimit))
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
  // Shared for the whole process.
  FloatDT::instance(), IntDT::instance(), BoolDT::instance(), StringDT::instance(), SymbolDT::instance();
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
         VARIANT_NAMES[at.variant] + (at.autoPropagation ? " auto" : " manual");
}

// ---- Which cases run.

// The default run takes one case in this many of the grown dimensions (the matrix as it was runs whole).
const std::size_t SAMPLE_EVERY = 10;

// A deed fits a variant: a failure is a deed of its own, the first variable listeners act at their
// own notices alone, and the second engine listener at the engine's.
bool fits(int deed, int notice, int variant) {
  if (deeds()[static_cast<std::size_t>(deed)].failures != 0)
    return variant == DEED;
  const bool variableNotice = notice >= noticeOf("variable:discard");
  return variant == VARIABLE_FIRST ? variableNotice : variant != TWICE || !variableNotice;
}
// Whether the case was in the matrix before it grew: a deed by one listener that does not fail,
// over the first three networks.
bool original(const Coordinates& at) {
  return !networks()[static_cast<std::size_t>(at.network)].sampled && at.variant == DEED &&
         !deeds()[static_cast<std::size_t>(at.deed)].grown;
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
  const bool all = only != nullptr || std::getenv("KALDEN_DEEDS_ALL") != nullptr;
  std::vector<Coordinates> cases;
  std::size_t grown = static_cast<std::size_t>(network * 7 + call); // the sample differs from test to test
  for (std::size_t p = 0; p < probes.size(); ++p) {
    record(probes[p], heard[p]);
    for (int variant = DEED; variant <= TWICE; ++variant)
      for (int notice = 0; notice < static_cast<int>(notices().size()); ++notice)
        for (int deed = 0; deed < static_cast<int>(deeds().size()) && (heard[p].heard >> notice & 1u) != 0; ++deed) {
          const Coordinates at{network, call, probes[p].autoPropagation, deed, notice, variant};
          if (!fits(deed, notice, variant) || (only != nullptr && caseName(at).find(only) == std::string::npos))
            continue;
          if (all || original(at) || grown++ % SAMPLE_EVERY == 0)
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
