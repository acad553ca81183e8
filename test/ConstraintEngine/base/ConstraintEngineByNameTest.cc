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

// Keeps the other name and the numbers that a rotating or swapping factory hands over.
class ForwardingTestConstraint : public TestConstraint {
public:
  ForwardingTestConstraint(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& engine,
                           const std::vector<Id<ConstrainedVariable> >& scope, const LabelStr& otherName,
                           const int& rotateCount)
      : TestConstraint(name, propagatorName, engine, scope), m_otherName(otherName), m_numbers{rotateCount} {}
  ForwardingTestConstraint(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& engine,
                           const std::vector<Id<ConstrainedVariable> >& scope, const LabelStr& otherName, int first,
                           int second)
      : TestConstraint(name, propagatorName, engine, scope), m_otherName(otherName), m_numbers{first, second} {}
  LabelStr m_otherName;
  std::vector<int> m_numbers;
};

// An engine whose schema knows "int", "float", "bool" and the test constraint as "test" and "alias".
class ConstraintEngineByNameTest : public EngineFixture {
protected:
  ConstraintEngineByNameTest() {
    m_schema->registerDataType((new IntDT())->getId());
    m_schema->registerDataType((new FloatDT())->getId());
    m_schema->registerDataType((new BoolDT())->getId());
    for (const char* name : {"test", "alias"})
      m_schema->registerConstraintType((new ConcreteConstraintType<TestConstraint>(name, "Default", true))->getId());
  }
  // What a failed creation must leave as it was.
  std::vector<std::size_t> census() const {
    return {m_engine->getVariables().size(), m_engine->getConstraints().size(), Entity::liveCount(),
            IdTable::size()};
  }
};

// Values and variables of a type name; a constraint bears the name it was created under.
TEST_F(ConstraintEngineByNameTest, CreationByName) {
  EXPECT_EQ(m_engine->createValue("int", "7") + m_engine->createValue("bool", "true"), 8.0);
  const IntervalDomain oneToThree(1, 3, FloatDT::instance());
  const Id<ConstrainedVariable> whole = m_engine->createVariable("int", false, true, "whole", Id<Entity>::noId(), -1);
  const Id<ConstrainedVariable> part =
      m_engine->createVariable("float", oneToThree, false, true, "part", Id<Entity>::noId(), -1);
  EXPECT_EQ(whole->baseDomain(), m_schema->baseDomain("int"));
  EXPECT_EQ(part->baseDomain(), oneToThree);
  m_engine->setAutoPropagation(false);
  m_schema->registerConstraintType(
      (new RotatedNaryConstraintType<ForwardingTestConstraint>("rotated", "Default", "test", -1))->getId());
  m_schema->registerConstraintType(
      (new SwapTwoVarsNaryConstraintType<ForwardingTestConstraint>("swapped", "Default", "test", 2, 0))->getId());
  const Id<ConstrainedVariable> x = whole, y = part;
  const Id<Constraint> viaAlias = m_engine->createConstraint("alias", makeScope(x, y));
  EXPECT_EQ(viaAlias->getName().toString(), "alias");
  EXPECT_EQ(viaAlias->getScope(), makeScope(x, y));
  EXPECT_EQ(m_propagator->agenda().count(viaAlias), 1u) << "waits for the next propagation";
  const Id<ForwardingTestConstraint> rotated = m_engine->createConstraint("rotated", makeScope(x, y));
  const Id<ForwardingTestConstraint> swapped = m_engine->createConstraint("swapped", makeScope(y, x));
  EXPECT_EQ(rotated->getName().toString() + rotated->m_otherName.toString(), "rotatedtest");
  EXPECT_EQ(rotated->m_numbers, std::vector<int>({-1}));
  EXPECT_EQ(swapped->m_numbers, std::vector<int>({2, 0}));
  EXPECT_EQ(swapped->getPropagator(), m_propagator->getId());
}

TEST_F(ConstraintEngineByNameTest, FactoryChecks) {
  ConstraintType base("base", "Default", false);
  const std::vector<std::size_t> before = census();
  EXPECT_CHECK_FAILS(m_engine->createConstraint("test", {}), "scope.size() >= 1");
  EXPECT_CHECK_FAILS(m_schema->getConstraintType("test")->createConstraint(Id<ConstraintEngine>(), {}),
                     "constraintEngine.isValid()");
  EXPECT_CHECK_FAILS(base.createConstraint(engine(), {}), "ALWAYS_FAILS");
  // A refused factory leaves no registered handle behind.
  EXPECT_CHECK_FAILS(SwapTwoVarsNaryConstraintType<ForwardingTestConstraint>("s", "Default", "t", 1, 1),
                     "first != second");
  EXPECT_CHECK_FAILS(RotatedNaryConstraintType<ForwardingTestConstraint>("r", "Default", "r", 1), "name != otherName");
  EXPECT_EQ(census(), before);
}

// An unknown name is reported by the lookup, and nothing is created, registered or leaked.
TEST_F(ConstraintEngineByNameTest, UnknownNamesCreateNothing) {
  const Id<ConstrainedVariable> x = floatVar("x", 0, 10);
  const IntervalDomain unit(0, 1, FloatDT::instance());
  const std::string noType = "no DataType found for type 'nope'";
  const struct {
    std::function<void()> create;
    const char* condition;
    std::string message;
  } cases[] = {
      {[&] { m_engine->createValue("nope", "1"); }, "it != m_dataTypes.end()", noType},
      {[&] { m_engine->createVariable("nope", false, true, "v", Id<Entity>::noId(), -1); },
       "it != m_dataTypes.end()", noType},
      {[&] { m_engine->createVariable("nope", unit, false, true, "v", Id<Entity>::noId(), -1); },
       "it != m_dataTypes.end()", noType},
      {[&] { m_engine->createConstraint("nope", makeScope(x, x)); }, "it != m_constraintTypes.end()",
       "Factory for constraint 'nope' is not registered."},
  };
  for (const auto& c : cases) {
    const std::vector<std::size_t> before = census();
    Error e = failureOf(c.create);
    EXPECT_EQ(e.getCondition() + " " + e.getMessage(), c.condition + (" " + c.message));
    EXPECT_EQ(census(), before);
  }
}

// With auto-propagation on, creating and deleting a constraint each run the propagators at once.
TEST_F(ConstraintEngineByNameTest, CreatingAndDeletingPropagateAtOnce) {
  const Id<ConstrainedVariable> x = floatVar("x", 0, 10);
  m_engine->createConstraint("test", makeScope(x, x));
  EXPECT_TRUE(m_propagator->agenda().empty()) << "run before createConstraint returns";
  m_propagator->disable();
  const Id<Constraint> first = m_engine->createConstraint("test", makeScope(x, x));
  m_engine->createConstraint("test", makeScope(x, x));
  EXPECT_EQ(m_propagator->agenda().size(), 2u);
  m_propagator->enable();
  m_engine->deleteConstraint(first);
  EXPECT_TRUE(m_propagator->agenda().empty()) << "run before deleteConstraint returns";
  EXPECT_EQ(m_engine->getConstraints().size(), 2u);
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
