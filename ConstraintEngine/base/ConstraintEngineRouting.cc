#define KALDEN_SOURCE "ConstraintEngine/base/ConstraintEngine"

// Change routing: every change of a variable's current domain enters the engine here.

#include "ConstraintEngine/base/ConstraintEngine.hh"

#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
#include "ConstraintEngine/base/Propagator.hh"
#include "ConstraintEngine/base/Snapshot.hh"
#include "ConstraintEngine/base/VariableChangeListener.hh"
#include "Utils/base/Report.hh"

namespace KALDEN {

void ConstraintEngine::notify(const Id<ConstrainedVariable>& source, const DomainListener::ChangeType& changeType) {
  KALDEN_CHECK(!Entity::isPurging());
  const bool sourceValid = source.isValid();
  KALDEN_CHECK_TEXT(sourceValid, "source.isValid()");
  // Copies: a propagator or listener below may destroy the variable, and with it its change
  // listener and domain, which own the objects these references name.
  const Id<ConstrainedVariable> variable = source;
  const DomainListener::ChangeType change = changeType;
  m_dirty = true;
  if (!variable->isActive())
    return;

  // The variable was checked above; only the emptying and relaxation handling, and then each
  // propagator told, may have destroyed it since. The handle registry counts every registration
  // it drops, however dropped: the variable is looked up again only once one was.
  bool checked = sourceValid;
  unsigned long checkedAt = IdTable::removals();
  const auto stillThere = [&variable, &checked, &checkedAt]() {
    if (checked && IdTable::removals() == checkedAt)
      return true;
    if (!variable.isValid())
      return false;
    checked = true;
    checkedAt = IdTable::removals();
    return true;
  };
  if (change == DomainListener::EMPTIED)
    handleEmpty(variable);
  else if (change == DomainListener::RELAXED || change == DomainListener::OPENED)
    handleRelax(variable);

  if (change != DomainListener::EMPTIED && stillThere()) {
    // Propagators may link, unlink or delete constraints while they are told: walk a snapshot.
    const Snapshot<ConstrainedVariable::ConstraintEntry, 8> entries(variable->m_constraints.begin(),
                                                                     variable->m_constraints.end());
    for (const ConstrainedVariable::ConstraintEntry& entry : entries) {
      if (!stillThere())
        break;
      const Id<Constraint>& constraint = entry.first;
      if (!constraint.isValid() || !constraint->isActive() || constraint->isDiscarded())
        continue;
      if (constraint->canIgnore(variable, entry.second, change))
        continue;
      const Id<Propagator>& propagator = constraint->getPropagator();
      // A handle found valid before, with no registration dropped since, is valid still: the
      // entries of one propagator look it up once, across changes too.
      const unsigned long removals = IdTable::removals();
      if (!(propagator == m_routedPropagator && removals == m_routedPropagatorAt && propagator.isId())) {
        if (!propagator.isValid())
          continue;
        m_routedPropagator = propagator;
        m_routedPropagatorAt = removals;
      }
      propagator->handleNotification(variable, entry.second, constraint, change);
    }
  }

  // A variable destroyed while its change was routed has nothing left to report.
  if (!stillThere())
    return;
  KALDEN_CHECK(!Entity::isPurging());
  m_dirty = true;
  if (m_holdChanges && !m_listeners.empty())
    m_heldChanges.emplace_back(variable, change);
  else
    tellAnyListeners(
        [&variable, change](ConstraintEngineListener& listener) { listener.notifyChanged(variable, change); });
  if (change != DomainListener::OPENED) {
    KALDEN_TRACE("ConstraintEngine:notify", variable->getName().toString()
                                                << " (" << variable->getKey() << ") "
                                                << DomainListener::toString(change) << " => "
                                                << variable->lastDomain());
  }
}

Id<DomainListener> ConstraintEngine::allocateVariableListener(const Id<ConstrainedVariable>& variable,
                                                              const ConstrainedVariable::ConstraintList&) const {
  // The variable has its own listener already: this one stands alone, and whoever asked owns it.
  VariableChangeListener* listener = new VariableChangeListener(variable, m_id);
  return listener->getId();
}

} // namespace KALDEN
