#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_INTERVALDOMAINS_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_INTERVALDOMAINS_HH

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "Utils/Globals.hh"

#include <list>
#include <string>

namespace KALDEN {

/**
 * Every real between a lower and an upper bound, both included, compared
 * with the tolerance minDelta(). Always closed; never holds a gap, so
 * removing an inner value and inserting are refused.
 */
class IntervalDomain : public AbstractDomain {
public:
  /// The unbounded interval [MINUS_INFINITY, PLUS_INFINITY].
  IntervalDomain(const Id<DataType>& dt);
  /// The singleton [value, value].
  IntervalDomain(double value, const Id<DataType>& dt);
  /// [lb, ub]; an inverted pair gives an empty domain.
  IntervalDomain(double lb, double ub, const Id<DataType>& dt);
  /// The bounds, type, closed flag and tolerance of another interval; no listener.
  IntervalDomain(const AbstractDomain& org);
  /// Copy without listener.
  IntervalDomain(const IntervalDomain& org);
  /// Ends the interval; nobody is told.
  ~IntervalDomain() override;

  /// Assigns another interval's bounds through the checked virtual assignment.
  IntervalDomain& operator=(const IntervalDomain& dom) {
    operator=(static_cast<const AbstractDomain&>(dom));
    return *this;
  }

  /// Whether the upper bound lies below the lower by at least the tolerance.
  bool isEmpty() const override;
  /// Whether the interval is empty or a singleton with finite bounds.
  bool isFinite() const override;
  /// Whether the bounds are equal within the tolerance.
  bool isSingleton() const override;
  /// 0 when empty, 1 for a singleton, the infinite-time value when not finite, else ub - lb + 1.
  int getSize() const override;
  /// The upper bound.
  double getUpperBound() const override { return m_ub; }
  /// The lower bound.
  double getLowerBound() const override { return m_lb; }
  /// Writes both bounds; true when one is infinite.
  bool getBounds(double& lb, double& ub) const override;
  /// Appends the one value of a singleton (its lower bound).
  void getValues(std::list<double>& results) const override;
  /// The one value of a singleton (its upper bound).
  double getSingletonValue() const override;
  /// Makes the interval empty and reports EMPTIED, even if it already was.
  void empty() override;
  /// Narrows to a member value (SET_TO_SINGLETON), or empties for a non-member.
  void set(double value) override;
  /// Widens to a different containing interval (RELAXED), then reports RESET.
  void reset(const AbstractDomain& dom) override;
  /// Widens to another interval's bounds.
  void relax(const AbstractDomain& dom) override;
  /// Refills an emptied domain with one value; anything but an empty domain or that singleton is refused.
  void relax(double value) override;
  /// Always refused: an interval cannot gain a value out of line.
  void insert(double value) override;
  /// Always refused, like inserting one value.
  void insert(const std::list<double>& values) override;
  /// Removes a value at either end; an inner value is refused.
  void remove(double value) override;
  /// Narrows to a comparable, non-empty domain's bounds.
  bool intersect(const AbstractDomain& dom) override;
  /// Narrows to [lb, ub], reporting which bounds moved.
  bool intersect(double lb, double ub) override;
  /// Removes the part of another domain covering one end; a split is refused.
  bool difference(const AbstractDomain& dom) override;
  /// Takes another interval's bounds; only a domain without listener may be assigned.
  AbstractDomain& operator=(const AbstractDomain& dom) override;
  /// Narrows both domains to their common part.
  bool equate(AbstractDomain& dom) override;
  /// Whether a value of this precision lies within the bounds, with tolerance.
  bool isMember(double value) const override;
  /// Whether the interval lies within another domain.
  bool isSubsetOf(const AbstractDomain& dom) const override;
  /// Whether the interval overlaps another domain.
  bool intersects(const AbstractDomain& dom) const override;
  /// Equal bounds within the tolerance, same closed flag and finiteness.
  bool operator==(const AbstractDomain& dom) const override;
  /// The negation of equality.
  bool operator!=(const AbstractDomain& dom) const override;
  /// A heap copy of this interval, without listener.
  AbstractDomain* copy() const override;
  /// Appends "[lb, ub]" after the base prefix, infinite bounds as "-inf" and "+inf".
  std::ostream& operator>>(std::ostream& os) const override;
  /// Clamps the number to the infinities; a number that is not a number fails a check.
  double translateNumber(double number, bool asMin = true) const override;
  /// Reads a number from text; writes and accepts it only if it is a member.
  bool convertToMemberValue(const std::string& strValue, double& dblValue) const override;
  /// Accepts every value.
  void testPrecision(const double&) const override {}
  /// The value this kind of interval stores for a number (the identity for reals).
  virtual double convert(const double& value) const;

  /// Widens to [lb, ub], which must contain the domain unless it is empty; true when it widened.
  bool relax(double lb, double ub);

protected:
  /// The bound-limit checks every constructor but the copy one ends with.
  void commonInit();
  /// Whether [lb, ub] reaches beyond a bound, by any amount: a point taken from an interval
  /// narrower than the tolerance widens back to it. An empty interval widens to anything.
  bool widensTo(double lb, double ub) const;
  /// Raises the lower bound the tolerance past `value` (apartAbove()), however little it moves.
  /// A step past the upper bound empties the interval, as every value it holds then equals
  /// `value`, unless rounding alone put it there: the upper bound is then the one value left.
  void stepAbove(double value);
  /// Lowers the upper bound the tolerance below `value`, as stepAbove() raises the lower.
  void stepBelow(double value);
  /// Whether every value of this non-empty interval is a member of the closed enumeration.
  bool holdsValuesWithin(const AbstractDomain& enumeration) const;
  /// The number brought within [MINUS_INFINITY, PLUS_INFINITY]; zero (or a number that is not
  /// a number) gives 0.0. The infinity is read once, as nothing can change it meanwhile.
  static double clampToInfinities(double number) {
    const int infinity = g_infiniteTime();
    if (number < 0.0)
      return number < static_cast<double>(-infinity) ? static_cast<double>(-infinity) : number;
    if (number > 0.0)
      return number > static_cast<double>(infinity) ? static_cast<double>(infinity) : number;
    return 0.0;
  }
  /// Applies the precision test to a bound about to be stored and returns it.
  double check(const double& value) const {
    testPrecision(value);
    return value;
  }
  /// The body of intersect(lb, ub). `Calls` reaches the domain's own overridable operations:
  /// through the virtual table, or directly for a domain whose exact class is known
  /// (ConstraintEngine/component/IntervalNarrowing.hh).
  template <class Calls>
  bool narrowTo(double lb, double ub);

  double m_ub;
  double m_lb;
};

/**
 * Every integer between two bounds, both included: a real interval with
 * tolerance 1 whose bounds are always integral. Ranges are rounded inward
 * (an integer within the real tolerance of a bound counts as inside), and it
 * may grow by one neighbouring integer at a time.
 */
class IntervalIntDomain : public IntervalDomain {
public:
  /// The unbounded integer interval.
  IntervalIntDomain(const Id<DataType>& dt);
  /// [lb, ub]; an inverted pair gives an empty domain.
  IntervalIntDomain(int lb, int ub, const Id<DataType>& dt);
  /// The singleton [value, value].
  IntervalIntDomain(int value, const Id<DataType>& dt);
  /// Converts another interval, whose bounds must be integral.
  IntervalIntDomain(const AbstractDomain& org);
  /// Copy without listener.
  IntervalIntDomain(const IntervalIntDomain& org);
  /// Ends the interval; nobody is told.
  ~IntervalIntDomain() override;

  /// Assigns another interval's bounds through the checked virtual assignment.
  IntervalIntDomain& operator=(const IntervalIntDomain& dom) {
    IntervalDomain::operator=(static_cast<const AbstractDomain&>(dom));
    return *this;
  }
  using IntervalDomain::operator=;
  using IntervalDomain::insert;

  /// Whether both bounds lie strictly within the int range.
  bool isFinite() const override;
  /// Whether the bounds are equal (exactly).
  bool isSingleton() const override { return m_lb == m_ub; }
  /// Appends every integer from the lower to the upper bound.
  void getValues(std::list<double>& results) const override;
  /// Adds a member, the integer just below the lower or just above the upper bound.
  void insert(double value) override;
  /// Whether the value, or the integer within the real tolerance of it, lies within the bounds.
  bool isMember(double value) const override;
  /// Removes a value at either end; a value within the real tolerance of an integer removes that integer.
  void remove(double value) override;
  /// Narrows to a member value (an integer within the real tolerance of it), or empties for a non-member.
  void set(double value) override;
  /// Narrows to a comparable, non-empty domain's integers.
  bool intersect(const AbstractDomain& dom) override;
  /// Rounds the range inward to integers, keeping one within the tolerance of a bound, then restricts to it.
  bool intersect(double lb, double ub) override;
  /// A heap copy of this integer interval, without listener.
  AbstractDomain* copy() const override;
  /// Makes a computed bound integral: a minimum rounds up, a maximum down, an integer within the tolerance kept.
  double translateNumber(double number, bool asMin = true) const override;
  /// Refuses a value that is not integral.
  void testPrecision(const double& value) const override {
    // Inline, as every stored bound passes it; only the failure is reported out of line.
    if (static_cast<double>(truncateToInt(value)) != value)
      refuseImprecise(value);
  }
  /// Truncates toward zero.
  double convert(const double& value) const override;

private:
  // Fails the precision check for a value that is not integral.
  [[gnu::noinline, gnu::cold]] void refuseImprecise(const double& value) const;
  // The integer a value stands for: the value itself, or the integer within the real tolerance
  // of a value a hair beside it. Any other value is returned as it is.
  static double integerNear(double value);
};

/**
 * The boolean domain: the integer interval [0, 1], 0 for false, 1 for true.
 * It narrows by value, as the set {0, 1}: a range keeps the values it holds.
 */
class BoolDomain : public IntervalIntDomain {
public:
  /// [0, 1]: either value.
  BoolDomain(const Id<DataType>& dt);
  /// The one given value.
  BoolDomain(bool value, const Id<DataType>& dt);
  /// Converts another interval.
  BoolDomain(const AbstractDomain& org);
  /// Copy without listener.
  BoolDomain(const BoolDomain& org);
  /// Ends the domain; nobody is told.
  ~BoolDomain() override;

  /// Assigns another boolean domain's bounds through the checked virtual assignment.
  BoolDomain& operator=(const BoolDomain& dom) {
    IntervalDomain::operator=(static_cast<const AbstractDomain&>(dom));
    return *this;
  }
  using IntervalDomain::operator=;

  /// Whether only true remains.
  bool isTrue() const;
  /// Whether only false remains.
  bool isFalse() const;

  /// Always true.
  bool isFinite() const override;
  /// Narrows to the values of [0, 1] within a comparable, non-empty domain's bounds.
  bool intersect(const AbstractDomain& dom) override;
  /// Keeps 0 when lb <= 0 <= ub and 1 when lb <= 1 <= ub; a reversed pair empties it.
  bool intersect(double lb, double ub) override;
  /// A heap copy of this boolean domain, without listener.
  AbstractDomain* copy() const override;
  /// Refuses anything but 0 and 1.
  void testPrecision(const double& value) const override;
};

} // namespace KALDEN

#endif
