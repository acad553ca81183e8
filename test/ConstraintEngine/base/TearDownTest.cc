#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/component/Constraints.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/Domains.hh"
#include "ConstraintEngine/component/Propagators.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "Utils/Entity.hh"
#include "Utils/IdTable.hh"

#include <gtest/gtest.h>

#include <memory>

namespace KALDEN {
namespace {

// The tear-down a client without modules does by hand: the engine, then the schema, between
// purgeStart() and purgeEnd(), then garbageCollect(). The purge discards what the engine held;
// its handles stay valid until the collection frees it, and nothing is left behind after it.
TEST(TearDownTest, HandlesIntoAPurgedEngineLastUntilTheCollection) {
  IntDT::instance();
  const std::size_t entities = Entity::liveCount();
  const std::size_t handles = IdTable::size();
  std::unique_ptr<CESchema> schema(new CESchema());
  std::unique_ptr<ConstraintEngine> engine(new ConstraintEngine(schema->getId()));
  new DefaultPropagator("Default", engine->getId());
  const Id<ConstrainedVariable> x =
      (new Variable<IntervalIntDomain>(engine->getId(), IntervalIntDomain(0, 10, IntDT::instance()), false, true, "x",
                                       Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
          ->getId();
  const Id<ConstrainedVariable> y =
      (new Variable<IntervalIntDomain>(engine->getId(), IntervalIntDomain(0, 4, IntDT::instance()), false, true, "y",
                                       Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
          ->getId();
  const Id<Constraint> leq = (new LessThanEqualConstraint("leq", "Default", engine->getId(), makeScope(x, y)))->getId();
  EXPECT_TRUE(engine->propagate());

  Entity::purgeStart();
  engine.reset();
  schema.reset();
  Entity::purgeEnd();
  EXPECT_TRUE(x.isValid() && y.isValid() && leq.isValid());
  EXPECT_TRUE(x->isDiscarded() && leq->isDiscarded());
  Entity::garbageCollect();
  EXPECT_FALSE(x.isValid() || y.isValid() || leq.isValid());
  EXPECT_EQ(Entity::liveCount(), entities);
  EXPECT_EQ(IdTable::size(), handles);
}

} // namespace
} // namespace KALDEN
