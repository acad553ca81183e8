#include "ConstraintEngine/component/Constraints.hh"
#include "support/CapturedTraces.hh"
#include "support/LibraryFixture.hh"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

class TestConstraintsTest : public LibraryFixture {
protected:
  typedef std::function<Constraint*(const Id<ConstraintEngine>&, const std::vector<Id<ConstrainedVariable> >&)> Build;

  template <class C>
  static Build build() {
    return [](const Id<ConstraintEngine>& engine, const std::vector<Id<ConstrainedVariable> >& scope) {
      return new C("test", "Default", engine, scope);
    };
  }

  enum Truth { UNDECIDED, FALSE, TRUE, EMPTIED };

  struct Case {
    const char* what;
    Build make;
    Truth before;
    std::vector<int> arg1, arg2; // interval bounds
    Truth after;
    std::vector<double> arg1After, arg2After;
  };

  Id<ConstrainedVariable> test(Truth truth) { return truth == UNDECIDED ? boolVar("t") : boolVar("t", truth == TRUE); }

  static Truth truthOf(const AbstractDomain& test) {
    if (test.isEmpty())
      return EMPTIED;
    if (!test.isSingleton())
      return UNDECIDED;
    return test.getSingletonValue() == 1.0 ? TRUE : FALSE;
  }

  void run(const Case& c) {
    const Id<ConstrainedVariable> t = test(c.before);
    const Id<ConstrainedVariable> a = intVar("a", c.arg1[0], c.arg1[1]);
    const Id<ConstrainedVariable> b = intVar("b", c.arg2[0], c.arg2[1]);
    c.make(engine(), makeScope(t, a, b))->handleExecute();
    EXPECT_EQ(truthOf(dom(t)), c.after) << c.what;
    EXPECT_EQ(bounds(a), c.arg1After) << c.what;
    EXPECT_EQ(bounds(b), c.arg2After) << c.what;
  }
};

TEST_F(TestConstraintsTest, DecideTheTestAndNarrowOnlyOnATrueEquality) {
  const Build eq = build<TestEQ>();
  const Build lt = build<TestLessThan>();
  const Build leq = build<TestLEQ>();
  const Case cases[] = {
      {"eq: equal singletons", eq, UNDECIDED, {3, 3}, {3, 3}, TRUE, {3, 3}, {3, 3}},
      {"eq: disjoint", eq, UNDECIDED, {0, 5}, {6, 10}, FALSE, {0, 5}, {6, 10}},
      {"eq: overlapping", eq, UNDECIDED, {0, 5}, {3, 10}, UNDECIDED, {0, 5}, {3, 10}},
      {"eq: true narrows", eq, TRUE, {0, 5}, {3, 10}, TRUE, {3, 5}, {3, 5}},
      {"eq: false contradicted", eq, FALSE, {4, 4}, {4, 4}, EMPTIED, {4, 4}, {4, 4}},
      {"eq: false never narrows", eq, FALSE, {0, 5}, {3, 10}, FALSE, {0, 5}, {3, 10}},
      {"eq: true contradicted", eq, TRUE, {0, 2}, {3, 10}, EMPTIED, {0, 2}, {3, 10}},
      {"lt: below", lt, UNDECIDED, {0, 4}, {5, 9}, TRUE, {0, 4}, {5, 9}},
      {"lt: touching from above", lt, UNDECIDED, {5, 9}, {0, 5}, FALSE, {5, 9}, {0, 5}},
      {"lt: touching from below", lt, UNDECIDED, {0, 5}, {5, 9}, UNDECIDED, {0, 5}, {5, 9}},
      {"lt: true contradicted", lt, TRUE, {5, 9}, {0, 5}, EMPTIED, {5, 9}, {0, 5}},
      {"leq: touching from below", leq, UNDECIDED, {0, 5}, {5, 9}, TRUE, {0, 5}, {5, 9}},
      {"leq: above", leq, UNDECIDED, {6, 9}, {0, 5}, FALSE, {6, 9}, {0, 5}},
      {"leq: touching from above", leq, UNDECIDED, {5, 9}, {0, 5}, UNDECIDED, {5, 9}, {0, 5}},
      {"leq: false contradicted", leq, FALSE, {0, 5}, {5, 9}, EMPTIED, {0, 5}, {5, 9}},
  };
  for (const Case& c : cases)
    run(c);
}

// An integer interval and a real one share only integers: {test before, a, b (a integer when
// aInt, b the other kind), test after, a and b after}.
// An open argument may still gain or lose members: the order tests decide nothing from its values
// so far (no 5 is at most, or below, [0, 3]), and decide once it is closed.
TEST_F(TestConstraintsTest, OrderTestsWaitForAnOpenArgument) {
  for (const Build& make : {build<TestLessThan>(), build<TestLEQ>()}) {
    const Id<ConstrainedVariable> t = test(UNDECIDED), a = openVar("a", {5});
    Constraint* c = make(engine(), makeScope(t, a, intVar("b", 0, 3)));
    c->handleExecute();
    EXPECT_EQ(truthOf(dom(t)), UNDECIDED);
    a->close();
    c->handleExecute();
    EXPECT_EQ(truthOf(dom(t)), FALSE);
  }
}

TEST_F(TestConstraintsTest, EqualityAcrossKindsSharesOnlyIntegers) {
  const struct {
    const char* what;
    Truth before;
    bool aInt;
    std::vector<double> a, b;
    Truth after;
    std::vector<double> aAfter, bAfter;
  } cases[] = {
      {"integer 2, real 2.25", UNDECIDED, true, {2, 2}, {2.25, 2.25}, FALSE, {2, 2}, {2.25, 2.25}},
      {"real 2.25, integer 2", UNDECIDED, false, {2.25, 2.25}, {2, 2}, FALSE, {2.25, 2.25}, {2, 2}},
      {"no integer in the real range", UNDECIDED, true, {2, 3}, {2.25, 2.75}, FALSE, {2, 3}, {2.25, 2.75}},
      {"integer 2, real 2", UNDECIDED, true, {2, 2}, {2, 2}, TRUE, {2, 2}, {2, 2}},
      {"an integer in common", UNDECIDED, true, {0, 4}, {0.5, 2.25}, UNDECIDED, {0, 4}, {0.5, 2.25}},
      {"true narrows to the integers", TRUE, true, {0, 4}, {0.5, 2.25}, TRUE, {1, 2}, {1, 2}},
  };
  for (const auto& c : cases) {
    const Id<ConstrainedVariable> t = test(c.before);
    const Id<ConstrainedVariable> a = c.aInt ? intVar("a", static_cast<int>(c.a[0]), static_cast<int>(c.a[1]))
                                             : floatVar("a", c.a[0], c.a[1]);
    const Id<ConstrainedVariable> b = c.aInt ? floatVar("b", c.b[0], c.b[1])
                                             : intVar("b", static_cast<int>(c.b[0]), static_cast<int>(c.b[1]));
    TestEQ eq("test", "Default", engine(), makeScope(t, a, b));
    eq.handleExecute();
    EXPECT_EQ(truthOf(dom(t)), c.after) << c.what;
    EXPECT_EQ(bounds(a), c.aAfter) << c.what;
    EXPECT_EQ(bounds(b), c.bAfter) << c.what;
  }
}

TEST_F(TestConstraintsTest, TraceWhatTheyCompare) {
  const Id<ConstrainedVariable> t = boolVar("t");
  const Id<ConstrainedVariable> a = intVar("a", 0, 5);
  const Id<ConstrainedVariable> b = intVar("b", 5, 9);
  {
    CapturedTraces traces("TestEQ:handleExecute");
    (new TestEQ("eq", "Default", engine(), makeScope(t, a, b)))->handleExecute();
    EXPECT_EQ(traces.text(), "[TestEQ:handleExecute]comparing int:CLOSED[0, 5] with int:CLOSED[5, 9]\n");
  }
  CapturedTraces traces("TestLEQ:handleExecute");
  TestLEQ* leq = new TestLEQ("leq", "Default", engine(), makeScope(boolVar("u"), a, b));
  const std::string before = leq->toString();
  leq->handleExecute();
  EXPECT_EQ(traces.text(),
            "[TestLEQ:handleExecute]BEFORE:" + before + "\n[TestLEQ:handleExecute]AFTER:" + leq->toString() + "\n");
  EXPECT_NE(before, leq->toString()); // the test variable was decided in between
}

} // namespace
} // namespace KALDEN
