#ifndef KALDEN_CONSTRAINTENGINE_BASE_ABSTRACTDOMAIN_HH
#define KALDEN_CONSTRAINTENGINE_BASE_ABSTRACTDOMAIN_HH

#include "Utils/Globals.hh"
#include "Utils/LabelStr.hh"
#include "Utils/base/Id.hh"

#include <iosfwd>
#include <list>
#include <string>

/// The bound that stands for plus infinity; read afresh at each use, never stored.
#define PLUS_INFINITY (static_cast<double>(::KALDEN::g_infiniteTime()))
/// The bound that stands for minus infinity; read afresh at each use, never stored.
#define MINUS_INFINITY (static_cast<double>(-::KALDEN::g_infiniteTime()))

namespace KALDEN {

class AbstractDomain;
class DataType;

/**
 * Observer of one domain: told of every change the domain makes, by kind,
 * after the change is made. Whoever creates a listener owns it; the domain
 * holds it by handle only.
 */
class DomainListener {
public:
  /// The kinds of change a domain reports; the first five are the restrictions.
  /// Every int is a valid value, so any number passed on can be named or refused safely.
  enum ChangeType : int {
    UPPER_BOUND_DECREASED = 0,
    LOWER_BOUND_INCREASED,
    BOUNDS_RESTRICTED,
    VALUE_REMOVED,
    RESTRICT_TO_SINGLETON,
    SET_TO_SINGLETON,
    RESET,
    RELAXED,
    CLOSED,
    OPENED,
    EMPTIED
  };

  /// Registers the listener's own handle.
  DomainListener();
  /// Removes the listener's handle; domains still holding it fail their next report.
  virtual ~DomainListener();
  DomainListener(const DomainListener&) = delete;
  DomainListener& operator=(const DomainListener&) = delete;

  /// The listener's own handle, to be attached to a domain.
  const Id<DomainListener>& getId() const { return m_id; }

  /// Receives one change of the domain this listener is attached to.
  virtual void notifyChange(const ChangeType& changeType) = 0;

  /// The domain holding every value the listened domain may take (a variable's base domain), or
  /// null when nothing bounds it.
  virtual const AbstractDomain* enclosingDomain() const { return nullptr; }

  /// Whether a change kind only narrows a domain that keeps a value.
  static bool isRestriction(const ChangeType& changeType);

  /// The change kind's name, or "ERROR" for a value outside the enumeration.
  static std::string toString(const ChangeType& changeType);

  /// How many listeners have gone so far: a domain compares it across a report to learn, at the
  /// cost of a load, whether its holder may have gone meanwhile.
  static unsigned long goneCount() { return s_goneCount; }

private:
  static unsigned long s_goneCount;
  Id<DomainListener> m_id;
};

/**
 * The process-wide policy that decides whether two domains may be combined.
 * Constructing a comparator makes it current; clients derive their own and
 * override canCompare(). A comparator is never deleted by a replacement.
 */
class DomainComparator {
public:
  /// Makes the new comparator the current one.
  DomainComparator();
  /// Leaves no comparator current if this one was.
  virtual ~DomainComparator();
  DomainComparator(const DomainComparator&) = delete;
  DomainComparator& operator=(const DomainComparator&) = delete;

  /// Whether the two domains may be combined; by default, whether their data types can be compared.
  virtual bool canCompare(const AbstractDomain& domx, const AbstractDomain& domy) const;

  /// The current comparator; installs a default one when none is current.
  static const DomainComparator& getComparator();
  /// Makes the given comparator (null included) current; the replaced one is not deleted.
  static void setComparator(DomainComparator* comparator);
  /// Whether no comparator is current.
  static bool comparatorIsNull();

private:
  // Asks s_instance and s_default directly to answer the common question without a call.
  friend class AbstractDomain;

  static DomainComparator* s_instance;
  // The default comparator the system made itself; kept so it is reused, never leaked.
  static DomainComparator* s_default;
};

/**
 * The set of values a variable may still take. Every value is a double.
 * Holds the data type, the open/closed state, the single listener and the
 * comparison tolerance; everything that depends on how values are stored is
 * supplied by the concrete domains. Every change is reported through
 * notifyChange().
 */
class AbstractDomain {
public:
  /// A domain of the given type; `enumerated` for the enumeration family, `closed` for final membership.
  AbstractDomain(const Id<DataType>& dt, bool enumerated, bool closed);
  /// Copies type, flags and tolerance; the copy has no listener.
  AbstractDomain(const AbstractDomain& org);
  /// Ends the domain; neither the listener nor the data type is told.
  virtual ~AbstractDomain();

  /// Whether no value remains.
  virtual bool isEmpty() const = 0;
  /// Whether the values can be listed one by one.
  virtual bool isFinite() const = 0;
  /// Whether a numeric domain is closed, non-empty and strictly inside the infinities (true if not numeric).
  virtual bool areBoundsFinite() const;
  /// Whether exactly one value remains.
  virtual bool isSingleton() const = 0;
  /// The number of values.
  virtual int getSize() const = 0;
  /// The largest value.
  virtual double getUpperBound() const = 0;
  /// The smallest value.
  virtual double getLowerBound() const = 0;
  /// Writes both bounds; answers whether a bound is infinite.
  virtual bool getBounds(double& lb, double& ub) const = 0;
  /// Appends the domain's values to the list.
  virtual void getValues(std::list<double>& results) const = 0;
  /// The one remaining value.
  virtual double getSingletonValue() const = 0;

  /// Makes membership final (reports CLOSED, then EMPTIED if nothing is left).
  virtual void close();
  /// Makes membership open again (reports OPENED).
  virtual void open();
  /// Removes every value (reports EMPTIED).
  virtual void empty() = 0;
  /// Restricts the domain to one value (reports SET_TO_SINGLETON).
  virtual void set(double value) = 0;
  /// Takes the values of another domain (reports RESET).
  virtual void reset(const AbstractDomain& dom) = 0;
  /// Widens to a larger domain (reports RELAXED).
  virtual void relax(const AbstractDomain& dom) = 0;
  /// Makes an emptied domain hold one value again (reports RELAXED).
  virtual void relax(double value) = 0;
  /// Adds a value.
  virtual void insert(double value) = 0;
  /// Adds several values.
  virtual void insert(const std::list<double>& values) = 0;
  /// Removes a value.
  virtual void remove(double value) = 0;
  /// Restricts to the values common with another domain; true when changed.
  virtual bool intersect(const AbstractDomain& dom) = 0;
  /// Restricts to the closed range [lb, ub]; true when changed.
  virtual bool intersect(double lb, double ub) = 0;
  /// Removes another domain's values; true when changed.
  virtual bool difference(const AbstractDomain& dom) = 0;
  /// Assignment of values; the base copies nothing, every concrete domain supplies its own.
  virtual AbstractDomain& operator=(const AbstractDomain& dom);
  /// Restricts both domains to their common values; true when either changed.
  virtual bool equate(AbstractDomain& dom) = 0;
  /// Whether a value belongs to the domain.
  virtual bool isMember(double value) const = 0;
  /// Whether every value of this domain belongs to another.
  virtual bool isSubsetOf(const AbstractDomain& dom) const = 0;
  /// Whether the two domains share a value.
  virtual bool intersects(const AbstractDomain& dom) const = 0;
  /// The shared part of equality: same closed flag and same finiteness.
  virtual bool operator==(const AbstractDomain& dom) const;
  /// The negation of the (overridden) equality.
  virtual bool operator!=(const AbstractDomain& dom) const;
  /// Attaches the one listener, once; a closed domain reports CLOSED (and EMPTIED) to it at once.
  virtual void setListener(const Id<DomainListener>& listener);
  /// The listener's handle, empty when none is attached.
  virtual const Id<DomainListener>& getListener() const;
  /// A new heap copy, owned by the caller, without listener.
  virtual AbstractDomain* copy() const = 0;
  /// The printed form (fixed notation for real-valued domains).
  virtual std::string toString() const;
  /// Writes the type name and ":CLOSED" or ":OPEN"; concrete domains append their contents.
  virtual std::ostream& operator>>(std::ostream& os) const;
  /// The comparison tolerance.
  virtual double minDelta() const { return m_minDelta; }
  /// The bound this domain can hold for a computed number (`asMin` for a lower bound).
  virtual double translateNumber(double number, bool asMin = true) const;
  /// Converts a text to a value, writes it, and answers whether it is a member.
  virtual bool convertToMemberValue(const std::string& strValue, double& dblValue) const = 0;
  /// Tolerant equality: the values differ by less than minDelta().
  virtual bool compareEqual(double a, double b) const;
  /// Whether a value may be stored here (fails a check for a value of the wrong precision).
  virtual bool check_value(double value) const;
  /// Fails a check when the value cannot belong to this kind of domain.
  virtual void testPrecision(const double& value) const = 0;

  /// The data type of the values.
  const Id<DataType>& getDataType() const { return m_dataType; }
  /// Retypes the domain (used by restricted data types).
  void setDataType(const Id<DataType>& dt) { m_dataType = dt; }
  /// The data type's name.
  const LabelStr& getTypeName() const;
  /// Whether membership is still open.
  bool isOpen() const { return !m_closed; }
  /// Whether membership is final.
  bool isClosed() const { return m_closed; }
  /// Whether the domain is an enumeration.
  bool isEnumerated() const { return m_enumerated; }
  /// Whether the domain is an interval.
  bool isInterval() const { return !isEnumerated(); }
  /// Whether the values cannot be listed one by one.
  bool isInfinite() const { return !isFinite(); }
  /// Whether the values are numbers.
  bool isNumeric() const;
  /// Whether the values are booleans.
  bool isBool() const;
  /// Whether the values are string labels.
  bool isString() const;
  /// Whether the values are symbols.
  bool isSymbolic() const;
  /// Whether the values are entities.
  bool isEntity() const;
  /// Whether the domain's data type is a restricted type.
  bool isRestricted() const;
  /// Tolerant a < b: a lies below b by at least minDelta().
  bool lt(double a, double b) const { return (a + minDelta()) <= b; }
  /// Tolerant a <= b: a exceeds b by less than minDelta().
  bool leq(double a, double b) const { return (a - minDelta()) < b; }
  /// Tolerant equality, the virtual compareEqual().
  bool eq(double a, double b) const { return compareEqual(a, b); }
  /// Reports BOUNDS_RESTRICTED without changing anything.
  void touch();
  /// Whether a touch() is being reported: listeners hear a restriction, yet nothing was removed.
  static bool isReportingTouch() { return s_reportingTouch; }
  /// Reports one change to the listener (a restriction leaving one value as RESTRICT_TO_SINGLETON).
  void notifyChange(const DomainListener::ChangeType& changeType);
  /// The text of one member value, as the data type writes it.
  std::string toString(double value) const;

  /// Whether two domains may be combined, as the current comparator says.
  static bool canBeCompared(const AbstractDomain& domx, const AbstractDomain& domy);
  /// Fails a check when two domains may not be combined.
  static void assertSafeComparison(const AbstractDomain& domA, const AbstractDomain& domB);

protected:
  /// Watches, across a report, whether the domain's holder survives it: a listener of the engine
  /// told of a change may delete the variable holding the domain, after which the domain must
  /// not be touched. Only operations that report more than once, or read the domain after a
  /// report, use it: a single report made last needs no watch.
  class HolderWatch {
  public:
    /// Watches the domain's listener as it stands now.
    explicit HolderWatch(const AbstractDomain& dom)
        : m_listener(dom.m_listener), m_goneBefore(DomainListener::goneCount()) {}
    /// Whether the listener the domain had went since: its holder is gone, and the domain with it.
    bool holderGone() const {
      return DomainListener::goneCount() != m_goneBefore && m_listener.isId() && !m_listener.isValid();
    }

  private:
    Id<DomainListener> m_listener;
    unsigned long m_goneBefore;
  };

  /// Reports a change whose kind already says whether it left one value: as notifyChange(),
  /// without asking isSingleton() again. For callers that have just asked it themselves.
  void notifyDecidedChange(const DomainListener::ChangeType& changeType);

  Id<DataType> m_dataType;
  bool m_enumerated;
  bool m_closed;
  Id<DomainListener> m_listener;
  double m_minDelta;

private:
  // Set while touch() reports: the engine does not count a touch as a narrowing.
  static bool s_reportingTouch;
};

/// Writes a domain's full printed form.
std::ostream& operator<<(std::ostream& os, const AbstractDomain& dom);

} // namespace KALDEN

#endif
