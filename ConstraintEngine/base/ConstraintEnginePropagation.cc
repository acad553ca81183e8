#define KALDEN_SOURCE "ConstraintEngine/base/ConstraintEngine"

// Propagation: the consistency questions, and the entry of the propagation loop.

#include "ConstraintEngine/base/ConstraintEngine.hh"

#include "ConstraintEngine/base/Propagator.hh"
#include "Utils/base/Report.hh"

namespace KALDEN {

bool ConstraintEngine::propagate() {
  KALDEN_CHECK_MSG(!Entity::isPurging(),
                   "Cannot propagate the network when purging. Messages are not sent or processed.");
  KALDEN_CHECK_MSG(!m_propInProgress,
                   "Attempted to propagate while in propagation. Not allowed to call this cyclically.");
  if (!m_dirty)
    return true;
  // The propagation loop is not part of this build yet: refuse rather than answer wrongly.
  KALDEN_ALWAYS_FAIL_MSG("The propagation loop is not available yet.");
  return false;
}

Id<Propagator> ConstraintEngine::getNextPropagator() const {
  for (const Id<Propagator>& propagator : m_propagators)
    if (propagator->isEnabled() && propagator->updateRequired())
      return propagator;
  return Id<Propagator>::noId();
}

bool ConstraintEngine::constraintConsistent() const {
  if (provenInconsistent())
    return false;
  return getNextPropagator().isNoId();
}

bool ConstraintEngine::pending() const {
  if (!m_dirty)
    return false;
  if (m_relaxed)
    return true;
  return !provenInconsistent() && !constraintConsistent();
}

} // namespace KALDEN
