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
  // Notices a propagator's turn holds (a listener may create constraints) stay held. Every
  // notice the creation causes waits, executions of a delegate's run included, so no listener
  // acts while it is under way: all it holds is its own.
  const std::size_t heldBefore = m_heldNotices.size();
  const int firstKey = Entity::nextKey();
  ++m_holdingNotices;
  try {
    constraint = factory->createConstraint(getId(), scope);
  } catch (...) {
    // Refused: it never stood, so nobody hears of it (nor of its members).
    --m_holdingNotices;
    m_heldNotices.resize(heldBefore);
    m_unheardAdded.erase(m_unheardAdded.lower_bound(firstKey), m_unheardAdded.end());
    throw;
  }
  --m_holdingNotices;
  if (!isHoldingNotices())
    releaseHeldNotices();
  if (shouldAutoPropagate())
    propagate();
  return constraint;
}

void ConstraintEngine::releaseHeldNotices() {
  // Each once, in order; a listener told may cause more, told at once or held anew.
  std::vector<std::function<void()> > held;
  held.swap(m_heldNotices);
  for (const std::function<void()>& notice : held)
    notice();
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
