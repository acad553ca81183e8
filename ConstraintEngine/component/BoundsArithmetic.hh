#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_BOUNDSARITHMETIC_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_BOUNDSARITHMETIC_HH

// Bounds reasoning shared by the ordering, arithmetic and sign constraints:
// moving a bound to what a domain can hold, interval products and quotients,
// and the integrality facts the addition constraint relies on.

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "Utils/Globals.hh"

#include <algorithm>
#include <cmath>

namespace KALDEN {

/**
 * Static helpers over the bounds of numeric domains. A computed bound always
 * goes through the receiving domain's translateNumber(), so an integer
 * interval rounds inward (keeping an integer within the real tolerance of
 * the bound) and every interval clamps to the infinities.
 */
class BoundsArithmetic {
public:
  BoundsArithmetic() = delete;

  /// The upper bound `current`, lowered to `dom`'s form of `candidate` when the candidate is below it.
  static double lowerMax(const AbstractDomain& dom, double current, double candidate) {
    return current > candidate ? dom.translateNumber(candidate, false) : current;
  }
  /// The lower bound `current`, raised to `dom`'s form of `candidate` when the candidate is above it.
  static double raiseMin(const AbstractDomain& dom, double current, double candidate) {
    return current < candidate ? dom.translateNumber(candidate, true) : current;
  }

  /// The least value `dom` may hold strictly above `bound`: the next integer beyond it for an
  /// integer interval, the tolerance above `bound` (apartAbove()) for any other domain.
  static double leastAbove(const AbstractDomain& dom, double bound) {
    return isIntegerInterval(dom) ? std::floor(bound) + 1.0 : apartAbove(bound, dom.minDelta());
  }
  /// The greatest value `dom` may hold strictly below `bound`, as leastAbove() is the least above.
  static double greatestBelow(const AbstractDomain& dom, double bound) {
    return isIntegerInterval(dom) ? std::ceil(bound) - 1.0 : apartBelow(bound, dom.minDelta());
  }

  /// bound + delta, moved up by the last bit where rounding left it nearer to `bound` than
  /// `delta`: the tolerant comparisons must find the two different, those that measure the
  /// difference and those that add the tolerance to one side (a narrowing, membership) alike.
  static double apartAbove(double bound, double delta) {
    double above = bound + delta;
    while (!apartBy(bound, above, delta))
      above = std::nextafter(above, HUGE_VAL);
    return above;
  }
  /// bound - delta, moved down as apartAbove() moves up.
  static double apartBelow(double bound, double delta) {
    double below = bound - delta;
    while (!apartBy(below, bound, delta))
      below = std::nextafter(below, -HUGE_VAL);
    return below;
  }

  /// The tolerance two domains' values are compared by: the finer of theirs, so that an integer 3
  /// and a real 3.5 differ, though 0.5 is within the integer's step of one.
  static double finerTolerance(const AbstractDomain& a, const AbstractDomain& b) {
    return std::min(a.minDelta(), b.minDelta());
  }

  /// The least value a domain spans: a real singleton may hold its bounds reversed by less than
  /// the tolerance, and a comparison of decided values must cover each value it holds.
  static double spanLow(const AbstractDomain& dom) { return std::min(dom.getLowerBound(), dom.getUpperBound()); }
  /// The greatest value a domain spans, as spanLow() the least.
  static double spanHigh(const AbstractDomain& dom) { return std::max(dom.getLowerBound(), dom.getUpperBound()); }
  /// Whether every value of one singleton equals every value of the other, by the finer tolerance
  /// (an integer 3 and a real 3.5 differ): a real singleton narrower than the tolerance holds
  /// more than one value, and the comparison covers each.
  static bool singletonsEqual(const AbstractDomain& a, const AbstractDomain& b) {
    return std::max(spanHigh(a) - spanLow(b), spanHigh(b) - spanLow(a)) < finerTolerance(a, b);
  }
  /// Whether every value of one singleton differs from every value of the other, by the finer tolerance.
  static bool singletonsDiffer(const AbstractDomain& a, const AbstractDomain& b) {
    return std::max(spanLow(a) - spanHigh(b), spanLow(b) - spanHigh(a)) >= finerTolerance(a, b);
  }

  /// Tolerant a < b between a value of `domA` and one of `domB`: a lies below b by at least their
  /// finer tolerance, so 0.3 and a computed 0.30000000000000004 are neither less than the other.
  /// Measured by the difference, as apartAbove() steps: a bound stepped above a lies above it.
  static bool lessThan(const AbstractDomain& domA, double a, const AbstractDomain& domB, double b) {
    return b - a >= finerTolerance(domA, domB);
  }
  /// Tolerant a <= b, the negation of lessThan(b, a): a exceeds b by less than the finer tolerance
  /// (an infinity is at or below itself).
  static bool lessOrEqual(const AbstractDomain& domA, double a, const AbstractDomain& domB, double b) {
    return !(a - b >= finerTolerance(domA, domB));
  }

  /// The least and greatest product of an end of [aMin, aMax] with an end of [bMin, bMax].
  static void productRange(double aMin, double aMax, double bMin, double bMax, double& lo, double& hi);
  /// The least and greatest quotient of an end of [numMin, numMax] by an end of a divisor interval without zero.
  static void quotientRange(double numMin, double numMax, double denomMin, double denomMax, double& lo, double& hi);

  /// Narrows `dom` to [lb, ub]; true when that emptied it, which ends the caller's narrowing.
  static bool narrowEmpties(AbstractDomain& dom, double lb, double ub) {
    return dom.intersect(lb, ub) && dom.isEmpty();
  }

  /// Whether the domain is an interval of integers (integer and boolean intervals).
  static bool isIntegerInterval(const AbstractDomain& dom);
  /// Whether the domain is an interval of reals.
  static bool isRealInterval(const AbstractDomain& dom);
  /// Whether an interval holds some integer, within its tolerance.
  static bool holdsInteger(const AbstractDomain& dom);
  /// The least integer at or above `lb`, rounded as an integer interval rounds a lower bound:
  /// a bound closer than g_epsilon() to an integer counts as that integer.
  static double integerFrom(double lb) {
    // An integer exactly the tolerance below lb differs from it: rounding must not keep it.
    const double least = std::ceil(lb - g_epsilon());
    return lb - least >= g_epsilon() ? least + 1.0 : least;
  }
  /// The greatest integer at or below `ub`, rounded as integerFrom() rounds.
  static double integerTo(double ub) {
    const double greatest = std::floor(ub + g_epsilon());
    return greatest - ub >= g_epsilon() ? greatest - 1.0 : greatest;
  }
  /// Whether a domain holds some value of [lb, ub], by the rule its intersection keeps members:
  /// an integer interval only an integer of [lb, ub].
  static bool holdsValueIn(const AbstractDomain& dom, double lb, double ub);
  /// Whether two domains share a value: an integer interval and a real one only an integer.
  static bool shareValue(const AbstractDomain& a, const AbstractDomain& b);
  /// Whether `container` holds every value of `dom`, each looked up by its own value, so that
  /// kinds compare alike both ways: an integer interval holds no real beside its integers, and a
  /// real interval holds an integer interval between its ends. An open container may still gain
  /// any value, so it counts as holding every one; an open `dom`, which may too, is held by none.
  static bool holdsEveryValueOf(const AbstractDomain& container, const AbstractDomain& dom);
  /// Whether two closed domains hold the same values, each every value of the other: an integer
  /// [-2, -2] and the reals {-2.6, -2} differ, read from either side.
  static bool sameValues(const AbstractDomain& a, const AbstractDomain& b) {
    return a.isClosed() && b.isClosed() && holdsEveryValueOf(a, b) && holdsEveryValueOf(b, a);
  }

private:
  // Whether hi lies above lo by delta however it is measured: by the difference, or with delta
  // added to lo (AbstractDomain::lt()) or taken from hi (AbstractDomain::leq()).
  static bool apartBy(double lo, double hi, double delta) {
    return hi - lo >= delta && lo + delta <= hi && hi - delta >= lo;
  }
};

} // namespace KALDEN

#endif
