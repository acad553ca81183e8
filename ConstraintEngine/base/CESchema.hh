#ifndef KALDEN_CONSTRAINTENGINE_BASE_CESCHEMA_HH
#define KALDEN_CONSTRAINTENGINE_BASE_CESCHEMA_HH

#include "Utils/base/EngineComponent.hh"
#include "Utils/base/Id.hh"

namespace KALDEN {

/**
 * The system's vocabulary of data types and constraint types, published to
 * the host as the component "CESchema". A ConstraintEngine keeps a reference
 * to the schema's own handle (getId()), so a schema must outlive every engine
 * built on it.
 */
class CESchema : public EngineComponent {
public:
  /// An empty schema with its own handle.
  CESchema();
  /// Removes the schema's handle.
  ~CESchema() override;
  CESchema(const CESchema&) = delete;
  CESchema& operator=(const CESchema&) = delete;

  /// The schema's own handle; engines keep a reference to this very object.
  const Id<CESchema>& getId() const { return m_id; }

private:
  Id<CESchema> m_id;
};

} // namespace KALDEN

#endif
