#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstraintType.hh"
#include "ConstraintEngine/component/Constraints.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "support/SoundnessHarness.hh"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace KALDEN {
namespace {

typedef std::vector<double> Assignment;
typedef std::vector<Id<ConstrainedVariable> > Scope;

const unsigned int CASES = 300;

double sumFrom(const Assignment& a, std::size_t first) {
  double sum = 0.0;
  for (std::size_t i = first; i < a.size(); ++i)
    sum += a[i];
  return sum;
}

double productFrom(const Assignment& a, std::size_t first) {
  double product = 1.0;
  for (std::size_t i = first; i < a.size(); ++i)
    product *= a[i];
  return product;
}

bool allSameFrom(const Assignment& a, std::size_t first) {
  for (std::size_t i = first; i < a.size(); ++i)
    if (a[i] != a[first])
      return false;
  return true;
}

// Small values, so that wide scopes (which reach the split trees) stay cheap to enumerate;
// `truthAt` holds a boolean and `intervalsOnly` refuses enumerations.
SoundnessHarness::Layout layout(int truthAt = -1, bool intervalsOnly = false) {
  return [=](unsigned int position, unsigned int arity) {
    SoundnessHarness::Position p;
    p.lo = arity > 6 ? -1 : -2;
    p.hi = arity > 6 ? 1 : 3;
    p.enumerations = !intervalsOnly;
    if (static_cast<int>(position) == truthAt) {
      p.lo = 0;
      p.hi = 1;
      p.booleans = true;
      p.intervals = p.enumerations = false;
    }
    return p;
  };
}

SoundnessHarness::Subject subject(const char* name, unsigned int minArity, unsigned int maxArity,
                                  SoundnessHarness::Meaning meaning, SoundnessHarness::Builder build,
                                  SoundnessHarness::Layout drawing) {
  SoundnessHarness::Subject s;
  s.name = name;
  s.minArity = minArity;
  s.maxArity = maxArity;
  s.meaning = meaning;
  s.build = build;
  s.layout = drawing;
  return s;
}

TEST(SumConstraintsSoundness, SumsAndProducts) {
  auto sum = [](const Assignment& a) { return a[0] == sumFrom(a, 1); };
  auto product = [](const Assignment& a) { return a[0] == productFrom(a, 1); };
  for (const char* name : {"EqualSum", "sum"})
    SoundnessHarness::check(subject(name, 3, 9, sum, SoundnessHarness::byLibraryName(name), layout()), CASES);
  for (const char* name : {"EqualProduct", "product"})
    SoundnessHarness::check(subject(name, 3, 9, product, SoundnessHarness::byLibraryName(name), layout(-1, true)),
                            CASES);
}

TEST(SumConstraintsSoundness, ComparisonsAgainstSums) {
  SoundnessHarness::check(subject(
                              "LessThanSum", 3, 6, [](const Assignment& a) { return a[0] < sumFrom(a, 1); },
                              SoundnessHarness::byLibraryName("LessThanSum"), layout()),
                          CASES);
  for (const char* name : {"LessOrEqThanSum", "leqsum"})
    SoundnessHarness::check(subject(
                                name, 3, 6, [](const Assignment& a) { return a[0] <= sumFrom(a, 1); },
                                SoundnessHarness::byLibraryName(name), layout()),
                            CASES);
  // A boolean x must not bound the sum to 0..1.
  SoundnessHarness::check(subject(
                              "GreaterThanSum", 3, 6, [](const Assignment& a) { return a[0] > sumFrom(a, 1); },
                              SoundnessHarness::byLibraryName("GreaterThanSum"), layout()),
                          CASES);
  SoundnessHarness::check(subject(
                              "GreaterOrEqThanSum", 3, 6, [](const Assignment& a) { return a[0] >= sumFrom(a, 1); },
                              SoundnessHarness::byLibraryName("GreaterOrEqThanSum"), layout()),
                          CASES);
}

TEST(SumConstraintsSoundness, Conditionals) {
  auto condSum = [](const Assignment& a) { return (a[0] != 0.0) == (a[1] == sumFrom(a, 2)); };
  SoundnessHarness::check(
      subject("CondEqualSum", 4, 6, condSum, SoundnessHarness::byLibraryName("CondEqualSum"), layout(0)), CASES);
  auto condSame = [](const Assignment& a) { return (a[0] != 0.0) == allSameFrom(a, 1); };
  for (const char* name : {"CondAllSame", "condEq", "condeq", "condasame"})
    SoundnessHarness::check(subject(name, 3, 5, condSame, SoundnessHarness::byLibraryName(name), layout(0)), CASES);
}

} // namespace
} // namespace KALDEN
