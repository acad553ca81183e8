#define KALDEN_SOURCE "ConstraintEngine/component/Domains"

// Enumerated domain: construction, queries, member-by-member changes and printing.
// Combining two domains is in EnumeratedDomainCombine.cc.

#include "ConstraintEngine/component/EnumeratedDomains.hh"

#include "ConstraintEngine/base/DataType.hh"
#include "Utils/Globals.hh"
#include "Utils/LabelStr.hh"
#include "Utils/base/NumberText.hh"
#include "Utils/base/Report.hh"

#include <cmath>
#include <iterator>
#include <ostream>
#include <typeinfo>

namespace KALDEN {

bool isAscending(const std::set<double>& values) {
  const double* previous = nullptr;
  for (const double& value : values) {
    if (previous != nullptr && value < *previous)
      return false;
    previous = &value;
  }
  return true;
}

namespace {

// Refuses a value no domain of this kind can hold, saying why: not a number, or beyond the
// infinities (or imprecise, which the domain's own precision test reports).
void checkValue(const AbstractDomain& dom, double value) {
  KALDEN_CHECK_TEXT_MSG(!std::isnan(value), "!std::isnan(value)",
                        "A value that is not a number cannot enter a domain.");
  KALDEN_CHECK_TEXT_MSG(dom.check_value(value), "check_value(value)",
                        KALDEN::toString(value)
                            << " lies beyond the infinities of " << dom.getTypeName().toString() << " values.");
}

} // namespace

EnumeratedDomain::EnumeratedDomain(const Id<DataType>& dt) : AbstractDomain(dt, true, false) {}

EnumeratedDomain::EnumeratedDomain(const Id<DataType>& dt, double value) : AbstractDomain(dt, true, false) {
  insert(value);
  close();
}

EnumeratedDomain::EnumeratedDomain(const Id<DataType>& dt, const std::list<double>& values)
    : AbstractDomain(dt, true, false) {
  insert(values);
  close();
}

EnumeratedDomain::EnumeratedDomain(const AbstractDomain& org) : AbstractDomain(org) {
  KALDEN_CHECK_MSG(org.isEnumerated(), "Invalid source domain " << org.getTypeName().toString() << " for enumeration");
  const std::set<double>& values = asEnumeration(org).m_values;
  m_values.insert(values.begin(), values.end());
}

// Members are copied in ascending order, not as the source's tree is shaped, so that the copy's
// nodes lie in memory in the order every walk visits them.
EnumeratedDomain::EnumeratedDomain(const EnumeratedDomain& org)
    : AbstractDomain(org), m_values(org.m_values.begin(), org.m_values.end()) {}

EnumeratedDomain::~EnumeratedDomain() {}

EnumeratedDomain& EnumeratedDomain::operator=(const EnumeratedDomain& dom) {
  // The listener must never be copied: go through the checked assignment.
  return operator=(static_cast<const AbstractDomain&>(dom));
}

const EnumeratedDomain& EnumeratedDomain::asEnumeration(const AbstractDomain& dom) {
  // The library's own enumerations are told by their exact type, which costs far less than the
  // cast's search of the class graph; any other class is cast.
  const std::type_info* type = &typeid(dom);
  if (type == &typeid(NumericDomain) || type == &typeid(SymbolDomain) || type == &typeid(StringDomain) ||
      type == &typeid(EnumeratedDomain))
    return static_cast<const EnumeratedDomain&>(dom);
  const EnumeratedDomain* enumeration = dynamic_cast<const EnumeratedDomain*>(&dom);
  KALDEN_CHECK_MSG(enumeration != nullptr, "Not an enumeration: " << dom.toString());
  return *enumeration;
}

EnumeratedDomain& EnumeratedDomain::asEnumeration(AbstractDomain& dom) {
  return const_cast<EnumeratedDomain&>(asEnumeration(static_cast<const AbstractDomain&>(dom)));
}

bool EnumeratedDomain::isEmpty() const { return m_values.empty(); }

bool EnumeratedDomain::isFinite() const { return true; }

bool EnumeratedDomain::isSingleton() const { return m_values.size() == 1; }

int EnumeratedDomain::getSize() const { return static_cast<int>(m_values.size()); }

double EnumeratedDomain::getUpperBound() const {
  double lb = 0.0;
  double ub = 0.0;
  getBounds(lb, ub);
  return ub;
}

double EnumeratedDomain::getLowerBound() const {
  double lb = 0.0;
  double ub = 0.0;
  getBounds(lb, ub);
  return lb;
}

bool EnumeratedDomain::getBounds(double& lb, double& ub) const {
  KALDEN_CHECK(!isEmpty());
  lb = *m_values.begin();
  ub = *m_values.rbegin();
  KALDEN_CHECK(lb <= ub);
  if (isNumeric())
    return lb == MINUS_INFINITY || ub == PLUS_INFINITY;
  return true;
}

void EnumeratedDomain::getValues(std::list<double>& results) const {
  KALDEN_CHECK(results.empty());
  KALDEN_CHECK(isFinite());
  results.insert(results.end(), m_values.begin(), m_values.end());
}

double EnumeratedDomain::getSingletonValue() const {
  KALDEN_CHECK_MSG(isSingleton(), toString());
  return *m_values.begin();
}

bool EnumeratedDomain::hasMember(double value) const {
  if (m_values.empty())
    return false;
  std::set<double>::const_iterator it = m_values.lower_bound(value);
  if (it != m_values.end() && sameValue(value, *it))
    return true;
  // The member just below (the last one when every member lies below).
  if (it == m_values.begin())
    return false;
  return compareEqual(value, *std::prev(it));
}

bool EnumeratedDomain::isMember(double value) const { return hasMember(value); }

std::set<double>::iterator EnumeratedDomain::findMember(double value) {
  std::set<double>::iterator it = m_values.lower_bound(value);
  // Members within minDelta() below the value come first, the nearest last.
  std::set<double>::iterator first = it;
  while (first != m_values.begin() && compareEqual(value, *std::prev(first)))
    --first;
  if (first != it)
    return first;
  if (it != m_values.end() && sameValue(value, *it))
    return it;
  return m_values.end();
}

void EnumeratedDomain::notifyNarrowed() {
  if (isEmpty())
    notifyChange(DomainListener::EMPTIED);
  else if (isSingleton())
    notifyChange(DomainListener::RESTRICT_TO_SINGLETON);
  else
    notifyChange(DomainListener::VALUE_REMOVED);
}

void EnumeratedDomain::insert(double value) {
  checkValue(*this, value);
  KALDEN_CHECK_MSG(isOpen(), "Cannot insert into a closed domain." << toString());
  addMember(value);
}

void EnumeratedDomain::addMember(double value) {
  // Values mostly come ascending: then only the last member is near, and the set appends.
  if (m_values.empty() || *m_values.rbegin() < value) {
    if (m_values.empty() || !compareEqual(value, *m_values.rbegin()))
      m_values.emplace_hint(m_values.end(), value);
    return;
  }
  if (!hasMember(value))
    m_values.insert(value);
}

void EnumeratedDomain::insert(const std::list<double>& values) {
  // Refuse a bad list before any of it goes in.
  for (double value : values)
    checkValue(*this, value);
  KALDEN_CHECK_TEXT_MSG(values.empty() || isOpen(), "isOpen()", "Cannot insert into a closed domain." << toString());
  for (double value : values)
    insert(value);
}

void EnumeratedDomain::remove(double value) {
  checkValue(*this, value);
  std::set<double>::iterator it = findMember(value);
  if (it == m_values.end())
    return;
  m_values.erase(it);
  if (!m_values.empty() || isOpen())
    notifyChange(DomainListener::VALUE_REMOVED);
  else
    notifyChange(DomainListener::EMPTIED);
}

void EnumeratedDomain::empty() {
  m_values.clear();
  notifyChange(DomainListener::EMPTIED);
}

void EnumeratedDomain::close() {
  // Checked first: whoever hears of the closing may delete the variable holding the domain.
  KALDEN_CHECK(isEmpty() || isAscending(m_values));
  AbstractDomain::close();
}

void EnumeratedDomain::set(double value) {
  if (isOpen()) {
    setWhileOpen(value);
    return;
  }
  if (!isMember(value)) {
    empty();
    return;
  }
  m_values.clear();
  m_values.insert(value);
  notifyChange(DomainListener::SET_TO_SINGLETON);
}

void EnumeratedDomain::setWhileOpen(double value) {
  KALDEN_CHECK(isEmpty() || isAscending(m_values));
  // Closed and set in one step, then both reported: whoever hears of the closing may relax the
  // domain (by removing a constraint) or delete its holder, and must find the value set.
  const bool wasEmpty = m_values.empty();
  m_closed = true;
  const bool member = isMember(value);
  m_values.clear();
  if (member)
    m_values.insert(value);
  const HolderWatch watch(*this);
  notifyChange(DomainListener::CLOSED);
  if (wasEmpty && !watch.holderGone())
    notifyChange(DomainListener::EMPTIED);
  if (!watch.holderGone())
    notifyChange(member ? DomainListener::SET_TO_SINGLETON : DomainListener::EMPTIED);
}

void EnumeratedDomain::relax(double value) {
  testPrecision(value);
  KALDEN_CHECK_MSG(isEmpty() || (isSingleton() && (getSingletonValue() == value)), toString());
  if (!isEmpty())
    return;
  m_values.insert(value);
  notifyChange(DomainListener::RELAXED);
}

AbstractDomain* EnumeratedDomain::copy() const {
  EnumeratedDomain* ptr = new EnumeratedDomain(*this);
  KALDEN_CHECK(ptr != 0);
  return ptr;
}

std::ostream& EnumeratedDomain::operator>>(std::ostream& os) const {
  AbstractDomain::operator>>(os);
  os << "{";
  if (isNumeric()) {
    const char* separator = "";
    for (double value : m_values) {
      os << separator << getDataType()->toString(value);
      separator = ", ";
    }
  } else {
    // Labels print in text order, whatever their keys.
    std::set<std::string> texts;
    for (double value : m_values) {
      KALDEN_CHECK(!isNumeric());
      texts.insert(getDataType()->toString(value));
    }
    const char* separator = "";
    for (const std::string& text : texts) {
      os << separator << text;
      separator = ",";
    }
  }
  os << "}";
  return os;
}

bool EnumeratedDomain::convertToMemberValue(const std::string& strValue, double& dblValue) const {
  double value = 0.0;
  if (isNumeric()) {
    if (!readRealText(strValue, value))
      return false;
  } else {
    value = LabelStr(strValue).getKey();
  }
  if (!isMember(value))
    return false;
  dblValue = value;
  return true;
}

void EnumeratedDomain::testPrecision(const double& value) const {
  // NaN compares false with everything and would break the ordering of the member set.
  KALDEN_CHECK(!std::isnan(value));
}

} // namespace KALDEN
