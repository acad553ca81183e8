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

// Clearing by hand inside the bracket: what getConstraints() lists is deleted unless it is a
// composite's part, which is refused as outside the bracket (it goes with its composite), and the
// variables are discarded; the purge then finds nothing left.
TEST(TearDownTest, ClearingWhatTheEngineListsInsideTheBracketRefusesParts) {
  IntDT::instance();
  FloatDT::instance();
  const std::size_t entities = Entity::liveCount();
  const std::size_t handles = IdTable::size();
  std::unique_ptr<CESchema> schema(new CESchema());
  schema->registerDataType((new IntDT())->getId());
  std::unique_ptr<ConstraintEngine> engine(new ConstraintEngine(schema->getId()));
  new DefaultPropagator("Default", engine->getId());
  const auto intVar = [&](const char* name, int lb, int ub) {
    return (new Variable<IntervalIntDomain>(engine->getId(), IntervalIntDomain(lb, ub, IntDT::instance()), false,
                                            true, name, Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
        ->getId();
  };
  const Id<ConstrainedVariable> x = intVar("x", 0, 10), lb = intVar("lb", 2, 5), ub = intVar("ub", 3, 8);
  new WithinBounds("withinBounds", "Default", engine->getId(), makeScope(x, lb, ub));
  new GreaterThanSumConstraint("gtsum", "Default", engine->getId(),
                               makeScope(intVar("s", 0, 20), intVar("y1", 0, 4), intVar("y2", 0, 4)));
  EXPECT_TRUE(engine->propagate());

  Entity::purgeStart();
  int refused = 0;
  const std::vector<Id<Constraint> > listed(engine->getConstraints().begin(), engine->getConstraints().end());
  for (const Id<Constraint>& c : listed) {
    if (c->standingOwner().isNoId())
      continue;
    ++refused;
    EXPECT_THROW(engine->deleteConstraint(c), Error);
    EXPECT_THROW(c->discard(), Error);
    EXPECT_THROW(c->decRefCount(), Error);
    EXPECT_FALSE(c->isDiscarded());
  }
  EXPECT_GE(refused, 2);
  for (const Id<Constraint>& c : listed)
    if (c.isValid() && !c->isDiscarded() && c->standingOwner().isNoId())
      engine->deleteConstraint(c);
  EXPECT_TRUE(engine->getConstraints().empty());
  const std::vector<Id<ConstrainedVariable> > variables(engine->getVariables().begin(), engine->getVariables().end());
  for (const Id<ConstrainedVariable>& v : variables)
    if (v.isValid() && !v->isDiscarded())
      v->discard();
  engine.reset();
  schema.reset();
  Entity::purgeEnd();
  Entity::garbageCollect();
  EXPECT_EQ(Entity::liveCount(), entities);
  EXPECT_EQ(IdTable::size(), handles);
}

} // namespace
} // namespace KALDEN
