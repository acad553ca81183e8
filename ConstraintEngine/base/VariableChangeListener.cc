#define KALDEN_SOURCE "ConstraintEngine/base/VariableChangeListener"
#include "ConstraintEngine/base/VariableChangeListener.hh"

#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"

namespace KALDEN {

VariableChangeListener::VariableChangeListener(const Id<ConstrainedVariable>& variable,
                                               const Id<ConstraintEngine>& constraintEngine)
    : DomainListener(), m_variable(variable), m_constraintEngine(constraintEngine) {}

VariableChangeListener::~VariableChangeListener() {}

void VariableChangeListener::notifyChange(const DomainListener::ChangeType& changeType) {
  m_constraintEngine->notify(m_variable, changeType);
}

} // namespace KALDEN
