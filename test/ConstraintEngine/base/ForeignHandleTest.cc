#include "ConstraintEngine/ModuleConstraintEngine.hh"
#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/ConstraintType.hh"
#include "ConstraintEngine/component/OrderingConstraints.hh"
#include "ConstraintEngine/component/Propagators.hh"
#include "Utils/Engine.hh"
#include "Utils/Entity.hh"
#include "support/EngineFixture.hh"
#include "support/Failure.hh"
#include "support/NetworkSnapshot.hh"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

// Handles that are discarded, gone or another engine's are refused, naming the object and the
// reason, before either engine changes.
class ForeignHandleTest : public NetworkFixture {
protected:
  ForeignHandleTest()
      : m_otherSchema(new CESchema()), m_other(new ConstraintEngine(m_otherSchema->getId())),
        m_heard(new HeardCounter(engine())), m_otherHeard(nullptr) {
    new DefaultPropagator("Default", m_other->getId());
    m_otherHeard.reset(new HeardCounter(m_other->getId()));
    m_engine->setAutoPropagation(false);
    m_other->setAutoPropagation(false);
    m_schema->registerDataType((new IntDT())->getId());
    m_schema->registerConstraintType(
        (new ConcreteConstraintType<LessThanEqualConstraint>("leq", "Default", false))->getId());
  }
  ~ForeignHandleTest() override {
    m_heard.reset();
    m_otherHeard.reset();
    Entity::purgeStart();
    m_other.reset();
    Entity::purgeEnd();
    m_otherSchema.reset();
  }

  Id<ConstrainedVariable> otherVar(const char* name) {
    return (new Variable<IntervalIntDomain>(m_other->getId(), IntervalIntDomain(0, 10, IntDT::instance()), false, true,
                                            name, Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
        ->getId();
  }

  // Expects `call` to fail with `condition`, a message naming `named`, and both engines as they were.
  void expectRefused(const std::string& what, const std::function<void()>& call, const std::string& condition,
                     const std::string& named) {
    SCOPED_TRACE(what);
    const NetworkSnapshot before(*m_engine, *m_heard), otherBefore(*m_other, *m_otherHeard);
    const Error failure = failureOf(call);
    EXPECT_EQ(failure.getCondition(), condition);
    EXPECT_NE(failure.getMessage().find(named), std::string::npos) << failure.getMessage();
    EXPECT_EQ(before.differenceFrom(NetworkSnapshot(*m_engine, *m_heard)), "");
    EXPECT_EQ(otherBefore.differenceFrom(NetworkSnapshot(*m_other, *m_otherHeard)), "");
  }

  std::unique_ptr<CESchema> m_otherSchema;
  std::unique_ptr<ConstraintEngine> m_other;
  std::unique_ptr<HeardCounter> m_heard;
  std::unique_ptr<HeardCounter> m_otherHeard;
};

TEST_F(ForeignHandleTest, ADiscardedVariableJoinsNoConstraintAndLeavesNothingToReadAfterCollection) {
  for (const bool autoPropagate : {false, true}) {
    m_engine->setAutoPropagation(autoPropagate);
    const Id<ConstrainedVariable> x = intVar("x", 0, 10), y = intVar("y", 0, 4);
    x->discard();
    const std::size_t constraints = m_engine->getConstraints().size();
    const Error byName = failureOf([&] { m_engine->createConstraint("leq", makeScope(x, y)); });
    EXPECT_EQ(byName.getCondition(), "!scope[i]->isDiscarded()");
    EXPECT_NE(byName.getMessage().find("variable x"), std::string::npos) << byName.getMessage();
    EXPECT_CHECK_FAILS(new LessThanEqualConstraint("leq", "Default", engine(), makeScope(y, x)),
                       "!m_variables[i]->isDiscarded()");
    EXPECT_EQ(m_engine->getConstraints().size(), constraints);
    EXPECT_EQ(y->constraintCount(), 0u);
    EXPECT_TRUE(m_engine->propagate());
    Entity::garbageCollect();
    EXPECT_FALSE(x.isValid());
    y->reset(); // reads only what is still there
    EXPECT_TRUE(m_engine->propagate());
    delete static_cast<ConstrainedVariable*>(y);
  }
}

TEST_F(ForeignHandleTest, DeletingAnotherEnginesConstraintChangesNeitherEngine) {
  const Id<ConstrainedVariable> a = otherVar("a"), b = otherVar("b");
  const Id<Constraint> theirs =
      (new LessThanEqualConstraint("theirs", "Default", m_other->getId(), makeScope(a, b)))->getId();
  m_engine->setAutoPropagation(true);
  expectRefused(
      "another engine's", [&] { m_engine->deleteConstraint(theirs); }, "c->m_constraintEngine == m_id", "theirs");
  EXPECT_TRUE(theirs.isValid());
  m_other->deleteConstraint(theirs); // its own engine still may
  EXPECT_FALSE(theirs.isValid());
}

TEST_F(ForeignHandleTest, AVariablesCallsAfterItsDiscardAreRefusedByName) {
  const Id<ConstrainedVariable> x = intVar("x", 0, 10);
  x->discard();
  const Error specify = failureOf([&] { x->specify(3); });
  EXPECT_EQ(specify.getCondition(), "!isDiscarded()");
  EXPECT_EQ(specify.getMessage(),
            "Cannot specify ConstrainedVariable x (key " + std::to_string(x->getKey()) + "): it is discarded.");
  EXPECT_CHECK_FAILS(x->deactivate(), "!isDiscarded()");
  EXPECT_EQ(x->refCount(), 0u) << "counted nothing";
}

TEST_F(ForeignHandleTest, WhatAPurgedEngineLeftIsRefusedWithoutReadingTheEngine) {
  const Id<ConstrainedVariable> a = otherVar("a"), b = otherVar("b");
  const Id<Constraint> theirs =
      (new LessThanEqualConstraint("theirs", "Default", m_other->getId(), makeScope(a, b)))->getId();
  m_otherHeard.reset();
  Entity::purgeStart();
  m_other.reset();
  Entity::purgeEnd();
  ASSERT_TRUE(a.isValid() && theirs.isValid()) << "kept until collected";
  EXPECT_CHECK_FAILS(a->specify(3), "!isDiscarded()");
  EXPECT_CHECK_FAILS(a->derivedDomain(), "!isDiscarded()");
  EXPECT_CHECK_FAILS(theirs->deactivate(), "!isDiscarded()");
  EXPECT_EQ(theirs->getViolation(), 0.0);
  EXPECT_CHECK_FAILS(m_engine->deleteConstraint(theirs), "!c->isDiscarded()");
  Entity::garbageCollect();
  EXPECT_FALSE(a.isValid() || theirs.isValid());
}

TEST_F(ForeignHandleTest, AnEngineWhoseSchemaWentFirstRefusesWhatNeedsIt) {
  std::unique_ptr<CESchema> schema(new CESchema());
  schema->registerDataType((new IntDT())->getId());
  schema->registerConstraintType(
      (new ConcreteConstraintType<LessThanEqualConstraint>("leq", "Default", false))->getId());
  std::unique_ptr<ConstraintEngine> engine(new ConstraintEngine(schema->getId()));
  new DefaultPropagator("Default", engine->getId());
  const Id<ConstrainedVariable> x = engine->createVariable("int", false, true, "x", Id<Entity>::noId(), -1);
  schema.reset();
  EXPECT_FALSE(engine->getCESchema().isValid());
  EXPECT_CHECK_FAILS(engine->createVariable("int", false, true, "y", Id<Entity>::noId(), -1), "m_schema.isValid()");
  EXPECT_CHECK_FAILS(engine->createConstraint("leq", makeScope(x, x)), "m_schema.isValid()");
  EXPECT_CHECK_FAILS(engine->createValue("int", "3"), "m_schema.isValid()");
  EXPECT_EQ(engine->getVariables().size(), 1u);
  // What is built without the schema still works.
  EXPECT_TRUE(engine->propagate());
  Entity::purgeStart();
  engine.reset();
  Entity::purgeEnd();

  const std::size_t handles = IdTable::size();
  EXPECT_CHECK_FAILS(ConstraintEngine(Id<CESchema>::noId()), "m_schema.isValid()");
  EXPECT_EQ(IdTable::size(), handles) << "a refused engine keeps no handle";
}

// Every entry handed a discarded handle or another engine's is refused, and neither engine changes.
TEST_F(ForeignHandleTest, EveryEntryRefusesHandlesFromElsewhere) {
  const Id<ConstrainedVariable> y = intVar("y", 0, 10), z = intVar("z", 0, 10);
  const Id<ConstrainedVariable> gone = intVar("gone", 0, 10);
  const Id<Constraint> dropped =
      (new LessThanEqualConstraint("dropped", "Default", engine(), makeScope(y, z)))->getId();
  new LessThanEqualConstraint("kept", "Default", engine(), makeScope(y, z));
  gone->discard();
  dropped->discard();
  const Id<ConstrainedVariable> a = otherVar("a"), b = otherVar("b");
  const Id<Constraint> theirs =
      (new LessThanEqualConstraint("theirs", "Default", m_other->getId(), makeScope(a, b)))->getId();
  const Id<Entity> goneParent = gone;
  const int goneKey = gone->getKey(), aKey = a->getKey();

  struct Row {
    const char* what;
    std::function<void()> call;
    const char* condition;
    const char* named;
  };
  PSVarValue three(3, INTEGER);
  const IntervalIntDomain narrower(2, 5, IntDT::instance());
  const std::vector<Row> rows = {
      // Discarded handles.
      {"createConstraint, a discarded variable", [&] { m_engine->createConstraint("leq", makeScope(y, gone)); },
       "!scope[i]->isDiscarded()", "gone"},
      {"new constraint, a discarded variable",
       [&] { new LessThanEqualConstraint("c", "Default", engine(), makeScope(gone, y)); },
       "!m_variables[i]->isDiscarded()", "gone"},
      {"deleteConstraint, a discarded constraint", [&] { m_engine->deleteConstraint(dropped); }, "!c->isDiscarded()",
       "dropped"},
      {"getVariableByKey, a discarded variable", [&] { m_engine->getVariableByKey(goneKey); }, "!isDiscarded()",
       "gone"},
      {"createVariable, a discarded parent",
       [&] { m_engine->createVariable("int", false, true, "child", goneParent, -1); },
       "parent.isNoId() || (parent.isValid() && !parent->isDiscarded())", "child"},
      {"specify", [&] { gone->specify(3); }, "!isDiscarded()", "gone"},
      {"specifyValue", [&] { gone->specifyValue(three); }, "!isDiscarded()", "gone"},
      {"reset", [&] { gone->reset(); }, "!isDiscarded()", "gone"},
      {"reset to a domain", [&] { gone->reset(narrower); }, "!isDiscarded()", "gone"},
      {"relax", [&] { gone->relax(); }, "!isDiscarded()", "gone"},
      {"restrictBaseDomain", [&] { gone->restrictBaseDomain(narrower); }, "!isDiscarded()", "gone"},
      {"close", [&] { gone->close(); }, "!isDiscarded()", "gone"},
      {"open", [&] { gone->open(); }, "!isDiscarded()", "gone"},
      {"insert", [&] { gone->insert(3); }, "!isDiscarded()", "gone"},
      {"remove", [&] { gone->remove(3); }, "!isDiscarded()", "gone"},
      {"touch", [&] { gone->touch(); }, "!isDiscarded()", "gone"},
      {"variable deactivate", [&] { gone->deactivate(); }, "!isDiscarded()", "gone"},
      {"variable undoDeactivation", [&] { gone->undoDeactivation(); }, "!isDiscarded()", "gone"},
      {"derivedDomain", [&] { gone->derivedDomain(); }, "!isDiscarded()", "gone"},
      {"pending", [&] { gone->pending(); }, "!isDiscarded()", "gone"},
      {"update", [&] { gone->update(); }, "!isDiscarded()", "gone"},
      {"variable listener", [&] { new ConstrainedVariableListener(gone); }, "!isDiscarded()", "gone"},
      {"constraint deactivate", [&] { dropped->deactivate(); }, "!isDiscarded()", "dropped"},
      {"constraint undoDeactivation", [&] { dropped->undoDeactivation(); }, "!isDiscarded()", "dropped"},
      // Another engine's handles.
      {"createConstraint, another engine's variable", [&] { m_engine->createConstraint("leq", makeScope(y, a)); },
       "scope[i]->getConstraintEngine() == getId()", "variable a"},
      {"new constraint, another engine's variable",
       [&] { new LessThanEqualConstraint("c", "Default", engine(), makeScope(a, y)); },
       "m_variables[i]->getConstraintEngine() == m_constraintEngine", "variable a"},
      {"deleteConstraint, another engine's constraint", [&] { m_engine->deleteConstraint(theirs); },
       "c->m_constraintEngine == m_id", "theirs"},
      {"getIndex, another engine's variable", [&] { m_engine->getIndex(a); }, ALWAYS_FAILS_CONDITION, "variable a"},
      {"getIndex, another engine's constraint", [&] { m_engine->getIndex(theirs); }, "it != m_constraints.end()",
       "constraint theirs"},
      {"getVariableByKey, another engine's variable", [&] { m_engine->getVariableByKey(aKey); },
       "entity->getConstraintEngine() == m_id", "variable a"},
  };
  for (const Row& row : rows)
    expectRefused(row.what, row.call, row.condition, row.named);
  // Left the engine, a constraint is violated nowhere; asking reads nothing of the engine.
  EXPECT_EQ(dropped->getViolation(), 0.0);
}

// A host owns the modules it accepts: a module already held by it or another host is refused.
TEST(ForeignModuleTest, AHostAcceptsAModuleOnceAndOnlyWhenNoOtherHoldsIt) {
  std::unique_ptr<Engine> host(new Engine()), second(new Engine());
  ModuleConstraintEngine* module = new ModuleConstraintEngine();
  host->addModule(module);
  const Error twice = failureOf([&] { host->addModule(module); });
  EXPECT_EQ(twice.getCondition(), "module->m_host == nullptr");
  EXPECT_EQ(twice.getMessage(), "Module ConstraintEngine is already held by this host.");
  const Error elsewhere = failureOf([&] { second->addModule(module); });
  EXPECT_EQ(elsewhere.getMessage(), "Module ConstraintEngine is already held by another host.");
  // Both hosts are as they were: the second starts empty, the first starts its one module once.
  second->start();
  EXPECT_EQ(second->getComponent("ConstraintEngine"), nullptr);
  host->start();
  EXPECT_NE(host->getComponent("ConstraintEngine"), nullptr);
  host->stop();
  host.reset(); // deletes the module once
  second.reset();
}

} // namespace
} // namespace KALDEN
