#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/Domains.hh"

#include "support/Failure.hh"
#include "support/RecordingListener.hh"

#include <gtest/gtest.h>

#include <cmath>
#include <list>
#include <sstream>

namespace KALDEN {
namespace {

using CT = DomainListener::ChangeType;

const double D = g_epsilon(); // the real interval's tolerance
const double NO_BOUND = -999; // marks an expected empty result

// One operation on [0, 10] and what it must leave and report.
struct Case {
  const char* what;
  double argLb, argUb;
  double lb, ub; // expected bounds, or NO_BOUND for an emptied domain
  bool changed;
  ChangeList reports;
};

// Checks the domain against a case's expected bounds and reports.
void expectOutcome(const Case& c, const IntervalDomain& dom, bool changed, const RecordingListener& listener) {
  SCOPED_TRACE(c.what);
  EXPECT_EQ(changed, c.changed);
  EXPECT_EQ(listener.changes(), c.reports);
  if (c.lb == NO_BOUND) {
    EXPECT_TRUE(dom.isEmpty());
  } else {
    EXPECT_DOUBLE_EQ(dom.getLowerBound(), c.lb);
    EXPECT_DOUBLE_EQ(dom.getUpperBound(), c.ub);
  }
}

TEST(IntervalDomainTest, IntersectReportsTheKindOfNarrowing) {
  const Case cases[] = {
      {"both bounds", 2, 8, 2, 8, true, {CT::BOUNDS_RESTRICTED}},
      {"upper bound", 0, 8, 0, 8, true, {CT::UPPER_BOUND_DECREASED}},
      {"lower bound", 2, 10, 2, 10, true, {CT::LOWER_BOUND_INCREASED}},
      {"wider range", -5, 20, 0, 10, false, {}},
      {"above", 11, 12, NO_BOUND, 0, true, {CT::EMPTIED}},
      {"inverted", 8, 2, NO_BOUND, 0, true, {CT::EMPTIED}},
      {"one value", 4, 4, 4, 4, true, {CT::RESTRICT_TO_SINGLETON}},
      {"lower end only", -5, 0, 0, 0, true, {CT::RESTRICT_TO_SINGLETON}},
      {"upper end only", 10, 20, 10, 10, true, {CT::RESTRICT_TO_SINGLETON}},
      {"less than the tolerance", D / 2, 10 - D / 2, 0, 10, false, {}},
      {"just the tolerance", D, 10 - D, D, 10 - D, true, {CT::BOUNDS_RESTRICTED}},
  };
  for (const Case& c : cases) {
    RecordingListener listener;
    IntervalDomain dom(0, 10, FloatDT::instance());
    listener.listenTo(dom);
    bool changed = dom.intersect(c.argLb, c.argUb);
    expectOutcome(c, dom, changed, listener);
  }
}

TEST(IntervalDomainTest, DifferenceRemovesOneEnd) {
  const Case cases[] = {
      {"upper end", 5, 20, 0, 5 - D, true, {CT::UPPER_BOUND_DECREASED}},
      {"lower end", -5, 3, 3 + D, 10, true, {CT::LOWER_BOUND_INCREASED}},
      {"all of it", -1, 11, NO_BOUND, 0, true, {CT::EMPTIED}},
      {"disjoint", 20, 30, 0, 10, false, {}},
      {"leaving one value", -5, 10 - D, 10, 10, true, {CT::RESTRICT_TO_SINGLETON}},
  };
  for (const Case& c : cases) {
    RecordingListener listener;
    IntervalDomain dom(0, 10, FloatDT::instance());
    listener.listenTo(dom);
    bool changed = dom.difference(IntervalDomain(c.argLb, c.argUb, FloatDT::instance()));
    expectOutcome(c, dom, changed, listener);
  }
  IntervalDomain dom(0, 10, FloatDT::instance());
  EXPECT_CHECK_FAILS(dom.difference(IntervalDomain(4, 6, FloatDT::instance())),
                     "! (lt(m_lb, dom.getLowerBound()) && lt(dom.getUpperBound(), m_ub))");
  EXPECT_EQ(dom.getUpperBound(), 10);
}

TEST(IntervalDomainTest, RemoveSetAndEmpty) {
  RecordingListener listener;
  IntervalDomain dom(0, 10, FloatDT::instance());
  listener.listenTo(dom);
  dom.remove(0);
  dom.remove(10);
  dom.remove(20); // not a member: nothing
  EXPECT_EQ(listener.changes(), (ChangeList{CT::LOWER_BOUND_INCREASED, CT::UPPER_BOUND_DECREASED}));
  // 10 - D rounds to a double less than D below 10: the end stops one bit lower, so that 10
  // and the new end differ by the tolerance.
  EXPECT_TRUE(dom.getLowerBound() == D && dom.getUpperBound() == std::nextafter(10 - D, 0.0));
  EXPECT_FALSE(dom.compareEqual(10, dom.getUpperBound()));
  Error inner = failureOf([&] { dom.remove(5); });
  EXPECT_EQ(inner.getCondition(), "ALWAYS_FAILS");
  EXPECT_EQ(inner.getMessage(), "Attempted to remove an element from within the interval. Wuuld require splitting.");
  EXPECT_CHECK_FAILS(dom.remove(PLUS_INFINITY * 2), "check_value(value)");

  listener.clear();
  dom.set(3);
  dom.set(3);
  dom.remove(3);
  dom.empty();
  EXPECT_EQ(listener.changes(), (ChangeList{CT::SET_TO_SINGLETON, CT::EMPTIED, CT::EMPTIED}));
  EXPECT_TRUE(dom.getUpperBound() == -2.0 && dom.getLowerBound() == 2.0 + D);
  EXPECT_TRUE(dom.getSize() == 0 && dom.isFinite());
  dom.relax(1);
  dom.set(11);
  EXPECT_TRUE(dom.isEmpty());

  // Narrower than the tolerance, it holds 1 and 1.000009: removing a value within the tolerance of
  // one end only leaves what lies beyond the tolerance of it.
  IntervalDomain narrow(1, 1.000009, FloatDT::instance());
  narrow.remove(1.000018);
  EXPECT_FALSE(narrow.isEmpty());
  EXPECT_TRUE(narrow.isMember(1));
  narrow.remove(1);
  EXPECT_TRUE(narrow.isEmpty());
}

TEST(IntervalDomainTest, RelaxAndReset) {
  RecordingListener listener;
  IntervalDomain dom(5, 3, FloatDT::instance());
  listener.listenTo(dom);
  dom.relax(7);
  dom.relax(7);
  // Widening by less than the tolerance still brings back values a point lacks; a reset to what
  // the domain holds already changes nothing.
  EXPECT_TRUE(dom.relax(7 - D / 2, 7 + D / 2));
  EXPECT_FALSE(dom.relax(7 - D / 2, 7 + D / 2));
  dom.reset(IntervalDomain(7, FloatDT::instance()));
  EXPECT_EQ(listener.changes(), (ChangeList{CT::RELAXED, CT::RELAXED}));
  listener.clear();
  IntervalDomain wide(0, 10, FloatDT::instance());
  dom.reset(wide);
  EXPECT_EQ(listener.changes(), (ChangeList{CT::RELAXED, CT::RESET}));
  EXPECT_TRUE(dom == wide);

  Error narrower = failureOf([&] { dom.reset(IntervalDomain(2, 8, FloatDT::instance())); });
  EXPECT_EQ(narrower.getCondition(), "isEmpty() || (leq(lb, m_lb) && leq(m_ub, ub))");
  EXPECT_EQ(narrower.getMessage(), "2 >=0 OR 10 >= 8");
  EXPECT_CHECK_FAILS(dom.relax(3, 1), "leq(lb, ub)");
}

// A bound cut by one tolerance step comes back whatever the rounding of the cut.
TEST(IntervalDomainTest, ABoundCutByOneStepComesBack) {
  for (double end : {1.0, 0.7, 1e6}) {
    IntervalDomain dom(-2, end, FloatDT::instance());
    dom.remove(end);
    EXPECT_LT(dom.getUpperBound(), end);
    EXPECT_TRUE(dom.relax(-2, end)) << end;
    EXPECT_EQ(dom.getUpperBound(), end);
    dom.remove(end);
    dom.reset(IntervalDomain(-2, end, FloatDT::instance()));
    EXPECT_EQ(dom.getUpperBound(), end);
  }
}

// Refilling with one value is only for an emptied domain: anything else would narrow it unheard.
TEST(IntervalDomainTest, RelaxToOneValueRefusesANonEmptyDomain) {
  RecordingListener listener;
  IntervalDomain dom(0, 10, FloatDT::instance());
  listener.listenTo(dom);
  EXPECT_CHECK_FAILS(dom.relax(3), "isEmpty() || (isSingleton() && (getSingletonValue() == value))");
  EXPECT_TRUE(dom.getLowerBound() == 0 && dom.getUpperBound() == 10);
  dom.empty();
  EXPECT_CHECK_FAILS(dom.relax(PLUS_INFINITY * 2), "check_value(value)");
  EXPECT_EQ(listener.changes(), ChangeList{CT::EMPTIED});
}

TEST(IntervalDomainTest, ConstructionChecksAndSingletons) {
  IntervalDomain unbounded(FloatDT::instance());
  double lb = 0, ub = 0;
  EXPECT_TRUE(unbounded.getBounds(lb, ub));
  EXPECT_TRUE(lb == MINUS_INFINITY && ub == PLUS_INFINITY);
  EXPECT_FALSE(unbounded.isFinite());
  EXPECT_EQ(unbounded.getSize(), g_infiniteTime());

  IntervalDomain near(3, 3 + D / 2, FloatDT::instance());
  EXPECT_EQ(near.getSingletonValue(), 3 + D / 2);
  std::list<double> values;
  near.getValues(values);
  EXPECT_EQ(values, std::list<double>{3});

  Error tooLarge = failureOf([] { IntervalDomain(0, PLUS_INFINITY * 2, FloatDT::instance()); });
  EXPECT_EQ(tooLarge.getCondition(), "leq(m_ub,PLUS_INFINITY)");
  EXPECT_EQ(tooLarge.getMessage(), "Upper bound 4294967294 is too large.");
  Error tooSmall = failureOf([] { IntervalDomain(MINUS_INFINITY - 1, 0, FloatDT::instance()); });
  EXPECT_EQ(tooSmall.getCondition(), "leq(MINUS_INFINITY, m_lb)");
  EXPECT_EQ(tooSmall.getMessage(), "Lower bound -2147483648 is too small.");
  EXPECT_NO_THROW(IntervalDomain(0, PLUS_INFINITY + D / 2, FloatDT::instance()));

  Error insert = failureOf([&] { unbounded.insert(1); });
  EXPECT_EQ(insert.getMessage(), "Cannot insert to an interval domain");
  EXPECT_CHECK_FAILS(unbounded.insert(std::list<double>{1}), "ALWAYS_FAILS");
}

TEST(IntervalDomainTest, PrintingAndTranslation) {
  std::ostringstream os;
  os << IntervalDomain(0, 10, FloatDT::instance()) << " " << IntervalDomain(FloatDT::instance()) << " "
     << IntervalDomain(-0.5, 123456.789, FloatDT::instance()) << " " << 1.23456789;
  EXPECT_EQ(os.str(), "float:CLOSED[0, 10] float:CLOSED[-inf, +inf] float:CLOSED[-0.5, 123456.789] 1.23457");

  IntervalDomain dom(FloatDT::instance());
  for (bool asMin : {true, false}) {
    EXPECT_EQ(dom.translateNumber(PLUS_INFINITY * 2, asMin), PLUS_INFINITY);
    EXPECT_EQ(dom.translateNumber(MINUS_INFINITY * 2, asMin), MINUS_INFINITY);
    EXPECT_EQ(dom.translateNumber(-2.5, asMin), -2.5);
  }
  EXPECT_CHECK_FAILS(dom.translateNumber(std::nan(""), true), "!std::isnan(number)");
}

TEST(IntervalDomainTest, CombiningDomains) {
  IntervalDomain real(0, 10, FloatDT::instance());
  IntervalIntDomain integer(0, 10, IntDT::instance());
  EXPECT_FALSE(IntervalDomain(2, 3, FloatDT::instance()).isSubsetOf(integer));
  EXPECT_TRUE(IntervalIntDomain(2, 3, IntDT::instance()).isSubsetOf(real));
  // Between real intervals by the bounds within the tolerance, whichever is narrower than it.
  EXPECT_TRUE(IntervalDomain(-2.0000105, -2.0, FloatDT::instance())
                  .isSubsetOf(IntervalDomain(-2.0000105, -2.0000008, FloatDT::instance())));
  EXPECT_FALSE(real == integer); // same bounds, different finiteness

  IntervalDomain b(5, 20, FloatDT::instance());
  EXPECT_TRUE(real.equate(b));
  EXPECT_TRUE(real == IntervalDomain(5, 10, FloatDT::instance()) && b == real);
  RecordingListener listener;
  IntervalDomain apart(30, 40, FloatDT::instance());
  listener.listenTo(apart);
  EXPECT_TRUE(real.equate(apart)); // real empties; apart is left alone
  EXPECT_TRUE(real.isEmpty() && listener.changes().empty());

  IntervalDomain target(FloatDT::instance());
  target = integer;
  EXPECT_TRUE(target.getUpperBound() == 10 && target.minDelta() == D);
  EXPECT_CHECK_FAILS(apart = integer, "m_listener.isNoId()");
}

} // namespace
} // namespace KALDEN
