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

// Applies `op` to every integer interval within [-3, 3] and every range [lb, ub] with
// half-integral ends in [-4, 4]: the domain must keep exactly the integers `keep` accepts
// (or refuse, leaving them all), answer and report exactly the change made, and keep integral bounds.
template <class Op, class Keep, class Refuses>
void forEveryDomainAndRange(Op op, Keep keep, Refuses refuses) {
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
            if (keep(k, lb, ub))
              expected.insert(k);
          if (refuses(before, lb, ub)) {
            ASSERT_ANY_THROW(op(dom, lb, ub));
            ASSERT_EQ(membersOf(dom), before);
            continue;
          }
          bool changed = op(dom, lb, ub);
          ASSERT_EQ(membersOf(dom), expected);
          ASSERT_EQ(changed, expected != before);
          ASSERT_EQ(listener.changes(), owedReport(before, expected));
          ASSERT_TRUE(dom.isEmpty() || (dom.getLowerBound() == std::floor(dom.getLowerBound()) &&
                                        dom.getUpperBound() == std::floor(dom.getUpperBound())));
        }
}

TEST(IntervalIntDomainTest, IntersectKeepsTheIntegersOfTheRange) {
  forEveryDomainAndRange([](IntervalIntDomain& dom, double lb, double ub) { return dom.intersect(lb, ub); },
                         [](int k, double lb, double ub) { return lb <= k && k <= ub; },
                         [](const std::set<int>&, double, double) { return false; });
}

// Taking away a real range removes exactly its integers, unless that would split the domain.
TEST(IntervalIntDomainTest, DifferenceRemovesExactlyTheIntegersOfTheOtherDomain) {
  forEveryDomainAndRange([](IntervalIntDomain& dom, double lb,
                            double ub) { return dom.difference(IntervalDomain(lb, ub, FloatDT::instance())); },
                         [](int k, double lb, double ub) { return k < lb || k > ub; },
                         [](const std::set<int>& before, double lb, double ub) {
                           bool inside = false;
                           for (int k : before)
                             inside = inside || (lb <= k && k <= ub);
                           return lb > ub || (inside && *before.begin() < lb && *before.rbegin() > ub);
                         });
}

TEST(IntervalIntDomainTest, TranslateNumberRoundsTowardTheDomain) {
  IntervalIntDomain dom(IntDT::instance());
  struct {
    double number, asMin, asMax;
  } cases[] = {{2.5, 3, 2},
               {-2.5, -2, -3},
               {7.0, 7, 7},
               {-7.0, -7, -7},
               {0.0, 0, 0},
               {4.0000000001, 4, 4},
               {PLUS_INFINITY * 2, PLUS_INFINITY + 1, PLUS_INFINITY},
               {MINUS_INFINITY * 2, MINUS_INFINITY, MINUS_INFINITY - 1}};
  for (const auto& c : cases) {
    EXPECT_EQ(dom.translateNumber(c.number, true), c.asMin) << c.number;
    EXPECT_EQ(dom.translateNumber(c.number, false), c.asMax) << c.number;
  }
  EXPECT_CHECK_FAILS(dom.translateNumber(std::nan(""), false), "!std::isnan(number)");
}

TEST(IntervalIntDomainTest, ValuesAndSize) {
  IntervalIntDomain dom(0, 4, IntDT::instance());
  std::list<double> values;
  dom.getValues(values);
  IntervalIntDomain(5, 4, IntDT::instance()).getValues(values); // empty: appends nothing
  EXPECT_EQ(values, (std::list<double>{0, 1, 2, 3, 4}));
  EXPECT_EQ(dom.getSize(), 5);
  EXPECT_CHECK_FAILS(IntervalIntDomain(IntDT::instance()).getValues(values), "isFinite()");
  // A finite interval wider than the int range counts its values without overflowing.
  IntervalIntDomain wide(-(INT_MAX - 1), INT_MAX - 1, IntDT::instance());
  ASSERT_TRUE(wide.isFinite());
  EXPECT_EQ(wide.getSize(), INT_MAX);
}

TEST(IntervalIntDomainTest, InsertGrowsByOneNeighbour) {
  RecordingListener listener;
  IntervalIntDomain dom(0, 10, IntDT::instance());
  listener.listenTo(dom);
  dom.insert(11);
  dom.insert(-1);
  dom.insert(5);
  EXPECT_EQ(listener.changes(), (ChangeList{CT::RELAXED, CT::RELAXED}));
  EXPECT_TRUE(dom == IntervalIntDomain(-1, 11, IntDT::instance()));
  EXPECT_CHECK_FAILS(dom.insert(13), "ALWAYS_FAILS");
  Error fractional = failureOf([&] { dom.insert(5.5); });
  EXPECT_EQ(fractional.getCondition(), "dblValue == value");
  EXPECT_EQ(fractional.getMessage(), "5.5 must be an integer.");
  EXPECT_EQ(fractional.getFile(), "ConstraintEngine/component/Domains");
  IntervalIntDomain empty(3, -2, IntDT::instance());
  empty.insert(7);
  EXPECT_EQ(empty.getSingletonValue(), 7);
}

// Refilling an emptied integer interval takes only an integer; a non-empty one is refused.
TEST(IntervalIntDomainTest, RelaxToOneValueChecksPrecisionAndState) {
  RecordingListener listener;
  IntervalIntDomain dom(0, 10, IntDT::instance());
  listener.listenTo(dom);
  EXPECT_CHECK_FAILS(dom.relax(3), "isEmpty() || (isSingleton() && (getSingletonValue() == value))");
  dom.empty();
  EXPECT_CHECK_FAILS(dom.relax(2.5), "dblValue == value");
  dom.relax(2);
  EXPECT_EQ(listener.changes(), (ChangeList{CT::EMPTIED, CT::RELAXED}));
  EXPECT_EQ(dom.getSingletonValue(), 2);
}

// Intersecting with another domain is checked like the real interval's; conversion keeps bounds integral.
TEST(IntervalIntDomainTest, DomainOperandsAreChecked) {
  IntervalIntDomain dom(0, 10, IntDT::instance());
  IntervalDomain emptied(5, 3, FloatDT::instance());
  EXPECT_CHECK_FAILS(dom.intersect(emptied), "dom.isOpen() || !dom.isEmpty()");
  EXPECT_CHECK_FAILS(BoolDomain(BoolDT::instance()).intersect(emptied), "dom.isOpen() || !dom.isEmpty()");
  EXPECT_CHECK_FAILS(IntervalIntDomain(5, 4, IntDT::instance()).intersect(dom), "isOpen() || !isEmpty()");
  const AbstractDomain& fractional = IntervalDomain(2.5, 5, FloatDT::instance());
  EXPECT_CHECK_FAILS(IntervalIntDomain{fractional}, "dblValue == value");
  const AbstractDomain& integral = IntervalDomain(2, 5, FloatDT::instance());
  EXPECT_EQ(IntervalIntDomain{integral}.getSize(), 4);
  // An emptied real interval keeps a fractional lower bound, yet converts to an empty integer interval.
  IntervalDomain real(0, 10, FloatDT::instance());
  real.empty();
  const AbstractDomain& emptiedReal = real;
  IntervalIntDomain converted{emptiedReal};
  EXPECT_TRUE(converted.isEmpty());
  EXPECT_EQ(converted.getLowerBound(), std::floor(converted.getLowerBound()));
}

TEST(BoolDomainTest, RangeRule) {
  struct {
    double lb, ub;
    double resultLb, resultUb; // resultLb > resultUb: emptied
    ChangeList reports;
  } cases[] = {// A range keeps 0 when it holds 0 and 1 when it holds 1; a bound is no truth value.
               {0, 5, 0, 1, {}},
               {-1, 3, 0, 1, {}},
               {1, 1, 1, 1, {CT::RESTRICT_TO_SINGLETON}},
               {0.5, 7, 1, 1, {CT::RESTRICT_TO_SINGLETON}},
               {0, 0, 0, 0, {CT::RESTRICT_TO_SINGLETON}},
               {-5, 0.5, 0, 0, {CT::RESTRICT_TO_SINGLETON}},
               // Ranges holding neither value, and reversed pairs, empty it.
               {2, 3, 1, 0, {CT::EMPTIED}},
               {0.5, 0.5, 1, 0, {CT::EMPTIED}},
               {-5, -5, 1, 0, {CT::EMPTIED}},
               {1, 0, 1, 0, {CT::EMPTIED}},
               {3, -1, 1, 0, {CT::EMPTIED}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.lb << ", " << c.ub);
    RecordingListener listener;
    BoolDomain dom(BoolDT::instance());
    listener.listenTo(dom);
    dom.intersect(c.lb, c.ub);
    EXPECT_EQ(listener.changes(), c.reports);
    if (c.resultLb > c.resultUb)
      EXPECT_TRUE(dom.isEmpty() && dom.isFinite());
    else
      EXPECT_TRUE(dom.getLowerBound() == c.resultLb && dom.getUpperBound() == c.resultUb);
  }
  EXPECT_CHECK_FAILS(BoolDomain(BoolDT::instance()).intersect(std::nan(""), 1), "!std::isnan(lb) && !std::isnan(ub)");
}

TEST(BoolDomainTest, ValuesAndStates) {
  BoolDomain either(BoolDT::instance());
  EXPECT_FALSE(either.isTrue() || either.isFalse());
  EXPECT_EQ(either.getSize(), 2);
  EXPECT_EQ(either.toString(), "bool:CLOSED[0, 1]");
  EXPECT_TRUE(BoolDomain(true, BoolDT::instance()).isTrue());
  EXPECT_TRUE(BoolDomain(false, BoolDT::instance()).isFalse());
  either.set(2);
  EXPECT_TRUE(either.isEmpty());

  BoolDomain no(false, BoolDT::instance());
  no.insert(1);
  EXPECT_EQ(no.getSize(), 2);
  EXPECT_CHECK_FAILS(no.insert(2), "value == 0 || value == 1");
  EXPECT_CHECK_FAILS(no.relax(IntervalIntDomain(0, 2, IntDT::instance())), "value == 0 || value == 1");
  std::unique_ptr<AbstractDomain> copy(no.copy());
  EXPECT_NE(dynamic_cast<BoolDomain*>(copy.get()), nullptr);
}

} // namespace
} // namespace KALDEN
