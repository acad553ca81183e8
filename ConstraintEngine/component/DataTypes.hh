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
  /// Reads "-inf"/"-inff" and "inf"/"+inf"/"inff"/"+inff" as the infinities; any other text must be a number.
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
  /// Reads "-inf" and "inf"/"+inf" as the infinities; any other text must be an int.
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

/// The type "void": no values, no base domain, no variables.
class VoidDT : public DataType {
public:
  /// Builds the type (without base domain).
  VoidDT();
  /// Ends the type.
  ~VoidDT() override;

  /// The type's name, "void".
  static const std::string& NAME();
  /// The handle of the shared instance, built on first use.
  static const Id<DataType>& instance();

  /// Not numbers.
  bool isNumeric() const override { return false; }
  /// Not booleans.
  bool isBool() const override { return false; }
  /// Not strings.
  bool isString() const override { return false; }
  /// Always fails: there are no void values.
  double createValue(const std::string& value) const override;
  /// Always fails: there are no void variables.
  Id<ConstrainedVariable> createVariable(const Id<ConstraintEngine>& engine, const AbstractDomain& baseDomain,
                                         bool internal, bool canBeSpecified, const char* name, const Id<Entity>& parent,
                                         int index) const override;
};

/// The type "string"; its base domain is the open, empty string enumeration.
class StringDT : public DataType {
public:
  /// Builds the type and its base domain.
  StringDT();
  /// Ends the type and its base domain.
  ~StringDT() override;

  /// The type's name, "string".
  static const std::string& NAME();
  /// The handle of the shared instance, built on first use.
  static const Id<DataType>& instance();

  /// Not numbers.
  bool isNumeric() const override { return false; }
  /// Not booleans.
  bool isBool() const override { return false; }
  /// Strings.
  bool isString() const override { return true; }
  /// The key of the text's label.
  double createValue(const std::string& value) const override;
};

/// The type "symbol"; its base domain is the open, empty symbol enumeration.
class SymbolDT : public DataType {
public:
  /// Builds the type and its base domain.
  SymbolDT();
  /// Ends the type and its base domain.
  ~SymbolDT() override;

  /// The type's name, "symbol".
  static const std::string& NAME();
  /// The handle of the shared instance, built on first use.
  static const Id<DataType>& instance();

  /// Not numbers.
  bool isNumeric() const override { return false; }
  /// Not booleans.
  bool isBool() const override { return false; }
  /// Not strings.
  bool isString() const override { return false; }
  /// The key of the text's label.
  double createValue(const std::string& value) const override;
};

/**
 * A type made at run time from another type and a narrower base domain: it
 * reads and classifies values as its base type does, under its own name and
 * with its own copy of the domain.
 */
class RestrictedDT : public DataType {
public:
  /// Restricts `baseType` to a copy of `baseDomain`, retyped with the new type.
  RestrictedDT(const char* name, const Id<DataType>& baseType, const AbstractDomain& baseDomain);
  /// Ends the type and its copy of the domain; the base type is not touched.
  ~RestrictedDT() override;

  /// As the base type.
  bool isNumeric() const override;
  /// As the base type.
  bool isBool() const override;
  /// As the base type.
  bool isString() const override;
  /// As the base type.
  bool isEntity() const override;
  /// The value as the base type reads it.
  double createValue(const std::string& value) const override;

private:
  // The restricted type, which must outlive this one.
  const DataType& baseType() const;

  Id<DataType> m_baseType;
};

} // namespace KALDEN

#endif
