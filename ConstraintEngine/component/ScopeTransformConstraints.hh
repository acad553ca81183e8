#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_SCOPETRANSFORMCONSTRAINTS_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_SCOPETRANSFORMCONSTRAINTS_HH

// Constraints that post another registered constraint over their scope in
// another order. The delegate is created by name through the engine, which
// may propagate before the transforming constraint's constructor returns;
// executing the transforming constraint itself does nothing.

#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/component/ConstraintsBase.hh"
#include "Utils/LabelStr.hh"
#include "Utils/base/Id.hh"

#include <vector>

namespace KALDEN {

class ConstraintEngine;

/**
 * Creates the constraint registered as `otherName` over the scope with the
 * entries at firstIndex and secondIndex exchanged. Both indices must be scope
 * positions (0 to size - 1) and differ. A scope too short for them is refused
 * as taking at least the larger of the positions' needs and `minArity`
 * variables (what the delegate needs, when known); so is one shorter than
 * `minArity`, before the delegate is created.
 */
class SwapTwoVarsConstraint : public CompositeConstraint {
public:
  /// Checks both indices and the least arity against the scope, then creates the delegate over the swapped scope.
  SwapTwoVarsConstraint(const LabelStr& name, const LabelStr& propagatorName,
                        const Id<ConstraintEngine>& constraintEngine,
                        const std::vector<Id<ConstrainedVariable> >& variables, const LabelStr& otherName,
                        int firstIndex, int secondIndex, unsigned int minArity = 0);
  /// Discards itself (and so its delegate) while it is whole.
  ~SwapTwoVarsConstraint() override;

private:
  /// Its delegate.
  Members members() override;

  Id<Constraint> m_otherConstraint;
};

/**
 * Creates the constraint registered as `otherName` over the scope rotated
 * right by rotateCount (left for a negative count): with a count of 1 the last
 * variable comes first. The count must lie within -(size - 1) to size - 1; a
 * scope too short for it is refused as taking at least the larger of
 * |rotateCount| + 1 and `minArity` variables; so is one shorter than
 * `minArity`, before the delegate is created.
 */
class RotateScopeRightConstraint : public CompositeConstraint {
public:
  /// Checks the count and the least arity against the scope, then creates the delegate over the rotated scope.
  RotateScopeRightConstraint(const LabelStr& name, const LabelStr& propagatorName,
                             const Id<ConstraintEngine>& constraintEngine,
                             const std::vector<Id<ConstrainedVariable> >& variables, const LabelStr& otherName,
                             const int& rotateCount, unsigned int minArity = 0);
  /// Discards itself (and so its delegate) while it is whole.
  ~RotateScopeRightConstraint() override;

private:
  /// Its delegate.
  Members members() override;

  Id<Constraint> m_otherConstraint;
};

} // namespace KALDEN

#endif
