#define KALDEN_SOURCE "ConstraintEngine/component/Domains"

// The concrete enumerations: numbers, symbols and strings.

#include "ConstraintEngine/component/EnumeratedDomains.hh"

#include "Utils/LabelStr.hh"
#include "Utils/base/Report.hh"

#include <cstddef>

namespace KALDEN {

// ---------------------------------------------------------------- NumericDomain

NumericDomain::NumericDomain(const Id<DataType>& dt) : EnumeratedDomain(dt) {}

NumericDomain::NumericDomain(double value, const Id<DataType>& dt) : EnumeratedDomain(dt, value) {}

NumericDomain::NumericDomain(const std::list<double>& values, const Id<DataType>& dt) : EnumeratedDomain(dt, values) {}

NumericDomain::NumericDomain(const AbstractDomain& org) : EnumeratedDomain(org) {}

NumericDomain::NumericDomain(const NumericDomain& org) : EnumeratedDomain(org) {}

NumericDomain::~NumericDomain() {}

NumericDomain& NumericDomain::operator=(const NumericDomain& dom) {
  EnumeratedDomain::operator=(static_cast<const AbstractDomain&>(dom));
  return *this;
}

AbstractDomain* NumericDomain::copy() const {
  NumericDomain* ptr = new NumericDomain(*this);
  KALDEN_CHECK(ptr != NULL);
  return ptr;
}

// ---------------------------------------------------------------- SymbolDomain

SymbolDomain::SymbolDomain(const Id<DataType>& dt) : EnumeratedDomain(dt) {}

SymbolDomain::SymbolDomain(double value, const Id<DataType>& dt) : EnumeratedDomain(dt, value) {}

SymbolDomain::SymbolDomain(const std::list<double>& values, const Id<DataType>& dt) : EnumeratedDomain(dt, values) {}

SymbolDomain::SymbolDomain(const AbstractDomain& org) : EnumeratedDomain(org) {}

SymbolDomain::SymbolDomain(const SymbolDomain& org) : EnumeratedDomain(org) {}

SymbolDomain::~SymbolDomain() {}

SymbolDomain& SymbolDomain::operator=(const SymbolDomain& dom) {
  EnumeratedDomain::operator=(static_cast<const AbstractDomain&>(dom));
  return *this;
}

AbstractDomain* SymbolDomain::copy() const {
  SymbolDomain* ptr = new SymbolDomain(*this);
  KALDEN_CHECK(ptr != NULL);
  return ptr;
}

// ---------------------------------------------------------------- StringDomain

StringDomain::StringDomain(const Id<DataType>& dt) : EnumeratedDomain(dt) {}

StringDomain::StringDomain(double value, const Id<DataType>& dt) : EnumeratedDomain(dt, value) {}

StringDomain::StringDomain(const std::string& value, const Id<DataType>& dt)
    : EnumeratedDomain(dt, LabelStr(value).getKey()) {}

StringDomain::StringDomain(const std::list<double>& values, const Id<DataType>& dt) : EnumeratedDomain(dt, values) {}

StringDomain::StringDomain(const AbstractDomain& org) : EnumeratedDomain(org) {}

StringDomain::StringDomain(const StringDomain& org) : EnumeratedDomain(org) {}

StringDomain::~StringDomain() {}

StringDomain& StringDomain::operator=(const StringDomain& dom) {
  EnumeratedDomain::operator=(static_cast<const AbstractDomain&>(dom));
  return *this;
}

void StringDomain::set(double value) {
  KALDEN_CHECK(LabelStr::isString(value));
  KALDEN_CHECK_MSG(isEmpty() || isMember(value), value << " is not a member of the domain :" << toString());
  // Placed first so that an empty closed domain is set rather than emptied.
  m_values.insert(value);
  EnumeratedDomain::set(value);
}

void StringDomain::insert(double value) { EnumeratedDomain::insert(value); }

bool StringDomain::isMember(double value) const { return isOpen() || EnumeratedDomain::isMember(value); }

AbstractDomain* StringDomain::copy() const {
  StringDomain* ptr = new StringDomain(*this);
  KALDEN_CHECK(ptr != NULL);
  return ptr;
}

void StringDomain::set(const std::string& value) { set(LabelStr(value).getKey()); }

void StringDomain::insert(const std::string& value) { EnumeratedDomain::insert(LabelStr(value).getKey()); }

bool StringDomain::isMember(const std::string& value) const { return isMember(LabelStr(value).getKey()); }

} // namespace KALDEN
