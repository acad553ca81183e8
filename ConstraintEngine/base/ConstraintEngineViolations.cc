#define KALDEN_SOURCE "ConstraintEngine/base/ConstraintEngine"

// Violations and emptied variables: the engine's side.

#include "ConstraintEngine/base/ConstraintEngine.hh"

#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
#include "Utils/base/Report.hh"

#include <vector>

namespace KALDEN {

bool ConstraintEngine::getAllowViolations() const { return m_violationMgr->getMaxViolationsAllowed() != 0; }

void ConstraintEngine::setAllowViolations(bool value) {
  m_violationMgr->setMaxViolationsAllowed(value ? 2147483647u : 0u);
}

double ConstraintEngine::getViolation() const { return m_violationMgr->getViolation(); }

PSList<std::string> ConstraintEngine::getViolationExpl() const { return m_violationMgr->getViolationExpl(); }

PSList<PSConstraint*> ConstraintEngine::getAllViolations() const { return m_violationMgr->getAllViolations(); }

bool ConstraintEngine::isViolated(Id<Constraint> constraint) const { return m_violationMgr->isViolated(constraint); }

void ConstraintEngine::handleEmpty(const Id<ConstrainedVariable>& variable) {
  KALDEN_CHECK(variable.isValid());
  KALDEN_CHECK(variable->getCurrentDomain().isEmpty());
  m_violationMgr->addEmptyVariable(variable);
  KALDEN_TRACE("ConstraintEngine:emptied",
               "Emptied var:" << variable->toLongString() << " parent:"
                              << (variable->parent().isValid() ? variable->parent()->toString() : std::string("NULL")));
  // A relaxation cycle may be open: a client may reset one variable and then specify another
  // outside its current domain before propagating. The record is all the next run needs.
  m_violationMgr->handleEmpty(variable);
}

bool ConstraintEngine::canContinuePropagation() const { return m_violationMgr->canContinuePropagation(); }

void ConstraintEngine::clearEmptyVariables() { m_violationMgr->clearEmptyVariables(); }

void ConstraintEngine::notifyViolationAdded(Id<Constraint> constraint) {
  const std::vector<Id<ConstrainedVariable> >& scope = constraint->getScope();
  m_setAsideScopes.insert(m_setAsideScopes.end(), scope.begin(), scope.end());
  broadcastAbout(constraint,
                 [constraint](ConstraintEngineListener& listener) { listener.notifyViolationAdded(constraint); });
}

void ConstraintEngine::notifyViolationRemoved(Id<Constraint> constraint) {
  broadcastAbout(constraint,
                 [constraint](ConstraintEngineListener& listener) { listener.notifyViolationRemoved(constraint); });
}

} // namespace KALDEN
