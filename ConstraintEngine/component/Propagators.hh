#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_PROPAGATORS_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_PROPAGATORS_HH

#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/Propagator.hh"
#include "ConstraintEngine/component/ConstraintAgenda.hh"

namespace KALDEN {

/**
 * The propagator of every constraint of the library. It keeps an agenda of
 * the constraints that must run because a variable of theirs changed or
 * because they were added or activated, and each execute() runs the one with
 * the lowest key through the engine. A constraint is not put back on the
 * agenda by the changes it makes itself while it runs. A run that empties a
 * domain leaves the agenda in place, the constraint whose turn it was back on
 * it (as does one whose run fails a check): it waits, reported as no work,
 * until the engine is consistent again.
 */
class DefaultPropagator : public Propagator {
public:
  using Propagator::execute;

  /// Registers with the engine under the given name, with an empty agenda.
  DefaultPropagator(const LabelStr& name, const Id<ConstraintEngine>& constraintEngine);
  ~DefaultPropagator() override;

  /// Queues the constraint, unless it is the one running now.
  void handleNotification(const Id<ConstrainedVariable>& variable, int argIndex, const Id<Constraint>& constraint,
                          const DomainListener::ChangeType& changeType) override;
  /// Takes the lowest-keyed constraint off the agenda and runs it if it is active; puts it back
  /// when the run ends with the engine proven inconsistent or fails a check.
  void execute() override;
  /// Whether the agenda holds a constraint and the engine is not suspended by an emptied domain.
  bool updateRequired() const override;
  /// Queues a new constraint, active or not.
  void handleConstraintAdded(const Id<Constraint>& constraint) override;
  /// Takes a removed constraint off the agenda.
  void handleConstraintRemoved(const Id<Constraint>& constraint) override;
  /// Takes a deactivated constraint off the agenda.
  void handleConstraintDeactivated(const Id<Constraint>& constraint) override;
  /// Queues a reactivated constraint.
  void handleConstraintActivated(const Id<Constraint>& constraint) override;

  /// Checks that every queued constraint is live and undiscarded; true (the checks report). It walks
  /// the whole agenda, so the hooks above make it only in Debug builds.
  bool isValid() const;
  /// Agenda entries visited so far by walks of the whole agenda (see ConstraintAgenda::entriesVisited).
  std::size_t agendaEntriesVisited() const { return m_agenda.entriesVisited(); }

private:
  // Puts a constraint taken off the agenda back, if it may still run.
  void keepQueued(const Id<Constraint>& constraint);

  ConstraintAgenda m_agenda;
  int m_activeConstraint;
};

} // namespace KALDEN

#endif
