#define KALDEN_SOURCE "ConstraintEngine/component/DataTypes"

// Types that narrow another type to a given base domain.

#include "ConstraintEngine/component/DataTypes.hh"

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "Utils/base/Report.hh"

namespace KALDEN {

RestrictedDT::RestrictedDT(const char* name, const Id<DataType>& baseType, const AbstractDomain& baseDomain)
    : DataType(name), m_baseType(baseType) {
  KALDEN_CHECK(m_baseType.isValid());
  m_baseDomain = baseDomain.copy();
  m_baseDomain->setDataType(getId());
  setIsRestricted(true);
}

RestrictedDT::~RestrictedDT() {}

const DataType& RestrictedDT::baseType() const {
  KALDEN_CHECK(m_baseType.isValid());
  return *m_baseType.operator->();
}

bool RestrictedDT::isNumeric() const { return baseType().isNumeric(); }

bool RestrictedDT::isBool() const { return baseType().isBool(); }

bool RestrictedDT::isString() const { return baseType().isString(); }

bool RestrictedDT::isEntity() const { return baseType().isEntity(); }

// The base type's own reading: a restricted bool still reads "true" as 1, a restricted int refuses "3.9".
double RestrictedDT::createValue(const std::string& value) const { return baseType().createValue(value); }

} // namespace KALDEN
