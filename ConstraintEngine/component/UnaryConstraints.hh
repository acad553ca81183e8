#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_UNARYCONSTRAINTS_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_UNARYCONSTRAINTS_HH

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/Constraint.hh"

#include <vector>

namespace KALDEN {

/**
 * Restricts one variable to a source domain: each execution intersects the
 * variable's current domain with the constraint's own copy of the source.
 * Built by name it starts without a source and takes one, once, from another
 * unary constraint through setSource(); built from a domain it has its
 * source at once. Only a reset or relaxation of the variable schedules it
 * again: every other change can only narrow within the source. An interval
 * under an enumerated source is the exception: its ends are kept on members
 * of the source, and a bound moved by another constraint may land between
 * two of them, so every change schedules it.
 */
class UnaryConstraint : public Constraint {
public:
  /// The by-name form, over one variable and without a source.
  UnaryConstraint(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& constraintEngine,
                  const std::vector<Id<ConstrainedVariable> >& variables);
  /// The direct form: named "UNARY" on propagator "Default" of var's engine, with a copy of dom as
  /// source; refused unless dom compares with var's domain.
  UnaryConstraint(const AbstractDomain& dom, const Id<ConstrainedVariable>& var);
  /// Frees the source through the discard, unless a discard did already.
  ~UnaryConstraint() override;

  /// Intersects the variable's current domain with the source; fails when no source is set.
  void handleExecute() override;
  /// Whether a change may be ignored: all but RESET and RELAXED, none for an interval under an enumerated source.
  bool canIgnore(const Id<ConstrainedVariable>& variable, int argIndex,
                 const DomainListener::ChangeType& changeType) override;
  /// Copies the source of another unary constraint that has one, comparable with the variable; refused
  /// when this one has a source already.
  void setSource(const Id<Constraint>& sourceConstraint) override;
  /// Never while it has no source; else as every constraint.
  bool testIsRedundant(const Id<ConstrainedVariable>& variable) const override;
  /// Unlinks the constraint, then frees the source.
  void handleDiscard() override;

private:
  // Whether the variable is an interval and the source a closed enumeration: an interval keeps
  // only an enumeration's bounds when intersected, which may lie around no member at all.
  bool narrowsToMembers() const { return m_x != nullptr && m_x->isEnumerated() && m_x->isClosed() && m_y.isInterval(); }
  // Moves the interval's ends onto the source's least and greatest members within it.
  void narrowToMembers();
  // Whether the variable is a real interval and the source an integer one: the variable may take
  // only integers, which no bound of the source's keeps it to.
  bool narrowsToIntegers() const;
  // Whether the variable is an enumeration under an interval source: while it is open it takes
  // none of the interval's values and waits, so every change of it (closing it, specifying it)
  // is heard.
  bool waitsForClosing() const { return m_x != nullptr && m_x->isInterval() && m_y.isEnumerated(); }

  AbstractDomain* m_x; // owned copy of the source, null while none is set
  AbstractDomain& m_y;
};

} // namespace KALDEN

#endif
