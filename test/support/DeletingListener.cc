#include "support/DeletingListener.hh"

#include "Utils/Error.hh"
#include "support/OperationSession.hh"

#include <vector>

namespace KALDEN {

DeletingListener::DeletingListener(const Id<ConstraintEngine>& engine, OperationSession& session)
    : ConstraintEngineListener(engine), m_session(session) {}

void DeletingListener::heard(const Id<ConstrainedVariable>& variable, const Id<Constraint>& constraint,
                             const Id<Constraint>& removed, bool relaxed, bool removal, bool added) {
  if (m_countdown < 0 || (atRelaxation(m_choice) && !relaxed) || m_countdown-- > 0)
    return;
  // Told of a removal, now and then a refused call, which must change nothing and throw, though
  // a destructor may be telling.
  if (removal && (m_choice % 10 == 4 || m_choice % 10 == 5) && m_session.refuseWhileRemoved(m_choice / 10))
    return;
  if (added && failsOrMakes && m_choice % 10 == 4 && m_session.mayFailCreation())
    throw ListenerFailure();
  // Now and then it fails at any notice of a propagate() call, which must still end whole.
  if (m_session.mayFailAnywhere() && m_choice % 10 == 7 && (m_choice / 10) % 2 == 0)
    throw ListenerFailure();
  if (added && failsOrMakes && m_choice % 10 == 5) {
    m_session.makeFromListener(m_choice / 10);
    return;
  }
  // Inside a run, now and then a call the engine refuses there instead.
  if (m_session.propagating() && m_choice % 10 < 2) {
    m_session.refuseDuringRun(m_choice / 10);
    return;
  }
  // Or specifies a variable, which the run must keep, gains given back after it included.
  if (m_session.propagating() && m_choice % 10 == 6 && (m_choice / 10) % 2 == 0) {
    m_session.specifyDuringRun(m_choice / 20);
    return;
  }
  if (atRelaxation(m_choice) && !m_session.propagating()) {
    widenOrDelete();
    return;
  }
  deleteSome(variable, constraint, removed);
}

// A reset of what a failed run emptied leaves the same model, made at every failure of the call
// (which must still end); a value the run took away, specified once, empties the variable.
void DeletingListener::heardRunEnd(bool completed) {
  if (!actsAtRunEnd || !m_atRunEnd)
    return;
  if (!completed) {
    m_session.resetEmptied();
    return;
  }
  m_atRunEnd = false;
  m_session.specifyDuringRun(m_choice / 7, true);
}

// The numbers of the session's live variables (but `except`) or live constraints.
std::vector<int> DeletingListener::live(bool variables, int except) const {
  std::vector<int> numbers;
  if (variables) {
    for (const auto& v : m_session.variables())
      if (v.second.alive && v.first != except)
        numbers.push_back(v.first);
  } else {
    for (const auto& c : m_session.constraints())
      if (c.second.alive)
        numbers.push_back(c.first);
  }
  return numbers;
}

// What it widens or gives back joins the relaxation under way: all of it must be widened. Now
// and then it specifies a variable instead: the value stands whatever the relaxation widens after.
void DeletingListener::widenOrDelete() {
  const int choice = m_choice / 10;
  const bool reset = choice % 2 == 0;
  if (reset && (choice / 2) % 3 == 2) {
    m_session.specifyDuringRun(choice / 6);
    return;
  }
  const std::vector<int> candidates = live(reset, m_session.specifying());
  if (candidates.empty())
    return;
  const int picked = candidates[static_cast<std::size_t>(choice / 2) % candidates.size()];
  // A constraint goes by a plain delete, a discard, or through the engine, whose propagation
  // (when auto-propagating) must wait for all that the relaxation under way widens. Not through
  // the engine inside a destructor's notices, where the run it owes waits for the next propagate(), nor
  // while an object made with new is being built, which a propagation would run over half-made:
  // those are judged by the draws of their own.
  const bool propagationWaits = NoThrowScope::active() || m_session.isMadeWithNewNow();
  const int way = (choice / 120) % 3 == 2 && propagationWaits ? 0 : (choice / 120) % 3;
  if (reset)
    m_session.resetVariable(picked);
  else if (way == 2)
    m_session.deleteThroughEngine(picked);
  else
    m_session.dropConstraint(picked, way == 1);
}

// The choice picks the concerned object (a third of the time, when the session knows it: a
// member of a composite stands for the composite) or another live one, a variable or a
// constraint; and a plain delete or a discard.
void DeletingListener::deleteSome(const Id<ConstrainedVariable>& variable, const Id<Constraint>& constraint,
                                  const Id<Constraint>& removed) {
  const int choice = m_choice / 10;
  const bool discard = (choice / 120) % 2 == 1;
  if (choice % 3 == 0 && !removed.isNoId()) {
    // Never the one heard removed: only the live composite it is a member of.
    const int owner = m_session.constraintNumber(removed);
    if (owner >= 0 && m_session.constraints().at(owner).id != removed) {
      m_session.dropConstraint(owner, discard);
      return;
    }
  }
  if (choice % 3 == 0) {
    const int v = variable.isNoId() ? -1 : m_session.variableNumber(variable);
    const int c = constraint.isNoId() ? -1 : m_session.constraintNumber(constraint);
    if (v >= 0) {
      m_session.dropVariable(v, discard);
      return;
    }
    if (c >= 0) {
      m_session.dropConstraint(c, discard);
      return;
    }
    // The variable being made by name, heard closing or emptied from its constructor.
    if (!variable.isNoId() && variable.isValid() && !variable->isDiscarded() && m_session.isMadeByName(variable)) {
      m_session.dropMade(variable, discard);
      return;
    }
  }
  const bool aVariable = (choice / 3) % 2 == 0;
  const std::vector<int> candidates = live(aVariable, -1);
  if (candidates.empty())
    return;
  const int picked = candidates[static_cast<std::size_t>(choice / 6) % candidates.size()];
  if (aVariable)
    m_session.dropVariable(picked, discard);
  else
    m_session.dropConstraint(picked, discard);
}

void UnlinkActor::notifyConstraintRemoved(const Id<Constraint>&, int) {
  if (m_arming.countdown < 0 || m_arming.countdown-- > 0 || !m_variable.isValid())
    return;
  m_session.actOnUnlink(m_session.variableNumber(m_variable), m_arming.choice);
}

} // namespace KALDEN
