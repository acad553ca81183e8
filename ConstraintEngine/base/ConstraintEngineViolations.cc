#define KALDEN_SOURCE "ConstraintEngine/base/ConstraintEngine"

// Violations and emptied variables: the engine's operations and its violation manager.

#include "ConstraintEngine/base/ConstraintEngine.hh"

#include "ConstraintEngine/base/Constraint.hh"
#include "Utils/base/Report.hh"

namespace KALDEN {

bool ConstraintEngine::getAllowViolations() const {
  return m_violationMgr->getMaxViolationsAllowed() != 0;
}

void ConstraintEngine::setAllowViolations(bool value) {
  m_violationMgr->setMaxViolationsAllowed(value ? 2147483647u : 0u);
}

double ConstraintEngine::getViolation() const { return m_violationMgr->getViolation(); }

PSList<std::string> ConstraintEngine::getViolationExpl() const { return m_violationMgr->getViolationExpl(); }

PSList<PSConstraint*> ConstraintEngine::getAllViolations() const { return m_violationMgr->getAllViolations(); }

bool ConstraintEngine::isViolated(Id<Constraint> constraint) const { return m_violationMgr->isViolated(constraint); }

bool ConstraintEngine::hasEmptyVariables() const { return !m_violationMgr->getEmptyVariables().empty(); }

bool ConstraintEngine::provenInconsistent() const { return hasEmptyVariables(); }

void ConstraintEngine::handleEmpty(const Id<ConstrainedVariable>& variable) {
  KALDEN_CHECK(variable.isValid());
  KALDEN_CHECK(variable->getCurrentDomain().isEmpty());
  m_violationMgr->addEmptyVariable(variable);
  KALDEN_TRACE("ConstraintEngine:emptied",
               "Emptied var:" << variable->toLongString() << " parent:"
                              << (variable->parent().isValid() ? variable->parent()->toString() : std::string("NULL")));
  KALDEN_CHECK(m_relaxed == false);
  // Blaming the executing constraint comes with violation handling; no constraint executes yet.
}

ViolationMgrImpl::ViolationMgrImpl(unsigned int maxViolationsAllowed, ConstraintEngine& engine)
    : m_maxViolationsAllowed(maxViolationsAllowed), m_engine(engine) {}

ViolationMgrImpl::~ViolationMgrImpl() {}

void ViolationMgrImpl::setMaxViolationsAllowed(unsigned int max) {
  KALDEN_CHECK_MSG(m_violatedConstraints.size() == 0,
                   "Can only call ViolationMgrImpl::setMaxViolationsAllowed if there are no violations");
  m_maxViolationsAllowed = max;
}

double ViolationMgrImpl::getViolation() const {
  double violation = 0.0;
  for (const Id<Constraint>& constraint : m_violatedConstraints)
    violation += constraint->getViolation();
  if (violation == 0.0 && !m_emptyVariables.empty())
    return 1.0;
  return violation;
}

PSList<std::string> ViolationMgrImpl::getViolationExpl() const {
  PSList<std::string> explanations;
  for (const Id<Constraint>& constraint : m_violatedConstraints)
    explanations.push_back(constraint->getViolationExpl());
  return explanations;
}

PSList<PSConstraint*> ViolationMgrImpl::getAllViolations() const {
  PSList<PSConstraint*> violations;
  for (const Id<Constraint>& constraint : m_violatedConstraints)
    violations.push_back(constraint);
  return violations;
}

bool ViolationMgrImpl::isViolated(Id<Constraint> constraint) const {
  return m_violatedConstraints.find(constraint) != m_violatedConstraints.end();
}

bool ViolationMgrImpl::isEmpty(Id<ConstrainedVariable> variable) const {
  return m_emptyVariables.find(variable) != m_emptyVariables.end();
}

void ViolationMgrImpl::addEmptyVariable(Id<ConstrainedVariable> variable) {
  KALDEN_TRACE("ConstraintEngine:ViolationMgr", "Marking ConstrainedVariable as empty : " << variable->toLongString());
  m_emptyVariables.insert(variable);
}

void ViolationMgrImpl::removeEmptyVariable(Id<ConstrainedVariable> variable) { m_emptyVariables.erase(variable); }

} // namespace KALDEN
