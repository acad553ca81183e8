#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/Domains.hh"

#include "support/Failure.hh"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace KALDEN {
namespace {

TEST(DataTypesTest, ReadingValues) {
  struct {
    const Id<DataType>& type;
    const char* text;
    double value;
  } cases[] = {
      {IntDT::instance(), "inf", PLUS_INFINITY},
      {IntDT::instance(), "+inf", PLUS_INFINITY},
      {IntDT::instance(), "-inf", MINUS_INFINITY},
      {IntDT::instance(), "-2", -2},
      {IntDT::instance(), " 7 ", 7},
      {IntDT::instance(), "2147483647", 2147483647.0},
      {FloatDT::instance(), "-inff", MINUS_INFINITY},
      {FloatDT::instance(), "-inf", MINUS_INFINITY},
      {FloatDT::instance(), "inff", PLUS_INFINITY},
      {FloatDT::instance(), "+inff", PLUS_INFINITY},
      {FloatDT::instance(), "inf", PLUS_INFINITY},
      {FloatDT::instance(), "+inf", PLUS_INFINITY},
      {FloatDT::instance(), "2.5", 2.5},
      {FloatDT::instance(), "2e2", 200},
      {FloatDT::instance(), "-0.5\t", -0.5},
      {BoolDT::instance(), "true", 1},
      {BoolDT::instance(), "false", 0},
      {StringDT::instance(), "hello", LabelStr("hello")},
      {SymbolDT::instance(), "hello", LabelStr("hello")},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.type->createValue(c.text), c.value) << c.type->getName().toString() << " " << c.text;
  EXPECT_EQ(SymbolDT::instance()->toString(StringDT::instance()->createValue("hello")), "hello");

  for (const char* text : {"TRUE", "1"}) {
    Error e = failureOf([&] { BoolDT::instance()->createValue(text); });
    EXPECT_EQ(e.getCondition(), "ALWAYS_FAILS");
    EXPECT_EQ(e.getMessage(), std::string("string value for boolean should be 'true' or 'false', not '") + text + "'");
    EXPECT_EQ(e.getFile(), "ConstraintEngine/component/DataTypes");
  }
}

// Bad text is refused with a message naming the text and the type, never read as 0 or clipped.
TEST(DataTypesTest, BadNumberTextsFail) {
  struct {
    const Id<DataType>& type;
    const char* text;
  } cases[] = {
      {IntDT::instance(), "abc"},        {IntDT::instance(), "3.9"},     {IntDT::instance(), "inff"},
      {IntDT::instance(), "2147483648"}, {IntDT::instance(), ""},        {IntDT::instance(), "1e3"},
      {IntDT::instance(), "0x10"},       {IntDT::instance(), "12 3"},    {FloatDT::instance(), "abc"},
      {FloatDT::instance(), "1.5x"},     {FloatDT::instance(), "1e999"}, {FloatDT::instance(), "nan"},
      {FloatDT::instance(), " "},        {FloatDT::instance(), "INF"},
  };
  for (const auto& c : cases) {
    Error e = failureOf([&] { c.type->createValue(c.text); });
    const std::string name = c.type->getName().toString();
    EXPECT_NE(e.getMessage().find(std::string("'") + c.text + "'"), std::string::npos) << name << " " << c.text;
    EXPECT_NE(e.getMessage().find(name), std::string::npos) << e.getMessage();
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
    std::shared_ptr<DataType> own;
    const Id<DataType>& shared;
    const std::string& name;
    bool numeric, isBool, isString, symbolic;
    const char* base;
  } cases[] = {
      {std::make_shared<VoidDT>(), VoidDT::instance(), VoidDT::NAME(), false, false, false, true, nullptr},
      {std::make_shared<FloatDT>(), FloatDT::instance(), FloatDT::NAME(), true, false, false, false,
       "float:CLOSED[-inf, +inf]"},
      {std::make_shared<IntDT>(), IntDT::instance(), IntDT::NAME(), true, false, false, false,
       "int:CLOSED[-inf, +inf]"},
      {std::make_shared<BoolDT>(), BoolDT::instance(), BoolDT::NAME(), true, true, false, false, "bool:CLOSED[0, 1]"},
      {std::make_shared<StringDT>(), StringDT::instance(), StringDT::NAME(), false, false, true, true, "string:OPEN{}"},
      {std::make_shared<SymbolDT>(), SymbolDT::instance(), SymbolDT::NAME(), false, false, false, true,
       "symbol:OPEN{}"},
  };
  for (const auto& c : cases) {
    // The registered object and the shared instance answer alike but are two types.
    EXPECT_NE(c.own->getId(), c.shared);
    for (const DataType* t :
         {static_cast<const DataType*>(c.own.get()), static_cast<const DataType*>(c.shared.operator->())}) {
      EXPECT_EQ(t->getName().toString(), c.name);
      EXPECT_EQ(t->isNumeric(), c.numeric) << c.name;
      EXPECT_EQ(t->isBool(), c.isBool) << c.name;
      EXPECT_EQ(t->isString(), c.isString) << c.name;
      EXPECT_EQ(t->isSymbolic(), c.symbolic) << c.name;
      EXPECT_FALSE(t->isEntity());
      if (c.base == nullptr)
        continue;
      EXPECT_EQ(t->baseDomain().toString(), c.base);
      EXPECT_EQ(t->baseDomain().getDataType(), t->getId());
    }
  }
  EXPECT_NE(dynamic_cast<const StringDomain*>(&StringDT::instance()->baseDomain()), nullptr);
  EXPECT_NE(dynamic_cast<const SymbolDomain*>(&SymbolDT::instance()->baseDomain()), nullptr);
  EXPECT_EQ(&FloatDT::NAME(), &FloatDT::NAME());
  EXPECT_EQ(IntDT::instance(), IntDT::instance());
  EXPECT_TRUE(SymbolDT::instance()->canBeCompared(VoidDT::instance()));
  EXPECT_FALSE(SymbolDT::instance()->canBeCompared(StringDT::instance()));
}

TEST(DataTypesTest, VoidHasNoValuesVariablesOrDomain) {
  EXPECT_EQ(failureOf([] { VoidDT::instance()->createValue("x"); }).getMessage(), "can't create void value");
  IntervalDomain dom(FloatDT::instance());
  auto create = [&](const Id<DataType>& type) {
    return failureOf([&] { type->createVariable(Id<ConstraintEngine>(), dom, false, true, "x", Id<Entity>(), -1); });
  };
  EXPECT_EQ(create(VoidDT::instance()).getMessage(), "can't create void variable");
  EXPECT_EQ(create(FloatDT::instance()).getCondition(), "m_constraintEngine.isValid()"); // no engine to build in
  EXPECT_CHECK_FAILS(VoidDT::instance()->baseDomain(), "m_baseDomain != NULL");
}

TEST(DataTypesTest, RestrictedTypesReadValuesAsTheirBaseType) {
  std::unique_ptr<IntervalIntDomain> range(new IntervalIntDomain(1, 5, IntDT::instance()));
  RestrictedDT small("small", IntDT::instance(), *range);
  range.reset(); // the type keeps its own copy
  EXPECT_TRUE(small.getIsRestricted());
  EXPECT_TRUE(small.isNumeric());
  EXPECT_FALSE(small.isBool());
  EXPECT_TRUE(small.canBeCompared(FloatDT::instance()));
  EXPECT_EQ(small.baseDomain().getDataType(), small.getId());
  EXPECT_EQ(small.baseDomain().toString(), "small:CLOSED[1, 5]");
  EXPECT_EQ(small.createValue("3"), 3.0);
  EXPECT_EQ(small.createValue("inf"), PLUS_INFINITY);
  EXPECT_NE(failureOf([&] { small.createValue("3.5"); }).getMessage().find("'3.5'"), std::string::npos);

  RestrictedDT flag("flag", BoolDT::instance(), BoolDomain(true, BoolDT::instance()));
  EXPECT_TRUE(flag.isBool());
  EXPECT_EQ(flag.createValue("true"), 1.0);
  EXPECT_EQ(flag.createValue("false"), 0.0);

  RestrictedDT colours("colour", SymbolDT::instance(),
                       SymbolDomain({LabelStr("red"), LabelStr("blue")}, SymbolDT::instance()));
  EXPECT_TRUE(colours.isSymbolic());
  EXPECT_TRUE(colours.canBeCompared(SymbolDT::instance()));
  EXPECT_EQ(colours.createValue("red"), LabelStr("red").getKey());
  EXPECT_EQ(colours.baseDomain().toString(), "colour:CLOSED{blue,red}");

  Id<DataType> gone;
  {
    IntDT temporary;
    gone = temporary.getId();
  }
  EXPECT_CHECK_FAILS(RestrictedDT("stale", gone, IntervalIntDomain(1, 2, IntDT::instance())), "m_baseType.isValid()");
}

} // namespace
} // namespace KALDEN
