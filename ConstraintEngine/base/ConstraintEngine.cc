#define KALDEN_SOURCE "ConstraintEngine/base/ConstraintEngine"

// The engine object: construction, registries, lookup, auto-propagation and purge.

#include "ConstraintEngine/base/ConstraintEngine.hh"

#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
#include "ConstraintEngine/base/Propagator.hh"
#include "Utils/base/Report.hh"

#include <iterator>

namespace KALDEN {

const Id<ConstraintEngine>& ownHandleOf(const Id<ConstraintEngine>& engine) {
  return engine.isValid() ? engine->getId() : engine;
}

const char*& g_noVarName() {
  static const char* sl_noVarName = "NO_NAME";
  return sl_noVarName;
}

ConstraintEngine::ConstraintEngine(const Id<CESchema>& schema)
    : m_id(this), m_relaxing(false), m_relaxingViolation(false), m_relaxed(false), m_propInProgress(false),
      m_deleted(false), m_purged(false), m_dirty(false), m_holdChanges(false), m_cycleCount(1),
      m_mostRecentRepropagation(1), m_autoPropagate(true), m_schema(schema) {
  removeOnFailure(m_id, [&schema] {
    KALDEN_CHECK_TEXT_MSG(schema.isValid(), "m_schema.isValid()",
                          "Cannot build an engine on schema " << schema << ": it is gone.");
  });
  m_violationMgr.reset(new ViolationMgrImpl(0, *this));
}

ConstraintEngine::~ConstraintEngine() {
  NoThrowScope guard;
  m_deleted = true;
  if (!m_purged)
    purge();
  m_id.remove();
  m_violationMgr.reset();
}

bool ConstraintEngine::beginBroadcast() {
  KALDEN_CHECK(!Entity::isPurging());
  m_dirty = true;
  return !m_listeners.empty();
}

void ConstraintEngine::add(const Id<ConstrainedVariable>& variable) {
  KALDEN_CHECK(m_variables.find(variable) == m_variables.end());
  // Before the insertion, so that a refused variable leaves nothing behind.
  KALDEN_CHECK(!Entity::isPurging());
  m_variables.insert(variable);
  noteRegistration();
  if (beginBroadcast())
    tellAdded(variable, [variable](ConstraintEngineListener& listener) { listener.notifyAdded(variable); });
  KALDEN_TRACE("ConstraintEngine:add:ConstrainedVariable", variable->getName().toString()
                                                               << "(" << variable->getKey() << ")");
}

void ConstraintEngine::add(const Id<Constraint>& constraint, const LabelStr& propagatorName) {
  KALDEN_CHECK_MSG(m_constraints.find(constraint) == m_constraints.end(),
                   "Attempted to add constraint " << constraint->getName().toString() << " but it already exists.");
  KALDEN_CHECK_MSG(m_propagatorsByName.find(propagatorName.getKey()) != m_propagatorsByName.end(),
                   "Propagator " << propagatorName.toString() << " has not been registered.");
  // Before the insertion, so that a refused constraint leaves nothing behind.
  KALDEN_CHECK(!Entity::isPurging());
  m_constraints.insert(constraint);
  noteRegistration();
  if (constraint->isRedundant())
    m_redundantConstraints.insert(constraint);
  const Id<Propagator> propagator = m_propagatorsByName.find(propagatorName.getKey())->second;
  propagator->addConstraint(constraint);
  constraint->setPropagator(propagator);
  if (beginBroadcast())
    tellAdded(constraint, [constraint](ConstraintEngineListener& listener) { listener.notifyAdded(constraint); });
  KALDEN_TRACE("ConstraintEngine:add:constraint:Propagator", constraint->getName().toString()
                                                                 << "(" << constraint->getKey() << ") added to "
                                                                 << propagatorName.toString());
}

void ConstraintEngine::add(const Id<Propagator>& propagator) {
  KALDEN_CHECK(propagator.isValid());
  const LabelStr& name = propagator->getName();
  auto it = m_propagatorsByName.find(name.getKey());
  if (it != m_propagatorsByName.end()) {
    const Id<Propagator> oldPropagator = it->second;
    // Its constraints would never run again and would keep naming it after it is gone.
    KALDEN_CHECK_MSG(!oldPropagator.isValid() || oldPropagator->getConstraints().empty(),
                     "Propagator " << name.toString() << " still holds constraints and cannot be replaced.");
    KALDEN_WARNING("Overwriting propagator named " << name.toString());
    for (auto pit = m_propagators.begin(); pit != m_propagators.end(); ++pit) {
      if (*pit == oldPropagator) {
        m_propagators.erase(pit);
        break;
      }
    }
    m_propagatorsByName.erase(it);
    if (oldPropagator.isValid())
      oldPropagator->discard(true);
  }
  m_propagators.push_back(propagator);
  m_propagatorsByName.insert(std::make_pair(name.getKey(), propagator));
  KALDEN_TRACE("ConstraintEngine:add:Propagator", name.toString());
}

void ConstraintEngine::add(const Id<ConstraintEngineListener>& listener) {
  KALDEN_CHECK(!Entity::isPurging());
  KALDEN_CHECK(listener.isValid());
  KALDEN_CHECK(m_listeners.count(listener) == 0);
  m_listeners.insert(listener);
}

void ConstraintEngine::remove(const Id<ConstraintEngineListener>& listener) {
  KALDEN_CHECK(m_listeners.count(listener) == 1);
  if (!m_deleted)
    m_listeners.erase(listener);
}

PSVariable* ConstraintEngine::getVariableByKey(int key) {
  const Id<ConstrainedVariable> entity = Entity::getEntity(key);
  KALDEN_CHECK_OR_RETURN(entity.isValid(), nullptr);
  // Another engine's variable, or one that has left, is none of this engine's.
  if (entity->refusesDiscarded("look up"))
    return nullptr;
  KALDEN_CHECK_TEXT_MSG_OR_RETURN(
      &entity->getConstraintEngine() == &m_id, "entity->getConstraintEngine() == m_id",
      "The variable " << entity->getName().toString() << " (key " << key << ") belongs to another engine.", nullptr);
  return entity;
}

PSVariable* ConstraintEngine::getVariableByName(const std::string& name) {
  for (const Id<ConstrainedVariable>& var : getVariables())
    if (var->getName().toString() == name)
      return var;
  return nullptr;
}

Id<ConstrainedVariable> ConstraintEngine::getVariable(unsigned int index) {
  KALDEN_CHECK_OR_RETURN(index < m_variables.size(), Id<ConstrainedVariable>::noId());
  auto it = m_variables.begin();
  std::advance(it, index);
  const Id<ConstrainedVariable> var = *it;
  KALDEN_CHECK(var.isValid());
  return var;
}

Id<Constraint> ConstraintEngine::getConstraint(unsigned int index) {
  KALDEN_CHECK_OR_RETURN(index < m_constraints.size(), Id<Constraint>::noId());
  auto it = m_constraints.begin();
  std::advance(it, index);
  KALDEN_CHECK(it->isValid());
  return *it;
}

int ConstraintEngine::getIndex(const Id<ConstrainedVariable>& var) {
  KALDEN_CHECK(var.isValid());
  int index = 0;
  for (const Id<ConstrainedVariable>& candidate : m_variables) {
    KALDEN_CHECK(candidate.isValid());
    if (candidate == var)
      return index;
    ++index;
  }
  KALDEN_ALWAYS_FAIL_MSG("The variable " << var->getName().toString() << " (" << var
                                         << ") is not this engine's: it is discarded or another engine's.");
  return 0;
}

int ConstraintEngine::getIndex(const Id<Constraint>& constr) {
  KALDEN_CHECK(constr.isValid());
  auto it = m_constraints.find(constr);
  KALDEN_CHECK_MSG_OR_RETURN(it != m_constraints.end(),
                             "The constraint " << constr->getName().toString() << " (" << constr
                                               << ") is not this engine's: it is discarded or another engine's.",
                             0);
  KALDEN_CHECK(it->isValid());
  return static_cast<int>(std::distance(m_constraints.begin(), it));
}

const Id<Propagator>& ConstraintEngine::getPropagatorByName(const LabelStr& name) const {
  auto it = m_propagatorsByName.find(name.getKey());
  if (it == m_propagatorsByName.end())
    return Id<Propagator>::noId();
  return it->second;
}

void ConstraintEngine::purge() {
  // Both checks come first, so that a refused purge leaves the engine as it was.
  KALDEN_CHECK(Entity::isPurging() || m_constraints.empty());
  KALDEN_CHECK(Entity::isPurging() || m_variables.empty());
  m_purged = true;
  while (!m_constraints.empty()) {
    const Id<Constraint> constraint = *m_constraints.begin();
    KALDEN_CHECK(constraint.isValid());
    // Owners first: a part goes with the outermost composite standing that holds it.
    if (constraint.isValid()) {
      const Id<Constraint> outermost = Constraint::ownerOf(constraint->getKey(), true);
      (outermost.isNoId() ? constraint : outermost)->discard(true);
    }
    // The discard removes the constraint; should it not, the loop must still end.
    if (!m_constraints.empty() && *m_constraints.begin() == constraint)
      m_constraints.erase(m_constraints.begin());
  }
  while (!m_variables.empty()) {
    const Id<ConstrainedVariable> var = *m_variables.begin();
    KALDEN_CHECK(var.isValid());
    if (var.isValid())
      var->discard(true);
    if (!m_variables.empty() && *m_variables.begin() == var)
      m_variables.erase(m_variables.begin());
  }
  // Releasing the last hold deletes a heap propagator: keep no handle to it.
  const std::list<Id<Propagator> > propagators = m_propagators;
  m_propagators.clear();
  m_propagatorsByName.clear();
  for (const Id<Propagator>& prop : propagators) {
    KALDEN_CHECK(prop.isValid());
    if (prop.isValid())
      prop->decRefCount();
  }
}

} // namespace KALDEN
