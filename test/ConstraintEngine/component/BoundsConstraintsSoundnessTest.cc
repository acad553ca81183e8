#include "ConstraintEngine/component/ArithmeticConstraints.hh"
#include "ConstraintEngine/component/OrderingConstraints.hh"
#include "ConstraintEngine/component/SignConstraints.hh"
#include "support/SoundnessHarness.hh"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

typedef std::vector<double> Assignment;
typedef std::vector<Id<ConstrainedVariable> > Scope;

const unsigned int CASES = 400;

template <class C>
SoundnessHarness::Builder builder(const char* name) {
  return [name](const Id<ConstraintEngine>& engine, const Scope& scope) { new C(name, "Default", engine, scope); };
}

SoundnessHarness::Subject subject(const std::string& name, unsigned int arity, SoundnessHarness::Meaning meaning,
                                  SoundnessHarness::Builder build) {
  SoundnessHarness::Subject s;
  s.name = name;
  s.minArity = arity;
  s.maxArity = arity;
  s.meaning = meaning;
  s.build = build;
  return s;
}

// Only the given positions must be intervals (the others may also be enumerations or booleans).
SoundnessHarness::Layout intervalsAt(std::vector<unsigned int> positions) {
  return [positions](unsigned int position, unsigned int) {
    SoundnessHarness::Position p;
    p.booleans = true;
    p.lo = -1;
    p.hi = 4;
    for (unsigned int i : positions)
      if (i == position)
        p.enumerations = false;
    return p;
  };
}

TEST(ValueConstraintsSoundness, Orderings) {
  SoundnessHarness::check(
      subject(
          "lt", 2, [](const Assignment& a) { return a[0] < a[1]; }, builder<LessThanConstraint>("lt")),
      CASES);
  SoundnessHarness::check(
      subject(
          "leq", 2, [](const Assignment& a) { return a[0] <= a[1]; }, builder<LessThanEqualConstraint>("leq")),
      CASES);
  SoundnessHarness::check(subject(
                              "withinBounds", 3, [](const Assignment& a) { return a[1] <= a[0] && a[0] <= a[2]; },
                              builder<WithinBounds>("withinBounds")),
                          CASES);
}

TEST(ValueConstraintsSoundness, Arithmetic) {
  SoundnessHarness::check(
      subject(
          "addEq", 3, [](const Assignment& a) { return a[0] + a[1] == a[2]; }, builder<AddEqualConstraint>("addEq")),
      CASES);
  SoundnessHarness::Subject mult = subject(
      "multEq", 3, [](const Assignment& a) { return a[0] * a[1] == a[2]; }, builder<MultEqualConstraint>("multEq"));
  mult.layout = intervalsAt({0, 1, 2});
  SoundnessHarness::check(mult, CASES);
  SoundnessHarness::Subject addMult = subject(
      "addMulEq", 4, [](const Assignment& a) { return a[0] + a[1] * a[2] == a[3]; },
      builder<AddMultEqualConstraint>("addMulEq"));
  addMult.layout = intervalsAt({1, 2});
  SoundnessHarness::check(addMult, CASES);
}

TEST(ValueConstraintsSoundness, Signs) {
  SoundnessHarness::Subject neg = subject(
      "neg", 2, [](const Assignment& a) { return a[0] == -a[1]; }, builder<NegateConstraint>("neg"));
  neg.layout = [](unsigned int, unsigned int) {
    SoundnessHarness::Position p;
    p.enumerations = false;
    return p;
  };
  SoundnessHarness::check(neg, CASES);
  SoundnessHarness::check(
      subject(
          "absVal", 2, [](const Assignment& a) { return a[0] == std::fabs(a[1]); }, builder<AbsoluteValue>("absVal")),
      CASES);
}

} // namespace
} // namespace KALDEN
