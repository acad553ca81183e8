#ifndef KALDEN_CONSTRAINTENGINE_MODULECONSTRAINTENGINE_HH
#define KALDEN_CONSTRAINTENGINE_MODULECONSTRAINTENGINE_HH

#include "Utils/Engine.hh"
#include "Utils/base/Id.hh"
#include "Utils/base/Module.hh"

namespace KALDEN {

/**
 * The module through which a host engine starts and stops the constraint
 * engine. Starting publishes two components to the host: "CESchema" (a schema
 * with the built-in data types void, bool, int, float, string and symbol) and
 * "ConstraintEngine" (an engine on that schema with its propagator
 * "Default"). Stopping takes both back and deletes them, the engine first,
 * since it refers to the schema. The module keeps no pointer of its own.
 */
class ModuleConstraintEngine : public Module {
public:
  /// The module named "ConstraintEngine".
  ModuleConstraintEngine();
  ~ModuleConstraintEngine() override;

  /// Nothing to do without a host.
  void initialize() override;
  /// Nothing to do without a host.
  void uninitialize() override;
  /// Builds the schema, its data types, the engine and its default propagator, and publishes them to the host.
  void initialize(Id<Engine> engine) override;
  /// Takes the engine and then the schema back from the host and deletes them.
  void uninitialize(Id<Engine> engine) override;
};

} // namespace KALDEN

#endif
