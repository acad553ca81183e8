#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstraintType.hh"
#include "ConstraintEngine/component/Constraints.hh"
#include "support/SoundnessHarness.hh"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

typedef std::vector<double> Assignment;
typedef std::vector<Id<ConstrainedVariable> > Scope;

const unsigned int CASES = 300;

SoundnessHarness::Subject subject(const std::string& name, unsigned int minArity, unsigned int maxArity,
                                  SoundnessHarness::Meaning meaning, SoundnessHarness::Builder build,
                                  SoundnessHarness::Layout layout = SoundnessHarness::Layout()) {
  SoundnessHarness::Subject s;
  s.name = name;
  s.minArity = minArity;
  s.maxArity = maxArity;
  s.meaning = meaning;
  s.build = build;
  s.layout = layout;
  return s;
}

// Every position over lo..hi, booleans allowed where the range spans 0..1; position 0 a boolean if asked.
SoundnessHarness::Layout range(int lo, int hi, bool truthFirst = false) {
  return [lo, hi, truthFirst](unsigned int position, unsigned int) {
    SoundnessHarness::Position p;
    p.lo = lo;
    p.hi = hi;
    p.booleans = lo <= 0 && hi >= 1;
    if (truthFirst && position == 0) {
      p.lo = 0;
      p.hi = 1;
      p.booleans = true;
      p.intervals = p.enumerations = false;
    }
    return p;
  };
}

bool allDifferent(Assignment::const_iterator first, Assignment::const_iterator last) {
  Assignment values(first, last);
  std::sort(values.begin(), values.end());
  return std::adjacent_find(values.begin(), values.end()) == values.end();
}

long nonZeros(Assignment::const_iterator first, Assignment::const_iterator last) {
  return std::count_if(first, last, [](double v) { return v != 0.0; });
}

TEST(LibraryTwoSoundnessTest, AllDifferent) {
  for (const char* name : {"AllDiff", "adiff", "fadiff", "fneq"})
    SoundnessHarness::check(subject(
                                name, 2, 5, [](const Assignment& a) { return allDifferent(a.begin(), a.end()); },
                                SoundnessHarness::byLibraryName(name), range(0, 4)),
                            CASES);
  SoundnessHarness::check(
      subject(
          "CondAllDiff", 3, 5,
          [](const Assignment& a) { return a[0] == (allDifferent(a.begin() + 1, a.end()) ? 1.0 : 0.0); },
          SoundnessHarness::byLibraryName("CondAllDiff"), range(0, 3, true)),
      2 * CASES);
}

TEST(LibraryTwoSoundnessTest, MaximumAndMinimum) {
  for (const char* name : {"EqualMaximum", "fallmax"})
    SoundnessHarness::check(subject(
                                name, 2, 4,
                                [](const Assignment& a) { return a[0] == *std::max_element(a.begin() + 1, a.end()); },
                                SoundnessHarness::byLibraryName(name)),
                            CASES);
  for (const char* name : {"EqualMinimum", "fallmin"})
    SoundnessHarness::check(subject(
                                name, 2, 4,
                                [](const Assignment& a) { return a[0] == *std::min_element(a.begin() + 1, a.end()); },
                                SoundnessHarness::byLibraryName(name)),
                            CASES);
}

TEST(LibraryTwoSoundnessTest, Counting) {
  SoundnessHarness::check(subject(
                              "CountZeros", 1, 5,
                              [](const Assignment& a) {
                                return a[0] == static_cast<double>(a.size() - 1 - nonZeros(a.begin() + 1, a.end()));
                              },
                              SoundnessHarness::byLibraryName("CountZeros"), range(-1, 3)),
                          CASES);
  for (const char* name : {"CountNonZeros", "cardeq"})
    SoundnessHarness::check(
        subject(
            name, 1, 5,
            [](const Assignment& a) { return a[0] == static_cast<double>(nonZeros(a.begin() + 1, a.end())); },
            SoundnessHarness::byLibraryName(name), range(-1, 3)),
        CASES);
  for (const char* name : {"Cardinality", "card"})
    SoundnessHarness::check(
        subject(
            name, 1, 5,
            [](const Assignment& a) { return static_cast<double>(nonZeros(a.begin() + 1, a.end())) <= a[0]; },
            SoundnessHarness::byLibraryName(name), range(-1, 3)),
        CASES);
  for (const char* name : {"Or", "or", "for"})
    SoundnessHarness::check(subject(
                                name, 1, 4, [](const Assignment& a) { return nonZeros(a.begin(), a.end()) > 0; },
                                SoundnessHarness::byLibraryName(name), range(-1, 2)),
                            CASES);
}

// The premise is a fact about the domains, not the values: b's domain within c's.
TEST(LibraryTwoSoundnessTest, MemberImplication) {
  for (const char* name : {"MemberImply", "memberImply"}) {
    SoundnessHarness::Subject s =
        subject(name, 4, 4, SoundnessHarness::Meaning(), SoundnessHarness::byLibraryName(name), range(0, 4));
    s.meaningInDomains = [](const Assignment& a, const std::vector<Assignment>& domains) {
      const Assignment& b = domains[1];
      const Assignment& c = domains[2];
      const Assignment& d = domains[3];
      const bool premise =
          std::all_of(b.begin(), b.end(), [&c](double v) { return std::find(c.begin(), c.end(), v) != c.end(); });
      return !premise || std::find(d.begin(), d.end(), a[0]) != d.end();
    };
    SoundnessHarness::check(s, CASES);
  }
}

} // namespace
} // namespace KALDEN
