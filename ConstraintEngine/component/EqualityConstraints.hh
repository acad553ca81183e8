#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_EQUALITYCONSTRAINTS_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_EQUALITYCONSTRAINTS_HH

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/Constraint.hh"

#include <vector>

namespace KALDEN {

/**
 * Every variable of the scope, of any length, equals every other. An
 * execution equates neighbouring pairs from the front to the end of the
 * scope, then, if anything changed, back to the front; it stops at the first
 * emptied domain.
 */
class EqualConstraint : public Constraint {
public:
  /// Over a scope of any length; makes no check of its own.
  EqualConstraint(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& constraintEngine,
                  const std::vector<Id<ConstrainedVariable> >& variables);
  /// Unregisters through the base destructor.
  ~EqualConstraint() override;

  /// The forward pass, then the backward pass when the forward one changed something.
  void handleExecute() override;
  /// True over two domains that one equate makes equal: both intervals or both enumerations, of one tolerance.
  bool isIdempotent() const override;
  /// Makes the current domains of a and b equal; true when either changed. Sets isEmpty (passed in false)
  /// when a domain emptied.
  bool equate(const Id<ConstrainedVariable>& a, const Id<ConstrainedVariable>& b, bool& isEmpty);

  /// A variable's current domain as the equality constraint reaches it (also used by the equality propagator).
  static AbstractDomain& getCurrentDomain(const Id<ConstrainedVariable>& var);

private:
  // The scope, once every two neighbours in it are found comparable.
  static const std::vector<Id<ConstrainedVariable> >&
  comparableScope(const std::vector<Id<ConstrainedVariable> >& variables);
  // Removes from `from` each value `other` does not hold, unless `other` is open and its
  // variable's base domain does not exclude the value either. Stops at an emptying.
  static bool removeUnsupported(AbstractDomain& from, const AbstractDomain& other, const AbstractDomain& otherBase,
                                bool& isEmpty);

  unsigned int m_argCount;
};

/**
 * x != y over two variables. It acts once one side is a single value: that
 * value leaves the other side where the other domain allows it (any member of
 * an enumeration, an interval's end, either value of a boolean).
 */
class NotEqualConstraint : public Constraint {
public:
  /// The required scope size.
  static constexpr unsigned int ARG_COUNT = 2;

  /// Over [x, y].
  NotEqualConstraint(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& constraintEngine,
                     const std::vector<Id<ConstrainedVariable> >& variables);
  /// Unregisters through the base destructor.
  ~NotEqualConstraint() override;

  /// Removes x's value from y when x is decided, else y's value from x when y is; waits while either is open.
  void handleExecute() override;
  /// Whether a change may be ignored: one that leaves the variable with too many values to matter
  /// (a closing never is: it ends the wait).
  bool canIgnore(const Id<ConstrainedVariable>& variable, int argIndex,
                 const DomainListener::ChangeType& changeType) override;
  /// Removes domx's single value from domy where domy's kind allows (a closed domx only, and of a real
  /// interval narrower than the tolerance only what equals both its ends); true when it acted on domy.
  static bool checkAndRemove(const AbstractDomain& domx, AbstractDomain& domy);

private:
  // Removes a decided value from domy where domy's kind allows; true when it acted on domy.
  static bool removeValue(double value, AbstractDomain& domy);
  // Removes from domy what lies within the tolerance of both ends of a real interval narrower
  // than the tolerance, which holds more than one value; true when it acted on domy.
  static bool removeNearBothEnds(const AbstractDomain& narrow, AbstractDomain& domy);
};

} // namespace KALDEN

#endif
