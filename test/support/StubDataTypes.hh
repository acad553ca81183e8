#ifndef KALDEN_TEST_SUPPORT_STUBDATATYPES_HH
#define KALDEN_TEST_SUPPORT_STUBDATATYPES_HH

#include "ConstraintEngine/base/DataType.hh"
#include "Utils/LabelStr.hh"

#include <string>

namespace KALDEN {

/// A non-numeric test type without base domain: string-like or symbol-like, values are label keys.
class StubLabelDT : public DataType {
public:
  StubLabelDT(const char* name, bool isString) : DataType(name), m_isString(isString) {}

  bool isNumeric() const override { return false; }
  bool isBool() const override { return false; }
  bool isString() const override { return m_isString; }
  double createValue(const std::string& value) const override { return LabelStr(value); }

private:
  bool m_isString;
};

} // namespace KALDEN

#endif
