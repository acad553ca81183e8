#define KALDEN_SOURCE "ConstraintEngine/base/ConstraintEngine"

// Violations and emptied variables: the engine's side.

#include "ConstraintEngine/base/ConstraintEngine.hh"

#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
#include "Utils/base/Report.hh"

#include <vector>

namespace KALDEN {

bool ConstraintEngine::getAllowViolations() const { return m_violationMgr->getMaxViolationsAllowed() != 0; }

double ConstraintEngine::getViolation() const { return m_violationMgr->getViolation(); }

PSList<std::string> ConstraintEngine::getViolationExpl() const { return m_violationMgr->getViolationExpl(); }

PSList<PSConstraint*> ConstraintEngine::getAllViolations() const { return m_violationMgr->getAllViolations(); }

bool ConstraintEngine::isViolated(Id<Constraint> constraint) const { return m_violationMgr->isViolated(constraint); }

void ConstraintEngine::handleEmpty(const Id<ConstrainedVariable>& variable) {
  KALDEN_CHECK(variable.isValid());
  KALDEN_CHECK(variable->getCurrentDomain().isEmpty());
  m_violationMgr->addEmptyVariable(variable);
  KALDEN_TRACE("ConstraintEngine:emptied",
               "Emptied var:" << variable->toLongString() << " parent:"
                              << (variable->parent().isValid() ? variable->parent()->toString() : std::string("NULL")));
  // A relaxation cycle may be open: a client may reset one variable and then specify another
  // outside its current domain before propagating. The record is all the next run needs.
  m_violationMgr->handleEmpty(variable);
}

bool ConstraintEngine::canContinuePropagation() const { return m_violationMgr->canContinuePropagation(); }

void ConstraintEngine::clearEmptyVariables() { m_violationMgr->clearEmptyVariables(); }

void ConstraintEngine::notifyViolationAdded(Id<Constraint> constraint) {
  const std::vector<Id<ConstrainedVariable> >& scope = constraint->getScope();
  m_setAsideScopes.insert(m_setAsideScopes.end(), scope.begin(), scope.end());
  // Told (or held) even with no listener yet: one registered later hears the withdrawal.
  beginBroadcast();
  tellViolation(constraint, true);
}

void ConstraintEngine::notifyViolationRemoved(Id<Constraint> constraint) {
  beginBroadcast();
  tellViolation(constraint, false);
}

void ConstraintEngine::tellViolation(const Id<Constraint>& constraint, bool violated) {
  const Id<Constraint> subject = constraint;
  if (isHoldingNotices())
    hold(subject->getKey(), [this, subject, violated] { tellViolationNow(subject, violated); });
  else
    tellViolationNow(subject, violated);
}

void ConstraintEngine::tellViolationNow(const Id<Constraint>& subject, bool violated) {
  if (!stands(subject))
    return;
  const int key = subject->getKey();
  if (violated)
    m_heardViolated.insert(key);
  else if (m_heardViolated.erase(key) == 0)
    return;
  tellRecordingWhoHeard(m_violationTelling, violated, subject,
                        [&subject, violated](ConstraintEngineListener& listener) {
                          if (violated)
                            listener.notifyViolationAdded(subject);
                          else
                            listener.notifyViolationRemoved(subject);
                        });
}

void ConstraintEngine::tellWithdrawalAtRemoval(const Id<Constraint>& constraint) {
  const int key = constraint->getKey();
  const bool heard = m_heardViolated.erase(key) != 0;
  const Telling* telling = m_violationTelling;
  while (telling != nullptr && telling->key != key)
    telling = telling->outer;
  if (!heard && telling == nullptr)
    return;
  // Mid-telling, the listeners told so far heard the violation (or, of a withdrawal, the others
  // have yet to hear it); otherwise every listener heard the violation.
  this->telling([&] {
    const std::vector<Id<ConstraintEngineListener> > toldSoFar = whoHeard(telling);
    const Snapshot<Id<ConstraintEngineListener>, 4> listeners(m_listeners.begin(), m_listeners.end());
    for (const Id<ConstraintEngineListener>& listener : listeners) {
      if (!listener.isValid() || m_listeners.count(listener) == 0)
        continue;
      if (telling != nullptr && among(toldSoFar, listener) != telling->violated)
        continue;
      heed(key, [&] { listener->notifyViolationRemoved(constraint); });
    }
  });
}

} // namespace KALDEN
