#define KALDEN_SOURCE "ConstraintEngine/component/Constraints"

// A domain kept within another, a domain held to a lock domain, and member implication.

#include "ConstraintEngine/component/SubsetConstraints.hh"

#include "ConstraintEngine/component/BoundsArithmetic.hh"
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

void SubsetOfConstraint::handleExecute() {
  // An open superset may still gain any value: its values so far bound nothing yet.
  if (ConstraintShape::holdsNothingYet(m_currentDomain) || m_superSetDomain.isOpen())
    return;
  // An open x takes a closed enumeration's members, but no interval's: it waits until closed.
  if (m_currentDomain.isOpen() && m_superSetDomain.isInterval())
    return;
  m_currentDomain.intersect(m_superSetDomain);
}

bool SubsetOfConstraint::canIgnore(const Id<ConstrainedVariable>& variable, int argIndex,
                                   const DomainListener::ChangeType& changeType) {
  (void)variable;
  // Only a narrowing of x keeps it within the superset. Any other change of x may bring it values
  // the superset lacks (an opening, a gain, an open x closed with a closed domain's members), or
  // ends a wait (x closed, or specified, under an interval superset).
  return argIndex == 0 && DomainListener::isRestriction(changeType);
}

// LockConstraint

LockConstraint::LockConstraint(const LabelStr& name, const LabelStr& propagatorName,
                               const Id<ConstraintEngine>& constraintEngine,
                               const std::vector<Id<ConstrainedVariable> >& variables)
    : Constraint(name, propagatorName, constraintEngine, variables),
      m_currentDomain(ConstraintShape::domainAt(*this, 0, 2, "variables.size() == 2")),
      m_lockDomain(ConstraintShape::domainAt(*this, 1, 2, "variables.size() == 2")) {
  // x takes the lock's members: an open lock may still gain some, and would empty x meanwhile.
  KALDEN_CHECK_MSG(m_lockDomain.isClosed(),
                   "The lock domain of " << name.toString() << " must be closed, not " << m_lockDomain.toString());
  // Every run compares x with the lock value by value.
  ConstraintShape::checkSafeComparison(m_currentDomain, m_lockDomain);
}

LockConstraint::~LockConstraint() = default;

void LockConstraint::handleExecute() {
  // A lock reopened since the constraint was made holds no final members: it waits until closed.
  if (ConstraintShape::holdsNothingYet(m_currentDomain) || m_lockDomain.isOpen())
    return;
  // An open x cannot become an interval's values: it waits until closed.
  if (ConstraintShape::intervalMeetsOpen(m_currentDomain, m_lockDomain))
    return;
  // Compared value by value, alike from either side: an integer lock [-2, -2] is not the reals
  // {-2.6, -2}, though its tolerance of one would put -2.6 at -2.
  if (BoundsArithmetic::sameValues(m_lockDomain, m_currentDomain))
    return;
  if (BoundsArithmetic::holdsEveryValueOf(m_currentDomain, m_lockDomain)) {
    m_currentDomain.intersect(m_lockDomain);
    return;
  }
  KALDEN_TRACE("LockConstraint", "current domain:" << m_currentDomain.toString()
                                                   << " is not a superset of lock domain :" << m_lockDomain.toString()
                                                   << " emptying current domain");
  m_currentDomain.empty();
}

// MemberImplyConstraint

MemberImplyConstraint::MemberImplyConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                             const Id<ConstraintEngine>& constraintEngine,
                                             const std::vector<Id<ConstrainedVariable> >& variables)
    : Constraint(name, propagatorName, constraintEngine, variables),
      ARG_COUNT(static_cast<unsigned int>(m_variables.size())) {
  ConstraintShape::checkArity(*this, 4, "ARG_COUNT == 4");
  KALDEN_CHECK(AbstractDomain::canBeCompared(getCurrentDomain(m_variables[0]), getCurrentDomain(m_variables[1])));
  KALDEN_CHECK(AbstractDomain::canBeCompared(getCurrentDomain(m_variables[2]), getCurrentDomain(m_variables[3])));
  // Every run asks whether b's values lie in c.
  KALDEN_CHECK(AbstractDomain::canBeCompared(getCurrentDomain(m_variables[1]), getCurrentDomain(m_variables[2])));
}

MemberImplyConstraint::~MemberImplyConstraint() = default;

void MemberImplyConstraint::handleExecute() {
  AbstractDomain& domA = getCurrentDomain(m_variables[0]);
  const AbstractDomain& domB = getCurrentDomain(m_variables[1]);
  const AbstractDomain& domC = getCurrentDomain(m_variables[2]);
  const AbstractDomain& domD = getCurrentDomain(m_variables[3]);
  // An open domain that holds nothing yet may still gain values: only a closed empty one fails.
  auto empty = [](const AbstractDomain& dom) { return dom.isEmpty() && !ConstraintShape::holdsNothingYet(dom); };
  KALDEN_CHECK_TEXT(!(empty(domA) || empty(domB) || empty(domC) || empty(domD)),
                    "domA.isEmpty() || domB.isEmpty() || domC.isEmpty() || domD.isEmpty()");
  if (domA.isOpen() || domB.isOpen() || domD.isOpen())
    return;
  if (BoundsArithmetic::holdsEveryValueOf(domC, domB))
    domA.intersect(domD);
}

} // namespace KALDEN
