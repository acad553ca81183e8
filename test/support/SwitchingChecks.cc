// What the operation-sequence session checks of switching variables and constraints off and on:
// who is on and off after every operation, and that nothing narrowed outlives its cause.

#include "support/OperationSession.hh"

#include <algorithm>
#include <cstddef>
#include <string>

namespace KALDEN {

namespace {

typedef OperationSequence::Type Type;

// Deep enough that undoing one deactivation may leave the object still off, shallow enough that
// sessions often see it back on.
const int MAX_DEPTH = 2;

std::string nameOf(int number, std::size_t member) {
  return "c" + std::to_string(number) + (member == 0 ? "" : " (member " + std::to_string(member) + ")");
}

} // namespace

bool OperationSession::maySwitch(Type type, int target) const {
  switch (type) {
  case Type::DEACTIVATE_CONSTRAINT:
    return liveConstraint(target) && m_constraints.at(target).deactivations < MAX_DEPTH;
  case Type::ACTIVATE_CONSTRAINT:
    return liveConstraint(target) && m_constraints.at(target).deactivations > 0;
  case Type::DEACTIVATE_VARIABLE:
    return liveVariable(target) && m_variables.at(target).deactivations < MAX_DEPTH;
  case Type::ACTIVATE_VARIABLE:
    return liveVariable(target) && m_variables.at(target).deactivations > 0;
  default:
    return true;
  }
}

void OperationSession::countSwitching(const OperationSequence::Operation& op) {
  int depth = 0;
  if (op.type == Type::DEACTIVATE_CONSTRAINT)
    depth = m_constraints.at(op.target).deactivations;
  else if (op.type == Type::DEACTIVATE_VARIABLE)
    depth = m_variables.at(op.target).deactivations;
  else if (op.type != Type::ACTIVATE_CONSTRAINT && op.type != Type::ACTIVATE_VARIABLE)
    return;
  ++m_tally.switched;
  if (depth == MAX_DEPTH)
    ++m_tally.twoDeep;
}

// Every live constraint but those held violated, in effect or not: switching off keeps what a
// constraint narrowed, so the values an active variable must keep are those of the solutions
// with every switched-off constraint still in place; only removing it (or relaxing its
// variables) gives them back. A false answer at the limit counts the constraint it set aside
// last, as judgedNetwork does.
std::set<int> OperationSession::liveNetwork(bool answer) const {
  const bool stopped = !answer && !m_engine->canContinuePropagation();
  std::set<int> network;
  for (const auto& c : m_constraints)
    if (c.second.alive && ((stopped && c.second.id == m_lastSetAside) || !m_engine->isViolated(c.second.id)))
      network.insert(c.first);
  return network;
}

bool OperationSession::allOn(const Part& part) const {
  return std::all_of(part.variables.begin(), part.variables.end(), [this](int v) { return activeVariable(v); }) &&
         std::none_of(part.constraints.begin(), part.constraints.end(),
                      [this](int c) { return m_constraints.at(c).deactivations != 0; });
}

// A propagation has checked the values kept already. While the engine holds a variable emptied
// (the client specified a value it had narrowed away, or a run answered false), or has work
// pending (such a variable switched off since), the next run starts by relaxing the emptied
// variables, and what a constraint set aside in the failed run narrowed may stand till then: the
// parts that hold an emptied variable are left to that run, and the others are judged with the
// constraints held violated still in place.
void OperationSession::checkSwitching(const std::string& what, bool propagated) {
  if (m_failure.any() || !keepsActivity(what) || propagated)
    return;
  if (!m_engine->hasEmptyVariables() && !m_engine->pending()) {
    keepsSolutions(independentParts(liveNetwork(true)), true, what);
    return;
  }
  std::set<int> network;
  for (const auto& c : m_constraints)
    if (c.second.alive)
      network.insert(c.first);
  std::vector<Part> parts = independentParts(network);
  parts.erase(std::remove_if(parts.begin(), parts.end(),
                             [this](const Part& part) {
                               return std::any_of(part.variables.begin(), part.variables.end(), [this](int v) {
                                 const AbstractDomain& domain = m_variables.at(v).id->lastDomain();
                                 return domain.isEmpty() && domain.isClosed();
                               });
                             }),
              parts.end());
  keepsSolutions(parts, true, what);
}

// Each variable is on exactly while the client has undone every deactivation of it. A constraint
// over a switched-off variable is off, and so is one the client switched off; one in effect is
// on unless it is redundant or held violated.
bool OperationSession::keepsActivity(const std::string& what) {
  for (const auto& v : m_variables)
    if (v.second.alive && v.second.id->isActive() != (v.second.deactivations == 0)) {
      fail("variable activity differs", "after " + what + ": v" + std::to_string(v.first) + " is " +
                                            (v.second.id->isActive() ? "on" : "off") + " with " +
                                            std::to_string(v.second.deactivations) + " deactivations outstanding");
      return false;
    }
  for (const auto& entry : m_constraints) {
    const ModelConstraint& c = entry.second;
    if (!c.alive)
      continue;
    const bool overOff = std::any_of(c.scope.begin(), c.scope.end(), [this](int v) { return !activeVariable(v); });
    std::string wrong;
    if (overOff && c.id->isActive())
      wrong = " is on over a switched-off variable";
    else if (c.deactivations != 0 && c.id->isActive())
      wrong = " is on while the client has it off";
    else if (inEffect(c) && !c.id->isActive() && !c.id->isRedundant() && !m_engine->isViolated(c.id))
      wrong = " is off, though in effect, not redundant and not violated";
    if (!wrong.empty()) {
      fail("constraint activity differs", "after " + what + ": " + nameOf(entry.first, 0) + wrong);
      return false;
    }
    if (!keepsMembersActivity(entry.first, c, what))
      return false;
  }
  return true;
}

// What a composite (or a name's delegate) added is off while the whole is switched off (by the
// client, a variable or a violation); a member over a switched-off variable is off too. While the
// whole is in effect and nothing of it is held violated (a member set aside takes its own members
// with it), each member is on unless redundant: retiring the whole leaves them running.
bool OperationSession::keepsMembersActivity(int number, const ModelConstraint& c, const std::string& what) {
  const bool wholeOff = !inEffect(c) || m_engine->isViolated(c.id);
  const bool noneViolated = !heldViolated(c);
  for (std::size_t i = 1; i < c.members.size(); ++i) {
    const Id<Constraint>& member = c.members[i];
    // One a listener's deletion discarded keeps a valid handle till the garbage is collected,
    // but no longer switches: there is nothing of it to judge.
    if (!member.isValid() || member->isDiscarded())
      continue;
    const std::vector<Id<ConstrainedVariable> >& scope = member->getScope();
    const bool overOff =
        std::any_of(scope.begin(), scope.end(), [](const Id<ConstrainedVariable>& v) { return !v->isActive(); });
    std::string wrong;
    if (!member->isActive())
      wrong = !wholeOff && noneViolated && !overOff && !member->isRedundant()
                  ? " is off while the constraint it belongs to is in effect"
                  : "";
    else if (wholeOff)
      wrong = " is on while the constraint it belongs to is off";
    else if (overOff)
      wrong = " is on over a switched-off variable";
    if (!wrong.empty()) {
      fail("constraint activity differs", "after " + what + ": " + nameOf(number, i) + wrong);
      return false;
    }
  }
  return true;
}

} // namespace KALDEN
