#include "ConstraintEngine/ModuleConstraintEngine.hh"

#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/Propagators.hh"

#include <memory>
#include <string>

namespace KALDEN {

ModuleConstraintEngine::ModuleConstraintEngine() : Module("ConstraintEngine") {}

ModuleConstraintEngine::~ModuleConstraintEngine() {}

void ModuleConstraintEngine::initialize() {}

void ModuleConstraintEngine::uninitialize() {}

void ModuleConstraintEngine::initialize(Id<Engine> engine) {
  // Each part is ours to delete until the host holds it, so that a refused publication (a host
  // that runs this module twice) leaves nothing behind.
  std::unique_ptr<CESchema> schema(new CESchema());
  schema->registerDataType((new VoidDT())->getId());
  schema->registerDataType((new BoolDT())->getId());
  schema->registerDataType((new IntDT())->getId());
  schema->registerDataType((new FloatDT())->getId());
  schema->registerDataType((new StringDT())->getId());
  schema->registerDataType((new SymbolDT())->getId());
  engine->addComponent(std::string("CESchema"), schema.get());
  CESchema* published = schema.release();
  std::unique_ptr<ConstraintEngine> constraintEngine(new ConstraintEngine(published->getId()));
  new DefaultPropagator(LabelStr("Default"), constraintEngine->getId()); // the engine holds it from now on
  try {
    engine->addComponent(std::string("ConstraintEngine"), constraintEngine.get());
  } catch (...) {
    // The name is another module's: the host will not stop this module, so take the schema back
    // here, after the engine that refers to it.
    NoThrowScope guard;
    constraintEngine.reset();
    delete engine->removeComponent(std::string("CESchema"));
    throw;
  }
  constraintEngine.release();
}

void ModuleConstraintEngine::uninitialize(Id<Engine> engine) {
  // The engine refers to the schema's own handle: it goes first.
  delete engine->removeComponent(std::string("ConstraintEngine"));
  delete engine->removeComponent(std::string("CESchema"));
}

} // namespace KALDEN
