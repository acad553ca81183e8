#define KALDEN_SOURCE "ConstraintEngine/component/Propagators"

// The default propagator: one constraint per turn, lowest key first.

#include "ConstraintEngine/component/Propagators.hh"

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "Utils/base/Report.hh"

namespace KALDEN {

namespace {

// Clears the key of the running constraint however its execution ends.
class ActiveConstraint {
public:
  explicit ActiveConstraint(int& key) : m_key(key) {}
  ~ActiveConstraint() { m_key = 0; }
  ActiveConstraint(const ActiveConstraint&) = delete;
  ActiveConstraint& operator=(const ActiveConstraint&) = delete;

private:
  int& m_key;
};

} // namespace

DefaultPropagator::DefaultPropagator(const LabelStr& name, const Id<ConstraintEngine>& constraintEngine)
    : Propagator(name, constraintEngine), m_activeConstraint(0) {}

DefaultPropagator::~DefaultPropagator() {}

void DefaultPropagator::handleNotification(const Id<ConstrainedVariable>& variable, int,
                                           const Id<Constraint>& constraint,
                                           const DomainListener::ChangeType& changeType) {
  KALDEN_CHECK_MSG(!constraint->isDiscarded(), constraint);
  if (constraint->getKey() == m_activeConstraint)
    return;
  KALDEN_TRACE("DefaultPropagator:handleNotification",
               "Adding to the agenda: " << constraint->getName().toString() << "(" << constraint->getKey() << ")"
                                        << " because of " << DomainListener::toString(changeType) << " change to "
                                        << variable->toString());
  m_agenda.insert(constraint);
}

void DefaultPropagator::execute() {
  KALDEN_CHECK_MSG(!m_agenda.empty(), "Should never be calling this with an empty agenda.");
  KALDEN_CHECK(!getConstraintEngine()->hasEmptyVariables());
  KALDEN_CHECK(m_activeConstraint == 0);
  const Id<Constraint> constraint = m_agenda.takeFront();
  {
    ActiveConstraint running(m_activeConstraint);
    if (constraint->isActive()) {
      m_activeConstraint = constraint->getKey();
      // Straight to the engine: the agenda holds live constraints only (removal takes them
      // off), so the handle needs no second test before the engine's own.
      try {
        getConstraintEngine()->execute(constraint);
      } catch (...) {
        // Its run failed a check: it has not run, and must not be retired as if it had.
        keepQueued(constraint);
        throw;
      }
    }
  }
  // The agenda is kept either way: what it holds must still run once the emptied domains are
  // refilled, since relaxation requeues only the constraints it reaches. So is the constraint
  // taken off it, which may have been skipped (a listener told of it emptied a domain
  // elsewhere) or cut short: running it again once refilled is sound, and dropping it would
  // let a later run retire it unrun.
  if (getConstraintEngine()->hasEmptyVariables()) {
    keepQueued(constraint);
    if (getConstraintEngine()->canContinuePropagation()) {
      KALDEN_TRACE("DefaultPropagator:agenda",
                   "CE was proven inconsistent, keeping agenda because propagation can continue later");
    } else {
      KALDEN_TRACE("DefaultPropagator:agenda", "Cleared agenda because CE was proven inconsistent");
    }
  }
}

void DefaultPropagator::keepQueued(const Id<Constraint>& constraint) {
  // Only a live one still switched on: a listener may have deleted or switched it off meanwhile
  // (switched on again, it is queued then).
  if (constraint.isValid() && !constraint->isDiscarded() && constraint->isActive() &&
      constraint->getPropagator() == getId())
    m_agenda.insert(constraint);
}

bool DefaultPropagator::updateRequired() const {
  return !m_agenda.empty() && !getConstraintEngine()->isPropagationSuspended();
}

void DefaultPropagator::handleConstraintAdded(const Id<Constraint>& constraint) {
  KALDEN_TRACE("DefaultPropagator:handleConstraintAdded",
               "Adding to the agenda: " << constraint->getName().toString() << "(" << constraint->getKey() << ")");
  KALDEN_CHECK_MSG(constraint.isValid(), constraint);
  m_agenda.insert(constraint);
}

void DefaultPropagator::handleConstraintActivated(const Id<Constraint>& constraint) {
  KALDEN_TRACE("DefaultPropagator:handleConstraintActivated",
               "Adding to the agenda: " << constraint->getName().toString() << "(" << constraint->getKey() << ")");
  KALDEN_CHECK_MSG(constraint.isValid(), constraint);
  m_agenda.insert(constraint);
  KALDEN_AUDIT(isValid());
}

void DefaultPropagator::handleConstraintDeactivated(const Id<Constraint>& constraint) {
  KALDEN_TRACE("DefaultPropagator:handleConstraintDeactivated",
               "Removing from the agenda: " << constraint->getName().toString() << "(" << constraint->getKey() << ")");
  KALDEN_CHECK_MSG(constraint.isValid(), constraint);
  m_agenda.erase(constraint);
  KALDEN_AUDIT(isValid());
}

void DefaultPropagator::handleConstraintRemoved(const Id<Constraint>& constraint) {
  KALDEN_TRACE("DefaultPropagator:handleConstraintRemoved",
               "Removing from the agenda: " << constraint->getName().toString() << "(" << constraint->getKey() << ")");
  KALDEN_CHECK_MSG(constraint.isValid(), constraint);
  m_agenda.forget(constraint);
  KALDEN_AUDIT(isValid());
}

bool DefaultPropagator::isValid() const {
  const Id<Constraint> constraint = m_agenda.lowestUnsound();
  if (constraint.isId()) {
    KALDEN_CHECK_MSG(constraint.isValid(), constraint);
    KALDEN_CHECK_MSG(!constraint->isDiscarded(), constraint->getName().toString()
                                                     << "(" << constraint->getKey() << ") Id=" << constraint);
  }
  return true;
}

} // namespace KALDEN
