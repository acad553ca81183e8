#define KALDEN_SOURCE "ConstraintEngine/base/Constraint"

// A constraint's execution, deactivation count, redundancy test and violation bookkeeping.

#include "ConstraintEngine/base/Constraint.hh"

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/Propagator.hh"
#include "ConstraintEngine/component/ConstraintsBase.hh"
#include "Utils/base/Report.hh"

#include <algorithm>
#include <sstream>
#include <vector>

namespace KALDEN {

// Marks every scope variable as propagated by the constraint for the life of the object, so
// that a failure inside the constraint's propagation leaves no stale mark behind.
class Constraint::PropagatingMark {
public:
  explicit PropagatingMark(const Constraint& constraint) : m_constraint(constraint) {
    for (const Id<ConstrainedVariable>& var : m_constraint.m_variables)
      var->setCurrentPropagatingConstraint(m_constraint.m_id);
  }
  ~PropagatingMark() {
    // The propagation may have deleted scope variables.
    const Id<Constraint> none;
    for (const Id<ConstrainedVariable>& var : m_constraint.m_variables)
      if (var.isValid())
        var->setCurrentPropagatingConstraint(none);
  }
  PropagatingMark(const PropagatingMark&) = delete;
  PropagatingMark& operator=(const PropagatingMark&) = delete;

private:
  const Constraint& m_constraint;
};

// The propagator never requeues a constraint for its own changes, so one execution must end at
// the rule's own fixpoint. A rule that is idempotent over distinct variables runs once, unless a
// round asks for another (requestRound()); any other (or any rule over a scope that repeats a
// variable) runs again while its last round removed values. A touch, relaxation, opening or
// closing removes none, so it never calls for a round. Every round removes at least a tolerance
// from some domain, which over a wide domain could mean a round per unit: MAX_ROUNDS cuts such a
// crawl short, soundly, since each round only removes values its rule excludes.
template <class FirstRun>
void Constraint::runRule(const FirstRun& firstRun) {
  if (m_rounds == ROUNDS_UNDECIDED)
    m_rounds = decideRounds();
  m_roundRequested = false;
  if (m_rounds == ROUNDS_ONE) {
    firstRun();
    if (m_roundRequested)
      repeatRounds(0);
    return;
  }
  const unsigned long before = m_constraintEngine->narrowingCount();
  firstRun();
  repeatRounds(before);
}

void Constraint::execute() {
  const PropagatingMark mark(*this);
  runRule([this] { handleExecute(); });
}

void Constraint::execute(const Id<ConstrainedVariable>& variable, int argIndex,
                         const DomainListener::ChangeType& changeType) {
  const PropagatingMark mark(*this);
  runRule([&] { handleExecute(variable, argIndex, changeType); });
}

bool Constraint::isIdempotent() const { return false; }

Constraint::Rounds Constraint::decideRounds() const {
  return isIdempotent() && hasDistinctVariables() ? ROUNDS_ONE : ROUNDS_REPEATED;
}

bool Constraint::hasDistinctVariables() const {
  const std::size_t size = m_variables.size();
  // Most scopes are short: comparing every pair beats sorting a copy.
  if (size <= 8) {
    for (std::size_t i = 1; i < size; ++i)
      for (std::size_t j = 0; j < i; ++j)
        if (m_variables[i] == m_variables[j])
          return false;
    return true;
  }
  std::vector<int> keys;
  keys.reserve(size);
  for (const Id<ConstrainedVariable>& var : m_variables)
    keys.push_back(var->getKey());
  std::sort(keys.begin(), keys.end());
  return std::adjacent_find(keys.begin(), keys.end()) == keys.end();
}

void Constraint::repeatRounds(unsigned long narrowingsBefore) {
  const ConstraintEngine& engine = *m_constraintEngine.operator->();
  for (unsigned int round = 1;; ++round) {
    const bool narrowed = m_rounds == ROUNDS_REPEATED && engine.narrowingCount() != narrowingsBefore;
    if (!(narrowed || m_roundRequested) || engine.hasEmptyVariables() || !isActive() || round >= MAX_ROUNDS)
      return;
    m_roundRequested = false;
    narrowingsBefore = engine.narrowingCount();
    handleExecute();
  }
}

void Constraint::handleExecute(const Id<ConstrainedVariable>&, int, const DomainListener::ChangeType&) {
  handleExecute();
}

void Constraint::deactivate() {
  if (refusesDiscarded("deactivate"))
    return;
  const EngineCall call(m_constraintEngine, ConstraintEngine::SWITCH, getKey());
  if (!call)
    return;
  ConstraintEngine& engine = *m_constraintEngine.operator->();
  switchOff(true);
  // Loosened once all is told: a domain emptied meanwhile (by a listener) may rest on the
  // constraint's narrowing, so it proves nothing (see ConstraintEngine::provenInconsistent()).
  engine.noteLoosened();
}

void Constraint::deactivateByEngine() { switchOff(false); }

void Constraint::switchOff(bool byClient) {
  KALDEN_CHECK_OR_RETURN(!Entity::isPurging());
  ++m_deactivationRefCount;
  if (byClient) {
    ++m_clientDeactivations;
    m_constraintEngine->noteModelChange();
  }
  KALDEN_TRACE("Constraint:deactivation", "RefCount: [" << m_deactivationRefCount << "]" << toString());
  // Whoever hears of it may delete the constraint (a composite's members then go with it).
  const LifeWatch<Constraint> watch(m_id);
  const SwitchingBracket switching(*m_constraintEngine.operator->(), getKey());
  if (m_deactivationRefCount == 1) {
    m_constraintEngine->notifyDeactivated(m_id);
    if (watch.gone())
      return;
    handleDeactivate();
    if (watch.gone())
      return;
    // A violation's or a retirement's scope is relaxed, or decided for good, already; so is
    // the scope of a composite held violated, whose members go off with it. Given back here, the
    // members taken would withdraw its violation, and the run would set it aside again, for ever.
    if (!m_isRetired && !setAsideWithOwner()) {
      m_constraintEngine->relaxTakenMembers(m_variables);
      if (watch.gone())
        return;
    }
  }
  handleSwitching();
}

bool Constraint::setAsideWithOwner() const {
  for (const Constraint* constraint = this;;) {
    if (m_constraintEngine->isViolated(constraint->getId()))
      return true;
    if (constraint->m_ownerKey == 0)
      return false;
    // Only constraints adopt parts, so an owner found by key is a constraint.
    Entity* const owner = Entity::getEntity(constraint->m_ownerKey);
    if (owner == nullptr)
      return false;
    constraint = static_cast<const Constraint*>(owner);
  }
}

void Constraint::undoDeactivation() {
  if (refusesDiscarded("undo a deactivation of"))
    return;
  const EngineCall call(m_constraintEngine, ConstraintEngine::SWITCH, getKey());
  if (!call)
    return;
  KALDEN_CHECK_OR_RETURN(!Entity::isPurging());
  // Retirement is final: the deactivation it made stays, while those made since are undone as
  // usual. A redundant constraint that was switched off before it was retired comes back, so
  // that it runs over its decided values before it retires.
  if (m_isRetired && m_deactivationRefCount <= 1)
    return;
  // Nor is the one a violation made: only the engine withdraws it, and tells of it.
  KALDEN_CHECK_TEXT_MSG_OR_RETURN(m_deactivationRefCount > 1 || !m_constraintEngine->isViolated(m_id),
                                  "m_deactivationRefCount > 1 || !isViolated()",
                                  "Cannot undo a deactivation of constraint "
                                      << m_name.toString() << " (key " << getKey()
                                      << "): the engine holds it violated, and only it withdraws that.");
  // Only an earlier deactivation can be undone: the count never goes below 0.
  KALDEN_CHECK_OR_RETURN(m_deactivationRefCount > 0);
  // Nor one the engine made for a variable of its scope, or the composite owning it, switched off.
  KALDEN_CHECK_TEXT_MSG_OR_RETURN(m_clientDeactivations > 0, "m_clientDeactivations > 0",
                                  "Cannot undo a deactivation of constraint "
                                      << m_name.toString() << " (key " << getKey()
                                      << "): it was switched off by the engine (a variable of its scope or the "
                                         "constraint owning it is off), not by a client.");
  switchOn(true);
}

void Constraint::undoDeactivationByEngine() {
  // Retirement is final (see undoDeactivation()); only an earlier deactivation can be undone.
  if (m_isRetired && m_deactivationRefCount <= 1)
    return;
  KALDEN_CHECK_OR_RETURN(!Entity::isPurging());
  KALDEN_CHECK_OR_RETURN(m_deactivationRefCount > m_clientDeactivations);
  switchOn(false);
}

void Constraint::switchOn(bool byClient) {
  --m_deactivationRefCount;
  if (byClient) {
    --m_clientDeactivations;
    m_constraintEngine->noteModelChange();
  }
  KALDEN_TRACE("Constraint:undoDeactivation", "RefCount: [" << m_deactivationRefCount << "]" << toString());
  const LifeWatch<Constraint> watch(m_id);
  const SwitchingBracket switching(*m_constraintEngine.operator->(), getKey());
  if (isActive()) {
    m_constraintEngine->notifyActivated(m_id);
    if (watch.gone())
      return;
    handleActivate();
    if (watch.gone())
      return;
  }
  handleSwitching();
}

void Constraint::handleActivate() {}

void Constraint::handleDeactivate() {}

void Constraint::handleSwitching() {}

void Constraint::notifyBaseDomainRestricted(const Id<ConstrainedVariable>& variable) {
  KALDEN_TRACE("Constraint:notifyBaseDomainRestricted",
               "Base domain of " << variable->toString() << " restricted in " << toString());
  if (m_isRedundant)
    return;
  m_isRedundant = testIsRedundant(variable);
  if (m_isRedundant)
    m_constraintEngine->notifyRedundant(m_id);
}

void Constraint::notifyBaseDomainOpened() {
  // Redundancy rests on closed base domains: one that may gain values again undoes it.
  if (!m_isRedundant)
    return;
  m_isRedundant = false;
  if (!m_isRetired)
    return; // the engine drops it from its record before retiring anything
  endRetirement();
}

void Constraint::notifyValueMoved() {
  // A decided base still admits a value within the tolerance of its own: the run the constraint
  // retired after was over another value.
  if (m_isRetired)
    endRetirement();
}

void Constraint::endRetirement() {
  // Back from retirement it constrains again. The hooks still see it retired while it comes
  // back, since retirement left what the constraint owns running on its own.
  --m_deactivationRefCount;
  const LifeWatch<Constraint> watch(m_id);
  if (isActive()) {
    m_constraintEngine->notifyActivated(m_id);
    if (watch.gone())
      return;
    handleActivate();
    if (watch.gone())
      return;
  }
  m_isRetired = false;
  // Still off for another reason, it no longer leaves what it owns running on its own.
  handleSwitching();
}

bool Constraint::testIsRedundant(const Id<ConstrainedVariable>& variable) const {
  if (variable.isId() && !ConstraintShape::isDecided(variable->baseDomain()))
    return false;
  // A base domain open to insertion may still gain values, and a real interval narrower than the
  // tolerance still holds more than one: nothing is decided for good.
  for (const Id<ConstrainedVariable>& var : m_variables) {
    if (!ConstraintShape::isDecided(var->baseDomain())) {
      KALDEN_TRACE("Constraint:testIsRedundant", var->toString() << " has base domain of " << var->baseDomain());
      return false;
    }
  }
  KALDEN_TRACE("Constraint:testIsRedundant", " constraint " << toString() << " is redundant");
  return true;
}

bool Constraint::judgesBase(int) const { return false; }

bool Constraint::admitsBase(int, const AbstractDomain&) const { return true; }

bool Constraint::canIgnore(const Id<ConstrainedVariable>&, int, const DomainListener::ChangeType&) { return false; }

const std::vector<Id<ConstrainedVariable> >& Constraint::getModifiedVariables(const Id<ConstrainedVariable>&) const {
  return m_variables;
}

void Constraint::notifyViolated() {
  m_propagator->getConstraintEngine()->getViolationMgr().addViolatedConstraint(m_id);
}

void Constraint::notifyNoLongerViolated() {
  m_propagator->getConstraintEngine()->getViolationMgr().removeViolatedConstraint(m_id);
}

void Constraint::setSource(const Id<Constraint>& sourceConstraint) { KALDEN_CHECK(sourceConstraint.isValid()); }

double Constraint::getViolation() const {
  // A discarded constraint left the violated set with its engine, which may be gone.
  if (isDiscarded())
    return 0.0;
  return m_constraintEngine->isViolated(m_id) ? 1.0 : 0.0;
}

std::string Constraint::getViolationExpl() const {
  std::ostringstream os;
  os << m_name.toString() << "(";
  for (unsigned int i = 0; i < m_variables.size(); ++i) {
    const Id<ConstrainedVariable>& var = m_variables[i];
    if (i > 0)
      os << ",";
    const std::string& name = var->getName().toString();
    if (name.compare(0, 4, "$VAR") == 0)
      os << var->lastDomain().toString();
    else
      os << name << "(" << var->getKey() << ")";
  }
  os << ")";
  return os.str();
}

} // namespace KALDEN
