#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_ALLSAMECONSTRAINTS_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_ALLSAMECONSTRAINTS_HH

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/Constraint.hh"

#include <vector>

namespace KALDEN {

/**
 * b holds exactly when x1, ..., xn all take one value, over the scope
 * [b, x1, ..., xn], n >= 2. It decides b when the domains prove or refute
 * equality; a decided b then propagates: true equates the xi, false removes
 * the common value of all but one fixed xi from the last one where its
 * domain allows that. Two fixed values count as equal within the smaller of
 * their two domains' tolerances.
 */
class CondAllSameConstraint : public Constraint {
public:
  /// Checks the arity, that b is boolean and that every xi compares with x1.
  CondAllSameConstraint(const LabelStr& name, const LabelStr& propagatorName,
                        const Id<ConstraintEngine>& constraintEngine,
                        const std::vector<Id<ConstrainedVariable> >& variables);
  /// Nothing of its own: the base unlinks and unregisters it.
  ~CondAllSameConstraint() override;

  /// Decides b if it can, then propagates a decided b into the xi.
  void handleExecute() override;

  /// The scope size.
  const unsigned int ARG_COUNT;

private:
  // Removes 1.0 (b false) or 0.0 (b true) from b when the xi prove it; leaves an open b alone.
  void decide(AbstractDomain& boolDom);
  // b false: the one xi that could still equal the others' common value loses it, where its domain allows.
  void propagateFalse(AbstractDomain& boolDom);
  // b true: the xi narrow to their common values.
  void propagateTrue();
};

} // namespace KALDEN

#endif
