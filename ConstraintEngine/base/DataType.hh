#ifndef KALDEN_CONSTRAINTENGINE_BASE_DATATYPE_HH
#define KALDEN_CONSTRAINTENGINE_BASE_DATATYPE_HH

#include "Utils/LabelStr.hh"
#include "Utils/base/Id.hh"

#include <string>

namespace KALDEN {

class AbstractDomain;
class ConstrainedVariable;
class ConstraintEngine;
class Entity;

/**
 * A named value type: says what kind of values it has, owns the base domain
 * holding every value of the type, reads values from text, writes them as
 * text and creates variables of the type. Others refer to it by handle.
 */
class DataType {
public:
  /// Removes the handle, then deletes the base domain.
  virtual ~DataType();
  DataType(const DataType&) = delete;
  DataType& operator=(const DataType&) = delete;

  /// The type's name.
  virtual const LabelStr& getName() const;
  /// Renames the type.
  virtual void setName(const LabelStr& name);
  /// Whether the values are numbers.
  virtual bool isNumeric() const = 0;
  /// Whether the values are booleans.
  virtual bool isBool() const = 0;
  /// Whether the values are string labels.
  virtual bool isString() const = 0;
  /// Whether the values are entities.
  virtual bool isEntity() const;
  /// Whether the values are symbols (anything not numeric).
  virtual bool isSymbolic() const;
  /// Whether values of this type and of the other can be compared.
  virtual bool canBeCompared(const Id<DataType>& rhs) const;
  /// Whether values of the other type may be assigned to this one.
  virtual bool isAssignableFrom(const Id<DataType>& rhs) const;
  /// Whether the type restricts another type.
  virtual bool getIsRestricted() const;
  /// Marks the type as restricting another type, or not.
  virtual void setIsRestricted(bool isRestricted);
  /// The domain holding every value of the type.
  virtual const AbstractDomain& baseDomain() const;
  /// The value a text stands for.
  virtual double createValue(const std::string& value) const = 0;
  /// The text of a value.
  virtual std::string toString(double value) const;
  /// Creates a variable of this type in the engine, over a copy of the given base domain.
  virtual Id<ConstrainedVariable> createVariable(const Id<ConstraintEngine>& engine, const AbstractDomain& baseDomain,
                                                 bool internal, bool canBeSpecified, const char* name,
                                                 const Id<Entity>& parent, int index) const;

  /// The type's own handle.
  const Id<DataType>& getId() const { return m_id; }

protected:
  /// Registers the handle and names the type; the subclass builds the base domain.
  DataType(const char* name);

  // Owned; set by the subclass constructor, typed with this type's handle.
  AbstractDomain* m_baseDomain;

private:
  Id<DataType> m_id;
  LabelStr m_name;
  bool m_isRestricted;
};

} // namespace KALDEN

#endif
