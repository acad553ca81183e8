#define KALDEN_SOURCE "ConstraintEngine/base/ConstraintEngine"

// Propagation: the loop that runs the propagators, and the consistency questions.

#include "ConstraintEngine/base/ConstraintEngine.hh"

#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
#include "ConstraintEngine/base/Propagator.hh"
#include "Utils/base/FlagScope.hh"
#include "Utils/base/Report.hh"

#include <sstream>
#include <vector>

namespace KALDEN {

bool ConstraintEngine::propagate() {
  const EngineCall call(m_id, PROPAGATE);
  if (!call)
    return false;
  return propagateToFixpoint();
}

bool ConstraintEngine::propagateToFixpoint() {
  // Nothing changed since a false answer: the next run would meet the same model.
  if (provenInconsistent())
    return endPropagation(false);
  // Every widening under way is given back first, or the run would narrow again from what is
  // still to widen.
  if (!m_widenings.empty()) {
    const FlagAs relaxing(m_relaxing, false);
    workOffWidenings(0);
  }
  const FlagAs relaxing(m_relaxing, false);
  const FlagAs setAside(m_relaxingViolation, false);
  const FlagAs inPropagate(m_inPropagate, true);
  for (;;) {
    const unsigned long violationsBefore = m_violationMgr->getViolationsAdded();
    // Inside the call only a deed's change of the model is counted (see notify()).
    const unsigned long changesBefore = m_changes;
    m_violatedAtFailure = 0;
    const bool result = doPropagate();
    // A listener told of the run's end or of a retirement may have changed the network: the
    // call goes on to the fixpoint of what is left. One that emptied a domain there (specified
    // or restricted a base past what the run left) changed the answer: the next run starts from
    // it relaxed, as after any failure.
    if (result) {
      if (workWaits())
        continue;
      return endPropagation(true);
    }
    // Going on is worth it when the failed run set a constraint aside and relaxation refills
    // the emptied domains, or when a listener's deed changed the model and refilled them:
    // otherwise the next run would meet the same model and fail alike, for ever. A deed told of
    // the failure that withdrew a violation (a reset of what the run emptied) took that progress
    // back: unless it changed the model too, the next run would set the same constraint aside.
    const bool keptSetAside =
        m_violatedAtFailure == 0 || m_changes != changesBefore ||
        static_cast<std::size_t>(m_violationMgr->getAllViolations().size()) >= m_violatedAtFailure;
    if (canContinuePropagation() && m_violationMgr->getViolationsAdded() != violationsBefore && keptSetAside) {
      relaxSetAside(true);
      if (!hasEmptyVariables())
        continue;
    }
    // A deed told of the failure changed the model: the next run would not meet the same one.
    if (m_changes != changesBefore)
      continue;
    // A run that failed after a loosening may have failed on what the loosening lets the next
    // run's relaxation give back (a switched-off constraint's narrowing): that run answers.
    if (m_loosened) {
      m_loosened = false;
      continue;
    }
    return endPropagation(false);
  }
}

bool ConstraintEngine::endPropagation(bool result) {
  // Whatever a deed owed was taken in: the call ends at the fixpoint, or at a failure no deed
  // undid. The record answers for the next run until something changes.
  m_runOwed = false;
  m_loosened = false;
  m_lastAnswer = result;
  // A false answer over domains a deed told of the failure refilled (a reset, a relaxation)
  // proves nothing: the next run is pending. At the violation limit, what the failure emptied
  // stays empty until something changes.
  m_changesAtAnswer = result || hasEmptyVariables() ? m_changes : m_changes - 1;
  return result;
}

bool ConstraintEngine::judgesARecordEmpty() const {
  for (const Id<ConstrainedVariable>& var :
       static_cast<const ViolationMgrImpl&>(*m_violationMgr).ViolationMgrImpl::getEmptyVariables())
    if (ViolationMgr::judgedEmpty(*static_cast<ConstrainedVariable*>(var)))
      return true;
  return false;
}

void ConstraintEngine::relaxSwitchedOffRecords() {
  const std::vector<Id<ConstrainedVariable> > records(m_violationMgr->getEmptyVariables().begin(),
                                                      m_violationMgr->getEmptyVariables().end());
  for (const Id<ConstrainedVariable>& var : records)
    if (var.isValid() && !var->isDiscarded() && !var->isActive() && var->lastDomain().isEmpty())
      var->relax();
  m_violationMgr->clearEmptyVariables();
}

bool ConstraintEngine::doPropagate() {
  if (!m_dirty && !hasEmptyVariables()) {
    // A relaxation that changed nothing leaves nothing to run: its cycle ends here, or the next
    // change made anywhere would find the engine still relaxed, and pending.
    m_relaxed = false;
    KALDEN_TRACE("ConstraintEngine:propagate", "Nothing to do, bailing out");
    KALDEN_TRACE("ConstraintEngine:propagate", dumpPropagatorState(m_propagators));
    return true;
  }
  if (hasEmptyVariables()) {
    m_violationMgr->relaxEmptyVariables();
    if (hasEmptyVariables()) {
      KALDEN_TRACE("ConstraintEngine:propagate", "Found empty variable after relaxing, without doing any work");
      return false;
    }
  } else if (!m_violationMgr->getEmptyVariables().empty()) {
    // Records that count for nothing (a variable switched off, or refilled) go; a switched-off
    // one is judged, and recorded again, when switched on.
    relaxSwitchedOffRecords();
  }

  m_relaxed = false;
  // Gains given back are forgotten once the outermost propagation is over.
  struct Depth {
    ConstraintEngine& engine;
    explicit Depth(ConstraintEngine& e) : engine(e) { ++engine.m_propagationDepth; }
    ~Depth() {
      if (--engine.m_propagationDepth == 0)
        engine.m_gainsGivenBack.clear();
    }
  } depth(*this);
  bool commenced = false;
  // Only the constraints this run sets aside are undone after it.
  m_setAsideScopes.clear();
  try {
    for (;;) {
      runPropagators(commenced);
      // A constraint removed during the run narrowed what may no longer hold, and a gain met in
      // it gives back what the old members narrowed: relax them now and go on, so that the run
      // still ends at the right fixpoint.
      if (!giveBackAfterRun())
        break;
      // A domain emptied before the removal may hold values again: the run goes on as the next
      // one would start, with the emptied domains relaxed, rather than answer by stale records.
      if (hasEmptyVariables())
        m_violationMgr->relaxEmptyVariables();
      // A constraint the run set aside narrowed what no longer holds, a gain it caused included:
      // its scope is relaxed as after a failed run, or the run goes on from its narrowing.
      if (!m_setAsideScopes.empty())
        relaxSetAside(false);
      m_relaxed = false;
      if (hasEmptyVariables())
        break;
    }
  } catch (...) {
    endFailedRun(commenced);
    throw;
  }
  // The run ends at a fixpoint or at an emptied domain, nothing relaxed left behind.
  KALDEN_CHECK_TEXT(!m_dirty || (!m_relaxed && (hasEmptyVariables() || getNextPropagator().isNoId())), "!pending()");

  const bool result = constraintConsistent();
  if (result && commenced) {
    broadcast([](ConstraintEngineListener& listener) { listener.notifyPropagationCompleted(); });
    // A listener told of the end may have changed the network: propagate() goes on, and tells
    // the end again once there.
    if (m_relaxed || !constraintConsistent())
      return true;
    const unsigned long callsBefore = m_callCount;
    m_dirty = false;
    processRedundantConstraints();
    Entity::garbageCollect();
    // Unless a listener told of a retirement changed the network: propagate() goes on.
    KALDEN_CHECK_TEXT_MSG(m_relaxed || m_callCount != callsBefore || constraintConsistent(), "constraintConsistent()",
                          "Must be a bug in cleaning up constraints since we have regressed "
                          "through garbage collection."
                              << " See discard and handleDiscard.");
    KALDEN_TRACE("ConstraintEngine:propagate", "Completed");
  } else if (commenced) {
    m_violatedAtFailure = static_cast<std::size_t>(m_violationMgr->getAllViolations().size());
    broadcast([](ConstraintEngineListener& listener) { listener.notifyPropagationPreempted(); });
    KALDEN_TRACE("ConstraintEngine:propagate", "Preempted");
  } else {
    KALDEN_TRACE("ConstraintEngine:propagate", "Completed without doing any work");
  }
  return result;
}

void ConstraintEngine::endFailedRun(bool commenced) {
  // What the run changed before the failure happened, and listeners learn of it before the
  // error leaves: nothing held waits for a later call. Inside a creation by name, the creation
  // tells or drops them.
  if (m_holdingNotices == 0) {
    releaseHeldNotices();
    // Nor does what it held for after it: what constraints deleted during the run narrowed, and,
    // as propagate() would before going on, what those it set aside narrowed. The next run then
    // starts from there (pending() says so). Inside a creation by name no listener could delete.
    giveBackAfterRun();
    if (!m_setAsideScopes.empty() && canContinuePropagation())
      relaxSetAside(true);
  }
  if (commenced)
    broadcast([](ConstraintEngineListener& listener) { listener.notifyPropagationPreempted(); });
}

void ConstraintEngine::runPropagators(bool& commenced) {
  // However the loop ends, every constraint made so far may have run.
  struct RunEnd {
    ConstraintEngine& engine;
    ~RunEnd() { engine.m_firstUnrunKey = Entity::nextKey(); }
  } runEnd{*this};
  // Cleared however the loop ends, so that a failure inside leaves the engine usable.
  FlagScope inProgress(m_propInProgress);
  incrementCycle();
  Id<Propagator> propagator = getNextPropagator();
  while (!propagator.isNoId() && !hasEmptyVariables()) {
    if (!commenced) {
      commenced = true;
      broadcast([](ConstraintEngineListener& listener) { listener.notifyPropagationCommenced(); });
      KALDEN_TRACE("ConstraintEngine:propagate", "Commenced");
      // A listener told may have discarded or switched off what was queued.
      propagator = getNextPropagator();
      if (propagator.isNoId() || hasEmptyVariables())
        break;
    }
    KALDEN_TRACE("ConstraintEngine:propagate", "Executing " << propagator->getName().toString() << " propagator.");
    {
      FlagScope holding(m_holdChanges);
      propagator->execute();
    }
    // Inside a creation by name (a delegate propagating while its owner is built) they wait for
    // its end: released here, each would only be held again.
    if (!m_heldNotices.empty() && m_holdingNotices == 0)
      releaseHeldNotices();
    propagator = getNextPropagator();
  }
  incrementCycle();
}

void ConstraintEngine::relaxSetAside(bool emptiedFirst) {
  // Neither relaxation withdraws a violation: the constraints set aside stay so.
  FlagScope relaxing(m_relaxingViolation);
  if (emptiedFirst)
    m_violationMgr->relaxEmptyVariables();
  relaxListed(m_setAsideScopes);
}

bool ConstraintEngine::giveBackAfterRun() {
  KALDEN_CHECK(!m_propInProgress);
  // The run started with none listed (see propagate()): all that is listed is its own, and
  // whatever working it off lists meanwhile.
  bool widened = false;
  while (!m_widenings.empty()) {
    const Widening next = m_widenings.front();
    m_widenings.pop_front();
    if (widen(next))
      widened = true;
  }
  return widened;
}

void ConstraintEngine::relaxListed(std::vector<Id<ConstrainedVariable> >& variables) {
  // Relaxing may remove more constraints (through listeners): take the list as it stands.
  while (!variables.empty()) {
    std::vector<Id<ConstrainedVariable> > scope;
    scope.swap(variables);
    const std::size_t outer = m_widenings.size();
    for (auto it = scope.rbegin(); it != scope.rend(); ++it)
      m_widenings.push_front(Widening{*it, Widening::ITSELF, m_relaxingViolation, nullptr});
    workOffWidenings(outer);
  }
}

void ConstraintEngine::incrementCycle() {
  ++m_cycleCount;
  if (m_relaxed) {
    KALDEN_CHECK_MSG(!m_propInProgress, "Cannot imagine how we could be propagating while relaxed!.");
    m_mostRecentRepropagation = m_cycleCount;
  }
}

Id<Propagator> ConstraintEngine::getNextPropagator() const {
  for (const Id<Propagator>& propagator : m_propagators)
    if (propagator->isEnabled() && propagator->updateRequired())
      return propagator;
  return Id<Propagator>();
}

bool ConstraintEngine::constraintConsistent() const {
  if (hasEmptyVariables())
    return false;
  return getNextPropagator().isNoId();
}

bool ConstraintEngine::pending() const {
  // The record answers while nothing changed; after a failure, any change may refill.
  if (m_changes == m_changesAtAnswer)
    return false;
  return !m_lastAnswer || workWaits();
}

bool ConstraintEngine::workWaits() const {
  if (!m_dirty)
    return false;
  // An emptied domain, or a record of one switched off: the next run relaxes it.
  if (m_relaxed || !m_violationMgr->getEmptyVariables().empty())
    return true;
  return !getNextPropagator().isNoId();
}

std::string ConstraintEngine::dumpPropagatorState(const std::list<Id<Propagator> >& propagators) const {
  std::ostringstream os;
  os << std::endl;
  for (const Id<Propagator>& propagator : propagators) {
    os << propagator->getName().toString() << "(";
    bool first = true;
    for (const Id<Constraint>& constraint : propagator->getConstraints()) {
      os << (first ? "" : ",") << constraint->getName().toString();
      first = false;
    }
    os << ")"
       << " enabled=" << propagator->isEnabled() << " updateRequired=" << propagator->updateRequired() << std::endl;
  }
  os << std::endl;
  return os.str();
}

} // namespace KALDEN
