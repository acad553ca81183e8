#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_EQUALITYCONSTRAINTPROPAGATOR_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_EQUALITYCONSTRAINTPROPAGATOR_HH

#include "ConstraintEngine/base/Propagator.hh"
#include "ConstraintEngine/component/EquivalenceClassCollection.hh"

#include <set>

namespace KALDEN {

/**
 * A propagator for equality constraints only. It keeps the classes of the
 * variables its active constraints equate (each constraint joins every two
 * neighbouring variables of its scope) and, when a variable of a class
 * changes, narrows the whole class to the values its members share, in one
 * go, without executing any constraint.
 *
 * Nothing builds one by default: build it on an engine under a name and
 * create equality constraints with that propagator name.
 */
class EqualityConstraintPropagator : public Propagator {
public:
  /// Registers with the engine under `name`.
  EqualityConstraintPropagator(const LabelStr& name, const Id<ConstraintEngine>& constraintEngine);
  ~EqualityConstraintPropagator() override;

  /// Queues the class of the changed variable.
  void handleNotification(const Id<ConstrainedVariable>& variable, int argIndex, const Id<Constraint>& constraint,
                          const DomainListener::ChangeType& changeType) override;
  /// Narrows every queued class (every class after a connection went) to its common domain.
  void execute() override;
  /// Whether a class is queued or every class must be narrowed, and the engine is not suspended by an emptied domain.
  bool updateRequired() const override;
  /// Joins the constraint's variables and queues their merged class.
  void handleConstraintAdded(const Id<Constraint>& constraint) override;
  /// Takes back the constraint's connections, if it has any, and relaxes the members of its class
  /// beyond its scope; with classes queued, every class is narrowed next, and the parts of a class
  /// whose narrowing stopped at an emptied member are queued.
  void handleConstraintRemoved(const Id<Constraint>& constraint) override;
  /// Takes back the constraint's connections as a removal does: an inactive equality joins nothing.
  void handleConstraintDeactivated(const Id<Constraint>& constraint) override;
  /// Joins the constraint's variables again, unless they are joined by it already.
  void handleConstraintActivated(const Id<Constraint>& constraint) override;

  /// Narrows the variables of one class, which must not be empty, to their common domain.
  void equate(const std::set<Id<ConstrainedVariable> >& scope);

private:
  // Adds one connection per neighbouring pair of distinct variables; false when there is none.
  bool connect(const Id<Constraint>& constraint);
  // Takes back what connect() added for the constraint, relaxes the members of its class beyond
  // its scope (unless it is redundant), and queues what the split leaves unnarrowed.
  void disconnect(const Id<Constraint>& constraint);

  bool m_fullReprop; // a connection went while classes were queued: narrow every class next
  bool m_active;     // execute() is running
  EquivalenceClassCollection m_eqClassCollection; // the classes of the joined variables
  std::set<int> m_eqClassAgenda;                  // keys of the classes to narrow
  std::set<Id<Constraint> > m_connected;          // constraints whose connections are in the collection
  std::set<Id<Constraint> > m_unverified;         // announced while being built: type not yet checked
};

/**
 * Narrows every closed variable of `scope` (one class) to the values the
 * class's closed current domains share; open domains, which may still gain
 * any value, are left out and left alone. Members are taken in the order
 * they were made (their keys), the same on every run: the shared domain is the
 * first closed enumeration, else the first closed domain, and takes in the
 * others in turn. When the members share no value, the shared domain and the
 * first that left nothing are emptied. A class with an emptied member is left
 * alone.
 */
void processScope(const std::set<Id<ConstrainedVariable> >& scope);

} // namespace KALDEN

#endif
