#define KALDEN_SOURCE "ConstraintEngine/component/Constraints"

// The shared checks of library constraints.

#include "ConstraintEngine/component/ConstraintsBase.hh"

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "Utils/base/Report.hh"

namespace KALDEN {

namespace {

// The current domain at a position, never reading past the scope's end: a failed arity check
// that was only printed (inside a destructor) must not lead to a read out of bounds. The
// Constraint base refuses an empty scope.
AbstractDomain& domainWithin(const std::vector<Id<ConstrainedVariable> >& scope, std::size_t position) {
  return Constraint::getCurrentDomain(scope[position < scope.size() ? position : scope.size() - 1]);
}

// A delegate being created: by whom, under which name, over which scope.
struct Creation {
  const Constraint* owner;
  LabelStr delegateName;
  const std::vector<Id<ConstrainedVariable> >* delegateScope;
};

// The delegates being created on this thread, outermost first.
std::vector<Creation>& creations() {
  static thread_local std::vector<Creation> sl_creations;
  return sl_creations;
}

} // namespace

void ConstraintShape::checkArity(const Constraint& constraint, std::size_t count, const char* conditionText) {
  checkScopeSize(constraint, constraint.getScope().size() == count, conditionText, count, false);
}

void ConstraintShape::checkMinArity(const Constraint& constraint, std::size_t count, const char* conditionText) {
  checkScopeSize(constraint, constraint.getScope().size() >= count, conditionText, count, true);
}

bool ConstraintShape::checkScopeSize(const Constraint& constraint, bool holds, const char* conditionText,
                                     std::size_t count, bool atLeast, const char* note) {
  KALDEN_CHECK_TEXT_MSG(holds, conditionText,
                        DelegateCreation::clientName(constraint).toString()
                            << " takes " << (atLeast ? "at least " : "") << count
                            << (count == 1 ? " variable" : " variables") << ", given " << constraint.getScope().size()
                            << "." << (note != nullptr ? " " : "") << (note != nullptr ? note : ""));
  return holds;
}

AbstractDomain& ConstraintShape::domainAt(const Constraint& constraint, std::size_t position, std::size_t count,
                                          const char* conditionText) {
  checkArity(constraint, count, conditionText);
  return domainWithin(constraint.getScope(), position);
}

void ConstraintShape::checkComparableWithMessage(const AbstractDomain& a, const AbstractDomain& b,
                                                 const char* conditionText) {
  KALDEN_CHECK_TEXT_MSG(AbstractDomain::canBeCompared(a, b), conditionText,
                        "Cannot compare " << a.toString() << " and " << b.toString() << ".");
}

void ConstraintShape::checkNumeric(const Constraint& constraint, std::size_t first, std::size_t end,
                                   const char* conditionText) {
  const std::vector<Id<ConstrainedVariable> >& scope = constraint.getScope();
  for (std::size_t i = first; i < end && i < scope.size(); ++i)
    KALDEN_CHECK_TEXT_MSG(Constraint::getCurrentDomain(scope[i]).isNumeric(), conditionText,
                          DelegateCreation::clientName(constraint).toString()
                              << " reads numbers, not " << scope[i]->getName().toString() << ": "
                              << Constraint::getCurrentDomain(scope[i]).toString());
}

void ConstraintShape::checkConditionalScope(const Constraint& constraint) {
  const std::vector<Id<ConstrainedVariable> >& scope = constraint.getScope();
  if (!checkScopeSize(constraint, scope.size() > 2, "ARG_COUNT > 2", 3, true))
    return;
  KALDEN_CHECK_TEXT(Constraint::getCurrentDomain(scope[0]).isBool(), "getCurrentDomain(m_variables[0]).isBool()");
  for (std::size_t i = 2; i < scope.size(); ++i)
    KALDEN_CHECK_TEXT(
        AbstractDomain::canBeCompared(Constraint::getCurrentDomain(scope[1]), Constraint::getCurrentDomain(scope[i])),
        "AbstractDomain::canBeCompared(getCurrentDomain(m_variables[1]), "
        "getCurrentDomain(m_variables[i]))");
}

void ConstraintShape::fail(const char* conditionText) { KALDEN_CHECK_TEXT(false, conditionText); }

void ConstraintShape::discardMember(const Id<Constraint>& member) {
  // A member may have gone already, with an internal variable it was linked to.
  if (member.isValid() && !member->isDiscarded())
    member->discard(true);
}

void ConstraintShape::discardMember(Entity& member) {
  if (!member.isDiscarded())
    member.discard(true);
}

// ---------------------------------------------------------------- DelegateCreation

DelegateCreation::DelegateCreation(const Constraint& owner, const LabelStr& delegateName,
                                   const std::vector<Id<ConstrainedVariable> >& delegateScope) {
  creations().push_back(Creation{&owner, delegateName, &delegateScope});
}

DelegateCreation::~DelegateCreation() { creations().pop_back(); }

bool DelegateCreation::isCreating(const LabelStr& name) {
  for (const Creation& c : creations())
    if (c.delegateName == name)
      return true;
  return false;
}

const LabelStr& DelegateCreation::clientName(const Constraint& constraint) {
  // Walk out from the innermost creation for as long as each is the one that made the
  // constraint in hand: a chain of delegates keeps the client's scope size throughout.
  const Constraint* asked = &constraint;
  const std::vector<Creation>& all = creations();
  for (auto it = all.rbegin(); it != all.rend(); ++it) {
    if (it->delegateName != asked->getName() || *it->delegateScope != asked->getScope())
      break;
    asked = it->owner;
  }
  return asked->getName();
}

// ---------------------------------------------------------------- CompositeConstraint

void CompositeConstraint::handleDiscard() {
  Constraint::handleDiscard();
  // The sub-constraints are discarded here too, not only through the internal variables: while
  // the utility layer purges, a discarded variable leaves the constraints on it alone.
  const Members owned = members();
  for (ConstrainedVariable* variable : owned.variables)
    ConstraintShape::discardMember(*variable);
  for (const Id<Constraint>& constraint : owned.constraints)
    ConstraintShape::discardMember(constraint);
}

void CompositeConstraint::membersBuilt() {
  const Members owned = members();
  for (ConstrainedVariable* variable : owned.variables)
    adopt(*variable);
  for (const Id<Constraint>& constraint : owned.constraints)
    if (constraint.isValid())
      adopt(*static_cast<Constraint*>(constraint));
  handleSwitching();
  m_made = true;
  try {
    made();
  } catch (...) {
    // Refused (a listener failed, or took a variable of its scope): its members go with it now,
    // while it is whole; the failing `new` frees it. The refusal leaves: what listeners told of
    // the going throw is printed.
    if (!isDiscarded()) {
      const NoThrowScope guard;
      discard(false);
    }
    throw;
  }
}

CompositeConstraint::~CompositeConstraint() {
  // Refused before its members were built: its notices are dropped but nothing is told (a
  // listener would find it half-made).
  if (m_made)
    return;
  if (!m_constraintEngine.isValid()) {
    if (!isDiscarded())
      countRefused();
    return;
  }
  const ConstraintEngine::CleanMark clean = m_constraintEngine->makingMark(getKey());
  m_constraintEngine->endMaking(getKey(), true, false);
  // Its going, as a constraint refused by its class, leaves the engine as its making found it.
  if (!isDiscarded())
    m_constraintEngine->noteMadeOnClean(getKey(), clean, true);
}

void CompositeConstraint::handleExecute() {}

bool CompositeConstraint::canIgnore(const Id<ConstrainedVariable>&, int, const DomainListener::ChangeType& changeType) {
  return changeType != DomainListener::RESET && changeType != DomainListener::RELAXED;
}

void CompositeConstraint::handleSwitching() {
  // Retired as redundant, the composite leaves its members to run and retire on their own: one
  // held violated must come back when its violation is withdrawn. Otherwise its members are off
  // exactly while it is. Their domains need no reset when they come back: relaxation passes
  // through switched-off constraints, so nothing they narrowed outlived its cause meanwhile.
  if (isSwitchedOff() == m_holdsMembers)
    return;
  m_holdsMembers = !m_holdsMembers;
  // The handles are copies: a listener told of a member switching may delete this constraint and
  // its members, after which nothing of it is touched.
  const Members owned = members();
  const LifeWatch<Constraint> watch(getId());
  for (const Id<Constraint>& constraint : owned.constraints) {
    if (!constraint.isValid() || constraint->isDiscarded())
      continue;
    if (m_holdsMembers)
      constraint->deactivateByEngine();
    else
      constraint->undoDeactivationByEngine();
    if (watch.gone())
      return;
  }
}

} // namespace KALDEN
