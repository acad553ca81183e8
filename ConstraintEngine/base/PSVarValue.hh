#ifndef KALDEN_CONSTRAINTENGINE_BASE_PSVARVALUE_HH
#define KALDEN_CONSTRAINTENGINE_BASE_PSVARVALUE_HH

#include <string>

namespace KALDEN {

class PSEntity;

/// How the double of a public value is to be read (int-based, so any passed-on number is a valid value).
enum PSVarType : int {
  INTEGER, ///< an integral number
  DOUBLE,  ///< a real number
  BOOLEAN, ///< 0.0 for false, anything else for true
  STRING,  ///< the key of a label
  OBJECT   ///< the registered address of an entity
};

/**
 * A value handed across the public interface: the engine's double together
 * with a tag saying how to read it. A plain value that owns nothing.
 */
class PSVarValue {
public:
  /// Pairs a value with its tag; nothing compares the two.
  PSVarValue(double val, PSVarType type) : m_val(val), m_type(type) {}

  /// The tag.
  PSVarType getType() const { return m_type; }
  /// The raw double, whatever the tag.
  double asDouble() const { return m_val; }
  /// An INTEGER value, the fraction dropped (saturating at the int limits).
  int asInt() const;
  /// A BOOLEAN value: true unless 0.0.
  bool asBoolean() const;
  /// A STRING value: the text of its label.
  const std::string& asString() const;
  /// An OBJECT value: the entity registered at that address, null for 0.0.
  PSEntity* asObject() const;
  /// The value printed as its tag says.
  std::string toString() const;

private:
  double m_val;
  PSVarType m_type;
};

} // namespace KALDEN

#endif
