#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/Domains.hh"

#include "support/Failure.hh"

#include <gtest/gtest.h>

#include <string>

namespace KALDEN {
namespace {

TEST(DataTypesTest, ReadingValues) {
  struct {
    const Id<DataType>& type;
    const char* text;
    double value;
  } cases[] = {
      {IntDT::instance(), "inf", PLUS_INFINITY},     {IntDT::instance(), "+inf", PLUS_INFINITY},
      {IntDT::instance(), "-inf", MINUS_INFINITY},   {IntDT::instance(), "inff", 0},
      {IntDT::instance(), "3.9", 3},                 {IntDT::instance(), "-2", -2},
      {IntDT::instance(), "99999999999", 2147483647}, {IntDT::instance(), "-99999999999", -2147483648.0},
      {FloatDT::instance(), "-inff", MINUS_INFINITY}, {FloatDT::instance(), "-inf", MINUS_INFINITY},
      {FloatDT::instance(), "inff", PLUS_INFINITY},  {FloatDT::instance(), "+inff", PLUS_INFINITY},
      {FloatDT::instance(), "2.5", 2.5},             {FloatDT::instance(), "2e2", 200},
      {BoolDT::instance(), "true", 1},               {BoolDT::instance(), "false", 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.type->createValue(c.text), c.value) << c.type->getName().toString() << " " << c.text;

  for (const char* text : {"TRUE", "1"}) {
    Error e = failureOf([&] { BoolDT::instance()->createValue(text); });
    EXPECT_EQ(e.getCondition(), "ALWAYS_FAILS");
    EXPECT_EQ(e.getMessage(), std::string("string value for boolean should be 'true' or 'false', not '") + text + "'");
    EXPECT_EQ(e.getFile(), "ConstraintEngine/component/DataTypes");
  }
}

TEST(DataTypesTest, BoolTexts) {
  EXPECT_EQ(BoolDT::instance()->toString(1.0), "true");
  EXPECT_EQ(BoolDT::instance()->toString(0.0), "false");
  Error e = failureOf([] { BoolDT::instance()->toString(0.5); });
  EXPECT_EQ(e.getCondition(), "value == true || value == false");
  EXPECT_EQ(e.getMessage(), "0.5is not a bool value");
}

TEST(DataTypesTest, BuiltInTypes) {
  struct {
    const Id<DataType>& type;
    const std::string& name;
    bool isBool;
    const char* base;
  } cases[] = {
      {FloatDT::instance(), FloatDT::NAME(), false, "float:CLOSED[-inf, +inf]"},
      {IntDT::instance(), IntDT::NAME(), false, "int:CLOSED[-inf, +inf]"},
      {BoolDT::instance(), BoolDT::NAME(), true, "bool:CLOSED[0, 1]"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.type->getName().toString(), c.name);
    EXPECT_TRUE(c.type->isNumeric());
    EXPECT_FALSE(c.type->isString() || c.type->isSymbolic() || c.type->isEntity());
    EXPECT_EQ(c.type->isBool(), c.isBool);
    EXPECT_EQ(c.type->baseDomain().toString(), c.base);
    EXPECT_EQ(c.type->baseDomain().getDataType(), c.type);
  }
  EXPECT_EQ(&FloatDT::NAME(), &FloatDT::NAME());
  EXPECT_EQ(IntDT::instance(), IntDT::instance());
  IntDT another;
  EXPECT_NE(another.getId(), IntDT::instance());
  EXPECT_EQ(another.getName(), IntDT::instance()->getName());
}

TEST(DataTypesTest, VariablesAreNotAvailableYet) {
  IntervalDomain dom(FloatDT::instance());
  Error e = failureOf([&] {
    FloatDT::instance()->createVariable(Id<ConstraintEngine>(), dom, false, true, "x", Id<Entity>(), -1);
  });
  EXPECT_EQ(e.getCondition(), "ALWAYS_FAILS");
}

} // namespace
} // namespace KALDEN
