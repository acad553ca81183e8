#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstraintType.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "Utils/IdTable.hh"

#include "support/CapturedTraces.hh"
#include "support/Failure.hh"
#include "support/TestConstraints.hh"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace KALDEN {
namespace {

// Each test must leave the handle registry as it found it: the schema frees what it owns.
class CESchemaTest : public ::testing::Test {
protected:
  ~CESchemaTest() override {
    m_schema.reset();
    EXPECT_EQ(IdTable::size(), m_handles) << "handles left behind";
  }
  static Id<ConstraintType> factory(const char* name) {
    return (new ConcreteConstraintType<TestConstraint>(name, "Default", false))->getId();
  }

  std::size_t m_handles = IdTable::size();
  std::unique_ptr<CESchema> m_schema{new CESchema()};
};

// Both registries: the very object registered again stays; a namesake replaces and destroys it.
TEST_F(CESchemaTest, RegistrationAndReplacement) {
  auto check = [](auto make, auto registerIt, auto lookUp, const std::string& marker, const std::string& replacing,
                  const std::string& registered) {
    const auto first = make();
    registerIt(first);
    registerIt(first);
    EXPECT_TRUE(first.isValid());
    EXPECT_EQ(lookUp(), first);
    const auto second = make();
    CapturedTraces traces(marker);
    registerIt(second);
    EXPECT_FALSE(first.isValid());
    EXPECT_EQ(lookUp(), second);
    EXPECT_EQ(traces.text(), "[" + marker + "]" + replacing + "\n[" + marker + "]" + registered + "\n");
  };
  check([] { return (new IntDT())->getId(); }, [this](const Id<DataType>& dt) { m_schema->registerDataType(dt); },
        [this] { return m_schema->getDataType("int"); }, "CESchema::registerDataType",
        "Over-writing prior registration for int", "Registered data type int");
  check([] { return factory("eq"); }, [this](const Id<ConstraintType>& f) { m_schema->registerConstraintType(f); },
        [this] { return m_schema->getConstraintType("eq"); }, "CESchema:registerConstraintType",
        "Over-riding prior registration for eq", "Registered Constraint Type eq");

  EXPECT_EQ(&m_schema->baseDomain("int"), &m_schema->getDataType("int")->baseDomain()) << "not a copy";
  EXPECT_CHECK_FAILS(m_schema->registerDataType(Id<DataType>()), "dt.isValid()");
  EXPECT_CHECK_FAILS(m_schema->registerConstraintType(Id<ConstraintType>()), "factory.isValid()");
}

TEST_F(CESchemaTest, UnknownNames) {
  testing::internal::CaptureStderr();
  EXPECT_FALSE(m_schema->isConstraintType("quiet"));
  EXPECT_FALSE(m_schema->isConstraintType("loud", true));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "\nConstraint Type <loud> has not been registered\n");

  CapturedTraces traces("kalden:error");
  Error noType = failureOf([&] { m_schema->getDataType("nope"); });
  EXPECT_EQ(noType.getCondition(), "it != m_dataTypes.end()");
  EXPECT_EQ(noType.getMessage(), "no DataType found for type 'nope'");
  Error noFactory = failureOf([&] { m_schema->getConstraintType("nope"); });
  EXPECT_EQ(noFactory.getCondition(), "it != m_constraintTypes.end()");
  EXPECT_EQ(noFactory.getMessage(), "Factory for constraint 'nope' is not registered.");
  EXPECT_EQ(traces.text(), "[kalden:error]no DataType found for type 'nope'\n"
                           "[kalden:error]Factory for constraint 'nope' is not registered.\n");
}

// Purging the factories leaves the data types; destroying the schema frees everything and its handle.
TEST_F(CESchemaTest, PurgeAndDestruction) {
  const Id<DataType> type = (new FloatDT())->getId();
  m_schema->registerDataType(type);
  const Id<ConstraintType> first = factory("purgedFirst");
  const Id<ConstraintType> second = factory("purgedSecond");
  m_schema->registerConstraintType(second);
  m_schema->registerConstraintType(first);
  CapturedTraces traces("CESchema:purgeAll");
  m_schema->purgeConstraintTypes();
  EXPECT_EQ(traces.text(), "[CESchema:purgeAll]Removing constraint type purgedFirst\n"
                           "[CESchema:purgeAll]Removing constraint type purgedSecond\n");
  EXPECT_FALSE(first.isValid() || second.isValid() || m_schema->isConstraintType("purgedFirst"));
  EXPECT_TRUE(m_schema->isDataType("float"));

  const Id<ConstraintType> kept = factory("kept");
  m_schema->registerConstraintType(kept);
  const Id<CESchema> schema = m_schema->getId();
  m_schema.reset();
  EXPECT_FALSE(schema.isValid() || type.isValid() || kept.isValid());
}

} // namespace
} // namespace KALDEN
