#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_ENUMERATEDDOMAINS_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_ENUMERATEDDOMAINS_HH

#include "ConstraintEngine/base/AbstractDomain.hh"

#include <iosfwd>
#include <list>
#include <set>
#include <string>

namespace KALDEN {

/// Whether every member is not less than the one before it (true for an empty set).
bool isAscending(const std::set<double>& values);

/**
 * A domain holding an explicit, ordered set of values: numbers, or symbols
 * and strings held as label keys. While open it collects members through
 * insert(); once closed its members only leave, are set, replaced, relaxed or
 * reset. Two values are the same member when they differ by less than
 * minDelta().
 */
class EnumeratedDomain : public AbstractDomain {
public:
  /// An open, empty enumeration.
  explicit EnumeratedDomain(const Id<DataType>& dt);
  /// The closed enumeration {value}.
  EnumeratedDomain(const Id<DataType>& dt, double value);
  /// A closed enumeration of the values (one member per tolerance-distinct value).
  EnumeratedDomain(const Id<DataType>& dt, const std::list<double>& values);
  /// A copy of another enumeration, open or closed as it is, without listener.
  explicit EnumeratedDomain(const AbstractDomain& org);
  /// A copy, open or closed as the source, without listener.
  EnumeratedDomain(const EnumeratedDomain& org);
  /// Ends the domain; nothing is reported.
  ~EnumeratedDomain() override;

  /// Assigns the members of another enumeration (see operator=(const AbstractDomain&)).
  EnumeratedDomain& operator=(const EnumeratedDomain& dom);

  /// The members, ascending.
  const std::set<double>& getValues() const { return m_values; }
  /// The enumeration behind a domain that reports itself enumerated (told by its exact type
  /// first, which costs far less than a cast).
  static const EnumeratedDomain& asEnumeration(const AbstractDomain& dom);

  /// Whether there are no members.
  bool isEmpty() const override;
  /// Always true: the members can be listed.
  bool isFinite() const override;
  /// Whether there is exactly one member.
  bool isSingleton() const override;
  /// The number of members.
  int getSize() const override;
  /// The largest member.
  double getUpperBound() const override;
  /// The smallest member.
  double getLowerBound() const override;
  /// Smallest and largest member; for numbers, whether either is an infinity (always true otherwise).
  bool getBounds(double& lb, double& ub) const override;
  /// Appends the members, ascending, to an empty list.
  void getValues(std::list<double>& results) const override;
  /// The one member.
  double getSingletonValue() const override;

  /// Closes the member set (CLOSED, then EMPTIED if it has no members).
  void close() override;
  /// Removes every member (EMPTIED).
  void empty() override;
  /// Keeps only `value` if it is a member, else empties; an open domain is closed first.
  void set(double value) override;
  /// Takes the members of another enumeration (RELAXED if that widened it, then RESET).
  void reset(const AbstractDomain& dom) override;
  /// Widens to a larger enumeration (OPENED if it is open, then RELAXED).
  void relax(const AbstractDomain& dom) override;
  /// Puts `value` back into an emptied domain (RELAXED); a domain that is already {value} stays.
  void relax(double value) override;
  /// Adds a member to an open domain (nothing if a member lies within minDelta()).
  void insert(double value) override;
  /// Adds each value in turn.
  void insert(const std::list<double>& values) override;
  /// Removes the first member within minDelta() of `value`, if any.
  void remove(double value) override;
  /// Keeps the members `dom` holds; an open domain takes a closed enumeration's members (a
  /// variable's current domain only those its base holds, and waits, open, if that leaves it
  /// nothing while it holds nothing) and closes (CLOSED, then RELAXED if it gained a member).
  bool intersect(const AbstractDomain& dom) override;
  /// Keeps the members within the tolerance of [lb, ub], even a reversed pair; refused for symbolic domains.
  bool intersect(double lb, double ub) override;
  /// Removes the members `dom` holds.
  bool difference(const AbstractDomain& dom) override;
  /// Takes the members of another enumeration; only without listener. State and reports unchanged.
  EnumeratedDomain& operator=(const AbstractDomain& dom) override;
  /// Narrows both domains to their common members.
  bool equate(AbstractDomain& dom) override;
  /// Whether a member lies within minDelta() of `value`.
  bool isMember(double value) const override;
  /// Whether `dom` holds every member (always when `dom` is open, never when this is).
  bool isSubsetOf(const AbstractDomain& dom) const override;
  /// Whether `dom` holds some member (always when either is open).
  bool intersects(const AbstractDomain& dom) const override;
  /// Same state and the same members within minDelta() (an interval: the same finite set of values).
  bool operator==(const AbstractDomain& dom) const override;
  /// The negation of operator==.
  bool operator!=(const AbstractDomain& dom) const override;
  /// A new heap copy, owned by the caller, without listener.
  AbstractDomain* copy() const override;
  /// Appends "{", the member texts and "}" to the type and state.
  std::ostream& operator>>(std::ostream& os) const override;
  /// Reads a number (numeric domains) or a label from text; true when it is a member.
  bool convertToMemberValue(const std::string& strValue, double& dblValue) const override;
  /// Accepts every value but NaN, which no ordered member set can hold.
  void testPrecision(const double& value) const override;

  /// The two-sided narrowing of two closed enumerations to their common members.
  bool equateClosedEnumerations(EnumeratedDomain& dom);

protected:
  // The member set, for subclasses that place a value directly.
  std::set<double> m_values;

private:
  // The same, writable.
  static EnumeratedDomain& asEnumeration(AbstractDomain& dom);
  // Exactly equal, or equal within minDelta().
  bool sameValue(double a, double b) const { return a == b || compareEqual(a, b); }
  // Tolerant membership on the member set alone (what a closed domain answers).
  bool hasMember(double value) const;
  // Adds a checked value unless a member lies within minDelta().
  void addMember(double value);
  // The first member within minDelta() of `value`, or end().
  std::set<double>::iterator findMember(double value);
  // Reports the narrowing of a member set: EMPTIED, RESTRICT_TO_SINGLETON or VALUE_REMOVED.
  void notifyNarrowed();
  // set() of an open domain: closes it and sets the value, then reports both.
  void setWhileOpen(double value);
};

/// An enumeration of numbers.
class NumericDomain : public EnumeratedDomain {
public:
  /// An open, empty enumeration.
  explicit NumericDomain(const Id<DataType>& dt);
  /// The closed enumeration {value}.
  NumericDomain(double value, const Id<DataType>& dt);
  /// A closed enumeration of the values.
  NumericDomain(const std::list<double>& values, const Id<DataType>& dt);
  /// A copy of another enumeration, without listener.
  explicit NumericDomain(const AbstractDomain& org);
  /// A copy, without listener.
  NumericDomain(const NumericDomain& org);
  /// Ends the domain; nothing is reported.
  ~NumericDomain() override;

  using EnumeratedDomain::operator=;
  /// Assigns the members of another enumeration.
  NumericDomain& operator=(const NumericDomain& dom);

  /// A new NumericDomain, owned by the caller, without listener.
  AbstractDomain* copy() const override;
};

/// An enumeration of symbols, held as label keys.
class SymbolDomain : public EnumeratedDomain {
public:
  /// An open, empty enumeration.
  explicit SymbolDomain(const Id<DataType>& dt);
  /// The closed enumeration {value}.
  SymbolDomain(double value, const Id<DataType>& dt);
  /// A closed enumeration of the values.
  SymbolDomain(const std::list<double>& values, const Id<DataType>& dt);
  /// A copy of another enumeration, without listener.
  explicit SymbolDomain(const AbstractDomain& org);
  /// A copy, without listener.
  SymbolDomain(const SymbolDomain& org);
  /// Ends the domain; nothing is reported.
  ~SymbolDomain() override;

  using EnumeratedDomain::operator=;
  /// Assigns the members of another enumeration.
  SymbolDomain& operator=(const SymbolDomain& dom);

  /// A new SymbolDomain, owned by the caller, without listener.
  AbstractDomain* copy() const override;
};

/**
 * An enumeration of strings, held as label keys, with a text interface.
 * While open it counts every value as a member.
 */
class StringDomain : public EnumeratedDomain {
public:
  /// An open, empty enumeration (every value counts as a member).
  explicit StringDomain(const Id<DataType>& dt);
  /// The closed enumeration {value}.
  StringDomain(double value, const Id<DataType>& dt);
  /// The closed enumeration {the label of value}.
  StringDomain(const std::string& value, const Id<DataType>& dt);
  /// A closed enumeration of the values.
  StringDomain(const std::list<double>& values, const Id<DataType>& dt);
  /// A copy of another enumeration, without listener.
  explicit StringDomain(const AbstractDomain& org);
  /// A copy, without listener.
  StringDomain(const StringDomain& org);
  /// Ends the domain; nothing is reported.
  ~StringDomain() override;

  using EnumeratedDomain::operator=;
  /// Assigns the members of another enumeration.
  StringDomain& operator=(const StringDomain& dom);

  using EnumeratedDomain::insert;
  using EnumeratedDomain::isMember;
  using EnumeratedDomain::set;

  /// Sets the domain to one label key, placing it first if the domain is empty or open.
  void set(double value) override;
  /// Adds a member to an open domain.
  void insert(double value) override;
  /// True for every value while open; else whether a member lies within minDelta().
  bool isMember(double value) const override;
  /// A new StringDomain, owned by the caller, without listener.
  AbstractDomain* copy() const override;

  /// Sets the domain to the label of a text.
  void set(const std::string& value);
  /// Adds the label of a text to an open domain.
  void insert(const std::string& value);
  /// Whether the label of a text is a member.
  bool isMember(const std::string& value) const;
};

} // namespace KALDEN

#endif
