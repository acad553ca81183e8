#define KALDEN_SOURCE "ConstraintEngine/base/ConstraintEngine"

// Removal of constraints and variables: each leaves the engine from its own discard.

#include "ConstraintEngine/base/ConstraintEngine.hh"

#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
#include "ConstraintEngine/base/Propagator.hh"
#include "Utils/base/Report.hh"

#include <vector>

namespace KALDEN {

void ConstraintEngine::remove(const Id<Constraint>& constraint) {
  KALDEN_CHECK(m_constraints.find(constraint) != m_constraints.end());
  // A constraint being discarded may go while the propagators run (a listener deleted it, or its
  // variable): it goes whatever the engine says, so the engine lets go of it and relaxes its
  // scope once the run allows. Nothing else may take it away meanwhile.
  KALDEN_CHECK_TEXT(!m_propInProgress || constraint->isDiscarded(), "!m_propInProgress");
  m_constraints.erase(constraint);
  noteRegistration();
  m_redundantConstraints.erase(constraint);
  // A violated constraint leaves the violated set with the engine: no handle may outlive its object.
  const bool wasViolated = m_violationMgr->forgetConstraint(constraint);
  if (Entity::isPurging())
    return;
  // A constraint whose registration failed half-way may have no propagator yet.
  const Id<Propagator>& propagator = constraint->getPropagator();
  if (propagator.isValid())
    propagator->removeConstraint(constraint);
  // The narrowing the constraint made may no longer hold: give its variables room again, whether
  // it is switched off or not (narrowing stays while it is off). So may a violated one's, when it
  // went before a run after its violation could undo it. A retired one's follows from closed base
  // domains. A constraint refused as it is built narrowed nothing: made since the last run, it
  // goes while its creation by name or its making is under way (refused by its class once made,
  // it counts as retired).
  const bool refusedWhileBuilt = !m_propInProgress && constraint->getKey() >= m_firstUnrunKey && m_holdingNotices != 0;
  if ((!constraint->isRetired() && !refusedWhileBuilt) || wasViolated) {
    KALDEN_TRACE("ConstraintEngine:remove:Constraint", "Propagating relaxations for " << constraint->toString());
    relaxVariables(constraint->getScope());
  }
  KALDEN_CHECK(!Entity::isPurging());
  // Told at once, even inside a propagator's turn: only a deletion removes, and whoever may
  // delete may be told. Nobody hears an object go that nobody heard added.
  const bool heardAdded = m_unheardAdded.erase(constraint->getKey()) == 0;
  if (beginBroadcast() && heardAdded) {
    tellWithdrawalAtRemoval(constraint);
    tellLeaving(constraint->getKey(),
                [constraint](ConstraintEngineListener& listener) { listener.notifyRemoved(constraint); });
  } else {
    m_heardViolated.erase(constraint->getKey());
  }
  forgetWhoHeard(constraint->getKey());
  KALDEN_TRACE("ConstraintEngine:remove:Constraint", constraint->getName().toString()
                                                         << "(" << constraint->getKey() << ")");
}

void ConstraintEngine::detachFromPropagator(const Id<Constraint>& constraint) {
  KALDEN_CHECK(constraint->isDiscarded());
  const Id<Propagator>& propagator = constraint->getPropagator();
  if (propagator.isValid())
    propagator->removeConstraint(constraint);
}

void ConstraintEngine::remove(const Id<ConstrainedVariable>& variable) {
  // Like a constraint, a variable being discarded may go during a run: its constraints went
  // first, and nothing of the engine's keeps it.
  KALDEN_CHECK_TEXT(!m_propInProgress || variable->isDiscarded(), "!m_propInProgress");
  KALDEN_CHECK(m_variables.find(variable) != m_variables.end());
  m_variables.erase(variable);
  noteRegistration();
  // Only this variable's record goes (also while purging: a record must never outlive its
  // variable); other emptied variables still make the engine inconsistent.
  m_violationMgr->removeEmptyVariable(variable);
  if (Entity::isPurging())
    return;
  KALDEN_CHECK(!Entity::isPurging());
  const bool heardAdded = m_unheardAdded.erase(variable->getKey()) == 0;
  if (beginBroadcast() && heardAdded)
    tellLeaving(variable->getKey(),
                [variable](ConstraintEngineListener& listener) { listener.notifyRemoved(variable); });
  forgetWhoHeard(variable->getKey());
  KALDEN_TRACE("ConstraintEngine:remove:ConstrainedVariable", variable->getName().toString()
                                                                  << "(" << variable->getKey() << ")");
}

} // namespace KALDEN
