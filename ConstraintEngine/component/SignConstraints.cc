#define KALDEN_SOURCE "ConstraintEngine/component/Constraints"

// Negation and absolute value.

#include "ConstraintEngine/component/SignConstraints.hh"

#include "ConstraintEngine/component/BoundsArithmetic.hh"
#include "ConstraintEngine/component/ConstraintsBase.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/IntervalDomains.hh"
#include "Utils/base/Report.hh"

#include <algorithm>
#include <cmath>

namespace KALDEN {

namespace {

// Narrows dom to the real range [lb, ub] through the domain form of intersection.
bool narrowToRange(AbstractDomain& dom, double lb, double ub) {
  return dom.intersect(IntervalDomain(lb, ub, FloatDT::instance()));
}

} // namespace

// ---------------------------------------------------------------- NegateConstraint

NegateConstraint::NegateConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                   const Id<ConstraintEngine>& constraintEngine,
                                   const std::vector<Id<ConstrainedVariable> >& variables)
    : Constraint(name, propagatorName, constraintEngine, variables) {
  ConstraintShape::checkArity(*this, 2, "variables.size() == 2");
  KALDEN_CHECK_TEXT(!m_variables[0]->baseDomain().isEnumerated(), "!variables[0]->baseDomain().isEnumerated()");
  KALDEN_CHECK_TEXT(!m_variables[1]->baseDomain().isEnumerated(), "!variables[1]->baseDomain().isEnumerated()");
  ConstraintShape::checkComparable(getCurrentDomain(m_variables[0]), getCurrentDomain(m_variables[1]),
                                   "AbstractDomain::canBeCompared(domx, domy)");
}

NegateConstraint::~NegateConstraint() {}

void NegateConstraint::handleExecute() {
  AbstractDomain& domx = getCurrentDomain(m_variables[0]);
  AbstractDomain& domy = getCurrentDomain(m_variables[1]);
  if (!ConstraintShape::checkNonEmpty(domx, domy, "!domx.isEmpty() && !domy.isEmpty()"))
    return;
  double xMin, xMax, yMin, yMax;
  domx.getBounds(xMin, xMax);
  domy.getBounds(yMin, yMax);
  if (BoundsArithmetic::narrowEmpties(domx, -yMax, -yMin))
    return;
  domy.intersect(-xMax, -xMin);
}

// ---------------------------------------------------------------- AbsoluteValue

AbsoluteValue::AbsoluteValue(const LabelStr& name, const LabelStr& propagatorName,
                             const Id<ConstraintEngine>& constraintEngine,
                             const std::vector<Id<ConstrainedVariable> >& variables)
    : Constraint(name, propagatorName, constraintEngine, variables),
      m_x(ConstraintShape::domainAt(*this, 0, ARG_COUNT, "variables.size() == ARG_COUNT")),
      m_y(getCurrentDomain(m_variables[1])) {
  // A symbol's or string's key is no number: refused when made, before anything runs over it.
  KALDEN_CHECK_MSG(m_x.isNumeric(), m_variables[0]->toString());
  KALDEN_CHECK_MSG(m_y.isNumeric(), m_variables[1]->toString());
}

AbsoluteValue::~AbsoluteValue() {}

void AbsoluteValue::handleExecute() {
  // Each side narrows the other by bounds, which an open domain does not have for good yet.
  if (m_x.isOpen() || m_y.isOpen())
    return;
  // The range of |y| from y's bounds.
  const double yMin = m_y.getLowerBound();
  const double yMax = m_y.getUpperBound();
  double lb = yMin;
  double ub = yMax;
  if (yMin < 0.0) {
    lb = yMax >= 0.0 ? 0.0 : std::min(std::fabs(yMin), std::fabs(yMax));
    ub = std::max(std::fabs(yMin), yMax);
  }
  narrowToRange(m_x, lb, ub);
  if (m_x.isEmpty())
    return;

  lb = m_x.getLowerBound();
  ub = m_x.getUpperBound();
  // x may still be 0: y cannot leave [-ub, ub].
  if (lb == 0.0 && m_y.isMember(-ub) && m_y.isMember(ub))
    narrowToRange(m_y, -ub, ub);

  // Which sides of zero y can still take a value on. The ends of x's range are no test: an
  // integer y may hold neither end of a real range and still hold an integer within it.
  const bool pos = BoundsArithmetic::holdsValueIn(m_y, lb, ub);
  const bool neg = BoundsArithmetic::holdsValueIn(m_y, -ub, -lb);
  if (pos && !neg)
    narrowToRange(m_y, lb, ub);
  else if (neg && !pos)
    narrowToRange(m_y, -ub, -lb);
}

} // namespace KALDEN
