#ifndef KALDEN_TEST_SUPPORT_BOUNDSFIXTURE_HH
#define KALDEN_TEST_SUPPORT_BOUNDSFIXTURE_HH

#include "ConstraintEngine/component/Propagators.hh"
#include "support/LibraryFixture.hh"

#include <vector>

namespace KALDEN {

/**
 * The library fixture for constraints over numeric bounds: interval
 * variables of either kind from one table entry, what a constraint left of a
 * domain (nothing when it emptied it), and a default propagator named
 * "Running" for constraints that should propagate through the engine.
 */
class BoundsFixture : public LibraryFixture {
public:
  /// {lb, ub} of a domain, or {} for an emptied one.
  typedef std::vector<double> Bounds;

protected:
  BoundsFixture() { new DefaultPropagator("Running", engine()); } // owned by the engine

  /// A new integer (bounds taken as ints) or real interval variable over {lb, ub}.
  Id<ConstrainedVariable> var(const char* name, bool isInt, const Bounds& b) {
    return isInt ? intVar(name, static_cast<int>(b[0]), static_cast<int>(b[1])) : floatVar(name, b[0], b[1]);
  }
  /// The variable's bounds after a narrowing, {} when it was emptied.
  static Bounds after(const Id<ConstrainedVariable>& v) { return dom(v).isEmpty() ? Bounds() : bounds(v); }
};

} // namespace KALDEN

#endif
