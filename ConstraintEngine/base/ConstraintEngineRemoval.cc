#define KALDEN_SOURCE "ConstraintEngine/base/ConstraintEngine"

// Removal of constraints and variables: each leaves the engine from its own discard.

#include "ConstraintEngine/base/ConstraintEngine.hh"

#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
#include "ConstraintEngine/base/Propagator.hh"
#include "Utils/base/Report.hh"

namespace KALDEN {

void ConstraintEngine::remove(const Id<Constraint>& constraint) {
  KALDEN_CHECK(m_constraints.find(constraint) != m_constraints.end());
  KALDEN_CHECK(!m_propInProgress);
  m_constraints.erase(constraint);
  m_redundantConstraints.erase(constraint);
  if (Entity::isPurging())
    return;
  // A constraint whose registration failed half-way may have no propagator yet.
  const Id<Propagator>& propagator = constraint->getPropagator();
  if (propagator.isValid())
    propagator->removeConstraint(constraint);
  broadcast([&constraint](ConstraintEngineListener& listener) { listener.notifyRemoved(constraint); });
  KALDEN_TRACE("ConstraintEngine:remove:Constraint",
               constraint->getName().toString() << "(" << constraint->getKey() << ")");
}

void ConstraintEngine::remove(const Id<ConstrainedVariable>& variable) {
  KALDEN_CHECK(!m_propInProgress);
  KALDEN_CHECK(m_variables.find(variable) != m_variables.end());
  m_variables.erase(variable);
  // Also while purging: a record must never outlive its variable.
  m_violationMgr->removeEmptyVariable(variable);
  if (Entity::isPurging())
    return;
  broadcast([&variable](ConstraintEngineListener& listener) { listener.notifyRemoved(variable); });
  KALDEN_TRACE("ConstraintEngine:remove:ConstrainedVariable",
               variable->getName().toString() << "(" << variable->getKey() << ")");
}

} // namespace KALDEN
