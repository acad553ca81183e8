#define KALDEN_SOURCE "ConstraintEngine/base/ConstraintType"
#include "ConstraintEngine/base/ConstraintType.hh"

#include "Utils/base/Report.hh"

namespace KALDEN {

ConstraintType::ConstraintType(const LabelStr& name, const LabelStr& propagatorName, bool systemDefined)
    : m_id(this), m_name(name), m_propagatorName(propagatorName), m_systemDefined(systemDefined) {}

ConstraintType::~ConstraintType() {
  NoThrowScope guard;
  // The schema releases the handle before deleting; a factory deleted any other way (or whose
  // construction was refused) must not leave its address registered.
  if (m_id.isValid())
    m_id.remove();
}

Id<Constraint> ConstraintType::createConstraint(Id<ConstraintEngine> constraintEngine,
                                                const std::vector<Id<ConstrainedVariable> >& scope) {
  (void)constraintEngine;
  (void)scope;
  KALDEN_ALWAYS_FAIL();
  return Id<Constraint>::noId();
}

const std::vector<Id<DataType> >& ConstraintType::getArgTypes() const { return m_argTypes; }

bool ConstraintType::checkArgTypes(const std::vector<Id<DataType> >& types) const {
  (void)types;
  return true;
}

} // namespace KALDEN
