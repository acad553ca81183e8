#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_ARITHMETICCONSTRAINTS_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_ARITHMETICCONSTRAINTS_HH

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/component/ConstraintsBase.hh"
#include "ConstraintEngine/component/IntervalDomains.hh"
#include "ConstraintEngine/component/Variable.hh"

#include <vector>

namespace KALDEN {

/**
 * x + y = z over the scope [x, y, z]: a pass narrows z to x + y, then x to
 * z - y, then y to z - x. Over real bounds one pass leaves nothing for a
 * second; an integer interval's bound rounded inward may, so a pass that
 * rounded x or y asks for another round. Sums and differences that reach
 * infinity leave the bound alone. When two of the three are integer
 * intervals the third must take an integer too: a real interval holding none
 * rules every solution out and z is emptied, before any bound is rounded
 * toward it. A scope that repeats z is decided at once: x + y = x makes y 0,
 * and x + y = y makes x 0.
 */
class AddEqualConstraint : public Constraint {
public:
  /// The scope size.
  static constexpr int ARG_COUNT = 3;

  /// Checks the arity; the domains' types are compared when it runs.
  AddEqualConstraint(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& constraintEngine,
                     const std::vector<Id<ConstrainedVariable> >& variables);
  /// Nothing of its own: the base unlinks and unregisters it.
  ~AddEqualConstraint() override;

  /// One narrowing pass over z, x and y, or the decision of a scope that repeats z.
  void handleExecute() override;
  /// True over three intervals (a pass that rounds asks for another); an enumeration's bound can
  /// move further than a pass asked.
  bool isIdempotent() const override;

private:
  // Narrows the scope that repeats z (x + y = x: y is 0); false when z stands once.
  bool narrowRepeatedSum();
  // One pass; whether it emptied a domain. Sets `rounded` when x's or y's new bound is not the one asked.
  bool narrowOnce(bool& rounded);

  AbstractDomain& m_x;
  AbstractDomain& m_y;
  AbstractDomain& m_z;
  // The real interval among the three that must hold an integer, when the other two are
  // integer intervals; null otherwise. Fixed at construction: it depends only on the
  // domains' classes and kinds.
  const AbstractDomain* m_mustHoldInteger;
};

/**
 * x * y = z over the scope [x, y, z] of interval variables: z narrows to the
 * products of x's and y's bounds, x and y to the quotients of z's bounds by
 * the other's, in one pass per round. A divisor interval that holds zero
 * narrows nothing.
 */
class MultEqualConstraint : public Constraint {
public:
  /// The scope size.
  static constexpr int ARG_COUNT = 3;

  /// Checks the arity, then that no domain is an enumeration.
  MultEqualConstraint(const LabelStr& name, const LabelStr& propagatorName,
                      const Id<ConstraintEngine>& constraintEngine,
                      const std::vector<Id<ConstrainedVariable> >& variables);
  /// Nothing of its own: the base unlinks and unregisters it.
  ~MultEqualConstraint() override;

  /// One narrowing pass.
  void handleExecute() override;

  /// Narrows dom to [numMin, numMax] / [denomMin, denomMax] unless the divisor holds zero; true when dom changed.
  static bool updateMinAndMax(IntervalDomain& dom, double denomMin, double denomMax, double numMin, double numMax);
};

/**
 * d = a + b * c over the scope [a, b, c, d], delegated to two members over an
 * internal real variable p: p = b * c and d = p + a. The members run as
 * constraints of their own; discarding this one retires p and, with it, both.
 */
class AddMultEqualConstraint : public CompositeConstraint {
public:
  /// The scope size.
  static constexpr int ARG_COUNT = 4;

  /// Checks the arity before building the internal variable and the two members.
  AddMultEqualConstraint(const LabelStr& name, const LabelStr& propagatorName,
                         const Id<ConstraintEngine>& constraintEngine,
                         const std::vector<Id<ConstrainedVariable> >& variables);
  /// Discards itself (and so its members) while it is whole, then destroys the members.
  ~AddMultEqualConstraint() override;

private:
  /// Its internal variables and sub-constraints.
  Members members() override;

  // Fails the arity check unless the scope fits; gives back the engine to build the internal variable with.
  const Id<ConstraintEngine>& checkedEngine(const Id<ConstraintEngine>& constraintEngine) const;

  Variable<IntervalDomain> m_interimVariable;
  MultEqualConstraint m_multEqualConstraint;
  AddEqualConstraint m_addEqualConstraint;
};

} // namespace KALDEN

#endif
