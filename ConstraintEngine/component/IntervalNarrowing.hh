#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_INTERVALNARROWING_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_INTERVALNARROWING_HH

// The narrowing of an interval to a range, written once for every interval class. The
// interval classes call it with their own class named when `this` is exactly that class, so
// the operations it needs are called directly (and inlined where they are defined) instead
// of through the virtual table; any other class reaches them through the virtual table.

#include "ConstraintEngine/component/IntervalDomains.hh"

namespace KALDEN {

/// Reaches an interval's overridable operations through its virtual table: right for any class.
struct VirtualIntervalCalls {
  static double minDelta(const IntervalDomain& dom) { return dom.minDelta(); }
  static void testPrecision(const IntervalDomain& dom, const double& value) { dom.testPrecision(value); }
  static bool isSingleton(const IntervalDomain& dom) { return dom.isSingleton(); }
  static bool isEmpty(const IntervalDomain& dom) { return dom.isEmpty(); }
  static void empty(IntervalDomain& dom) { dom.empty(); }
};

/// Reaches them directly as `Exact` defines them: only for a domain whose exact class is `Exact`.
template <class Exact>
struct ExactIntervalCalls {
  static double minDelta(const IntervalDomain& dom) { return static_cast<const Exact&>(dom).Exact::minDelta(); }
  static void testPrecision(const IntervalDomain& dom, const double& value) {
    static_cast<const Exact&>(dom).Exact::testPrecision(value);
  }
  static bool isSingleton(const IntervalDomain& dom) { return static_cast<const Exact&>(dom).Exact::isSingleton(); }
  static bool isEmpty(const IntervalDomain& dom) { return static_cast<const Exact&>(dom).Exact::isEmpty(); }
  static void empty(IntervalDomain& dom) { static_cast<Exact&>(dom).Exact::empty(); }
};

template <class Calls>
bool IntervalDomain::narrowTo(double lb, double ub) {
  // The tolerance is read once for all the tolerant comparisons (lt) below: nothing in this
  // operation changes it.
  const double delta = Calls::minDelta(*this);
  auto lessThan = [delta](double a, double b) { return (a + delta) <= b; };
  if (lessThan(ub, lb) || lessThan(ub, m_lb) || lessThan(m_ub, lb)) {
    Calls::empty(*this);
    return true;
  }
  bool ubMoved = lessThan(ub, m_ub);
  bool lbMoved = lessThan(m_lb, lb);
  // A bound moved past the other by less than the tolerance meets it: the interval becomes the
  // moved bound, the value the narrowing allows. Reversed bounds would read as a singleton that
  // still holds what the narrowing excluded.
  if ((ubMoved || lbMoved) && (lbMoved ? lb : m_lb) > (ubMoved ? ub : m_ub)) {
    if (lbMoved)
      ub = lb;
    else
      lb = ub;
    ubMoved = lbMoved = true;
  }
  // Both new bounds pass the precision test before either is stored.
  if (ubMoved)
    Calls::testPrecision(*this, ub);
  if (lbMoved)
    Calls::testPrecision(*this, lb);
  if (!ubMoved && !lbMoved)
    return false;
  if (ubMoved)
    m_ub = ub;
  if (lbMoved)
    m_lb = lb;
  // The kind reported already accounts for a singleton result, so the listener is told it as
  // it stands.
  if (Calls::isSingleton(*this))
    notifyDecidedChange(DomainListener::RESTRICT_TO_SINGLETON);
  else if (ubMoved && lbMoved)
    notifyDecidedChange(Calls::isEmpty(*this) ? DomainListener::EMPTIED : DomainListener::BOUNDS_RESTRICTED);
  else if (lbMoved)
    notifyDecidedChange(DomainListener::LOWER_BOUND_INCREASED);
  else
    notifyDecidedChange(DomainListener::UPPER_BOUND_DECREASED);
  return true;
}

} // namespace KALDEN

#endif
