#define KALDEN_SOURCE "ConstraintEngine/base/ConstraintEngine"

// Propagation: the loop that runs the propagators, and the consistency questions.

#include "ConstraintEngine/base/ConstraintEngine.hh"

#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
#include "ConstraintEngine/base/Propagator.hh"
#include "Utils/base/FlagScope.hh"
#include "Utils/base/Report.hh"

#include <sstream>

namespace KALDEN {

bool ConstraintEngine::propagate() {
  // Refused before anything, also where the refusal is only printed (a listener told of a
  // removal inside a run): no nested run starts.
  KALDEN_CHECK_MSG_OR_RETURN(!Entity::isPurging(),
                             "Cannot propagate the network when purging. Messages are not sent or processed.", false);
  KALDEN_CHECK_MSG_OR_RETURN(!m_propInProgress,
                             "Attempted to propagate while in propagation. Not allowed to call this cyclically.", false);
  KALDEN_CHECK_TEXT_MSG_OR_RETURN(
      m_toldWhileMade.empty(), "!isBeingMade()",
      "Cannot propagate while listeners are told of an object made with new: it is not built yet.", false);
  // Called by a listener while held notices are told: those waiting are told first, and the
  // run then tells its own as any run does. While a creation is made (a delegate propagating
  // inside it) they wait for its end.
  if (m_releasing && m_holdingNotices == 0)
    releaseHeldNotices();
  struct Resume {
    bool& releasing;
    const bool was;
    ~Resume() { releasing = was; }
  } resume{m_releasing, m_releasing};
  m_releasing = false;
  // Started by a deed during a relaxation: every widening under way is given back first, or the
  // run would narrow again from what is still to widen. The relaxation then finds nothing left.
  if (!m_widenings.empty() && !m_propInProgress) {
    const FlagAs relaxing(m_relaxing, false);
    workOffWidenings(0);
  }
  const FlagAs relaxing(m_relaxing, false);
  const FlagAs setAside(m_relaxingViolation, false);
  const FlagAs inPropagate(m_inPropagate, true);
  for (;;) {
    const unsigned long violationsBefore = m_violationMgr->getViolationsAdded();
    const bool result = doPropagate();
    // A listener told of the run's end, or of a retirement, may have removed what others relax
    // by: the work that left is done before the answer.
    if (result && pending())
      continue;
    if (result || !canContinuePropagation())
      return result;
    // Going on is worth it only when the failed run set a constraint aside: otherwise the
    // next run would meet the same network and fail alike, for ever.
    if (m_violationMgr->getViolationsAdded() == violationsBefore)
      return false;
    relaxSetAside(true);
    // A domain that relaxation cannot refill would fail every later run as well.
    if (hasEmptyVariables())
      return false;
  }
}

bool ConstraintEngine::doPropagate() {
  if (!m_dirty) {
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
  KALDEN_CHECK(!pending());

  const bool result = constraintConsistent();
  if (result && commenced) {
    broadcast([](ConstraintEngineListener& listener) { listener.notifyPropagationCompleted(); });
    m_dirty = false;
    processRedundantConstraints();
    Entity::garbageCollect();
    // Unless a listener told of a retirement removed what others relax by: propagate() goes on.
    KALDEN_CHECK_TEXT_MSG(m_relaxed || constraintConsistent(), "constraintConsistent()",
                          "Must be a bug in cleaning up constraints since we have regressed "
                          "through garbage collection."
                              << " See discard and handleDiscard.");
    KALDEN_TRACE("ConstraintEngine:propagate", "Completed");
  } else if (commenced) {
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
  while (!propagator.isNoId() && !provenInconsistent()) {
    if (!commenced) {
      commenced = true;
      broadcast([](ConstraintEngineListener& listener) { listener.notifyPropagationCommenced(); });
      KALDEN_TRACE("ConstraintEngine:propagate", "Commenced");
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
  if (provenInconsistent())
    return false;
  return getNextPropagator().isNoId();
}

bool ConstraintEngine::pending() const {
  if (!m_dirty)
    return false;
  if (m_relaxed)
    return true;
  return !provenInconsistent() && !constraintConsistent();
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
