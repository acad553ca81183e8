#ifndef KALDEN_TEST_SUPPORT_LIBRARYFIXTURE_HH
#define KALDEN_TEST_SUPPORT_LIBRARYFIXTURE_HH

#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/Domains.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "support/EngineFixture.hh"

#include <list>
#include <vector>

namespace KALDEN {

/**
 * An engine fixture with the variable kinds library constraints meet, and
 * short ways to read what a constraint left of a domain. Constraints are
 * built directly on propagator "Default" and run with handleExecute().
 */
class LibraryFixture : public EngineFixture {
protected:
  /// A new closed enumeration of numbers (integers) over the values.
  Id<ConstrainedVariable> enumVar(const char* name, const std::list<double>& values) {
    return (new Variable<EnumeratedDomain>(engine(), NumericDomain(values, IntDT::instance()), false, true, name,
                                           Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
        ->getId();
  }
  /// A new open enumeration of numbers holding the values so far: it may still gain any value.
  Id<ConstrainedVariable> openVar(const char* name, const std::list<double>& values = {}) {
    NumericDomain open(IntDT::instance());
    open.insert(values);
    return (new Variable<EnumeratedDomain>(engine(), open, false, true, name, Id<Entity>::noId(),
                                           ConstrainedVariable::NO_INDEX))
        ->getId();
  }
  /// A new boolean variable, undecided.
  Id<ConstrainedVariable> boolVar(const char* name) { return boolVariable(name, BoolDomain(BoolDT::instance())); }
  /// A new boolean variable holding only `value`.
  Id<ConstrainedVariable> boolVar(const char* name, bool value) {
    return boolVariable(name, BoolDomain(value, BoolDT::instance()));
  }

  /// The variable's current domain.
  static AbstractDomain& dom(const Id<ConstrainedVariable>& var) { return var->getCurrentDomain(); }
  /// The current domain's bounds as {lb, ub}.
  static std::vector<double> bounds(const Id<ConstrainedVariable>& var) {
    return {dom(var).getLowerBound(), dom(var).getUpperBound()};
  }
  /// The current domain's values in ascending order (finite domains only).
  static std::vector<double> values(const Id<ConstrainedVariable>& var) {
    std::list<double> result;
    dom(var).getValues(result);
    return std::vector<double>(result.begin(), result.end());
  }

private:
  Id<ConstrainedVariable> boolVariable(const char* name, const BoolDomain& domain) {
    return (new Variable<BoolDomain>(engine(), domain, false, true, name, Id<Entity>::noId(),
                                     ConstrainedVariable::NO_INDEX))
        ->getId();
  }
};

} // namespace KALDEN

#endif
