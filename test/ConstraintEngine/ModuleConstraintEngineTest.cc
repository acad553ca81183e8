#include "ConstraintEngine/ModuleConstraintEngine.hh"

#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/ConstraintType.hh"
#include "ConstraintEngine/base/DataType.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/IntervalDomains.hh"
#include "ConstraintEngine/component/Propagators.hh"
#include "Utils/Engine.hh"
#include "Utils/Entity.hh"
#include "Utils/IdTable.hh"

#include "support/CapturedTraces.hh"
#include "support/TestConstraints.hh"

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

const char* const BUILT_IN_TYPES[] = {"void", "bool", "int", "float", "string", "symbol"};

// Start publishes the schema and the engine; the engine works by name; stop takes everything back.
TEST(ModuleConstraintEngineTest, StartUseAndStopWithAHost) {
  // The shared data types live for the whole process: make them before counting.
  FloatDT::instance();
  IntDT::instance();
  const std::size_t entities = Entity::liveCount();
  const std::size_t handles = IdTable::size();
  std::unique_ptr<Engine> host(new Engine());
  ModuleConstraintEngine* module = new ModuleConstraintEngine();
  EXPECT_EQ(module->getName(), "ConstraintEngine");
  host->addModule(module);
  CapturedTraces traces("CESchema::registerDataType");
  host->start();
  std::string registered;
  for (const char* name : BUILT_IN_TYPES)
    registered += std::string("[CESchema::registerDataType]Registered data type ") + name + "\n";
  EXPECT_EQ(traces.text(), registered) << "the built-in types, in order";

  CESchema* schema = dynamic_cast<CESchema*>(host->getComponent("CESchema"));
  ConstraintEngine* engine = dynamic_cast<ConstraintEngine*>(host->getComponent("ConstraintEngine"));
  ASSERT_TRUE(schema != nullptr && engine != nullptr);
  EXPECT_EQ(engine->getCESchema(), schema->getId());
  std::vector<Id<DataType> > types;
  for (const char* name : BUILT_IN_TYPES)
    types.push_back(schema->getDataType(name)); // fails unless registered
  const Id<Propagator> propagator = engine->getPropagatorByName("Default");
  EXPECT_TRUE(Id<DefaultPropagator>::convertable(propagator));
  const Id<CESchema> schemaId = schema->getId();
  const Id<ConstraintEngine> engineId = engine->getId();

  // Creation and deletion by name propagate at once; what is left in the engine goes at shut-down.
  schema->registerConstraintType(
      (new ConcreteConstraintType<LessThanEqualTestConstraint>("leqTest", "Default", false))->getId());
  const Id<ConstrainedVariable> x = engine->createVariable("int", false, true, "x", Id<Entity>::noId(), -1);
  const Id<ConstrainedVariable> y = engine->createVariable("int", IntervalIntDomain(0, 5, schema->getDataType("int")),
                                                           false, true, "y", Id<Entity>::noId(), -1);
  const Id<Constraint> leq = engine->createConstraint("leqTest", makeScope(x, y));
  EXPECT_EQ(x->lastDomain().getUpperBound(), 5.0);
  engine->deleteConstraint(leq);
  EXPECT_EQ(x->lastDomain(), x->baseDomain()) << "relaxed once the constraint is gone";
  engine->createConstraint("leqTest", makeScope(x, y));

  host->stop();
  EXPECT_EQ(host->getComponent("CESchema"), nullptr);
  EXPECT_EQ(host->getComponent("ConstraintEngine"), nullptr);
  EXPECT_FALSE(schemaId.isValid() || engineId.isValid() || propagator.isValid());
  for (const Id<DataType>& type : types)
    EXPECT_FALSE(type.isValid()) << "data types go with the schema";
  host.reset();
  EXPECT_EQ(Entity::liveCount(), entities);
  EXPECT_EQ(IdTable::size(), handles);
}

} // namespace
} // namespace KALDEN
