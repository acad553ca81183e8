#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/Domains.hh"

#include "support/Failure.hh"
#include "support/RecordingListener.hh"

#include <gtest/gtest.h>

#include <cmath>
#include <climits>
#include <list>
#include <memory>
#include <set>
#include <sstream>

namespace KALDEN {
namespace {

using CT = DomainListener::ChangeType;

const int LO = -5, HI = 5; // the integers the brute-force checks look at

// The members of a domain among the integers LO..HI.
std::set<int> membersOf(const AbstractDomain& dom) {
  std::set<int> members;
  for (int k = LO; k <= HI; ++k)
    if (dom.isMember(k))
      members.insert(k);
  return members;
}

// The report a narrowing from `before` to `after` owes its listener.
ChangeList owedReport(const std::set<int>& before, const std::set<int>& after) {
  if (after == before)
    return {};
  if (after.empty())
    return {CT::EMPTIED};
  if (after.size() == 1)
    return {CT::RESTRICT_TO_SINGLETON};
  bool lbMoved = *after.begin() != *before.begin();
  bool ubMoved = *after.rbegin() != *before.rbegin();
  if (lbMoved && ubMoved)
    return {CT::BOUNDS_RESTRICTED};
  return {lbMoved ? CT::LOWER_BOUND_INCREASED : CT::UPPER_BOUND_DECREASED};
}

bool integral(double x) { return x == std::floor(x); }

// Intersecting with any range, integral or not, keeps exactly the integers in it,
// reports exactly the change made, and leaves integral bounds.
TEST(IntervalIntDomainTest, IntersectKeepsTheIntegersOfTheRange) {
  for (int a = -3; a <= 3; ++a)
    for (int b = a; b <= 3; ++b)
      for (double lb = -4; lb <= 4; lb += 0.5)
        for (double ub = -4; ub <= 4; ub += 0.5) {
          SCOPED_TRACE(::testing::Message() << "[" << a << ", " << b << "] with " << lb << ", " << ub);
          RecordingListener listener;
          IntervalIntDomain dom(a, b, IntDT::instance());
          listener.listenTo(dom);
          std::set<int> before = membersOf(dom), expected;
          for (int k : before)
            if (lb <= k && k <= ub)
              expected.insert(k);
          bool changed = dom.intersect(lb, ub);
          ASSERT_EQ(membersOf(dom), expected);
          ASSERT_EQ(changed, expected != before);
          ASSERT_EQ(listener.changes(), owedReport(before, expected));
          if (!dom.isEmpty()) {
            ASSERT_TRUE(integral(dom.getLowerBound()) && integral(dom.getUpperBound()));
          }
        }
}

// Taking away an integral or half-integral range removes exactly its integers, unless
// that would split the domain, and never leaves a fractional bound.
TEST(IntervalIntDomainTest, DifferenceRemovesExactlyTheIntegersOfTheOtherDomain) {
  for (int a = -3; a <= 3; ++a)
    for (int b = a; b <= 3; ++b)
      for (double c = -4; c <= 4; c += 0.5)
        for (double d = c; d <= 4; d += 0.5) {
          SCOPED_TRACE(::testing::Message() << "[" << a << ", " << b << "] minus [" << c << ", " << d << "]");
          RecordingListener listener;
          IntervalIntDomain dom(a, b, IntDT::instance());
          listener.listenTo(dom);
          std::set<int> before = membersOf(dom), expected;
          bool inside = false;
          for (int k : before) {
            if (k < c || k > d)
              expected.insert(k);
            else
              inside = true;
          }
          bool splits = inside && *before.begin() < c && *before.rbegin() > d;
          IntervalDomain other(c, d, FloatDT::instance());
          if (splits) {
            ASSERT_EQ(failureOf([&] { dom.difference(other); }).getCondition(),
                      "! (lt(m_lb, dom.getLowerBound()) && lt(dom.getUpperBound(), m_ub))");
            ASSERT_EQ(membersOf(dom), before);
            continue;
          }
          bool changed = dom.difference(other);
          ASSERT_EQ(membersOf(dom), expected);
          ASSERT_EQ(changed, expected != before);
          ASSERT_EQ(listener.changes(), owedReport(before, expected));
          if (!dom.isEmpty()) {
            ASSERT_TRUE(integral(dom.getLowerBound()) && integral(dom.getUpperBound()));
          }
        }
}

TEST(IntervalIntDomainTest, TranslateNumberRoundsTowardTheDomain) {
  IntervalIntDomain dom(IntDT::instance());
  struct {
    double number, asMin, asMax;
  } cases[] = {
      {2.5, 3, 2},
      {-2.5, -2, -3},
      {7.0, 7, 7},
      {-7.0, -7, -7},
      {0.0, 0, 0},
      {4.0000000001, 4, 4},
      {PLUS_INFINITY * 2, PLUS_INFINITY + 1, PLUS_INFINITY},
      {MINUS_INFINITY * 2, MINUS_INFINITY, MINUS_INFINITY - 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(dom.translateNumber(c.number, true), c.asMin) << c.number;
    EXPECT_EQ(dom.translateNumber(c.number, false), c.asMax) << c.number;
  }
  EXPECT_CHECK_FAILS(dom.translateNumber(std::nan(""), false), "!std::isnan(number)");
}

TEST(IntervalIntDomainTest, ValuesSizeAndPrinting) {
  IntervalIntDomain dom(0, 10, IntDT::instance());
  EXPECT_EQ(dom.getSize(), 11);
  EXPECT_TRUE(dom.isFinite());
  std::list<double> values;
  dom.getValues(values);
  EXPECT_EQ(values, (std::list<double>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  std::ostringstream os;
  os << dom;
  EXPECT_EQ(os.str(), "int:CLOSED[0, 10]");
  EXPECT_EQ(dom.toString(), "int:CLOSED[0, 10]");

  IntervalIntDomain empty(5, 4, IntDT::instance());
  values.clear();
  empty.getValues(values);
  EXPECT_TRUE(values.empty());
  EXPECT_EQ(empty.getSize(), 0);
  EXPECT_TRUE(IntervalIntDomain(4, IntDT::instance()).isSingleton());
  EXPECT_FALSE(IntervalIntDomain(IntDT::instance()).isFinite());
  EXPECT_CHECK_FAILS(IntervalIntDomain(IntDT::instance()).getValues(values), "isFinite()");
}

// A finite interval wider than the int range counts its values without overflowing.
TEST(IntervalIntDomainTest, SizeOfAWideIntervalSaturates) {
  IntervalIntDomain wide(-(INT_MAX - 1), INT_MAX - 1, IntDT::instance());
  ASSERT_TRUE(wide.isFinite());
  EXPECT_EQ(wide.getSize(), INT_MAX);
  EXPECT_EQ(IntervalIntDomain(0, INT_MAX - 2, IntDT::instance()).getSize(), INT_MAX - 1);
}

TEST(IntervalIntDomainTest, InsertGrowsByOneNeighbour) {
  RecordingListener listener;
  IntervalIntDomain dom(0, 10, IntDT::instance());
  listener.listenTo(dom);
  dom.insert(11);
  dom.insert(-1);
  dom.insert(5);
  EXPECT_EQ(listener.changes(), (ChangeList{CT::RELAXED, CT::RELAXED}));
  EXPECT_EQ(dom.getLowerBound(), -1);
  EXPECT_EQ(dom.getUpperBound(), 11);
  EXPECT_CHECK_FAILS(dom.insert(13), "ALWAYS_FAILS");
  Error fractional = failureOf([&] { dom.insert(5.5); });
  EXPECT_EQ(fractional.getCondition(), "dblValue == value");
  EXPECT_EQ(fractional.getMessage(), "5.5 must be an integer.");
  EXPECT_EQ(fractional.getFile(), "ConstraintEngine/component/Domains");

  IntervalIntDomain empty(3, -2, IntDT::instance());
  listener.listenTo(empty);
  empty.insert(7);
  EXPECT_TRUE(empty.isSingleton());
  EXPECT_EQ(empty.getSingletonValue(), 7);
  EXPECT_EQ(listener.changes(), ChangeList{CT::RELAXED});
}

TEST(IntervalIntDomainTest, RemoveSetAndMembership) {
  RecordingListener listener;
  IntervalIntDomain dom(0, 10, IntDT::instance());
  listener.listenTo(dom);
  dom.remove(0);
  dom.remove(10);
  EXPECT_EQ(listener.changes(), (ChangeList{CT::LOWER_BOUND_INCREASED, CT::UPPER_BOUND_DECREASED}));
  EXPECT_TRUE(dom == IntervalIntDomain(1, 9, IntDT::instance()));
  EXPECT_CHECK_FAILS(dom.remove(3), "ALWAYS_FAILS");
  EXPECT_CHECK_FAILS(dom.remove(2.5), "dblValue == value");
  EXPECT_TRUE(dom.isMember(3.0));
  EXPECT_FALSE(dom.isMember(3.5));
  dom.set(3.5);
  EXPECT_TRUE(dom.isEmpty());
}

// Refilling an emptied integer interval takes only an integer; a non-empty one is refused.
TEST(IntervalIntDomainTest, RelaxToOneValueChecksPrecisionAndState) {
  RecordingListener listener;
  IntervalIntDomain dom(0, 10, IntDT::instance());
  listener.listenTo(dom);
  EXPECT_CHECK_FAILS(dom.relax(3), "isEmpty() || (isSingleton() && (getSingletonValue() == value))");
  dom.empty();
  EXPECT_CHECK_FAILS(dom.relax(2.5), "dblValue == value");
  EXPECT_TRUE(dom.isEmpty());
  dom.relax(2);
  EXPECT_EQ(listener.changes(), (ChangeList{CT::EMPTIED, CT::RELAXED}));
  EXPECT_EQ(dom.getSingletonValue(), 2);
}

// Intersecting with another domain is checked like the real interval's.
TEST(IntervalIntDomainTest, IntersectWithADomainIsChecked) {
  IntervalIntDomain dom(0, 10, IntDT::instance());
  IntervalDomain emptied(5, 3, FloatDT::instance());
  EXPECT_CHECK_FAILS(dom.intersect(emptied), "dom.isOpen() || !dom.isEmpty()");
  EXPECT_TRUE(dom.intersect(IntervalDomain(2.5, 7.5, FloatDT::instance())));
  EXPECT_TRUE(dom == IntervalIntDomain(3, 7, IntDT::instance()));
  IntervalIntDomain empty(5, 4, IntDT::instance());
  EXPECT_CHECK_FAILS(empty.intersect(dom), "isOpen() || !isEmpty()");

  BoolDomain boolean(BoolDT::instance());
  EXPECT_CHECK_FAILS(boolean.intersect(emptied), "dom.isOpen() || !dom.isEmpty()");
}

TEST(IntervalIntDomainTest, ConversionNeedsIntegralBounds) {
  IntervalIntDomain converted{static_cast<const AbstractDomain&>(IntervalDomain(2, 5, FloatDT::instance()))};
  EXPECT_EQ(converted.minDelta(), 1.0);
  EXPECT_EQ(converted.getSize(), 4);
  EXPECT_CHECK_FAILS(IntervalIntDomain(static_cast<const AbstractDomain&>(
                         IntervalDomain(2.5, 5, FloatDT::instance()))),
                     "dblValue == value");
}

TEST(BoolDomainTest, StatesAndRangeRule) {
  BoolDomain either(BoolDT::instance());
  EXPECT_FALSE(either.isTrue() || either.isFalse());
  EXPECT_EQ(either.getSize(), 2);
  std::list<double> values;
  either.getValues(values);
  EXPECT_EQ(values, (std::list<double>{0, 1}));
  EXPECT_TRUE(BoolDomain(true, BoolDT::instance()).isTrue());
  EXPECT_TRUE(BoolDomain(false, BoolDT::instance()).isFalse());
  EXPECT_EQ(either.toString(), "bool:CLOSED[0, 1]");

  struct {
    double lb, ub;
    double resultLb, resultUb; // resultLb > resultUb: emptied
    ChangeList reports;
  } cases[] = {
      {1, 0, 0, 1, {}},
      {0, 5, 0, 1, {}},
      {1, 1, 1, 1, {CT::RESTRICT_TO_SINGLETON}},
      {2, 3, 1, 1, {CT::RESTRICT_TO_SINGLETON}},
      {0.5, 0.5, 1, 1, {CT::RESTRICT_TO_SINGLETON}},
      {0, 0, 0, 0, {CT::RESTRICT_TO_SINGLETON}},
      {-5, 0, 1, 0, {CT::EMPTIED}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.lb << ", " << c.ub);
    RecordingListener listener;
    BoolDomain dom(BoolDT::instance());
    listener.listenTo(dom);
    dom.intersect(c.lb, c.ub);
    EXPECT_EQ(listener.changes(), c.reports);
    if (c.resultLb > c.resultUb) {
      EXPECT_TRUE(dom.isEmpty());
      EXPECT_TRUE(dom.isFinite());
    } else {
      EXPECT_EQ(dom.getLowerBound(), c.resultLb);
      EXPECT_EQ(dom.getUpperBound(), c.resultUb);
    }
  }
  EXPECT_CHECK_FAILS(either.intersect(std::nan(""), 1), "!std::isnan(lb) && !std::isnan(ub)");
}

TEST(BoolDomainTest, SetRemoveInsert) {
  RecordingListener listener;
  BoolDomain dom(BoolDT::instance());
  listener.listenTo(dom);
  dom.set(1);
  dom.remove(1);
  EXPECT_EQ(listener.changes(), (ChangeList{CT::SET_TO_SINGLETON, CT::EMPTIED}));
  BoolDomain other(BoolDT::instance());
  other.set(2);
  EXPECT_TRUE(other.isEmpty());

  BoolDomain no(false, BoolDT::instance());
  listener.listenTo(no);
  no.insert(1);
  EXPECT_EQ(listener.changes(), ChangeList{CT::RELAXED});
  EXPECT_EQ(no.getSize(), 2);
  EXPECT_CHECK_FAILS(no.insert(2), "value == 0 || value == 1");
  EXPECT_CHECK_FAILS(no.relax(IntervalIntDomain(0, 2, IntDT::instance())), "value == 0 || value == 1");
  std::unique_ptr<AbstractDomain> copy(no.copy());
  EXPECT_NE(dynamic_cast<BoolDomain*>(copy.get()), nullptr);
}

} // namespace
} // namespace KALDEN
