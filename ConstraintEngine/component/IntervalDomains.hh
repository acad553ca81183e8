#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_INTERVALDOMAINS_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_INTERVALDOMAINS_HH

#include "ConstraintEngine/base/AbstractDomain.hh"

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
  ~IntervalDomain() override;

  /// Assigns another interval's bounds through the checked virtual assignment.
  IntervalDomain& operator=(const IntervalDomain& dom) {
    operator=(static_cast<const AbstractDomain&>(dom));
    return *this;
  }

  bool isEmpty() const override;
  bool isFinite() const override;
  bool isSingleton() const override;
  int getSize() const override;
  double getUpperBound() const override { return m_ub; }
  double getLowerBound() const override { return m_lb; }
  bool getBounds(double& lb, double& ub) const override;
  void getValues(std::list<double>& results) const override;
  double getSingletonValue() const override;
  void empty() override;
  void set(double value) override;
  void reset(const AbstractDomain& dom) override;
  void relax(const AbstractDomain& dom) override;
  /// Refills an emptied domain with one value; anything but an empty domain or that singleton is refused.
  void relax(double value) override;
  void insert(double value) override;
  void insert(const std::list<double>& values) override;
  void remove(double value) override;
  bool intersect(const AbstractDomain& dom) override;
  bool intersect(double lb, double ub) override;
  bool difference(const AbstractDomain& dom) override;
  /// Takes another interval's bounds; only a domain without listener may be assigned.
  AbstractDomain& operator=(const AbstractDomain& dom) override;
  bool equate(AbstractDomain& dom) override;
  bool isMember(double value) const override;
  bool isSubsetOf(const AbstractDomain& dom) const override;
  bool intersects(const AbstractDomain& dom) const override;
  bool operator==(const AbstractDomain& dom) const override;
  bool operator!=(const AbstractDomain& dom) const override;
  AbstractDomain* copy() const override;
  /// Appends "[lb, ub]" after the base prefix, infinite bounds as "-inf" and "+inf".
  std::ostream& operator>>(std::ostream& os) const override;
  /// Clamps the number to the infinities; a number that is not a number fails a check.
  double translateNumber(double number, bool asMin = true) const override;
  bool convertToMemberValue(const std::string& strValue, double& dblValue) const override;
  void testPrecision(const double& value) const override;
  /// The value this kind of interval stores for a number (the identity for reals).
  virtual double convert(const double& value) const;

  /// Widens to [lb, ub], which must contain the domain unless it is empty; true when it widened.
  bool relax(double lb, double ub);

protected:
  /// The bound-limit checks every constructor but the copy one ends with.
  void commonInit();
  /// Applies the precision test to a bound about to be stored and returns it.
  double check(const double& value) const;

  double m_ub;
  double m_lb;
};

/**
 * Every integer between two bounds, both included: a real interval with
 * tolerance 1 whose bounds are always integral. Ranges are rounded inward,
 * and it may grow by one neighbouring integer at a time.
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
  bool isSingleton() const override;
  /// Appends every integer from the lower to the upper bound.
  void getValues(std::list<double>& results) const override;
  /// Adds a member, the integer just below the lower or just above the upper bound.
  void insert(double value) override;
  bool intersect(const AbstractDomain& dom) override;
  /// Rounds the range inward, then restricts to it.
  bool intersect(double lb, double ub) override;
  AbstractDomain* copy() const override;
  /// Makes a computed bound integral: a minimum rounds up, a maximum down.
  double translateNumber(double number, bool asMin = true) const override;
  /// Refuses a value that is not integral.
  void testPrecision(const double& value) const override;
  /// Truncates toward zero.
  double convert(const double& value) const override;
};

/**
 * The boolean domain: the integer interval [0, 1], 0 for false, 1 for true.
 * Ranges given to it are put in order and made boolean first.
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
  bool intersect(const AbstractDomain& dom) override;
  /// Orders the pair and makes each bound boolean, then restricts to it.
  bool intersect(double lb, double ub) override;
  AbstractDomain* copy() const override;
  /// Refuses anything but 0 and 1.
  void testPrecision(const double& value) const override;
};

} // namespace KALDEN

#endif
