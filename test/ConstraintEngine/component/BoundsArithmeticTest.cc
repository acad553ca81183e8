#include "ConstraintEngine/component/BoundsArithmetic.hh"

#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/EnumeratedDomains.hh"
#include "ConstraintEngine/component/IntervalDomains.hh"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace KALDEN {
namespace {

// Classes of a client's own, derived from the interval classes.
class TenthsDomain : public IntervalDomain {
public:
  TenthsDomain() : IntervalDomain(0.0, 1.0, FloatDT::instance()) {}
};
class EvenDomain : public IntervalIntDomain {
public:
  EvenDomain() : IntervalIntDomain(0, 8, IntDT::instance()) {}
};

// Whatever its class, a domain is an integer interval exactly when it is an IntervalIntDomain.
TEST(BoundsArithmeticTest, IntegerIntervalsAreTheIntegerIntervalClassAndItsSubclasses) {
  std::vector<std::unique_ptr<AbstractDomain> > domains;
  domains.emplace_back(new IntervalDomain(0.0, 1.0, FloatDT::instance()));
  domains.emplace_back(new IntervalIntDomain(0, 3, IntDT::instance()));
  domains.emplace_back(new BoolDomain(BoolDT::instance()));
  domains.emplace_back(new NumericDomain(std::list<double>{1.0, 2.0}, FloatDT::instance()));
  domains.emplace_back(new TenthsDomain());
  domains.emplace_back(new EvenDomain());
  for (const auto& dom : domains) {
    const bool integer = dynamic_cast<const IntervalIntDomain*>(dom.get()) != nullptr;
    EXPECT_EQ(BoundsArithmetic::isIntegerInterval(*dom), integer) << *dom;
    EXPECT_EQ(BoundsArithmetic::isRealInterval(*dom), dom->isInterval() && !integer) << *dom;
  }
}

// A bound computed a hair off an integer counts as that integer, as an integer interval rounds
// it: an integer a real range holds within its tolerance is not lost.
TEST(BoundsArithmeticTest, IntegersOfARangeAreRoundedAsAnIntegerIntervalRoundsIt) {
  const double hair = 1e-9;
  EXPECT_EQ(BoundsArithmetic::integerFrom(1.0 + hair), 1.0);
  EXPECT_EQ(BoundsArithmetic::integerFrom(0.5), 1.0);
  EXPECT_EQ(BoundsArithmetic::integerTo(2.0 - hair), 2.0);
  EXPECT_EQ(BoundsArithmetic::integerTo(2.5), 2.0);
  const IntervalIntDomain ints(-1, 2, IntDT::instance());
  EXPECT_TRUE(BoundsArithmetic::holdsValueIn(ints, 1.0 + hair, 1.5));
  EXPECT_FALSE(BoundsArithmetic::holdsValueIn(ints, 1.25, 1.5));
  EXPECT_TRUE(BoundsArithmetic::shareValue(ints, IntervalDomain(1.5, 2.0 - hair, FloatDT::instance())));
  EXPECT_FALSE(BoundsArithmetic::shareValue(IntervalDomain(0.25, 0.75, FloatDT::instance()), ints));
}

} // namespace
} // namespace KALDEN
