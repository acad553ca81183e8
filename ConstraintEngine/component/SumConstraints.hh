#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_SUMCONSTRAINTS_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_SUMCONSTRAINTS_HH

// N-ary sums and products, and the comparisons of one variable against a sum.
// None of these narrows anything itself: each builds elementary constraints
// over internal variables, which the engine runs like any others.

#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/component/ConstraintsBase.hh"
#include "ConstraintEngine/component/AllSameConstraints.hh"
#include "ConstraintEngine/component/IntervalDomains.hh"
#include "ConstraintEngine/component/OrderingConstraints.hh"
#include "ConstraintEngine/component/Variable.hh"

#include <cstddef>
#include <memory>
#include <vector>

namespace KALDEN {

struct SumTree;
struct ProductTree;

/**
 * a0 = a1 o ... o a(n-1) over the scope [a0, ..., a(n-1)], n >= 3, for the
 * sum or the product `Tree` names: a tree of elementary three-variable
 * constraints over four interim real variables. Up to seven variables the
 * tree is flat; a longer scope is split into two halves, each a constraint of
 * the same class. Discarding it retires every member it made.
 */
template <class Tree>
class NaryTreeConstraint : public CompositeConstraint {
public:
  /// Discards itself (and so its members) while it is whole, then destroys the interim variables.
  ~NaryTreeConstraint() override;

  /// The scope size.
  const unsigned int ARG_COUNT;

protected:
  /// Checks the arity, then builds the tree.
  NaryTreeConstraint(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& constraintEngine,
                     const std::vector<Id<ConstrainedVariable> >& variables);

private:
  /// Its interim variables and sub-constraints.
  Members members() override;

  Id<Constraint> m_subConstraints[5];
  Variable<IntervalDomain> m_interimVariables[4];
};

/// a0 = a1 + ... + a(n-1): additions "AddEqual", halves "EqualSum".
class EqualSumConstraint : public NaryTreeConstraint<SumTree> {
public:
  /// Checks the arity, then builds the tree.
  EqualSumConstraint(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& constraintEngine,
                     const std::vector<Id<ConstrainedVariable> >& variables);
};

/// a0 = a1 * ... * a(n-1): multiplications "MultEqual" (which refuse enumerations), halves "EqualProduct".
class EqualProductConstraint : public NaryTreeConstraint<ProductTree> {
public:
  /// Checks the arity, then builds the tree.
  EqualProductConstraint(const LabelStr& name, const LabelStr& propagatorName,
                         const Id<ConstraintEngine>& constraintEngine,
                         const std::vector<Id<ConstrainedVariable> >& variables);
};

/**
 * A variable compared with the sum of the rest of the scope, through an
 * interim variable s: an owned EqualSumConstraint "EqualSum" makes s the sum,
 * and an embedded `Embedded` constraint relates s with the compared
 * variable. The comparisons differ only in the pieces their Form gives.
 */
template <class Embedded>
class SumComparison : public CompositeConstraint {
public:
  /// Discards itself (and so its members) while it is whole.
  ~SumComparison() override;

protected:
  typedef std::vector<Id<ConstrainedVariable> > Scope;

  /// What tells one comparison from another.
  struct Form {
    /// The interim's base domain, once it has checked the scope's arity: it runs before any member is built.
    std::unique_ptr<AbstractDomain> (*interimDomain)(const Constraint& constraint, const Id<ConstraintEngine>& engine);
    const char* embeddedName; ///< the embedded constraint's name
    /// The embedded constraint's scope over the comparison's scope and the interim.
    Scope (*embeddedScope)(const Scope& scope, const Id<ConstrainedVariable>& interim);
    std::size_t firstSummand; ///< the scope position of y1
  };

  /// Builds the interim variable, the embedded constraint and the owned sum, in that order.
  SumComparison(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& constraintEngine,
                const std::vector<Id<ConstrainedVariable> >& variables, const Form& form);

private:
  /// Its interim variables and sub-constraints.
  Members members() override;

  Variable<IntervalDomain> m_interimVariable;
  Embedded m_embeddedConstraint;
  Id<Constraint> m_eqSumConstraint;
};

/// x < y1 + ... + yn over [x, y1, ..., yn], n >= 2: "LessThan" over (x, s), s real.
class LessThanSumConstraint : public SumComparison<LessThanConstraint> {
public:
  /// Builds the interim variable and both members.
  LessThanSumConstraint(const LabelStr& name, const LabelStr& propagatorName,
                        const Id<ConstraintEngine>& constraintEngine,
                        const std::vector<Id<ConstrainedVariable> >& variables);
};

/// x <= y1 + ... + yn over [x, y1, ..., yn], n >= 2: "LessThanEq" over (x, s), s real.
class LessOrEqThanSumConstraint : public SumComparison<LessThanEqualConstraint> {
public:
  /// Builds the interim variable and both members.
  LessOrEqThanSumConstraint(const LabelStr& name, const LabelStr& propagatorName,
                            const Id<ConstraintEngine>& constraintEngine,
                            const std::vector<Id<ConstrainedVariable> >& variables);
};

/**
 * x > y1 + ... + yn over [x, y1, ..., yn], n >= 2: "LessThan" over (s, x).
 * s is of x's type when every summand is integral and that type holds every
 * integer, so that the strict bound steps by whole units; otherwise s is
 * real, as a real sum must be.
 */
class GreaterThanSumConstraint : public SumComparison<LessThanConstraint> {
public:
  /// Builds the interim variable and both members; x's type must be registered in the schema.
  GreaterThanSumConstraint(const LabelStr& name, const LabelStr& propagatorName,
                           const Id<ConstraintEngine>& constraintEngine,
                           const std::vector<Id<ConstrainedVariable> >& variables);
};

/// x >= y1 + ... + yn over [x, y1, ..., yn], n >= 2: "LessThanEqual" over (s, x), s real.
class GreaterOrEqThanSumConstraint : public SumComparison<LessThanEqualConstraint> {
public:
  /// Builds the interim variable and both members.
  GreaterOrEqThanSumConstraint(const LabelStr& name, const LabelStr& propagatorName,
                               const Id<ConstraintEngine>& constraintEngine,
                               const std::vector<Id<ConstrainedVariable> >& variables);
};

/**
 * b holds exactly when x = y1 + ... + yn, over [b, x, y1, ..., yn], n >= 2:
 * "CondAllSame" over (b, x, s), s typed as in GreaterThanSumConstraint.
 */
class CondEqualSumConstraint : public SumComparison<CondAllSameConstraint> {
public:
  /// Checks the arity before reading b or x, then builds the interim variable and both members.
  CondEqualSumConstraint(const LabelStr& name, const LabelStr& propagatorName,
                         const Id<ConstraintEngine>& constraintEngine,
                         const std::vector<Id<ConstrainedVariable> >& variables);
};

} // namespace KALDEN

#endif
