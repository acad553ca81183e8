#define KALDEN_SOURCE "ConstraintEngine/component/Constraints"

// Bounds arithmetic shared by the value constraints of the library.

#include "ConstraintEngine/component/BoundsArithmetic.hh"

#include "ConstraintEngine/component/ConstraintsBase.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/IntervalDomains.hh"

#include <algorithm>
#include <cmath>
#include <list>
#include <typeinfo>

namespace KALDEN {

namespace {

void extremes(double a, double b, double c, double d, double& lo, double& hi) {
  lo = std::min(std::min(a, b), std::min(c, d));
  hi = std::max(std::max(a, b), std::max(c, d));
}

} // namespace

void BoundsArithmetic::productRange(double aMin, double aMax, double bMin, double bMax, double& lo, double& hi) {
  // The infinities are finite doubles here, so no product is ever NaN.
  extremes(aMax * bMax, aMin * bMin, aMin * bMax, aMax * bMin, lo, hi);
}

void BoundsArithmetic::quotientRange(double numMin, double numMax, double denomMin, double denomMax, double& lo,
                                     double& hi) {
  extremes(numMax / denomMin, numMin / denomMin, numMax / denomMax, numMin / denomMax, lo, hi);
}

bool BoundsArithmetic::isIntegerInterval(const AbstractDomain& dom) {
  // The common classes answer from their exact type; only others need the full class search.
  // The type records are compared by address: equal addresses are surely the same class, and
  // anything else takes the search, so no name comparison is ever made here.
  const std::type_info* type = &typeid(dom);
  if (type == &typeid(IntervalIntDomain) || type == &typeid(BoolDomain))
    return true;
  if (type == &typeid(IntervalDomain))
    return false;
  return dynamic_cast<const IntervalIntDomain*>(&dom) != nullptr;
}

bool BoundsArithmetic::isRealInterval(const AbstractDomain& dom) { return dom.isInterval() && !isIntegerInterval(dom); }

bool BoundsArithmetic::holdsInteger(const AbstractDomain& dom) {
  // Membership is tolerant, so the first candidate integer is the floor or the ceiling of the
  // lower bound; when that one lies above the interval every later one does too.
  const double lb = dom.getLowerBound();
  return dom.isMember(std::floor(lb)) || dom.isMember(std::ceil(lb));
}

bool BoundsArithmetic::holdsValueIn(const AbstractDomain& dom, double lb, double ub) {
  // An integer interval keeps the integers of the range's inward rounding; its tolerant overlap
  // test would also accept a range lying between two integers.
  if (isIntegerInterval(dom))
    return std::max(dom.getLowerBound(), integerFrom(lb)) <= std::min(dom.getUpperBound(), integerTo(ub));
  return dom.intersects(IntervalDomain(lb, ub, FloatDT::instance()));
}

bool BoundsArithmetic::shareValue(const AbstractDomain& a, const AbstractDomain& b) {
  if (a.isInterval() && b.isInterval() && !a.isOpen() && !b.isOpen()) {
    if (isIntegerInterval(a) && !isIntegerInterval(b))
      return holdsValueIn(a, b.getLowerBound(), b.getUpperBound());
    if (isIntegerInterval(b) && !isIntegerInterval(a))
      return holdsValueIn(b, a.getLowerBound(), a.getUpperBound());
  }
  return a.intersects(b);
}

bool BoundsArithmetic::holdsEveryValueOf(const AbstractDomain& container, const AbstractDomain& dom) {
  if (container.isOpen() || (dom.isClosed() && dom.isEmpty()))
    return true;
  if (dom.isOpen() || container.isEmpty())
    return false;
  if (dom.isEnumerated())
    return dom.isSubsetOf(container);
  if (ConstraintShape::isDecided(dom))
    return container.isMember(dom.getSingletonValue());
  // A real interval narrower than the tolerance holds more than one value: only a real interval
  // holding both its ends is known to hold them all.
  if (dom.isSingleton())
    return isRealInterval(container) && container.isMember(dom.getLowerBound()) &&
           container.isMember(dom.getUpperBound());
  // An interval's own subset test compares bounds by its own tolerance, exact only between
  // intervals of one kind: a real interval holds an integer one when it holds both of its ends,
  // and an integer interval holds no real interval of more than one value.
  if (container.isInterval() && isIntegerInterval(container) == isIntegerInterval(dom))
    return dom.isSubsetOf(container);
  if (container.isInterval() && !isIntegerInterval(container))
    return container.isMember(dom.getLowerBound()) && container.isMember(dom.getUpperBound());
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

} // namespace KALDEN
