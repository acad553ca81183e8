#define KALDEN_SOURCE "ConstraintEngine/base/ConstraintEngine"

// Creation of values, variables and constraints by the names the schema registered, and deletion of constraints.

#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
#include "ConstraintEngine/base/ConstraintType.hh"
#include "ConstraintEngine/base/DataType.hh"
#include "Utils/base/Report.hh"

#include <cstddef>
#include <functional>
#include <vector>

namespace KALDEN {

namespace {

// The data type registered under the name; an unknown name fails in the schema's lookup.
Id<DataType> lookUpDataType(const Id<CESchema>& schema, const char* typeName) {
  const Id<DataType> dt = schema->getDataType(typeName);
  KALDEN_CHECK_MSG(dt.isValid(), "no DataType found for type '" << LabelStr(typeName).toString() << "'");
  return dt;
}

} // namespace

double ConstraintEngine::createValue(const char* typeName, const std::string& text) {
  const Id<DataType> dt = lookUpDataType(getCESchema(), typeName);
  return dt->createValue(text);
}

Id<ConstrainedVariable> ConstraintEngine::createVariable(const char* typeName, const AbstractDomain& baseDomain,
                                                         bool internal, bool canBeSpecified, const char* name,
                                                         const Id<Entity>& parent, int index) {
  const Id<DataType> dt = lookUpDataType(getCESchema(), typeName);
  const Id<ConstrainedVariable> variable =
      dt->createVariable(getId(), baseDomain, internal, canBeSpecified, name, parent, index);
  KALDEN_CHECK(variable.isValid());
  return variable;
}

Id<ConstrainedVariable> ConstraintEngine::createVariable(const char* typeName, bool internal, bool canBeSpecified,
                                                         const char* name, const Id<Entity>& parent, int index) {
  const Id<DataType> dt = lookUpDataType(getCESchema(), typeName);
  return createVariable(typeName, dt->baseDomain(), internal, canBeSpecified, name, parent, index);
}

Id<Constraint> ConstraintEngine::createConstraint(const LabelStr& name,
                                                  const std::vector<Id<ConstrainedVariable> >& scope) {
  const Id<ConstraintType> factory = getCESchema()->getConstraintType(name);
  KALDEN_CHECK(factory.isValid());
  Id<Constraint> constraint;
  // Notices a propagator's turn holds (a listener may create constraints) stay held.
  const std::size_t heldBefore = m_heldNotices.size();
  ++m_holdingNotices;
  try {
    constraint = factory->createConstraint(getId(), scope);
  } catch (...) {
    // Refused: it never stood, so nobody hears of it (nor of its members).
    --m_holdingNotices;
    m_heldNotices.resize(heldBefore);
    throw;
  }
  --m_holdingNotices;
  if (!isHoldingNotices())
    releaseHeldNotices();
  if (shouldAutoPropagate())
    propagateOrTakeBack(constraint);
  return constraint;
}

void ConstraintEngine::propagateOrTakeBack(const Id<Constraint>& constraint) {
  try {
    propagate();
  } catch (...) {
    // The caller is told the creation failed: the constraint goes with it, relaxing what it
    // narrowed, unless a listener deleted it already.
    if (constraint.isValid())
      delete static_cast<Constraint*>(constraint);
    throw;
  }
}

void ConstraintEngine::releaseHeldNotices() {
  std::vector<std::function<void(ConstraintEngineListener&)> > held;
  held.swap(m_heldNotices);
  for (const std::function<void(ConstraintEngineListener&)>& notice : held)
    tellListeners(notice);
}

void ConstraintEngine::deleteConstraint(const Id<Constraint>& c) {
  // Both before anything goes: a constraint cannot leave during propagation, and a
  // refused deletion must leave it in place.
  KALDEN_CHECK(c.isValid());
  KALDEN_CHECK(!m_propInProgress);
  // `c` may be the constraint's own handle, which goes with it.
  Constraint* constraint = c;
  delete constraint;
  if (shouldAutoPropagate())
    propagate();
}

} // namespace KALDEN
