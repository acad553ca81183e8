#define KALDEN_SOURCE "ConstraintEngine/base/ConstraintEngine"

// The violation manager: the record of emptied variables and violated constraints.

#include "ConstraintEngine/base/ViolationMgr.hh"

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "Utils/base/FlagScope.hh"
#include "Utils/base/Report.hh"

#include <set>
#include <vector>

namespace KALDEN {

bool ViolationMgr::judgedEmpty(const ConstrainedVariable& variable) {
  if (variable.isDiscarded() || !variable.isActive())
    return false;
  const AbstractDomain& current = variable.lastDomain();
  return current.isEmpty() && current.isClosed();
}

ViolationMgrImpl::ViolationMgrImpl(unsigned int maxViolationsAllowed, ConstraintEngine& engine)
    : m_maxViolationsAllowed(maxViolationsAllowed), m_relaxingEmpty(false), m_violationsAdded(0), m_engine(engine) {}

ViolationMgrImpl::~ViolationMgrImpl() {}

void ViolationMgrImpl::setMaxViolationsAllowed(unsigned int max) {
  const EngineCall call(m_engine.getId(), ConstraintEngine::CHANGE);
  if (!call)
    return;
  KALDEN_CHECK_MSG_OR_RETURN(m_violatedConstraints.size() == 0,
                             "Can only call ViolationMgrImpl::setMaxViolationsAllowed if there are no violations");
  m_maxViolationsAllowed = max;
  m_engine.noteModelChange();
}

double ViolationMgrImpl::getViolation() const {
  double violation = 0.0;
  for (const Id<Constraint>& constraint : m_violatedConstraints)
    violation += constraint->getViolation();
  // Only a record of a variable still judged empty counts (see ConstraintEngine::hasEmptyVariables()).
  if (violation == 0.0 && m_engine.hasEmptyVariables())
    return 1.0;
  return violation;
}

PSList<std::string> ViolationMgrImpl::getViolationExpl() const {
  PSList<std::string> explanations;
  for (const Id<Constraint>& constraint : m_violatedConstraints)
    explanations.push_back(constraint->getViolationExpl());
  return explanations;
}

PSList<PSConstraint*> ViolationMgrImpl::getAllViolations() const {
  PSList<PSConstraint*> violations;
  for (const Id<Constraint>& constraint : m_violatedConstraints)
    violations.push_back(constraint);
  return violations;
}

bool ViolationMgrImpl::handleEmpty(Id<ConstrainedVariable> variable) {
  if (!canContinuePropagation())
    return false;
  const Id<Constraint> culprit = variable->getCurrentPropagatingConstraint();
  if (!culprit.isNoId())
    culprit->notifyViolated();
  return true;
}

bool ViolationMgrImpl::handleRelax(Id<ConstrainedVariable> variable) {
  if (m_violatedConstraints.empty())
    return true;
  // A copy: each withdrawal reactivates a constraint, and whoever hears of it may change the links.
  std::set<Id<Constraint> > constraints;
  variable->constraints(constraints);
  for (const Id<Constraint>& constraint : constraints)
    // One being discarded (a listener told of its unlink acts) is withdrawn as it leaves the
    // engine: switched on again, it would be queued after it left its propagator.
    if (constraint.isValid() && !constraint->isDiscarded() && isViolated(constraint))
      constraint->notifyNoLongerViolated();
  return true;
}

bool ViolationMgrImpl::canContinuePropagation() const { return m_violatedConstraints.size() < m_maxViolationsAllowed; }

void ViolationMgrImpl::addViolatedConstraint(Id<Constraint> constraint) {
  KALDEN_TRACE("ConstraintEngine:ViolationMgr", "Marking constraint as violated : " << constraint->toLongString());
  // A constraint blamed twice (one execution emptying two variables) is marked, and so
  // deactivated, once: one withdrawal must make it active again.
  if (!m_violatedConstraints.insert(constraint).second)
    return;
  ++m_violationsAdded;
  constraint->deactivateByEngine();
  // Whoever heard of the deactivation may have deleted the constraint: its removal forgot it.
  if (!constraint.isValid())
    return;
  m_engine.notifyViolationAdded(constraint);
}

void ViolationMgrImpl::removeViolatedConstraint(Id<Constraint> constraint) {
  KALDEN_CHECK_TEXT_MSG(isViolated(constraint), "isViolated(c)",
                        "Tried to remove constraint that is not violated " << constraint->toLongString());
  KALDEN_TRACE("ConstraintEngine:ViolationMgr",
               "Removing constraint from violated set : " << constraint->toLongString());
  // Withdrawn before the constraint comes back: whoever hears of that may cause relaxations that
  // would otherwise withdraw it a second time.
  m_violatedConstraints.erase(constraint);
  constraint->undoDeactivationByEngine();
  // Whoever heard of the activation may have deleted the constraint: nothing is left to tell of.
  if (!constraint.isValid())
    return;
  m_engine.notifyViolationRemoved(constraint);
}

bool ViolationMgrImpl::forgetConstraint(Id<Constraint> constraint) {
  return m_violatedConstraints.erase(constraint) != 0;
}

bool ViolationMgrImpl::isViolated(Id<Constraint> constraint) const {
  return m_violatedConstraints.find(constraint) != m_violatedConstraints.end();
}

bool ViolationMgrImpl::isEmpty(Id<ConstrainedVariable> variable) const {
  return m_emptyVariables.find(variable) != m_emptyVariables.end();
}

void ViolationMgrImpl::addEmptyVariable(Id<ConstrainedVariable> variable) {
  KALDEN_TRACE("ConstraintEngine:ViolationMgr", "Marking ConstrainedVariable as empty : " << variable->toLongString());
  m_emptyVariables.insert(variable);
}

void ViolationMgrImpl::removeEmptyVariable(Id<ConstrainedVariable> variable) { m_emptyVariables.erase(variable); }

void ViolationMgrImpl::clearEmptyVariables() {
  // The records prove the inconsistency: one whose domain is still empty must stay, or the next
  // run would answer true over an empty domain; one switched off is recorded again when it is on.
  for (auto it = m_emptyVariables.begin(); it != m_emptyVariables.end();) {
    if (it->isValid() && !(*it)->isDiscarded() && judgedEmpty(*static_cast<ConstrainedVariable*>(*it)))
      ++it;
    else
      it = m_emptyVariables.erase(it);
  }
}

void ViolationMgrImpl::relaxEmptyVariables() {
  if (m_relaxingEmpty)
    return;
  FlagScope relaxing(m_relaxingEmpty);
  // Each relaxation re-enters the engine, which may record newly emptied variables or remove
  // recorded ones: walk the records as they stand now, and take a record back only once its
  // variable holds values again, so that no emptied domain is ever left unrecorded.
  const std::vector<Id<ConstrainedVariable> > emptied(m_emptyVariables.begin(), m_emptyVariables.end());
  for (const Id<ConstrainedVariable>& variable : emptied) {
    KALDEN_CHECK_TEXT_MSG(!variable.isNoId(), "!v.isNoId()", "Tried to relax ConstrainedVariableId::noId()");
    // A variable removed while the walk ran has taken its record along.
    if (!variable.isValid() || variable->isDiscarded() || !isEmpty(variable))
      continue;
    variable->relax();
    // Whoever heard of the relaxation may have removed the variable, taking its record along.
    if (!variable.isValid() || variable->isDiscarded())
      continue;
    KALDEN_TRACE("ConstraintEngine:ViolationMgr", "Relaxed empty variable : " << variable->toLongString());
    // A domain that relaxation cannot refill (an empty closed base domain) still proves the
    // inconsistency while the variable is on; an open one may still gain any value.
    if (!judgedEmpty(*static_cast<ConstrainedVariable*>(variable)))
      m_emptyVariables.erase(variable);
  }
  // Whoever heard of a relaxation may have refilled a variable walked past already (a reset):
  // its record goes too.
  clearEmptyVariables();
}

} // namespace KALDEN
