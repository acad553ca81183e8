#define KALDEN_SOURCE "ConstraintEngine/base/ConstraintEngine"

// Relaxation: a variable whose domain grew widens every variable it reaches through constraints
// that may hold its narrowing.

#include "ConstraintEngine/base/ConstraintEngine.hh"

#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/component/ConstraintsBase.hh"
#include "Utils/base/FlagScope.hh"
#include "Utils/base/Report.hh"

#include <algorithm>
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
      m_widenings.push_front(Widening{variable, Widening::FROM, m_relaxingViolation, nullptr});
    return;
  }
  const std::size_t outer = m_widenings.size();
  m_widenings.push_front(Widening{variable, Widening::FROM, m_relaxingViolation, nullptr});
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

bool ConstraintEngine::widen(const Widening& widening) {
  const Id<ConstrainedVariable>& var = widening.variable;
  // One removed, or being destroyed, since it was listed is left alone.
  if (!var.isValid() || var->isDiscarded() || m_variables.count(var) == 0)
    return false;
  const FlagAs setAside(m_relaxingViolation, widening.setAside);
  const FlagAs relaxing(m_relaxing, widening.kind == Widening::REACHED);
  switch (widening.kind) {
  case Widening::ITSELF:
    // Reached in this cycle, it may still have been narrowed before (an insertion into an open
    // domain does not widen it whole): only one already at its widest is passed over.
    if (var->lastRelaxed() < m_cycleCount || !atWidest(var))
      var->relax();
    return true;
  case Widening::FROM:
    relaxFrom(var);
    return true;
  case Widening::GAIN:
    return giveBackGain(widening);
  case Widening::REACHED:
    if (var->lastRelaxed() >= m_cycleCount)
      return true;
    KALDEN_TRACE("ConstraintEngine:relaxed", "Relaxing " << var->toString());
    var->updateLastRelaxed(m_cycleCount);
    var->relax();
    if (!m_relaxingViolation && var.isValid())
      m_violationMgr->handleRelax(var);
    return true;
  }
  return false;
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
    m_widenings.push_front(Widening{*it, Widening::REACHED, m_relaxingViolation, nullptr});
  workOffWidenings(outer);
}

bool ConstraintEngine::carriesRelaxation(const Id<Constraint>& constraint) const {
  return constraint->isActive() || (!constraint->isRetired() && !m_violationMgr->isViolated(constraint));
}

void ConstraintEngine::relaxFromWidened(const Id<ConstrainedVariable>& variable) {
  if (!m_propInProgress)
    handleRelax(variable);
  else
    m_widenings.push_front(Widening{variable, Widening::FROM, m_relaxingViolation, nullptr});
}

void ConstraintEngine::relaxFromGrown(const Id<ConstrainedVariable>& variable) {
  if (!m_propInProgress) {
    handleRelax(variable);
    return;
  }
  // Clients may not widen during a run (they are refused before anything changes); an active
  // domain may still gain members there, when an open enumeration takes those of a closed one.
  // A gain is the engine's own finding, not a client's relaxation: it withdraws no violation, or
  // a constraint set aside would run, and be set aside again, for ever.
  if (variable->isActive())
    m_widenings.push_front(
        Widening{variable, Widening::GAIN, true, std::shared_ptr<const AbstractDomain>(variable->lastDomain().copy())});
  else
    m_widenings.push_front(Widening{variable, Widening::FROM, m_relaxingViolation, nullptr});
}

bool ConstraintEngine::giveBackGain(const Widening& gain) {
  const Id<ConstrainedVariable>& variable = gain.variable;
  // One emptied since kept nothing of the gain: its emptiness is relaxed as any other's, and
  // relaxing from it here would only refill it for the next run to fail alike. One relaxed in
  // this cycle already gave back a later gain, or was reached by another: the next run meets it
  // again if it still gains.
  const AbstractDomain& now = variable->lastDomain();
  if ((now.isEmpty() && now.isClosed()) || (m_relaxed && variable->lastRelaxed() >= m_cycleCount))
    return false;
  // What a constraint set aside in the run narrowed may have made the gain: nothing of it is
  // kept, and the next run, without that constraint, finds what stands.
  bool keep = m_setAsideScopes.empty();
  if (keep)
    for (const GainGivenBack& given : m_gainsGivenBack)
      if (given.first == variable && !(*given.second != *gain.gained))
        return false;
  // As for an insertion, the variable widens whole, with what it reaches: what rules narrowed
  // from its old members goes, and what it took since from others' narrowing.
  const unsigned long removalsBefore = m_scopesRelaxed;
  if (atWidest(variable))
    handleRelax(variable);
  else
    variable->relax();
  // A listener told of the relaxation may have removed what caused the gain: the next run finds
  // whether it still stands.
  keep = keep && m_scopesRelaxed == removalsBefore;
  if (keep && variable.isValid() && !variable->isDiscarded()) {
    m_gainsGivenBack.emplace_back(variable, std::unique_ptr<AbstractDomain>(gain.gained->copy()));
    takeAgain(variable, *gain.gained);
  }
  return true;
}

void ConstraintEngine::takeAgain(const Id<ConstrainedVariable>& variable, const AbstractDomain& gained) {
  // It takes again what it gained, so that the next run does not narrow from its old members
  // before meeting the gain again; but within a value specified or a base restriction made since,
  // which relax() kept, and never emptied by them (the next run judges that).
  AbstractDomain& current = variable->getCurrentDomain();
  if (variable->specifiedFlag() || current.isEmpty())
    return;
  std::unique_ptr<AbstractDomain> target(gained.copy());
  if (current.isClosed())
    target->intersect(current);
  if (target->isEmpty() || !(*target != current))
    return;
  current.intersect(*target);
}

void ConstraintEngine::relaxVariables(const std::vector<Id<ConstrainedVariable> >& variables) {
  // A copy either way: relaxing reaches listeners, which may change what the caller passed.
  std::vector<Id<ConstrainedVariable> > listed(variables);
  ++m_scopesRelaxed;
  if (!m_propInProgress) {
    relaxListed(listed);
    return;
  }
  for (auto it = listed.rbegin(); it != listed.rend(); ++it)
    m_widenings.push_front(Widening{*it, Widening::ITSELF, m_relaxingViolation, nullptr});
}

void ConstraintEngine::relaxTakenMembers(const std::vector<Id<ConstrainedVariable> >& scope) {
  // An open enumeration closed with a closed domain's members (by an equality, a subset or a
  // unary constraint) holds what a constraint gave it, not a narrowing of its own values: what a
  // switched-off constraint narrowed may stand, but what it gave may not, or rules would read
  // values no live constraint allows. Widened, it takes again what the constraints still on give.
  std::vector<Id<ConstrainedVariable> > taken;
  for (const Id<ConstrainedVariable>& var : scope)
    if (var.isValid() && !var->isDiscarded() && var->baseDomain().isOpen() && var->lastDomain().isClosed() &&
        !var->specifiedFlag() && std::find(taken.begin(), taken.end(), var) == taken.end())
      taken.push_back(var);
  if (!taken.empty())
    relaxVariables(taken);
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
