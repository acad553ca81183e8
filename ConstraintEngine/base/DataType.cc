#define KALDEN_SOURCE "ConstraintEngine/base/DataType"

#include "ConstraintEngine/base/DataType.hh"

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "Utils/Error.hh"
#include "Utils/Globals.hh"
#include "Utils/base/Report.hh"

namespace KALDEN {

DataType::DataType(const char* name) : m_baseDomain(nullptr), m_id(this), m_name(name), m_isRestricted(false) {}

DataType::~DataType() {
  NoThrowScope guard;
  m_id.remove();
  delete m_baseDomain;
}

const LabelStr& DataType::getName() const { return m_name; }

void DataType::setName(const LabelStr& name) { m_name = name; }

bool DataType::isEntity() const { return false; }

bool DataType::isSymbolic() const { return !isNumeric(); }

bool DataType::canBeCompared(const Id<DataType>& rhs) const {
  // Each predicate is asked once per side: a type's kind does not change while it is asked.
  const bool numeric = isNumeric();
  const bool rhsNumeric = rhs->isNumeric();
  if (numeric || rhsNumeric)
    return numeric && rhsNumeric;
  const bool string = isString();
  const bool rhsString = rhs->isString();
  if (string || rhsString)
    return string && rhsString;
  return isSymbolic() && rhs->isSymbolic();
}

bool DataType::isAssignableFrom(const Id<DataType>& rhs) const { return canBeCompared(rhs); }

bool DataType::getIsRestricted() const { return m_isRestricted; }

void DataType::setIsRestricted(bool isRestricted) { m_isRestricted = isRestricted; }

const AbstractDomain& DataType::baseDomain() const {
  KALDEN_CHECK_TEXT_MSG(m_baseDomain != nullptr, "m_baseDomain != NULL",
                        "The data type " << getName().toString() << " has no values: nothing can be made of it.");
  return *m_baseDomain;
}

std::string DataType::toString(double value) const {
  if (isNumeric())
    return KALDEN::toString(value);
  KALDEN_CHECK_MSG(LabelStr::isString(value), "expected LabelStr");
  return LabelStr(value).toString();
}

} // namespace KALDEN
