#define KALDEN_SOURCE "ConstraintEngine/component/Domains"

// The integer interval and the boolean domain built on it.

#include "ConstraintEngine/component/IntervalDomains.hh"
#include "ConstraintEngine/component/BoundsArithmetic.hh"
#include "ConstraintEngine/component/IntervalNarrowing.hh"

#include "Utils/base/Report.hh"

#include <cmath>
#include <typeinfo>

namespace KALDEN {

// ---------------------------------------------------------------- IntervalIntDomain

IntervalIntDomain::IntervalIntDomain(const Id<DataType>& dt) : IntervalDomain(dt) { m_minDelta = 1.0; }

IntervalIntDomain::IntervalIntDomain(int lb, int ub, const Id<DataType>& dt)
    : IntervalDomain(static_cast<double>(lb), static_cast<double>(ub), dt) {
  m_minDelta = 1.0;
}

IntervalIntDomain::IntervalIntDomain(int value, const Id<DataType>& dt)
    : IntervalDomain(static_cast<double>(value), dt) {
  m_minDelta = 1.0;
}

IntervalIntDomain::IntervalIntDomain(const AbstractDomain& org) : IntervalDomain(org) {
  m_minDelta = 1.0;
  // An emptied real interval keeps a fractional lower bound: take the integer empty form.
  if (org.isEmpty()) {
    m_ub = -2.0;
    m_lb = 2.0 + minDelta();
    return;
  }
  // An integer interval never holds a fractional bound.
  check(m_lb);
  check(m_ub);
}

IntervalIntDomain::IntervalIntDomain(const IntervalIntDomain& org) : IntervalDomain(org) {}

IntervalIntDomain::~IntervalIntDomain() {}

bool IntervalIntDomain::isFinite() const {
  KALDEN_CHECK(!isOpen());
  return -g_maxInt() < m_lb && m_ub < g_maxInt();
}

void IntervalIntDomain::getValues(std::list<double>& results) const {
  KALDEN_CHECK(isFinite());
  long long lb = truncateToInt(check(m_lb));
  long long ub = truncateToInt(check(m_ub));
  for (long long i = lb; i <= ub; ++i)
    results.push_back(static_cast<double>(i));
}

void IntervalIntDomain::insert(double value) {
  KALDEN_CHECK(check_value(value));
  if (isMember(value))
    return;
  if (isEmpty()) {
    m_lb = convert(value);
    m_ub = m_lb;
  } else if (m_lb - minDelta() <= value && value < m_lb) {
    m_lb = convert(value);
  } else if (m_ub < value && value <= m_ub + minDelta()) {
    m_ub = convert(value);
  } else {
    // Grows only by one neighbouring integer at a time.
    KALDEN_ALWAYS_FAIL();
    return;
  }
  if (!isOpen())
    notifyChange(DomainListener::RELAXED);
}

double IntervalIntDomain::integerNear(double value) {
  const double nearest = std::round(value);
  return nearest != value && std::fabs(nearest - value) < g_epsilon() ? nearest : value;
}

// Two numbers closer than the real tolerance are equal, so a real a hair beside an integer is
// that integer here: a rule that finds them equal may then remove or set it without failing
// the precision check. An integral value (every value of an integer network) skips the search.
bool IntervalIntDomain::isMember(double value) const {
  if (static_cast<double>(truncateToInt(value)) != value) {
    value = integerNear(value);
    if (static_cast<double>(truncateToInt(value)) != value)
      return false;
  }
  return leq(m_lb, value) && leq(value, m_ub);
}

void IntervalIntDomain::remove(double value) {
  IntervalDomain::remove(static_cast<double>(truncateToInt(value)) == value ? value : integerNear(value));
}

void IntervalIntDomain::set(double value) {
  IntervalDomain::set(static_cast<double>(truncateToInt(value)) == value ? value : integerNear(value));
}

bool IntervalIntDomain::intersect(const AbstractDomain& dom) {
  // The checked form: comparable, non-empty operands, then this class's range rule.
  return IntervalDomain::intersect(dom);
}

bool IntervalIntDomain::intersect(double lb, double ub) {
  KALDEN_CHECK_TEXT_MSG(!std::isnan(lb) && !std::isnan(ub), "!std::isnan(lb) && !std::isnan(ub)",
                        "A bound that is not a number cannot reach a domain.");
  // A range computed from reals is only as close as floating point gets: an integer within the
  // tolerance of a bound stays, as translateNumber() rounds. An integral bound (the common case
  // of integer networks) rounds to itself and skips the tolerance.
  double intLb = std::ceil(lb);
  if (intLb != lb)
    intLb = BoundsArithmetic::integerFrom(lb);
  double intUb = std::floor(ub);
  if (intUb != ub)
    intUb = BoundsArithmetic::integerTo(ub);
  // The type record is compared by address: a miss only takes the real interval's dispatch.
  if (&typeid(*this) == &typeid(IntervalIntDomain))
    return narrowTo<ExactIntervalCalls<IntervalIntDomain> >(intLb, intUb);
  return IntervalDomain::intersect(intLb, intUb);
}

AbstractDomain* IntervalIntDomain::copy() const {
  IntervalIntDomain* ptr = new IntervalIntDomain(*this);
  KALDEN_CHECK(ptr != 0);
  return ptr;
}

double IntervalIntDomain::translateNumber(double number, bool asMin) const {
  KALDEN_CHECK_MSG(!std::isnan(number), "A bound that is not a number cannot reach a domain.");
  // A minimum rounds up and a maximum down, except that an integer within the tolerance of the
  // number is kept, on either side of it: 1.9999999999999998, the sum of two decimal reals
  // meant to make 2, is 2 as a minimum and as a maximum alike.
  const double rounded = asMin ? BoundsArithmetic::integerFrom(number) : BoundsArithmetic::integerTo(number);
  const double result = clampToInfinities(rounded);
  // A minimum beyond plus infinity lies above every value, and a maximum beyond minus infinity
  // below every value: one past the infinity keeps it there, so the domain it reaches empties.
  if (asMin && rounded > result)
    return result + 1.0;
  if (!asMin && rounded < result)
    return result - 1.0;
  return result;
}

void IntervalIntDomain::refuseImprecise(const double& value) const {
  double dblValue = static_cast<double>(truncateToInt(value));
  KALDEN_CHECK_MSG(dblValue == value, value << " must be an integer.");
}

double IntervalIntDomain::convert(const double& value) const { return static_cast<double>(truncateToInt(value)); }

// ---------------------------------------------------------------- BoolDomain

BoolDomain::BoolDomain(const Id<DataType>& dt) : IntervalIntDomain(0, 1, dt) {}

BoolDomain::BoolDomain(bool value, const Id<DataType>& dt) : IntervalIntDomain(value ? 1 : 0, dt) {}

BoolDomain::BoolDomain(const AbstractDomain& org) : IntervalIntDomain(org) {}

BoolDomain::BoolDomain(const BoolDomain& org) : IntervalIntDomain(org) {}

BoolDomain::~BoolDomain() {}

bool BoolDomain::isTrue() const { return m_lb == 1.0 && m_ub == 1.0; }

bool BoolDomain::isFalse() const { return m_lb == 0.0 && m_ub == 0.0; }

bool BoolDomain::isFinite() const { return true; }

bool BoolDomain::intersect(const AbstractDomain& dom) {
  // The checked form: comparable, non-empty operands, then this class's range rule.
  return IntervalDomain::intersect(dom);
}

bool BoolDomain::intersect(double lb, double ub) {
  // A boolean is the set {0, 1}, narrowed by value: the integer interval's inward rounding keeps
  // 0 and 1 exactly when the range holds them, so a reversed pair or one holding neither empties
  // it. Reading a bound as a truth value would decide it to a value the range forbids.
  return IntervalIntDomain::intersect(lb, ub);
}

AbstractDomain* BoolDomain::copy() const {
  BoolDomain* ptr = new BoolDomain(*this);
  KALDEN_CHECK(ptr != 0);
  return ptr;
}

void BoolDomain::testPrecision(const double& value) const { KALDEN_CHECK(value == 0 || value == 1); }

} // namespace KALDEN
