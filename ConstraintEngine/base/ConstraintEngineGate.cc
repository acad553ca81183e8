#define KALDEN_SOURCE "ConstraintEngine/base/ConstraintEngine"

// The gate: what a call may do, judged once at its entry by what the engine is doing; and the
// one point where the run a call owes starts.
//
// Every public call that changes the network enters through admit(). A refused call has changed
// nothing. An admitted one nests in the call or notice that made it (a listener's deed), and
// what it causes is heard after the notice being told. No run starts inside another call: a run
// an admitted call owes starts when the outermost call returns.

#include "ConstraintEngine/base/ConstraintEngine.hh"

#include "Utils/Entity.hh"
#include "Utils/Error.hh"
#include "Utils/base/Report.hh"

#include <algorithm>
#include <exception>
#include <iostream>

namespace KALDEN {

namespace {

// Prints a failure that cannot leave, as a failed check is printed where nothing may throw.
[[gnu::cold]] void printFailure(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const Error& error) {
    ++Error::suppressedCount();
    std::cerr << error.what() << std::endl;
  } catch (const std::exception& error) {
    std::cerr << "A listener failed: " << error.what() << std::endl;
  } catch (...) {
    std::cerr << "A listener failed with an exception of unknown type." << std::endl;
  }
}

} // namespace

bool ConstraintEngine::admit(Deed deed, int subject) {
  switch (deed) {
  case PROPAGATE:
    KALDEN_CHECK_MSG_OR_RETURN(!Entity::isPurging(),
                               "Cannot propagate the network when purging. Messages are not sent or processed.", false);
    KALDEN_CHECK_MSG_OR_RETURN(
        !m_propInProgress, "Attempted to propagate while in propagation. Not allowed to call this cyclically.", false);
    KALDEN_CHECK_TEXT_MSG_OR_RETURN(
        m_toldWhileMade.empty() && m_makings.empty(), "!isBeingMade()",
        "Cannot propagate while listeners are told of an object being made: it is not built yet.", false);
    // A listener's run would be heard before the notice being told reaches the others, and would
    // meet the calling operation half-done.
    KALDEN_CHECK_TEXT_MSG_OR_RETURN(!isInsideCall(), "!isInsideCall()",
                                    "Cannot propagate from inside another call (a listener told of a notice): "
                                    "the run a deed owes starts when the outermost call returns.",
                                    false);
    return true;
  case WIDEN:
    // Relaxation and a run cannot interleave: a widening would be narrowed again by what it undoes.
    KALDEN_CHECK_TEXT_OR_RETURN(!m_propInProgress, "!m_propInProgress", false);
    return true;
  case DELETE_BY_NAME:
    KALDEN_CHECK_OR_RETURN(!m_propInProgress, false);
    return true;
  case SWITCH:
    // Its constraints, or its own notice and hooks, are being switched: switching it again
    // half-way would leave some on and some off, and its notices told out of order or lost.
    KALDEN_CHECK_TEXT_MSG_OR_RETURN(
        std::find(m_switching.begin(), m_switching.end(), subject) == m_switching.end(), "!isBeingSwitched()",
        "Cannot switch the object keyed " << subject << " off or on while it is being switched.", false);
    return true;
  case CHANGE:
    return true;
  }
  return true;
}

void ConstraintEngine::leaveCall() {
  // The outermost call, with no telling around it, starts the run owed once all its own work is
  // done; a failure kept meanwhile (a listener's), or one of the run, leaves after the take-back.
  bool runFailed = false;
  if (m_scopeDepth == 1) {
    if (!m_failure) {
      heed(0, [this] { startOwedRun(); });
      runFailed = m_failure != nullptr;
    }
    // Failed, the call leaves its run for the next propagate() (pending() says so).
    m_runOwed = false;
  }
  leaveScope(runFailed);
}

void ConstraintEngine::keepFailure(int key) {
  // A later failure where nothing may throw could never leave: it is printed, not lost.
  if (!m_failure) {
    m_failure = std::current_exception();
    m_failureKey = Entity::nextKey();
  } else if (NoThrowScope::active())
    printFailure(std::current_exception());
  if (key != 0)
    m_failedKeys.push_back(key);
}

void ConstraintEngine::leaveOutermostScope(bool runFailed) {
  // Still inside: what the take-back's notices cause nests in this scope.
  if (m_failure)
    heed(0, [this, runFailed] { takeBackFailedCreations(runFailed); });
  m_creations.clear();
  m_failedKeys.clear();
  m_failureKey = 0;
  m_scopeDepth = 0;
  // A run still owed here was owed by no call that could start it (a notice told from a
  // constructor or destructor, or of a change made outside any call), or the call failed: it
  // waits for the next propagate(), and never starts inside a later, unrelated call.
  m_runOwed = false;
  if (!m_failure)
    return;
  const std::exception_ptr failure = m_failure;
  m_failure = nullptr;
  // Nothing may throw inside a destructor or while an error leaves: the failure is printed.
  if (NoThrowScope::mustPrint())
    return printFailure(failure);
  std::rethrow_exception(failure);
}

void ConstraintEngine::startOwedRun() {
  if (!m_runOwed)
    return;
  m_runOwed = false;
  // A propagate() under way goes on to the fixpoint itself. Inside a constructor or destructor
  // the object is not whole; an error leaving, or a purge, has the network half-changed: the
  // work stays queued for the next propagate().
  if (!m_autoPropagate || m_inPropagate || std::uncaught_exceptions() > 0 || NoThrowScope::active() ||
      Entity::isPurging() || !m_makings.empty() || !m_toldWhileMade.empty())
    return;
  m_runStartKey = Entity::nextKey();
  propagateToFixpoint();
}

void ConstraintEngine::afterTelling() {
  // A deed told of outside any call (a client changing a domain directly, or from a constructor
  // or destructor) owes a run that waits for the next propagate(): the outermost scope drops it.
  if (!m_heldNotices.empty() && !isHoldingNotices())
    releaseHeldNotices();
}

void ConstraintEngine::setAutoPropagation(bool value) {
  const EngineCall call(m_id, CHANGE);
  if (!call || value == m_autoPropagate)
    return;
  m_autoPropagate = value;
  oweRun();
}

void ConstraintEngine::setAllowViolations(bool value) {
  const EngineCall call(m_id, CHANGE);
  if (!call)
    return;
  m_violationMgr->setMaxViolationsAllowed(value ? 2147483647u : 0u);
}

} // namespace KALDEN
