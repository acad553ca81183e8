#ifndef KALDEN_CONSTRAINTENGINE_BASE_CONSTRAINTENGINE_HH
#define KALDEN_CONSTRAINTENGINE_BASE_CONSTRAINTENGINE_HH

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/ViolationMgr.hh"
#include "Utils/Entity.hh"
#include "Utils/Error.hh"
#include "Utils/LabelStr.hh"
#include "Utils/base/EngineComponent.hh"
#include "Utils/base/EntityComparator.hh"
#include "Utils/base/Id.hh"
#include "Utils/base/InsertionOrderedSet.hh"
#include "Utils/base/KeyOrderedSet.hh"
#include "Utils/base/PSList.hh"
#include "Utils/base/Snapshot.hh"

#include <algorithm>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace KALDEN {

class CESchema;
class Constraint;
class ConstraintEngineListener;
class Propagator;
class PSConstraint;
class PSVariable;

/// The engine's public interface, for clients that should not see its internals.
class PSConstraintEngine : public EngineComponent {
public:
  PSConstraintEngine() = default;
  ~PSConstraintEngine() override = default;

  /// The variable with the given entity key.
  virtual PSVariable* getVariableByKey(int key) = 0;
  /// The lowest-keyed variable with the given name, null when none.
  virtual PSVariable* getVariableByName(const std::string& name) = 0;
  /// Whether creating or deleting a constraint propagates at once.
  virtual bool getAutoPropagation() const = 0;
  /// Switches auto-propagation; switching it on propagates.
  virtual void setAutoPropagation(bool value) = 0;
  /// Propagates to a fixpoint; true when the network ends consistent.
  virtual bool propagate() = 0;
  /// Whether constraints may be marked violated.
  virtual bool getAllowViolations() const = 0;
  /// Allows or forbids violated constraints.
  virtual void setAllowViolations(bool value) = 0;
  /// The number of violated constraints (1.0 when none but hasEmptyVariables()).
  virtual double getViolation() const = 0;
  /// The violated constraints' explanations.
  virtual PSList<std::string> getViolationExpl() const = 0;
  /// The violated constraints.
  virtual PSList<PSConstraint*> getAllViolations() const = 0;
};

/**
 * The registry through which variables, constraints, propagators and engine
 * listeners meet. Each registers itself from its own constructor and leaves
 * from its own discard; the engine routes every domain change to the
 * propagators of the constraints concerned and tells its listeners.
 *
 * Who must outlive whom: the engine keeps a copy of the schema's handle, so
 * that a schema deleted first is refused clearly when the engine next needs
 * it; the schema should still outlive the engine. Propagators, variables, constraints and variable
 * change listeners keep a reference to the engine's own handle (getId()); the
 * engine's purge releases its propagators and discards its constraints and
 * variables, which then no longer reach the engine (the variables destroy
 * their listeners).
 * Deleting the engine purges it: it discards its constraints, then its
 * variables (which must be done under the utility layer's purge unless both
 * are gone already), then drops its hold on its propagators. Engine listeners
 * may outlive it.
 */
class ConstraintEngine : public PSConstraintEngine, public CallCounter {
public:
  /// Variables in key order.
  typedef KeyOrderedSet<ConstrainedVariable> VariableSet;
  /// Constraints in key order.
  typedef KeyOrderedSet<Constraint> ConstraintSet;

  /// An empty engine on a live schema; keeps a copy of the schema's handle.
  explicit ConstraintEngine(const Id<CESchema>& schema);
  /// Purges the engine unless that was done, then removes its handle and its violation manager.
  ~ConstraintEngine() override;
  ConstraintEngine(const ConstraintEngine&) = delete;
  ConstraintEngine& operator=(const ConstraintEngine&) = delete;

  // Identity and state.

  /// The engine's own handle; propagators, variables, constraints and variable change listeners keep a reference to it.
  const Id<ConstraintEngine>& getId() const { return m_id; }
  /// The schema handle the engine was built on.
  const Id<CESchema>& getCESchema() const { return m_schema; }
  /// The violation manager.
  ViolationMgr& getViolationMgr() { return *m_violationMgr; }
  /// The violation manager, read-only.
  const ViolationMgr& getViolationMgr() const { return *m_violationMgr; }
  /// Whether the propagation loop runs.
  bool isPropagating() const { return m_propInProgress; }
  /// The cycle count at the last relaxation-driven cycle.
  int mostRecentRepropagation() const { return m_mostRecentRepropagation; }
  /// The registered variables, in key order.
  const VariableSet& getVariables() const { return m_variables; }
  /// The registered constraints, in key order.
  const ConstraintSet& getConstraints() const { return m_constraints; }

  // Registration (each called by the registered object itself).

  /// Registers a variable being built (before it has domains).
  void add(const Id<ConstrainedVariable>& variable);
  /// Registers a constraint being built, with the propagator registered under the name.
  void add(const Id<Constraint>& constraint, const LabelStr& propagatorName);
  /// Registers a propagator, replacing a namesake that holds no constraint.
  void add(const Id<Propagator>& propagator);
  /// Registers an engine listener, told after those registered before it.
  void add(const Id<ConstraintEngineListener>& listener);
  /// Unregisters an engine listener.
  void remove(const Id<ConstraintEngineListener>& listener);
  /// Unregisters a constraint being discarded.
  void remove(const Id<Constraint>& constraint);
  /// Takes a constraint being discarded off its propagator, ahead of remove().
  void detachFromPropagator(const Id<Constraint>& constraint);
  /// Unregisters a variable being discarded.
  void remove(const Id<ConstrainedVariable>& variable);

  // Lookup.

  /// The variable with the given entity key; a key of no variable fails a check.
  PSVariable* getVariableByKey(int key) override;
  /// The lowest-keyed variable with the given name, null when none.
  PSVariable* getVariableByName(const std::string& name) override;
  /// The variable at a position of the key order.
  Id<ConstrainedVariable> getVariable(unsigned int index);
  /// The constraint at a position of the key order.
  Id<Constraint> getConstraint(unsigned int index);
  /// A registered variable's position in the key order.
  int getIndex(const Id<ConstrainedVariable>& var);
  /// A registered constraint's position in the key order.
  int getIndex(const Id<Constraint>& constr);
  /// The propagator registered under a name, the empty handle when none.
  const Id<Propagator>& getPropagatorByName(const LabelStr& name) const;

  // Creation and deletion by registered name.

  /// The value a text stands for in the named data type; nothing is registered.
  double createValue(const char* typeName, const std::string& text);
  /// A new variable of the named data type over a copy of the given base domain; never propagates.
  Id<ConstrainedVariable> createVariable(const char* typeName, const AbstractDomain& baseDomain, bool internal,
                                         bool canBeSpecified, const char* name, const Id<Entity>& parent, int index);
  /// A new variable of the named data type over that type's own base domain; never propagates.
  Id<ConstrainedVariable> createVariable(const char* typeName, bool internal, bool canBeSpecified, const char* name,
                                         const Id<Entity>& parent, int index);
  /// A new constraint of the named constraint type over the scope; propagates at once when auto-propagating.
  Id<Constraint> createConstraint(const LabelStr& name, const std::vector<Id<ConstrainedVariable> >& scope);
  /// Deletes a constraint (relaxing its scope); propagates at once when auto-propagating.
  void deleteConstraint(const Id<Constraint>& c);
  /// Whether a constraint is being created by name: notices wait until it stands.
  bool isCreatingByName() const { return m_holdingNotices != 0; }
  /// From a constructor: every notice waits while the object keyed `firstKey` (and what it makes)
  /// is made, so that no listener acts on it half-made.
  void beginMaking(int firstKey);
  /// Ends the making begun last for `firstKey` (nothing if none): a refused one drops the notices
  /// about what it made; with `tell`, what waits is told unless an outer making or telling holds it.
  void endMaking(int firstKey, bool refused, bool tell);
  /// What a constraint's constructor reads before it registers (see noteMadeOnClean()).
  struct CleanMark {
    bool dirty;
    unsigned long calls, narrowings, changes;
  };
  /// The mark now.
  CleanMark cleanMark() const { return CleanMark{m_dirty, m_callCount, m_narrowingCount, m_changes}; }
  /// The mark when the making keyed `firstKey` (the innermost) began, with the calls counted now:
  /// what a making does itself (its members, its delegates) is no deed. Never clean for another.
  CleanMark makingMark(int firstKey) const;
  /// From a constraint's constructor once it stands, its class's constructor still to run, or
  /// (`takenBack`) from a composite's destructor once its making was refused: the record
  /// refusedByClass() reads. Made with nothing else done meanwhile, its refusal by its class
  /// leaves the engine as the mark found it, the record of the last answer included.
  void noteMadeOnClean(int key, const CleanMark& before, bool takenBack = false);
  /// From a constraint's destructor: whether it goes because its class's constructor refused it,
  /// the error now leaving: it is the constraint noted last, no call was made since, and it was
  /// taken back or an error leaves that was not leaving when it was noted. One destroyed later,
  /// during another error's unwinding, goes as an ordinary deletion.
  bool refusedByClass(int key) const {
    return m_madeLast.key == key && m_callCount == m_madeLast.calls &&
           (m_madeLast.takenBack || std::uncaught_exceptions() > m_madeLast.unwinding);
  }
  /// From a constraint's destructor once refusedByClass() has gone: with nothing done since it stood
  /// on a clean engine, it leaves no work, as a refused creation by name does.
  void forgetRefusedMaking(int key);
  /// Whether the object keyed `key` is being made (or its notices told from its constructor).
  bool isBeingMade(int key) const override;
  /// Whether a variable's notices of new links wait: while a constraint is created by name, or
  /// while notices held are told (one a listener's deed causes then waits behind them).
  bool holdsLinkNotices() const { return m_holdingNotices != 0 || m_releasing || m_tellingDepth != 0; }
  /// Whether link notices wait and an engine listener, told meanwhile, may attach variable listeners.
  bool holdsLinkNoticesForLateListeners() const { return holdsLinkNotices() && !m_listeners.empty(); }
  /// Holds the notice to a variable's listeners that a constraint was linked to it; dropped should
  /// the link go first (its unlink is then told to nobody) or the creation by name be refused.
  void holdLinkNotice(const Id<ConstrainedVariable>& variable, const Id<Constraint>& constraint, int argIndex);
  /// Whether the notice of that link was still held: it is dropped then, and its unlink told to nobody.
  bool dropHeldLink(const ConstrainedVariable& variable, const Id<Constraint>& constraint, int argIndex);

  // Auto-propagation.

  /// Whether creating or deleting a constraint propagates at once (true at first).
  bool getAutoPropagation() const override { return m_autoPropagate; }
  /// Switches auto-propagation; switching it on owes a run (see oweRun()).
  void setAutoPropagation(bool value) override;
  /// Whether auto-propagation is on and no propagate() call is under way (between its runs, the
  /// call goes on to the fixpoint of whatever a deed changed).
  bool shouldAutoPropagate() const { return m_autoPropagate && !m_propInProgress && !m_inPropagate; }

  // The gate: every public call that changes the network is admitted here, at its entry.

  /// What a call does to the network, as the gate judges it.
  enum Deed {
    PROPAGATE,      ///< propagate()
    CHANGE,         ///< a change a run under way takes in (a creation, a narrowing, a deletion, a setting)
    WIDEN,          ///< a widening of an active variable (reset, relax, open, insert, remove from an open base)
    DELETE_BY_NAME, ///< deleteConstraint()
    SWITCH,         ///< deactivate() or undoDeactivation() of a variable or a constraint
  };
  /// Admits a call by what the engine is doing, or refuses it before it changes anything: throws,
  /// inside a destructor too, to the listener that called (see heed()). `subject` keys the object
  /// switched; false only where a failure must be printed (nothing catches it).
  bool admit(Deed deed, int subject = 0);
  /// A discard() or decRefCount() of a variable or constraint begins: one call, never refused.
  void enterOwnCall() override {
    ++m_callCount;
    ++m_scopeDepth;
  }
  /// It returns (see EngineCall).
  void leaveOwnCall() override { leaveCall(); }
  /// Whether a call, a notice or a constructor's telling is under way: a propagate() now would run inside it.
  bool isInsideCall() const { return m_scopeDepth != 0; }
  /// Records that an admitted call owes a run (with auto-propagation on): it starts once, when the
  /// outermost call returns, after every notice is told. Inside a constructor or a destructor, or
  /// should that call fail, it waits for the next propagate() (pending() says so).
  void oweRun() {
    if (m_autoPropagate)
      m_runOwed = true;
  }
  /// Records a change the next run may answer differently for, breaking the record of the last
  /// answer (see pending()): a variable or constraint made, removed or switched, a base domain, a
  /// value specified or cleared, the violations allowed, a propagator switched. A routed domain
  /// change outside a propagate() call is recorded by notify().
  void noteModelChange() { ++m_changes; }
  /// As noteModelChange(), of a variable or constraint switched off by a client: its narrowing
  /// stays, and the relaxation a run starts with may give it back, so a run failing before the
  /// next answer is run once more (see propagateToFixpoint()).
  void noteLoosened() {
    ++m_changes;
    m_loosened = true;
  }
  /// Brackets the switching of the object keyed `key`: switched again meanwhile, it is refused.
  void beginSwitching(int key) { m_switching.push_back(key); }
  /// Ends the bracket begun last.
  void endSwitching() { m_switching.pop_back(); }

  // Listeners' failures: one point where they are caught, one where they leave.

  /// Calls a listener (of the engine or of a variable) through the one point that keeps what it
  /// throws rather than let it cut the engine's work short: the first failure leaves the outermost
  /// call or telling when it returns, or is printed where nothing may throw. A check failing in
  /// the listener's calls is thrown to it, inside a destructor too. `key` names the object the
  /// notice is about (0: none).
  template <class F>
  void heed(int key, const F& f) {
    // Everything thrown here is caught: a check failing inside a destructor is thrown too.
    const CatchingScope catching;
    heedTold(key, f);
  }
  /// As heed(), inside a catching boundary its caller opened for a whole telling (see heed()):
  /// none is opened per listener, since nothing between them reopens a NoThrowScope.
  template <class F>
  void heedTold(int key, const F& f) {
    try {
      f();
    } catch (...) {
      keepFailure(key);
    }
  }
  /// Keeps the failure being handled unless an earlier one is kept, and what it was about.
  void keepFailure(int key);
  /// Runs `body`, which tells listeners, as one scope: what a listener throws meanwhile leaves
  /// once the outermost scope ends.
  template <class Body>
  void withinScope(const Body& body) {
    ++m_scopeDepth;
    heed(0, body);
    leaveScope(false);
  }

  // Change routing.

  /// Routes one change of a variable's domain to its engine's propagators and listeners.
  void notify(const Id<ConstrainedVariable>& source, const DomainListener::ChangeType& changeType);
  /// The number of narrowings routed so far (a touch, relaxation, opening or closing is none): a
  /// constraint compares it across a run of its rule to learn whether the run removed values.
  unsigned long narrowingCount() const { return m_narrowingCount; }
  /// A new change listener on the heap, bound to the variable and this engine; the caller owns it.
  Id<DomainListener> allocateVariableListener(const Id<ConstrainedVariable>& variable,
                                              const ConstrainedVariable::ConstraintList& constraints) const;

  // Propagation state.

  /// Propagates to a fixpoint; true when the network ends consistent. With violations allowed, a
  /// run that empties a domain sets the executing constraint aside and the next run goes on
  /// without it, as long as each failed run sets one aside and relaxation refills the domains.
  bool propagate() override;
  /// Whether no switched-on variable is emptied and no enabled propagator has work.
  bool constraintConsistent() const;
  /// Whether the next propagate() may do something: unless nothing changed since the last
  /// answer (see noteModelChange()), after a false one, or when a relaxation is under way, a
  /// variable is emptied (a client's call after a true answer) or was emptied and switched off,
  /// or work is queued. Neither this nor provenInconsistent(): it answers true, changing nothing.
  bool pending() const;
  /// The first enabled propagator, in registration order, that has work; empty when none.
  Id<Propagator> getNextPropagator() const;
  /// Whether fewer constraints are violated than the violation manager allows.
  bool canContinuePropagation() const;
  /// Whether queued work waits: a domain is empty and no violation may set its culprit aside.
  /// Propagators keep their work meanwhile and report none, so that it runs once the emptied
  /// domains are refilled (by relaxation, a reset or their variables' removal).
  bool isPropagationSuspended() const { return hasEmptyVariables() && !canContinuePropagation(); }
  /// Forgets, without relaxing anything, every emptied variable that holds values again or is switched off.
  void clearEmptyVariables();
  /// A printable picture of the given propagators: their constraints, enabled flag and work.
  std::string dumpPropagatorState(const std::list<Id<Propagator> >& propagators) const;

  // Execution (only inside the propagation loop).

  /// Runs a constraint over its whole scope, after checking it may run and telling the listeners.
  void execute(const Id<Constraint>& constraint);
  /// Runs a constraint for one change of one of its variables, after the same checks.
  void execute(const Id<Constraint>& constraint, const Id<ConstrainedVariable>& variable, int argIndex,
               const DomainListener::ChangeType& changeType);

  // Activation and redundancy.

  /// A variable has just become inactive (after its constraints were deactivated).
  void notifyDeactivated(const Id<ConstrainedVariable>& var);
  /// A variable has just become active again (after its constraints were reactivated).
  void notifyActivated(const Id<ConstrainedVariable>& var);

  /// A constraint has just become inactive.
  void notifyDeactivated(const Id<Constraint>& deactivatedConstraint);
  /// A constraint has just become active again (or was found redundant while active).
  void notifyActivated(const Id<Constraint>& constraint);
  /// A constraint has found itself redundant.
  void notifyRedundant(const Id<Constraint>& constraint);
  /// Retires the constraints found redundant since the last completed run.
  void processRedundantConstraints();

  // Relaxation.

  /// A variable's domain was relaxed or opened: relaxes, once per cycle, every variable reachable through constraints
  /// that may hold its narrowing (see carriesRelaxation()); a variable widened meanwhile (by a listener) joins it.
  void handleRelax(const Id<ConstrainedVariable>& variable);
  /// Whether relaxation passes through the constraint: an active one, or one switched off (by a client or a
  /// variable), whose narrowing stays while it is off. Not a retired one, whose narrowing follows from closed
  /// base domains, nor one held violated, whose scope was relaxed when it was set aside.
  bool carriesRelaxation(const Id<Constraint>& constraint) const;
  /// Whether a relaxation cycle is open.
  bool isRelaxed() const { return m_relaxed; }
  /// A variable widened by a client: relaxes from it at once or, switched off while a run is under
  /// way, as soon as the run allows.
  void relaxFromWidened(const Id<ConstrainedVariable>& variable);
  /// Relaxes the variables that are still registered and not at their widest in the current
  /// relaxation cycle: at once, or, while a run is under way, as soon as it allows.
  void relaxVariables(const std::vector<Id<ConstrainedVariable> >& variables);
  /// Relaxes the variables of a constraint just switched off whose open base still lets them
  /// widen past a closed domain they took (see relaxVariables()).
  void relaxTakenMembers(const std::vector<Id<ConstrainedVariable> >& scope);

  // Violations and emptied variables.

  /// Whether the violation manager's limit is above 0.
  bool getAllowViolations() const override;
  /// Sets the limit to 2147483647 violations, or to 0.
  void setAllowViolations(bool value) override;
  /// The number of violated constraints (1.0 when none but hasEmptyVariables()).
  double getViolation() const override;
  /// The violated constraints' explanations, in key order.
  PSList<std::string> getViolationExpl() const override;
  /// The violated constraints, in key order.
  PSList<PSConstraint*> getAllViolations() const override;
  /// Whether the constraint is marked violated.
  bool isViolated(Id<Constraint> constraint) const;
  /// Whether a variable recorded as emptied is still judged empty (see ViolationMgr::judgedEmpty()):
  /// a record of one switched off, or holding values again, counts for nothing.
  bool hasEmptyVariables() const {
    // The engine makes its manager itself, so the manager's class is known: no virtual call.
    // Records are few (mostly none): only they are judged.
    return !static_cast<const ViolationMgrImpl&>(*m_violationMgr).ViolationMgrImpl::getEmptyVariables().empty() &&
           judgesARecordEmpty();
  }
  /// Whether the next propagate() answers false, at once and changing nothing: the last answer
  /// was false and nothing changed since (see noteModelChange()). Otherwise it is pending() or
  /// answers true.
  bool provenInconsistent() const { return !m_lastAnswer && m_changes == m_changesAtAnswer; }
  /// Records a variable whose current domain has just emptied, and blames the constraint executing over it.
  void handleEmpty(const Id<ConstrainedVariable>& variable);
  /// A constraint was marked violated: tells the listeners.
  void notifyViolationAdded(Id<Constraint> constraint);
  /// A constraint's violation was withdrawn: tells the listeners.
  void notifyViolationRemoved(Id<Constraint> constraint);

  /// Discards every constraint, then every variable, then releases the propagators.
  void purge();

private:
  // A widening listed to be given back: a variable to relax itself, one whose growth reaches
  // further, one that a cascade from such a one reached, or one that gained members in a run.
  struct Widening {
    enum Kind { ITSELF, FROM, REACHED, GAIN };
    Id<ConstrainedVariable> variable;
    Kind kind;
    bool setAside; // listed while giving back what constraints set aside narrowed: withdraws no violation
    std::shared_ptr<const AbstractDomain> gained; // a gain's: what the variable held just after it
  };

  // A violation or withdrawal being told, innermost first: a listener told may delete the
  // constraint, whose removal then withdraws the violation from exactly those that heard it.
  // The same for an addition being told (`violated` unused).
  struct Telling {
    int key;
    bool violated;
    std::vector<Id<ConstraintEngineListener> > told; // in the order told; see whoHeard()
    Telling* outer;
  };
  // Those a telling reached so far, sorted for among(); none without a telling. Sorted once by
  // the rare removal that cuts a telling short, rather than kept sorted by every telling.
  static std::vector<Id<ConstraintEngineListener> > whoHeard(const Telling* telling) {
    std::vector<Id<ConstraintEngineListener> > heard;
    if (telling != nullptr)
      heard = telling->told;
    std::sort(heard.begin(), heard.end());
    return heard;
  }
  // Whether the listener is among those whoHeard() answered.
  static bool among(const std::vector<Id<ConstraintEngineListener> >& heard,
                    const Id<ConstraintEngineListener>& listener) {
    return std::binary_search(heard.begin(), heard.end(), listener);
  }
  // Restores the innermost telling when one ends, however it ends.
  struct TellingScope {
    Telling*& current;
    Telling* outer;
    ~TellingScope() { current = outer; }
  };
  // Tells the listeners that a constraint is about to run; whether it may still run (a listener
  // may have deleted it or a variable of its scope).
  bool tellExecuted(const Id<Constraint>& constraint);
  // One propagation run: the propagators run until none has work or a domain empties.
  bool doPropagate();
  // Ends a run that a failure cuts short: tells what it held, gives back what it held for after
  // the run, then tells that it was preempted.
  void endFailedRun(bool commenced);
  // Advances the cycle count; records a repropagation cycle while relaxed.
  void incrementCycle();
  // Runs the propagators until none has work or a domain empties; tells the listeners the
  // changes each propagator made once it has returned.
  void runPropagators(bool& commenced);
  // Whether notices wait: while a propagator runs, a constraint is created by name, or another
  // notice is being told (what a listener's deed causes is heard after it, by everyone).
  bool isHoldingNotices() const { return m_holdChanges || m_holdingNotices != 0 || m_releasing || m_tellingDepth != 0; }
  // A call returns; the outermost starts the run owed (see startOwedRun()).
  void leaveCall();
  // Starts the run owed, from the outermost call (no scope, call or notice, around it): inside a
  // constructor or a destructor, while an error leaves or while purging, the run waits for the
  // next propagate().
  void startOwedRun();
  // propagate() once admitted: runs to the fixpoint of whatever deeds change meanwhile.
  bool propagateToFixpoint();
  // Ends a propagate() call with its answer: whatever a deed owed was taken in.
  bool endPropagation(bool result);
  // hasEmptyVariables() once the records are known not to be empty.
  bool judgesARecordEmpty() const;
  // Whether a run would do something, whatever the record of the last answer says.
  bool workWaits() const;
  // Relaxes every recorded variable switched off while emptied: what its emptiness caused goes
  // with it (it is judged again when switched on); then drops the records that count for nothing.
  void relaxSwitchedOffRecords();
  // Brackets the telling of one notice to every listener; the outermost then tells what its
  // listeners' deeds caused meanwhile, in order, and drops a run owed outside any call.
  template <class Body>
  void telling(const Body& body) {
    ++m_tellingDepth;
    ++m_scopeDepth;
    heed(0, body);
    if (--m_tellingDepth == 0)
      heed(0, [this] { afterTelling(); });
    leaveScope(false);
  }
  // What the outermost telling does once it ends.
  void afterTelling();
  // Ends a scope (a call, a telling, a making told, a discard): one depth counts them all. The
  // outermost takes back the creations a failure concerns, leaves a run still owed for the next
  // propagate() (a call has started it already), then lets the first failure leave. `runFailed`:
  // the run the call owed failed.
  void leaveScope(bool runFailed) {
    if (m_scopeDepth != 1 || (!m_failure && m_creations.empty() && !m_runOwed))
      --m_scopeDepth;
    else
      leaveOutermostScope(runFailed);
  }
  // As leaveScope(), of the outermost scope with a failure, creations to forget or a run owed.
  void leaveOutermostScope(bool runFailed);
  // The first failure kept, with the keys of the objects whose notices a listener failed on, and
  // the scopes open (see withinScope()).
  std::exception_ptr m_failure;
  std::vector<int> m_failedKeys;
  unsigned int m_scopeDepth = 0;
  // The first key made after the first failure was kept (0: none kept): nothing made from it on
  // is taken back, for nothing failed on it.
  int m_failureKey = 0;
  // The first key made after the owed run started: what a listener made during the run does not
  // owe it, as in an explicit propagate().
  int m_runStartKey = 0;
  friend class EngineCall;
  // Tells the listeners the notices held while a propagator ran, a constraint was created by
  // name or another notice was told, in order. What a listener's deed causes meanwhile waits
  // behind those not yet told (but removals, told at once); a release begun inside a listener's
  // call goes on with the same queue.
  void releaseHeldNotices();
  // Holds a notice about the object keyed `key` (0: about none), to be told in order.
  void hold(int key, std::function<void()> tell) { m_heldNotices.push_back(HeldNotice{key, std::move(tell)}); }
  // Tells that a constraint was marked violated or its violation withdrawn, held like any notice;
  // a withdrawal is told only of a violation that was heard.
  void tellViolation(const Id<Constraint>& constraint, bool violated);
  // As tellViolation(), now.
  void tellViolationNow(const Id<Constraint>& constraint, bool violated);
  // At a constraint's removal, tells its withdrawal to every listener that heard it violated.
  void tellWithdrawalAtRemoval(const Id<Constraint>& constraint);
  // An object being made: its key, the first of what it makes, and where its notices start.
  struct Making {
    int firstKey;
    std::size_t heldBefore;
    CleanMark before;
  };
  // Notes the change a registration makes: none inside a making, whose end notes it once what it
  // made stands (a refused making changes nothing).
  void noteRegistration() {
    if (m_makings.empty())
      noteModelChange();
  }
  // Makes an object by name with every notice held; a refusal drops the notices about what it
  // made. The key of the first object made.
  int holdWhileMaking(const std::function<void()>& make);
  // A creation by name made in the outermost call or telling under way, keys `firstKey` to
  // `endKey`: should that call fail, it is taken back when a listener failed on a notice about
  // what it made, when it owed the run that failed (made before it started), or when it is the
  // call's own; never when made after the first failure.
  struct Creation {
    int firstKey;
    int endKey;
    bool owesRun;
    bool own;
    bool takenBack;
    std::function<void()> takeBack;
  };
  std::vector<Creation> m_creations;
  // Registers a creation by name (see Creation).
  template <class T>
  void registerCreation(const Id<T>& made, int firstKey, bool propagating);
  // Takes back, each through the ordinary deletion path and the outermost first, the creations a
  // failure concerns (see Creation); `runFailed` when the run owed failed.
  void takeBackFailedCreations(bool runFailed);
  // Drops the notices about what a refused making made.
  void dropHeldSince(const Making& making);
  // Tells what a creation by name held (unless an outer creation or telling holds it) and, when
  // asked, owes a run; should a listener fail on its notices, or the run it owes fail, the object
  // made goes before the failure leaves the outermost call, so that it leaves nothing behind.
  template <class T>
  void standOrTakeBack(const Id<T>& made, int firstKey, bool propagating);
  // Hands an active constraint to its propagator's agenda, recording it first if it is redundant.
  void queueActive(const Id<Constraint>& constraint);
  // Gives back, outside any run, every widening the run listed (a removal, a switched-off variable
  // grown, a gain); whether any of them widened something.
  bool giveBackAfterRun();
  // Gives back what the constraints set aside as violated in the run narrowed (refilling the
  // emptied domains first, when asked), leaving them set aside.
  void relaxSetAside(bool emptiedFirst);
  // A variable's domain grew: what its constraints (on or off) narrowed from its old values is
  // given back at once, or after the run under way, where a gain (an open enumeration taking the
  // members of a closed one) may happen.
  void relaxFromGrown(const Id<ConstrainedVariable>& variable);
  // Gives back a gain met in a run: the variable widens whole, and what it reaches with it, and
  // then takes again what it gained (unless the run set a constraint aside); false when it was
  // emptied since, relaxed already by a later gain, or when the same gain was given back already
  // in this propagation (the next run would only meet it again).
  bool giveBackGain(const Widening& gain);
  // A variable whose gain is given back takes again what it gained, within what relax() left it.
  void takeAgain(const Id<ConstrainedVariable>& variable, const AbstractDomain& gained);
  // Relaxes, in the current cycle, every variable that the widened variable reaches (see handleRelax()).
  void relaxFrom(const Id<ConstrainedVariable>& variable);
  // Relaxes each listed variable that is still registered, unless the current relaxation cycle
  // reached it and it is at its widest; takes the list, and what relaxing adds to it meanwhile.
  void relaxListed(std::vector<Id<ConstrainedVariable> >& variables);
  // Works off the widenings listed above the first `outer` (all of them, for 0), and what
  // working them off lists meanwhile.
  void workOffWidenings(std::size_t outer);
  // Gives back one listed widening; false when it had nothing to give back.
  bool widen(const Widening& widening);
  // Whether the variable holds all that relax() would give it.
  static bool atWidest(const Id<ConstrainedVariable>& var);
  // Inserts before `position` every variable that an active constraint of `variable` may modify
  // and that is neither visited nor stamped in this cycle.
  void addLinkedVarsForRelaxation(const Id<ConstrainedVariable>& variable, std::list<Id<ConstrainedVariable> >& agenda,
                                  std::list<Id<ConstrainedVariable> >::iterator position,
                                  std::set<Id<ConstrainedVariable> >& visited);
  // Whether a notice about the object may still be told: it stands, neither deleted nor discarded.
  template <class T>
  static bool stands(const Id<T>& subject) {
    return subject.isValid() && !subject->isDiscarded();
  }
  // Tells that a variable or constraint was added: held like any notice, it is told only if the
  // object has not gone meanwhile (its removal is then heard by nobody either).
  template <class T, class Tell>
  void tellAdded(const Id<T>& subject, const Tell& tell) {
    if (!isHoldingNotices()) {
      tellAddedNow(subject, tell);
      return;
    }
    const int key = subject->getKey();
    m_unheardAdded.insert(key);
    hold(key, [this, subject, key, tell] {
      if (m_unheardAdded.erase(key) != 0)
        tellAddedNow(subject, tell);
    });
  }
  // As tellAdded(), now. A listener told may delete the object: its removal is then told to
  // exactly the listeners that heard it added, and the others hear nothing of it.
  template <class T, class Tell>
  void tellAddedNow(const Id<T>& subject, const Tell& tell) {
    tellRecordingWhoHeard(m_addTelling, true, subject, tell);
  }
  // Tells every listener still registered while the subject stands, recording in a telling pushed
  // on `innermost` which listeners heard it: a removal meanwhile reaches exactly those.
  template <class T, class Tell>
  void tellRecordingWhoHeard(Telling*& innermost, bool violated, const Id<T>& subject, const Tell& tell) {
    Telling telling{subject->getKey(), violated, {}, innermost};
    innermost = &telling;
    const TellingScope scope{innermost, telling.outer};
    this->telling([&] {
      const Snapshot<Id<ConstraintEngineListener>, 4> listeners(m_listeners.begin(), m_listeners.end());
      telling.told.reserve(static_cast<std::size_t>(listeners.end() - listeners.begin()));
      for (const Id<ConstraintEngineListener>& listener : listeners) {
        if (!stands(subject))
          break;
        if (!listener.isValid() || m_listeners.count(listener) == 0 || !hearsOf(listener, telling.key))
          continue;
        telling.told.push_back(listener);
        heedTold(telling.key, [&] { tell(*listener.operator->()); });
      }
    });
  }
  // Tells that an object is leaving, never held: the object is whole during the telling, and gone
  // soon after (a delete frees it at once), when a held notice could no longer show it.
  // While its addition is being told, only the listeners that heard it hear it leave.
  template <class Tell>
  void tellLeaving(int key, const Tell& tell) {
    const Telling* adding = m_addTelling;
    while (adding != nullptr && adding->key != key)
      adding = adding->outer;
    telling([&] {
      const std::vector<Id<ConstraintEngineListener> > heard = whoHeard(adding);
      const Snapshot<Id<ConstraintEngineListener>, 4> listeners(m_listeners.begin(), m_listeners.end());
      for (const Id<ConstraintEngineListener>& listener : listeners)
        if (listener.isValid() && m_listeners.count(listener) != 0 && (adding == nullptr || among(heard, listener)) &&
            hearsOf(listener, key))
          heedTold(key, [&] { tell(*listener.operator->()); });
    });
  }
  // Whether the listener hears of the object keyed `key`: not if its addition never reached it.
  bool hearsOf(const Id<ConstraintEngineListener>& listener, int key) const {
    return m_partlyHeard.empty() || heardAdditionOf(listener, key);
  }
  // As hearsOf(), once some addition reached only part of the listeners.
  bool heardAdditionOf(const Id<ConstraintEngineListener>& listener, int key) const;
  // Forgets who heard of an object that is leaving.
  void forgetWhoHeard(int key) {
    if (!m_partlyHeard.empty())
      m_partlyHeard.erase(key);
  }
  // Tells every listener still registered, in the order they registered, after the purge check; marks the engine dirty.
  // With no listener, nothing is built for the telling: the hot paths broadcast on every execution.
  template <class Tell>
  void broadcast(const Tell& tell) {
    if (beginBroadcast())
      tellListeners(tell);
  }
  // The purge check and the dirty mark of every broadcast; whether there is a listener to tell.
  bool beginBroadcast();
  // As broadcast(), of a notice about one variable or constraint.
  template <class T, class Tell>
  void broadcastAbout(const Id<T>& subject, const Tell& tell) {
    if (beginBroadcast())
      tellListenersAbout(subject, tell);
  }
  // As tellListeners(), of a notice about one variable or constraint: once a listener has
  // deleted it, the others are not handed its stale handle. The handle is copied first, since
  // callers pass the object's own, which goes with it.
  template <class T, class Tell>
  void tellListenersAbout(const Id<T>& object, const Tell& tell) {
    const Id<T> subject = object;
    if (isHoldingNotices()) {
      hold(subject->getKey(), [this, subject, tell] { tellListenersAboutNow(subject, tell); });
      return;
    }
    tellListenersAboutNow(subject, tell);
  }
  // As tellListenersAbout(), even while notices are held. Once a listener has deleted or
  // discarded the object (its removal is heard then), the others hear nothing more of it.
  template <class T, class Tell>
  void tellListenersAboutNow(const Id<T>& subject, const Tell& tell) {
    telling([&] {
      if (!stands(subject))
        return;
      const Snapshot<Id<ConstraintEngineListener>, 4> listeners(m_listeners.begin(), m_listeners.end());
      const int key = subject->getKey();
      for (const Id<ConstraintEngineListener>& listener : listeners) {
        if (!stands(subject))
          break;
        if (listener.isValid() && m_listeners.count(listener) != 0 && hearsOf(listener, key))
          heedTold(key, [&] { tell(*listener.operator->()); });
      }
    });
  }
  // Tells every listener still registered, in the order they registered.
  template <class Tell>
  void tellListeners(const Tell& tell) {
    if (isHoldingNotices()) {
      hold(0, [this, tell] { tellListenersNow(tell); });
      return;
    }
    tellListenersNow(tell);
  }
  // As tellListeners(), even while notices are held.
  template <class Tell>
  void tellListenersNow(const Tell& tell) {
    // A listener may register or unregister listeners (itself included) while it is told.
    telling([&] {
      const Snapshot<Id<ConstraintEngineListener>, 4> listeners(m_listeners.begin(), m_listeners.end());
      for (const Id<ConstraintEngineListener>& listener : listeners)
        if (listener.isValid() && m_listeners.count(listener) != 0)
          heedTold(0, [&] { tell(*listener.operator->()); });
    });
  }

  Id<ConstraintEngine> m_id;
  VariableSet m_variables;
  ConstraintSet m_constraints;
  std::list<Id<Propagator> > m_propagators;
  std::map<double, Id<Propagator> > m_propagatorsByName;
  bool m_relaxing;
  bool m_relaxingViolation;
  bool m_relaxed;
  bool m_propInProgress;
  bool m_inPropagate = false; // a propagate() call is under way, in a run or between its runs
  bool m_deleted;
  bool m_purged;
  bool m_dirty;
  // Set while a propagator runs: a listener told of a change, a constraint switched off or a
  // violation then could delete what the running code still uses, so every notice but that of an
  // execution is held (in m_heldNotices) and told once the propagator has returned.
  bool m_holdChanges;
  // Every widening under way and not yet given back, the next first: each source (a removal, a
  // reset, a relaxation reaching further, a set-aside, a gain) lists its own, and a propagation
  // works the list off whole before it runs. Relaxing cannot happen inside a run: what one lists
  // waits for its end.
  std::deque<Widening> m_widenings;
  // The gains given back in the propagation under way, each with what the variable held when it
  // was: met again alike, a gain gives nothing new back, and is kept, so that every run ends.
  typedef std::pair<Id<ConstrainedVariable>, std::unique_ptr<AbstractDomain> > GainGivenBack;
  std::vector<GainGivenBack> m_gainsGivenBack;
  // Nested propagations under way (a listener may propagate between runs): the outermost forgets
  // the gains given back.
  unsigned int m_propagationDepth = 0;
  // Counts the removals whose scopes were relaxed: one while a gain is given back may have taken
  // its cause away, and the gain is then not taken again.
  unsigned long m_scopesRelaxed = 0;
  // The scopes of constraints set aside as violated during a run: what they narrowed is undone
  // after it, so that the next run narrows only by the constraints that remain.
  std::vector<Id<ConstrainedVariable> > m_setAsideScopes;
  int m_cycleCount;
  // Constraints keyed from here on were made after the last run ended: none of them has run, so
  // none narrowed anything its removal would have to undo.
  int m_firstUnrunKey = 1;
  int m_mostRecentRepropagation;
  unsigned long m_narrowingCount = 0;
  InsertionOrderedSet<ConstraintEngineListener> m_listeners; // in the order they registered
  // While a constraint is created by name, the notices its making causes wait (they capture
  // copies of their handles), to be told once it stands; should it be refused, those about its
  // own objects are dropped. The notices held while a propagator runs wait here too.
  unsigned int m_holdingNotices = 0;
  // A notice waiting, with the key of the object it is about (0: none), by which a refused
  // creation drops the notices about its own objects and keeps those about the others.
  struct HeldNotice {
    int key;
    std::function<void()> tell;
  };
  std::vector<HeldNotice> m_heldNotices;
  // Set while held notices are told; the next to tell.
  bool m_releasing = false;
  // The objects being made, innermost last, and those whose notices their constructors tell.
  std::vector<Making> m_makings;
  std::vector<int> m_toldWhileMade;
  // Set when an admitted call owes a run (see oweRun()).
  bool m_runOwed = false;
  // The constraint last noted made (key 0: none), whether with nothing else done meanwhile, with
  // the calls and narrowings counted and the errors leaving once it stood, the mark's dirty flag
  // and changes, and whether its making was refused already (see noteMadeOnClean()).
  struct MadeLast {
    int key;
    bool onClean;
    unsigned long calls, narrowings;
    int unwinding;
    bool dirty;
    unsigned long changes;
    bool takenBack;
  } m_madeLast{0, false, 0, 0, 0, false, 0, false};
  // The notices being told, nested: what is told meanwhile waits behind them (a call, which
  // m_scopeDepth counts too, holds nothing back).
  unsigned int m_tellingDepth = 0;
  // How many calls were admitted: one told of a retirement may have changed the network.
  unsigned long m_callCount = 0;
  // The record of what the next run will do: the changes noted (see noteModelChange()), their
  // count when the last propagate() answered, and that answer. Starts broken: nothing answered.
  unsigned long m_changes = 1;
  unsigned long m_changesAtAnswer = 0;
  bool m_lastAnswer = true;
  // Set by noteLoosened() until the next answer (see propagate()).
  bool m_loosened = false;
  // How many constraints were held violated when the last failed run was told preempted; 0 when
  // none failed since the propagation loop last asked.
  std::size_t m_violatedAtFailure = 0;
  // Keys of the variables and constraints being switched off or on, nested (see beginSwitching()).
  std::vector<int> m_switching;
  std::size_t m_nextHeld = 0;
  // Variable, constraint and argument index of the links whose notice is held.
  std::set<std::tuple<int, int, int> > m_unheardLinks;
  // Keys of the objects whose notifyAdded is held: one that goes before it is told is heard of by nobody.
  std::set<int> m_unheardAdded;
  // The listeners that heard of an object whose addition reached only some, a failing listener
  // having cut its telling short (or dropped it with the notices after it); the others hear
  // nothing of it, its removal included.
  std::map<int, std::set<Id<ConstraintEngineListener> > > m_partlyHeard;
  // Keys of the constraints whose violation was told (to whoever listened) and not yet withdrawn:
  // a constraint removed while its violation is still held is heard removed without a withdrawal.
  std::set<int> m_heardViolated;
  Telling* m_addTelling = nullptr;
  Telling* m_violationTelling = nullptr;
  ConstraintSet m_redundantConstraints;
  std::unique_ptr<ViolationMgr> m_violationMgr;
  bool m_autoPropagate;
  Id<CESchema> m_schema;
};

/// A public call's passage through its engine's gate: admitted when made (refused, it throws), it
/// returns when destroyed, the outermost call then starting the run an admitted deed owes.
class EngineCall {
public:
  /// Admits the call on `engine`, which must outlive it.
  EngineCall(const Id<ConstraintEngine>& engine, ConstraintEngine::Deed deed, int subject = 0)
      : m_engine(engine->admit(deed, subject) ? engine.operator->() : nullptr) {
    enter();
  }
  /// The call returns: the outermost starts the owed run, then lets a failure leave (unless an
  /// error is leaving already or a destructor runs: it is printed).
  ~EngineCall() noexcept(false) {
    if (m_engine != nullptr)
      m_engine->leaveCall();
  }
  EngineCall(const EngineCall&) = delete;
  EngineCall& operator=(const EngineCall&) = delete;
  /// Whether the call was admitted.
  explicit operator bool() const { return m_engine != nullptr; }

private:
  void enter() {
    if (m_engine != nullptr) {
      ++m_engine->m_callCount;
      ++m_engine->m_scopeDepth;
    }
  }
  ConstraintEngine* m_engine;
};

/// Brackets the switching of a variable or constraint on its engine (see beginSwitching()).
class SwitchingBracket {
public:
  /// Begins the bracket for the object keyed `key`; `engine` must outlive it.
  SwitchingBracket(ConstraintEngine& engine, int key) : m_engine(engine) { m_engine.beginSwitching(key); }
  /// Ends it.
  ~SwitchingBracket() { m_engine.endSwitching(); }
  SwitchingBracket(const SwitchingBracket&) = delete;
  SwitchingBracket& operator=(const SwitchingBracket&) = delete;

private:
  ConstraintEngine& m_engine;
};

/// The engine's own handle object when `engine` names a live engine, else `engine` itself.
const Id<ConstraintEngine>& ownHandleOf(const Id<ConstraintEngine>& engine);

/// Whether every variable is active; stops at the first inactive one.
bool allActiveVariables(const std::vector<Id<ConstrainedVariable> >& variables);

template <class F>
void ConstrainedVariable::heedListener(int key, const F& f) {
  if (m_constraintEngine.isValid())
    m_constraintEngine->heedTold(key, f);
  else
    f();
}

/// The name text of a variable without a name.
const char*& g_noVarName();

} // namespace KALDEN

#endif
