#ifndef KALDEN_TEST_SUPPORT_EQUALITYPROPAGATORFIXTURE_HH
#define KALDEN_TEST_SUPPORT_EQUALITYPROPAGATORFIXTURE_HH

#include "ConstraintEngine/component/Constraints.hh"
#include "ConstraintEngine/component/EqualityConstraintPropagator.hh"
#include "ConstraintEngine/component/Propagators.hh"
#include "support/LibraryFixture.hh"

#include <vector>

namespace KALDEN {

/**
 * A library fixture with an equality propagator named "Equal" and a default
 * propagator named "Plain" (both owned by the engine), and short ways to
 * make and remove equalities.
 */
class EqualityPropagatorFixture : public LibraryFixture {
protected:
  using Scope = std::vector<Id<ConstrainedVariable> >;

  EqualityPropagatorFixture()
      : m_equality(new EqualityConstraintPropagator("Equal", engine())),
        m_plain(new DefaultPropagator("Plain", engine())) {}

  /// A new equality over the scope, run by the named propagator.
  Id<Constraint> equal(const Scope& scope, const char* propagator = "Equal") {
    return (new EqualConstraint("eq", propagator, engine(), scope))->getId();
  }
  /// Deletes a constraint, which leaves its engine and propagator.
  static void destroy(const Id<Constraint>& constraint) { delete static_cast<Constraint*>(constraint); }
  /// Deletes a variable and the constraints on it.
  static void destroy(const Id<ConstrainedVariable>& var) { delete static_cast<ConstrainedVariable*>(var); }

  /// Runs the equality propagator alone until it has no work; the number of its steps.
  int run() {
    int steps = 0;
    while (m_equality->updateRequired()) {
      m_equality->execute();
      ++steps;
    }
    return steps;
  }

  /// Narrows a variable from outside, as a client would.
  static void restrict(const Id<ConstrainedVariable>& var, double lb, double ub) { dom(var).intersect(lb, ub); }

  EqualityConstraintPropagator* m_equality; ///< owned by the engine
  DefaultPropagator* m_plain;               ///< owned by the engine
};

} // namespace KALDEN

#endif
