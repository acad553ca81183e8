// Reals as users write them: decimals that binary floating point holds only nearly (0.1 + 0.2
// comes to 0.30000000000000004), and reals a hair (closer than the tolerance) beside an integer.
// Two numbers closer than the tolerance are equal, so every network below has a solution, and
// the engine must say so and keep the values it uses.

#include "ConstraintEngine/component/AllDiffConstraints.hh"
#include "ConstraintEngine/component/AllSameConstraints.hh"
#include "ConstraintEngine/component/ArithmeticConstraints.hh"
#include "ConstraintEngine/component/BoundsArithmetic.hh"
#include "ConstraintEngine/component/EqualityConstraints.hh"
#include "ConstraintEngine/component/ExtremumConstraints.hh"
#include "ConstraintEngine/component/FunctionConstraints.hh"
#include "ConstraintEngine/component/OrderingConstraints.hh"
#include "ConstraintEngine/component/SumConstraints.hh"
#include "ConstraintEngine/component/TestConstraints.hh"

#include "support/EngineFixture.hh"

#include <gtest/gtest.h>

#include <list>
#include <vector>

namespace KALDEN {
namespace {

class DecimalRealsTest : public NetworkFixture {
protected:
  DecimalRealsTest() {
    // The conditional sum types its interim by x's type.
    m_schema->registerDataType((new IntDT())->getId());
    m_schema->registerDataType((new FloatDT())->getId());
    m_schema->registerDataType((new BoolDT())->getId());
  }

  Id<ConstrainedVariable> boolVar(const char* name, double lb = 0, double ub = 1) {
    BoolDomain dom(BoolDT::instance());
    dom.intersect(lb, ub);
    return (new Variable<BoolDomain>(engine(), dom, false, true, name, Id<Entity>::noId(),
                                     ConstrainedVariable::NO_INDEX))
        ->getId();
  }
  Id<ConstrainedVariable> intEnumVar(const char* name, const std::list<double>& values) {
    return (new Variable<EnumeratedDomain>(engine(), NumericDomain(values, IntDT::instance()), false, true, name,
                                           Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
        ->getId();
  }
  template <class C>
  void post(const std::vector<Id<ConstrainedVariable> >& scope) {
    new C("c", "Default", engine(), scope);
  }
  bool propagate() { return m_engine->propagate(); }
  static bool holds(const Id<ConstrainedVariable>& v, double value) { return v->lastDomain().isMember(value); }
};

TEST_F(DecimalRealsTest, SumsOfDecimalsMeetEnumerationsAndIntegers) {
  // 2 + 0.1 = 2.1, whose difference with 2 comes back as 0.10000000000000009.
  for (bool xInt : {false, true}) {
    Id<ConstrainedVariable> x = xInt ? intVar("x", 2, 2) : floatVar("x", 2, 2);
    Id<ConstrainedVariable> y = enumVar("y", {0.1}), z = floatVar("z", -1000, 1000);
    post<AddEqualConstraint>({x, y, z});
    EXPECT_TRUE(propagate()) << xInt;
    EXPECT_TRUE(holds(y, 0.1)) << xInt;
  }
  {
    // z narrows to 1.9, and 1.9 - 0.9 comes back a bit below 1.
    Id<ConstrainedVariable> x = intVar("x", 1, 1), y = floatVar("y", 0.9, 0.9), z = floatVar("z", 1.5, 2.5);
    post<AddEqualConstraint>({x, y, z});
    EXPECT_TRUE(propagate());
    EXPECT_TRUE(holds(x, 1) && holds(z, 1.9));
  }
  {
    // c = a + b with c in {0.3, 0.5}.
    Id<ConstrainedVariable> c = enumVar("c", {0.3, 0.5}), a = floatVar("a", 0.1, 0.1), b = floatVar("b", 0.2, 0.2);
    post<EqualSumConstraint>({c, a, b});
    EXPECT_TRUE(propagate());
    EXPECT_TRUE(holds(c, 0.3));
    EXPECT_FALSE(holds(c, 0.5));
  }
  {
    Id<ConstrainedVariable> a = enumVar("a", {0.1, 0.4}), b = enumVar("b", {0.2}), c = enumVar("c", {0.3, 0.5});
    post<AddEqualConstraint>({a, b, c});
    EXPECT_TRUE(propagate());
    EXPECT_TRUE(holds(a, 0.1) && holds(c, 0.3));
  }
}

TEST_F(DecimalRealsTest, ProductsAndConditionalSumsOfDecimals) {
  {
    // -0.4 * y = 1.2: 1.2 / -0.4 comes back as -2.9999999999999996, and y keeps -3.
    Id<ConstrainedVariable> x = floatVar("x", -0.4, -0.4), y = intVar("y", -3, 0), z = floatVar("z", 1.2, 1.2);
    post<MultEqualConstraint>({x, y, z});
    EXPECT_TRUE(propagate());
    EXPECT_TRUE(holds(y, -3));
  }
  {
    // b false: 0 differs from 0.6 + 1.
    Id<ConstrainedVariable> b = boolVar("b", 0, 0), s = floatVar("s", 0, 0), a = floatVar("a", 0.6, 0.6),
                            c = floatVar("c", 1, 1);
    post<CondEqualSumConstraint>({b, s, a, c});
    EXPECT_TRUE(propagate());
  }
  {
    // b false, yet 0.3 = 0.1 + 0.2: no solution, though the computed sum is 0.30000000000000004.
    Id<ConstrainedVariable> b = boolVar("b", 0, 0), s = floatVar("s", 0.3, 0.3), a = floatVar("a", 0.1, 0.1),
                            c = floatVar("c", 0.2, 0.2);
    CondEqualSumConstraint* sum = new CondEqualSumConstraint("c", "Default", engine(), {b, s, a, c});
    EXPECT_FALSE(propagate());
    delete sum;
    EXPECT_TRUE(propagate());
  }
}

TEST_F(DecimalRealsTest, AHairBesideAnIntegerKeepsTheInteger) {
  {
    // z - y comes back one unit in the last place below 2.
    Id<ConstrainedVariable> x = intVar("x", 2, 2), y = floatVar("y", 1e-7, 1e-7), z = floatVar("z", -1000, 1000);
    post<AddEqualConstraint>({x, y, z});
    EXPECT_TRUE(propagate());
  }
  {
    // x = -2 with y = -1.99998 makes z = -3.99998, from which x's lower bound comes back a bit above -2.
    Id<ConstrainedVariable> x = intVar("x", -2, 0), y = floatVar("y", -2 + 2e-5, -2 + 2e-5),
                            z = floatVar("z", -1000, 1000);
    post<AddEqualConstraint>({x, y, z});
    EXPECT_TRUE(propagate());
    EXPECT_TRUE(holds(x, -2));
  }
}

TEST_F(DecimalRealsTest, AllDifferentEndsOnValuesWithinTheTolerance) {
  // z lies within the tolerance of y's 2: they are equal, and propagation ends.
  Id<ConstrainedVariable> x = intVar("x", 0, 1), y = floatVar("y", 2, 2), z = floatVar("z", 2, 2 + 1e-9);
  post<AllDiffConstraint>({x, y, z});
  EXPECT_FALSE(propagate());
}

TEST_F(DecimalRealsTest, AllDifferentTakesAnIntegerAHairFromADecidedReal) {
  {
    // r is 1 within the tolerance: i loses 1 and keeps 2.
    Id<ConstrainedVariable> r = floatVar("r", 1 + 1e-9, 1 + 1e-9), i = intVar("i", 1, 2);
    post<AllDiffConstraint>({r, i});
    EXPECT_TRUE(propagate());
    EXPECT_EQ(i->lastDomain().getLowerBound(), 2);
    EXPECT_EQ(i->lastDomain().getUpperBound(), 2);
  }
  {
    // A real a hair above 0 takes 0 from a boolean.
    Id<ConstrainedVariable> r = floatVar("r", 1e-7, 3e-6), b = boolVar("b");
    post<AllDiffConstraint>({r, b});
    EXPECT_TRUE(propagate());
    EXPECT_TRUE(holds(b, 1) && !holds(b, 0));
  }
}

// A real interval narrower than the tolerance holds more than one value: 2.000003 and 2.000012
// lie within the tolerance of each other, yet 2.000012 differs from 2, so no rule may read the
// interval as one of its ends.
TEST_F(DecimalRealsTest, ANarrowRealIntervalIsNotOneValue) {
  {
    Id<ConstrainedVariable> i = intVar("i", 2, 2), r = floatVar("r", 2.000003, 2.000012);
    post<AllDiffConstraint>({i, r});
    EXPECT_TRUE(propagate());
    EXPECT_TRUE(holds(r, 2.000012));
  }
  {
    Id<ConstrainedVariable> test = boolVar("test"), r = floatVar("r", 2.000003, 2.000012), i = intVar("i", 2, 2);
    post<TestEQ>({test, r, i});
    EXPECT_TRUE(propagate());
    EXPECT_TRUE(holds(test, 0) && holds(test, 1));
  }
  {
    // Not all the same though b is false: the narrow interval may hold 2.000012, unlike the 2 of i.
    Id<ConstrainedVariable> b = boolVar("b", 0, 0), r = floatVar("r", 1.999997, 2.000006);
    Id<ConstrainedVariable> e = enumVar("e", {2.000012, 5});
    post<CondAllSameConstraint>({b, r, e});
    EXPECT_TRUE(propagate());
    EXPECT_TRUE(holds(e, 2.000012));
  }
}

// No x of [2, 2.0000001] is both at most y = 1.999990001 and the tolerance from it, in whichever
// order the two rules run: neither leaves x's bounds reversed, nor is retired over x's base, which
// holds more than one value. The difference alone keeps what lies beyond the tolerance of y.
TEST_F(DecimalRealsTest, ANarrowIntervalAtMostAndApartFromADecidedValueHasNoValue) {
  for (bool orderFirst : {true, false}) {
    Id<ConstrainedVariable> y = floatVar("y", 1.99999, 1.99999), x = floatVar("x", 2, 2.0000001);
    y->specify(1.999990001);
    Constraint* order = orderFirst ? new LessThanEqualConstraint("leq", "Default", engine(), {x, y}) : nullptr;
    Constraint* apart = new AllDiffConstraint("fadiff", "Default", engine(), {x, y});
    if (!orderFirst)
      order = new LessThanEqualConstraint("leq", "Default", engine(), {x, y});
    EXPECT_FALSE(propagate()) << orderFirst;
    EXPECT_FALSE(order->isRedundant() || apart->isRedundant()) << orderFirst;
    EXPECT_TRUE(x->lastDomain().isEmpty() || x->lastDomain().getLowerBound() <= x->lastDomain().getUpperBound());
    delete order;
    EXPECT_TRUE(propagate()) << orderFirst;
    EXPECT_EQ(x->lastDomain().getLowerBound(), BoundsArithmetic::apartAbove(1.999990001, 1e-5)) << orderFirst;
    EXPECT_EQ(x->lastDomain().getUpperBound(), 2.0000001) << orderFirst;
    delete apart;
  }
}

TEST_F(DecimalRealsTest, NotEqualStepsTheToleranceAwayFromTheValue) {
  // 0.999985 differs from 1 by more than the tolerance.
  Id<ConstrainedVariable> x = floatVar("x", 1 - 1.5e-5, 1), y = intEnumVar("y", {1});
  post<NotEqualConstraint>({x, y});
  EXPECT_TRUE(propagate());
  EXPECT_TRUE(holds(x, 1 - 1.5e-5) && holds(y, 1));
  EXPECT_FALSE(x->lastDomain().compareEqual(1, x->lastDomain().getUpperBound()));
}

TEST_F(DecimalRealsTest, NotEqualJudgesAnIntegerIntervalByTheIntegerAHairStandsFor) {
  // 1.000003 stands for 1, in the middle of x: x keeps 2; 2.000000001 stands for 2, inside y.
  Id<ConstrainedVariable> x = intVar("x", 0, 2), r = floatVar("r", 1.000003, 1.000003);
  Id<ConstrainedVariable> y = intVar("y", 0, 3), s = floatVar("s", 2.000000001, 2.000000001);
  post<NotEqualConstraint>({x, r});
  post<NotEqualConstraint>({s, y});
  EXPECT_TRUE(propagate());
  EXPECT_TRUE(holds(x, 0) && holds(x, 2) && holds(y, 0) && holds(y, 3));
}

TEST_F(DecimalRealsTest, FunctionsOfDecidedRealsCoverTheirHairWidth) {
  {
    // a spans -1.000000001 to -0.999997, one value by the tolerance: -1 + 1 = 0 has the root 0.
    Id<ConstrainedVariable> a = floatVar("a", -1.000000001, -0.999997), b = boolVar("b", 1, 1),
                            r = boolVar("r", 0, 0);
    post<DistanceFromSquaresConstraint>({a, b, r});
    EXPECT_TRUE(propagate());
  }
  {
    // x * y = 0 narrows x to a reversed hair [1e-7, 0]: a divisor holding zero, not a failure.
    Id<ConstrainedVariable> x = floatVar("x", 1e-7, 0.999997), y = floatVar("y", -0.999997, -3e-6),
                            z = boolVar("z", 0, 0);
    post<MultEqualConstraint>({x, y, z});
    propagate();
  }
}

TEST_F(DecimalRealsTest, EqualityTestsNarrowWithinTheToleranceTheyDecideBy) {
  {
    Id<ConstrainedVariable> t = boolVar("t"), a = intVar("a", 2, 2), b = floatVar("b", 2 + 1e-9, 2 + 1e-9);
    post<TestEQ>({t, a, b});
    EXPECT_TRUE(propagate());
    EXPECT_TRUE(holds(a, 2));
  }
  {
    Id<ConstrainedVariable> b = boolVar("b"), x = intVar("x", 3, 3), y = enumVar("y", {3 - 1e-7});
    post<CondAllSameConstraint>({b, x, y});
    EXPECT_TRUE(propagate());
    EXPECT_TRUE(holds(y, 3 - 1e-7));
  }
  {
    // x spans -0.9999999 to -0.999997, one value by the tolerance: its upper end equals -0.999988 and
    // its lower end differs from it, so b stays undecided.
    Id<ConstrainedVariable> b = boolVar("b"), x = floatVar("x", -0.9999999, -0.999997), y = enumVar("y", {-0.999988});
    post<CondAllSameConstraint>({b, x, y});
    EXPECT_TRUE(propagate());
    EXPECT_TRUE(holds(b, 0) && holds(b, 1));
  }
  {
    // x = 2 and y = 3 - 1e-7 stay possible: either may differ from 2.
    Id<ConstrainedVariable> b = boolVar("b"), x = intVar("x", 2, 2), y = enumVar("y", {2 - 1e-7, 3});
    post<CondAllDiffConstraint>({b, x, y});
    EXPECT_TRUE(propagate());
    EXPECT_TRUE(holds(y, 3));
  }
  {
    // An integer result of 0 for y within the tolerance of 0.
    Id<ConstrainedVariable> a = floatVar("a", 0, 0), y = floatVar("y", -3e-6, 3e-6), r = intVar("r", 0, 0);
    post<SquareOfDifferenceConstraint>({a, y, r});
    EXPECT_TRUE(propagate());
  }
}

TEST_F(DecimalRealsTest, OrderTestsDecideOnlyWhatTheToleranceAgreesWith) {
  // 0.1 + 0.2 <= 0.3 and !(0.3 < 0.1 + 0.2): neither test may take 0.30000000000000004 for more than 0.3.
  Id<ConstrainedVariable> t = boolVar("t"), u = boolVar("u"), a = floatVar("a", 0.1 + 0.2, 0.1 + 0.2),
                          b = floatVar("b", 0.3, 0.3);
  post<TestLEQ>({t, a, b});
  post<TestLessThan>({u, b, a});
  EXPECT_TRUE(propagate());
  EXPECT_TRUE(holds(t, 1));
  EXPECT_TRUE(holds(u, 0));
}

TEST_F(DecimalRealsTest, ExtremesTakeAMemberWithinTheToleranceAsReachingThem) {
  {
    // max(0, 0.3) = 0.3 = 0.1 + 0.2: x need not reach the maximum, y does.
    Id<ConstrainedVariable> m = floatVar("m", 0.1 + 0.2, 1), x = floatVar("x", 0, 1), y = floatVar("y", 0.3, 0.3),
                            c = floatVar("c", 0.2, 0.2);
    post<EqualMaximumConstraint>({m, x, y});
    EXPECT_TRUE(propagate());
    EXPECT_TRUE(holds(x, 0));
    post<LessThanEqualConstraint>({x, c});
    EXPECT_TRUE(propagate());
  }
  {
    // min(1, 0.1 + 0.2) = 0.3: x keeps 1.
    Id<ConstrainedVariable> m = floatVar("m", 0, 0.3), x = floatVar("x", 0, 1), y = floatVar("y", 0.1 + 0.2, 0.1 + 0.2);
    post<EqualMinimumConstraint>({m, x, y});
    EXPECT_TRUE(propagate());
    EXPECT_TRUE(holds(x, 1));
  }
}

TEST_F(DecimalRealsTest, StrictOrdersOfDecidedValuesWithinTheToleranceFail) {
  // 1.1 + 0.8 = 1.9000000000000001, and the interim 0.4 + -0.1 = 0.30000000000000004: equal, not less.
  const auto fails = [this](Constraint* c) {
    const bool failed = !propagate();
    delete c;
    EXPECT_TRUE(propagate());
    return failed;
  };
  const char* d = "Default";
  EXPECT_TRUE(
      fails(new LessThanConstraint("c", d, engine(), {floatVar("x", 1.9, 1.9), floatVar("y", 1.1 + 0.8, 1.1 + 0.8)})));
  EXPECT_TRUE(fails(new LessThanSumConstraint(
      "c", d, engine(), {floatVar("x", 0.3, 0.3), floatVar("a", 0.4, 0.4), floatVar("b", -0.1, -0.1)})));
  EXPECT_TRUE(fails(new GreaterThanSumConstraint(
      "c", d, engine(), {floatVar("x", 1.1 + 0.8, 1.1 + 0.8), floatVar("a", 1, 1), floatVar("b", 0.9, 0.9)})));
  EXPECT_TRUE(fails(new GreaterThanSumConstraint(
      "c", d, engine(), {enumVar("x", {1.3, 1.6 + 0.1}), enumVar("a", {1.7, 2}), boolVar("b")})));
  // 0.9 <= 0.3 * 3 = 0.8999999999999999 holds.
  Id<ConstrainedVariable> t = boolVar("t"), a = floatVar("a", 0.9, 0.9), b = floatVar("b", 0.3 * 3, 0.3 * 3);
  post<TestLEQ>({t, a, b});
  EXPECT_TRUE(propagate());
  EXPECT_TRUE(holds(t, 1) && !holds(t, 0));
}

TEST_F(DecimalRealsTest, DomainsCompareComputedBoundsWithinTheTolerance) {
  IntervalIntDomain ints(0, 5, IntDT::instance());
  // Rounding is inward, but an integer within the tolerance of a bound stays, on either side.
  EXPECT_EQ(ints.translateNumber(1.9999999999999998, false), 2);
  EXPECT_EQ(ints.translateNumber(-1.9999999999999998, true), -2);
  EXPECT_EQ(ints.translateNumber(2.0000000000000004, true), 2);
  EXPECT_EQ(ints.translateNumber(1.5, true), 2);
  // An integer the tolerance away differs: 1.00001 (a double just over 1e-5 above 1) is above 1.
  EXPECT_EQ(ints.translateNumber(1.00001, true), 2);
  EXPECT_TRUE(ints.isMember(3 - 1e-7) && !ints.isMember(3 - 1e-4));
  ints.intersect(1 + 1e-9, 4 - 1e-9);
  EXPECT_EQ(ints.getLowerBound(), 1);
  EXPECT_EQ(ints.getUpperBound(), 4);
  ints.remove(4 - 1e-7); // stands for 4
  ints.set(3 + 1e-9);
  EXPECT_TRUE(ints.getLowerBound() == 3 && ints.getUpperBound() == 3);
  // So does a variable specified with it.
  Id<ConstrainedVariable> x = intVar("x", 0, 5);
  x->specify(3 - 1e-7);
  EXPECT_EQ(x->getSpecifiedValue(), 3);
  EXPECT_EQ(x->toString(), "3");

  // A range that comes out reversed by a rounding error keeps the member within the tolerance.
  NumericDomain tenths(std::list<double>{0.1, 0.3}, FloatDT::instance());
  tenths.intersect(0.10000000000000009, 0.1);
  EXPECT_EQ(tenths.getSize(), 1);
  tenths.intersect(0.2, 0.1);
  EXPECT_TRUE(tenths.isEmpty());

  // A real singleton a hair wide loses its one value whole.
  IntervalDomain hair(2, 2 + 1e-9, FloatDT::instance());
  hair.remove(2);
  EXPECT_TRUE(hair.isEmpty());
}

} // namespace
} // namespace KALDEN
