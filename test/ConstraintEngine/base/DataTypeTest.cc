#include "ConstraintEngine/base/DataType.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/Domains.hh"

#include "support/Failure.hh"
#include "support/StubDataTypes.hh"

#include <gtest/gtest.h>

#include <vector>

namespace KALDEN {
namespace {

// Comparability by kind: numbers with numbers, strings with strings, other symbols with symbols.
TEST(DataTypeTest, CanBeComparedByKind) {
  StubLabelDT text("string", true);
  StubLabelDT symbol("symbol", false);
  StubLabelDT other("void", false);
  std::vector<const DataType*> types = {FloatDT::instance().operator->(),
                                        IntDT::instance().operator->(),
                                        BoolDT::instance().operator->(),
                                        &text,
                                        &symbol,
                                        &other};
  // kind of each type: 0 numeric, 1 string, 2 symbolic
  int kind[] = {0, 0, 0, 1, 2, 2};
  for (size_t i = 0; i < types.size(); ++i)
    for (size_t j = 0; j < types.size(); ++j) {
      SCOPED_TRACE(types[i]->getName().toString() + " vs " + types[j]->getName().toString());
      EXPECT_EQ(types[i]->canBeCompared(types[j]->getId()), kind[i] == kind[j]);
      EXPECT_EQ(types[i]->isAssignableFrom(types[j]->getId()), kind[i] == kind[j]);
    }
  EXPECT_TRUE(text.isSymbolic());
}

TEST(DataTypeTest, ValueTextsAndBaseDomain) {
  EXPECT_EQ(FloatDT::instance()->toString(3.5), "3.5");
  EXPECT_EQ(IntDT::instance()->toString(-2), "-2");
  StubLabelDT symbol("symbol", false);
  EXPECT_EQ(symbol.toString(symbol.createValue("alpha")), "alpha");
  Error notLabel = failureOf([&] { symbol.toString(0.25); });
  EXPECT_EQ(notLabel.getCondition(), "LabelStr::isString(value)");
  EXPECT_EQ(notLabel.getMessage(), "expected LabelStr");
  EXPECT_EQ(notLabel.getFile(), "ConstraintEngine/base/DataType");
  EXPECT_CHECK_FAILS(symbol.baseDomain(), "m_baseDomain != NULL");

  symbol.setName("other");
  EXPECT_EQ(symbol.getName().toString(), "other");
  EXPECT_FALSE(symbol.getIsRestricted());
  symbol.setIsRestricted(true);
  EXPECT_TRUE(symbol.getIsRestricted());
  EXPECT_FALSE(symbol.isEntity());
}

TEST(DataTypeTest, HandleLivesWithTheType) {
  Id<DataType> id;
  {
    FloatDT type;
    id = type.getId();
    EXPECT_TRUE(id.isValid());
    EXPECT_EQ(type.baseDomain().getDataType(), id);
  }
  EXPECT_FALSE(id.isValid());
}

} // namespace
} // namespace KALDEN
