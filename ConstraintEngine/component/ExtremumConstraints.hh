#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_EXTREMUMCONSTRAINTS_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_EXTREMUMCONSTRAINTS_HH

#include "ConstraintEngine/base/Constraint.hh"

#include <vector>

namespace KALDEN {

/**
 * M = max(x1, .. xn) over the scope [M, x1, .. xn] of numeric variables,
 * n at least 1, by bounds: M narrows to the greatest lower and the greatest
 * upper bound of the xi, and the xi that can still be the maximum narrow to
 * M's upper bound (a lone one to both of M's bounds). Nothing is narrowed
 * while a domain of the scope is open.
 */
class EqualMaximumConstraint : public Constraint {
public:
  /// Checks that there is at least one xi and that every domain, M's included, is numeric.
  EqualMaximumConstraint(const LabelStr& name, const LabelStr& propagatorName,
                         const Id<ConstraintEngine>& constraintEngine,
                         const std::vector<Id<ConstrainedVariable> >& variables);
  /// Nothing of its own: the base unlinks and unregisters it.
  ~EqualMaximumConstraint() override;

  /// Narrows M, then the xi that may be the maximum.
  void handleExecute() override;
};

/**
 * m = min(x1, .. xn): the mirror image of EqualMaximumConstraint, narrowing
 * m to the least bounds of the xi and the xi that may be the minimum to m's
 * lower bound.
 */
class EqualMinimumConstraint : public Constraint {
public:
  /// Checks that there is at least one xi and that every domain, m's included, is numeric.
  EqualMinimumConstraint(const LabelStr& name, const LabelStr& propagatorName,
                         const Id<ConstraintEngine>& constraintEngine,
                         const std::vector<Id<ConstrainedVariable> >& variables);
  /// Nothing of its own: the base unlinks and unregisters it.
  ~EqualMinimumConstraint() override;

  /// Narrows m, then the xi that may be the minimum.
  void handleExecute() override;
};

} // namespace KALDEN

#endif
