#define KALDEN_SOURCE "ConstraintEngine/base/ConstrainedVariable"

// Specification and reset of a variable.

#include "ConstraintEngine/base/ConstrainedVariable.hh"

#include "Utils/base/Report.hh"

namespace KALDEN {

// Specification is not part of this build yet: refuse rather than change the variable halfway.

void ConstrainedVariable::specifyValue(PSVarValue&) {
  KALDEN_ALWAYS_FAIL_MSG("Specifying a variable is not available yet.");
}

void ConstrainedVariable::reset() { KALDEN_ALWAYS_FAIL_MSG("Resetting a variable is not available yet."); }

} // namespace KALDEN
