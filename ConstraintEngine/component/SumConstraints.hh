#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_SUMCONSTRAINTS_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_SUMCONSTRAINTS_HH

// N-ary sums and products, and the comparisons of one variable against a sum.
// None of these narrows anything itself: each builds elementary constraints
// over internal variables, which the engine runs like any others.

#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/component/AllSameConstraints.hh"
#include "ConstraintEngine/component/IntervalDomains.hh"
#include "ConstraintEngine/component/OrderingConstraints.hh"
#include "ConstraintEngine/component/Variable.hh"

#include <vector>

namespace KALDEN {

/**
 * a0 = a1 + ... + a(n-1) over the scope [a0, ..., a(n-1)], n >= 3, as a tree
 * of AddEqualConstraint "AddEqual" over four interim real variables. Up to
 * seven variables the tree is flat; a longer scope is split into two halves,
 * each an EqualSumConstraint "EqualSum" of its own. Discarding it retires
 * every member it made.
 */
class EqualSumConstraint : public Constraint {
public:
  /// Checks the arity, then builds the tree.
  EqualSumConstraint(const LabelStr& name, const LabelStr& propagatorName,
                     const Id<ConstraintEngine>& constraintEngine,
                     const std::vector<Id<ConstrainedVariable> >& variables);
  /// Discards itself (and so its members) while it is whole, then destroys the interim variables.
  ~EqualSumConstraint() override;

  /// Unlinks the constraint, then discards the interim variables and every sub-constraint still standing.
  void handleDiscard() override;
  /// Switches the members off with this constraint, so that an inactive composite constrains nothing.
  void handleDeactivate() override;
  /// Switches the members back on with this constraint.
  void handleActivate() override;
  /// Nothing: the sub-constraints do the work.
  void handleExecute() override;
  /// True but for a reset or relaxation: a change gives this constraint no work of its own.
  bool canIgnore(const Id<ConstrainedVariable>& variable, int argIndex,
                 const DomainListener::ChangeType& changeType) override;

  /// The scope size.
  const unsigned int ARG_COUNT;

private:
  Id<Constraint> m_subConstraints[5];
  Variable<IntervalDomain> m_interimVariables[4];
};

/**
 * a0 = a1 * ... * a(n-1) over the scope [a0, ..., a(n-1)], n >= 3: the tree
 * of EqualSumConstraint with MultEqualConstraint "MultEqual" in place of the
 * additions and "EqualProduct" halves. Enumerated variables are refused by
 * the multiplications.
 */
class EqualProductConstraint : public Constraint {
public:
  /// Checks the arity, then builds the tree.
  EqualProductConstraint(const LabelStr& name, const LabelStr& propagatorName,
                         const Id<ConstraintEngine>& constraintEngine,
                         const std::vector<Id<ConstrainedVariable> >& variables);
  /// Discards itself (and so its members) while it is whole, then destroys the interim variables.
  ~EqualProductConstraint() override;

  /// Unlinks the constraint, then discards the interim variables and every sub-constraint still standing.
  void handleDiscard() override;
  /// Switches the members off with this constraint, so that an inactive composite constrains nothing.
  void handleDeactivate() override;
  /// Switches the members back on with this constraint.
  void handleActivate() override;
  /// Nothing: the sub-constraints do the work.
  void handleExecute() override;
  /// True but for a reset or relaxation: a change gives this constraint no work of its own.
  bool canIgnore(const Id<ConstrainedVariable>& variable, int argIndex,
                 const DomainListener::ChangeType& changeType) override;

  /// The scope size.
  const unsigned int ARG_COUNT;

private:
  Id<Constraint> m_subConstraints[5];
  Variable<IntervalDomain> m_interimVariables[4];
};

/**
 * x < y1 + ... + yn over the scope [x, y1, ..., yn], n >= 2: an interim real
 * variable s, LessThanConstraint "LessThan" over (x, s) and an owned
 * EqualSumConstraint over [s, y1, ..., yn].
 */
class LessThanSumConstraint : public Constraint {
public:
  /// Builds the interim variable and both members.
  LessThanSumConstraint(const LabelStr& name, const LabelStr& propagatorName,
                        const Id<ConstraintEngine>& constraintEngine,
                        const std::vector<Id<ConstrainedVariable> >& variables);
  /// Discards itself (and so its members) while it is whole.
  ~LessThanSumConstraint() override;

  /// Unlinks the constraint, then discards the interim variable and both members.
  void handleDiscard() override;
  /// Switches the members off with this constraint, so that an inactive composite constrains nothing.
  void handleDeactivate() override;
  /// Switches the members back on with this constraint.
  void handleActivate() override;
  /// Nothing: the members do the work.
  void handleExecute() override;
  /// True but for a reset or relaxation: a change gives this constraint no work of its own.
  bool canIgnore(const Id<ConstrainedVariable>& variable, int argIndex,
                 const DomainListener::ChangeType& changeType) override;

private:
  Variable<IntervalDomain> m_interimVariable;
  LessThanConstraint m_lessThanConstraint;
  Id<Constraint> m_eqSumConstraint;
};

/**
 * x <= y1 + ... + yn over the scope [x, y1, ..., yn], n >= 2, through an
 * interim real variable s: LessThanEqualConstraint "LessThanEq" over (x, s)
 * and an owned EqualSumConstraint over [s, y1, ..., yn].
 */
class LessOrEqThanSumConstraint : public Constraint {
public:
  /// Builds the interim variable and both members.
  LessOrEqThanSumConstraint(const LabelStr& name, const LabelStr& propagatorName,
                            const Id<ConstraintEngine>& constraintEngine,
                            const std::vector<Id<ConstrainedVariable> >& variables);
  /// Discards itself (and so its members) while it is whole.
  ~LessOrEqThanSumConstraint() override;

  /// Unlinks the constraint, then discards the interim variable and both members.
  void handleDiscard() override;
  /// Switches the members off with this constraint, so that an inactive composite constrains nothing.
  void handleDeactivate() override;
  /// Switches the members back on with this constraint.
  void handleActivate() override;
  /// Nothing: the members do the work.
  void handleExecute() override;
  /// True but for a reset or relaxation: a change gives this constraint no work of its own.
  bool canIgnore(const Id<ConstrainedVariable>& variable, int argIndex,
                 const DomainListener::ChangeType& changeType) override;

private:
  Variable<IntervalDomain> m_interimVariable;
  LessThanEqualConstraint m_lessThanEqualConstraint;
  Id<Constraint> m_eqSumConstraint;
};

/**
 * x > y1 + ... + yn over the scope [x, y1, ..., yn], n >= 2, through an
 * interim variable s: LessThanConstraint "LessThan" over (s, x) and an owned
 * EqualSumConstraint over [s, y1, ..., yn]. s is of x's type when every
 * summand is integral and that type holds every integer, so that the strict
 * bound steps by whole units; otherwise s is real, as a real sum must be.
 */
class GreaterThanSumConstraint : public Constraint {
public:
  /// Builds the interim variable and both members; x's type must be registered in the schema.
  GreaterThanSumConstraint(const LabelStr& name, const LabelStr& propagatorName,
                           const Id<ConstraintEngine>& constraintEngine,
                           const std::vector<Id<ConstrainedVariable> >& variables);
  /// Discards itself (and so its members) while it is whole.
  ~GreaterThanSumConstraint() override;

  /// Unlinks the constraint, then discards the interim variable and both members.
  void handleDiscard() override;
  /// Switches the members off with this constraint, so that an inactive composite constrains nothing.
  void handleDeactivate() override;
  /// Switches the members back on with this constraint.
  void handleActivate() override;
  /// Nothing: the members do the work.
  void handleExecute() override;
  /// True but for a reset or relaxation: a change gives this constraint no work of its own.
  bool canIgnore(const Id<ConstrainedVariable>& variable, int argIndex,
                 const DomainListener::ChangeType& changeType) override;

private:
  Variable<IntervalDomain> m_interimVariable;
  LessThanConstraint m_lessThanConstraint;
  Id<Constraint> m_eqSumConstraint;
};

/**
 * x >= y1 + ... + yn over the scope [x, y1, ..., yn], n >= 2, through an
 * interim real variable s: LessThanEqualConstraint "LessThanEqual" over
 * (s, x) and an owned EqualSumConstraint over [s, y1, ..., yn].
 */
class GreaterOrEqThanSumConstraint : public Constraint {
public:
  /// Builds the interim variable and both members.
  GreaterOrEqThanSumConstraint(const LabelStr& name, const LabelStr& propagatorName,
                               const Id<ConstraintEngine>& constraintEngine,
                               const std::vector<Id<ConstrainedVariable> >& variables);
  /// Discards itself (and so its members) while it is whole.
  ~GreaterOrEqThanSumConstraint() override;

  /// Unlinks the constraint, then discards the interim variable and both members.
  void handleDiscard() override;
  /// Switches the members off with this constraint, so that an inactive composite constrains nothing.
  void handleDeactivate() override;
  /// Switches the members back on with this constraint.
  void handleActivate() override;
  /// Nothing: the members do the work.
  void handleExecute() override;
  /// True but for a reset or relaxation: a change gives this constraint no work of its own.
  bool canIgnore(const Id<ConstrainedVariable>& variable, int argIndex,
                 const DomainListener::ChangeType& changeType) override;

private:
  Variable<IntervalDomain> m_interimVariable;
  LessThanEqualConstraint m_lessThanEqualConstraint;
  Id<Constraint> m_eqSumConstraint;
};

/**
 * b holds exactly when x = y1 + ... + yn, over the scope [b, x, y1, ..., yn],
 * n >= 2: an interim variable s typed as in GreaterThanSumConstraint,
 * CondAllSameConstraint "CondAllSame" over (b, x, s) and an owned
 * EqualSumConstraint over [s, y1, ..., yn].
 */
class CondEqualSumConstraint : public Constraint {
public:
  /// Checks the arity before reading b or x, then builds the interim variable and both members.
  CondEqualSumConstraint(const LabelStr& name, const LabelStr& propagatorName,
                         const Id<ConstraintEngine>& constraintEngine,
                         const std::vector<Id<ConstrainedVariable> >& variables);
  /// Discards itself (and so its members) while it is whole.
  ~CondEqualSumConstraint() override;

  /// Unlinks the constraint, then discards the interim variable and both members.
  void handleDiscard() override;
  /// Switches the members off with this constraint, so that an inactive composite constrains nothing.
  void handleDeactivate() override;
  /// Switches the members back on with this constraint.
  void handleActivate() override;
  /// Nothing: the members do the work.
  void handleExecute() override;
  /// True but for a reset or relaxation: a change gives this constraint no work of its own.
  bool canIgnore(const Id<ConstrainedVariable>& variable, int argIndex,
                 const DomainListener::ChangeType& changeType) override;

private:
  Variable<IntervalDomain> m_interimVariable;
  CondAllSameConstraint m_condAllSameConstraint;
  Id<Constraint> m_eqSumConstraint;
};

} // namespace KALDEN

#endif
