#define KALDEN_SOURCE "ConstraintEngine/base/PSVarValue"

#include "ConstraintEngine/base/PSVarValue.hh"

#include "Utils/Entity.hh"
#include "Utils/Globals.hh"
#include "Utils/LabelStr.hh"
#include "Utils/base/Id.hh"
#include "Utils/base/Report.hh"

#include <cmath>
#include <sstream>

namespace KALDEN {

int PSVarValue::asInt() const {
  KALDEN_CHECK(m_type == INTEGER);
  return truncateToInt(m_val);
}

bool PSVarValue::asBoolean() const {
  KALDEN_CHECK(m_type == BOOLEAN);
  return m_val != 0.0;
}

const std::string& PSVarValue::asString() const {
  KALDEN_CHECK(m_type == STRING);
  return LabelStr(m_val).toString();
}

PSEntity* PSVarValue::asObject() const {
  KALDEN_CHECK(m_type == OBJECT);
  if (m_val == 0.0)
    return nullptr;
  // The handle constructor refuses a double that is no registered address.
  Id<PSEntity> registered(m_val);
  if (registered.isNoId())
    return nullptr;
  // PSEntity is a virtual base, so the address cannot be used as a PSEntity* as it is: find the
  // entity whose Entity part was registered there and let the conversion apply the base offset.
  const unsigned long address = static_cast<unsigned long>(m_val);
  Id<Entity> entity = Entity::getEntityAt(address);
  KALDEN_CHECK_MSG_OR_RETURN(entity.isValid(), "The object registered at " << address << " is not an entity.", nullptr);
  return entity;
}

std::string PSVarValue::toString() const {
  std::ostringstream os;
  switch (m_type) {
  case INTEGER:
    os << asInt();
    break;
  case DOUBLE: {
    // Enough significant digits for every int value.
    const double digits = std::log10(static_cast<double>(g_maxInt()) + g_epsilon()) + 1.0;
    os.precision(static_cast<std::streamsize>(digits));
    os << asDouble();
    break;
  }
  case BOOLEAN:
    os << asBoolean();
    break;
  case STRING:
    os << asString();
    break;
  case OBJECT: {
    const PSEntity* entity = asObject();
    os << "OBJECT:" << (entity == nullptr ? std::string("noId") : entity->toString());
    break;
  }
  default:
    KALDEN_ALWAYS_FAIL_MSG("Unknown type");
    return "";
  }
  return os.str();
}

} // namespace KALDEN
