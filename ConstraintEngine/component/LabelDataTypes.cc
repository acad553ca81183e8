#define KALDEN_SOURCE "ConstraintEngine/component/DataTypes"

// The non-numeric built-in types: void, string and symbol.

#include "ConstraintEngine/component/DataTypes.hh"

#include "ConstraintEngine/component/Domains.hh"
#include "Utils/LabelStr.hh"
#include "Utils/base/Report.hh"

namespace KALDEN {

// ---------------------------------------------------------------- VoidDT

VoidDT::VoidDT() : DataType(NAME().c_str()) {}

VoidDT::~VoidDT() {}

const std::string& VoidDT::NAME() {
  static const std::string sl_name("void");
  return sl_name;
}

const Id<DataType>& VoidDT::instance() {
  static VoidDT sl_instance;
  return sl_instance.getId();
}

double VoidDT::createValue(const std::string&) const {
  KALDEN_ALWAYS_FAIL_MSG("can't create void value");
  return -1.0;
}

Id<ConstrainedVariable> VoidDT::createVariable(const Id<ConstraintEngine>&, const AbstractDomain&, bool, bool,
                                               const char*, const Id<Entity>&, int) const {
  KALDEN_ALWAYS_FAIL_MSG("can't create void variable");
  return Id<ConstrainedVariable>::noId();
}

// ---------------------------------------------------------------- StringDT

StringDT::StringDT() : DataType(NAME().c_str()) { m_baseDomain = new StringDomain(getId()); }

StringDT::~StringDT() {}

const std::string& StringDT::NAME() {
  static const std::string sl_name("string");
  return sl_name;
}

const Id<DataType>& StringDT::instance() {
  static StringDT sl_instance;
  return sl_instance.getId();
}

double StringDT::createValue(const std::string& value) const { return LabelStr(value).getKey(); }

// ---------------------------------------------------------------- SymbolDT

SymbolDT::SymbolDT() : DataType(NAME().c_str()) { m_baseDomain = new SymbolDomain(getId()); }

SymbolDT::~SymbolDT() {}

const std::string& SymbolDT::NAME() {
  static const std::string sl_name("symbol");
  return sl_name;
}

const Id<DataType>& SymbolDT::instance() {
  static SymbolDT sl_instance;
  return sl_instance.getId();
}

double SymbolDT::createValue(const std::string& value) const { return LabelStr(value).getKey(); }

} // namespace KALDEN
