#define KALDEN_SOURCE "ConstraintEngine/base/CESchema"
#include "ConstraintEngine/base/CESchema.hh"

#include "Utils/base/Report.hh"

namespace KALDEN {

CESchema::CESchema() : m_id(this) {}

CESchema::~CESchema() {
  NoThrowScope guard;
  m_id.remove();
}

} // namespace KALDEN
