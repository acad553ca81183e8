#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_ORDERINGCONSTRAINTS_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_ORDERINGCONSTRAINTS_HH

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/component/ConstraintsBase.hh"

#include <vector>

namespace KALDEN {

/**
 * x <= y over the scope [x, y] of numeric variables: x's upper bound falls to
 * y's, y's lower bound rises to x's. Only bounds move. A fall of x's upper or
 * a rise of y's lower bound cannot matter to it, and it is redundant once the
 * base domains keep x below y for good.
 */
class LessThanEqualConstraint : public Constraint {
public:
  /// The scope size.
  static constexpr int ARG_COUNT = 2;

  /// Checks the arity, then that both domains are numeric.
  LessThanEqualConstraint(const LabelStr& name, const LabelStr& propagatorName,
                          const Id<ConstraintEngine>& constraintEngine,
                          const std::vector<Id<ConstrainedVariable> >& variables);
  /// Nothing of its own: the base unlinks and unregisters it.
  ~LessThanEqualConstraint() override;

  /// Redundant by the base test, or when x's base upper bound is at most y's base lower bound.
  bool testIsRedundant(const Id<ConstrainedVariable>& variable) const override;
  /// Narrows x's upper and y's lower bound.
  void handleExecute() override;
  /// True: each bound is narrowed by the other variable's bound that this run leaves alone.
  bool isIdempotent() const override { return true; }
  /// True for a fall of x's upper bound and a rise of y's lower bound.
  bool canIgnore(const Id<ConstrainedVariable>& variable, int argIndex,
                 const DomainListener::ChangeType& changeType) override;

private:
  AbstractDomain& m_x;
  AbstractDomain& m_y;
};

/**
 * x < y over the scope [x, y]: x's upper bound falls below y's by x's
 * tolerance, y's lower bound rises above x's by y's tolerance; an infinite
 * bound is never stepped. x < x empties x at once. Ignores the same changes
 * as LessThanEqualConstraint.
 */
class LessThanConstraint : public Constraint {
public:
  /// The scope size.
  static constexpr int ARG_COUNT = 2;

  /// Checks the arity only; comparability is checked when it runs.
  LessThanConstraint(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& constraintEngine,
                     const std::vector<Id<ConstrainedVariable> >& variables);
  /// Nothing of its own: the base unlinks and unregisters it.
  ~LessThanConstraint() override;

  /// Narrows x's upper and y's lower bound; two equal singletons empty x.
  void handleExecute() override;
  /// True, as for the less-or-equal constraint.
  bool isIdempotent() const override { return true; }
  /// True for a fall of x's upper bound and a rise of y's lower bound.
  bool canIgnore(const Id<ConstrainedVariable>& variable, int argIndex,
                 const DomainListener::ChangeType& changeType) override;
};

/**
 * lb <= x <= ub over the scope [x, lb, ub]: narrows x to [lb's lower bound,
 * ub's upper bound]. lb <= ub is kept by an embedded LessThanEqualConstraint
 * of the same name over [lb, ub], which runs as a constraint of its own. It is
 * built like every composite's member: a part of the WithinBounds before
 * anyone hears of either, retired and switched with it, deleted only with it.
 * Unlike other composites, the WithinBounds narrows x itself. It waits while
 * any of the three is open.
 */
class WithinBounds : public CompositeConstraint {
public:
  /// The scope size.
  static constexpr int ARG_COUNT = 3;

  /// Checks the arity before anything else is built, then builds the embedded ordering.
  WithinBounds(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& constraintEngine,
               const std::vector<Id<ConstrainedVariable> >& variables);
  /// Discards itself (and so its ordering) while it is whole.
  ~WithinBounds() override;

  /// Narrows x to the outer bounds of lb and ub.
  void handleExecute() override;
  /// True: x is narrowed by the bounds of the two others, which this run leaves alone.
  bool isIdempotent() const override { return true; }
  /// False, as for a constraint that narrows: unlike a composite's members-only rule, it reads every change.
  bool canIgnore(const Id<ConstrainedVariable>& variable, int argIndex,
                 const DomainListener::ChangeType& changeType) override;

private:
  /// The embedded ordering.
  Members members() override;

  AbstractDomain& m_x;
  AbstractDomain& m_y;
  AbstractDomain& m_z;
  LessThanEqualConstraint m_leq;
};

} // namespace KALDEN

#endif
