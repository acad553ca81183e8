#ifndef KALDEN_TEST_SUPPORT_OPERATIONSESSION_HH
#define KALDEN_TEST_SUPPORT_OPERATIONSESSION_HH

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
#include "Utils/Error.hh"
#include "Utils/base/Id.hh"
#include "support/ConstraintCatalogue.hh"
#include "support/DeletingListener.hh"
#include "support/ListenerSlots.hh"
#include "support/MirrorListener.hh"
#include "support/NetworkSnapshot.hh"
#include "support/OperationSequence.hh"

#include <algorithm>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace KALDEN {

/// The domains a session draws: a VariableKind and values (an interval's bounds, else its members).
class DrawnDomain {
public:
  DrawnDomain() = delete;

  /// Values are drawn from LEAST..GREATEST: small enough for brute force over a whole network.
  static const int LEAST = -3;
  /// See LEAST.
  static const int GREATEST = 3;

  /// The engine domain drawn.
  static std::unique_ptr<AbstractDomain> make(int kind, const std::vector<int>& values);
  /// The values the drawn domain holds, as the client means it.
  static std::set<int> members(int kind, const std::vector<int>& values);
  /// The values an engine domain holds within a margin around the drawn range (a string
  /// enumeration: the values its labels stand for, open or closed).
  static std::set<int> membersOf(const AbstractDomain& domain);
  /// Whether the kind holds strings.
  static bool labels(int kind) { return (static_cast<unsigned int>(kind) & KIND_LABELS) != 0; }
  /// The engine value a drawn value stands for in a variable of the kind: the key of the label
  /// "s<v>" for strings, else v.
  static double valueOf(int kind, int v);
  /// The drawn value an engine value of a variable of the kind stands for.
  static int drawnOf(int kind, double value);
  /// "{a, b, ...}".
  static std::string text(const std::set<int>& values);
  /// "interval", "enum", "bool", "real", "open", "string" or "open string".
  static std::string kindName(int kind);
  /// A new variable of the kind over the base domain, through the engine by type name or by class.
  static Id<ConstrainedVariable> newVariable(const Id<ConstraintEngine>& engine, int kind, const AbstractDomain& base,
                                             bool byName, const std::string& name);
};

/// What went wrong: the category keeps a failure's kind while its replay is shortened.
struct SessionFailure {
  std::string category;
  std::string detail;
  bool any() const { return !category.empty(); }
};

/// The model's record of a variable: what the client asked of it.
struct ModelVariable {
  Id<ConstrainedVariable> id; ///< the engine's variable
  int kind = KIND_INTERVAL;   ///< a VariableKind, as created
  bool byName = false;        ///< created through the engine by type name, else by class
  bool open = false;          ///< its base domain still takes insertions
  int closedBefore = -1;      ///< once the client closed it: the number the client's next constraint got
  std::set<int> base;         ///< the values the client left in its base domain
  bool specified = false;     ///< whether the client specified it
  int value = 0;              ///< the specified value
  /// Ten-millionths the engine's specified value lies beside `value`'s (less than the tolerance):
  /// no integer solution reads such a value.
  int hair = 0;
  int deactivations = 0;      ///< the client's outstanding deactivations
  bool alive = true;          ///< false once deleted

  /// The kind it has now: an enumeration is open or closed as the client last left it.
  int kindNow() const {
    if (DrawnDomain::labels(kind))
      return open ? static_cast<int>(KIND_STRING_OPEN) : static_cast<int>(KIND_STRING);
    if (kind != KIND_OPEN && kind != KIND_ENUMERATION)
      return kind;
    return open ? static_cast<int>(KIND_OPEN) : static_cast<int>(KIND_ENUMERATION);
  }
  /// The engine value a drawn value stands for in it (see DrawnDomain::valueOf).
  double valueOf(int v) const { return DrawnDomain::valueOf(kind, v); }

  /// The values a solution may give it.
  std::set<int> allowed() const {
    std::set<int> result;
    for (int v : base)
      if (!specified || (v == value && hair == 0))
        result.insert(v);
    return result;
  }
};

/// The model's record of a constraint.
struct ModelConstraint {
  Id<Constraint> id;      ///< the engine's constraint
  int entry = 0;          ///< its catalogue index
  int variant = 0;        ///< 0 when built by class, n when by its n-th registered name
  bool equality = false;  ///< built by class on propagator "Equal"
  std::vector<int> scope; ///< its variables' creation numbers
  std::vector<int> data;  ///< its own data (a unary source)
  int deactivations = 0;  ///< the client's outstanding deactivations
  bool alive = true;      ///< false once deleted, by the client or with a variable
  /// The engine constraints its creation added, in order: itself, and a composite's or a
  /// name's members, any of which the engine may set aside as violated.
  std::vector<Id<Constraint> > members;
};

/**
 * An engine on a schema that knows "int", "float", "bool" and every
 * catalogue name, with propagators "Default" and "Equal", beside the model of
 * what the client asked. Every propagation is held to the model as it
 * happens (see OperationSequence). Destroying it tears the engine down as the
 * host does.
 */
class OperationSession {
public:
  /// The engine listeners a session registers.
  static const std::size_t LISTENERS = 6;

  /// An engine with both propagators on a schema that knows every catalogue name, its listeners
  /// registered and lying as the layout draws them.
  explicit OperationSession(const OperationSequence::Layout& layout = OperationSequence::Layout());
  /// Tears the engine down as the host does.
  ~OperationSession();
  OperationSession(const OperationSession&) = delete;
  OperationSession& operator=(const OperationSession&) = delete;

  /// Runs the operation when it is legal in the current state and checks what it left; false when it was skipped.
  bool apply(const OperationSequence::Operation& op);

  /// The first failure found, if any.
  const SessionFailure& failure() const { return m_failure; }
  /// Records a failure unless one is recorded already.
  void fail(const std::string& category, const std::string& detail) {
    if (!m_failure.any())
      m_failure = SessionFailure{category, detail};
  }
  /// What each listener heard so far, in the order they registered.
  std::vector<const Transcript*> transcripts() const;
  /// The listener registered at `rank` (from 0): "session", "counter", "deleter", "mirror", "late deleter" or "late mirror".
  std::string listenerName(std::size_t rank) const;
  /// How the checked propagations answered so far.
  const OperationSequence::Tally& tally() const { return m_tally; }

  /// The schema the engine runs on.
  const Id<CESchema>& schema() const { return m_schema->getId(); }
  /// The variables by creation number.
  const std::map<int, ModelVariable>& variables() const { return m_variables; }
  /// The constraints by creation number.
  const std::map<int, ModelConstraint>& constraints() const { return m_constraints; }
  /// Whether the variable exists and is not deleted.
  bool liveVariable(int v) const { return m_variables.count(v) != 0 && m_variables.at(v).alive; }
  /// Whether the constraint exists and is not deleted.
  bool liveConstraint(int c) const { return m_constraints.count(c) != 0 && m_constraints.at(c).alive; }
  /// Whether the variable is live and the client has not switched it off.
  bool activeVariable(int v) const { return liveVariable(v) && m_variables.at(v).deactivations == 0; }
  /// Whether the constraint constrains: live, not switched off, and every variable of it active.
  bool inEffect(const ModelConstraint& c) const {
    if (!c.alive || c.deactivations != 0)
      return false;
    for (int v : c.scope)
      if (m_variables.at(v).deactivations != 0)
        return false;
    return true;
  }

  /// The positions in c.members of those the engine holds violated (and so set aside); none once c is deleted.
  std::vector<std::size_t> violatedMembers(const ModelConstraint& c) const {
    std::vector<std::size_t> result;
    for (std::size_t i = 0; c.alive && i < c.members.size(); ++i)
      if (c.members[i].isValid() && m_engine->isViolated(c.members[i]))
        result.push_back(i);
    return result;
  }
  /// Whether the engine holds the live constraint, or a member of it, violated.
  bool heldViolated(const ModelConstraint& c) const { return !violatedMembers(c).empty(); }

  /// Whether the variable may stand at this position of a constraint of the entry, after the
  /// variables `before` at the positions before it.
  bool fits(int v, const ConstraintEntry& entry, unsigned int position, const std::vector<int>& before = {}) const {
    // A constraint over an inactive variable starts inactive.
    if (!liveVariable(v))
      return false;
    const auto at = [&entry](unsigned int i) {
      return entry.position ? entry.position(i) : ConstraintEntry::Position();
    };
    const ConstraintEntry::Position p = at(position);
    const ModelVariable& var = m_variables.at(v);
    if ((p.kinds & static_cast<unsigned int>(var.kindNow())) == 0)
      return false;
    // Strings compare with strings only: at every position that takes them, or at none.
    for (unsigned int i = 0; i < before.size() && (p.kinds & KIND_LABELS) != 0; ++i)
      if ((at(i).kinds & KIND_LABELS) != 0 && m_variables.count(before[i]) != 0 &&
          DrawnDomain::labels(m_variables.at(before[i]).kind) != DrawnDomain::labels(var.kind))
        return false;
    // A real interval narrower than the tolerance is a singleton only within it, and holds more than one value.
    const AbstractDomain& base = var.id->baseDomain();
    return !p.fixed || (var.base.size() == 1 && base.isSingleton() &&
                        (!base.isInterval() || base.getLowerBound() == base.getUpperBound()));
  }

  /// Whether the client may open the variable: a closed enumeration whose every constraint takes it open.
  bool mayOpen(int v) const;
  /// Whether the switching operation is legal on the target and keeps it at most two deep; true for other types.
  bool maySwitch(OperationSequence::Type type, int target) const;

  /// Whether the engine is inside a propagation run.
  bool propagating() const { return m_engine->isPropagating(); }
  /// The creation number of the live variable with this handle; -1 when the session has none.
  int variableNumber(const Id<ConstrainedVariable>& variable) const;
  /// The creation number of the live constraint that is this one or holds it as a member; -1 when none.
  int constraintNumber(const Id<Constraint>& constraint) const;
  /// Deletes (or discards) the live variable, and so its constraints; the model forgets them first.
  void dropVariable(int v, bool discard);
  /// Deletes (or discards) the live constraint; the model forgets it first.
  void dropConstraint(int c, bool discard);
  /// Deletes the live constraint through the engine, which propagates at once when auto-propagating.
  void deleteThroughEngine(int c) {
    m_constraints.at(c).alive = false;
    m_engine->deleteConstraint(m_constraints.at(c).id);
  }
  /// Resets the live variable: the client no longer specifies it.
  void resetVariable(int v) {
    m_variables.at(v).specified = false;
    m_variables.at(v).id->reset();
  }
  /// The variable a SPECIFY operation is specifying, whose record it sets once the call returns; -1 when none.
  int specifying() const { return m_specifying; }
  /// From a listener inside a run: makes a call the engine refuses there, held to a snapshot.
  void refuseDuringRun(int choice);
  /// From a listener (inside a run, told of a relaxation or of an unlink): specifies an active
  /// variable the choice picks (or `only`) to a value of its base (one its closed current domain
  /// lacks, when `lacking`), and records it; nothing when none is free to specify.
  void specifyDuringRun(int choice, bool lacking = false, int only = -1);
  /// From a variable's listener told of an unlink: acts on the variable numbered `v` (-1 when the
  /// session has none) or on another constraint, as the choice says (see UnlinkActor).
  void actOnUnlink(int v, int choice);
  /// From a listener told a run failed: resets every live variable whose closed domain emptied.
  void resetEmptied();
  /// From a listener told of a removal (inside a destructor or not; the refusal is thrown to it):
  /// makes a call the engine refuses, held to a snapshot; false when it found none to make.
  bool refuseWhileRemoved(int choice);
  /// Whether a variable or constraint is being made with new (its constructor may be telling listeners).
  bool isMadeWithNewNow() const { return m_makingWithNew; }
  /// Whether the variable is the one being made by type name: a listener told of its making may delete it.
  bool isMadeByName(const Id<ConstrainedVariable>& variable) const {
    return m_makingByName && variable->getName().toString() == m_madeName;
  }
  /// From a listener: deletes (or discards) the variable being made by name, whose creation is then refused.
  void dropMade(const Id<ConstrainedVariable>& variable, bool discard);
  /// Whether the creation under way is taken back should a listener fail.
  bool mayFailCreation() const { return m_takingBack; }
  /// Whether a listener may fail at any notice now: inside a propagate() operation.
  bool mayFailAnywhere() const { return m_propagateOperation; }
  /// From a listener told of an addition: makes a constraint by one of its names over live
  /// variables the choice picks, and records it; nothing when they do not fit.
  void makeFromListener(int choice);

private:
  // Variables and constraints joined, directly or not, by the constraints of a network.
  struct Part {
    std::vector<int> variables;
    std::vector<int> constraints;
  };

  bool perform(const OperationSequence::Operation& op);
  // After every operation: the mirroring listener heard the protocol kept, and pictures the engine's network.
  void checkMirror(const std::string& what);
  bool createVariable(const OperationSequence::Operation& op);
  bool createConstraint(const OperationSequence::Operation& op);
  bool changeDynamicDomain(const OperationSequence::Operation& op);
  // A REMOVE_VALUE operation on an interval: removes an end (see the source).
  bool removeEnd(const OperationSequence::Operation& op);
  // After every operation: each variable valid, within its base, and a specified one at its value or empty.
  void checkDynamicDomains(const std::string& what);
  // Whether both are real intervals whose bounds agree within the tolerance (see matchesFreshEngine).
  static bool sameRealBounds(const AbstractDomain& a, const AbstractDomain& b);
  bool setViolationLimit(const OperationSequence::Operation& op);
  // A REFUSED_CALL operation: false when the call would not surely be refused now.
  bool refuseCall(const OperationSequence::Operation& op);
  bool refuseCreation(const OperationSequence::Operation& op);
  // Refuses the deletion, discard or last hold of a composite's part listed by the engine; false when none.
  bool refusePartDeletion(int choice);
  // Between purgeStart() and purgeEnd(): a part's deletion refused, then every constraint and
  // variable listed deleted or discarded; the engine torn down after.
  void clearInTearDown();
  // A DELETE_AS_LISTED call: refused for a composite's part, else taken as the client's deletion.
  bool deleteAsListed(const OperationSequence::Operation& op);
  // Makes the call and, when it is refused, holds the network to its state before; false when taken.
  // `madeWithNew`: see NetworkSnapshot::differenceFrom.
  bool expectRefused(const std::string& what, const std::function<void()>& call, bool madeWithNew = false);
  void propagated(bool answer, const std::string& what);
  void afterAutoPropagation(const std::string& what) {
    if (!m_engine->getAutoPropagation())
      return;
    // A run that failed, its emptied domains refilled by a listener told so, leaves the refill
    // to the next propagate(): nothing is proven inconsistent, and the work is pending.
    const bool refilledAfterFailure = m_emptiedRefilled && !m_engine->hasEmptyVariables() && m_engine->pending();
    propagated(!m_engine->hasEmptyVariables() && !refilledAfterFailure, what + " with auto-propagation");
  }
  // The constraints the engine's answer is judged against (see judgedNetwork in the source).
  std::set<int> judgedNetwork(bool answer) const;
  // The same over every live constraint, switched off or not: what bounds the values kept (see
  // SwitchingChecks.cc).
  std::set<int> liveNetwork(bool answer) const;
  // Whether nothing of the part is switched off: its fixpoint is then a fresh engine's.
  bool allOn(const Part& part) const;
  // After every operation: who is on and off, and, unless it propagated, the values kept.
  void checkSwitching(const std::string& what, bool propagated);
  // After every operation: the next propagate() answers as the engine forecast, and a second one
  // alike, changing nothing (see the source). `answered`: the operation's own propagate(), if any.
  void checkNextRuns(const std::string& what, const bool* answered);
  // Counts the switching operation in the tally.
  void countSwitching(const OperationSequence::Operation& op);
  bool keepsActivity(const std::string& what);
  bool keepsMembersActivity(int number, const ModelConstraint& c, const std::string& what);
  // The independent parts of the network: variables joined by the given constraints.
  std::vector<Part> independentParts(const std::set<int>& network) const;
  // Brute force over one independent part of the network: whether it has a solution, and the
  // values its solutions use.
  bool solve(const Part& part, std::map<int, std::set<int> >& support) const;

  // The checks made after each propagation; each records what failed and answers whether it held.
  bool keepsSolutions(const std::vector<Part>& parts, bool answer, const std::string& what);
  bool countsViolations(const std::string& what);
  bool keepsBrokenConstraintsSeen(const std::string& what);
  bool leavesNoEmptyDomain(const std::string& what);
  bool failsOverAnActiveVariable(const std::string& what);
  // An active variable whose closed current domain is empty; none when there is none.
  Id<ConstrainedVariable> activeEmptied() const;
  bool leavesNoPendingWork(const std::string& what);
  bool leavesNoDecidedViolation(const std::set<int>& network, const std::string& what);
  bool matchesFreshEngine(const std::vector<Part>& parts, const std::string& what);
  bool failsAsFreshEngine(const std::vector<Part>& parts, const std::string& what);
  // The parts a fresh engine is held to, and (in `allOnToo`) which of them have nothing switched off.
  std::vector<const Part*> freshlyComparable(const std::vector<Part>& parts, std::vector<bool>& allOnToo) const;
  // Whether the live domain lies within the fresh engine's (see matchesFreshEngine).
  static bool withinFresh(const AbstractDomain& live, const AbstractDomain& again);
  // Whether decided values (closed singletons, integers) of its whole scope break the constraint; `shown` names them.
  bool brokenByDecidedValues(const ModelConstraint& c, std::string& shown) const;

  // Makes the listeners in the order and the slots the layout draws.
  void makeListeners(const OperationSequence::Layout& layout);
  // Between operations, padding of drawn sizes (some of it freed again), so that the objects the
  // session makes lie elsewhere under another layout.
  void pad();

  std::unique_ptr<CESchema> m_schema;
  std::unique_ptr<ConstraintEngine> m_engine;
  // The listeners lie in these slots; each writes what it hears into its transcript, by kind.
  Slots<LISTENERS> m_slots;
  std::vector<Transcript> m_transcripts;
  std::vector<int> m_registered; // the kinds of listener in the order they registered
  InSlot<ConstraintEngineListener> m_listener;
  InSlot<HeardCounter> m_heard;         // what every listener heard, for the snapshots
  InSlot<DeletingListener> m_deleter;   // armed per operation
  InSlot<MirrorListener> m_mirror;      // the network as the notices alone draw it
  // A second deleting listener, and a second mirror: the listeners register in a drawn order,
  // so a mirror sometimes hears what a deleter's deeds overtake, sometimes not.
  struct LateListeners {
    InSlot<DeletingListener> deleterInSlot;
    InSlot<MirrorListener> mirrorInSlot;
    DeletingListener& deleter;
    MirrorListener& mirror;
  };
  std::unique_ptr<LateListeners> m_late;
  // A listener on each variable the session made, armed per operation.
  UnlinkActor::Arming m_unlinkArming;
  std::vector<std::unique_ptr<UnlinkActor> > m_unlinkActors;
  bool m_pads;                                  // whether the layout asks for padding
  std::mt19937 m_padDraw;                       // draws the slots and the padding
  std::vector<std::unique_ptr<char[]> > m_padding;
  int m_specifying = -1;                         // see specifying()
  // While a variable or constraint is made, a snapshot could reach it half-built.
  bool m_creating = false;
  std::set<int> m_besideHair;           // the variables of parts holding a value specified a hair beside an integer
  Id<Constraint> m_lastSetAside;        // the last constraint the engine marked violated during the current operation
  std::vector<Id<Constraint> > m_added; // the constraints the engine added during the current operation
  std::map<int, ModelVariable> m_variables;
  std::map<int, ModelConstraint> m_constraints;
  SessionFailure m_failure;
  OperationSequence::Tally m_tally;

  // A variable is being made by type name; the listener deleted or discarded it meanwhile.
  bool m_makingByName = false;
  bool m_makingWithNew = false;     // see isMadeWithNewNow()
  std::string m_madeName;
  bool m_madeDropped = false;
  // A creation a listener's failure takes back is under way; the constraints listeners made
  // during the operation.
  bool m_takingBack = false;
  bool m_emptiedRefilled = false;    // a listener reset what a failed run emptied, in this operation
  bool m_propagateOperation = false; // a listener may fail at any notice (see mayFailAnywhere())
  int m_answered = -1;               // what the operation's own propagate() answered (1 true, 0 false)
  std::vector<Id<Constraint> > m_listenerMade;
  int m_listenerMadeCount = 0;
  // Listeners' constraints are numbered from here, after every number the client's may get.
  static constexpr int LISTENER_MADE_FIRST = 100000;
  // The number the client's next constraint gets (a listener's count for nothing).
  int nextClientConstraint() const;
  // Runs a creation; a listener's failure must take it back, leaving the model as it was.
  // propagate(), through a listener's failure at any notice: the answer of the call after it.
  bool propagateThroughFailure(const std::string& what);
  bool createTakenBack(const OperationSequence::Operation& op, bool (OperationSession::*create)(const OperationSequence::Operation&));
  // Whether the constraint is, or is part of, one a listener made during the operation.
  bool madeByListener(const Id<Constraint>& constraint) const;
};

} // namespace KALDEN

#endif
