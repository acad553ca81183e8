#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/Domains.hh"

#include "support/Failure.hh"
#include "support/RecordingListener.hh"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <vector>

namespace KALDEN {
namespace {

using CT = DomainListener::ChangeType;
using Members = std::set<double>;

NumericDomain closedNumbers(std::list<double> values) { return NumericDomain(values, FloatDT::instance()); }

NumericDomain openNumbers(std::list<double> values) {
  NumericDomain dom(FloatDT::instance());
  dom.insert(values);
  return dom;
}

TEST(EnumeratedDomainTest, MembersAreToleranceDistinct) {
  const double d = g_epsilon();
  NumericDomain dom = openNumbers({1.0, 1.0 + d / 2, 1.0 - d / 2, 3.0, 2.0});
  EXPECT_EQ(dom.getValues(), (Members{1.0, 2.0, 3.0}));
  struct {
    double value;
    bool member;
  } cases[] = {{1.0 + d / 2, true}, {1.0 - d / 2, true}, {1.0 + d, false}, {2.0 - d, false},
               {3.0 + d / 2, true}, {3.0 + d, false},    {0.0, false},     {1.5, false}};
  for (const auto& c : cases)
    EXPECT_EQ(dom.isMember(c.value), c.member) << c.value;
  EXPECT_FALSE(NumericDomain(FloatDT::instance()).isMember(0.0));
  EXPECT_TRUE(isAscending(Members{}));
  EXPECT_CHECK_FAILS(SymbolDomain(SymbolDT::instance()).insert(std::nan("")), "!std::isnan(value)");
  NumericDomain closed = closedNumbers({1.0});
  EXPECT_CHECK_FAILS(closed.insert(2.0), "isOpen()");
  EXPECT_CHECK_FAILS(openNumbers({1.0}).insert({2.0, 1e300}), "check_value(value)");
}

// One operation on one domain: the members it leaves and the changes it reports, in order.
TEST(EnumeratedDomainTest, SingleDomainChangesAndReports) {
  struct Case {
    const char* name;
    NumericDomain dom;
    std::function<void(NumericDomain&)> op;
    Members after;
    ChangeList reported;
  } cases[] = {
      {"remove a non-member", closedNumbers({1, 2, 3}), [](NumericDomain& d) { d.remove(5); }, {1, 2, 3}, {}},
      {"remove one of three",
       closedNumbers({1, 2, 3}),
       [](NumericDomain& d) { d.remove(2); },
       {1, 3},
       {CT::VALUE_REMOVED}},
      {"remove down to one",
       closedNumbers({1, 2}),
       [](NumericDomain& d) { d.remove(2); },
       {1},
       {CT::RESTRICT_TO_SINGLETON}},
      {"remove the last, closed", closedNumbers({1}), [](NumericDomain& d) { d.remove(1); }, {}, {CT::EMPTIED}},
      {"remove the last, open", openNumbers({1}), [](NumericDomain& d) { d.remove(1); }, {}, {CT::VALUE_REMOVED}},
      {"set a member", closedNumbers({1, 2}), [](NumericDomain& d) { d.set(2); }, {2}, {CT::SET_TO_SINGLETON}},
      {"set the one member", closedNumbers({2}), [](NumericDomain& d) { d.set(2); }, {2}, {CT::SET_TO_SINGLETON}},
      {"set a non-member", closedNumbers({1, 2}), [](NumericDomain& d) { d.set(7); }, {}, {CT::EMPTIED}},
      {"set an open domain",
       openNumbers({1, 2}),
       [](NumericDomain& d) { d.set(1); },
       {1},
       {CT::CLOSED, CT::SET_TO_SINGLETON}},
      {"close an empty domain", openNumbers({}), [](NumericDomain& d) { d.close(); }, {}, {CT::CLOSED, CT::EMPTIED}},
      {"empty an empty domain",
       closedNumbers({1}),
       [](NumericDomain& d) {
         d.empty();
         d.empty();
       },
       {},
       {CT::EMPTIED, CT::EMPTIED}},
      {"relax an emptied domain",
       closedNumbers({1}),
       [](NumericDomain& d) {
         d.remove(1);
         d.relax(4.0);
       },
       {4},
       {CT::EMPTIED, CT::RELAXED}},
      {"relax {v} to v", closedNumbers({4}), [](NumericDomain& d) { d.relax(4.0); }, {4}, {}},
      {"range intersection",
       closedNumbers({1, 2, 3, 10}),
       [](NumericDomain& d) { d.intersect(2, 5); },
       {2, 3},
       {CT::VALUE_REMOVED}},
      {"range to one member",
       closedNumbers({1, 2, 3}),
       [](NumericDomain& d) { d.intersect(2, 2); },
       {2},
       {CT::RESTRICT_TO_SINGLETON}},
      {"inverted range", closedNumbers({1, 2}), [](NumericDomain& d) { d.intersect(5, 3); }, {}, {CT::EMPTIED}},
      {"range covering all", closedNumbers({1, 2}), [](NumericDomain& d) { d.intersect(0, 9); }, {1, 2}, {}},
      {"difference on empty",
       closedNumbers({}),
       [](NumericDomain& d) { d.difference(closedNumbers({1})); },
       {},
       {CT::EMPTIED}},
      {"open with closed",
       openNumbers({1, 2}),
       [](NumericDomain& d) {
         d.intersect(closedNumbers({1, 2}));
       },
       {1, 2},
       {CT::CLOSED}},
      {"closed with open", closedNumbers({1, 2}), [](NumericDomain& d) { d.intersect(openNumbers({1})); }, {1, 2}, {}},
      {"relax to open wider",
       closedNumbers({1}),
       [](NumericDomain& d) {
         d.relax(openNumbers({1, 2}));
       },
       {1, 2},
       {CT::OPENED, CT::RELAXED}},
      {"relax to non-superset",
       closedNumbers({1, 3}),
       [](NumericDomain& d) {
         d.relax(closedNumbers({1, 2}));
       },
       {1, 3},
       {}},
      {"reset wider",
       closedNumbers({2}),
       [](NumericDomain& d) {
         d.reset(closedNumbers({1, 2, 3}));
       },
       {1, 2, 3},
       {CT::RELAXED, CT::RESET}},
      {"reset equal",
       closedNumbers({1, 2}),
       [](NumericDomain& d) {
         d.reset(closedNumbers({1, 2}));
       },
       {1, 2},
       {}},
      // A reset to a domain that is not wider still takes its members.
      {"reset narrower",
       closedNumbers({1, 2, 3}),
       [](NumericDomain& d) { d.reset(closedNumbers({2})); },
       {2},
       {CT::RESET}},
      {"reset to empty",
       closedNumbers({1}),
       [](NumericDomain& d) { d.reset(closedNumbers({})); },
       {},
       {CT::RESET, CT::EMPTIED}},
  };
  for (Case& c : cases) {
    RecordingListener listener;
    listener.listenTo(c.dom);
    c.op(c.dom);
    EXPECT_EQ(c.dom.getValues(), c.after) << c.name;
    EXPECT_EQ(listener.changes(), c.reported) << c.name;
  }
}

TEST(EnumeratedDomainTest, RefusedOperationsLeaveTheDomainAlone) {
  NumericDomain open = openNumbers({1, 2});
  NumericDomain closed = closedNumbers({1, 2});
  IntervalDomain interval(0, 5, FloatDT::instance());
  EXPECT_CHECK_FAILS(open.intersect(interval), "!dom.isInterval()");
  // equate refuses before the interval is narrowed to the enumeration's bounds.
  EXPECT_CHECK_FAILS(open.equate(interval), "!dom.isInterval()");
  EXPECT_EQ(interval.getUpperBound(), 5.0);
  EXPECT_CHECK_FAILS(closed.relax(3.0), "isEmpty() || (isSingleton() && (getSingletonValue() == value))");
  EXPECT_CHECK_FAILS(closed.relax(interval), "dom.isEnumerated()");
  EXPECT_CHECK_FAILS(SymbolDomain(SymbolDT::instance()).intersect(0, 1), "!isSymbolic()");
  EXPECT_CHECK_FAILS(closed.intersect(SymbolDomain(SymbolDT::instance())), "canBeCompared(domA, domB)");
  // Assignment needs an enumeration and no listener.
  EXPECT_CHECK_FAILS(closed = interval, "dom.isEnumerated()");
  RecordingListener listener;
  listener.listenTo(closed);
  EXPECT_CHECK_FAILS(closed = closedNumbers({7}), "m_listener.isNoId()");
  EXPECT_EQ(closed.getValues(), (Members{1, 2}));
  EXPECT_TRUE(listener.changes().empty());
  NumericDomain target = openNumbers({});
  target = closed;
  EXPECT_EQ(target.getValues(), (Members{1, 2}));
  EXPECT_TRUE(target.isOpen()) << "assignment keeps the open/closed state";
  EXPECT_TRUE(target.getListener().isNoId());
}

// Two closed enumerations over a grid where same-base values lie within the tolerance of each
// other and different bases lie far apart: every intersection, difference and merge must keep
// exactly the members the other side counts as members, and report by the size left.
TEST(EnumeratedDomainTest, CombiningClosedEnumerationsKeepsTheCommonMembers) {
  const double d = g_epsilon();
  const double offsets[] = {0.0, 0.4 * d, -0.4 * d};
  std::mt19937 random(20240607);
  auto draw = [&] {
    std::list<double> values;
    for (int base = 0; base < 6; ++base)
      if (random() % 2 == 0)
        values.push_back(base + offsets[random() % 3]);
    return closedNumbers(values);
  };
  auto narrowed = [](std::size_t before, std::size_t after) {
    if (after == before)
      return ChangeList{};
    return ChangeList{after == 0 ? CT::EMPTIED : after == 1 ? CT::RESTRICT_TO_SINGLETON : CT::VALUE_REMOVED};
  };
  auto keep = [](const NumericDomain& from, const NumericDomain& other, bool inOther) {
    Members kept;
    for (double v : from.getValues())
      if (other.isMember(v) == inOther)
        kept.insert(v);
    return kept;
  };
  for (int round = 0; round < 300; ++round) {
    const NumericDomain a = draw();
    const NumericDomain b = draw();
    SCOPED_TRACE(a.toString() + " with " + b.toString());
    const Members common_a = keep(a, b, true);
    const Members common_b = keep(b, a, true);

    NumericDomain x(a);
    RecordingListener lx;
    lx.listenTo(x);
    EXPECT_EQ(x.intersect(b), common_a.size() != a.getValues().size());
    EXPECT_EQ(x.getValues(), common_a);
    EXPECT_EQ(lx.changes(), narrowed(a.getValues().size(), common_a.size()));

    NumericDomain y(a);
    EXPECT_EQ(y.difference(b), common_a.size() != 0);
    EXPECT_EQ(y.getValues(), keep(a, b, false));

    if (a.isEmpty() && b.isEmpty())
      continue;
    NumericDomain p(a);
    NumericDomain q(b);
    RecordingListener lp;
    RecordingListener lq;
    lp.listenTo(p);
    lq.listenTo(q);
    const bool changed = p.equate(q);
    if (common_a.empty()) {
      // No common member: the merge stops as soon as one side is empty.
      EXPECT_NE(p.isEmpty(), q.isEmpty());
      EXPECT_TRUE(
          std::includes(a.getValues().begin(), a.getValues().end(), p.getValues().begin(), p.getValues().end()));
      EXPECT_TRUE(
          std::includes(b.getValues().begin(), b.getValues().end(), q.getValues().begin(), q.getValues().end()));
    } else {
      EXPECT_EQ(p.getValues(), common_a);
      EXPECT_EQ(q.getValues(), common_b);
    }
    EXPECT_EQ(lp.changes(), narrowed(a.getValues().size(), p.getValues().size()));
    EXPECT_EQ(lq.changes(), narrowed(b.getValues().size(), q.getValues().size()));
    EXPECT_EQ(changed, p.getValues() != a.getValues() || q.getValues() != b.getValues());
  }
}

TEST(EnumeratedDomainTest, EquateDecidesForIntervalsAndRefusesTwoEmptyEnumerations) {
  const double d = g_epsilon();
  // A member just below the other side's value, within the tolerance, is common.
  NumericDomain a = closedNumbers({0.0, 1.0 - 0.4 * d});
  NumericDomain b = closedNumbers({1.0 + 0.4 * d});
  EXPECT_TRUE(a.equate(b));
  EXPECT_EQ(a.getValues(), (Members{1.0 - 0.4 * d}));
  EXPECT_EQ(b.getValues(), (Members{1.0 + 0.4 * d}));

  NumericDomain e = closedNumbers({1, 2, 3, 10});
  IntervalDomain range(2, 5, FloatDT::instance());
  EXPECT_TRUE(range.equate(e));
  EXPECT_EQ(e.getValues(), (Members{2, 3}));
  EXPECT_EQ(range.getUpperBound(), 3.0);

  NumericDomain none1 = closedNumbers({});
  NumericDomain none2 = closedNumbers({});
  EXPECT_CHECK_FAILS(none1.equate(none2), "!isEmpty() || ! dom.isEmpty()");
}

// A numeric enumeration whose tolerance is wider than the others'.
class CoarseNumbers : public NumericDomain {
public:
  explicit CoarseNumbers(std::list<double> values) : NumericDomain(values, FloatDT::instance()) {}
  double minDelta() const override { return 0.5; }
};

// An enumeration of the library's base class, not one of its kinds, which the domains still combine.
class PlainEnumeration : public EnumeratedDomain {
public:
  explicit PlainEnumeration(std::list<double> values) : EnumeratedDomain(FloatDT::instance(), values) {}
};

TEST(EnumeratedDomainTest, EquatingAcrossTolerancesUsesTheCallersAndEndsSound) {
  // The fine side decides: 0.8 and 1.0 differ for it, though the coarse side counts them the same.
  NumericDomain fine = closedNumbers({1.0});
  CoarseNumbers coarse({0.8, 1.2});
  RecordingListener lf;
  lf.listenTo(fine);
  EXPECT_TRUE(fine.equate(coarse));
  EXPECT_TRUE(fine.isEmpty());
  EXPECT_EQ(lf.changes(), (ChangeList{CT::EMPTIED}));
  EXPECT_TRUE(std::includes(Members{0.8, 1.2}.begin(), Members{0.8, 1.2}.end(), coarse.getValues().begin(),
                            coarse.getValues().end()));

  // The coarse side decides: 0.8 and 1.0 match, 1.2 has no partner left.
  CoarseNumbers wide({0.8, 1.2});
  NumericDomain narrow = closedNumbers({1.0});
  EXPECT_TRUE(wide.equate(narrow));
  EXPECT_EQ(wide.getValues(), (Members{0.8}));
  EXPECT_EQ(narrow.getValues(), (Members{1.0}));
}

TEST(EnumeratedDomainTest, CopiesKeepMembersStateAndTolerance) {
  const double d = g_epsilon();
  std::list<double> many;
  for (int v = 99; v >= 0; --v) // descending, so no append is possible
    many.push_back(v + ((v % 3) - 1) * 0.3 * d);
  const NumericDomain source = closedNumbers(many);
  ASSERT_EQ(source.getSize(), 100);
  const std::unique_ptr<AbstractDomain> heap(source.copy());
  const NumericDomain copied(source);
  const NumericDomain viaBase(static_cast<const AbstractDomain&>(source));
  const std::vector<const AbstractDomain*> copies{heap.get(), &copied, &viaBase};
  for (const AbstractDomain* copy : copies) {
    EXPECT_EQ(dynamic_cast<const EnumeratedDomain&>(*copy).getValues(), source.getValues());
    EXPECT_TRUE(copy->isClosed());
    EXPECT_TRUE(*copy == source);
  }
  const NumericDomain open = openNumbers({3, 1, 2});
  EXPECT_TRUE(NumericDomain(open).isOpen());
  EXPECT_EQ(NumericDomain(open).getValues(), (Members{1, 2, 3}));

  // The base class itself combines like its kinds.
  PlainEnumeration plain({1, 2, 3});
  NumericDomain other = closedNumbers({2, 3, 4});
  EXPECT_TRUE(other.equate(plain));
  EXPECT_EQ(plain.getValues(), (Members{2, 3}));
  EXPECT_EQ(other.getValues(), (Members{2, 3}));
  EXPECT_EQ(EnumeratedDomain(static_cast<const AbstractDomain&>(plain)).getValues(), (Members{2, 3}));
}

TEST(EnumeratedDomainTest, ComparisonsAndQueries) {
  const NumericDomain closed = closedNumbers({1, 2, 3});
  IntervalIntDomain ints(1, 3, IntDT::instance());
  EXPECT_TRUE(closed == ints) << "equal to the integer interval of the same values";
  EXPECT_TRUE(closed != IntervalIntDomain(1, 4, IntDT::instance()));
  EXPECT_FALSE(closed == openNumbers({1, 2, 3})) << "open and closed are never equal";
  EXPECT_TRUE(closed.isSubsetOf(openNumbers({})));
  EXPECT_FALSE(openNumbers({1}).isSubsetOf(closed));
  EXPECT_TRUE(openNumbers({}).intersects(closedNumbers({9})));
  EXPECT_FALSE(closed.intersects(closedNumbers({9})));

  double lb = 0, ub = 0;
  EXPECT_FALSE(closed.getBounds(lb, ub));
  EXPECT_EQ(lb, 1.0);
  EXPECT_EQ(ub, 3.0);
  EXPECT_TRUE(closedNumbers({1, PLUS_INFINITY}).getBounds(lb, ub));
  EXPECT_TRUE(SymbolDomain(LabelStr("a"), SymbolDT::instance()).getBounds(lb, ub));
  EXPECT_CHECK_FAILS(closedNumbers({}).getUpperBound(), "!isEmpty()");
  EXPECT_CHECK_FAILS(closed.getSingletonValue(), "isSingleton()");
  std::list<double> listed{7};
  EXPECT_CHECK_FAILS(closed.getValues(listed), "results.empty()");
  listed.clear();
  closed.getValues(listed);
  EXPECT_EQ(listed, (std::list<double>{1, 2, 3}));
}

TEST(EnumeratedDomainTest, Printing) {
  std::ostringstream streamed;
  streamed << NumericDomain({2.5, 1, 10}, FloatDT::instance());
  EXPECT_EQ(streamed.str(), "float:CLOSED{1, 2.5, 10}");
  EXPECT_EQ(NumericDomain({3, 1}, IntDT::instance()).toString(), "int:CLOSED{1, 3}");
  // Texts in plain string order, whatever order the labels were made in.
  SymbolDomain symbols({LabelStr("beta"), LabelStr("alpha"), LabelStr("Zeta")}, SymbolDT::instance());
  EXPECT_EQ(symbols.toString(), "symbol:CLOSED{Zeta,alpha,beta}");
  EXPECT_EQ(SymbolDomain(SymbolDT::instance()).toString(), "symbol:OPEN{}");
  EXPECT_EQ(StringDomain(std::string("x"), StringDT::instance()).toString(), "string:CLOSED{x}");
}

TEST(EnumeratedDomainTest, ReadingMembersFromText) {
  const NumericDomain numbers = closedNumbers({1, 2.5, PLUS_INFINITY});
  const SymbolDomain symbols(LabelStr("alpha"), SymbolDT::instance());
  const IntervalDomain reals(0, 10, FloatDT::instance());
  const IntervalIntDomain ints(0, 10, IntDT::instance());
  struct {
    const AbstractDomain& dom;
    const char* text;
    bool member;
    double value;
  } cases[] = {
      {numbers, "2.5", true, 2.5},
      {numbers, " 1 ", true, 1},
      {numbers, "inf", true, PLUS_INFINITY},
      {numbers, "3", false, 0},
      {numbers, "abc", false, 0},
      {numbers, "1abc", false, 0},
      {numbers, "", false, 0},
      {numbers, "1e999", false, 0},
      {numbers, "nan", false, 0},
      {symbols, "alpha", true, LabelStr("alpha")},
      {symbols, "beta", false, 0},
      {reals, "5", true, 5},
      {reals, "abc", false, 0},
      {reals, "0x", false, 0},
      {ints, "3", true, 3},
      {ints, "3.9", false, 0},
  };
  for (const auto& c : cases) {
    double value = -77;
    EXPECT_EQ(c.dom.convertToMemberValue(c.text, value), c.member) << c.dom.toString() << " '" << c.text << "'";
    EXPECT_EQ(value, c.member ? c.value : -77) << "'" << c.text << "'";
  }
}

TEST(StringDomainTest, OpenCountsEverythingAndSetPlacesTheValue) {
  StringDomain open(StringDT::instance());
  EXPECT_TRUE(open.isMember(42.0));
  EXPECT_TRUE(open.isMember(std::string("anything")));
  double value = 0;
  EXPECT_TRUE(open.convertToMemberValue("never seen", value));

  RecordingListener listener;
  listener.listenTo(open);
  open.set(std::string("x"));
  EXPECT_EQ(listener.changes(), (ChangeList{CT::CLOSED, CT::SET_TO_SINGLETON}));
  EXPECT_TRUE(open.isMember(std::string("x")));
  EXPECT_FALSE(open.isMember(std::string("y")));
  EXPECT_CHECK_FAILS(open.set(std::string("y")), "isEmpty() || isMember(value)");
  EXPECT_CHECK_FAILS(open.set(3.5), "LabelStr::isString(value)");

  StringDomain emptied(std::string("x"), StringDT::instance());
  emptied.empty();
  emptied.set(std::string("z"));
  EXPECT_EQ(emptied.getValues(), (Members{LabelStr("z")}));

  SymbolDomain symbols({LabelStr("a"), LabelStr("b")}, SymbolDT::instance());
  RecordingListener other;
  other.listenTo(symbols);
  std::unique_ptr<AbstractDomain> copied(symbols.copy());
  ASSERT_NE(dynamic_cast<SymbolDomain*>(copied.get()), nullptr);
  EXPECT_TRUE(*copied == symbols);
  EXPECT_TRUE(copied->getListener().isNoId());
}

} // namespace
} // namespace KALDEN
