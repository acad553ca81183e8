#define KALDEN_SOURCE "ConstraintEngine/base/DataType"

// Creating variables of a data type; kept apart because it needs the variables.

#include "ConstraintEngine/base/DataType.hh"

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "Utils/base/Report.hh"

namespace KALDEN {

Id<ConstrainedVariable> DataType::createVariable(const Id<ConstraintEngine>& engine,
                                                 const AbstractDomain& baseDomain, bool internal,
                                                 bool canBeSpecified, const char* name,
                                                 const Id<Entity>& parent, int index) const {
  // Through baseDomain(), which checks that this type has a base domain to compare with.
  KALDEN_CHECK_TEXT_MSG(AbstractDomain::canBeCompared(DataType::baseDomain(), baseDomain),
                        "AbstractDomain::canBeCompared(*m_baseDomain,baseDomain)",
                        "Tried to create a " << getName().toString() << " variable with a different kind of base domain:"
                                             << baseDomain.getTypeName().toString());
  ConstrainedVariable* variable =
      new Variable<AbstractDomain>(engine, baseDomain, internal, canBeSpecified, LabelStr(name), parent, index);
  KALDEN_CHECK_TEXT_MSG(variable != NULL, "variable != NULL",
                        "Failed to create Variable of type " << getName().toString() << " with name '" << name
                                                             << "'");
  const Id<ConstrainedVariable> id = variable->getId();
  KALDEN_CHECK(id.isValid());
  KALDEN_TRACE("DataType::createVariable", "Created Variable : " << variable->toLongString());
  return id;
}

} // namespace KALDEN
