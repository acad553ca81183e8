#include "support/MirrorListener.hh"

#include <sstream>

namespace KALDEN {

MirrorListener::MirrorListener(const Id<ConstraintEngine>& engine) : ConstraintEngineListener(engine) {
  for (const Id<ConstrainedVariable>& variable : engine->getVariables()) {
    m_variables[variable->getKey()] = variable;
    watchLinks(variable);
    std::set<Id<Constraint> > linked;
    variable->constraints(linked);
    for (const Id<Constraint>& constraint : linked)
      for (std::size_t i = 0; i < constraint->getScope().size(); ++i)
        if (constraint->getScope()[i] == variable)
          m_links.back()->links.insert(std::make_pair(constraint->getKey(), static_cast<int>(i)));
    if (!variable->isActive())
      m_offVariables.insert(variable->getKey());
  }
  for (const Id<Constraint>& constraint : engine->getConstraints()) {
    m_constraints[constraint->getKey()] = constraint;
    if (engine->isViolated(constraint))
      m_violated.insert(constraint->getKey());
    if (!constraint->isActive())
      m_offConstraints.insert(constraint->getKey());
  }
}

void MirrorListener::watchLinks(const Id<ConstrainedVariable>& variable) {
  if (variable.isValid() && !variable->isDiscarded())
    m_links.emplace_back(new LinkPicture(variable, *this));
}

void MirrorListener::LinkPicture::notifyConstraintAdded(const Id<Constraint>& constraint, int argIndex) {
  if (!links.insert(std::make_pair(constraint->getKey(), argIndex)).second)
    mirror.breached("a variable heard linked to " + std::to_string(constraint->getKey()) + " twice");
}

void MirrorListener::LinkPicture::notifyConstraintRemoved(const Id<Constraint>& constraint, int argIndex) {
  if (links.erase(std::make_pair(constraint->getKey(), argIndex)) == 0)
    mirror.breached("a variable heard unlinked from " + std::to_string(constraint->getKey()) +
                    ", never heard linked");
}

template <class T>
void MirrorListener::add(std::map<int, Id<T> >& held, const Id<T>& object, const char* kind) {
  if (!object.isValid()) {
    breached(std::string("added ") + kind + " with an invalid handle");
    return;
  }
  if (!held.emplace(object->getKey(), object).second)
    breached(std::string("added ") + kind + " " + std::to_string(object->getKey()) + " twice");
}

template <class T>
void MirrorListener::remove(std::map<int, Id<T> >& held, std::set<int>& off, const Id<T>& object,
                            const char* kind) {
  // The object is whole while its removal is told.
  if (!object.isValid()) {
    breached(std::string("removed ") + kind + " with an invalid handle");
    return;
  }
  const auto it = held.find(object->getKey());
  if (it == held.end() || it->second != object) {
    breached(std::string("removed ") + kind + " " + std::to_string(object->getKey()) + " never heard added");
    return;
  }
  held.erase(it);
  // An object may go while switched off: it is heard removed without being switched on.
  off.erase(object->getKey());
}

template <class T>
bool MirrorListener::expectHeld(const std::map<int, Id<T> >& held, const Id<T>& object, const char* notice) {
  if (!object.isValid()) {
    breached(std::string(notice) + " with an invalid handle");
    return false;
  }
  const auto it = held.find(object->getKey());
  if (it != held.end() && it->second == object)
    return true;
  breached(std::string(notice) + " of " + std::to_string(object->getKey()) + ", not held");
  return false;
}

template <class T>
void MirrorListener::switched(const std::map<int, Id<T> >& held, std::set<int>& off, const Id<T>& object,
                              bool toOff) {
  if (!expectHeld(held, object, toOff ? "deactivated" : "activated"))
    return;
  // Switches alternate: what is off is switched on before it is switched off again.
  const int key = object->getKey();
  if (toOff ? !off.insert(key).second : off.erase(key) == 0)
    breached(std::string(toOff ? "deactivated " : "activated ") + std::to_string(key) + " twice in a row");
}

// The header's inline notices call these from wherever a subclass calls them: made here once.
template void MirrorListener::add(std::map<int, Id<ConstrainedVariable> >&, const Id<ConstrainedVariable>&, const char*);
template void MirrorListener::add(std::map<int, Id<Constraint> >&, const Id<Constraint>&, const char*);
template void MirrorListener::remove(std::map<int, Id<ConstrainedVariable> >&, std::set<int>&,
                                     const Id<ConstrainedVariable>&, const char*);
template bool MirrorListener::expectHeld(const std::map<int, Id<ConstrainedVariable> >&,
                                         const Id<ConstrainedVariable>&, const char*);
template void MirrorListener::switched(const std::map<int, Id<ConstrainedVariable> >&, std::set<int>&,
                                       const Id<ConstrainedVariable>&, bool);
template void MirrorListener::switched(const std::map<int, Id<Constraint> >&, std::set<int>&, const Id<Constraint>&,
                                       bool);

void MirrorListener::notifyPropagationCommenced() {
  if (m_inRun)
    breached("commenced inside a run");
  m_inRun = true;
}

void MirrorListener::endRun(const char* how) {
  if (!m_inRun)
    breached(std::string(how) + " outside a run");
  m_inRun = false;
}

void MirrorListener::notifyRemoved(const Id<Constraint>& constraint) {
  // A violation heard is withdrawn before its constraint is heard removed.
  if (constraint.isValid() && m_violated.count(constraint->getKey()) != 0)
    breached("removed constraint " + std::to_string(constraint->getKey()) + " still heard violated");
  remove(m_constraints, m_offConstraints, constraint, "constraint");
}

void MirrorListener::notifyViolationAdded(const Id<Constraint>& constraint) {
  expectHeld(m_constraints, constraint, "violation added");
  if (constraint.isValid() && !m_violated.insert(constraint->getKey()).second)
    breached("violation of " + std::to_string(constraint->getKey()) + " added twice");
}

void MirrorListener::notifyViolationRemoved(const Id<Constraint>& constraint) {
  expectHeld(m_constraints, constraint, "violation removed");
  if (constraint.isValid() && m_violated.erase(constraint->getKey()) == 0)
    breached("violation of " + std::to_string(constraint->getKey()) + " removed, never heard added");
}

void MirrorListener::notifyExecuted(const Id<Constraint>& constraint) {
  if (!m_inRun)
    breached("executed outside a run");
  expectHeld(m_constraints, constraint, "executed");
}

std::string MirrorListener::differenceFromEngine() const {
  std::ostringstream os;
  if (m_inRun)
    os << "a run is still open; ";
  if (!m_constraintEngine.isValid())
    return os.str();
  const ConstraintEngine& engine = *m_constraintEngine.operator->();
  std::map<int, Id<ConstrainedVariable> > variables;
  for (const Id<ConstrainedVariable>& variable : engine.getVariables())
    variables[variable->getKey()] = variable;
  std::map<int, Id<Constraint> > constraints;
  for (const Id<Constraint>& constraint : engine.getConstraints())
    constraints[constraint->getKey()] = constraint;
  if (variables != m_variables)
    os << "variables: the engine has " << variables.size() << ", the picture " << m_variables.size() << "; ";
  if (constraints != m_constraints)
    os << "constraints: the engine has " << constraints.size() << ", the picture " << m_constraints.size() << "; ";
  std::set<int> violated;
  for (const auto& entry : constraints)
    if (engine.isViolated(entry.second))
      violated.insert(entry.first);
  if (violated != m_violated)
    os << "violations: the engine holds " << violated.size() << ", the picture " << m_violated.size() << "; ";
  std::set<int> offVariables;
  for (const auto& entry : variables)
    if (!entry.second->isActive())
      offVariables.insert(entry.first);
  if (offVariables != m_offVariables)
    os << "inactive variables: the engine has " << offVariables.size() << ", the picture " << m_offVariables.size()
       << "; ";
  std::set<int> offConstraints;
  for (const auto& entry : constraints)
    if (!entry.second->isActive())
      offConstraints.insert(entry.first);
  for (const std::unique_ptr<LinkPicture>& picture : m_links) {
    if (picture->gone)
      continue;
    if (variables.count(picture->key) == 0) { // it left unheard, and may be freed: never read it
      os << "a variable's listener never heard it discarded; ";
      break;
    }
    std::set<int> linked;
    for (const auto& link : picture->links)
      linked.insert(link.first);
    std::set<Id<Constraint> > constraints;
    picture->variable()->constraints(constraints);
    std::set<int> actual;
    for (const Id<Constraint>& constraint : constraints)
      actual.insert(constraint->getKey());
    if (linked != actual) {
      os << "links of a variable: it has " << actual.size() << ", the picture " << linked.size() << "; ";
      break;
    }
  }
  if (offConstraints != m_offConstraints)
    os << "inactive constraints: the engine has " << offConstraints.size() << ", the picture "
       << m_offConstraints.size() << "; ";
  return os.str();
}

} // namespace KALDEN
