#define KALDEN_SOURCE "ConstraintEngine/base/ConstraintEngine"

// Relaxation: a variable whose domain grew widens every variable it reaches through constraints
// that may hold its narrowing.

#include "ConstraintEngine/base/ConstraintEngine.hh"

#include "ConstraintEngine/base/Constraint.hh"
#include "Utils/base/FlagScope.hh"
#include "Utils/base/Report.hh"

#include <iterator>
#include <vector>

namespace KALDEN {

void ConstraintEngine::handleRelax(const Id<ConstrainedVariable>& variable) {
  KALDEN_CHECK(variable.isValid());
  KALDEN_CHECK(!m_propInProgress);
  if (m_relaxing) {
    // A cascade is running. Its own entries are stamped before they widen; any other variable
    // widened meanwhile (a listener deleted a constraint, or reset the variable) joins the cycle
    // once the cascade is over, so that what it reaches widens too.
    if (variable->lastRelaxed() < m_cycleCount)
      m_relaxJoining.push_back(variable);
    return;
  }
  relaxFrom(variable);
  // Relaxing a joined variable may widen more through listeners: the list as it stands, each time.
  while (!m_relaxJoining.empty()) {
    std::vector<Id<ConstrainedVariable> > joining;
    joining.swap(m_relaxJoining);
    for (const Id<ConstrainedVariable>& joined : joining)
      if (joined.isValid() && !joined->isDiscarded() && m_variables.count(joined) != 0)
        relaxFrom(joined);
  }
}

void ConstraintEngine::relaxFrom(const Id<ConstrainedVariable>& variable) {
  KALDEN_TRACE("ConstraintEngine:relaxed", "Handling relaxation of " << variable->toString());
  if (!m_relaxingViolation) {
    m_violationMgr->handleRelax(variable);
    // Whoever heard of a violation withdrawn may have deleted the variable, or what owns it;
    // its constraints went with it, relaxing their scopes as they left.
    if (!variable.isValid() || variable->isDiscarded())
      return;
  }

  if (!m_relaxed) {
    m_relaxed = true;
    incrementCycle();
    variable->updateLastRelaxed(m_cycleCount);
  } else if (variable->lastRelaxed() < m_cycleCount) {
    variable->updateLastRelaxed(m_cycleCount);
  }
  KALDEN_CHECK(variable->lastRelaxed() == m_cycleCount);

  if (hasEmptyVariables() && !m_violationMgr->isEmpty(variable)) {
    m_violationMgr->relaxEmptyVariables();
    if (!variable.isValid() || variable->isDiscarded())
      return;
  }

  FlagScope relaxing(m_relaxing);
  // The whole agenda is built, depth first and in pre-order, before anything is relaxed.
  std::list<Id<ConstrainedVariable> > agenda;
  std::set<Id<ConstrainedVariable> > visited;
  addLinkedVarsForRelaxation(variable, agenda, agenda.end(), visited);
  for (auto it = agenda.begin(); it != agenda.end(); ++it)
    addLinkedVarsForRelaxation(*it, agenda, std::next(it), visited);

  for (const Id<ConstrainedVariable>& entry : agenda) {
    // An entry removed, or being destroyed, since the agenda was built is left alone.
    if (!entry.isValid() || entry->isDiscarded() || m_variables.count(entry) == 0 ||
        entry->lastRelaxed() >= m_cycleCount)
      continue;
    KALDEN_TRACE("ConstraintEngine:relaxed", "Relaxing " << entry->toString());
    entry->updateLastRelaxed(m_cycleCount);
    entry->relax();
    if (!m_relaxingViolation && entry.isValid())
      m_violationMgr->handleRelax(entry);
  }
}

bool ConstraintEngine::carriesRelaxation(const Id<Constraint>& constraint) const {
  return constraint->isActive() || (!constraint->isRetired() && !m_violationMgr->isViolated(constraint));
}

void ConstraintEngine::relaxFromSwitchedOff(const Id<ConstrainedVariable>& variable) {
  if (m_propInProgress)
    m_relaxFromAfterRun.push_back(variable);
  else
    handleRelax(variable);
}

void ConstraintEngine::relaxFromGrown(const Id<ConstrainedVariable>& variable) {
  // Clients may not widen during a run (they are refused before anything changes); a domain may
  // still gain members there, when an open enumeration takes those of a closed one.
  if (!m_propInProgress) {
    handleRelax(variable);
    return;
  }
  m_grownInRuns.push_back(variable);
  m_gainsInRun.emplace_back(variable, std::unique_ptr<AbstractDomain>(variable->lastDomain().copy()));
}

void ConstraintEngine::relaxVariables(const std::vector<Id<ConstrainedVariable> >& variables) {
  // A copy either way: relaxing reaches listeners, which may change what the caller passed.
  std::vector<Id<ConstrainedVariable> > listed(variables);
  if (m_propInProgress)
    m_relaxAfterRun.insert(m_relaxAfterRun.end(), listed.begin(), listed.end());
  else
    relaxListed(listed);
}

void ConstraintEngine::addLinkedVarsForRelaxation(const Id<ConstrainedVariable>& variable,
                                                  std::list<Id<ConstrainedVariable> >& agenda,
                                                  std::list<Id<ConstrainedVariable> >::iterator position,
                                                  std::set<Id<ConstrainedVariable> >& visited) {
  for (const ConstrainedVariable::ConstraintEntry& entry : variable->m_constraints) {
    const Id<Constraint>& constraint = entry.first;
    // A discarded constraint has left the engine, and relaxed its own scope when it left.
    if (!constraint.isValid() || constraint->isDiscarded() || !carriesRelaxation(constraint))
      continue;
    for (const Id<ConstrainedVariable>& linked : constraint->getModifiedVariables(variable)) {
      if (visited.count(linked) != 0 || linked->lastRelaxed() >= m_cycleCount)
        continue;
      KALDEN_TRACE("ConstraintEngine:relaxed",
                   "Cycle: " << m_cycleCount << " From " << variable->getName().toString() << "(" << variable->getKey()
                             << "), through constraint " << constraint->getName().toString() << "("
                             << constraint->getKey() << "), adding " << linked->getName().toString() << "("
                             << linked->getKey() << ") to the relaxation agenda.");
      visited.insert(linked);
      agenda.insert(position, linked);
    }
  }
}

} // namespace KALDEN
