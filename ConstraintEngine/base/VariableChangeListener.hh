#ifndef KALDEN_CONSTRAINTENGINE_BASE_VARIABLECHANGELISTENER_HH
#define KALDEN_CONSTRAINTENGINE_BASE_VARIABLECHANGELISTENER_HH

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "Utils/base/Id.hh"

namespace KALDEN {

class ConstrainedVariable;
class ConstraintEngine;

/**
 * Ties a domain to a variable's engine: every change the domain reports goes,
 * unchanged, to ConstraintEngine::notify with the variable.
 *
 * A variable has a listener of its own for its current domain; this class is
 * for any further one a client asks of the engine or builds itself. It keeps
 * the variable's handle and a reference to the engine's own handle, so the
 * engine must outlive it; whoever made it deletes it.
 */
class VariableChangeListener : public DomainListener {
public:
  /// A listener for the variable, reporting to the engine whose own handle is given.
  VariableChangeListener(const Id<ConstrainedVariable>& variable, const Id<ConstraintEngine>& constraintEngine);
  ~VariableChangeListener() override;

  /// Forwards one change of the domain to the engine.
  void notifyChange(const DomainListener::ChangeType& changeType) override;

private:
  Id<ConstrainedVariable> m_variable;
  const Id<ConstraintEngine>& m_constraintEngine;
};

} // namespace KALDEN

#endif
