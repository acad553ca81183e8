#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstraintType.hh"
#include "ConstraintEngine/component/ArithmeticConstraints.hh"
#include "ConstraintEngine/component/FunctionConstraints.hh"
#include "ConstraintEngine/component/ScopeTransformConstraints.hh"
#include "support/SoundnessHarness.hh"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

typedef std::vector<double> Assignment;
typedef std::vector<Id<ConstrainedVariable> > Scope;

const unsigned int CASES = 400;

// Equality up to rounding: the functions compute in doubles.
bool near(double a, double b) { return std::fabs(a - b) < 1e-9; }

template <class C>
SoundnessHarness::Builder direct(const char* name) {
  return [name](const Id<ConstraintEngine>& engine, const Scope& scope) { new C(name, "Default", engine, scope); };
}

SoundnessHarness::Subject subject(const std::string& name, unsigned int arity, SoundnessHarness::Meaning meaning,
                                  SoundnessHarness::Builder build, SoundnessHarness::Layout layout = nullptr) {
  SoundnessHarness::Subject s;
  s.name = name;
  s.minArity = arity;
  s.maxArity = arity;
  s.meaning = meaning;
  s.build = build;
  s.layout = layout;
  return s;
}

// Every position draws from lo..hi, intervals and enumerations alike.
SoundnessHarness::Layout range(int lo, int hi) {
  return [lo, hi](unsigned int, unsigned int) {
    SoundnessHarness::Position p;
    p.lo = lo;
    p.hi = hi;
    return p;
  };
}

TEST(FunctionSoundness, DistanceSineSquareAndRoot) {
  SoundnessHarness::check(subject(
                              "calcDistance", 5,
                              [](const Assignment& a) { return near(a[0], std::hypot(a[1] - a[3], a[2] - a[4])); },
                              direct<CalcDistanceConstraint>("calcDistance"), range(-3, 5)),
                          CASES);
  // Sources reach past ±90 so the clamp is exercised; the sine is integral only at 0 and ±90.
  SoundnessHarness::check(subject(
                              "sin", 2,
                              [](const Assignment& a) {
                                return a[1] >= -90 && a[1] <= 90 &&
                                       std::fabs(a[0] - std::sin(a[1] * 3.141592 / 180.0)) < 1e-5;
                              },
                              direct<SineFunction>("sin"),
                              [](unsigned int position, unsigned int) {
                                SoundnessHarness::Position p;
                                p.lo = position == 0 ? -2 : -100;
                                p.hi = position == 0 ? 2 : 100;
                                return p;
                              }),
                          CASES);
  SoundnessHarness::check(subject(
                              "diffSquare", 3,
                              [](const Assignment& a) { return a[2] == (a[0] - a[1]) * (a[0] - a[1]); },
                              direct<SquareOfDifferenceConstraint>("diffSquare"), range(-2, 9)),
                          CASES);
  SoundnessHarness::check(
      subject(
          "distanceSquares", 3,
          [](const Assignment& a) { return a[0] + a[1] >= 0 && near(a[2], std::sqrt(a[0] + a[1])); },
          direct<DistanceFromSquaresConstraint>("distanceSquares"), range(-4, 9)),
      CASES);
}

// Registers addEq and the transform in the case's fresh schema, then creates the transform by name.
SoundnessHarness::Builder byName(const char* name, std::function<ConstraintType*()> transform) {
  return [name, transform](const Id<ConstraintEngine>& engine, const Scope& scope) {
    engine->getCESchema()->registerConstraintType(
        (new ConcreteConstraintType<AddEqualConstraint>("addEq", "Default", true))->getId());
    engine->getCESchema()->registerConstraintType(transform()->getId());
    engine->createConstraint(name, scope);
  };
}

TEST(TransformSoundness, RotatedAndSwappedAddition) {
  // "rotAdd" over [a, b, c] is addEq over [c, a, b]: c + a = b.
  SoundnessHarness::check(subject(
                              "rotAdd", 3, [](const Assignment& a) { return a[2] + a[0] == a[1]; },
                              byName("rotAdd",
                                     [] {
                                       return new RotatedNaryConstraintType<RotateScopeRightConstraint>(
                                           "rotAdd", "Default", "addEq", 1);
                                     })),
                          CASES);
  // "swapAdd" over [a, b, c] is addEq over [c, b, a]: c + b = a.
  SoundnessHarness::check(subject(
                              "swapAdd", 3, [](const Assignment& a) { return a[2] + a[1] == a[0]; },
                              byName("swapAdd",
                                     [] {
                                       return new SwapTwoVarsNaryConstraintType<SwapTwoVarsConstraint>(
                                           "swapAdd", "Default", "addEq", 0, 2);
                                     })),
                          CASES);
}

} // namespace
} // namespace KALDEN
