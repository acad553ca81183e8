#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstraintType.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "Utils/IdTable.hh"

#include "support/CapturedTraces.hh"
#include "support/Failure.hh"
#include "support/TestConstraints.hh"

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <string>

namespace KALDEN {
namespace {

using TestType = ConcreteConstraintType<TestConstraint>;

// Every test starts and ends with the handle registry as it found it: the schema frees what it owns.
class CESchemaTest : public ::testing::Test {
protected:
  CESchemaTest() : m_handles(IdTable::size()), m_schema(new CESchema()) {}
  ~CESchemaTest() override {
    m_schema.reset();
    EXPECT_EQ(IdTable::size(), m_handles) << "handles left behind";
  }

  Id<ConstraintType> factory(const char* name) { return (new TestType(name, "Default", false))->getId(); }

  std::size_t m_handles;
  std::unique_ptr<CESchema> m_schema;
};

TEST_F(CESchemaTest, DataTypesRegisteredLookedUpAndReplaced) {
  const Id<DataType> first = (new IntDT())->getId();
  m_schema->registerDataType(first);
  EXPECT_TRUE(m_schema->isDataType("int"));
  EXPECT_FALSE(m_schema->isDataType("float"));
  EXPECT_EQ(m_schema->getDataType("int"), first);
  EXPECT_EQ(&m_schema->baseDomain("int"), &first->baseDomain()) << "the type's own domain, not a copy";

  // The very object again: nothing is destroyed, nothing changes.
  m_schema->registerDataType(first);
  EXPECT_TRUE(first.isValid());
  EXPECT_EQ(m_schema->getDataType("int"), first);

  const Id<DataType> second = (new IntDT())->getId();
  CapturedTraces traces("CESchema::registerDataType");
  m_schema->registerDataType(second);
  EXPECT_FALSE(first.isValid()) << "the replaced type is deleted";
  EXPECT_EQ(m_schema->getDataType("int"), second);
  EXPECT_EQ(traces.text(), "[CESchema::registerDataType]Over-writing prior registration for int\n"
                           "[CESchema::registerDataType]Registered data type int\n");

  EXPECT_CHECK_FAILS(m_schema->registerDataType(Id<DataType>()), "dt.isValid()");
  m_schema->purgeDataTypes();
  EXPECT_FALSE(second.isValid());
  EXPECT_FALSE(m_schema->isDataType("int"));
}

TEST_F(CESchemaTest, ConstraintTypesRegisteredLookedUpAndReplaced) {
  const Id<ConstraintType> first = factory("eq");
  m_schema->registerConstraintType(first);
  EXPECT_TRUE(m_schema->isConstraintType("eq"));
  EXPECT_EQ(&m_schema->getConstraintType("eq"), &m_schema->getConstraintType("eq")) << "the registry's entry";
  EXPECT_EQ(m_schema->getConstraintType("eq"), first);

  m_schema->registerConstraintType(first);
  EXPECT_TRUE(first.isValid()) << "registering the very object again destroys nothing";

  const Id<ConstraintType> second = factory("eq");
  CapturedTraces traces("CESchema:registerConstraintType");
  m_schema->registerConstraintType(second);
  EXPECT_FALSE(first.isValid()) << "the replaced factory is released";
  EXPECT_EQ(m_schema->getConstraintType("eq"), second);
  EXPECT_EQ(traces.text(), "[CESchema:registerConstraintType]Over-riding prior registration for eq\n"
                           "[CESchema:registerConstraintType]Registered Constraint Type eq\n");
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
  EXPECT_EQ(noType.getFile(), "ConstraintEngine/base/CESchema");
  EXPECT_CHECK_FAILS(m_schema->baseDomain("nope"), "it != m_dataTypes.end()");
  Error noFactory = failureOf([&] { m_schema->getConstraintType("nope"); });
  EXPECT_EQ(noFactory.getCondition(), "it != m_constraintTypes.end()");
  EXPECT_EQ(noFactory.getMessage(), "Factory for constraint 'nope' is not registered.");
  EXPECT_EQ(traces.text(), "[kalden:error]no DataType found for type 'nope'\n"
                           "[kalden:error]no DataType found for type 'nope'\n"
                           "[kalden:error]Factory for constraint 'nope' is not registered.\n");
}

// Purging the factories leaves the data types; destroying the schema frees everything and its handle.
TEST_F(CESchemaTest, PurgeAndDestruction) {
  m_schema->purgeConstraintTypes(); // empty: nothing to do
  const Id<DataType> type = (new FloatDT())->getId();
  m_schema->registerDataType(type);
  const Id<ConstraintType> a = factory("purgedFirst");
  const Id<ConstraintType> b = factory("purgedSecond");
  m_schema->registerConstraintType(a);
  m_schema->registerConstraintType(b);

  CapturedTraces traces("CESchema:purgeAll");
  m_schema->purgeConstraintTypes();
  EXPECT_EQ(traces.text(), "[CESchema:purgeAll]Removing constraint type purgedFirst\n"
                           "[CESchema:purgeAll]Removing constraint type purgedSecond\n");
  EXPECT_FALSE(a.isValid() || b.isValid());
  EXPECT_FALSE(m_schema->isConstraintType("purgedFirst"));
  EXPECT_TRUE(m_schema->isDataType("float"));

  const Id<ConstraintType> c = factory("c");
  m_schema->registerConstraintType(c);
  const Id<CESchema> schema = m_schema->getId();
  m_schema.reset();
  EXPECT_FALSE(schema.isValid() || type.isValid() || c.isValid());
}

} // namespace
} // namespace KALDEN
