#define KALDEN_SOURCE "ConstraintEngine/component/Constraints"

// The conditional all-same constraint.

#include "ConstraintEngine/component/AllSameConstraints.hh"

#include "ConstraintEngine/component/BoundsArithmetic.hh"
#include "ConstraintEngine/component/ConstraintsBase.hh"
#include "Utils/base/Report.hh"

#include <algorithm>
#include <cmath>
#include <memory>

namespace KALDEN {

CondAllSameConstraint::CondAllSameConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                             const Id<ConstraintEngine>& constraintEngine,
                                             const std::vector<Id<ConstrainedVariable> >& variables)
    : Constraint(name, propagatorName, constraintEngine, variables),
      ARG_COUNT(static_cast<unsigned int>(m_variables.size())) {
  ConstraintShape::checkConditionalScope(*this);
}

CondAllSameConstraint::~CondAllSameConstraint() {}

void CondAllSameConstraint::handleExecute() {
  AbstractDomain& boolDom = getCurrentDomain(m_variables[0]);
  KALDEN_CHECK(!boolDom.isOpen());
  if (!boolDom.isSingleton())
    decide(boolDom);
  if (!boolDom.isSingleton())
    return;
  if (boolDom.getSingletonValue() == 0.0)
    propagateFalse(boolDom);
  else
    propagateTrue();
}

void CondAllSameConstraint::decide(AbstractDomain& boolDom) {
  // True is proven only while every xi so far is a closed singleton equal to x1's value; closed
  // non-singletons are compared only with each other, through their running intersection.
  bool provablyTrue = true;
  std::unique_ptr<AbstractDomain> common;
  const AbstractDomain& first = getCurrentDomain(m_variables[1]);
  for (unsigned int i = 1; i < ARG_COUNT && !boolDom.isSingleton(); ++i) {
    AbstractDomain& dom = getCurrentDomain(m_variables[i]);
    if (dom.isOpen()) {
      provablyTrue = false;
    } else if (dom.isSingleton()) {
      if (provablyTrue && i > 1 && BoundsArithmetic::singletonsDiffer(first, dom)) {
        provablyTrue = false;
        boolDom.remove(1.0);
      } else if (provablyTrue && i > 1 && !BoundsArithmetic::singletonsEqual(first, dom)) {
        provablyTrue = false;
      }
    } else {
      provablyTrue = false;
      if (!common)
        common.reset(dom.copy());
      else if (common->intersect(dom) && common->isEmpty())
        boolDom.remove(1.0);
    }
  }
  if (provablyTrue && !boolDom.isSingleton())
    boolDom.remove(0.0);
}

void CondAllSameConstraint::propagateFalse(AbstractDomain& boolDom) {
  // k: the first x that is open or fixed (or the last x); its fixed value w is the candidate
  // common value.
  unsigned int k = 1;
  while (k < ARG_COUNT - 1 && getCurrentDomain(m_variables[k]).isClosed() &&
         !getCurrentDomain(m_variables[k]).isSingleton())
    ++k;
  const AbstractDomain& fixed = getCurrentDomain(m_variables[k]);
  if (fixed.isOpen() || !fixed.isSingleton())
    return;
  const double w = fixed.getSingletonValue();

  unsigned int candidate = 0; // the one x not fixed to w that may still take it; 0 for none
  for (unsigned int j = 1; j < ARG_COUNT; ++j) {
    if (j == k)
      continue;
    const AbstractDomain& dom = getCurrentDomain(m_variables[j]);
    if (dom.isOpen())
      return;
    if (dom.isSingleton()) {
      if (!BoundsArithmetic::singletonsEqual(fixed, dom))
        return; // b false may hold
      continue;
    }
    if (!dom.isMember(w) || candidate != 0)
      return;
    candidate = j;
  }
  if (candidate == 0) {
    boolDom.remove(0.0); // all equal although b is false: b empties
    return;
  }
  // A real interval narrower than the tolerance holds values beside w, which the candidate may equal.
  if (!ConstraintShape::isDecided(fixed))
    return;
  // Only an enumeration, a boolean or an integer interval with w at an end can drop w.
  AbstractDomain& dom = getCurrentDomain(m_variables[candidate]);
  if (dom.isEnumerated() || dom.isBool() ||
      (dom.minDelta() == 1.0 && (fixed.isMember(dom.getLowerBound()) || fixed.isMember(dom.getUpperBound()))))
    dom.remove(w);
}

void CondAllSameConstraint::propagateTrue() {
  bool allOpen = true;
  for (unsigned int i = 1; i < ARG_COUNT && allOpen; ++i)
    allOpen = getCurrentDomain(m_variables[i]).isOpen();
  if (allOpen)
    return;
  AbstractDomain& first = getCurrentDomain(m_variables[1]);
  bool changed = true;
  while (changed) {
    changed = false;
    for (unsigned int j = 2; j < ARG_COUNT; ++j) {
      AbstractDomain& dom = getCurrentDomain(m_variables[j]);
      if (ConstraintShape::intervalMeetsOpen(first, dom))
        continue; // the pair waits for the closing
      if (first.equate(dom))
        changed = true;
      // Either side may be the one emptied: that is the inconsistency, and a domain must not be
      // equated once empty.
      if (first.isEmpty() || dom.isEmpty())
        return;
    }
  }
}

} // namespace KALDEN
