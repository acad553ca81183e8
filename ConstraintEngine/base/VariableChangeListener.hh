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
 *
 * The engine makes one per variable, inside the variable itself (room the
 * variable keeps for it), so a variable costs no separate block for it; that
 * listener holds nothing but its own handle and reaches its variable, and
 * through it the engine, by where it lies. The variable destroys it when
 * discarded. A listener built anywhere else with the public constructor (or
 * asked of the engine again for a variable that has its own) keeps its
 * variable's handle and a reference to the engine's own handle aside, so the
 * engine must outlive it; whoever made it deletes it.
 */
class VariableChangeListener : public DomainListener {
public:
  /// A listener for the variable, reporting to the engine whose own handle is given.
  VariableChangeListener(const Id<ConstrainedVariable>& variable, const Id<ConstraintEngine>& constraintEngine);
  ~VariableChangeListener() override;

  /// Forwards one change of the variable's current domain to the engine.
  void notifyChange(const DomainListener::ChangeType& changeType) override;

private:
  // The variable's own listener takes this form: it keeps no binding, since its class finds the
  // variable it lies in.
  friend class ConstrainedVariable;
  VariableChangeListener();
};

} // namespace KALDEN

#endif
