#ifndef KALDEN_UTILS_BASE_PSENTITY_HH
#define KALDEN_UTILS_BASE_PSENTITY_HH

#include <string>

namespace KALDEN {

/**
 * The public interface of every keyed entity (variables and constraints):
 * its key, names, texts and an attached external entity. A virtual base of
 * the public variable and constraint interfaces and of Entity.
 */
class PSEntity {
public:
  PSEntity() = default;
  virtual ~PSEntity() = default;

  /// The entity's key; keys grow with creation order.
  virtual int getKey() const = 0;
  /// The entity's name.
  virtual const std::string& getEntityName() const = 0;
  /// The entity's kind, e.g. "CONSTRAINT".
  virtual const std::string& getEntityType() const = 0;
  /// A short text of the entity.
  virtual std::string toString() const = 0;
  /// A longer text of the entity.
  virtual std::string toLongString() const = 0;
  /// Attaches an external entity (not owned).
  virtual void setExternalPSEntity(const PSEntity* externalEntity) = 0;
  /// Detaches the external entity.
  virtual void clearExternalPSEntity() = 0;
  /// The attached external entity, null when none.
  virtual const PSEntity* getExternalPSEntity() const = 0;
};

} // namespace KALDEN

#endif
