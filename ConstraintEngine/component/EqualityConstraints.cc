#define KALDEN_SOURCE "ConstraintEngine/component/Constraints"

// Equality of any number of variables, and inequality of two.

#include "ConstraintEngine/component/EqualityConstraints.hh"

#include "ConstraintEngine/component/BoundsArithmetic.hh"
#include "ConstraintEngine/component/ConstraintsBase.hh"
#include "Utils/base/Report.hh"

#include <cmath>
#include <list>

namespace KALDEN {

// EqualConstraint

EqualConstraint::EqualConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                 const Id<ConstraintEngine>& constraintEngine,
                                 const std::vector<Id<ConstrainedVariable> >& variables)
    : Constraint(name, propagatorName, constraintEngine, comparableScope(variables)),
      m_argCount(static_cast<unsigned int>(m_variables.size())) {}

const std::vector<Id<ConstrainedVariable> >&
EqualConstraint::comparableScope(const std::vector<Id<ConstrainedVariable> >& variables) {
  // Judged before the base links the scope, since the equality propagator joins classes as it
  // hears a link: every run equates each variable with the next. A handle to nothing is left for
  // the base to refuse.
  for (const Id<ConstrainedVariable>& var : variables)
    if (!var.isValid() || var->isDiscarded())
      return variables;
  for (std::size_t i = 1; i < variables.size(); ++i)
    ConstraintShape::checkSafeComparison(Constraint::getCurrentDomain(variables[i - 1]),
                                         Constraint::getCurrentDomain(variables[i]));
  return variables;
}

EqualConstraint::~EqualConstraint() = default;

AbstractDomain& EqualConstraint::getCurrentDomain(const Id<ConstrainedVariable>& var) {
  return Constraint::getCurrentDomain(var);
}

void EqualConstraint::handleExecute() {
  KALDEN_CHECK(isActive());

  // Forward: each pair passes its narrowing on towards the end of the scope.
  bool changed = false;
  for (unsigned int i = 1; i < m_argCount; ++i) {
    bool isEmpty = false;
    if (equate(m_variables[i - 1], m_variables[i], isEmpty))
      changed = true;
    if (isEmpty)
      return;
  }
  if (!changed || m_argCount <= 2)
    return;

  // Backward: carry the last pair's domain back to the front. The pair (n-1, n-2) was equated last.
  for (unsigned int i = m_argCount - 2; i >= 1; --i) {
    bool isEmpty = false;
    equate(m_variables[i], m_variables[i - 1], isEmpty);
    if (isEmpty)
      return;
  }
}

bool EqualConstraint::isIdempotent() const {
  if (m_argCount != 2)
    return false;
  const AbstractDomain& a = m_variables[0]->lastDomain();
  const AbstractDomain& b = m_variables[1]->lastDomain();
  return a.isEnumerated() == b.isEnumerated() && a.minDelta() == b.minDelta();
}

bool EqualConstraint::equate(const Id<ConstrainedVariable>& a, const Id<ConstrainedVariable>& b, bool& isEmpty) {
  KALDEN_CHECK_MSG(isEmpty == false, "Should be initially false.");
  AbstractDomain& d1 = getCurrentDomain(a);
  AbstractDomain& d2 = getCurrentDomain(b);

  if ((d1.isClosed() && d2.isClosed()) || (d1.isEnumerated() && d2.isEnumerated())) {
    KALDEN_TRACE("EqualConstraint:equate", "before equate " << a->toString() << " --- " << b->toString());
    const bool changed = d1.equate(d2);
    if (changed && (d1.isEmpty() || d2.isEmpty())) {
      KALDEN_TRACE("EqualConstraint:equate", "emptied variable " << a->toString() << " --- " << b->toString());
      isEmpty = true;
    }
    return changed;
  }

  // An interval is not equated with an open enumeration, which may still gain any value: the
  // pair waits until the enumeration is closed (closing it runs the constraint again).
  if (d1.isInterval() || d2.isInterval())
    return false;
  // Neither an interval nor both closed: equate value by value.
  bool changed = removeUnsupported(d1, d2, b->baseDomain(), isEmpty);
  if (!isEmpty && removeUnsupported(d2, d1, a->baseDomain(), isEmpty))
    changed = true;
  return changed;
}

bool EqualConstraint::removeUnsupported(AbstractDomain& from, const AbstractDomain& other,
                                        const AbstractDomain& otherBase, bool& isEmpty) {
  std::list<double> values;
  from.getValues(values);
  bool changed = false;
  for (double value : values) {
    if (isEmpty)
      break;
    if (!other.isMember(value) && (otherBase.isMember(value) || other.isClosed())) {
      from.remove(value);
      changed = true;
      isEmpty = from.isEmpty();
    }
  }
  return changed;
}

// NotEqualConstraint

NotEqualConstraint::NotEqualConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                       const Id<ConstraintEngine>& constraintEngine,
                                       const std::vector<Id<ConstrainedVariable> >& variables)
    : Constraint(name, propagatorName, constraintEngine, variables) {
  ConstraintShape::checkArity(*this, ARG_COUNT, "variables.size() == (unsigned int) ARG_COUNT");
  ConstraintShape::checkComparableWithMessage(getCurrentDomain(m_variables[0]), getCurrentDomain(m_variables[1]),
                                              "AbstractDomain::canBeCompared(domx, domy)");
}

NotEqualConstraint::~NotEqualConstraint() = default;

void NotEqualConstraint::handleExecute() {
  AbstractDomain& domx = getCurrentDomain(m_variables[0]);
  AbstractDomain& domy = getCurrentDomain(m_variables[1]);
  if (!ConstraintShape::checkNonEmpty(domx, domy, "!domx.isEmpty() && !domy.isEmpty()"))
    return;
  // An open domain may still gain or lose members: neither side is final until both are closed
  // (closing one runs the constraint again).
  if (domx.isOpen() || domy.isOpen())
    return;
  if (!checkAndRemove(domx, domy))
    checkAndRemove(domy, domx);
}

bool NotEqualConstraint::checkAndRemove(const AbstractDomain& domx, AbstractDomain& domy) {
  // An open domain may still gain any value: it decides nothing, however few it holds.
  if (domx.isOpen() || !domx.isSingleton())
    return false;
  if (!ConstraintShape::isDecided(domx))
    return removeNearBothEnds(domx, domy);
  return removeValue(domx.getSingletonValue(), domy);
}

bool NotEqualConstraint::removeNearBothEnds(const AbstractDomain& narrow, AbstractDomain& domy) {
  // Its bounds may lie reversed by less than the tolerance.
  const double lb = BoundsArithmetic::spanLow(narrow), ub = BoundsArithmetic::spanHigh(narrow);
  // Only a value within the tolerance of both ends equals every value the narrow interval holds.
  auto nearBoth = [&narrow, lb, ub](double v) { return narrow.compareEqual(v, lb) && narrow.compareEqual(v, ub); };
  if (domy.isEnumerated()) {
    // Members lie at least the tolerance apart, so removing one by its own value removes just it.
    std::list<double> values;
    domy.getValues(values);
    bool removed = false;
    for (double v : values)
      if (nearBoth(v)) {
        domy.remove(v);
        removed = true;
      }
    return removed;
  }
  if (BoundsArithmetic::isIntegerInterval(domy)) {
    const double integer = std::round(lb);
    return nearBoth(integer) && removeValue(integer, domy);
  }
  const bool lowGoes = nearBoth(domy.getLowerBound()), highGoes = nearBoth(domy.getUpperBound());
  if (!lowGoes && !highGoes)
    return false;
  if (lowGoes && highGoes) {
    domy.empty();
    return true;
  }
  // The end steps the tolerance past the narrow interval's end nearer to it, however little it
  // moves: what lies closer equals every value the narrow interval holds.
  domy.remove(lowGoes ? lb : ub);
  return true;
}

bool NotEqualConstraint::removeValue(double value, AbstractDomain& domy) {
  if (!domy.isMember(value))
    return false;
  // An integer interval holds a real a hair beside an integer as that integer: its ends are
  // judged against the integer, by the integer's step.
  if (BoundsArithmetic::isIntegerInterval(domy))
    value = std::round(value);
  if (domy.isEnumerated()) {
    domy.remove(value);
    return true;
  }
  // A real interval narrower than the tolerance empties only when the value equals both its ends.
  if (domy.isSingleton() && domy.compareEqual(value, domy.getLowerBound()) &&
      domy.compareEqual(value, domy.getUpperBound())) {
    domy.empty();
    return true;
  }
  if (domy.isBool()) {
    // A member of a boolean lies within the tolerance of 0 or of 1.
    domy.set(value < 0.5 ? 1.0 : 0.0);
    return true;
  }
  // An interval loses the value only at an end, where its removal steps the end the tolerance past
  // the value, however little the end moves. Whether the value sits at an end, and how far the end
  // moves, is judged by the interval's own tolerance: a coarser step (an integer's, say) would cut off
  // real values that differ from the one excluded.
  if (!domy.compareEqual(value, domy.getLowerBound()) && !domy.compareEqual(value, domy.getUpperBound()))
    return false;
  domy.remove(value);
  return true;
}

bool NotEqualConstraint::canIgnore(const Id<ConstrainedVariable>& variable, int argIndex,
                                   const DomainListener::ChangeType& changeType) {
  if (changeType == DomainListener::RESET || changeType == DomainListener::RELAXED ||
      changeType == DomainListener::CLOSED)
    return false;
  // Only a decided variable, an integer interval about to be decided at an end, or an interval
  // whose end may have moved onto the other variable's decided value gives work.
  const AbstractDomain& domain = variable->lastDomain();
  if (domain.isSingleton())
    return false;
  if (domain.isInterval() && domain.isFinite() && domain.getSize() <= 2)
    return false;
  if (domain.isInterval() && m_variables[argIndex == 0 ? 1 : 0]->lastDomain().isSingleton())
    return false;
  return true;
}

} // namespace KALDEN
