#define KALDEN_SOURCE "ConstraintEngine/base/ConstraintEngine"

// Relaxation: a variable whose domain grew widens every variable it reaches through constraints
// that may hold its narrowing.

#include "ConstraintEngine/base/ConstraintEngine.hh"

#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/component/ConstraintsBase.hh"
#include "Utils/base/FlagScope.hh"
#include "Utils/base/Report.hh"

#include <cstddef>
#include <iterator>
#include <vector>

namespace KALDEN {

void ConstraintEngine::handleRelax(const Id<ConstrainedVariable>& variable) {
  KALDEN_CHECK(variable.isValid());
  KALDEN_CHECK(!m_propInProgress);
  if (m_relaxing) {
    // A cascade's own entries are stamped before they widen; any other variable widened
    // meanwhile (a listener deleted a constraint, or reset the variable) joins it next, so that
    // what it reaches widens too.
    if (variable->lastRelaxed() < m_cycleCount)
      m_widenings.push_front(Widening{variable, Widening::FROM, m_relaxingViolation});
    return;
  }
  const std::size_t outer = m_widenings.size();
  m_widenings.push_front(Widening{variable, Widening::FROM, m_relaxingViolation});
  workOffWidenings(outer);
}

void ConstraintEngine::workOffWidenings(std::size_t outer) {
  // Entries go on at the front and each call works off its own: the list is a stack of the
  // widenings under way, which a propagation started meanwhile works off whole first.
  while (m_widenings.size() > outer) {
    const Widening next = m_widenings.front();
    m_widenings.pop_front();
    widen(next);
  }
}

void ConstraintEngine::widen(const Widening& widening) {
  const Id<ConstrainedVariable>& var = widening.variable;
  // One removed, or being destroyed, since it was listed is left alone.
  if (!var.isValid() || var->isDiscarded() || m_variables.count(var) == 0)
    return;
  const FlagAs setAside(m_relaxingViolation, widening.setAside);
  const FlagAs relaxing(m_relaxing, widening.kind == Widening::REACHED);
  switch (widening.kind) {
  case Widening::ITSELF:
    // Reached in this cycle, it may still have been narrowed before (an insertion into an open
    // domain does not widen it whole): only one already at its widest is passed over.
    if (var->lastRelaxed() < m_cycleCount || !atWidest(var))
      var->relax();
    return;
  case Widening::FROM:
    relaxFrom(var);
    return;
  case Widening::REACHED:
    if (var->lastRelaxed() >= m_cycleCount)
      return;
    KALDEN_TRACE("ConstraintEngine:relaxed", "Relaxing " << var->toString());
    var->updateLastRelaxed(m_cycleCount);
    var->relax();
    if (!m_relaxingViolation && var.isValid())
      m_violationMgr->handleRelax(var);
    return;
  }
}

bool ConstraintEngine::atWidest(const Id<ConstrainedVariable>& var) {
  const AbstractDomain& current = var->lastDomain();
  if (var->specifiedFlag())
    return ConstraintShape::isDecided(current) && current.isMember(var->getSpecifiedValue());
  const AbstractDomain& base = var->baseDomain();
  // Tolerant equality would take a point for a base narrower than the tolerance: an interval
  // is at its widest only at the base's very bounds.
  if (current.isInterval() && base.isInterval())
    return current.getLowerBound() == base.getLowerBound() && current.getUpperBound() == base.getUpperBound();
  return !(current != base);
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

  // The whole agenda is built, depth first and in pre-order, before anything is relaxed.
  std::list<Id<ConstrainedVariable> > agenda;
  std::set<Id<ConstrainedVariable> > visited;
  addLinkedVarsForRelaxation(variable, agenda, agenda.end(), visited);
  for (auto it = agenda.begin(); it != agenda.end(); ++it)
    addLinkedVarsForRelaxation(*it, agenda, std::next(it), visited);
  const std::size_t outer = m_widenings.size();
  for (auto it = agenda.rbegin(); it != agenda.rend(); ++it)
    m_widenings.push_front(Widening{*it, Widening::REACHED, m_relaxingViolation});
  workOffWidenings(outer);
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
