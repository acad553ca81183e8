#ifndef KALDEN_CONSTRAINTENGINE_BASE_VARIABLECHANGELISTENER_HH
#define KALDEN_CONSTRAINTENGINE_BASE_VARIABLECHANGELISTENER_HH

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "Utils/base/Id.hh"

namespace KALDEN {

class ConstrainedVariable;
class ConstraintEngine;

/**
 * Ties a variable's current domain to its engine: every change the domain
 * reports goes, unchanged, to ConstraintEngine::notify with the variable.
 * The engine makes one per variable; the variable owns it and deletes it when
 * discarded. It keeps a reference to the engine's own handle object, so the
 * engine must outlive it (the engine's purge discards every variable, which
 * deletes its listener).
 */
class VariableChangeListener : public DomainListener {
public:
  /// A listener for the variable, reporting to the engine whose own handle is given.
  VariableChangeListener(const Id<ConstrainedVariable>& variable, const Id<ConstraintEngine>& constraintEngine);
  ~VariableChangeListener() override;

  /// Forwards one change of the variable's current domain to the engine.
  void notifyChange(const DomainListener::ChangeType& changeType) override;

private:
  Id<ConstrainedVariable> m_variable;
  const Id<ConstraintEngine>& m_constraintEngine;
};

} // namespace KALDEN

#endif
