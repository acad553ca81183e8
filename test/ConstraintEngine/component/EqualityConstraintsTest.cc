#include "ConstraintEngine/component/BoundsArithmetic.hh"
#include "ConstraintEngine/component/Constraints.hh"
#include "support/CapturedTraces.hh"
#include "support/Failure.hh"
#include "support/LibraryFixture.hh"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

class EqualityConstraintsTest : public LibraryFixture {
protected:
  static void SetUpTestSuite() { SymbolDT::instance(); } // shared for the process: made before counting

  EqualConstraint* equal(const std::vector<Id<ConstrainedVariable> >& scope) {
    return new EqualConstraint("eq", "Default", engine(), scope);
  }
  NotEqualConstraint* notEqual(const Id<ConstrainedVariable>& x, const Id<ConstrainedVariable>& y) {
    return new NotEqualConstraint("neq", "Default", engine(), makeScope(x, y));
  }
  static std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
      ++n;
    return n;
  }
};

TEST_F(EqualityConstraintsTest, EquatesNeighboursForwardThenBack) {
  struct Case {
    const char* what;
    std::vector<std::vector<double> > before, after; // interval bounds per variable
    std::size_t equates;                             // pairs equated: forward, then back when something changed
  };
  const Case cases[] = {
      {"one variable", {{0, 10}}, {{0, 10}}, 0},
      {"two", {{0, 10}, {5, 20}}, {{5, 10}, {5, 10}}, 1},
      {"three", {{0, 10}, {5, 20}, {0, 7}}, {{5, 7}, {5, 7}, {5, 7}}, 3},
      {"four, narrowest last", {{0, 10}, {0, 10}, {0, 10}, {4, 4}}, {{4, 4}, {4, 4}, {4, 4}, {4, 4}}, 5},
      {"already equal", {{1, 3}, {1, 3}, {1, 3}}, {{1, 3}, {1, 3}, {1, 3}}, 2},
  };
  for (const Case& c : cases) {
    std::vector<Id<ConstrainedVariable> > scope;
    for (const std::vector<double>& b : c.before)
      scope.push_back(intVar("v", static_cast<int>(b[0]), static_cast<int>(b[1])));
    CapturedTraces traces("EqualConstraint:equate");
    equal(scope)->handleExecute();
    for (std::size_t i = 0; i < scope.size(); ++i)
      EXPECT_EQ(bounds(scope[i]), c.after[i]) << c.what << ", variable " << i;
    EXPECT_EQ(count(traces.text(), "[EqualConstraint:equate]before equate "), c.equates) << c.what;
  }
}

TEST_F(EqualityConstraintsTest, StopsAtTheFirstEmptiedDomain) {
  const Id<ConstrainedVariable> a = intVar("a", 0, 1);
  const Id<ConstrainedVariable> b = intVar("b", 5, 6);
  const Id<ConstrainedVariable> c = intVar("c", 0, 10);
  CapturedTraces traces("EqualConstraint:equate");
  equal({a, b, c})->handleExecute();
  EXPECT_TRUE(dom(a).isEmpty() || dom(b).isEmpty());
  EXPECT_EQ(bounds(c), (std::vector<double>{0, 10}));
  EXPECT_NE(traces.text().find("[EqualConstraint:equate]emptied variable " + a->toString() + " --- " + b->toString()),
            std::string::npos);
}

TEST_F(EqualityConstraintsTest, EquatesEnumerations) {
  const Id<ConstrainedVariable> a = enumVar("a", {1, 2, 3});
  const Id<ConstrainedVariable> b = enumVar("b", {2, 3, 4});
  const Id<ConstrainedVariable> c = intVar("c", 3, 9);
  equal({a, b, c})->handleExecute();
  EXPECT_EQ(values(a), (std::vector<double>{3}));
  EXPECT_EQ(values(b), (std::vector<double>{3}));
  EXPECT_EQ(values(c), (std::vector<double>{3}));
}

TEST_F(EqualityConstraintsTest, RefusesToRunInactiveAndWaitsOverAnIntervalAndAnOpenEnumeration) {
  const Id<ConstrainedVariable> x = intVar("x", 0, 3);
  EqualConstraint* inactive = equal({x, intVar("y", 0, 3)});
  inactive->deactivate();
  EXPECT_CHECK_FAILS(inactive->handleExecute(), "isActive()");

  NumericDomain open(IntDT::instance());
  open.insert(1);
  open.insert(5);
  const Id<ConstrainedVariable> o = (new Variable<EnumeratedDomain>(engine(), open, false, true, "o",
                                                                    Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
                                        ->getId();
  // The open side may still gain any value: the pair waits for it to be closed.
  EqualConstraint* mixed = equal({x, o});
  mixed->handleExecute();
  EXPECT_EQ(bounds(x), (std::vector<double>{0, 3}));
  EXPECT_EQ(values(o), (std::vector<double>{1, 5}));
}

TEST_F(EqualityConstraintsTest, NotEqualRemovesADecidedValueWhereTheOtherDomainAllows) {
  typedef std::function<Id<ConstrainedVariable>()> Make;
  struct Case {
    const char* what;
    Make x, y;
    std::vector<double> xAfter, yAfter; // bounds; empty for an emptied domain
  };
  const Case cases[] = {
      {"from an enumeration",
       [&] { return enumVar("x", {3}); },
       [&] {
         return enumVar("y", {1, 2, 3});
       },
       {3, 3},
       {1, 2}},
      {"no singleton", [&] { return intVar("x", 0, 10); }, [&] { return enumVar("y", {4}); }, {0, 10}, {4, 4}},
      {"lower end", [&] { return intVar("x", 0, 0); }, [&] { return intVar("y", 0, 10); }, {0, 0}, {1, 10}},
      {"upper end", [&] { return intVar("x", 10, 10); }, [&] { return intVar("y", 0, 10); }, {10, 10}, {0, 9}},
      {"inside", [&] { return intVar("x", 5, 5); }, [&] { return intVar("y", 0, 10); }, {5, 5}, {0, 10}},
      {"both the same singleton", [&] { return intVar("x", 7, 7); }, [&] { return intVar("y", 7, 7); }, {7, 7}, {}},
      {"true leaves false", [&] { return boolVar("x", true); }, [&] { return boolVar("y"); }, {1, 1}, {0, 0}},
      {"false leaves true", [&] { return boolVar("x", false); }, [&] { return boolVar("y"); }, {0, 0}, {1, 1}},
      {"value not held",
       [&] { return enumVar("x", {3}); },
       [&] {
         return enumVar("y", {1, 2});
       },
       {3, 3},
       {1, 2}},
      {"y decided", [&] { return intVar("x", 0, 10); }, [&] { return intVar("y", 10, 10); }, {0, 9}, {10, 10}},
  };
  for (const Case& c : cases) {
    const Id<ConstrainedVariable> x = c.x();
    const Id<ConstrainedVariable> y = c.y();
    notEqual(x, y)->handleExecute();
    EXPECT_EQ(bounds(x), c.xAfter) << c.what;
    if (c.yAfter.empty())
      EXPECT_TRUE(dom(y).isEmpty()) << c.what;
    else
      EXPECT_EQ(bounds(y), c.yAfter) << c.what;
  }
}

// The cut off a real interval is judged by the interval's own tolerance: an integer's step would
// remove real values other than the excluded one.
// An interval end that another constraint moves onto the decided value must go too.
TEST_F(EqualityConstraintsTest, NotEqualHearsAnIntervalEndMovingOntoTheDecidedValue) {
  Id<ConstrainedVariable> x = intVar("x", -3, 0), y = intVar("y", -2, -2);
  NotEqualConstraint* c = notEqual(x, y);
  EXPECT_FALSE(c->canIgnore(x, 0, DomainListener::LOWER_BOUND_INCREASED));
  Id<ConstrainedVariable> u = intVar("u", -3, 0), w = intVar("w", -2, 2);
  NotEqualConstraint* undecided = notEqual(u, w);
  EXPECT_TRUE(undecided->canIgnore(u, 0, DomainListener::LOWER_BOUND_INCREASED));
}

TEST_F(EqualityConstraintsTest, NotEqualCutsARealIntervalByItsOwnTolerance) {
  const Id<ConstrainedVariable> atEnd = floatVar("atEnd", 3, 10);
  notEqual(intVar("x", 3, 3), atEnd)->handleExecute();
  EXPECT_FALSE(dom(atEnd).isMember(3));
  EXPECT_TRUE(dom(atEnd).isMember(3.5));

  const Id<ConstrainedVariable> nearEnd = floatVar("nearEnd", 2.5, 10);
  notEqual(intVar("z", 3, 3), nearEnd)->handleExecute();
  EXPECT_EQ(bounds(nearEnd), (std::vector<double>{2.5, 10}));
}

// A real interval narrower than the tolerance is not one value: it removes from the other side
// only what equals both its ends, and a decided value empties it only when it equals both.
TEST_F(EqualityConstraintsTest, NotEqualReadsANarrowRealIntervalAsTheValuesItHolds) {
  struct Case {
    const char* what;
    double xLb, xUb, yLb, yUb;
    double xLbAfter, yLbAfter, yUbAfter;
  };
  const Case cases[] = {
      {"narrow against nearly narrow", 0.999999999, 1.000000001, 0.999985, 1.0000001, 0.999999999, 0.999985,
       BoundsArithmetic::apartBelow(1.000000001, 1e-5)},
      {"an end equal to one end only", 1, 1.000009, 0.99, 1.000018, 1, 0.99, 1.000018},
      {"a decided value equal to one end only", 1, 1.000009, 1.000018, 1.000018, 1, 1.000018, 1.000018},
  };
  for (const Case& k : cases) {
    const Id<ConstrainedVariable> x = floatVar("x", k.xLb, k.xUb), y = floatVar("y", k.yLb, k.yUb);
    NotEqualConstraint* c = notEqual(x, y);
    c->handleExecute();
    c->handleExecute();
    EXPECT_FALSE(dom(x).isEmpty()) << k.what;
    EXPECT_EQ(dom(x).getLowerBound(), k.xLbAfter) << k.what;
    EXPECT_EQ(bounds(y), (std::vector<double>{k.yLbAfter, k.yUbAfter})) << k.what;
  }
  // What equals every value of the narrow interval goes, from an enumeration and an integer interval.
  const Id<ConstrainedVariable> narrow = floatVar("narrow", 2, 2.000001);
  const Id<ConstrainedVariable> members = enumVar("members", {1.999995, 2.000009, 3});
  const Id<ConstrainedVariable> integers = intVar("integers", 2, 4);
  notEqual(narrow, members)->handleExecute();
  notEqual(narrow, integers)->handleExecute();
  EXPECT_EQ(values(members), (std::vector<double>{3}));
  EXPECT_EQ(bounds(integers), (std::vector<double>{3, 4}));
}

// An end steps the tolerance past what it must not hold, however little that moves it: past the
// nearer end of a narrow y, and past the value y is later decided to inside itself.
TEST_F(EqualityConstraintsTest, NotEqualStepsPastANarrowIntervalAndAValueDecidedInsideIt) {
  const double D = 1e-5;
  const Id<ConstrainedVariable> x = floatVar("x", 1, 5), y = floatVar("y", 1, 1.000009);
  const Id<ConstrainedVariable> near = floatVar("near", 1.000005, 5);
  NotEqualConstraint* c = notEqual(x, y);
  c->handleExecute();
  notEqual(near, y)->handleExecute();
  EXPECT_EQ(dom(x).getLowerBound(), BoundsArithmetic::apartAbove(1, D));
  EXPECT_EQ(dom(near).getLowerBound(), BoundsArithmetic::apartAbove(1, D));
  y->specify(1.000005);
  c->handleExecute();
  EXPECT_EQ(dom(x).getLowerBound(), BoundsArithmetic::apartAbove(1.000005, D));
  EXPECT_FALSE(dom(x).isMember(1.000005));
}

TEST_F(EqualityConstraintsTest, NotEqualChecksItsDomainsAtExecution) {
  const Id<ConstrainedVariable> x = intVar("x", 1, 1);
  const Id<ConstrainedVariable> s =
      (new Variable<EnumeratedDomain>(engine(), SymbolDomain(LabelStr("a"), SymbolDT::instance()), false, true, "s",
                                      Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
          ->getId();
  const Error failure = failureOf([&] { notEqual(x, s)->handleExecute(); });
  EXPECT_EQ(failure.getCondition(), "AbstractDomain::canBeCompared(domx, domy)");
  EXPECT_EQ(failure.getMessage(), "Cannot compare " + dom(x).toString() + " and " + dom(s).toString() + ".");
  EXPECT_CHECK_FAILS(notEqual(x, intVar("e", 1, 0))->handleExecute(), "!domx.isEmpty() && !domy.isEmpty()");
}

TEST_F(EqualityConstraintsTest, NotEqualIgnoresChangesThatLeaveTooManyValues) {
  struct Case {
    const char* what;
    Id<ConstrainedVariable> var;
    DomainListener::ChangeType change;
    bool ignored;
  };
  NotEqualConstraint* c = notEqual(intVar("x", 0, 1), intVar("y", 0, 1));
  const Case cases[] = {
      {"two integers", intVar("a", 4, 5), DomainListener::LOWER_BOUND_INCREASED, false},
      {"three integers", intVar("b", 4, 6), DomainListener::LOWER_BOUND_INCREASED, true},
      {"a single value", enumVar("c", {4}), DomainListener::RESTRICT_TO_SINGLETON, false},
      {"two enumerated values", enumVar("d", {4, 5}), DomainListener::VALUE_REMOVED, true},
      {"a real interval", floatVar("e", 0, 1), DomainListener::BOUNDS_RESTRICTED, true},
      {"reset", intVar("f", 4, 6), DomainListener::RESET, false},
      {"relaxed", enumVar("g", {4, 5}), DomainListener::RELAXED, false},
  };
  for (const Case& k : cases)
    EXPECT_EQ(c->canIgnore(k.var, 0, k.change), k.ignored) << k.what;
}

} // namespace
} // namespace KALDEN
