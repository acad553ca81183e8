#ifndef KALDEN_CONSTRAINTENGINE_BASE_CONSTRAINT_HH
#define KALDEN_CONSTRAINTENGINE_BASE_CONSTRAINT_HH

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "Utils/Entity.hh"
#include "Utils/LabelStr.hh"
#include "Utils/base/Id.hh"
#include "Utils/base/PSEntity.hh"
#include "Utils/base/PSList.hh"

#include <string>
#include <vector>

namespace KALDEN {

class ConstraintEngine;
class Propagator;

/**
 * The public interface of a constraint, for clients that should not see the
 * engine's internals. Every call reaches the Constraint operation of the same
 * name; deleting through it destroys the whole constraint.
 */
class PSConstraint : public virtual PSEntity {
public:
  PSConstraint() = default;
  ~PSConstraint() override = default;

  /// Whether no deactivation is outstanding.
  virtual bool isActive() const = 0;
  /// One more deactivation.
  virtual void deactivate() = 0;
  /// One deactivation less.
  virtual void undoDeactivation() = 0;
  /// 1.0 while the engine holds the constraint violated, else 0.0.
  virtual double getViolation() const = 0;
  /// The constraint's name and its scope, as a violation explanation.
  virtual std::string getViolationExpl() const = 0;
  /// The scope variables, one entry per position.
  virtual PSList<PSVariable*> getVariables() const = 0;
};

/**
 * The abstract base of every constraint: a keyed entity with a name, an
 * ordered scope of variables (a variable may stand at several positions), the
 * engine it belongs to and the propagator that engine assigned. The
 * constructor registers the constraint with its engine and links it to every
 * scope variable; its discard undoes both. Concrete constraints implement
 * handleExecute().
 *
 * The constraint keeps a reference to the engine's own handle object and
 * copies of the variable handles; the engine and the variables outlive it or
 * discard it (a discarded variable discards its constraints, the engine's
 * purge discards everything).
 */
class Constraint : public Entity, public virtual PSConstraint {
public:
  /// Discards the constraint unless that happened already, then removes its handle.
  ~Constraint() override;

  // Identity, scope and printing.

  /// The constraint's own handle.
  const Id<Constraint>& getId() const { return m_id; }
  /// The constraint's name (the registered type name for a constraint created by name).
  const LabelStr& getName() const override { return m_name; }
  /// The propagator the engine assigned, empty until then.
  const Id<Propagator>& getPropagator() const { return m_propagator; }
  /// The scope, in argument order.
  const std::vector<Id<ConstrainedVariable> >& getScope() const { return m_variables; }
  /// The label of the constraint's creator ("UNKNOWN").
  const LabelStr& getCreatedBy() const { return m_createdBy; }
  /// The scope variables as public interfaces, one entry per position.
  PSList<PSVariable*> getVariables() const override;
  /// Whether some scope position holds the variable.
  bool isVariableOf(const Id<ConstrainedVariable>& variable);
  /// A scope variable's writable current domain.
  static AbstractDomain& getCurrentDomain(const Id<ConstrainedVariable>& var);
  /// Called once by the engine while registering the constraint.
  void setPropagator(const Id<Propagator>& propagator);
  /// Whether the scope is non-empty and the propagator and engine handles are valid.
  bool isValid() const;
  /// "CONSTRAINT".
  const std::string& getEntityType() const override;
  /// The label "Constraint".
  static const LabelStr& entityTypeName();
  /// entityTypeName().
  const LabelStr& entityType() const override;
  /// The entity text, then one line per scope position with the variable's long text.
  std::string toString() const override;
  /// Unlinks the constraint from its scope (unless purging) and removes it from the engine.
  void handleDiscard() override;
  /// The outermost constraint that this one is a part of (a composite's member) and that has not
  /// gone, while it is being discarded too; the empty handle when none: deleteConstraint refuses
  /// the part while there is one.
  Id<Constraint> standingOwner() const { return ownerOf(m_ownerKey, false); }
  /// The outermost constraint that the entity keyed `ownerKey` is, or is a part of, and that
  /// stands (or, unless `standing`, has not yet been freed); the empty handle when none.
  static Id<Constraint> ownerOf(int ownerKey, bool standing);
  /// Refuses the discard of a part of a standing constraint, naming the constraint to delete instead.
  bool refusesDeletion() const override { return refusesPartDeletion(*this, m_ownerKey, true); }
  /// The refusal of refusesDeletion() for a part, constraint or variable, of the constraint keyed
  /// `ownerKey`; unless `standing`, also while that constraint is being discarded (a part held by
  /// value must not be freed on its own). The engine's purge discards owners first.
  static bool refusesPartDeletion(const Entity& part, int ownerKey, bool standing);

  // Activity and redundancy.

  /// Whether no deactivation is outstanding.
  bool isActive() const final { return m_deactivationRefCount == 0; }
  /// The number of outstanding deactivations.
  unsigned int deactivationCount() const { return m_deactivationRefCount; }
  /// One more deactivation, the client's; the first tells the engine.
  void deactivate() override;
  /// Undoes a deactivation of the client's, never one the engine made (a scope variable or the
  /// owner switched off, a violation, retirement); the last tells the engine.
  void undoDeactivation() override;
  /// One more deactivation, the engine's own (a scope variable or the owner switched off, a violation, retirement).
  void deactivateByEngine();
  /// Undoes a deactivation the engine made.
  void undoDeactivationByEngine();
  /// Whether the redundancy test has held (final while every scope base domain stays closed).
  bool isRedundant() const { return m_isRedundant; }
  /// Whether the engine has retired the redundant constraint after it ran: it stays inactive until a scope base
  /// domain opens.
  bool isRetired() const { return m_isRetired; }
  /// A scope variable's base domain shrank: runs the redundancy test unless the constraint is redundant already.
  virtual void notifyBaseDomainRestricted(const Id<ConstrainedVariable>& variable);
  /// A scope variable's base domain opened: the constraint is no longer redundant, and constrains again if retired.
  void notifyBaseDomainOpened();
  /// A scope variable's value moved within the tolerance: retired, the constraint runs over the new value
  /// and, still redundant, retires again after the run.
  void notifyValueMoved();
  /// Whether the constraint can no longer narrow anything: every scope base domain is a singleton.
  virtual bool testIsRedundant(const Id<ConstrainedVariable>& variable) const;
  /// Whether the constraint judges the base domain of the variable at a scope position for as long
  /// as it stands: a change of that base must first pass admitsBase(). False here.
  virtual bool judgesBase(int argIndex) const;
  /// Whether the variable at a scope position may take `base` as its base domain while the
  /// constraint stands; a refusal is a failed check. True here.
  virtual bool admitsBase(int argIndex, const AbstractDomain& base) const;

  // Execution.

  /// The most rounds of its rule one execution runs: a last guard against a rule that keeps
  /// removing a little each round, which then stops short of its fixpoint (soundly).
  static constexpr unsigned int MAX_ROUNDS = 32;
  /// Runs handleExecute() with every scope variable marked as propagated by this constraint.
  void execute();
  /// Runs handleExecute(variable, argIndex, changeType) with the scope marked likewise.
  void execute(const Id<ConstrainedVariable>& variable, int argIndex, const DomainListener::ChangeType& changeType);
  /// The constraint's propagation over its whole scope.
  virtual void handleExecute() = 0;
  /// Whether one run of handleExecute() over distinct variables leaves nothing for a second run
  /// to narrow; false here, so the rule is repeated while it removes values. Asked once.
  virtual bool isIdempotent() const;
  /// The constraint's propagation after one change of one scope variable; handleExecute() here.
  virtual void handleExecute(const Id<ConstrainedVariable>& variable, int argIndex,
                             const DomainListener::ChangeType& changeType);
  /// Whether the constraint need not react to this change of the variable at this position; false here.
  virtual bool canIgnore(const Id<ConstrainedVariable>& variable, int argIndex,
                         const DomainListener::ChangeType& changeType);
  /// The variables the constraint may change when the given one changes; the whole scope here.
  virtual const std::vector<Id<ConstrainedVariable> >&
  getModifiedVariables(const Id<ConstrainedVariable>& variable) const;

  // Violation.

  /// Hands the constraint to its engine's violation manager as violated.
  void notifyViolated();
  /// Withdraws the constraint from its engine's violation manager.
  void notifyNoLongerViolated();
  /// Takes what a subclass needs from a constraint it stands in for; only checks the handle here.
  virtual void setSource(const Id<Constraint>& sourceConstraint);
  /// 1.0 while the engine holds the constraint violated, else 0.0.
  double getViolation() const override;
  /// The name, then the scope variables in parentheses.
  std::string getViolationExpl() const override;

protected:
  /// Its engine: a discard() or decRefCount() of it is one engine call.
  CallCounter* callCounter() const override;
  /// Builds, registers and links the constraint. The whole scope is checked before anything is
  /// registered. Listeners hear of it once it is linked or, `madeUntilMembersBuilt`, at made().
  Constraint(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& constraintEngine,
             const std::vector<Id<ConstrainedVariable> >& scope, bool madeUntilMembersBuilt = false);
  /// Ends the making of a constraint built with `madeUntilMembersBuilt`: listeners hear of it now,
  /// and one that a listener discarded (or whose variable it deleted) meanwhile is refused.
  void made();
  /// From a destructor: its class's constructor refused it, and it narrowed nothing, so its
  /// removal gives nothing back (it counts as retired).
  void countRefused() {
    ++m_deactivationRefCount;
    m_isRetired = true;
  }

  /// Makes a constraint or variable this one built a part of it: from then on, while this one
  /// stands, deleting or discarding the part on its own is refused.
  void adopt(Constraint& part) const { part.m_ownerKey = getKey(); }
  /// As adopt(Constraint&), for a variable this one built.
  void adopt(ConstrainedVariable& part) const;

  /// Hook: the constraint has just become active again.
  virtual void handleActivate();
  /// Hook: the constraint has just become inactive.
  virtual void handleDeactivate();
  /// Whether the constraint is off for some reason besides its retirement: a client, a scope
  /// variable or a violation. What it owns must then be off as well.
  bool isSwitchedOff() const { return m_deactivationRefCount > (m_isRetired ? 1u : 0u); }
  /// Hook: isSwitchedOff() may have changed (the count or the retirement moved). A constraint that
  /// owns others switches them to match; nothing here.
  virtual void handleSwitching();
  /// From handleExecute(): this round may have left its rule more to remove (say, an integer
  /// bound rounded inward), so the execution runs another one, within MAX_ROUNDS.
  void requestRound() { m_roundRequested = true; }

  // The narrow fields first: they fit in the padding at the end of the Entity part.
  bool m_isRedundant;

private:
  // Whether the default propagator's agenda holds the constraint: that agenda's alone.
  friend class ConstraintAgenda;
  unsigned char m_agendaMark = 0;
  // Set by the engine alone, when it deactivates the constraint as redundant.
  friend class ConstraintEngine;
  bool m_isRetired = false;
  // How many runs of the rule one execution takes; decided at the first execution.
  enum Rounds : unsigned char { ROUNDS_UNDECIDED, ROUNDS_ONE, ROUNDS_REPEATED };
  unsigned char m_rounds = ROUNDS_UNDECIDED;
  // Set by requestRound() during a round.
  bool m_roundRequested = false;

protected:
  unsigned int m_deactivationRefCount;

private:
  // The deactivations the client made and has not undone (the rest are the engine's).
  unsigned int m_clientDeactivations = 0;
  // deactivate() or undoDeactivation() once admitted, by the client or not.
  void switchOff(bool byClient);
  void switchOn(bool byClient);
  // Whether the engine holds this constraint, or one it is a part of, violated.
  bool setAsideWithOwner() const;
  // Brings a retired constraint back: it constrains again, and is told to its engine as activated.
  void endRetirement();

private:
  // The key of the constraint this one is a part of, 0 when none; it fits in the padding here.
  int m_ownerKey = 0;

protected:
  LabelStr m_name;
  const Id<ConstraintEngine>&
      m_constraintEngine; ///< the engine's own handle object (the caller's handle while a refused construction fails)
  std::vector<Id<ConstrainedVariable> > m_variables;
  Id<Constraint> m_id;
  Id<Propagator> m_propagator;
  LabelStr m_createdBy;

private:
  // Marks the scope as propagated by the constraint while it runs.
  class PropagatingMark;

  // Takes back what the constructor registered when a later step of it fails.
  void undoRegistration(unsigned int linkedPositions);
  // Refuses the construction under way once the constraint, or the given variable of its
  // scope, was deleted or discarded by someone told of it.
  void checkScopeStands(const Id<ConstrainedVariable>& variable) const;
  // Runs the rule once through `firstRun`, then again as m_rounds says (see execute()).
  template <class FirstRun>
  void runRule(const FirstRun& firstRun);
  // Decides m_rounds from the class's answer, the scope and its domains.
  Rounds decideRounds() const;
  // Whether no variable stands at two positions of the scope.
  bool hasDistinctVariables() const;
  // Runs the rule again while its last round removed values or asked for another, up to
  // MAX_ROUNDS (see execute()).
  void repeatRounds(unsigned long narrowingsBefore);
};

/// The scope (arg1).
std::vector<Id<ConstrainedVariable> > makeScope(const Id<ConstrainedVariable>& arg1);
/// The scope (arg1, arg2).
std::vector<Id<ConstrainedVariable> > makeScope(const Id<ConstrainedVariable>& arg1,
                                                const Id<ConstrainedVariable>& arg2);
/// The scope of three variables in argument order.
std::vector<Id<ConstrainedVariable> > makeScope(const Id<ConstrainedVariable>& arg1,
                                                const Id<ConstrainedVariable>& arg2,
                                                const Id<ConstrainedVariable>& arg3);
/// The scope of four variables in argument order.
std::vector<Id<ConstrainedVariable> > makeScope(const Id<ConstrainedVariable>& arg1,
                                                const Id<ConstrainedVariable>& arg2,
                                                const Id<ConstrainedVariable>& arg3,
                                                const Id<ConstrainedVariable>& arg4);
/// The scope of five variables in argument order.
std::vector<Id<ConstrainedVariable> >
makeScope(const Id<ConstrainedVariable>& arg1, const Id<ConstrainedVariable>& arg2, const Id<ConstrainedVariable>& arg3,
          const Id<ConstrainedVariable>& arg4, const Id<ConstrainedVariable>& arg5);
/// The scope of six variables in argument order.
std::vector<Id<ConstrainedVariable> >
makeScope(const Id<ConstrainedVariable>& arg1, const Id<ConstrainedVariable>& arg2, const Id<ConstrainedVariable>& arg3,
          const Id<ConstrainedVariable>& arg4, const Id<ConstrainedVariable>& arg5,
          const Id<ConstrainedVariable>& arg6);
/// The scope of seven variables in argument order.
std::vector<Id<ConstrainedVariable> >
makeScope(const Id<ConstrainedVariable>& arg1, const Id<ConstrainedVariable>& arg2, const Id<ConstrainedVariable>& arg3,
          const Id<ConstrainedVariable>& arg4, const Id<ConstrainedVariable>& arg5, const Id<ConstrainedVariable>& arg6,
          const Id<ConstrainedVariable>& arg7);
/// The scope of eight variables in argument order.
std::vector<Id<ConstrainedVariable> >
makeScope(const Id<ConstrainedVariable>& arg1, const Id<ConstrainedVariable>& arg2, const Id<ConstrainedVariable>& arg3,
          const Id<ConstrainedVariable>& arg4, const Id<ConstrainedVariable>& arg5, const Id<ConstrainedVariable>& arg6,
          const Id<ConstrainedVariable>& arg7, const Id<ConstrainedVariable>& arg8);
/// The scope of thirteen variables in argument order.
std::vector<Id<ConstrainedVariable> >
makeScope(const Id<ConstrainedVariable>& arg1, const Id<ConstrainedVariable>& arg2, const Id<ConstrainedVariable>& arg3,
          const Id<ConstrainedVariable>& arg4, const Id<ConstrainedVariable>& arg5, const Id<ConstrainedVariable>& arg6,
          const Id<ConstrainedVariable>& arg7, const Id<ConstrainedVariable>& arg8, const Id<ConstrainedVariable>& arg9,
          const Id<ConstrainedVariable>& arg10, const Id<ConstrainedVariable>& arg11,
          const Id<ConstrainedVariable>& arg12, const Id<ConstrainedVariable>& arg13);

} // namespace KALDEN

#endif
