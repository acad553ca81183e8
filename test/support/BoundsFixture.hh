#ifndef KALDEN_TEST_SUPPORT_BOUNDSFIXTURE_HH
#define KALDEN_TEST_SUPPORT_BOUNDSFIXTURE_HH

#include "ConstraintEngine/component/EnumeratedDomains.hh"
#include "support/EngineFixture.hh"

#include <list>
#include <utility>

namespace KALDEN {

/**
 * An engine fixture for value constraints, with the default propagator named
 * "Default": variables over intervals and numeric enumerations, and their
 * current domains.
 */
class BoundsFixture : public NetworkFixture {
public:
  /// A lower and an upper bound.
  typedef std::pair<double, double> Bounds;

protected:
  /// A new integer or real interval variable over the bounds (an integer one takes them as ints).
  Id<ConstrainedVariable> var(const char* name, bool isInt, Bounds b) {
    return isInt ? intVar(name, static_cast<int>(b.first), static_cast<int>(b.second))
                 : floatVar(name, b.first, b.second);
  }

  /// A new variable over the closed numeric enumeration of the values.
  Id<ConstrainedVariable> enumVar(const char* name, const std::list<double>& values) {
    return (new Variable<EnumeratedDomain>(engine(), NumericDomain(values, FloatDT::instance()), false, true, name,
                                           Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
        ->getId();
  }

  /// The variable's current domain.
  static AbstractDomain& dom(const Id<ConstrainedVariable>& var) { return var->getCurrentDomain(); }
  /// The current domain's bounds.
  static Bounds bounds(const Id<ConstrainedVariable>& var) {
    return Bounds(dom(var).getLowerBound(), dom(var).getUpperBound());
  }
  /// The current domain's values (a finite domain).
  static std::list<double> values(const Id<ConstrainedVariable>& var) {
    std::list<double> result;
    dom(var).getValues(result);
    return result;
  }
};

} // namespace KALDEN

#endif
