#include "ConstraintEngine/base/PSVarValue.hh"
#include "ConstraintEngine/component/DataTypes.hh"

#include "Utils/Entity.hh"
#include "Utils/LabelStr.hh"
#include "Utils/base/PSList.hh"

#include "support/Failure.hh"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

namespace KALDEN {
namespace {

// Registered as a variable is: under its own address, which is that of its Entity part.
class Thing : public Entity {
public:
  Thing() : m_id(this) {}
  ~Thing() override { m_id.remove(); }
  const LabelStr& getName() const override {
    static const LabelStr sl_name("thing");
    return sl_name;
  }

private:
  Id<Thing> m_id;
};

double addressOf(const void* object) { return static_cast<double>(reinterpret_cast<std::uintptr_t>(object)); }

TEST(PSVarValueTest, ReadAndPrintEveryTag) {
  const double hello = LabelStr("hello");
  struct {
    PSVarValue value;
    const char* text;
  } cases[] = {
      {{2.9, INTEGER}, "2"},  {{-2.9, INTEGER}, "-2"},    {{1e20, INTEGER}, "2147483647"},
      {{0.5, BOOLEAN}, "1"},  {{0.0, BOOLEAN}, "0"},      {{1.0 / 3.0, DOUBLE}, "0.3333333333"},
      {{2.5, DOUBLE}, "2.5"}, {{hello, STRING}, "hello"}, {{0.0, OBJECT}, "OBJECT:noId"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.value.toString(), c.text) << c.value.asDouble();
  EXPECT_EQ(PSVarValue(-2.9, INTEGER).asInt(), -2);
  EXPECT_EQ(PSVarValue(-1e20, INTEGER).asInt(), INT_MIN);
  EXPECT_TRUE(PSVarValue(0.5, BOOLEAN).asBoolean());
  EXPECT_EQ(PSVarValue(hello, STRING).asString(), "hello");
  EXPECT_EQ(PSVarValue(hello, STRING).asDouble(), hello);
  EXPECT_EQ(PSVarValue(0.0, OBJECT).asObject(), nullptr);

  EXPECT_CHECK_FAILS(PSVarValue(1.0, DOUBLE).asInt(), "m_type == INTEGER");
  EXPECT_CHECK_FAILS(PSVarValue(1.0, INTEGER).asBoolean(), "m_type == BOOLEAN");
  EXPECT_CHECK_FAILS(PSVarValue(hello, OBJECT).asString(), "m_type == STRING");
  EXPECT_CHECK_FAILS(PSVarValue(hello, STRING).asObject(), "m_type == OBJECT");
  Error unknown = failureOf([] { PSVarValue(1.0, static_cast<PSVarType>(5)).toString(); });
  EXPECT_EQ(unknown.getCondition(), "ALWAYS_FAILS");
  EXPECT_EQ(unknown.getMessage(), "Unknown type");
}

// An object value finds its entity from the registered address and reaches its PSEntity part
// through the language's conversion to a virtual base; an address of anything else fails.
TEST(PSVarValueTest, ObjectValuesFindTheirEntity) {
  Thing thing;
  PSEntity* expected = &thing;
  PSVarValue value(addressOf(&thing), OBJECT);
  EXPECT_EQ(value.asObject(), expected);
  EXPECT_EQ(value.asObject()->getKey(), thing.getKey());
  EXPECT_EQ(value.toString(), "OBJECT:" + thing.toString());

  int unregistered = 0;
  EXPECT_CHECK_FAILS(PSVarValue(addressOf(&unregistered), OBJECT).asObject(), "m_key != 0");
  EXPECT_CHECK_FAILS(PSVarValue(2.5, OBJECT).asObject(), "m_key != 0");
  // Registered, but a data type and no entity.
  const DataType* type = IntDT::instance().operator->();
  EXPECT_CHECK_FAILS(PSVarValue(addressOf(type), OBJECT).asObject(), "entity.isValid()");
}

TEST(PSVarValueTest, ListsKeepValuesInOrder) {
  PSList<PSVarValue> values;
  EXPECT_EQ(values.size(), 0);
  values.push_back(PSVarValue(3, INTEGER));
  values.push_back(PSVarValue(LabelStr("x"), STRING));
  PSList<PSVarValue> copied = values;
  ASSERT_EQ(copied.size(), 2);
  EXPECT_EQ(copied.get(0).asInt(), 3);
  EXPECT_EQ(copied.get(1).getType(), STRING);
  EXPECT_EQ(copied.get(1).toString(), "x");
}

} // namespace
} // namespace KALDEN
