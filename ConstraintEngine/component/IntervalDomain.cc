#define KALDEN_SOURCE "ConstraintEngine/component/Domains"

// The real interval; the integer and boolean intervals are in IntervalIntDomain.cc.

#include "ConstraintEngine/component/IntervalDomains.hh"
#include "ConstraintEngine/component/BoundsArithmetic.hh"
#include "ConstraintEngine/component/IntervalNarrowing.hh"

#include "ConstraintEngine/base/DataType.hh"
#include "Utils/Globals.hh"
#include "Utils/base/NumberText.hh"
#include "Utils/base/Report.hh"

#include <cmath>
#include <cstdlib>
#include <list>
#include <ostream>
#include <typeinfo>

namespace KALDEN {

IntervalDomain::IntervalDomain(const Id<DataType>& dt)
    : AbstractDomain(dt, false, true), m_ub(PLUS_INFINITY), m_lb(MINUS_INFINITY) {
  commonInit();
}

IntervalDomain::IntervalDomain(double value, const Id<DataType>& dt)
    : AbstractDomain(dt, false, true), m_ub(value), m_lb(value) {
  commonInit();
}

IntervalDomain::IntervalDomain(double lb, double ub, const Id<DataType>& dt)
    : AbstractDomain(dt, false, true), m_ub(ub), m_lb(lb) {
  commonInit();
}

IntervalDomain::IntervalDomain(const AbstractDomain& org) : AbstractDomain(org), m_ub(0.0), m_lb(0.0) {
  // Refused before the bounds are read: only an interval's bounds describe it.
  KALDEN_CHECK_MSG(org.isInterval(), "Attempted to create an Interval domain from " << org.getTypeName().toString());
  m_ub = org.getUpperBound();
  m_lb = org.getLowerBound();
  commonInit();
}

IntervalDomain::IntervalDomain(const IntervalDomain& org) : AbstractDomain(org), m_ub(org.m_ub), m_lb(org.m_lb) {}

IntervalDomain::~IntervalDomain() {}

void IntervalDomain::commonInit() {
  KALDEN_CHECK_TEXT_MSG(!std::isnan(m_lb) && !std::isnan(m_ub), "!std::isnan(lb) && !std::isnan(ub)",
                        "A bound that is not a number cannot reach a domain.");
  KALDEN_CHECK_TEXT_MSG(leq(m_ub, PLUS_INFINITY), "leq(m_ub,PLUS_INFINITY)",
                        "Upper bound " << KALDEN::toString(m_ub) << " is too large.");
  KALDEN_CHECK_MSG(leq(MINUS_INFINITY, m_lb), "Lower bound " << KALDEN::toString(m_lb) << " is too small.");
}

bool IntervalDomain::isEmpty() const {
  KALDEN_CHECK(!isOpen());
  return lt(m_ub, m_lb);
}

bool IntervalDomain::isFinite() const {
  KALDEN_CHECK(!isOpen());
  return (isSingleton() && areBoundsFinite()) || isEmpty();
}

bool IntervalDomain::isSingleton() const {
  KALDEN_CHECK(!isOpen());
  return compareEqual(m_lb, m_ub);
}

int IntervalDomain::getSize() const {
  KALDEN_CHECK_MSG(!isOpen(), "Cannot test for the size of an open domain.");
  if (isEmpty())
    return 0;
  if (isSingleton())
    return 1;
  if (!isFinite())
    return g_infiniteTime();
  // Computed in double: a wide finite interval holds more values than an int can count.
  return truncateToInt(m_ub - m_lb + 1.0);
}

bool IntervalDomain::getBounds(double& lb, double& ub) const {
  lb = m_lb;
  ub = m_ub;
  // One read of the infinity serves both ends: nothing can change it in between.
  const int infinity = g_infiniteTime();
  return m_ub == static_cast<double>(infinity) || m_lb == static_cast<double>(-infinity);
}

void IntervalDomain::getValues(std::list<double>& results) const {
  KALDEN_CHECK(isSingleton());
  if (!isEmpty())
    results.push_back(m_lb);
}

double IntervalDomain::getSingletonValue() const {
  KALDEN_CHECK(isSingleton());
  return m_ub;
}

void IntervalDomain::empty() {
  m_ub = -2.0;
  m_lb = 2.0 + minDelta();
  notifyChange(DomainListener::EMPTIED);
}

void IntervalDomain::set(double value) {
  if (!isMember(value)) {
    empty();
    return;
  }
  if (m_lb == value && m_ub == value)
    return;
  m_lb = value;
  m_ub = value;
  notifyChange(DomainListener::SET_TO_SINGLETON);
}

bool IntervalDomain::widensTo(double lb, double ub) const { return isEmpty() || lb < m_lb || m_ub < ub; }

void IntervalDomain::reset(const AbstractDomain& dom) {
  assertSafeComparison(*this, dom);
  // Any bound further out comes back, though tolerant equality may say it is there: a bound cut
  // by one step, or a point taken from an interval narrower than the tolerance.
  if (*this != dom || widensTo(dom.getLowerBound(), dom.getUpperBound())) {
    const HolderWatch watch(*this);
    relax(dom);
    if (!watch.holderGone())
      notifyChange(DomainListener::RESET);
  }
}

void IntervalDomain::relax(const AbstractDomain& dom) {
  assertSafeComparison(*this, dom);
  // An empty domain (say an inverted pair) offers nothing to refill an emptied one with.
  if (isEmpty() && dom.isEmpty())
    return;
  relax(dom.getLowerBound(), dom.getUpperBound());
}

bool IntervalDomain::relax(double lb, double ub) {
  KALDEN_CHECK(leq(lb, ub));
  KALDEN_CHECK_MSG(isEmpty() || (leq(lb, m_lb) && leq(m_ub, ub)),
                   lb << " >=" << m_lb << " OR " << m_ub << " >= " << ub);
  if (!widensTo(lb, ub))
    return false;
  double newLb = check(lb);
  double newUb = check(ub);
  m_lb = newLb;
  m_ub = newUb;
  notifyChange(DomainListener::RELAXED);
  return true;
}

void IntervalDomain::relax(double value) {
  // Only an emptied domain is refilled: anything else would be a narrowing nobody hears of.
  KALDEN_CHECK_MSG(isEmpty() || (isSingleton() && (getSingletonValue() == value)), toString());
  if (!isEmpty())
    return;
  KALDEN_CHECK(check_value(value));
  m_lb = value;
  m_ub = value;
  notifyChange(DomainListener::RELAXED);
}

void IntervalDomain::insert(double) { KALDEN_ALWAYS_FAIL_MSG("Cannot insert to an interval domain"); }

void IntervalDomain::insert(const std::list<double>&) { KALDEN_ALWAYS_FAIL_MSG("Cannot insert to an interval domain"); }

void IntervalDomain::remove(double value) {
  KALDEN_CHECK(check_value(value));
  if (!isMember(value))
    return;
  // Every value of a point lies within the tolerance of the one removed; a singleton narrower than
  // the tolerance holds values beyond it unless both its ends lie within it, and else loses an end.
  if (isSingleton() && (m_lb == m_ub || (compareEqual(value, m_lb) && compareEqual(value, m_ub)))) {
    empty();
    return;
  }
  // The new end lies the tolerance beyond the value, so that it is no longer a member; what lies
  // further from it differs from it and stays, though within the tolerance of the old end.
  if (compareEqual(value, m_lb))
    stepAbove(value);
  else if (compareEqual(value, m_ub))
    stepBelow(value);
  else {
    KALDEN_ALWAYS_FAIL_MSG("Attempted to remove an element from within the interval. Wuuld require splitting.");
  }
}

bool IntervalDomain::intersect(const AbstractDomain& dom) {
  assertSafeComparison(*this, dom);
  KALDEN_CHECK_MSG(dom.isOpen() || !dom.isEmpty(), dom.toString());
  KALDEN_CHECK_MSG(isOpen() || !isEmpty(), toString());
  double lb = 0.0;
  double ub = 0.0;
  dom.getBounds(lb, ub);
  return intersect(lb, ub);
}

bool IntervalDomain::intersect(double lb, double ub) {
  // Every comparison with a NaN is false: it would leave the domain as it is, unnoticed.
  KALDEN_CHECK_TEXT_MSG(!std::isnan(lb) && !std::isnan(ub), "!std::isnan(lb) && !std::isnan(ub)",
                        "A bound that is not a number cannot reach a domain.");
  // The type record is compared by address: a miss only takes the virtual calls.
  if (&typeid(*this) == &typeid(IntervalDomain))
    return narrowTo<ExactIntervalCalls<IntervalDomain> >(lb, ub);
  return narrowTo<VirtualIntervalCalls>(lb, ub);
}

bool IntervalDomain::difference(const AbstractDomain& dom) {
  assertSafeComparison(*this, dom);
  KALDEN_CHECK(dom.isOpen() || !dom.isEmpty());
  KALDEN_CHECK(isOpen() || !isEmpty());
  // Only the part of dom this domain can hold matters: an integer interval takes
  // dom's integer hull, so every bound below stays integral and every test exact.
  double lb = translateNumber(dom.getLowerBound(), true);
  double ub = translateNumber(dom.getUpperBound(), false);
  if (lt(ub, lb))
    return false;
  KALDEN_CHECK_TEXT(!(lt(m_lb, lb) && lt(ub, m_ub)),
                    "! (lt(m_lb, dom.getLowerBound()) && lt(dom.getUpperBound(), m_ub))");
  if (lt(ub, m_lb) || lt(m_ub, lb))
    return false;
  if (leq(lb, m_lb) && leq(m_ub, ub)) {
    empty();
    return true;
  }
  if (leq(lb, m_lb))
    stepAbove(ub);
  else
    stepBelow(lb);
  return true;
}

void IntervalDomain::stepAbove(double value) {
  double lb = BoundsArithmetic::apartAbove(value, minDelta());
  if (lb > m_ub) {
    // Every value lies within the tolerance of the one stepped past, unless rounding alone put the
    // step beyond an upper bound the tolerance above it (the bit apartAbove() adds): that stays.
    if (m_ub < value + minDelta()) {
      empty();
      return;
    }
    lb = m_ub;
  }
  m_lb = check(lb);
  notifyChange(DomainListener::LOWER_BOUND_INCREASED);
}

void IntervalDomain::stepBelow(double value) {
  double ub = BoundsArithmetic::apartBelow(value, minDelta());
  if (ub < m_lb) {
    if (m_lb > value - minDelta()) {
      empty();
      return;
    }
    ub = m_lb;
  }
  m_ub = check(ub);
  notifyChange(DomainListener::UPPER_BOUND_DECREASED);
}

AbstractDomain& IntervalDomain::operator=(const AbstractDomain& dom) {
  assertSafeComparison(*this, dom);
  KALDEN_CHECK(m_listener.isNoId());
  m_lb = dom.getLowerBound();
  m_ub = dom.getUpperBound();
  m_closed = dom.isClosed();
  return *this;
}

bool IntervalDomain::equate(AbstractDomain& dom) {
  assertSafeComparison(*this, dom);
  if (dom.isEnumerated())
    return dom.equate(*this);
  // Whoever hears of this domain's narrowing may delete the variable holding either domain.
  const HolderWatch mine(*this);
  const HolderWatch theirs(dom);
  bool changed = intersect(dom);
  if (mine.holderGone() || theirs.holderGone())
    return changed;
  if (!isEmpty() && dom.intersect(*this))
    changed = true;
  return changed;
}

bool IntervalDomain::isMember(double value) const {
  return convert(value) == value && leq(m_lb, value) && leq(value, m_ub);
}

bool IntervalDomain::isSubsetOf(const AbstractDomain& dom) const {
  assertSafeComparison(*this, dom);
  KALDEN_CHECK(!isOpen());
  // As for an empty enumeration: an empty interval (an inverted pair) lies within anything,
  // so a variable declared over one can still be reset.
  if (isEmpty())
    return true;
  KALDEN_CHECK(!dom.isEmpty());
  // Bounds alone would put {2} or the integers [1, 3] within {1, 3}: an enumeration answers by
  // its members.
  if (dom.isEnumerated() && dom.isClosed())
    return holdsValuesWithin(dom);
  // Reals lie within integers only as a point; within another real interval, by the bounds
  // within the tolerance: one a hair wider than the tolerance lies within one a hair narrower,
  // whichever of them reads as one value.
  const bool bothReal = minDelta() < 1.0 && dom.minDelta() < 1.0;
  return (isFinite() || !dom.isFinite() || (bothReal && areBoundsFinite())) && leq(m_ub, dom.getUpperBound()) &&
         leq(dom.getLowerBound(), m_lb);
}

bool IntervalDomain::holdsValuesWithin(const AbstractDomain& enumeration) const {
  if (isSingleton())
    return enumeration.isMember(getSingletonValue());
  // A real interval of more than one value holds more values than any enumeration.
  if (!isFinite() || getSize() > enumeration.getSize())
    return false;
  std::list<double> values;
  getValues(values);
  for (double value : values)
    if (!enumeration.isMember(value))
      return false;
  return true;
}

bool IntervalDomain::intersects(const AbstractDomain& dom) const {
  assertSafeComparison(*this, dom);
  KALDEN_CHECK(!isOpen());
  KALDEN_CHECK(!dom.isEmpty());
  // Bounds alone would say [0, 1] meets {-3, 2}: an enumeration answers by its members.
  if (dom.isEnumerated())
    return dom.intersects(*this);
  return !(lt(dom.getUpperBound(), m_lb) || lt(m_ub, dom.getLowerBound()));
}

bool IntervalDomain::operator==(const AbstractDomain& dom) const {
  assertSafeComparison(*this, dom);
  return eq(m_lb, dom.getLowerBound()) && eq(m_ub, dom.getUpperBound()) && AbstractDomain::operator==(dom);
}

bool IntervalDomain::operator!=(const AbstractDomain& dom) const { return !operator==(dom); }

AbstractDomain* IntervalDomain::copy() const {
  IntervalDomain* ptr = new IntervalDomain(*this);
  KALDEN_CHECK(ptr != 0);
  return ptr;
}

namespace {
// Writes one bound, an infinite one as "-inf" or "+inf".
void writeBound(std::ostream& os, double bound) {
  if (bound == MINUS_INFINITY)
    os << "-inf";
  else if (bound == PLUS_INFINITY)
    os << "+inf";
  else
    os << (bound == 0.0 ? 0.0 : bound); // a negative zero prints as zero
}
} // namespace

std::ostream& IntervalDomain::operator>>(std::ostream& os) const {
  AbstractDomain::operator>>(os);
  os << "[";
  std::streamsize precision = os.precision(15);
  writeBound(os, m_lb);
  os << ", ";
  writeBound(os, m_ub);
  os.precision(precision);
  os << "]";
  return os;
}

double IntervalDomain::translateNumber(double number, bool) const {
  KALDEN_CHECK_MSG(!std::isnan(number), "A bound that is not a number cannot reach a domain.");
  return clampToInfinities(number);
}

bool IntervalDomain::convertToMemberValue(const std::string& strValue, double& dblValue) const {
  double value = 0.0;
  if (!readRealText(strValue, value) || !isMember(value))
    return false;
  dblValue = value;
  return true;
}

double IntervalDomain::convert(const double& value) const { return value; }

} // namespace KALDEN
