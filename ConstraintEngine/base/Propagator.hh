#ifndef KALDEN_CONSTRAINTENGINE_BASE_PROPAGATOR_HH
#define KALDEN_CONSTRAINTENGINE_BASE_PROPAGATOR_HH

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "Utils/Entity.hh"
#include "Utils/LabelStr.hh"
#include "Utils/base/Id.hh"
#include "Utils/base/KeyOrderedSet.hh"
#include "Utils/base/Report.hh"

#pragma push_macro("KALDEN_SOURCE")
#undef KALDEN_SOURCE
#define KALDEN_SOURCE "ConstraintEngine/base/Propagator"

namespace KALDEN {

class ConstrainedVariable;
class Constraint;
class ConstraintEngine;

/**
 * A named scheduling strategy for the constraints assigned to it. It
 * registers with its engine when built; the engine gives it every constraint
 * created under its name, offers it the domain changes of their variables,
 * and runs it during propagation. The engine holds one reference on each of
 * its propagators and releases it when the engine is purged, which deletes a
 * heap-allocated propagator.
 *
 * A subclass that overrides execute() brings the constraint form back into
 * scope with `using Propagator::execute;`.
 *
 * The propagator keeps a reference to the engine handle object passed to its
 * constructor (normally the engine's own getId()), so that object must
 * outlive the propagator's use of its engine.
 */
class Propagator : public Entity {
public:
  /// Removes the propagator's handle; tells neither its engine nor its constraints.
  ~Propagator() override;

  /// The propagator's own handle.
  const Id<Propagator>& getId() const { return m_id; }
  /// The propagator's name, the key of the engine's registry.
  const LabelStr& getName() const override { return m_name; }
  /// The engine handle the propagator was built with.
  const Id<ConstraintEngine>& getConstraintEngine() const { return m_constraintEngine; }
  /// The constraints assigned to this propagator, in key order.
  const KeyOrderedSet<Constraint>& getConstraints() const { return m_constraints; }
  /// Whether the engine may run the propagator.
  bool isEnabled() const { return m_enabled; }
  /// Lets the engine run the propagator.
  void enable() { m_enabled = true; }
  /// Makes the engine skip the propagator; its queued work stays queued.
  void disable() { m_enabled = false; }
  /// A variable's writable current domain, without propagating first.
  static AbstractDomain& getCurrentDomain(const Id<ConstrainedVariable>& var);

  /// A domain change of `variable`, which stands at position `argIndex` of `constraint`.
  virtual void handleNotification(const Id<ConstrainedVariable>& variable, int argIndex,
                                  const Id<Constraint>& constraint, const DomainListener::ChangeType& changeType) = 0;
  /// One unit of propagation work.
  virtual void execute() = 0;
  /// Whether the propagator has work.
  virtual bool updateRequired() const = 0;
  /// A constraint was assigned to this propagator (its propagator handle is still empty).
  virtual void handleConstraintAdded(const Id<Constraint>& constraint) = 0;
  /// A constraint was taken from this propagator.
  virtual void handleConstraintRemoved(const Id<Constraint>& constraint) = 0;
  /// One of its constraints became inactive.
  virtual void handleConstraintDeactivated(const Id<Constraint>& constraint) = 0;
  /// One of its constraints became active again.
  virtual void handleConstraintActivated(const Id<Constraint>& constraint) = 0;
  /// A variable became inactive; nothing here.
  virtual void handleVariableDeactivated(const Id<ConstrainedVariable>& var);
  /// A variable became active again; nothing here.
  virtual void handleVariableActivated(const Id<ConstrainedVariable>& var);
  /// Runs one constraint through the engine, which checks that it may run and tells the listeners.
  virtual void execute(const Id<Constraint>& constraint);
  /// Hands a constraint to the engine's violation manager as violated.
  virtual void notifyConstraintViolated(Id<Constraint> constraint);
  /// Records the variable as emptied with the engine's violation manager.
  virtual void notifyVariableEmptied(Id<ConstrainedVariable> variable);

protected:
  /// Builds the propagator and registers it with the engine, which refuses to replace a namesake that holds constraints.
  Propagator(const LabelStr& name, const Id<ConstraintEngine>& constraintEngine);

private:
  // Membership is managed by the engine alone.
  friend class ConstraintEngine;

  /// Takes a constraint that is being registered; called by the engine only.
  void addConstraint(const Id<Constraint>& constraint);
  /// Gives back a constraint that is being removed; called by the engine only.
  void removeConstraint(const Id<Constraint>& constraint);

  bool m_enabled; // first: it fits in the padding at the end of the Entity part
  KeyOrderedSet<Constraint> m_constraints;
  Id<Propagator> m_id;
  LabelStr m_name;
  const Id<ConstraintEngine>& m_constraintEngine;
};

} // namespace KALDEN

#pragma pop_macro("KALDEN_SOURCE")

#endif
