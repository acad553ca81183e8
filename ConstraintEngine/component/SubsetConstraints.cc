#define KALDEN_SOURCE "ConstraintEngine/component/Constraints"

// A domain kept within another, and a domain held to a lock domain.

#include "ConstraintEngine/component/SubsetConstraints.hh"

#include "ConstraintEngine/component/ConstraintsBase.hh"
#include "Utils/base/Report.hh"

namespace KALDEN {

// SubsetOfConstraint

SubsetOfConstraint::SubsetOfConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                       const Id<ConstraintEngine>& constraintEngine,
                                       const std::vector<Id<ConstrainedVariable> >& variables)
    : Constraint(name, propagatorName, constraintEngine, variables),
      m_currentDomain(ConstraintShape::domainAt(*this, 0, 2, "variables.size() == 2")),
      m_superSetDomain(ConstraintShape::domainAt(*this, 1, 2, "variables.size() == 2")) {
  ConstraintShape::checkComparable(m_currentDomain, m_superSetDomain,
                                   "AbstractDomain::canBeCompared(m_currentDomain, m_superSetDomain)");
}

SubsetOfConstraint::~SubsetOfConstraint() = default;

void SubsetOfConstraint::handleExecute() { m_currentDomain.intersect(m_superSetDomain); }

bool SubsetOfConstraint::canIgnore(const Id<ConstrainedVariable>& variable, int argIndex,
                                   const DomainListener::ChangeType& changeType) {
  (void)variable;
  if (changeType == DomainListener::RESET || changeType == DomainListener::RELAXED)
    return false;
  return argIndex != 1;
}

// LockConstraint

LockConstraint::LockConstraint(const LabelStr& name, const LabelStr& propagatorName,
                               const Id<ConstraintEngine>& constraintEngine,
                               const std::vector<Id<ConstrainedVariable> >& variables)
    : Constraint(name, propagatorName, constraintEngine, variables),
      m_currentDomain(ConstraintShape::domainAt(*this, 0, 2, "variables.size() == 2")),
      m_lockDomain(ConstraintShape::domainAt(*this, 1, 2, "variables.size() == 2")) {}

LockConstraint::~LockConstraint() = default;

void LockConstraint::handleExecute() {
  if (m_lockDomain == m_currentDomain)
    return;
  if (m_lockDomain.isSubsetOf(m_currentDomain)) {
    m_currentDomain.intersect(m_lockDomain);
    return;
  }
  KALDEN_TRACE("LockConstraint", "current domain:" << m_currentDomain.toString()
                                                   << " is not a superset of lock domain :"
                                                   << m_lockDomain.toString() << " emptying current domain");
  m_currentDomain.empty();
}

} // namespace KALDEN
