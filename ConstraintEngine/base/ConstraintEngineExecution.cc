#define KALDEN_SOURCE "ConstraintEngine/base/ConstraintEngine"

// Execution: the one road by which a propagator runs a constraint.

#include "ConstraintEngine/base/ConstraintEngine.hh"

#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
#include "Utils/base/Report.hh"

#include <vector>

namespace KALDEN {

bool allActiveVariables(const std::vector<Id<ConstrainedVariable> >& variables) {
  for (const Id<ConstrainedVariable>& var : variables) {
    KALDEN_CHECK_TEXT_OR_RETURN(var.isValid(), "var.isValid()", false);
    if (!var->isActive()) {
      KALDEN_TRACE("allActiveVariables", var->toString()
                                             << " is not active but it participates in an active constraint.");
      return false;
    }
  }
  return true;
}

bool ConstraintEngine::tellExecuted(const Id<Constraint>& constraint) {
  // A delegate's run while its owner is created by name: heard in order once the owner stands.
  if (m_holdingNotices != 0) {
    const Id<Constraint> subject = constraint;
    hold(subject->getKey(), [this, subject] {
      tellListenersAboutNow(subject,
                            [subject](ConstraintEngineListener& listener) { listener.notifyExecuted(subject); });
    });
    return true;
  }
  // Told at once, though a propagator runs: a listener may delete it, so that it does not run.
  tellListenersAboutNow(constraint,
                        [constraint](ConstraintEngineListener& listener) { listener.notifyExecuted(constraint); });
  // A listener may have deleted the constraint, or a variable that took it along.
  if (!constraint.isValid() || constraint->isDiscarded())
    return false;
  // Or switched it off, or a variable of its scope: it no longer runs. Nor once a deed emptied
  // a domain: the run ends there, and the relaxation that refills it queues the rule again.
  if (!constraint->isActive() || hasEmptyVariables())
    return false;
  for (const Id<ConstrainedVariable>& var : constraint->getScope())
    if (!var.isValid() || !var->isActive())
      return false;
  return true;
}

void ConstraintEngine::execute(const Id<Constraint>& constraint) {
  KALDEN_CHECK(!hasEmptyVariables() && constraint.isValid());
  KALDEN_CHECK(constraint->isActive());
  KALDEN_CHECK(constraint->isValid());
  KALDEN_CHECK(m_propInProgress);
  KALDEN_CHECK_TEXT_MSG(allActiveVariables(constraint->getScope()), "allActiveVariables(constraint->getScope())",
                        "All variables of an active constraint must also be active. Clients must ensure this happens. "
                            << constraint->toString());
  KALDEN_CHECK(!Entity::isPurging());
  m_dirty = true;
  if (!m_listeners.empty() && !tellExecuted(constraint))
    return;
  KALDEN_TRACE("ConstraintEngine:execute", "BEFORE " << constraint->toString());
  constraint->execute();
  KALDEN_TRACE("ConstraintEngine:execute", "AFTER " << constraint->toString());
}

void ConstraintEngine::execute(const Id<Constraint>& constraint, const Id<ConstrainedVariable>& variable, int argIndex,
                               const DomainListener::ChangeType& changeType) {
  KALDEN_CHECK(!hasEmptyVariables() && constraint.isValid());
  KALDEN_CHECK(constraint->isActive());
  // Tested before the variable is read.
  KALDEN_CHECK(variable.isValid());
  KALDEN_CHECK(variable->isActive());
  KALDEN_CHECK(constraint->isValid());
  KALDEN_CHECK(m_propInProgress);
  KALDEN_CHECK(!Entity::isPurging());
  m_dirty = true;
  if (!m_listeners.empty() && !tellExecuted(constraint))
    return;
  KALDEN_TRACE("ConstraintEngine:execute", constraint->getName().toString() << "(" << constraint->getKey() << ")");
  constraint->execute(variable, argIndex, changeType);
}

} // namespace KALDEN
