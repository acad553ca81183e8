#ifndef KALDEN_CONSTRAINTENGINE_BASE_CESCHEMA_HH
#define KALDEN_CONSTRAINTENGINE_BASE_CESCHEMA_HH

#include "Utils/LabelStr.hh"
#include "Utils/base/EngineComponent.hh"
#include "Utils/base/Id.hh"

#include <map>

namespace KALDEN {

class AbstractDomain;
class ConstraintType;
class DataType;

/**
 * The system's vocabulary: data types and constraint types, each registered
 * under its name. Published to the host as the component "CESchema".
 *
 * The schema owns what is registered in it: a data type or constraint type
 * registered again under the same name replaces the earlier one, which is
 * destroyed, and destroying the schema destroys everything still registered.
 * A ConstraintEngine keeps a reference to the schema's own handle (getId()),
 * so the schema must outlive every engine built on it.
 */
class CESchema : public EngineComponent {
public:
  /// An empty schema with its own handle.
  CESchema();
  /// Destroys every registered constraint type and data type, then removes the schema's handle.
  ~CESchema() override;
  CESchema(const CESchema&) = delete;
  CESchema& operator=(const CESchema&) = delete;

  /// The schema's own handle; engines keep a reference to this very object.
  const Id<CESchema>& getId() const { return m_id; }

  /// Registers a data type under its name, taking it over; a namesake registered before is deleted.
  void registerDataType(const Id<DataType>& dt);
  /// Registers a constraint type under its name, taking it over; a namesake registered before is released.
  void registerConstraintType(const Id<ConstraintType>& factory);

  /// Whether a data type of that name is registered.
  bool isDataType(const char* name) const;
  /// Whether a constraint type of that name is registered; when not and `warn` is set, says so on std::cerr.
  bool isConstraintType(const LabelStr& name, const bool& warn = false);

  /// The data type registered under the name; an unknown name fails a check.
  Id<DataType> getDataType(const char* name);
  /// The base domain of the data type registered under the name; an unknown name fails a check.
  const AbstractDomain& baseDomain(const char* name);
  /// The registry's own entry for the constraint type of that name; an unknown name fails a check.
  const Id<ConstraintType>& getConstraintType(const LabelStr& name);

  /// Deletes every registered data type.
  void purgeDataTypes();
  /// Releases every registered constraint type, also those that others registered.
  void purgeConstraintTypes();
  /// Releases the constraint types, then deletes the data types.
  void purgeAll();

private:
  Id<CESchema> m_id;
  std::map<double, Id<DataType> > m_dataTypes;
  std::map<double, Id<ConstraintType> > m_constraintTypes;
};

} // namespace KALDEN

#endif
