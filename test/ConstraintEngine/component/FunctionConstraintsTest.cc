#include "ConstraintEngine/component/FunctionConstraints.hh"

#include "support/BoundsFixture.hh"
#include "support/Failure.hh"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

namespace KALDEN {
namespace {

typedef BoundsFixture::Bounds Bounds;

class FunctionConstraintsTest : public BoundsFixture {};

TEST_F(FunctionConstraintsTest, DistanceSpansTheNearestAndFarthestPointsOfTheBoxes) {
  const double inf = PLUS_INFINITY;
  const struct {
    const char* what;
    Bounds x1, y1, x2, y2, distAfter;
  } cases[] = {
      {"points", {0, 0}, {0, 0}, {3, 3}, {4, 4}, {5, 5}},
      {"meeting intervals", {0, 10}, {0, 0}, {5, 20}, {0, 0}, {0, 20}},
      {"apart", {0, 3}, {1, 1}, {5, 8}, {1, 1}, {2, 8}},
      {"unbounded coordinate", {0, inf}, {0, 0}, {1, 1}, {0, 0}, {0, 100}},
      // The separation exceeds infinity: both bounds would, and dist stays as it was.
      {"beyond infinity", {1 - inf, 1 - inf}, {0, 0}, {inf - 1, inf - 1}, {0, 0}, {0, 100}},
  };
  for (const auto& c : cases) {
    const Id<ConstrainedVariable> dist = floatVar("dist", 0, 100);
    CalcDistanceConstraint distance("calcDistance", "Default", engine(),
                                    makeScope(dist, var("x1", false, c.x1), var("y1", false, c.y1),
                                              var("x2", false, c.x2), var("y2", false, c.y2)));
    distance.handleExecute();
    EXPECT_EQ(after(dist), c.distAfter) << c.what;
  }
}

// Between an enumeration's bounds lie values it does not hold: the least separation comes
// from its members.
TEST_F(FunctionConstraintsTest, DistanceFromEnumeratedCoordinatesKeepsEverySolution) {
  const Id<ConstrainedVariable> dist = floatVar("dist", 0, 10), zero = enumVar("zero", {0});
  CalcDistanceConstraint enumerations("calcDistance", "Default", engine(),
                                      makeScope(dist, enumVar("x1", {-4, 0, 4}), zero, enumVar("x2", {1}), zero));
  enumerations.handleExecute();
  EXPECT_EQ(bounds(dist), Bounds({1, 5})) << "x1 = 0 lies 1 from x2";

  const Id<ConstrainedVariable> mixed = floatVar("mixed", 0, 10);
  CalcDistanceConstraint withInterval("calcDistance", "Default", engine(),
                                      makeScope(mixed, enumVar("x1", {-4, 4}), zero, floatVar("x2", -1, 1), zero));
  withInterval.handleExecute();
  EXPECT_EQ(bounds(mixed), Bounds({3, 5}));
}

TEST_F(FunctionConstraintsTest, ArityFailuresNameTheConstraint) {
  const Id<ConstrainedVariable> x = floatVar("x", 0, 1);
  const Error distance =
      failureOf([&] { CalcDistanceConstraint("calcDistance", "Default", engine(), makeScope(x, x, x, x)); });
  EXPECT_EQ(distance.getCondition(), "variables.size() == ARG_COUNT");
  EXPECT_EQ(distance.getMessage(), "calcDistance takes 5 variables, given 4.");
  EXPECT_CHECK_FAILS(DistanceFromSquaresConstraint("distanceSquares", "Default", engine(), makeScope(x, x, x, x)),
                     "variables.size() == (unsigned int) ARG_COUNT");
  EXPECT_EQ(x->getConstraints().size(), 0);
}

TEST_F(FunctionConstraintsTest, SineClampsItsSourceAndUsesTheShortPi) {
  const struct {
    Bounds source, sourceAfter, targetAfter;
  } cases[] = {
      {{0, 30}, {0, 30}, {0, std::sin(30 * 3.141592 / 180.0)}},
      {{-180, 180}, {-90, 90}, {-0.9999999999999466, 0.9999999999999466}},
      {{100, 200}, {}, {-5, 5}},
  };
  for (const auto& c : cases) {
    const Id<ConstrainedVariable> target = floatVar("target", -5, 5), source = var("source", false, c.source);
    SineFunction sine("sin", "Default", engine(), makeScope(target, source));
    sine.handleExecute();
    EXPECT_EQ(after(source), c.sourceAfter);
    EXPECT_EQ(after(target), c.targetAfter);
  }
  EXPECT_EQ(std::sin(30 * 3.141592 / 180.0), 0.49999990566243624);

  // sin(90) falls short of 1 by far less than the tolerance: an integer target keeps 1.
  const Id<ConstrainedVariable> one = intVar("one", 1, 1), upTo90 = floatVar("upTo90", 0, 90);
  SineFunction integral("sin", "Default", engine(), makeScope(one, upTo90));
  integral.handleExecute();
  EXPECT_EQ(after(one), Bounds({1, 1}));
}

// r is set only once a and b are decided; a result no domain can hold is never built.
TEST_F(FunctionConstraintsTest, SquareAndRootNarrowOnlyWhenDecided) {
  const double inf = PLUS_INFINITY;
  const struct {
    const char* what;
    bool root;
    Bounds a, b, rAfter;
  } cases[] = {
      {"square", false, {5, 5}, {2, 2}, {9, 9}},
      {"square, a undecided", false, {1, 2}, {2, 2}, {-inf, inf}},
      {"square beyond infinity", false, {inf - 1, inf - 1}, {1 - inf, 1 - inf}, {-inf, inf}},
      {"root", true, {9, 9}, {16, 16}, {5, 5}},
      {"root, b undecided", true, {9, 9}, {0, 16}, {-inf, inf}},
      {"root of a negative sum", true, {-9, -9}, {4, 4}, {}},
  };
  for (const auto& c : cases) {
    const Id<ConstrainedVariable> r = floatVar("r", -inf, inf);
    const std::vector<Id<ConstrainedVariable> > scope = makeScope(var("a", false, c.a), var("b", false, c.b), r);
    // Kept until r is read: removing a constraint relaxes its scope.
    std::unique_ptr<Constraint> constraint;
    if (c.root)
      constraint.reset(new DistanceFromSquaresConstraint("distanceSquares", "Default", engine(), scope));
    else
      constraint.reset(new SquareOfDifferenceConstraint("diffSquare", "Default", engine(), scope));
    constraint->handleExecute();
    EXPECT_EQ(after(r), c.rAfter) << c.what;
  }
}

} // namespace
} // namespace KALDEN
