#define KALDEN_SOURCE "ConstraintEngine/component/DataTypes"

#include "ConstraintEngine/component/DataTypes.hh"

#include "ConstraintEngine/component/Domains.hh"
#include "Utils/base/NumberText.hh"
#include "Utils/base/Report.hh"

namespace KALDEN {

// ---------------------------------------------------------------- FloatDT

FloatDT::FloatDT() : DataType(NAME().c_str()) { m_baseDomain = new IntervalDomain(getId()); }

FloatDT::~FloatDT() {}

const std::string& FloatDT::NAME() {
  static const std::string sl_name("float");
  return sl_name;
}

const Id<DataType>& FloatDT::instance() {
  static FloatDT sl_instance;
  return sl_instance.getId();
}

double FloatDT::createValue(const std::string& value) const {
  double result = 0.0;
  const bool read = readRealText(value, result);
  KALDEN_CHECK_MSG(read, "'" << value << "' is not a value of type " << getName().toString());
  return result;
}

// ---------------------------------------------------------------- IntDT

IntDT::IntDT() : DataType(NAME().c_str()) { m_baseDomain = new IntervalIntDomain(getId()); }

IntDT::~IntDT() {}

const std::string& IntDT::NAME() {
  static const std::string sl_name("int");
  return sl_name;
}

const Id<DataType>& IntDT::instance() {
  static IntDT sl_instance;
  return sl_instance.getId();
}

double IntDT::createValue(const std::string& value) const {
  double result = 0.0;
  const bool read = readIntegerText(value, result);
  KALDEN_CHECK_MSG(read, "'" << value << "' is not a value of type " << getName().toString());
  return result;
}

// ---------------------------------------------------------------- BoolDT

BoolDT::BoolDT() : DataType(NAME().c_str()) { m_baseDomain = new BoolDomain(getId()); }

BoolDT::~BoolDT() {}

const std::string& BoolDT::NAME() {
  static const std::string sl_name("bool");
  return sl_name;
}

const Id<DataType>& BoolDT::instance() {
  static BoolDT sl_instance;
  return sl_instance.getId();
}

double BoolDT::createValue(const std::string& value) const {
  if (value == "true")
    return 1.0;
  if (value == "false")
    return 0.0;
  KALDEN_ALWAYS_FAIL_MSG("string value for boolean should be 'true' or 'false', not '" << value << "'");
  return -1.0;
}

std::string BoolDT::toString(double value) const {
  static const LabelStr sl_true("true");
  static const LabelStr sl_false("false");
  KALDEN_CHECK_MSG(value == true || value == false, value << "is not a bool value");
  return value == 1.0 ? sl_true.toString() : sl_false.toString();
}

} // namespace KALDEN
