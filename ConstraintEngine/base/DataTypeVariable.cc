#define KALDEN_SOURCE "ConstraintEngine/base/DataType"

// Creating variables of a data type; kept apart because it needs the variables.

#include "ConstraintEngine/base/DataType.hh"

#include "Utils/base/Report.hh"

namespace KALDEN {

Id<ConstrainedVariable> DataType::createVariable(const Id<ConstraintEngine>&, const AbstractDomain&,
                                                 bool, bool, const char*, const Id<Entity>&,
                                                 int) const {
  KALDEN_ALWAYS_FAIL_MSG("variables are not available yet");
  return Id<ConstrainedVariable>::noId();
}

} // namespace KALDEN
