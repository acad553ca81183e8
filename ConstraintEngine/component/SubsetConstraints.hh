#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_SUBSETCONSTRAINTS_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_SUBSETCONSTRAINTS_HH

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/Constraint.hh"

#include <vector>

namespace KALDEN {

/**
 * The first variable's domain stays within the second's. Only the first
 * is narrowed, so a narrowing of the first never schedules it; any other
 * change does. It waits while the second is open.
 */
class SubsetOfConstraint : public Constraint {
public:
  /// Over [subset, superset], whose types must be comparable.
  SubsetOfConstraint(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& constraintEngine,
                     const std::vector<Id<ConstrainedVariable> >& variables);
  /// Unregisters through the base destructor.
  ~SubsetOfConstraint() override;

  /// Intersects the first domain with the second.
  void handleExecute() override;
  /// Whether a change may be ignored: a narrowing of the first variable.
  bool canIgnore(const Id<ConstrainedVariable>& variable, int argIndex,
                 const DomainListener::ChangeType& changeType) override;

private:
  AbstractDomain& m_currentDomain;
  AbstractDomain& m_superSetDomain;
};

/**
 * Holds the first variable's domain to the lock domain of the second: cut
 * down to it when it contains it, emptied otherwise. The second is never
 * changed, and must be closed when the constraint is made.
 */
class LockConstraint : public Constraint {
public:
  /// Over [locked, lock]; refused when the lock domain is open.
  LockConstraint(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& constraintEngine,
                 const std::vector<Id<ConstrainedVariable> >& variables);
  /// Unregisters through the base destructor.
  ~LockConstraint() override;

  /// Narrows the current domain to the lock domain, or empties it when it does not contain the lock domain.
  void handleExecute() override;

private:
  AbstractDomain& m_currentDomain;
  AbstractDomain& m_lockDomain;
};

/**
 * Over [a, b, c, d]: when every value b can take lies in c, a is kept
 * within d. Only a is narrowed, and only once the premise holds; an open
 * a, b or d implies nothing yet.
 */
class MemberImplyConstraint : public Constraint {
public:
  /// Checks that there are four variables, a comparable with b and c with d.
  MemberImplyConstraint(const LabelStr& name, const LabelStr& propagatorName,
                        const Id<ConstraintEngine>& constraintEngine,
                        const std::vector<Id<ConstrainedVariable> >& variables);
  /// Unregisters through the base destructor.
  ~MemberImplyConstraint() override;

  /// Intersects a with d when b lies within c; fails on an empty domain.
  void handleExecute() override;

  /// The scope size, which must be 4.
  const unsigned int ARG_COUNT;
};

} // namespace KALDEN

#endif
