#define KALDEN_SOURCE "ConstraintEngine/component/Constraints"

// The maximum and the minimum of a list of variables.

#include "ConstraintEngine/component/ExtremumConstraints.hh"

#include "ConstraintEngine/component/BoundsArithmetic.hh"
#include "ConstraintEngine/component/ConstraintsBase.hh"
#include "Utils/base/Report.hh"

#include <vector>

namespace KALDEN {

namespace {

/**
 * One rule serves both constraints, told from the side of the extreme: the
 * outer bound is the one the extreme pushes (the upper bound of a maximum),
 * the inner bound the other, and `beyond` orders values towards the outside.
 */
struct Extreme {
  bool maximum;

  double outer(const AbstractDomain& dom) const { return maximum ? dom.getUpperBound() : dom.getLowerBound(); }
  double inner(const AbstractDomain& dom) const { return maximum ? dom.getLowerBound() : dom.getUpperBound(); }
  bool beyond(double a, double b) const { return maximum ? a > b : a < b; }
  // As beyond(), by the tolerance: a of domA lies outward of b of domB by at least it.
  bool beyondApart(const AbstractDomain& domA, double a, const AbstractDomain& domB, double b) const {
    return maximum ? BoundsArithmetic::lessThan(domB, b, domA, a) : BoundsArithmetic::lessThan(domA, a, domB, b);
  }
  // Narrows dom to the values between an inner and an outer bound; true when that emptied it.
  bool narrowEmpties(AbstractDomain& dom, double innerBound, double outerBound) const {
    return maximum ? BoundsArithmetic::narrowEmpties(dom, innerBound, outerBound)
                   : BoundsArithmetic::narrowEmpties(dom, outerBound, innerBound);
  }
};

void checkShape(const Constraint& constraint) {
  const std::vector<Id<ConstrainedVariable> >& scope = constraint.getScope();
  ConstraintShape::checkMinArity(constraint, 2, "m_variables.size() > 1");
  for (const Id<ConstrainedVariable>& var : scope)
    KALDEN_CHECK_TEXT(Constraint::getCurrentDomain(var).isNumeric(), "getCurrentDomain(m_variables[i]).isNumeric()");
}

// The bounds the extreme can take: between the xi's most outward inner bound and their most
// outward outer bound.
void boundExtreme(const Extreme& e, const std::vector<Id<ConstrainedVariable> >& scope, double& innerBound,
                  double& outerBound) {
  const AbstractDomain& first = Constraint::getCurrentDomain(scope[1]);
  innerBound = e.inner(first);
  outerBound = e.outer(first);
  for (unsigned int i = 2; i < scope.size(); ++i) {
    const AbstractDomain& dom = Constraint::getCurrentDomain(scope[i]);
    if (e.beyond(e.inner(dom), innerBound))
      innerBound = e.inner(dom);
    if (e.beyond(e.outer(dom), outerBound))
      outerBound = e.outer(dom);
  }
}

// Each step reads the domains as the steps before it left them, so the candidates are judged
// against the extreme as narrowed: a rule that stays monotone, whatever the order of events.
void narrowExtreme(const Extreme& e, const std::vector<Id<ConstrainedVariable> >& scope) {
  if (ConstraintShape::anyOpen(scope))
    return;
  AbstractDomain& extreme = Constraint::getCurrentDomain(scope[0]);
  double innerBound, outerBound;
  boundExtreme(e, scope, innerBound, outerBound);
  if (e.narrowEmpties(extreme, innerBound, outerBound))
    return;
  // No xi lies beyond the extreme; the xi that can still reach its inner bound, within the
  // tolerance, are the candidates, and a sole candidate must reach it.
  const double cap = e.outer(extreme);
  const double least = e.inner(extreme);
  unsigned int candidate = 0, candidates = 0;
  for (unsigned int i = 1; i < scope.size(); ++i) {
    AbstractDomain& dom = Constraint::getCurrentDomain(scope[i]);
    if (e.beyond(e.outer(dom), cap) && e.narrowEmpties(dom, e.inner(dom), cap))
      return;
    if (!e.beyondApart(extreme, least, dom, e.outer(dom))) {
      candidate = i;
      ++candidates;
    }
  }
  if (candidates == 1)
    e.narrowEmpties(Constraint::getCurrentDomain(scope[candidate]), least, cap);
}

} // namespace

// ---------------------------------------------------------------- EqualMaximumConstraint

EqualMaximumConstraint::EqualMaximumConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                               const Id<ConstraintEngine>& constraintEngine,
                                               const std::vector<Id<ConstrainedVariable> >& variables)
    : Constraint(name, propagatorName, constraintEngine, variables) {
  checkShape(*this);
}

EqualMaximumConstraint::~EqualMaximumConstraint() {}

void EqualMaximumConstraint::handleExecute() { narrowExtreme(Extreme{true}, m_variables); }

// ---------------------------------------------------------------- EqualMinimumConstraint

EqualMinimumConstraint::EqualMinimumConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                               const Id<ConstraintEngine>& constraintEngine,
                                               const std::vector<Id<ConstrainedVariable> >& variables)
    : Constraint(name, propagatorName, constraintEngine, variables) {
  checkShape(*this);
}

EqualMinimumConstraint::~EqualMinimumConstraint() {}

void EqualMinimumConstraint::handleExecute() { narrowExtreme(Extreme{false}, m_variables); }

} // namespace KALDEN
