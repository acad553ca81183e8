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

// Adds a scope position to the candidates, kept ascending and without repeats.
void addCandidate(std::vector<unsigned int>& candidates, unsigned int i) {
  if (candidates.empty() || candidates.back() != i)
    candidates.push_back(i);
}

// The bounds the extreme can take (`innerBound`: the inner bound's extreme over the xi,
// `outerBound`: the outer bound's), and the positions of the xi that may still attain it.
void boundExtreme(const Extreme& e, const std::vector<Id<ConstrainedVariable> >& scope, const AbstractDomain& extreme,
                  double& innerBound, double& outerBound, std::vector<unsigned int>& candidates) {
  const AbstractDomain& first = Constraint::getCurrentDomain(scope[1]);
  innerBound = e.inner(first);
  outerBound = e.outer(first);
  candidates.assign(1, 1);
  for (unsigned int i = 2; i < scope.size(); ++i) {
    const AbstractDomain& dom = Constraint::getCurrentDomain(scope[i]);
    if (e.beyond(innerBound, e.outer(dom))) {
      // Wholly inside another x: it can be the extreme only where that one is not.
      if (e.beyond(e.outer(dom), e.outer(extreme)))
        addCandidate(candidates, i);
    } else if (e.beyond(e.inner(dom), outerBound)) {
      // Wholly beyond every earlier x: none of those can be the extreme.
      innerBound = e.inner(dom);
      outerBound = e.outer(dom);
      candidates.assign(1, i);
    } else {
      if (e.beyond(e.inner(dom), innerBound)) {
        innerBound = e.inner(dom);
        addCandidate(candidates, i);
      }
      if (e.beyond(e.outer(dom), outerBound)) {
        outerBound = e.outer(dom);
        addCandidate(candidates, i);
      } else if (!e.beyond(e.inner(extreme), e.outer(dom))) {
        addCandidate(candidates, i);
      }
    }
  }
}

// Whether a domain of the scope may still gain values: its bounds are not final, so nothing is
// narrowed until it is closed (closing it runs the constraint again).
bool anyOpen(const std::vector<Id<ConstrainedVariable> >& scope) {
  for (const Id<ConstrainedVariable>& var : scope)
    if (Constraint::getCurrentDomain(var).isOpen())
      return true;
  return false;
}

void narrowExtreme(const Extreme& e, const std::vector<Id<ConstrainedVariable> >& scope) {
  if (anyOpen(scope))
    return;
  AbstractDomain& extreme = Constraint::getCurrentDomain(scope[0]);
  double innerBound, outerBound;
  std::vector<unsigned int> candidates;
  boundExtreme(e, scope, extreme, innerBound, outerBound, candidates);
  if (e.narrowEmpties(extreme, innerBound, outerBound))
    return;
  const double cap = e.outer(extreme);
  if (candidates.size() == 1) {
    const unsigned int i = candidates.front();
    KALDEN_CHECK(i > 0);
    e.narrowEmpties(Constraint::getCurrentDomain(scope[i]), e.inner(extreme), cap);
    return;
  }
  for (unsigned int i : candidates) {
    KALDEN_CHECK(i > 0);
    AbstractDomain& dom = Constraint::getCurrentDomain(scope[i]);
    if (e.beyond(cap, e.outer(dom)))
      continue; // keeps within the cap already
    if (e.narrowEmpties(dom, e.inner(dom), cap))
      return;
  }
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
