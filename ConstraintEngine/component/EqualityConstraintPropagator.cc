#define KALDEN_SOURCE "ConstraintEngine/component/Propagators"
#include "ConstraintEngine/component/EqualityConstraintPropagator.hh"

#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/component/EqualityConstraints.hh"
#include "Utils/base/Report.hh"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace KALDEN {

EqualityConstraintPropagator::EqualityConstraintPropagator(const LabelStr& name,
                                                           const Id<ConstraintEngine>& constraintEngine)
    : Propagator(name, constraintEngine), m_fullReprop(false), m_active(false) {}

EqualityConstraintPropagator::~EqualityConstraintPropagator() = default;

bool EqualityConstraintPropagator::updateRequired() const {
  // Queued classes wait while the engine is suspended by an emptied domain.
  return (!m_eqClassAgenda.empty() || m_fullReprop) && !getConstraintEngine()->isPropagationSuspended();
}

void EqualityConstraintPropagator::handleNotification(const Id<ConstrainedVariable>& variable, int,
                                                      const Id<Constraint>& constraint,
                                                      const DomainListener::ChangeType&) {
  // A constraint's class is checked on the execute() after it was built (listeners told while
  // it is built may change its variables): only one never announced is checked here.
  const bool connected = m_connected.find(constraint) != m_connected.end();
  if (!connected && m_unverified.find(constraint) == m_unverified.end())
    KALDEN_CHECK(Id<EqualConstraint>::convertable(constraint));
  // Every class is narrowed next anyway, or the change comes from the narrowing under way.
  if (m_fullReprop || m_active)
    return;
  // A scope of one variable, or of one variable repeated, joins nothing and has nothing to narrow.
  if (!connected)
    return;
  m_eqClassAgenda.insert(m_eqClassCollection.getGraphKey(variable));
}

void EqualityConstraintPropagator::handleConstraintAdded(const Id<Constraint>& constraint) {
  KALDEN_CHECK(!m_active);
  // Announced again while already joined (a redundant constraint is), it adds nothing.
  if (m_connected.find(constraint) != m_connected.end())
    return;
  // While the constraint is still being built its class cannot be told yet: check it on the next execute().
  connect(constraint);
  m_unverified.insert(constraint);
}

void EqualityConstraintPropagator::handleConstraintRemoved(const Id<Constraint>& constraint) {
  KALDEN_CHECK(!m_active);
  m_unverified.erase(constraint);
  // A deactivated constraint was disconnected already.
  if (m_connected.find(constraint) == m_connected.end())
    return;
  disconnect(constraint);
}

void EqualityConstraintPropagator::handleConstraintDeactivated(const Id<Constraint>& constraint) {
  handleConstraintRemoved(constraint);
}

void EqualityConstraintPropagator::handleConstraintActivated(const Id<Constraint>& constraint) {
  handleConstraintAdded(constraint);
}

bool EqualityConstraintPropagator::connect(const Id<Constraint>& constraint) {
  // Shorter scopes have no pair: any arity is an equality, and one variable equals itself.
  const std::vector<Id<ConstrainedVariable> >& scope = constraint->getScope();
  Id<ConstrainedVariable> joined;
  for (std::size_t i = 1; i < scope.size(); ++i) {
    const Id<ConstrainedVariable>& first = scope[i - 1];
    const Id<ConstrainedVariable>& second = scope[i];
    if (first == second)
      continue;
    // The merge retires both classes' keys: none of them may stay queued.
    m_eqClassAgenda.erase(m_eqClassCollection.getGraphKey(first));
    m_eqClassAgenda.erase(m_eqClassCollection.getGraphKey(second));
    m_eqClassCollection.addConnection(first, second);
    joined = first;
  }
  if (joined.isNoId())
    return false;
  m_connected.insert(constraint);
  m_eqClassAgenda.insert(m_eqClassCollection.getGraphKey(joined));
  return true;
}

void EqualityConstraintPropagator::disconnect(const Id<Constraint>& constraint) {
  const std::vector<Id<ConstrainedVariable> >& scope = constraint->getScope();
  // The class narrowed every member to what all of them shared, also past members that could not
  // hold it (an interval holds no gap of an enumeration), where no relaxation walks back: once the
  // constraint no longer joins them, the members beyond its scope get room again. Its scope is
  // relaxed on removal, and keeps its narrowing when switched off, like any constraint's. The
  // base domains of a redundant constraint hold its values for good: the split classes still
  // share them.
  const bool redundant = constraint->isRedundant();
  std::vector<Id<ConstrainedVariable> > beyondScope;
  bool cutShort = false;
  for (const Id<ConstrainedVariable>& member :
       m_eqClassCollection.getGraphVariables(m_eqClassCollection.getGraphKey(scope.front()))) {
    // An open member is left out of the narrowing, so one holding nothing yet cut nothing short.
    cutShort = cutShort || (member->lastDomain().isEmpty() && member->lastDomain().isClosed());
    if (!redundant && std::find(scope.begin(), scope.end(), member) == scope.end())
      beyondScope.push_back(member);
  }
  const bool queued = !m_eqClassAgenda.empty();
  for (std::size_t i = 1; i < scope.size(); ++i)
    if (scope[i - 1] != scope[i])
      m_eqClassCollection.removeConnection(scope[i - 1], scope[i]);
  m_connected.erase(constraint);
  m_unverified.erase(constraint);
  // A class narrowed in full stays so when it splits. Queued ones may have been renumbered: then
  // every class is narrowed on the next execute(), in place of the agenda. A class whose last
  // narrowing stopped at an emptied member never narrowed the others to each other: each part
  // that holds a variable of the scope (every part does) is queued.
  if (queued)
    m_fullReprop = true;
  else if (cutShort)
    for (const Id<ConstrainedVariable>& var : scope)
      if (m_eqClassCollection.isJoined(var))
        m_eqClassAgenda.insert(m_eqClassCollection.getGraphKey(var));
  if (!beyondScope.empty())
    getConstraintEngine()->relaxVariables(beyondScope);
}

void EqualityConstraintPropagator::execute() {
  KALDEN_CHECK(!m_active);
  for (const Id<Constraint>& constraint : m_unverified)
    KALDEN_CHECK(Id<EqualConstraint>::convertable(constraint));
  m_unverified.clear();

  m_active = true;
  try {
    if (m_fullReprop) {
      m_eqClassCollection.getGraphKeys(m_eqClassAgenda);
      m_fullReprop = false;
    }
    for (int key : m_eqClassAgenda)
      equate(m_eqClassCollection.getGraphVariables(key));
  } catch (...) {
    m_active = false; // a refused class must not leave the propagator refusing everything after it
    throw;
  }
  m_eqClassAgenda.clear();
  m_active = false;
}

void EqualityConstraintPropagator::equate(const std::set<Id<ConstrainedVariable> >& scope) {
  KALDEN_CHECK(!scope.empty());
  processScope(scope);
}

namespace {

// Narrows `shared` by each member in turn; when that leaves nothing, the member that left
// nothing is emptied too. Answers whether `shared` changed; sets `emptied`.
bool narrowShared(AbstractDomain& shared, const std::vector<AbstractDomain*>& members, bool& emptied) {
  bool changed = false;
  for (AbstractDomain* member : members) {
    if (!shared.intersect(*member))
      continue;
    changed = true;
    if (shared.isEmpty()) {
      member->empty();
      emptied = true;
      return true;
    }
  }
  return changed;
}

// Narrows each member to `shared`; answers whether one was emptied (the others are left).
bool narrowMembers(const AbstractDomain& shared, const std::vector<AbstractDomain*>& members) {
  for (AbstractDomain* member : members)
    if (member->intersect(shared) && member->isEmpty())
      return true;
  return false;
}

} // namespace

void processScope(const std::set<Id<ConstrainedVariable> >& scope) {
  if (scope.empty())
    return;
  // Every member is checked before any domain changes. An open member may still gain any value:
  // it says nothing about the values the class can hold, so it is left out and the closed
  // members are narrowed to what they share, wherever the open one stands in the class.
  const AbstractDomain& first = EqualConstraint::getCurrentDomain(*scope.begin());
  std::vector<AbstractDomain*> members;
  members.reserve(scope.size());
  for (const Id<ConstrainedVariable>& var : scope) {
    AbstractDomain& currentDomain = EqualConstraint::getCurrentDomain(var);
    KALDEN_CHECK(AbstractDomain::canBeCompared(first, currentDomain));
    if (!currentDomain.isOpen())
      members.push_back(&currentDomain);
  }
  if (members.empty())
    return;
  // An emptied member is on the engine's record already; there is nothing to share.
  for (const AbstractDomain* member : members)
    if (member->isEmpty())
      return;

  // One domain takes in every other, then every other is narrowed to it. It is the first
  // enumeration, if there is one: an interval cannot hold the gaps that enumerations share.
  // Members that hold values the shared domain cannot express (an enumeration within an
  // interval, an integer interval within real bounds) narrow further than it did: repeat until
  // it stays as it is, so the class ends with the domain all its members share.
  std::vector<AbstractDomain*>::iterator sharedPos = members.begin();
  for (std::vector<AbstractDomain*>::iterator m = members.begin(); m != members.end(); ++m) {
    if ((*m)->isEnumerated()) {
      sharedPos = m;
      break;
    }
  }
  AbstractDomain& shared = **sharedPos;
  members.erase(sharedPos);

  bool emptied = false;
  narrowShared(shared, members, emptied);
  if (emptied)
    return;
  // Enumerations of one tolerance keep exactly the members they share: one pass each way ends it.
  bool exact = shared.isEnumerated();
  for (const AbstractDomain* member : members)
    exact = exact && member->isEnumerated() && member->minDelta() == shared.minDelta();
  if (exact) {
    narrowMembers(shared, members);
    return;
  }
  while (!narrowMembers(shared, members)) {
    if (!narrowShared(shared, members, emptied) || emptied)
      return;
  }
}

} // namespace KALDEN
