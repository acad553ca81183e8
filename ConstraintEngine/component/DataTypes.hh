#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_DATATYPES_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_DATATYPES_HH

#include "ConstraintEngine/base/DataType.hh"

#include <string>

namespace KALDEN {

/// The real-number type "float"; its base domain is the unbounded real interval.
class FloatDT : public DataType {
public:
  /// Builds the type and its base domain.
  FloatDT();
  /// Ends the type and its base domain.
  ~FloatDT() override;

  /// The type's name, "float".
  static const std::string& NAME();
  /// The handle of the shared instance, built on first use.
  static const Id<DataType>& instance();

  /// Numbers.
  bool isNumeric() const override { return true; }
  /// Not booleans.
  bool isBool() const override { return false; }
  /// Not strings.
  bool isString() const override { return false; }
  /// Reads "-inf"/"-inff" and "inf"/"+inf"/"inff"/"+inff" as the infinities, anything else as a number.
  double createValue(const std::string& value) const override;
};

/// The integer type "int"; its base domain is the unbounded integer interval.
class IntDT : public DataType {
public:
  /// Builds the type and its base domain.
  IntDT();
  /// Ends the type and its base domain.
  ~IntDT() override;

  /// The type's name, "int".
  static const std::string& NAME();
  /// The handle of the shared instance, built on first use.
  static const Id<DataType>& instance();

  /// Numbers.
  bool isNumeric() const override { return true; }
  /// Not booleans.
  bool isBool() const override { return false; }
  /// Not strings.
  bool isString() const override { return false; }
  /// Reads "-inf" and "inf"/"+inf" as the infinities, anything else as an integer.
  double createValue(const std::string& value) const override;
};

/// The boolean type "bool"; its base domain is [0, 1].
class BoolDT : public DataType {
public:
  /// Builds the type and its base domain.
  BoolDT();
  /// Ends the type and its base domain.
  ~BoolDT() override;

  /// The type's name, "bool".
  static const std::string& NAME();
  /// The handle of the shared instance, built on first use.
  static const Id<DataType>& instance();

  /// Numbers.
  bool isNumeric() const override { return true; }
  /// Booleans.
  bool isBool() const override { return true; }
  /// Not strings.
  bool isString() const override { return false; }
  /// Reads "true" as 1 and "false" as 0; any other text fails.
  double createValue(const std::string& value) const override;
  /// Writes 1 as "true" and 0 as "false"; any other value fails.
  std::string toString(double value) const override;
};

} // namespace KALDEN

#endif
