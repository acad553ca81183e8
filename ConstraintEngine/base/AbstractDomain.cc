#define KALDEN_SOURCE "ConstraintEngine/base/AbstractDomain"

#include "ConstraintEngine/base/AbstractDomain.hh"

#include "ConstraintEngine/base/DataType.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "Utils/Error.hh"
#include "Utils/base/FlagScope.hh"
#include "Utils/base/Report.hh"

#include <ios>
#include <ostream>
#include <sstream>
#include <typeinfo>

namespace KALDEN {

namespace {

// Whether the data type is exactly one of the built-in number types: their predicates and
// comparison rule are the library's own, so the default rule says any two of them compare.
// Only the exact classes count, as a derived class may override either.
bool isBuiltInNumberType(const Id<DataType>& dt) {
  const std::type_info* type = &typeid(*dt.operator->());
  return type == &typeid(IntDT) || type == &typeid(FloatDT) || type == &typeid(BoolDT);
}

// Whether a change kind is a restriction: the first five kinds.
bool isRestrictionKind(DomainListener::ChangeType changeType) {
  return static_cast<int>(changeType) <= static_cast<int>(DomainListener::RESTRICT_TO_SINGLETON);
}

// Fails unless the listener handle is empty or still valid; answers whether there is one to tell.
bool hasListenerToTell(const Id<DomainListener>& listener) {
  KALDEN_CHECK_TEXT_MSG(listener.isNoId() || listener.isValid(), "m_listener.isNoId() || m_listener.isValid()",
                        listener);
  return !listener.isNoId();
}

} // namespace

// ---------------------------------------------------------------- DomainListener

DomainListener::DomainListener() : m_id(this) {}

unsigned long DomainListener::s_goneCount = 0;

DomainListener::~DomainListener() {
  NoThrowScope guard;
  ++s_goneCount;
  m_id.remove();
}

bool DomainListener::isRestriction(const ChangeType& changeType) { return isRestrictionKind(changeType); }

std::string DomainListener::toString(const ChangeType& changeType) {
  switch (changeType) {
  case UPPER_BOUND_DECREASED:
    return "UPPER_BOUND_DECREASED";
  case LOWER_BOUND_INCREASED:
    return "LOWER_BOUND_INCREASED";
  case BOUNDS_RESTRICTED:
    return "BOUNDS_RESTRICTED";
  case VALUE_REMOVED:
    return "VALUE_REMOVED";
  case RESTRICT_TO_SINGLETON:
    return "RESTRICT_TO_SINGLETON";
  case SET_TO_SINGLETON:
    return "SET_TO_SINGLETON";
  case RESET:
    return "RESET";
  case RELAXED:
    return "RELAXED";
  case CLOSED:
    return "CLOSED";
  case OPENED:
    return "OPENED";
  case EMPTIED:
    return "EMPTIED";
  }
  return "ERROR";
}

// ---------------------------------------------------------------- DomainComparator

DomainComparator* DomainComparator::s_instance = nullptr;
DomainComparator* DomainComparator::s_default = nullptr;

DomainComparator::DomainComparator() { s_instance = this; }

DomainComparator::~DomainComparator() {
  if (s_instance == this)
    s_instance = nullptr;
  if (s_default == this)
    s_default = nullptr;
}

bool DomainComparator::canCompare(const AbstractDomain& domx, const AbstractDomain& domy) const {
  return domx.getDataType()->canBeCompared(domy.getDataType());
}

const DomainComparator& DomainComparator::getComparator() {
  if (s_instance == nullptr) {
    // The system's own default is made once and reinstalled afterwards, so
    // uninstalling and asking again never strands a comparator.
    if (s_default == nullptr)
      s_default = new DomainComparator();
    s_instance = s_default;
  }
  return *s_instance;
}

void DomainComparator::setComparator(DomainComparator* comparator) { s_instance = comparator; }

bool DomainComparator::comparatorIsNull() { return s_instance == nullptr; }

// ---------------------------------------------------------------- AbstractDomain

AbstractDomain::AbstractDomain(const Id<DataType>& dt, bool enumerated, bool closed)
    : m_dataType(dt), m_enumerated(enumerated), m_closed(closed), m_listener(), m_minDelta(g_epsilon()) {}

AbstractDomain::AbstractDomain(const AbstractDomain& org)
    : m_dataType(org.m_dataType), m_enumerated(org.m_enumerated), m_closed(org.m_closed), m_listener(),
      m_minDelta(org.m_minDelta) {}

AbstractDomain::~AbstractDomain() {}

bool AbstractDomain::areBoundsFinite() const {
  if (!isNumeric())
    return true;
  if (isEmpty() || isOpen())
    return false;
  return getUpperBound() < PLUS_INFINITY && getLowerBound() > MINUS_INFINITY;
}

void AbstractDomain::close() {
  KALDEN_CHECK_MSG(isOpen(), "Attempted to close a domain that is already closed");
  m_closed = true;
  const HolderWatch watch(*this);
  notifyChange(DomainListener::CLOSED);
  if (!watch.holderGone() && isEmpty())
    empty();
}

void AbstractDomain::open() {
  KALDEN_CHECK_MSG(isClosed(), "Attempted to re-open a domain that is already open.");
  m_closed = false;
  notifyChange(DomainListener::OPENED);
}

AbstractDomain& AbstractDomain::operator=(const AbstractDomain&) { return *this; }

bool AbstractDomain::operator==(const AbstractDomain& dom) const {
  return m_closed == dom.m_closed && isFinite() == dom.isFinite();
}

bool AbstractDomain::operator!=(const AbstractDomain& dom) const { return !operator==(dom); }

void AbstractDomain::setListener(const Id<DomainListener>& listener) {
  KALDEN_CHECK(m_listener.isNoId());
  m_listener = listener;
  if (isClosed()) {
    const HolderWatch watch(*this);
    notifyChange(DomainListener::CLOSED);
    if (!watch.holderGone() && isEmpty())
      notifyChange(DomainListener::EMPTIED);
  }
}

const Id<DomainListener>& AbstractDomain::getListener() const { return m_listener; }

std::string AbstractDomain::toString() const {
  std::ostringstream os;
  if (isNumeric() && minDelta() < 1.0)
    os << std::fixed;
  os << *this;
  return os.str();
}

std::ostream& AbstractDomain::operator>>(std::ostream& os) const {
  os << getTypeName().toString() << (isClosed() ? ":CLOSED" : ":OPEN");
  return os;
}

double AbstractDomain::translateNumber(double number, bool) const { return number; }

bool AbstractDomain::compareEqual(double a, double b) const {
  if (a < b)
    return (b - a) < minDelta();
  return (a - b) < minDelta();
}

bool AbstractDomain::check_value(double value) const {
  testPrecision(value);
  if (isNumeric())
    return MINUS_INFINITY <= value && value <= PLUS_INFINITY;
  return true;
}

const LabelStr& AbstractDomain::getTypeName() const { return m_dataType->getName(); }

bool AbstractDomain::isNumeric() const { return m_dataType->isNumeric(); }

bool AbstractDomain::isBool() const { return m_dataType->isBool(); }

bool AbstractDomain::isString() const { return m_dataType->isString(); }

bool AbstractDomain::isSymbolic() const { return m_dataType->isSymbolic(); }

bool AbstractDomain::isEntity() const { return m_dataType->isEntity(); }

bool AbstractDomain::isRestricted() const { return m_dataType->getIsRestricted(); }

bool AbstractDomain::s_reportingTouch = false;

void AbstractDomain::touch() {
  const FlagScope reporting(s_reportingTouch);
  notifyChange(DomainListener::BOUNDS_RESTRICTED);
}

void AbstractDomain::notifyChange(const DomainListener::ChangeType& changeType) {
  if (!hasListenerToTell(m_listener))
    return;
  if (isRestrictionKind(changeType) && isSingleton())
    m_listener->notifyChange(DomainListener::RESTRICT_TO_SINGLETON);
  else
    m_listener->notifyChange(changeType);
}

void AbstractDomain::notifyDecidedChange(const DomainListener::ChangeType& changeType) {
  if (hasListenerToTell(m_listener))
    m_listener->notifyChange(changeType);
}

std::string AbstractDomain::toString(double value) const {
  KALDEN_CHECK_MSG(isMember(value), value << " not in " << toString());
  return m_dataType->toString(value);
}

bool AbstractDomain::canBeCompared(const AbstractDomain& domx, const AbstractDomain& domy) {
  KALDEN_TRACE("AbstractDomain:canBeCompared", "domx.isBool " << domx.isBool() << " domx.isNumeric " << domx.isNumeric()
                                                              << " domx.isString " << domx.isString()
                                                              << " domx.isSymbolic " << domx.isSymbolic());
  KALDEN_TRACE("AbstractDomain:canBeCompared", "domy.isBool " << domy.isBool() << " domy.isNumeric " << domy.isNumeric()
                                                              << " domy.isString " << domy.isString()
                                                              << " domy.isSymbolic " << domy.isSymbolic());
  KALDEN_TRACE("AbstractDomain:canBeCompared",
               "type of domx " << domx.getTypeName().toString() << " type of domy " << domy.getTypeName().toString());
  KALDEN_TRACE("AbstractDomain:canBeCompared", domx.toString());
  KALDEN_TRACE("AbstractDomain:canBeCompared", domy.toString());
  // With the system's default comparator current, two built-in number types need no question
  // put: the default rule answers true. Any other case asks the current comparator.
  const DomainComparator* current = DomainComparator::s_instance;
  bool result = (current != nullptr && current == DomainComparator::s_default && isBuiltInNumberType(domx.m_dataType) &&
                 (domy.m_dataType == domx.m_dataType || isBuiltInNumberType(domy.m_dataType))) ||
                DomainComparator::getComparator().canCompare(domx, domy);
  KALDEN_TRACE("AbstractDomain:canBeCompared", "returning " << result);
  return result;
}

void AbstractDomain::assertSafeComparison(const AbstractDomain& domA, const AbstractDomain& domB) {
  KALDEN_CHECK_MSG(canBeCompared(domA, domB), domA.getTypeName().toString()
                                                  << " cannot be compared with " << domB.getTypeName().toString());
}

std::ostream& operator<<(std::ostream& os, const AbstractDomain& dom) { return dom >> os; }

} // namespace KALDEN
