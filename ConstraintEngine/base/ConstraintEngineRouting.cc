#define KALDEN_SOURCE "ConstraintEngine/base/ConstraintEngine"

// Change routing: every change of a variable's current domain enters the engine here.

#include "ConstraintEngine/base/ConstraintEngine.hh"

#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
#include "ConstraintEngine/base/Propagator.hh"
#include "ConstraintEngine/base/VariableChangeListener.hh"
#include "Utils/base/Report.hh"
#include "Utils/base/Snapshot.hh"

namespace KALDEN {

namespace {

// Whether a change of this kind removed values from a domain.
bool removesValues(DomainListener::ChangeType change) {
  return DomainListener::isRestriction(change) || change == DomainListener::SET_TO_SINGLETON ||
         change == DomainListener::EMPTIED;
}

} // namespace

void ConstraintEngine::notify(const Id<ConstrainedVariable>& source, const DomainListener::ChangeType& changeType) {
  KALDEN_CHECK(!Entity::isPurging());
  const bool sourceValid = source.isValid();
  KALDEN_CHECK_TEXT(sourceValid, "source.isValid()");
  if (!sourceValid)
    return; // the check could only print (inside a destructor): there is no variable to read
  // Copies: a propagator or listener below may destroy the variable, and with it its change
  // listener and domain, which own the objects these references name.
  const Id<ConstrainedVariable> variable = source;
  const DomainListener::ChangeType change = changeType;
  m_dirty = true;
  // A change made outside a propagate() call breaks the record of the last answer; one made in
  // it is taken in before the call answers.
  m_changes += !m_inPropagate;
  if (removesValues(change) && !AbstractDomain::isReportingTouch())
    ++m_narrowingCount;
  if (!variable->isActive()) {
    // Its constraints are off and hear nothing; what they narrowed from it must still widen.
    if (change == DomainListener::RELAXED || change == DomainListener::OPENED)
      relaxFromGrown(variable);
    return;
  }

  if (change == DomainListener::EMPTIED)
    handleEmpty(variable);
  else if (change == DomainListener::RELAXED || change == DomainListener::OPENED)
    relaxFromGrown(variable);

  // From here on, the emptying and relaxation handling, or any constraint or propagator asked,
  // may have destroyed the variable: it is tested after each of them, and then there is
  // nothing left to route or report.
  if (!variable.isValid())
    return;
  if (change != DomainListener::EMPTIED) {
    // Propagators may link, unlink or delete constraints while they are told: walk a snapshot.
    const Snapshot<ConstrainedVariable::ConstraintEntry, 8> entries(variable->m_constraints.begin(),
                                                                    variable->m_constraints.end());
    for (const ConstrainedVariable::ConstraintEntry& entry : entries) {
      const Id<Constraint>& constraint = entry.first;
      if (!constraint.isValid() || !constraint->isActive() || constraint->isDiscarded())
        continue;
      const bool ignored = constraint->canIgnore(variable, entry.second, change);
      if (!ignored) {
        const Id<Propagator>& propagator = constraint->getPropagator();
        if (propagator.isValid())
          propagator->handleNotification(variable, entry.second, constraint, change);
      }
      if (!variable.isValid())
        return;
    }
  }

  KALDEN_CHECK(!Entity::isPurging());
  m_dirty = true;
  if (change != DomainListener::OPENED) {
    KALDEN_TRACE("ConstraintEngine:notify", variable->getName().toString() << " (" << variable->getKey() << ") "
                                                                           << DomainListener::toString(change) << " => "
                                                                           << variable->lastDomain());
  }
  // Told last (or held while a propagator runs): a listener may delete the variable.
  if (m_listeners.empty())
    return;
  tellListenersAbout(
      variable, [variable, change](ConstraintEngineListener& listener) { listener.notifyChanged(variable, change); });
}

Id<DomainListener> ConstraintEngine::allocateVariableListener(const Id<ConstrainedVariable>& variable,
                                                              const ConstrainedVariable::ConstraintList&) const {
  // The variable has its own listener already: this one stands alone, and whoever asked owns it.
  VariableChangeListener* listener = new VariableChangeListener(variable, m_id);
  return listener->getId();
}

} // namespace KALDEN
