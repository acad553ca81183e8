#define KALDEN_SOURCE "ConstraintEngine/component/Constraints"

// A domain kept within another, a domain held to a lock domain, and member implication.

#include "ConstraintEngine/component/SubsetConstraints.hh"

#include "ConstraintEngine/component/BoundsArithmetic.hh"
#include "ConstraintEngine/component/ConstraintsBase.hh"
#include "Utils/base/Report.hh"

#include <list>

namespace KALDEN {

namespace {

// Whether `container` holds every value of `dom`. An interval's own subset test compares bounds
// only, which is exact only against an interval holding every value between them; against an
// enumeration or an integer interval, an interval's values are looked up themselves.
bool holdsEveryValueOf(const AbstractDomain& container, const AbstractDomain& dom) {
  // An open container may still gain any value: it counts as holding every one, even while empty.
  if (container.isOpen())
    return true;
  if (dom.isEnumerated())
    return dom.isSubsetOf(container);
  if (ConstraintShape::isDecided(dom))
    return container.isMember(dom.getSingletonValue());
  // A real interval narrower than the tolerance holds more than one value: only a real interval
  // holding both its ends is known to hold them all.
  if (dom.isSingleton())
    return BoundsArithmetic::isRealInterval(container) && container.isMember(dom.getLowerBound()) &&
           container.isMember(dom.getUpperBound());
  // A real interval holds every value between its ends, so it holds an integer interval when it
  // holds both of that one's ends; the integer interval's own subset test would compare them with
  // its tolerance of one.
  if (container.isInterval() && !BoundsArithmetic::isIntegerInterval(container) &&
      BoundsArithmetic::isIntegerInterval(dom))
    return container.isMember(dom.getLowerBound()) && container.isMember(dom.getUpperBound());
  if (container.isInterval() &&
      (!BoundsArithmetic::isIntegerInterval(container) || BoundsArithmetic::isIntegerInterval(dom)))
    return dom.isSubsetOf(container);
  // Many values of dom: a real interval has more than any such container can hold.
  if (!dom.isFinite() || container.getSize() < dom.getSize())
    return false;
  std::list<double> values;
  dom.getValues(values);
  for (double v : values)
    if (!container.isMember(v))
      return false;
  return true;
}

} // namespace

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
  if (ConstraintShape::holdsNothingYet(m_currentDomain) || ConstraintShape::holdsNothingYet(m_superSetDomain))
    return;
  // An open x takes a closed enumeration's members, but no interval's: it waits until closed.
  if (m_currentDomain.isOpen() && m_superSetDomain.isInterval())
    return;
  m_currentDomain.intersect(m_superSetDomain);
}

bool SubsetOfConstraint::canIgnore(const Id<ConstrainedVariable>& variable, int argIndex,
                                   const DomainListener::ChangeType& changeType) {
  (void)variable;
  if (changeType == DomainListener::RESET || changeType == DomainListener::RELAXED)
    return false;
  // An enumerated x waits while open under an interval superset: closing or specifying
  // it ends the wait.
  return argIndex != 1 && !(m_currentDomain.isEnumerated() && m_superSetDomain.isInterval());
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
}

LockConstraint::~LockConstraint() = default;

void LockConstraint::handleExecute() {
  // A lock reopened since the constraint was made holds no final members: it waits until closed.
  if (ConstraintShape::holdsNothingYet(m_currentDomain) || m_lockDomain.isOpen())
    return;
  // An open x cannot become an interval's values: it waits until closed.
  if (ConstraintShape::intervalMeetsOpen(m_currentDomain, m_lockDomain))
    return;
  if (m_lockDomain == m_currentDomain)
    return;
  if (m_lockDomain.isSubsetOf(m_currentDomain)) {
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
  if (holdsEveryValueOf(domC, domB))
    domA.intersect(domD);
}

} // namespace KALDEN
