#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/Domains.hh"

#include "support/Failure.hh"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace KALDEN {
namespace {

TEST(DataTypesTest, ValueTexts) {
  struct {
    const Id<DataType>& type;
    const char* text;
    double value;
  } cases[] = {
      {IntDT::instance(), "inf", PLUS_INFINITY},     {IntDT::instance(), "+inf", PLUS_INFINITY},
      {IntDT::instance(), "-inf", MINUS_INFINITY},   {IntDT::instance(), "-2", -2},
      {IntDT::instance(), " 7 ", 7},                 {IntDT::instance(), "2147483647", 2147483647.0},
      {FloatDT::instance(), "-inff", MINUS_INFINITY}, {FloatDT::instance(), "-inf", MINUS_INFINITY},
      {FloatDT::instance(), "inff", PLUS_INFINITY},  {FloatDT::instance(), "+inff", PLUS_INFINITY},
      {FloatDT::instance(), "inf", PLUS_INFINITY},   {FloatDT::instance(), "+inf", PLUS_INFINITY},
      {FloatDT::instance(), "2.5", 2.5},             {FloatDT::instance(), "2e2", 200},
      {FloatDT::instance(), "-0.5\t", -0.5},         {BoolDT::instance(), "true", 1},
      {BoolDT::instance(), "false", 0},              {StringDT::instance(), "hello", LabelStr("hello")},
      {SymbolDT::instance(), "hello", LabelStr("hello")},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.type->createValue(c.text), c.value) << c.type->getName().toString() << " '" << c.text << "'";
  EXPECT_EQ(SymbolDT::instance()->toString(StringDT::instance()->createValue("hello")), "hello");
  EXPECT_EQ(BoolDT::instance()->toString(1.0), "true");
  EXPECT_EQ(BoolDT::instance()->toString(0.0), "false");
  EXPECT_CHECK_FAILS(BoolDT::instance()->toString(0.5), "value == true || value == false");
}

// Bad text is refused with a message naming the text and the type, never read as 0.
TEST(DataTypesTest, BadValueTextsFail) {
  struct {
    const Id<DataType>& type;
    const char* text;
  } cases[] = {
      {IntDT::instance(), "abc"},      {IntDT::instance(), "3.9"},  {IntDT::instance(), "inff"},
      {IntDT::instance(), "2147483648"}, {IntDT::instance(), ""},   {IntDT::instance(), "1e3"},
      {IntDT::instance(), "0x10"},     {IntDT::instance(), "12 3"}, {FloatDT::instance(), "abc"},
      {FloatDT::instance(), "1.5x"},   {FloatDT::instance(), "1e999"}, {FloatDT::instance(), "nan"},
      {FloatDT::instance(), " "},      {FloatDT::instance(), "INF"},
  };
  for (const auto& c : cases) {
    Error e = failureOf([&] { c.type->createValue(c.text); });
    const std::string name = c.type->getName().toString();
    EXPECT_NE(e.getMessage().find(std::string("'") + c.text + "'"), std::string::npos) << name << " " << c.text;
    EXPECT_NE(e.getMessage().find(name), std::string::npos) << e.getMessage();
  }
  for (const char* text : {"TRUE", "1", ""})
    EXPECT_EQ(failureOf([&] { BoolDT::instance()->createValue(text); }).getMessage(),
              std::string("string value for boolean should be 'true' or 'false', not '") + text + "'");
  EXPECT_EQ(failureOf([] { VoidDT::instance()->createValue("x"); }).getMessage(), "can't create void value");
  IntervalDomain anything(FloatDT::instance());
  EXPECT_EQ(failureOf([&] { VoidDT::instance()->createVariable(Id<ConstraintEngine>(), anything, false, true, "v",
                                                               Id<Entity>(), 0); })
                .getMessage(),
            "can't create void variable");
  EXPECT_CHECK_FAILS(VoidDT::instance()->baseDomain(), "m_baseDomain != NULL");
}

TEST(DataTypesTest, KindsNamesAndBaseDomains) {
  struct {
    std::shared_ptr<DataType> own;
    const Id<DataType>& shared;
    const char* name;
    bool numeric, isBool, isString, symbolic;
  } cases[] = {
      {std::make_shared<VoidDT>(), VoidDT::instance(), "void", false, false, false, true},
      {std::make_shared<FloatDT>(), FloatDT::instance(), "float", true, false, false, false},
      {std::make_shared<IntDT>(), IntDT::instance(), "int", true, false, false, false},
      {std::make_shared<BoolDT>(), BoolDT::instance(), "bool", true, true, false, false},
      {std::make_shared<StringDT>(), StringDT::instance(), "string", false, false, true, true},
      {std::make_shared<SymbolDT>(), SymbolDT::instance(), "symbol", false, false, false, true},
  };
  for (const auto& c : cases) {
    // The registered object and the shared instance answer alike but are two types.
    for (const DataType* t : {static_cast<const DataType*>(c.own.get()), static_cast<const DataType*>(c.shared.operator->())}) {
      EXPECT_EQ(t->getName().toString(), c.name);
      EXPECT_EQ(t->isNumeric(), c.numeric) << c.name;
      EXPECT_EQ(t->isBool(), c.isBool) << c.name;
      EXPECT_EQ(t->isString(), c.isString) << c.name;
      EXPECT_EQ(t->isSymbolic(), c.symbolic) << c.name;
      EXPECT_FALSE(t->isEntity());
    }
    EXPECT_NE(c.own->getId(), c.shared);
  }
  EXPECT_EQ(&IntDT::instance(), &IntDT::instance());
  EXPECT_TRUE(SymbolDT::instance()->canBeCompared(VoidDT::instance()));
  EXPECT_FALSE(SymbolDT::instance()->canBeCompared(StringDT::instance()));

  const AbstractDomain& strings = StringDT::instance()->baseDomain();
  EXPECT_NE(dynamic_cast<const StringDomain*>(&strings), nullptr);
  EXPECT_TRUE(strings.isOpen() && strings.isEmpty());
  EXPECT_EQ(strings.getDataType(), StringDT::instance());
  const AbstractDomain& symbols = SymbolDT::instance()->baseDomain();
  EXPECT_NE(dynamic_cast<const SymbolDomain*>(&symbols), nullptr);
  EXPECT_TRUE(symbols.isOpen() && symbols.isEmpty());
}

TEST(DataTypesTest, RestrictedTypesReadValuesAsTheirBaseType) {
  std::unique_ptr<IntervalIntDomain> range(new IntervalIntDomain(1, 5, IntDT::instance()));
  RestrictedDT small("small", IntDT::instance(), *range);
  range.reset(); // the type keeps its own copy
  EXPECT_TRUE(small.getIsRestricted());
  EXPECT_TRUE(small.isNumeric());
  EXPECT_FALSE(small.isBool());
  EXPECT_TRUE(small.canBeCompared(FloatDT::instance()));
  EXPECT_EQ(small.getName().toString(), "small");
  EXPECT_EQ(small.baseDomain().getDataType(), small.getId());
  EXPECT_EQ(small.baseDomain().getLowerBound(), 1.0);
  EXPECT_EQ(small.baseDomain().getUpperBound(), 5.0);
  EXPECT_EQ(small.createValue("3"), 3.0);
  EXPECT_EQ(small.createValue("inf"), PLUS_INFINITY);
  EXPECT_EQ(small.baseDomain().toString(), "small:CLOSED[1, 5]");
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
