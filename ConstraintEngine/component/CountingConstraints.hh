#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_COUNTINGCONSTRAINTS_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_COUNTINGCONSTRAINTS_HH

#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/component/ConstraintsBase.hh"
#include "ConstraintEngine/component/ArithmeticConstraints.hh"
#include "ConstraintEngine/component/IntervalDomains.hh"
#include "ConstraintEngine/component/OrderingConstraints.hh"
#include "ConstraintEngine/component/Variable.hh"

#include <vector>

namespace KALDEN {

/**
 * count = the number of xi equal to 0, over the scope [count, x1 .. xN] of
 * numeric or boolean variables. Each execution counts the xi that may be 0
 * and those that are, forces or excludes the undecided zeros when the count
 * demands it, and narrows the count between the two.
 */
class CountZerosConstraint : public Constraint {
public:
  /// Checks that every domain, the count's included, is numeric or boolean.
  CountZerosConstraint(const LabelStr& name, const LabelStr& propagatorName,
                       const Id<ConstraintEngine>& constraintEngine,
                       const std::vector<Id<ConstrainedVariable> >& variables);
  /// Nothing of its own: the base unlinks and unregisters it.
  ~CountZerosConstraint() override;

  /// One counting pass: force zeros, exclude zeros, narrow the count.
  void handleExecute() override;
};

/**
 * count = the number of xi different from 0, over [count, x1 .. xN]: with
 * zeros counted by a CountZerosConstraint, zeros + count = other and other
 * kept within {N}.
 */
class CountNonZerosConstraint : public CompositeConstraint {
public:
  /// Builds the internal variables and the three members.
  CountNonZerosConstraint(const LabelStr& name, const LabelStr& propagatorName,
                          const Id<ConstraintEngine>& constraintEngine,
                          const std::vector<Id<ConstrainedVariable> >& variables);
  /// Discards itself (and so its members) while it is whole, then destroys the members held by value.
  ~CountNonZerosConstraint() override;

private:
  /// Its internal variables and sub-constraints.
  Members members() override;

  Variable<IntervalDomain> m_zerosVariable;
  Variable<IntervalDomain> m_otherVariable;
  Variable<IntervalDomain> m_supersetVariable;
  AddEqualConstraint m_addEqualConstraint;
  Id<Constraint> m_subsetOfConstraint;
  Id<Constraint> m_countZerosConstraint;
};

/**
 * At most `bound` of x1 .. xN differ from 0, over [bound, x1 .. xN]: an
 * internal count of the non-zero xi is kept at or below the bound.
 */
class CardinalityConstraint : public CompositeConstraint {
public:
  /// Builds the internal count and its two members.
  CardinalityConstraint(const LabelStr& name, const LabelStr& propagatorName,
                        const Id<ConstraintEngine>& constraintEngine,
                        const std::vector<Id<ConstrainedVariable> >& variables);
  /// Discards itself (and so its members) while it is whole, then destroys the members held by value.
  ~CardinalityConstraint() override;

private:
  /// Its internal variables and sub-constraints.
  Members members() override;

  Variable<IntervalIntDomain> m_interimVariable;
  LessThanEqualConstraint m_lessThanEqualConstraint;
  Id<Constraint> m_countNonZerosConstraint;
};

/**
 * At least one of x1 .. xN differs from 0: an internal count of the non-zero
 * xi is kept within [1, N].
 */
class OrConstraint : public CompositeConstraint {
public:
  /// Builds the internal count, its range and the two members.
  OrConstraint(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& constraintEngine,
               const std::vector<Id<ConstrainedVariable> >& variables);
  /// Discards itself (and so its members) while it is whole, then destroys the internal variables.
  ~OrConstraint() override;

private:
  /// Its internal variables and sub-constraints.
  Members members() override;

  Variable<IntervalIntDomain> m_nonZerosVariable;
  Variable<IntervalIntDomain> m_supersetVariable;
  Id<Constraint> m_subsetOfConstraint;
  Id<Constraint> m_countNonZerosConstraint;
};

} // namespace KALDEN

#endif
