#define KALDEN_SOURCE "ConstraintEngine/component/Constraints"

// The shared checks of library constraints.

#include "ConstraintEngine/component/ConstraintsBase.hh"

#include "Utils/base/Report.hh"

namespace KALDEN {

namespace {

// The current domain at a position, never reading past the scope's end: a failed arity check
// that was only printed (inside a destructor) must not lead to a read out of bounds. The
// Constraint base refuses an empty scope.
AbstractDomain& domainWithin(const std::vector<Id<ConstrainedVariable> >& scope, std::size_t position) {
  return Constraint::getCurrentDomain(scope[position < scope.size() ? position : scope.size() - 1]);
}

} // namespace

void ConstraintShape::checkArity(const Constraint& constraint, std::size_t count, const char* conditionText) {
  KALDEN_CHECK_TEXT(constraint.getScope().size() == count, conditionText);
}

void ConstraintShape::checkArity(const Constraint& constraint, std::size_t count, const char* conditionText,
                                 const char* messagePrefix) {
  KALDEN_CHECK_TEXT_MSG(constraint.getScope().size() == count, conditionText, messagePrefix << constraint.toString());
}

void ConstraintShape::checkMinArity(const Constraint& constraint, std::size_t count, const char* conditionText) {
  KALDEN_CHECK_TEXT(constraint.getScope().size() >= count, conditionText);
}

AbstractDomain& ConstraintShape::domainAt(const Constraint& constraint, std::size_t position, std::size_t count,
                                          const char* conditionText) {
  checkArity(constraint, count, conditionText);
  return domainWithin(constraint.getScope(), position);
}

AbstractDomain& ConstraintShape::domainAt(const Constraint& constraint, std::size_t position, std::size_t count,
                                          const char* conditionText, const char* messagePrefix) {
  checkArity(constraint, count, conditionText, messagePrefix);
  return domainWithin(constraint.getScope(), position);
}

void ConstraintShape::checkComparableWithMessage(const AbstractDomain& a, const AbstractDomain& b,
                                                 const char* conditionText) {
  KALDEN_CHECK_TEXT_MSG(AbstractDomain::canBeCompared(a, b), conditionText,
                        "Cannot compare " << a.toString() << " and " << b.toString() << ".");
}

void ConstraintShape::checkConditionalScope(const Constraint& constraint) {
  const std::vector<Id<ConstrainedVariable> >& scope = constraint.getScope();
  KALDEN_CHECK_TEXT_OR_RETURN(scope.size() > 2, "ARG_COUNT > 2");
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

void CompositeConstraint::handleExecute() {}

bool CompositeConstraint::canIgnore(const Id<ConstrainedVariable>&, int, const DomainListener::ChangeType& changeType) {
  return changeType != DomainListener::RESET && changeType != DomainListener::RELAXED;
}

void CompositeConstraint::handleDeactivate() {
  for (const Id<Constraint>& constraint : members().constraints)
    if (constraint.isValid() && !constraint->isDiscarded())
      constraint->deactivate();
}

void CompositeConstraint::handleActivate() {
  const Members owned = members();
  for (ConstrainedVariable* variable : owned.variables)
    if (!variable->isDiscarded())
      variable->reset();
  for (const Id<Constraint>& constraint : owned.constraints)
    if (constraint.isValid() && !constraint->isDiscarded() && !constraint->isActive())
      constraint->undoDeactivation();
}

} // namespace KALDEN
