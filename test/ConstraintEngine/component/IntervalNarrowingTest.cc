#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/Domains.hh"

#include "support/RecordingListener.hh"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

namespace KALDEN {
namespace {

// Subclasses that change nothing: narrowing must treat them exactly as their base.
class PlainReal : public IntervalDomain {
public:
  PlainReal(double lb, double ub) : IntervalDomain(lb, ub, FloatDT::instance()) {}
};
class PlainInt : public IntervalIntDomain {
public:
  PlainInt(int lb, int ub) : IntervalIntDomain(lb, ub, IntDT::instance()) {}
};

// Subclasses that override what narrowing relies on: their overrides must be heard.
class CoarseReal : public IntervalDomain {
public:
  CoarseReal(double lb, double ub) : IntervalDomain(lb, ub, FloatDT::instance()) {}
  double minDelta() const override { return 0.5; }
};
class EvenInt : public IntervalIntDomain {
public:
  EvenInt(int lb, int ub) : IntervalIntDomain(lb, ub, IntDT::instance()) {}
  void testPrecision(const double& value) const override {
    IntervalIntDomain::testPrecision(value);
    if (static_cast<long long>(value) % 2 != 0)
      throw std::runtime_error("odd");
  }
};

struct Outcome {
  bool threw = false;
  bool changed = false;
  double lb = 0.0, ub = 0.0;
  ChangeList changes;
  bool operator==(const Outcome& o) const {
    return threw == o.threw && changed == o.changed && lb == o.lb && ub == o.ub && changes == o.changes;
  }
};

Outcome narrow(IntervalDomain& dom, double lb, double ub) {
  RecordingListener listener;
  listener.listenTo(dom);
  Outcome out;
  try {
    out.changed = dom.intersect(lb, ub);
  } catch (...) {
    out.threw = true;
  }
  out.lb = dom.getLowerBound();
  out.ub = dom.getUpperBound();
  out.changes = listener.changes();
  return out;
}

// Every interval in [-3, 3] narrowed by every range with half-integral ends in [-4, 4]: the
// library's classes and their plain subclasses answer, change and report alike.
TEST(IntervalNarrowingTest, PlainSubclassesNarrowLikeTheirBase) {
  for (int a = -3; a <= 3; ++a)
    for (int b = a; b <= 3; ++b)
      for (double lb = -4; lb <= 4; lb += 0.5)
        for (double ub = -4; ub <= 4; ub += 0.5) {
          SCOPED_TRACE(::testing::Message() << "[" << a << ", " << b << "] with " << lb << ", " << ub);
          IntervalDomain real(a, b, FloatDT::instance());
          PlainReal plainReal(a, b);
          ASSERT_EQ(narrow(real, lb, ub), narrow(plainReal, lb, ub));
          IntervalIntDomain integer(a, b, IntDT::instance());
          PlainInt plainInt(a, b);
          ASSERT_EQ(narrow(integer, lb, ub), narrow(plainInt, lb, ub));
        }
}

// Each case narrows a fresh domain: a domain takes one listener for its life.
TEST(IntervalNarrowingTest, OverridesOfSubclassesAreHeard) {
  // A tolerance of 0.5: a move of 0.25 is no move.
  CoarseReal coarse(0.0, 1.0);
  Outcome out = narrow(coarse, 0.25, 1.0);
  EXPECT_FALSE(out.changed);
  EXPECT_EQ(out.lb, 0.0);
  CoarseReal coarse2(0.0, 1.0);
  out = narrow(coarse2, 0.5, 1.0);
  EXPECT_TRUE(out.changed);
  EXPECT_EQ(out.lb, 0.5);

  // An odd bound is refused before anything is stored.
  EvenInt even(0, 8);
  out = narrow(even, 1.0, 6.0);
  EXPECT_TRUE(out.threw);
  EXPECT_EQ(out.lb, 0.0);
  EXPECT_EQ(out.ub, 8.0);
  EXPECT_TRUE(out.changes.empty());
  EvenInt even2(0, 8);
  out = narrow(even2, 2.0, 6.0);
  EXPECT_FALSE(out.threw);
  EXPECT_EQ(out.changes, ChangeList{DomainListener::BOUNDS_RESTRICTED});
}

} // namespace
} // namespace KALDEN
