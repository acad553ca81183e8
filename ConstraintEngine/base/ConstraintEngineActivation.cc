#define KALDEN_SOURCE "ConstraintEngine/base/ConstraintEngine"

// Activation and deactivation of constraints, and constraints found redundant.

#include "ConstraintEngine/base/ConstraintEngine.hh"

#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
#include "ConstraintEngine/base/Propagator.hh"
#include "Utils/base/Report.hh"

#include <list>
#include <vector>

namespace KALDEN {

// Each of the four below holds a copy of the handle it is given (the object's own, as a rule):
// whoever a propagator's relaxation reaches may delete the object, after which nothing of it is
// read and nobody is told of it.

void ConstraintEngine::notifyDeactivated(const Id<ConstrainedVariable>& own) {
  const Id<ConstrainedVariable> var = own;
  KALDEN_CHECK(!Entity::isPurging());
  KALDEN_CHECK(var.isValid() && !var->isActive());
  // A copy: a propagator may register another while it is told.
  const std::list<Id<Propagator> > propagators(m_propagators);
  for (const Id<Propagator>& propagator : propagators)
    propagator->handleVariableDeactivated(var);
  KALDEN_CHECK(!Entity::isPurging());
  if (!var.isValid())
    return;
  // A listener may delete the variable: nothing of it is read after the telling.
  KALDEN_TRACE("ConstraintEngine:notifyDeactivated:ConstrainedVariable", var->getName().toString()
                                                                             << "(" << var->getKey() << ")");
  broadcastAbout(var, [var](ConstraintEngineListener& listener) { listener.notifyDeactivated(var); });
}

void ConstraintEngine::notifyActivated(const Id<ConstrainedVariable>& own) {
  const Id<ConstrainedVariable> var = own;
  KALDEN_CHECK(!Entity::isPurging());
  KALDEN_CHECK(var.isValid() && var->isActive());
  // A domain emptied while the variable was inactive reached no one: it counts from now on. An
  // open one holding nothing yet may still gain values, which is no failure.
  if (ViolationMgr::judgedEmpty(*static_cast<ConstrainedVariable*>(var)) && !m_violationMgr->isEmpty(var))
    m_violationMgr->addEmptyVariable(var);
  const std::list<Id<Propagator> > propagators(m_propagators);
  for (const Id<Propagator>& propagator : propagators)
    propagator->handleVariableActivated(var);
  KALDEN_CHECK(!Entity::isPurging());
  if (!var.isValid())
    return;
  KALDEN_TRACE("ConstraintEngine:notifyActivated:ConstrainedVariable", var->getName().toString()
                                                                           << "(" << var->getKey() << ")");
  broadcastAbout(var, [var](ConstraintEngineListener& listener) { listener.notifyActivated(var); });
}

void ConstraintEngine::notifyDeactivated(const Id<Constraint>& own) {
  const Id<Constraint> deactivatedConstraint = own;
  KALDEN_CHECK(!Entity::isPurging());
  KALDEN_CHECK(deactivatedConstraint.isValid() && !deactivatedConstraint->isActive());
  // An inactive constraint does not run: it may retire only after it is active again and has run.
  m_redundantConstraints.erase(deactivatedConstraint);
  deactivatedConstraint->getPropagator()->handleConstraintDeactivated(deactivatedConstraint);
  KALDEN_CHECK(!Entity::isPurging());
  if (!deactivatedConstraint.isValid())
    return;
  // A listener may delete the constraint: nothing of it is read after the telling.
  KALDEN_TRACE("ConstraintEngine:notifyDeactivated:Constraint", deactivatedConstraint->getName().toString()
                                                                    << "(" << deactivatedConstraint->getKey() << ")");
  broadcastAbout(deactivatedConstraint, [deactivatedConstraint](ConstraintEngineListener& listener) {
    listener.notifyDeactivated(deactivatedConstraint);
  });
}

void ConstraintEngine::notifyActivated(const Id<Constraint>& own) {
  const Id<Constraint> constraint = own;
  KALDEN_CHECK(!Entity::isPurging());
  KALDEN_CHECK(constraint.isValid() && constraint->isActive());
  queueActive(constraint);
  KALDEN_CHECK(!Entity::isPurging());
  if (!constraint.isValid())
    return;
  // A listener may delete the constraint: nothing of it is read after the telling.
  if (constraint->isRedundant()) {
    KALDEN_TRACE("ConstraintEngine:notifyRedundant:Constraint", constraint->getName().toString()
                                                                    << "(" << constraint->getKey() << ")");
  } else {
    KALDEN_TRACE("ConstraintEngine:notifyActivated:Constraint", constraint->getName().toString()
                                                                    << "(" << constraint->getKey() << ")");
  }
  broadcastAbout(constraint,
                 [constraint](ConstraintEngineListener& listener) { listener.notifyActivated(constraint); });
}

void ConstraintEngine::notifyRedundant(const Id<Constraint>& constraint) {
  KALDEN_TRACE("ConstraintEngine:notifyRedundant", constraint->toString());
  // An inactive constraint is recorded when it becomes active again (notifyActivated).
  if (!constraint->isActive())
    return;
  KALDEN_CHECK(!Entity::isPurging());
  // Queued once more, but its activity has not changed: the listeners hear nothing. The queued
  // run is work all the same.
  m_dirty = true;
  queueActive(constraint);
  KALDEN_TRACE("ConstraintEngine:notifyRedundant:Constraint", constraint->getName().toString()
                                                                  << "(" << constraint->getKey() << ")");
}

void ConstraintEngine::queueActive(const Id<Constraint>& constraint) {
  // Queued below, a redundant constraint runs before the next completed run retires it.
  if (constraint->isRedundant())
    m_redundantConstraints.insert(constraint);
  constraint->getPropagator()->handleConstraintActivated(constraint);
}

void ConstraintEngine::processRedundantConstraints() {
  KALDEN_CHECK_MSG(constraintConsistent(), "Can only process when fully propagated.");
  // A copy: whoever hears of a deactivation may remove constraints (which leave the buffer)
  // or find new ones redundant (which wait for the next completed run).
  const std::vector<Id<Constraint> > buffered(m_redundantConstraints.begin(), m_redundantConstraints.end());
  for (const Id<Constraint>& constraint : buffered) {
    if (!constraint.isValid() || m_redundantConstraints.count(constraint) == 0)
      continue;
    KALDEN_CHECK_MSG(constraint.isValid(), constraint);
    // Tested again: a scope base domain opened since it was recorded may gain values.
    if (!constraint->isRedundant() || !constraint->testIsRedundant(Id<ConstrainedVariable>::noId())) {
      constraint->m_isRedundant = false;
      m_redundantConstraints.erase(constraint);
      continue;
    }
    // A recorded constraint was queued when it was recorded and has stayed active: once its
    // propagator has run, it has run over its decided values and found them consistent, or the
    // run would have failed. A disabled propagator has not: the constraint waits for it.
    if (!constraint->getPropagator()->isEnabled())
      continue;
    m_redundantConstraints.erase(constraint);
    constraint->m_isRetired = true;
    constraint->deactivateByEngine();
    if (constraint.isValid())
      KALDEN_TRACE("ConstraintEngine:processRedundantConstraints", constraint->toString());
  }
}

} // namespace KALDEN
