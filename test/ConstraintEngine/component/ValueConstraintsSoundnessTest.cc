#include "ConstraintEngine/component/Constraints.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/IntervalDomains.hh"
#include "support/SoundnessHarness.hh"

#include <gtest/gtest.h>

#include <cmath>

#include <string>
#include <vector>

namespace KALDEN {
namespace {

const unsigned int SEEDS = 400;

typedef std::vector<double> Assignment;

template <class C>
SoundnessHarness::Builder build() {
  return [](const Id<ConstraintEngine>& engine, const std::vector<Id<ConstrainedVariable> >& scope) {
    new C("c", "Default", engine, scope);
  };
}

// Every position over -4..4, booleans among the numbers.
SoundnessHarness::Position mixedLayout(unsigned int, unsigned int) {
  SoundnessHarness::Position layout;
  layout.booleans = true;
  return layout;
}

// Position 0 holds a truth value; the arguments range over -4..4, booleans among them.
SoundnessHarness::Position testLayout(unsigned int position, unsigned int arity) {
  SoundnessHarness::Position layout = mixedLayout(position, arity);
  if (position == 0) {
    layout.lo = 0;
    layout.hi = 1;
    layout.reals = false;
  }
  return layout;
}

// A subject whose positions may be booleans meeting numbers, and whose consistent answers that
// decide every position must satisfy the meaning.
SoundnessHarness::Subject mixedSubject(const char* name, SoundnessHarness::Meaning meaning,
                                       SoundnessHarness::Builder builder) {
  SoundnessHarness::Subject subject;
  subject.name = name;
  subject.meaning = meaning;
  subject.build = builder;
  subject.layout = mixedLayout;
  subject.decidedChecked = true;
  return subject;
}

double truth(bool b) { return b ? 1.0 : 0.0; }

TEST(ValueConstraintsSoundnessTest, Unary) {
  SoundnessHarness::Subject subject = mixedSubject(
      "unary within the integers of [-1, 2]",
      [](const Assignment& a) { return a[0] >= -1 && a[0] <= 2 && a[0] == std::floor(a[0]); },
      [](const Id<ConstraintEngine>&, const std::vector<Id<ConstrainedVariable> >& scope) {
        new UnaryConstraint(IntervalIntDomain(-1, 2, IntDT::instance()), scope[0]);
      });
  subject.minArity = subject.maxArity = 1;
  SoundnessHarness::check(subject, SEEDS);
}

TEST(ValueConstraintsSoundnessTest, Equal) {
  SoundnessHarness::Subject subject = mixedSubject(
      "equal",
      [](const Assignment& a) {
        for (double v : a)
          if (v != a[0])
            return false;
        return true;
      },
      build<EqualConstraint>());
  subject.minArity = 2;
  subject.maxArity = 4;
  SoundnessHarness::check(subject, SEEDS);
}

TEST(ValueConstraintsSoundnessTest, NotEqual) {
  SoundnessHarness::check(
      mixedSubject(
          "not equal", [](const Assignment& a) { return a[0] != a[1]; }, build<NotEqualConstraint>()),
      SEEDS);
}

TEST(ValueConstraintsSoundnessTest, Tests) {
  struct Test {
    const char* name;
    SoundnessHarness::Meaning meaning;
    SoundnessHarness::Builder build;
  };
  const Test tests[] = {
      {"TestEQ", [](const Assignment& a) { return a[0] == truth(a[1] == a[2]); }, build<TestEQ>()},
      {"TestLessThan", [](const Assignment& a) { return a[0] == truth(a[1] < a[2]); }, build<TestLessThan>()},
      {"TestLEQ", [](const Assignment& a) { return a[0] == truth(a[1] <= a[2]); }, build<TestLEQ>()},
  };
  for (const Test& test : tests) {
    SoundnessHarness::Subject subject = mixedSubject(test.name, test.meaning, test.build);
    subject.minArity = subject.maxArity = 3;
    subject.layout = testLayout;
    // More cases: an integer meeting a real within one unit, both decided, is rare in a draw.
    SoundnessHarness::check(subject, 2 * SEEDS);
  }
}

// The harness itself: an unsound rule is caught, and its report names the seed and what was lost.
TEST(ValueConstraintsSoundnessTest, HarnessCatchesAnUnsoundRule) {
  SoundnessHarness::Subject subject;
  subject.name = "x0 <= x1 propagated as x0 != x1";
  subject.meaning = [](const Assignment& a) { return a[0] <= a[1]; };
  subject.build = build<NotEqualConstraint>(); // removes equal values that x0 <= x1 allows
  unsigned int caught = 0;
  for (unsigned int seed = 1; seed <= 50; ++seed) {
    const std::string failure = SoundnessHarness::runCase(subject, seed);
    if (failure.empty())
      continue;
    ++caught;
    EXPECT_NE(failure.find("seed " + std::to_string(seed) + ":"), std::string::npos) << failure;
    EXPECT_NE(failure.find("lost supported value"), std::string::npos) << failure;
  }
  EXPECT_GT(caught, 0u);
}

} // namespace
} // namespace KALDEN
