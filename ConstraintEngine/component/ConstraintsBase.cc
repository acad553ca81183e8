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

void ConstraintShape::deactivateMembers(std::initializer_list<Id<Constraint> > members) {
  for (const Id<Constraint>& member : members)
    if (member.isValid() && !member->isDiscarded())
      member->deactivate();
}

void ConstraintShape::activateMembers(std::initializer_list<Id<Constraint> > members,
                                      std::initializer_list<ConstrainedVariable*> internals) {
  for (ConstrainedVariable* internal : internals)
    if (!internal->isDiscarded())
      internal->reset();
  for (const Id<Constraint>& member : members)
    if (member.isValid() && !member->isDiscarded() && !member->isActive())
      member->undoDeactivation();
}

} // namespace KALDEN
