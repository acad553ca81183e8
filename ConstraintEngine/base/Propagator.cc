#define KALDEN_SOURCE "ConstraintEngine/base/Propagator"
#include "ConstraintEngine/base/Propagator.hh"

#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "Utils/base/Report.hh"

namespace KALDEN {

Propagator::Propagator(const LabelStr& name, const Id<ConstraintEngine>& constraintEngine)
    : Entity(), m_enabled(true), m_id(this), m_name(name), m_constraintEngine(constraintEngine) {
  removeOnFailure(m_id, [this] {
    KALDEN_CHECK(!m_constraintEngine.isNoId() && m_constraintEngine.isValid());
    m_constraintEngine->add(m_id);
  });
}

Propagator::~Propagator() {
  NoThrowScope guard;
  discardInDestructor();
  if (m_id.isValid())
    m_id.remove();
}

AbstractDomain& Propagator::getCurrentDomain(const Id<ConstrainedVariable>& var) {
  KALDEN_CHECK(var.isValid());
  return var->getCurrentDomain();
}

void Propagator::execute(const Id<Constraint>& constraint) {
  KALDEN_CHECK(constraint.isValid());
  m_constraintEngine->execute(constraint);
}

void Propagator::handleVariableDeactivated(const Id<ConstrainedVariable>&) {}

void Propagator::handleVariableActivated(const Id<ConstrainedVariable>&) {}

void Propagator::notifyConstraintViolated(Id<Constraint> constraint) { constraint->notifyViolated(); }

void Propagator::notifyVariableEmptied(Id<ConstrainedVariable> variable) {
  m_constraintEngine->getViolationMgr().addEmptyVariable(variable);
}

void Propagator::addConstraint(const Id<Constraint>& constraint) {
  KALDEN_CHECK(constraint->getPropagator().isNoId());
  KALDEN_CHECK_MSG(!constraint->isDiscarded(), constraint);
  m_constraints.insert(constraint);
  handleConstraintAdded(constraint);
}

void Propagator::removeConstraint(const Id<Constraint>& constraint) {
  KALDEN_CHECK(constraint->getPropagator() == m_id);
  // A discarded constraint left already, as its discard began.
  if (m_constraints.erase(constraint) == 0)
    return;
  handleConstraintRemoved(constraint);
}

} // namespace KALDEN
