#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_SIGNCONSTRAINTS_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_SIGNCONSTRAINTS_HH

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/Constraint.hh"

#include <vector>

namespace KALDEN {

/**
 * x = -y over the scope [x, y] of variables declared over intervals: each
 * execution narrows x to minus y's bounds and y to minus x's (as they were on
 * entry). The infinities map onto each other.
 */
class NegateConstraint : public Constraint {
public:
  /// Checks the arity, then that neither variable was declared over an enumeration.
  NegateConstraint(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& constraintEngine,
                   const std::vector<Id<ConstrainedVariable> >& variables);
  /// Nothing of its own: the base unlinks and unregisters it.
  ~NegateConstraint() override;

  /// Narrows x, then y, from the other's bounds.
  void handleExecute() override;
};

/**
 * x = |y| over the scope [x, y]: narrows x to the range of |y|, then y to
 * the values whose absolute value x still allows, on the sides of zero where
 * y can take them. Either domain may be an enumeration of numbers.
 */
class AbsoluteValue : public Constraint {
public:
  /// The scope size.
  static constexpr int ARG_COUNT = 2;

  /// Checks the arity before reading the scope, then that both domains are numeric.
  AbsoluteValue(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& constraintEngine,
                const std::vector<Id<ConstrainedVariable> >& variables);
  /// Nothing of its own: the base unlinks and unregisters it.
  ~AbsoluteValue() override;

  /// Narrows x from y, then y from x.
  void handleExecute() override;

private:
  AbstractDomain& m_x;
  AbstractDomain& m_y;
};

} // namespace KALDEN

#endif
