#ifndef KALDEN_CONSTRAINTENGINE_MODULECONSTRAINTLIBRARY_HH
#define KALDEN_CONSTRAINTENGINE_MODULECONSTRAINTLIBRARY_HH

#include "Utils/Engine.hh"
#include "Utils/base/Id.hh"
#include "Utils/base/Module.hh"

namespace KALDEN {

/**
 * The module through which a host engine makes the constraint library
 * available by name. Starting registers the library's 80 constraint-type
 * names, all on propagator "Default", in the schema that the engine module
 * published as "CESchema"; stopping removes every constraint type from that
 * schema. Start it after the engine module and stop it before.
 */
class ModuleConstraintLibrary : public Module {
public:
  /// The module named "ConstraintLibrary".
  ModuleConstraintLibrary();
  ~ModuleConstraintLibrary() override;

  /// Nothing to do without a host.
  void initialize() override;
  /// Nothing to do without a host.
  void uninitialize() override;
  /// Registers every library constraint name in the host's "CESchema".
  void initialize(Id<Engine> engine) override;
  /// Removes every constraint type from the host's "CESchema".
  void uninitialize(Id<Engine> engine) override;
};

} // namespace KALDEN

#endif
