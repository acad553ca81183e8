#include "ConstraintEngine/component/ArithmeticConstraints.hh"
#include "ConstraintEngine/component/OrderingConstraints.hh"

#include "support/BoundsFixture.hh"
#include "support/Failure.hh"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace KALDEN {
namespace {

typedef BoundsFixture::Bounds Bounds;

// What a case expects of a variable that must be emptied.
const BoundsFixture::Bounds EMPTIED;

// Three variables, integer or real, before and after one execution.
struct TernaryCase {
  const char* what;
  bool xInt, yInt, zInt;
  Bounds x, y, z, xAfter, yAfter, zAfter;
};

class ArithmeticConstraintsTest : public BoundsFixture {
protected:
  static void SetUpTestSuite() { SymbolDT::instance(); }

  Id<ConstrainedVariable> variableNamed(const std::string& name) {
    for (const Id<ConstrainedVariable>& v : m_engine->getVariables())
      if (v->getName().toString() == name)
        return v;
    return Id<ConstrainedVariable>::noId();
  }

  // Runs one execution of a C over [x, y, z] and compares every variable with the case.
  template <class C>
  void runTernary(const TernaryCase& c) {
    Id<ConstrainedVariable> x = var("x", c.xInt, c.x), y = var("y", c.yInt, c.y), z = var("z", c.zInt, c.z);
    C constraint("c", "Default", engine(), makeScope(x, y, z));
    constraint.handleExecute();
    EXPECT_EQ(after(x), c.xAfter) << c.what << ": x";
    EXPECT_EQ(after(y), c.yAfter) << c.what << ": y";
    EXPECT_EQ(after(z), c.zAfter) << c.what << ": z";
  }
};

TEST_F(ArithmeticConstraintsTest, AdditionNarrowsMixedAndInfiniteBounds) {
  const double inf = PLUS_INFINITY;
  const TernaryCase cases[] = {
      {"reals", false, false, false, {1, 2}, {3, 4}, {0, 10}, {1, 2}, {3, 4}, {4, 6}},
      {"z emptied first", false, false, false, {5, 6}, {5, 6}, {0, 3}, {5, 6}, {5, 6}, EMPTIED},
      {"infinite x", false, false, false, {-inf, inf}, {0, 1}, {0, 10}, {-1, 10}, {0, 1}, {0, 10}},
      {"infinite sums", false, false, false, {-inf, inf}, {-inf, inf}, {0, 10}, {-inf, inf}, {-inf, inf}, {0, 10}},
      // A negative maximum rounds down in an integer interval: -2.5 gives -3.
      {"rounding", true, false, true, {-10, 10}, {2.5, 3}, {-10, 0}, {-10, -3}, {2.5, 3}, {-7, 0}},
      // 0 + 0 = 0: a real x that can be an integer keeps z.
      {"integer x possible", false, true, true, {0, 0.5}, {0, 10}, {0, 10}, {0, 0.5}, {0, 10}, {0, 10}},
      {"integer y at edge", true, false, true, {0, 3}, {0.5, 1}, {0, 5}, {0, 3}, {0.5, 1}, {1, 4}},
  };
  for (const TernaryCase& c : cases)
    runTernary<AddEqualConstraint>(c);

  // Two integer intervals force the real one to an integer: where it holds none, one execution
  // empties a domain (which one depends on the passes that rounding calls for).
  const TernaryCase noInteger[] = {
      {"no integer x", false, true, true, {0.25, 0.5}, {0, 10}, {0, 10}, {}, {}, {}},
      {"no integer y", true, false, true, {0, 3}, {0.2, 0.6}, {0, 5}, {}, {}, {}},
      {"no integer z", true, true, false, {-3, 3}, {-3, 3}, {0.3, 0.6}, {}, {}, {}},
  };
  for (const TernaryCase& c : noInteger) {
    Id<ConstrainedVariable> x = var("x", c.xInt, c.x), y = var("y", c.yInt, c.y), z = var("z", c.zInt, c.z);
    AddEqualConstraint constraint("c", "Default", engine(), makeScope(x, y, z));
    constraint.handleExecute();
    EXPECT_TRUE(dom(x).isEmpty() || dom(y).isEmpty() || dom(z).isEmpty()) << c.what;
  }
}

// An integer bound rounded inward can let an earlier step of the pass narrow further: the
// execution repeats its pass until no rounding is left, and ends where a second one changes nothing.
TEST_F(ArithmeticConstraintsTest, AdditionEndsAtItsFixpointAfterRounding) {
  Id<ConstrainedVariable> x = intVar("x", 4, 9), y = intVar("y", -2, -2), z = floatVar("z", 5.5, 11);
  AddEqualConstraint add("c", "Default", engine(), makeScope(x, y, z));
  add.execute();
  EXPECT_EQ(bounds(z), (Bounds{6, 7}));
  const Bounds bx = bounds(x), by = bounds(y), bz = bounds(z);
  add.execute();
  EXPECT_TRUE(bounds(x) == bx && bounds(y) == by && bounds(z) == bz);
}

TEST_F(ArithmeticConstraintsTest, AdditionChecksArityAndComparability) {
  Id<ConstrainedVariable> x = floatVar("x", 0, 1);
  Id<ConstrainedVariable> s = (new Variable<EnumeratedDomain>(engine(), SymbolDomain(SymbolDT::instance()), false, true,
                                                              "s", Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
                                  ->getId();
  EXPECT_CHECK_FAILS(AddEqualConstraint("addEq", "Default", engine(), makeScope(x, x)),
                     "variables.size() == (unsigned int) ARG_COUNT");
  EXPECT_CHECK_FAILS(MultEqualConstraint("multEq", "Default", engine(), makeScope(x, x)),
                     "variables.size() == (unsigned int) ARG_COUNT");
  EXPECT_EQ(x->getConstraints().size(), 0);
  // Refused when made, before any run could fail over it.
  EXPECT_CHECK_FAILS(AddEqualConstraint("addEq", "Default", engine(), makeScope(x, x, s)),
                     "AbstractDomain::canBeCompared(m_x, m_z)");
  EXPECT_CHECK_FAILS(AddEqualConstraint("addEq", "Default", engine(), makeScope(s, s, s)),
                     "getCurrentDomain(m_variables[i]).isNumeric()");
  EXPECT_EQ(x->getConstraints().size(), 0);
  // An open enumeration may still gain values: nothing is narrowed.
  Id<ConstrainedVariable> open =
      (new Variable<EnumeratedDomain>(engine(), NumericDomain(FloatDT::instance()), false, true, "open",
                                      Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
          ->getId();
  Id<ConstrainedVariable> z = floatVar("z", 5, 6);
  AddEqualConstraint withOpen("addEq", "Default", engine(), makeScope(open, x, z));
  withOpen.handleExecute();
  EXPECT_EQ(bounds(z), Bounds({5, 6}));
}

TEST_F(ArithmeticConstraintsTest, MultiplicationNarrowsOverBounds) {
  const double inf = PLUS_INFINITY;
  const TernaryCase cases[] = {
      {"z from products", false, false, false, {2, 3}, {4, 5}, {0, 100}, {2, 3}, {4, 5}, {8, 15}},
      {"z emptied", false, false, false, {2, 3}, {4, 5}, {20, 30}, {2, 3}, {4, 5}, EMPTIED},
      // A divisor interval that holds zero narrows nothing; y still narrows by x.
      {"divisor holds zero", false, false, false, {2, 3}, {-1, 5}, {0, 6}, {2, 3}, {0, 3}, {0, 6}},
      {"divisor ends at zero", false, false, false, {0, 100}, {0, 5}, {1, 2}, {0, 100}, {0, 5}, {1, 2}},
      {"both from the start of the pass", true, true, true, {1, 10}, {1, 10}, {50, 60}, {5, 10}, {5, 10}, {50, 60}},
      // Infinite bounds are large finite numbers here: their products clamp back to the
      // infinities, and a quotient by a finite bound is finite.
      {"infinite products", false, false, false, {2, inf}, {3, inf}, {-inf, inf}, {2, inf / 3}, {3, inf / 2}, {6, inf}},
      {"infinite integer products",
       true,
       true,
       true,
       {-inf, -2},
       {3, inf},
       {-inf, inf},
       {-std::floor(inf / 3), -2},
       {3, std::floor(inf / 2)},
       {-inf, -6}},
  };
  for (const TernaryCase& c : cases)
    runTernary<MultEqualConstraint>(c);
}

// The passes stop only once x and y hold still: a second execution never finds more to do.
TEST_F(ArithmeticConstraintsTest, MultiplicationReachesItsFixpointInOneExecution) {
  for (int xl = -2; xl <= 2; ++xl)
    for (int xu = xl; xu <= 2; ++xu)
      for (int yl = -2; yl <= 2; ++yl)
        for (int yu = yl; yu <= 2; ++yu)
          for (int zl = -3; zl <= 3; zl += 2) {
            Id<ConstrainedVariable> x = intVar("x", xl, xu), y = intVar("y", yl, yu), z = floatVar("z", zl, zl + 2.5);
            {
              MultEqualConstraint mult("multEq", "Default", engine(), makeScope(x, y, z));
              mult.execute();
              if (!dom(x).isEmpty() && !dom(y).isEmpty() && !dom(z).isEmpty()) {
                const Bounds bx = bounds(x), by = bounds(y), bz = bounds(z);
                mult.execute();
                EXPECT_TRUE(bounds(x) == bx && bounds(y) == by && bounds(z) == bz)
                    << xl << ".." << xu << " * " << yl << ".." << yu << " = " << zl << "..";
              }
            }
            // An emptied domain left in the engine would cut every later execution to one round.
            for (const Id<ConstrainedVariable>& v : {x, y, z})
              delete static_cast<ConstrainedVariable*>(v);
          }
}

// A scope that repeats a variable is decided by what the relation says of the other positions,
// over either kind, in one execution.
TEST_F(ArithmeticConstraintsTest, AScopeThatRepeatsAVariableIsDecidedAtOnce) {
  for (bool isInt : {true, false}) {
    const char* kind = isInt ? "int" : "float";
    Id<ConstrainedVariable> x = var("x", isInt, {1, 3});
    new AddEqualConstraint("addEq", "Running", engine(), makeScope(x, x, x));
    EXPECT_FALSE(m_engine->propagate()) << kind << ": x + x = x holds only for 0";
    delete static_cast<ConstrainedVariable*>(x);
    Id<ConstrainedVariable> r = var("r", isInt, {0, 10});
    new LessThanConstraint("lt", "Running", engine(), makeScope(r, r));
    EXPECT_FALSE(m_engine->propagate()) << kind << ": x < x holds for no value";
    delete static_cast<ConstrainedVariable*>(r);
    // x + d = x forces d to 0, over a domain as wide as it gets.
    Id<ConstrainedVariable> w = var("w", isInt, {0, PLUS_INFINITY}), d = var("d", isInt, {-1, 2});
    new AddEqualConstraint("addEq", "Running", engine(), makeScope(w, d, w));
    EXPECT_TRUE(m_engine->propagate()) << kind;
    EXPECT_EQ(bounds(d), Bounds({0, 0})) << kind;
    EXPECT_EQ(bounds(w), Bounds({0, PLUS_INFINITY})) << kind;
    delete static_cast<ConstrainedVariable*>(w);
    delete static_cast<ConstrainedVariable*>(d);
  }
}

TEST_F(ArithmeticConstraintsTest, MultiplicationRefusesEnumerationsAndInvertedDivisors) {
  Id<ConstrainedVariable> x = floatVar("x", 0, 1), e = enumVar("e", {1, 2});
  EXPECT_CHECK_FAILS(MultEqualConstraint("multEq", "Default", engine(), makeScope(x, e, x)),
                     "!getCurrentDomain(m_variables[i]).isEnumerated()");
  IntervalDomain d(0, 10, FloatDT::instance());
  EXPECT_FALSE(MultEqualConstraint::updateMinAndMax(d, -0.0, 3, 1, 2));
  EXPECT_CHECK_FAILS(MultEqualConstraint::updateMinAndMax(d, 1, 0, 1, 2), "denomMin != 0.0 && denomMax != 0.0");
  EXPECT_EQ(d.getUpperBound(), 10);
}

TEST_F(ArithmeticConstraintsTest, AddMultiplyDelegatesToItsMembers) {
  Id<ConstrainedVariable> a = floatVar("a", 1, 1), b = floatVar("b", 2, 2), c = floatVar("c", 3, 3),
                          d = floatVar("d", 0, 100);
  const std::size_t constraints = m_engine->getConstraints().size(), variables = m_engine->getVariables().size();
  AddMultEqualConstraint* addMult = new AddMultEqualConstraint("addMulEq", "Running", engine(), makeScope(a, b, c, d));
  EXPECT_EQ(m_engine->getConstraints().size(), constraints + 3);
  EXPECT_TRUE(m_engine->propagate());
  Id<ConstrainedVariable> interim = variableNamed("InternalConstraintVariable");
  ASSERT_TRUE(interim.isValid());
  EXPECT_EQ(bounds(interim), Bounds({6, 6}));
  EXPECT_EQ(bounds(d), Bounds({7, 7}));
  // Discarding retires the internal variable and both members; destroying it afterwards discards nothing again.
  addMult->discard(false);
  EXPECT_EQ(m_engine->getConstraints().size(), constraints);
  EXPECT_EQ(m_engine->getVariables().size(), variables);
  delete addMult;
  EXPECT_EQ(a->getConstraints().size(), 0);
}

TEST_F(ArithmeticConstraintsTest, AddMultiplyLeavesNothingBehindWhenRefused) {
  Id<ConstrainedVariable> a = floatVar("a", 1, 1), e = enumVar("e", {1, 2});
  const std::size_t variables = m_engine->getVariables().size();
  EXPECT_CHECK_FAILS(AddMultEqualConstraint("addMulEq", "Default", engine(), makeScope(a, a, a)),
                     "m_variables.size() == (unsigned int) ARG_COUNT");
  EXPECT_CHECK_FAILS(AddMultEqualConstraint("addMulEq", "Default", engine(), makeScope(a, e, a, a)),
                     "!getCurrentDomain(m_variables[i]).isEnumerated()");
  EXPECT_EQ(m_engine->getVariables().size(), variables);
  EXPECT_EQ(m_engine->getConstraints().size(), 0u);
}

} // namespace
} // namespace KALDEN
