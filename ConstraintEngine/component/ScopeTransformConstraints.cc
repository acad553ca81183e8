#define KALDEN_SOURCE "ConstraintEngine/component/Constraints"

// Swapping and rotating constraints, and the creation of their delegates.

#include "ConstraintEngine/component/ScopeTransformConstraints.hh"

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/component/ConstraintsBase.hh"
#include "Utils/Error.hh"
#include "Utils/base/Report.hh"

#include <algorithm>
#include <cstddef>

namespace KALDEN {

namespace {

// The delegate `owner` created under `otherName`, if it is still registered: keys follow
// creation order and the engine's set is ordered by key, so it is the first constraint of
// that name after the owner (its own members come later still).
Id<Constraint> delegateLeftBehind(const Constraint& owner, const Id<ConstraintEngine>& engine,
                                  const LabelStr& otherName) {
  if (!engine.isValid())
    return Id<Constraint>::noId();
  for (const Id<Constraint>& c : engine->getConstraints())
    if (c->getKey() > owner.getKey() && c->getName() == otherName && !c->isDiscarded())
      return c;
  return Id<Constraint>::noId();
}

// Creates the delegate `otherName` over `scope` through the owner's engine. A chain of
// delegates that asks again for a name still being created is refused (factories that name each
// other in a cycle would otherwise recurse until the stack overflows); a transform's own name is
// not asked for, so one built directly may bear the name of the plain type it delegates to. A
// failure after the delegate
// was built (in the propagation that follows its creation) would leave it registered with no
// owner: it is discarded before the failure goes on.
Id<Constraint> createDelegate(const Constraint& owner, const Id<ConstraintEngine>& engine, const LabelStr& otherName,
                              const std::vector<Id<ConstrainedVariable> >& scope) {
  KALDEN_CHECK_TEXT_MSG_OR_RETURN(!DelegateCreation::isCreating(otherName), "!isBeingBuilt(otherName)",
                                  "The delegate chain of " << owner.getName().toString() << " comes back to "
                                                           << otherName.toString() << ", which is being built.",
                                  Id<Constraint>::noId());
  const DelegateCreation creation(owner, otherName, scope);
  try {
    return engine->createConstraint(otherName, scope);
  } catch (...) {
    NoThrowScope guard;
    const Id<Constraint> orphan = delegateLeftBehind(owner, engine, otherName);
    if (orphan.isId())
      orphan->discard(true);
    throw;
  }
}

// Whether `index` names a scope position; no abs(), which is undefined for INT_MIN.
bool isPosition(int index, std::size_t size) { return index >= 0 && static_cast<std::size_t>(index) < size; }

// The check that `index` names a position of the constraint's scope. A negative index names none
// whatever the scope; past the end, the scope is short: say how many variables it takes, at
// least `need`. Whether the index is a position.
bool checkPosition(const Constraint& constraint, int index, std::size_t need, const char* conditionText) {
  KALDEN_CHECK_TEXT_OR_RETURN(index >= 0, conditionText, false);
  return ConstraintShape::checkScopeSize(constraint, isPosition(index, constraint.getScope().size()), conditionText,
                                         need, true);
}

// The check that the scope holds the `minArity` variables the delegate takes, before the
// delegate is created: a scope it would refuse builds nothing. Whether it holds them.
bool checkDelegateArity(const Constraint& constraint, unsigned int minArity) {
  return ConstraintShape::checkScopeSize(constraint, constraint.getScope().size() >= minArity,
                                         "m_variables.size() >= minArity", minArity, true);
}

} // namespace

// ---------------------------------------------------------------- SwapTwoVarsConstraint

SwapTwoVarsConstraint::SwapTwoVarsConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                             const Id<ConstraintEngine>& constraintEngine,
                                             const std::vector<Id<ConstrainedVariable> >& variables,
                                             const LabelStr& otherName, int firstIndex, int secondIndex,
                                             unsigned int minArity)
    : CompositeConstraint(name, propagatorName, constraintEngine, variables) {
  // Negative indices are refused: they name no scope position.
  const std::size_t need =
      std::max<std::size_t>({minArity, static_cast<std::size_t>(std::max(firstIndex, secondIndex)) + 1});
  if (!checkPosition(*this, firstIndex, need, "(unsigned) abs(firstIndex) < m_variables.size()") ||
      !checkPosition(*this, secondIndex, need, "(unsigned) abs(secondIndex) < m_variables.size()") ||
      !checkDelegateArity(*this, minArity))
    return;
  KALDEN_CHECK(firstIndex != secondIndex);

  std::vector<Id<ConstrainedVariable> > otherScope(m_variables);
  otherScope[static_cast<std::size_t>(firstIndex)] = m_variables[static_cast<std::size_t>(secondIndex)];
  otherScope[static_cast<std::size_t>(secondIndex)] = m_variables[static_cast<std::size_t>(firstIndex)];
  m_otherConstraint = createDelegate(*this, m_constraintEngine, otherName, otherScope);
  membersBuilt();
}

SwapTwoVarsConstraint::~SwapTwoVarsConstraint() {
  NoThrowScope guard;
  discardInDestructor();
}

CompositeConstraint::Members SwapTwoVarsConstraint::members() { return Members{{}, {m_otherConstraint}}; }

// ---------------------------------------------------------------- RotateScopeRightConstraint

RotateScopeRightConstraint::RotateScopeRightConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                                       const Id<ConstraintEngine>& constraintEngine,
                                                       const std::vector<Id<ConstrainedVariable> >& variables,
                                                       const LabelStr& otherName, const int& rotateCount,
                                                       unsigned int minArity)
    : CompositeConstraint(name, propagatorName, constraintEngine, variables) {
  const std::size_t n = m_variables.size();
  // Compared in a wider type, as abs(INT_MIN) is undefined.
  const long long count = rotateCount;
  const unsigned long long magnitude = static_cast<unsigned long long>(count < 0 ? -count : count);
  if (!ConstraintShape::checkScopeSize(*this, magnitude < n, "(unsigned) abs(rotateCount) < m_variables.size()",
                                       std::max<std::size_t>(minArity, magnitude + 1), true) ||
      !checkDelegateArity(*this, minArity))
    return;

  // A right rotation by r is a left rotation by n - r: entry i takes the entry `shift` further on.
  const std::size_t shift = static_cast<std::size_t>(count > 0 ? static_cast<long long>(n) - count : -count);
  std::vector<Id<ConstrainedVariable> > otherScope;
  otherScope.reserve(n);
  for (std::size_t i = 0; i < n; ++i)
    otherScope.push_back(m_variables[(i + shift) % n]);
  KALDEN_CHECK(m_variables.size() == otherScope.size());
  m_otherConstraint = createDelegate(*this, m_constraintEngine, otherName, otherScope);
  membersBuilt();
}

RotateScopeRightConstraint::~RotateScopeRightConstraint() {
  NoThrowScope guard;
  discardInDestructor();
}

CompositeConstraint::Members RotateScopeRightConstraint::members() { return Members{{}, {m_otherConstraint}}; }

} // namespace KALDEN
