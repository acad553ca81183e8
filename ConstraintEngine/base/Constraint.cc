#define KALDEN_SOURCE "ConstraintEngine/base/Constraint"

// The constraint's construction, scope, printing, discard and destruction.

#include "ConstraintEngine/base/Constraint.hh"

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/Propagator.hh"
#include "Utils/base/Report.hh"

#include <sstream>

namespace KALDEN {

Constraint::Constraint(const LabelStr& name, const LabelStr& propagatorName,
                       const Id<ConstraintEngine>& constraintEngine, const std::vector<Id<ConstrainedVariable> >& scope,
                       bool madeUntilMembersBuilt)
    : Entity(), m_isRedundant(false), m_deactivationRefCount(0), m_name(name),
      m_constraintEngine(ownHandleOf(constraintEngine)), m_variables(scope), m_id(this), m_createdBy("UNKNOWN") {
  unsigned int linked = 0;
  bool making = false;
  try {
    KALDEN_CHECK(m_constraintEngine.isValid());
    const ConstraintEngine::CleanMark clean = m_constraintEngine->cleanMark();
    KALDEN_CHECK(!m_variables.empty());
    // The whole scope is checked before the engine hears of the constraint.
    for (unsigned int i = 0; i < m_variables.size(); ++i) {
      KALDEN_CHECK_MSG(m_variables[i].isValid(),
                       "The argIndex " << i << " is not a valid variable for constraint " << m_name.toString());
      // A discarded variable has left the engine: nothing of this constraint would reach it.
      KALDEN_CHECK_TEXT_MSG(!m_variables[i]->isDiscarded(), "!m_variables[i]->isDiscarded()",
                            "The variable " << m_variables[i]->getName().toString() << " at argIndex " << i
                                            << " is discarded and cannot join constraint " << m_name.toString());
      // Changes of another engine's variable never reach this engine's propagators.
      KALDEN_CHECK_TEXT_MSG(m_variables[i]->getConstraintEngine() == m_constraintEngine,
                            "m_variables[i]->getConstraintEngine() == m_constraintEngine",
                            "The variable " << m_variables[i]->getName().toString() << " at argIndex " << i
                                            << " belongs to another engine than constraint " << m_name.toString());
    }

    // Nobody hears of it before it is linked (a composite: before its members are built too): a
    // listener may then discard it or a variable of its scope, which refuses it whole.
    m_constraintEngine->beginMaking(getKey());
    making = true;
    m_constraintEngine->add(m_id, propagatorName);
    KALDEN_TRACE("Constraint:Constraint", "Creating constraint "
                                              << getKey() << ":" << m_name.toString() << " registered with propagator "
                                              << propagatorName.toString() << " with arity " << m_variables.size());
    KALDEN_CHECK(isValid());

    for (unsigned int i = 0; i < m_variables.size(); ++i) {
      const Id<ConstrainedVariable>& var = m_variables[i];
      // Whoever heard of the constraint or of a link so far may have deleted a variable of the
      // scope: one linked already took the constraint along, one not yet linked is gone.
      checkScopeStands(var);
      // One unit per outstanding deactivation of the variable, since each undo of the
      // variable undoes one of the constraint's: the count can then never go below 0.
      m_deactivationRefCount += var->refCount();
      linked = i + 1;
      var->addConstraint(m_id, static_cast<int>(i));
    }
    // Every variable is linked now: deleting any would have discarded the constraint.
    checkScopeStands(m_variables[0]);

    notifyBaseDomainRestricted(m_variables[0]);

    if (!isActive()) {
      m_constraintEngine->notifyDeactivated(m_id);
      Constraint::handleDeactivate();
    }
    if (!madeUntilMembersBuilt) {
      making = false;
      m_constraintEngine->endMaking(getKey(), false, true);
      checkScopeStands(m_variables[0]);
      // Its class may still refuse it, which must leave no work behind.
      m_constraintEngine->noteMadeOnClean(getKey(), clean);
    }
  } catch (...) {
    // The destructor will not run: take back every registration made so far.
    const Id<ConstraintEngine> engine = m_constraintEngine;
    const int key = getKey();
    undoRegistration(linked);
    // The refusal leaves: a listener's failure told meanwhile is printed.
    const NoThrowScope guard;
    if (making && engine.isValid())
      engine->endMaking(key, true, true);
    throw;
  }
}

void Constraint::made() {
  const ConstraintEngine::CleanMark clean = m_constraintEngine->makingMark(getKey());
  m_constraintEngine->endMaking(getKey(), false, true);
  checkScopeStands(m_variables[0]);
  // Its class may still refuse it, which must leave no work behind.
  m_constraintEngine->noteMadeOnClean(getKey(), clean);
}

void Constraint::checkScopeStands(const Id<ConstrainedVariable>& variable) const {
  // Built on, a constraint whose variable went would read the freed variable (its class reads
  // domains next): the creation is refused instead.
  KALDEN_CHECK_TEXT_MSG(!isDiscarded() && variable.isValid() && !variable->isDiscarded(),
                        "!isDiscarded() && variable.isValid() && !variable->isDiscarded()",
                        "Constraint " << m_name.toString()
                                      << " lost a variable of its scope, or itself, to a listener while it was built.");
}

void Constraint::undoRegistration(unsigned int linkedPositions) {
  NoThrowScope guard;
  markRefused();
  for (unsigned int i = 0; i < linkedPositions; ++i)
    if (m_variables[i].isValid() && m_variables[i]->isConstrainedBy(m_id))
      m_variables[i]->removeConstraint(m_id, static_cast<int>(i));
  countRefused();
  if (m_constraintEngine.isValid() && m_constraintEngine->getConstraints().count(m_id) != 0)
    m_constraintEngine->remove(m_id);
  m_id.remove();
}

Constraint::~Constraint() {
  NoThrowScope guard;
  KALDEN_TRACE("Constraint:~Constraint", Entity::toString() << " Id=" << m_id);
  // Refused by its class, it is destroyed while its refusal unwinds, standing until then (one
  // discarded earlier may have outlived its engine). It narrowed nothing: counted retired, its
  // removal gives nothing back.
  ConstraintEngine* const refusedOn =
      !isDiscarded() && m_constraintEngine.isValid() && m_constraintEngine->refusedByClass(getKey())
          ? m_constraintEngine.operator->()
          : nullptr;
  if (refusedOn != nullptr)
    countRefused();
  discardInDestructor();
  if (refusedOn != nullptr)
    refusedOn->forgetRefusedMaking(getKey());
  if (m_id.isValid())
    m_id.remove();
}

PSList<PSVariable*> Constraint::getVariables() const {
  PSList<PSVariable*> result;
  for (const Id<ConstrainedVariable>& var : m_variables)
    result.push_back(var.isValid() ? static_cast<PSVariable*>(var) : nullptr);
  return result;
}

bool Constraint::isVariableOf(const Id<ConstrainedVariable>& variable) {
  for (const Id<ConstrainedVariable>& var : m_variables)
    if (var == variable)
      return true;
  return false;
}

AbstractDomain& Constraint::getCurrentDomain(const Id<ConstrainedVariable>& var) {
  KALDEN_CHECK(var.isValid());
  return var->getCurrentDomain();
}

void Constraint::setPropagator(const Id<Propagator>& propagator) {
  KALDEN_CHECK(m_propagator.isNoId());
  KALDEN_CHECK(propagator->getConstraintEngine() == m_constraintEngine);
  m_propagator = propagator;
}

bool Constraint::isValid() const {
  return !m_variables.empty() && m_propagator.isValid() && m_constraintEngine.isValid();
}

const std::string& Constraint::getEntityType() const {
  static const std::string* const sl_type = new std::string("CONSTRAINT");
  return *sl_type;
}

const LabelStr& Constraint::entityTypeName() {
  static const LabelStr sl_type("Constraint");
  return sl_type;
}

const LabelStr& Constraint::entityType() const { return entityTypeName(); }

std::string Constraint::toString() const {
  std::ostringstream os;
  os << Entity::toString() << std::endl;
  for (unsigned int i = 0; i < m_variables.size(); ++i) {
    const Id<ConstrainedVariable>& var = m_variables[i];
    KALDEN_CHECK_MSG(var.isValid(), "Invalid argument in constraint");
    if (var.isValid())
      os << " ARG[" << i << "]:" << var->toLongString() << std::endl;
  }
  return os.str();
}

Id<Constraint> Constraint::ownerOf(int ownerKey, bool standing) {
  // Only constraints adopt parts, so an owner found by key is a constraint.
  Id<Constraint> outermost;
  while (ownerKey != 0) {
    Entity* const owner = Entity::getEntity(ownerKey);
    if (owner == nullptr || (standing && owner->isDiscarded()))
      break;
    const Constraint* const constraint = static_cast<const Constraint*>(owner);
    outermost = constraint->getId();
    ownerKey = constraint->m_ownerKey;
  }
  return outermost;
}

bool Constraint::refusesPartDeletion(const Entity& part, int ownerKey, bool standing) {
  // No leniency while purging: the engine's purge discards owners first, and a client clearing
  // between purgeStart() and purgeEnd() must not free a part on its own.
  if (ownerKey == 0)
    return false;
  const Id<Constraint> owner = ownerOf(ownerKey, standing);
  KALDEN_CHECK_TEXT_MSG_OR_RETURN(owner.isNoId(), "standingOwner().isNoId()",
                                  "Cannot delete "
                                      << (dynamic_cast<const Constraint*>(&part) ? "constraint " : "variable ")
                                      << part.getName().toString() << " (key " << part.getKey()
                                      << "): it is part of constraint " << owner->getName().toString() << " (key "
                                      << owner->getKey() << ") and goes only with it; delete that constraint instead.",
                                  true);
  return false;
}

void Constraint::adopt(ConstrainedVariable& part) const { part.extras().ownerKey = getKey(); }

CallCounter* Constraint::callCounter() const {
  // Its engine counts it, and outlives it.
  return m_constraintEngine.isValid() ? static_cast<CallCounter*>(m_constraintEngine.operator->()) : nullptr;
}

void Constraint::handleDiscard() {
  KALDEN_TRACE("Constraint:handleDiscard", m_name.toString() << "(" << getKey() << ") " << m_id);
  if (!Entity::isPurging()) {
    KALDEN_CHECK(isValid());
    // It leaves its propagator before any unlink is told: a variable's listener may then delete
    // the variable, which the propagator would read as it lets go.
    if (m_constraintEngine.isValid())
      m_constraintEngine->detachFromPropagator(m_id);
    for (unsigned int i = 0; i < m_variables.size(); ++i)
      if (m_variables[i].isValid())
        m_variables[i]->removeConstraint(m_id, static_cast<int>(i));
  }
  if (m_constraintEngine.isValid())
    m_constraintEngine->remove(m_id);
  Entity::handleDiscard();
}

} // namespace KALDEN
