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
      : TestConstraint(name, propagatorName, engine, scope), m_otherName(otherName), m_first(first),
        m_second(second) {}
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
      return variables == o.variables && constraints == o.constraints && entities == o.entities &&
             handles == o.handles;
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
  const Id<ConstrainedVariable> part = m_engine->createVariable(
      "float", IntervalDomain(1, 3, FloatDT::instance()), false, true, "part", Id<Entity>::noId(), -1);
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
      {[&] { m_engine->createVariable("nope", false, true, "v", Id<Entity>::noId(), -1); },
       "it != m_dataTypes.end()", noType},
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

} // namespace
} // namespace KALDEN
