#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/ConstraintType.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "Utils/IdTable.hh"

#include "support/EngineFixture.hh"
#include "support/Failure.hh"
#include "support/TestConstraints.hh"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

// Keeps the extra arguments a rotating factory hands over.
class RotatingTestConstraint : public TestConstraint {
public:
  RotatingTestConstraint(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& engine,
                         const std::vector<Id<ConstrainedVariable> >& scope, const LabelStr& otherName,
                         const int& rotateCount)
      : TestConstraint(name, propagatorName, engine, scope), m_otherName(otherName), m_rotateCount(rotateCount) {}
  LabelStr m_otherName;
  int m_rotateCount;
};

// Keeps the extra arguments a swapping factory hands over.
class SwappingTestConstraint : public TestConstraint {
public:
  SwappingTestConstraint(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& engine,
                         const std::vector<Id<ConstrainedVariable> >& scope, const LabelStr& otherName, int first,
                         int second)
      : TestConstraint(name, propagatorName, engine, scope), m_otherName(otherName), m_first(first), m_second(second) {}
  LabelStr m_otherName;
  int m_first;
  int m_second;
};

// An engine whose schema knows "int", "float" and "bool" and the test constraint under two names.
class ConstraintEngineByNameTest : public EngineFixture {
protected:
  ConstraintEngineByNameTest() {
    m_schema->registerDataType((new IntDT())->getId());
    m_schema->registerDataType((new FloatDT())->getId());
    m_schema->registerDataType((new BoolDT())->getId());
    m_schema->registerConstraintType((new ConcreteConstraintType<TestConstraint>("test", "Default", true))->getId());
    m_schema->registerConstraintType((new ConcreteConstraintType<TestConstraint>("alias", "Default", true))->getId());
  }

  // What a failed creation must leave exactly as it was.
  struct Census {
    std::size_t variables, constraints, entities, handles;
    bool operator==(const Census& o) const {
      return variables == o.variables && constraints == o.constraints && entities == o.entities && handles == o.handles;
    }
  };
  Census census() const {
    return Census{m_engine->getVariables().size(), m_engine->getConstraints().size(), Entity::liveCount(),
                  IdTable::size()};
  }
};

TEST_F(ConstraintEngineByNameTest, ValuesAndVariablesByTypeName) {
  EXPECT_EQ(m_engine->createValue("int", "7"), 7.0);
  EXPECT_EQ(m_engine->createValue("bool", "true"), 1.0);

  const Id<ConstrainedVariable> whole = m_engine->createVariable("int", false, true, "whole", Id<Entity>::noId(), -1);
  EXPECT_EQ(whole->baseDomain(), m_schema->baseDomain("int"));
  const Id<ConstrainedVariable> part = m_engine->createVariable("float", IntervalDomain(1, 3, FloatDT::instance()),
                                                                false, true, "part", Id<Entity>::noId(), -1);
  EXPECT_EQ(part->baseDomain(), IntervalDomain(1, 3, FloatDT::instance()));
  EXPECT_EQ(part->getName().toString(), "part");
  EXPECT_EQ(m_engine->getVariables().size(), 2u);
}

// The constraint bears the name it was created under and joins that type's propagator.
TEST_F(ConstraintEngineByNameTest, FactoriesBuildUnderTheirOwnName) {
  m_engine->setAutoPropagation(false);
  m_schema->registerConstraintType(
      (new RotatedNaryConstraintType<RotatingTestConstraint>("rotated", "Default", "test", -1))->getId());
  m_schema->registerConstraintType(
      (new SwapTwoVarsNaryConstraintType<SwappingTestConstraint>("swapped", "Default", "test", 2, 0))->getId());
  const Id<ConstrainedVariable> x = floatVar("x", 0, 10);
  const Id<ConstrainedVariable> y = floatVar("y", 0, 10);

  const Id<Constraint> viaAlias = m_engine->createConstraint("alias", makeScope(x, y));
  EXPECT_EQ(viaAlias->getName().toString(), "alias");
  EXPECT_EQ(viaAlias->getPropagator(), m_propagator->getId());
  EXPECT_EQ(viaAlias->getScope(), makeScope(x, y));
  EXPECT_EQ(m_propagator->agenda().count(viaAlias), 1u) << "waits for the next propagation";

  const Id<RotatingTestConstraint> rotated = m_engine->createConstraint("rotated", makeScope(x, y));
  EXPECT_EQ(rotated->m_otherName.toString(), "test");
  EXPECT_EQ(rotated->m_rotateCount, -1);
  const Id<SwappingTestConstraint> swapped = m_engine->createConstraint("swapped", makeScope(y, x));
  EXPECT_EQ(swapped->m_otherName.toString(), "test");
  EXPECT_EQ(swapped->m_first, 2);
  EXPECT_EQ(swapped->m_second, 0);
}

TEST_F(ConstraintEngineByNameTest, FactoryChecks) {
  ConstraintType base("base", "Default", false);
  const Census before = census();
  EXPECT_CHECK_FAILS(m_engine->createConstraint("test", {}), "scope.size() >= 1");
  EXPECT_CHECK_FAILS(m_schema->getConstraintType("test")->createConstraint(Id<ConstraintEngine>(), {}),
                     "constraintEngine.isValid()");
  EXPECT_CHECK_FAILS(base.createConstraint(engine(), {}), "ALWAYS_FAILS");
  // A refused factory leaves no registered handle behind.
  EXPECT_CHECK_FAILS(SwapTwoVarsNaryConstraintType<SwappingTestConstraint>("s", "Default", "t", 1, 1),
                     "first != second");
  EXPECT_CHECK_FAILS(RotatedNaryConstraintType<RotatingTestConstraint>("r", "Default", "r", 1), "name != otherName");
  EXPECT_TRUE(census() == before);
  EXPECT_TRUE(base.getArgTypes().empty());
  EXPECT_TRUE(base.checkArgTypes({FloatDT::instance()}));
}

// An unknown name is reported by the lookup, and nothing is created, registered or leaked.
TEST_F(ConstraintEngineByNameTest, UnknownNamesCreateNothing) {
  const Id<ConstrainedVariable> x = floatVar("x", 0, 10);
  const std::string noType = "no DataType found for type 'nope'";
  const struct {
    std::function<void()> create;
    const char* condition;
    std::string message;
  } cases[] = {
      {[&] { m_engine->createValue("nope", "1"); }, "it != m_dataTypes.end()", noType},
      {[&] { m_engine->createVariable("nope", false, true, "v", Id<Entity>::noId(), -1); }, "it != m_dataTypes.end()",
       noType},
      {[&] {
         m_engine->createVariable("nope", IntervalDomain(0, 1, FloatDT::instance()), false, true, "v",
                                  Id<Entity>::noId(), -1);
       },
       "it != m_dataTypes.end()", noType},
      {[&] { m_engine->createConstraint("nope", makeScope(x, x)); }, "it != m_constraintTypes.end()",
       "Factory for constraint 'nope' is not registered."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.condition + (" " + c.message));
    const Census before = census();
    Error e = failureOf(c.create);
    EXPECT_EQ(e.getCondition(), c.condition);
    EXPECT_EQ(e.getMessage(), c.message);
    EXPECT_TRUE(census() == before);
  }
}

// With auto-propagation on, creating and deleting a constraint each run the propagators at once.
TEST_F(ConstraintEngineByNameTest, CreatingAndDeletingPropagateAtOnce) {
  const Id<ConstrainedVariable> x = floatVar("x", 0, 10);
  const Id<Constraint> alone = m_engine->createConstraint("test", makeScope(x, x));
  EXPECT_TRUE(m_propagator->agenda().empty()) << "run before createConstraint returns";

  m_propagator->disable();
  const Id<Constraint> first = m_engine->createConstraint("test", makeScope(x, x));
  const Id<Constraint> second = m_engine->createConstraint("test", makeScope(x, x));
  EXPECT_EQ(m_propagator->agenda().size(), 2u);
  m_propagator->enable();
  m_engine->deleteConstraint(first);
  EXPECT_TRUE(m_propagator->agenda().empty()) << "run before deleteConstraint returns";
  EXPECT_EQ(m_engine->getConstraints().size(), 2u);
  EXPECT_TRUE(alone.isValid() && second.isValid());
}

// A propagator that tries to delete a constraint while it runs.
class DeletingPropagator : public TestPropagator {
public:
  DeletingPropagator(const Id<ConstraintEngine>& engine, const Id<Constraint>& target)
      : TestPropagator("Deleter", engine), m_target(target) {}
  Error m_refusal = Error("", "", 0);

protected:
  void runConstraint(const Id<Constraint>&) override {
    m_refusal = failureOf([this] { getConstraintEngine()->deleteConstraint(m_target); });
  }

private:
  Id<Constraint> m_target;
};

// A refused deletion leaves the constraint where it was.
TEST_F(ConstraintEngineByNameTest, DeletionRefusedBeforeAnythingGoes) {
  EXPECT_CHECK_FAILS(m_engine->deleteConstraint(Id<Constraint>()), "c.isValid()");
  m_engine->setAutoPropagation(false);
  const Id<ConstrainedVariable> x = floatVar("x", 0, 10);
  const Id<Constraint> target = m_engine->createConstraint("test", makeScope(x, x));
  DeletingPropagator* deleter = new DeletingPropagator(engine(), target);
  new TestConstraint("trigger", "Deleter", engine(), makeScope(x, x));
  m_engine->propagate();
  EXPECT_EQ(deleter->m_refusal.getCondition(), "!m_propInProgress");
  ASSERT_TRUE(target.isValid());
  EXPECT_EQ(m_engine->getConstraints().count(target), 1u);
  EXPECT_EQ(target->getPropagator(), m_propagator->getId());
}

} // namespace
} // namespace KALDEN
