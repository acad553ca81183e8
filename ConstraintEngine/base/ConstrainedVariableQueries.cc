#define KALDEN_SOURCE "ConstraintEngine/base/ConstrainedVariable"

// What a variable answers about its values, its type, its violations and its engine.

#include "ConstraintEngine/base/ConstrainedVariable.hh"

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/DataType.hh"
#include "ConstraintEngine/component/ConstraintsBase.hh"
#include "Utils/base/Report.hh"

#include <list>

namespace KALDEN {

std::string ConstrainedVariable::toString(double value) const { return getDataType()->toString(value); }

double ConstrainedVariable::getViolation() const {
  double violation = 0.0;
  for (const ConstraintEntry& entry : m_constraints)
    violation += entry.first->getViolation();
  return violation;
}

std::string ConstrainedVariable::getViolationExpl() const {
  std::string explanation;
  for (const ConstraintEntry& entry : m_constraints)
    if (entry.first->getViolation() > 0.0)
      explanation += entry.first->getViolationExpl() + "\n";
  return explanation;
}

bool ConstrainedVariable::isEnumerated() const {
  KALDEN_AUDIT(isValid());
  return baseDomain().isEnumerated();
}

bool ConstrainedVariable::isInterval() const {
  KALDEN_AUDIT(isValid());
  return baseDomain().isInterval();
}

bool ConstrainedVariable::isNull() const {
  KALDEN_AUDIT(isValid());
  return lastDomain().isEmpty() && !isSpecified();
}

bool ConstrainedVariable::isSingleton() const {
  KALDEN_AUDIT(isValid());
  return isSpecified() || lastDomain().isSingleton();
}

PSVarValue ConstrainedVariable::getSingletonValue() const {
  KALDEN_AUDIT(isValid());
  KALDEN_CHECK_MSG(isSingleton(), toLongString());
  const double value = isSpecified() ? getSpecifiedValue() : lastDomain().getSingletonValue();
  return PSVarValue(value, getType());
}

PSVarType ConstrainedVariable::getType() const {
  const AbstractDomain& dom = baseDomain();
  if (dom.isString())
    return STRING;
  if (dom.isSymbolic()) {
    if (dom.isEmpty() || LabelStr::isString(dom.getLowerBound()))
      return STRING;
    return OBJECT;
  }
  if (dom.isBool())
    return BOOLEAN;
  if (dom.isNumeric())
    return dom.minDelta() < 1.0 ? DOUBLE : INTEGER;
  // The value text would ask for the type again: name the variable by its entity text.
  KALDEN_CHECK_TEXT_MSG(false, ALWAYS_FAIL_CONDITION,
                        "Failed to correctly determine the type of " << Entity::toString());
  return STRING;
}

PSList<PSVarValue> ConstrainedVariable::getValues() const {
  KALDEN_AUDIT(isValid());
  KALDEN_CHECK(!isSingleton() && isEnumerated());
  std::list<double> values;
  lastDomain().getValues(values);
  const PSVarType type = getType();
  PSList<PSVarValue> result;
  for (double value : values)
    result.push_back(PSVarValue(value, type));
  return result;
}

double ConstrainedVariable::getLowerBound() const {
  KALDEN_AUDIT(isValid());
  KALDEN_CHECK(isInterval());
  return lastDomain().getLowerBound();
}

double ConstrainedVariable::getUpperBound() const {
  KALDEN_AUDIT(isValid());
  KALDEN_CHECK(isInterval());
  return lastDomain().getUpperBound();
}

bool ConstrainedVariable::validate() const { return true; }

bool ConstrainedVariable::isClosed() const { return baseDomain().isClosed(); }

bool ConstrainedVariable::isSpecified() const {
  if (m_specifiedFlag)
    return true;
  // A real interval narrower than the tolerance holds more than one value: it specifies none.
  return ConstraintShape::isDecided(baseDomain());
}

double ConstrainedVariable::getSpecifiedValue() const {
  KALDEN_CHECK_MSG(isSpecified(), toString());
  if (m_specifiedFlag)
    return specifiedValueField();
  return baseDomain().getSingletonValue();
}

const Id<DataType>& ConstrainedVariable::getDataType() const { return baseDomain().getDataType(); }

// A discarded variable has left its engine, which may be gone: these ask the engine, so they refuse.

bool ConstrainedVariable::provenInconsistent() const {
  if (refusesDiscarded("ask the engine of"))
    return false;
  return m_constraintEngine->provenInconsistent();
}

bool ConstrainedVariable::constraintConsistent() const {
  if (refusesDiscarded("ask the engine of"))
    return false;
  return m_constraintEngine->constraintConsistent();
}

bool ConstrainedVariable::pending() const {
  if (refusesDiscarded("ask the engine of"))
    return false;
  return m_constraintEngine->pending();
}

void ConstrainedVariable::update() {
  if (refusesDiscarded("propagate through"))
    return;
  PSConstraintEngine* engine = m_constraintEngine;
  engine->propagate();
}

} // namespace KALDEN
