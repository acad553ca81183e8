#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/Domains.hh"

#include "support/CapturedTraces.hh"
#include "support/Failure.hh"
#include "support/RecordingListener.hh"
#include "support/StubDataTypes.hh"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <list>
#include <memory>
#include <vector>

namespace KALDEN {
namespace {

using CT = DomainListener::ChangeType;

TEST(DomainListenerTest, ChangeKindNamesAndRestrictions) {
  const char* names[] = {"UPPER_BOUND_DECREASED",
                         "LOWER_BOUND_INCREASED",
                         "BOUNDS_RESTRICTED",
                         "VALUE_REMOVED",
                         "RESTRICT_TO_SINGLETON",
                         "SET_TO_SINGLETON",
                         "RESET",
                         "RELAXED",
                         "CLOSED",
                         "OPENED",
                         "EMPTIED"};
  for (int i = 0; i <= 10; ++i) {
    EXPECT_EQ(DomainListener::toString(static_cast<CT>(i)), names[i]);
    EXPECT_EQ(DomainListener::isRestriction(static_cast<CT>(i)), i <= 4) << names[i];
  }
  EXPECT_EQ(DomainListener::toString(static_cast<CT>(11)), "ERROR");
  EXPECT_EQ(DomainListener::toString(static_cast<CT>(-1)), "ERROR");
  EXPECT_TRUE(DomainListener::isRestriction(static_cast<CT>(-1)));
}

// The tolerant comparisons at exactly the tolerance and at half of it, for both tolerances.
TEST(AbstractDomainTest, ToleranceAtTheEdges) {
  IntervalDomain real(FloatDT::instance());
  IntervalIntDomain integer(IntDT::instance());
  EXPECT_EQ(real.minDelta(), g_epsilon());
  EXPECT_EQ(integer.minDelta(), 1.0);
  for (const AbstractDomain* dom :
       {static_cast<const AbstractDomain*>(&real), static_cast<const AbstractDomain*>(&integer)}) {
    double d = dom->minDelta();
    for (double x : {0.0, 3.0, -4.0}) {
      SCOPED_TRACE(dom->getTypeName().toString() + " at " + std::to_string(x));
      EXPECT_TRUE(dom->compareEqual(x, x));
      EXPECT_TRUE(dom->eq(x, x + d / 2));
      EXPECT_FALSE(dom->compareEqual(x, x + d));
      EXPECT_FALSE(dom->compareEqual(x + d, x));
      EXPECT_TRUE(dom->lt(x, x + d));
      EXPECT_FALSE(dom->lt(x, x + d / 2));
      EXPECT_FALSE(dom->lt(x, x));
      EXPECT_TRUE(dom->leq(x + d / 2, x));
      EXPECT_FALSE(dom->leq(x + d, x));
    }
  }
  EXPECT_TRUE(integer.lt(3, 4));
  EXPECT_FALSE(integer.lt(3, 3.5));
  EXPECT_TRUE(integer.leq(3.5, 3));
  EXPECT_FALSE(integer.leq(4, 3));
}

TEST(AbstractDomainTest, ValueCheckAndFiniteBounds) {
  IntervalDomain real(FloatDT::instance());
  EXPECT_TRUE(real.check_value(PLUS_INFINITY) && real.check_value(MINUS_INFINITY));
  EXPECT_FALSE(real.check_value(std::nextafter(PLUS_INFINITY, 1e300)));
  EXPECT_FALSE(real.check_value(std::nextafter(MINUS_INFINITY, -1e300)));
  EXPECT_FALSE(real.check_value(std::nan("")));
  EXPECT_CHECK_FAILS(IntervalIntDomain(IntDT::instance()).check_value(2.5), "dblValue == value");

  StubLabelDT symbol("symbol", false);
  IntervalDomain symbols(0, 1, symbol.getId());
  EXPECT_TRUE(symbols.check_value(1e300) && symbols.areBoundsFinite());
  EXPECT_FALSE(IntervalDomain(0, PLUS_INFINITY, FloatDT::instance()).areBoundsFinite());
  EXPECT_TRUE(IntervalDomain(0, 10, FloatDT::instance()).areBoundsFinite());
  EXPECT_FALSE(IntervalDomain(5, 3, FloatDT::instance()).areBoundsFinite());
}

TEST(AbstractDomainTest, OpeningClosingAndAttachingReport) {
  RecordingListener listener;
  IntervalDomain dom(5, 3, FloatDT::instance()); // empty
  dom.setListener(listener.getId());
  EXPECT_CHECK_FAILS(dom.setListener(listener.getId()), "m_listener.isNoId()");
  dom.open();
  dom.close();
  EXPECT_EQ(listener.changes(), (ChangeList{CT::CLOSED, CT::EMPTIED, CT::OPENED, CT::CLOSED, CT::EMPTIED}));
  Error closedTwice = failureOf([&] { dom.close(); });
  EXPECT_EQ(closedTwice.getCondition(), "isOpen()");
  EXPECT_EQ(closedTwice.getMessage(), "Attempted to close a domain that is already closed");
  EXPECT_EQ(closedTwice.getFile(), "ConstraintEngine/base/AbstractDomain");
  dom.open();
  EXPECT_CHECK_FAILS(dom.open(), "isClosed()");

  RecordingListener quiet;
  IntervalDomain opened(0, 10, FloatDT::instance());
  opened.open();
  opened.setListener(quiet.getId());
  EXPECT_TRUE(quiet.changes().empty());
  EXPECT_TRUE(opened != IntervalDomain(0, 10, FloatDT::instance())); // closed flags differ
}

TEST(AbstractDomainTest, TouchCopiesAndDeadListeners) {
  IntervalDomain(0, 10, FloatDT::instance()).touch(); // nobody listening: nothing happens
  RecordingListener listener;
  IntervalIntDomain wide(0, 10, IntDT::instance());
  IntervalIntDomain single(4, IntDT::instance());
  single.setListener(listener.getId());
  listener.listenTo(wide);
  wide.touch();
  single.touch();
  EXPECT_EQ(listener.changes(), (ChangeList{CT::BOUNDS_RESTRICTED, CT::RESTRICT_TO_SINGLETON}));

  std::unique_ptr<AbstractDomain> copy(wide.copy());
  EXPECT_TRUE(copy->getListener().isNoId());
  EXPECT_TRUE(copy->minDelta() == 1.0 && copy->getDataType() == wide.getDataType() && copy->isClosed());

  IntervalDomain orphan(0, 10, FloatDT::instance());
  {
    RecordingListener shortLived;
    shortLived.listenTo(orphan);
  }
  EXPECT_CHECK_FAILS(orphan.intersect(2, 8), "m_listener.isNoId() || m_listener.isValid()");
}

TEST(AbstractDomainTest, PrintingAndValueTexts) {
  IntervalIntDomain integer(0, 10, IntDT::instance());
  EXPECT_EQ(IntervalDomain(0, 10, FloatDT::instance()).toString(),
            "float:CLOSED[0.000000000000000, 10.000000000000000]");
  EXPECT_EQ(integer.toString(), "int:CLOSED[0, 10]");
  EXPECT_EQ(integer.toString(7), "7");
  EXPECT_EQ(BoolDomain(BoolDT::instance()).toString(1), "true");
  Error notMember = failureOf([&] { integer.toString(11); });
  EXPECT_EQ(notMember.getCondition(), "isMember(value)");
  EXPECT_EQ(notMember.getMessage(), "11 not in int:CLOSED[0, 10]");
}

// Restores the process-wide comparator state after each comparator test.
class DomainComparatorTest : public ::testing::Test {
protected:
  void TearDown() override { DomainComparator::setComparator(nullptr); }
};

// Refuses every pair.
class RefusingComparator : public DomainComparator {
public:
  bool canCompare(const AbstractDomain&, const AbstractDomain&) const override { return false; }
};

TEST_F(DomainComparatorTest, InstallAndUninstall) {
  IntervalDomain real(FloatDT::instance());
  IntervalIntDomain integer(IntDT::instance());
  BoolDomain boolean(BoolDT::instance());

  DomainComparator::setComparator(nullptr);
  EXPECT_TRUE(DomainComparator::comparatorIsNull());
  EXPECT_TRUE(AbstractDomain::canBeCompared(real, integer));
  EXPECT_FALSE(DomainComparator::comparatorIsNull());
  const DomainComparator* defaultComparator = &DomainComparator::getComparator();
  EXPECT_TRUE(AbstractDomain::canBeCompared(boolean, integer));

  {
    RefusingComparator refusing; // constructing installs it
    EXPECT_EQ(&DomainComparator::getComparator(), &refusing);
    EXPECT_FALSE(AbstractDomain::canBeCompared(real, real));
    {
      RefusingComparator other;
      DomainComparator::setComparator(&refusing);
    } // destroying a comparator that is not current changes nothing
    EXPECT_EQ(&DomainComparator::getComparator(), &refusing);
    Error refused = failureOf([&] { real.intersect(integer); });
    EXPECT_EQ(refused.getCondition(), "canBeCompared(domA, domB)");
    EXPECT_EQ(refused.getMessage(), "float cannot be compared with int");
  } // destroying the current comparator leaves none
  EXPECT_TRUE(DomainComparator::comparatorIsNull());
  EXPECT_TRUE(AbstractDomain::canBeCompared(real, integer));
  EXPECT_EQ(&DomainComparator::getComparator(), defaultComparator);
}

// Passes every question to the default rule, as a comparator of a client's own would.
class ForwardingComparator : public DomainComparator {
public:
  bool canCompare(const AbstractDomain& domx, const AbstractDomain& domy) const override {
    return DomainComparator::canCompare(domx, domy);
  }
};

// An integer type of a client's own that will not be compared with anything.
class AloofIntDT : public IntDT {
public:
  bool canBeCompared(const Id<DataType>&) const override { return false; }
};

// The answer for two built-in number types is taken without asking the comparator when the
// system's own default comparator is current; it must be the answer the question would get,
// for every pair and whichever comparator is current.
TEST_F(DomainComparatorTest, EveryComparatorGetsTheAnswerOfItsOwnRule) {
  RestrictedDT small("small", IntDT::instance(), IntervalIntDomain(1, 5, IntDT::instance()));
  AloofIntDT aloof;
  StubLabelDT label("label", false);
  std::vector<std::unique_ptr<AbstractDomain> > domains;
  domains.emplace_back(new IntervalDomain(0.0, 1.0, FloatDT::instance()));
  domains.emplace_back(new IntervalIntDomain(0, 3, IntDT::instance()));
  domains.emplace_back(new BoolDomain(BoolDT::instance()));
  domains.emplace_back(new NumericDomain(std::list<double>{1.0, 2.0}, FloatDT::instance()));
  domains.emplace_back(new NumericDomain(IntDT::instance())); // open
  domains.emplace_back(new IntervalIntDomain(1, 5, small.getId()));
  domains.emplace_back(new IntervalIntDomain(0, 3, aloof.getId()));
  domains.emplace_back(new SymbolDomain(SymbolDT::instance()));
  domains.emplace_back(new StringDomain(StringDT::instance()));
  domains.emplace_back(new SymbolDomain(label.getId()));

  // What the default rule says: the first domain's type is asked about the second's.
  auto rule = [](const AbstractDomain& x, const AbstractDomain& y) {
    return x.getDataType()->canBeCompared(y.getDataType());
  };
  auto answers = [&](const char* current,
                     const std::function<bool(const AbstractDomain&, const AbstractDomain&)>& expected) {
    for (const auto& x : domains)
      for (const auto& y : domains)
        EXPECT_EQ(AbstractDomain::canBeCompared(*x, *y), expected(*x, *y)) << current << ": " << *x << " with " << *y;
  };

  DomainComparator::setComparator(nullptr);
  answers("default made on demand", rule);
  answers("default current", rule);
  {
    ForwardingComparator forwarding;
    answers("forwarding", rule);
  }
  {
    DomainComparator plain; // of the default class, but not the system's own
    answers("plain", rule);
  }
  {
    RefusingComparator refusing;
    answers("refusing", [](const AbstractDomain&, const AbstractDomain&) { return false; });
  }
  answers("default again", rule);

  // The type of a client's own decides for itself, even when it derives from a built-in one.
  IntervalIntDomain integer(IntDT::instance());
  IntervalIntDomain aloofInteger(aloof.getId());
  EXPECT_FALSE(AbstractDomain::canBeCompared(aloofInteger, integer));
  EXPECT_TRUE(AbstractDomain::canBeCompared(integer, aloofInteger));
}

TEST_F(DomainComparatorTest, QuestionAndAnswerAreTraced) {
  IntervalIntDomain integer(0, 10, IntDT::instance());
  BoolDomain boolean(BoolDT::instance());
  CapturedTraces traces("AbstractDomain:canBeCompared");
  EXPECT_TRUE(AbstractDomain::canBeCompared(integer, boolean));
  EXPECT_EQ(traces.text(),
            "[AbstractDomain:canBeCompared]domx.isBool 0 domx.isNumeric 1 domx.isString 0 domx.isSymbolic 0\n"
            "[AbstractDomain:canBeCompared]domy.isBool 1 domy.isNumeric 1 domy.isString 0 domy.isSymbolic 0\n"
            "[AbstractDomain:canBeCompared]type of domx int type of domy bool\n"
            "[AbstractDomain:canBeCompared]int:CLOSED[0, 10]\n"
            "[AbstractDomain:canBeCompared]bool:CLOSED[0, 1]\n"
            "[AbstractDomain:canBeCompared]returning 1\n");
}

} // namespace
} // namespace KALDEN
