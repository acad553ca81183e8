#define KALDEN_SOURCE "ConstraintEngine/component/Constraints"

// The ordering constraints: less-or-equal, less-than and within-bounds.

#include "ConstraintEngine/component/OrderingConstraints.hh"

#include "ConstraintEngine/component/BoundsArithmetic.hh"
#include "ConstraintEngine/component/ConstraintsBase.hh"
#include "Utils/base/Report.hh"

namespace KALDEN {

namespace {

// Both orderings keep x's upper bound under y's and y's lower bound over x's: neither a
// fall of the one nor a rise of the other can give them work.
bool orderingIgnores(int argIndex, DomainListener::ChangeType changeType) {
  return (argIndex == 0 && changeType == DomainListener::UPPER_BOUND_DECREASED) ||
         (argIndex == 1 && changeType == DomainListener::LOWER_BOUND_INCREASED);
}

// A step lands the tolerance beyond the other side's bound, but an enumeration's member or an
// integer within the tolerance of where it lands stays (3 beside a step below 3.0000000000000013):
// x's greatest values go while they lie less than the tolerance below y's greatest. A real
// interval skips a narrowing smaller than the tolerance: a bound left closer than it to y's
// (1.999991 against 2) is stepped past y's as removing an end steps, to 1.99999.
void keepOnlyBelow(AbstractDomain& domx, const AbstractDomain& domy) {
  typedef BoundsArithmetic BA;
  while (!domx.isEmpty() && !BA::lessThan(domx, domx.getUpperBound(), domy, domy.getUpperBound())) {
    const double ub = domx.getUpperBound();
    const double other = domy.getUpperBound();
    if (domx.isEnumerated())
      domx.remove(ub);
    else if (BA::isIntegerInterval(domx))
      domx.intersect(domx.getLowerBound(), ub - 1.0);
    else if (domx.compareEqual(other, ub) && !domx.compareEqual(other, domx.getLowerBound()))
      domx.remove(other);
    if (domx.isEmpty() || domx.getUpperBound() == ub)
      return;
  }
}

// y's least values go while they lie less than the tolerance above x's least, as keepOnlyBelow().
void keepOnlyAbove(const AbstractDomain& domx, AbstractDomain& domy) {
  typedef BoundsArithmetic BA;
  while (!domy.isEmpty() && !BA::lessThan(domx, domx.getLowerBound(), domy, domy.getLowerBound())) {
    const double lb = domy.getLowerBound();
    const double other = domx.getLowerBound();
    if (domy.isEnumerated())
      domy.remove(lb);
    else if (BA::isIntegerInterval(domy))
      domy.intersect(lb + 1.0, domy.getUpperBound());
    else if (domy.compareEqual(other, lb) && !domy.compareEqual(other, domy.getUpperBound()))
      domy.remove(other);
    if (domy.isEmpty() || domy.getLowerBound() == lb)
      return;
  }
}

} // namespace

// ---------------------------------------------------------------- LessThanEqualConstraint

LessThanEqualConstraint::LessThanEqualConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                                 const Id<ConstraintEngine>& constraintEngine,
                                                 const std::vector<Id<ConstrainedVariable> >& variables)
    : Constraint(name, propagatorName, constraintEngine, variables),
      m_x(ConstraintShape::domainAt(*this, 0, ARG_COUNT, "variables.size() == (unsigned int) ARG_COUNT")),
      m_y(ConstraintShape::domainAt(*this, 1, ARG_COUNT, "variables.size() == (unsigned int) ARG_COUNT")) {
  KALDEN_CHECK_MSG(m_x.isNumeric(), m_variables[0]->toString());
  KALDEN_CHECK_MSG(m_y.isNumeric(), m_variables[1]->toString());
}

LessThanEqualConstraint::~LessThanEqualConstraint() {}

bool LessThanEqualConstraint::testIsRedundant(const Id<ConstrainedVariable>& variable) const {
  if (Constraint::testIsRedundant(variable))
    return true;
  // Redundancy is final: a base domain that may still gain values (open) or holds none decides nothing.
  const AbstractDomain& x = m_variables[0]->baseDomain();
  const AbstractDomain& y = m_variables[1]->baseDomain();
  if (x.isOpen() || y.isOpen() || x.isEmpty() || y.isEmpty())
    return false;
  return BoundsArithmetic::lessOrEqual(x, x.getUpperBound(), y, y.getLowerBound());
}

void LessThanEqualConstraint::handleExecute() {
  // Both are numbers: refused otherwise when made.
  if (m_x.isOpen() || m_y.isOpen())
    return;
  if (!ConstraintShape::checkNonEmpty(m_x, m_y, "!m_x.isEmpty() && !m_y.isEmpty()"))
    return;
  KALDEN_TRACE("LessThanEqualConstraint:handleExecute", "Intersecting " << m_x.toString() << " with ["
                                                                        << m_x.getLowerBound() << " "
                                                                        << m_y.getUpperBound() << "]");
  if (BoundsArithmetic::narrowEmpties(m_x, m_x.getLowerBound(), m_y.getUpperBound()))
    return;
  m_y.intersect(m_x.getLowerBound(), m_y.getUpperBound());
}

bool LessThanEqualConstraint::canIgnore(const Id<ConstrainedVariable>&, int argIndex,
                                        const DomainListener::ChangeType& changeType) {
  return orderingIgnores(argIndex, changeType);
}

// ---------------------------------------------------------------- LessThanConstraint

LessThanConstraint::LessThanConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                       const Id<ConstraintEngine>& constraintEngine,
                                       const std::vector<Id<ConstrainedVariable> >& variables)
    : Constraint(name, propagatorName, constraintEngine, variables) {
  ConstraintShape::checkArity(*this, ARG_COUNT, "variables.size() == (unsigned int) ARG_COUNT");
  // Judged when made: every run steps each bound past the other's.
  ConstraintShape::checkComparableWithMessage(getCurrentDomain(m_variables[0]), getCurrentDomain(m_variables[1]),
                                              "AbstractDomain::canBeCompared(domx, domy)");
  ConstraintShape::checkNumeric(*this, 0, ARG_COUNT);
}

LessThanConstraint::~LessThanConstraint() {}

void LessThanConstraint::handleExecute() {
  AbstractDomain& domx = getCurrentDomain(m_variables[0]);
  AbstractDomain& domy = getCurrentDomain(m_variables[1]);
  if (domx.isOpen() || domy.isOpen())
    return;
  // x < x holds for no value: decided at once, where the bounds would creep one step a round.
  if (m_variables[0] == m_variables[1]) {
    domx.empty();
    return;
  }
  KALDEN_TRACE("LessThanConstraint:handleExecute", "Computing " << domx.toString() << " < " << domy.toString()
                                                                << " x.minDelta = " << domx.minDelta()
                                                                << " y.minDelta = " << domy.minDelta());
  typedef BoundsArithmetic BA;
  // No pair holds the order when x's least value is not below y's greatest by the tolerance,
  // decided values included (0.3 is not below 0.30000000000000004). Judged before the steps,
  // which move neither bound: a real stepped within the tolerance of its other bound meets it
  // there instead of emptying.
  if (!BA::lessThan(domx, domx.getLowerBound(), domy, domy.getUpperBound())) {
    domx.empty();
    return;
  }
  // Each step reads the bounds as they are at that moment; infinite bounds are never stepped.
  // A bound steps by the receiving domain's unit from the other side's bound, whatever its kind,
  // wherever the two bounds are not apart by the tolerance: bounds within it are equal.
  if (!BA::lessThan(domx, domx.getUpperBound(), domy, domy.getUpperBound()) && domy.getUpperBound() < PLUS_INFINITY) {
    if (BA::narrowEmpties(domx, domx.getLowerBound(), BA::greatestBelow(domx, domy.getUpperBound())))
      return;
    keepOnlyBelow(domx, domy);
    if (domx.isEmpty())
      return;
  }
  if (!BA::lessThan(domx, domx.getLowerBound(), domy, domy.getLowerBound()) && domx.getLowerBound() > MINUS_INFINITY) {
    domy.intersect(BA::leastAbove(domy, domx.getLowerBound()), domy.getUpperBound());
    keepOnlyAbove(domx, domy);
  }
}

bool LessThanConstraint::canIgnore(const Id<ConstrainedVariable>&, int argIndex,
                                   const DomainListener::ChangeType& changeType) {
  return orderingIgnores(argIndex, changeType);
}

// ---------------------------------------------------------------- WithinBounds

// m_x is bound first, so the arity is checked before any other scope entry is read and
// before the embedded ordering registers anything.
WithinBounds::WithinBounds(const LabelStr& name, const LabelStr& propagatorName,
                           const Id<ConstraintEngine>& constraintEngine,
                           const std::vector<Id<ConstrainedVariable> >& variables)
    : CompositeConstraint(name, propagatorName, constraintEngine, variables),
      m_x(ConstraintShape::domainAt(*this, 0, ARG_COUNT, "variables.size() == ARG_COUNT")),
      m_y(getCurrentDomain(m_variables[1])), m_z(getCurrentDomain(m_variables[2])),
      // x is narrowed by bounds (lb and ub are judged by the ordering), before the ordering is built.
      m_leq(name, propagatorName, ConstraintShape::numericChecked(*this, 0, 1, constraintEngine),
            makeScope(m_variables[1], m_variables[2])) {
  membersBuilt();
}

WithinBounds::~WithinBounds() {
  // Discarded while whole, so that it is heard removed before its ordering, and nobody told of
  // the ordering's removal finds it still standing.
  NoThrowScope guard;
  discardInDestructor();
}

CompositeConstraint::Members WithinBounds::members() { return Members{{}, {m_leq.getId()}}; }

bool WithinBounds::canIgnore(const Id<ConstrainedVariable>& variable, int argIndex,
                             const DomainListener::ChangeType& changeType) {
  return Constraint::canIgnore(variable, argIndex, changeType);
}

void WithinBounds::handleExecute() {
  // An open x may still gain values: its bounds cannot be narrowed until it is closed. Nor are an
  // open bound's values so far read: what it gains later would not widen x again, so the run
  // would depend on whether it came before the gain (the ordering waits alike).
  if (m_x.isOpen() || m_y.isOpen() || m_z.isOpen())
    return;
  m_x.intersect(m_y.getLowerBound(), m_z.getUpperBound());
}

} // namespace KALDEN
