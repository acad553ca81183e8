#define KALDEN_SOURCE "ConstraintEngine/base/ConstraintEngine"

// Relaxation: a variable whose domain grew.

#include "ConstraintEngine/base/ConstraintEngine.hh"

#include "Utils/base/Report.hh"

namespace KALDEN {

void ConstraintEngine::handleRelax(const Id<ConstrainedVariable>& variable) {
  KALDEN_CHECK(variable.isValid());
  KALDEN_CHECK(!m_propInProgress);
  // The relaxation cycle (widening the variables linked to this one through active
  // constraints) is not part of this build yet: only the variable itself has widened.
}

} // namespace KALDEN
