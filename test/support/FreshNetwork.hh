#ifndef KALDEN_TEST_SUPPORT_FRESHNETWORK_HH
#define KALDEN_TEST_SUPPORT_FRESHNETWORK_HH

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
#include "Utils/base/Id.hh"

#include <map>
#include <memory>
#include <set>
#include <vector>

namespace KALDEN {

class OperationSession;

/**
 * A new engine over what a session's network holds now: every live variable
 * with a copy of its base domain, built the same way (by type name or by
 * class), specified to the same value, and switched off when the client
 * switched it off; then every constraint in effect, in creation order, built
 * as it was (by name, or by class on the same propagator), with whatever of
 * it the session's engine holds violated switched off (an all-different's
 * variables in an order each check draws). A variable made open and
 * closed by the client since is made open and closed between the same two
 * constraints: a constraint fixes some of its make-up (the type of a sum's
 * interim) from whether its variables may still gain values. Nothing has
 * propagated yet. Destroying it tears the engine down as the host does.
 */
class FreshNetwork {
public:
  /// Builds the network on the session's schema; the engine does not propagate by itself.
  explicit FreshNetwork(const OperationSession& session);
  /// Builds only the listed variables and the constraints in effect over them alone: a set of
  /// independent parts of the network, judged apart from the others.
  FreshNetwork(const OperationSession& session, const std::set<int>& variables);
  /// Tears the engine down as the host does.
  ~FreshNetwork();
  FreshNetwork(const FreshNetwork&) = delete;
  FreshNetwork& operator=(const FreshNetwork&) = delete;

  /// Propagates once; the answer.
  bool propagate() { return m_engine->propagate(); }
  /// The current domain of the session's variable of that creation number.
  const AbstractDomain& domainOf(int variable) const { return m_variables.at(variable)->lastDomain(); }
  /// The base domain of the session's variable of that creation number.
  const AbstractDomain& baseOf(int variable) const { return m_variables.at(variable)->baseDomain(); }

private:
  FreshNetwork(const OperationSession& session, const std::set<int>* only);
  void addVariable(int number, const OperationSession& session);
  void addConstraint(int number, const OperationSession& session);
  void closeVariables(const OperationSession& session, int beforeConstraint);

  std::unique_ptr<ConstraintEngine> m_engine;
  std::unique_ptr<ConstraintEngineListener> m_recorder;
  std::vector<Id<Constraint> > m_added; // the constraints the last addConstraint() added, in order
  std::map<int, Id<ConstrainedVariable> > m_variables;
};

} // namespace KALDEN

#endif
