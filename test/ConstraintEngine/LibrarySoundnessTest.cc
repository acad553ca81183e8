
#include "support/ConstraintCatalogue.hh"
#include "support/SoundnessHarness.hh"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

const unsigned int CASES = 300;

// The harness's drawing rule for a catalogue entry's positions. Wider scopes draw from a
// narrower range, so that brute force stays small.
SoundnessHarness::Layout layoutOf(const ConstraintEntry& entry) {
  return [&entry](unsigned int position, unsigned int arity) {
    const unsigned int kinds = entry.position ? entry.position(position).kinds : KIND_ANY;
    SoundnessHarness::Position p;
    if (arity > 3) {
      p.lo = -2;
      p.hi = 3;
    }
    p.intervals = (kinds & KIND_INTERVAL) != 0;
    p.enumerations = (kinds & KIND_ENUMERATION) != 0;
    p.booleans = (kinds & KIND_BOOLEAN) != 0;
    p.reals = (kinds & KIND_REAL) != 0;
    if (!p.intervals && !p.enumerations) {
      p.lo = 0;
      p.hi = 1;
    }
    return p;
  };
}

// Whether brute force over assignments can judge the entry: not when its meaning needs data
// of its own or a position over a single value.
bool judgedByAssignments(const ConstraintEntry& entry) {
  if (entry.hasData)
    return false;
  for (unsigned int i = 0; i < entry.maxArity; ++i)
    if (entry.position && entry.position(i).fixed)
      return false;
  return true;
}

// Every registered name whose class states a relation over values keeps every value of every
// solution when created by name, the scope transforms included; and a consistent answer that
// decides every variable, booleans meeting numbers among them, satisfies the relation. Reals
// are drawn as users write them too (tenths, and a hair beside integers) and judged in exact
// decimals, as SoundnessHarness describes.
TEST(LibrarySoundnessTest, EveryRelationalNameByName) {
  std::set<std::string> covered;
  for (const ConstraintEntry& entry : constraintCatalogue()) {
    if (!judgedByAssignments(entry))
      continue;
    for (const char* name : entry.names) {
      SoundnessHarness::Subject subject;
      subject.name = name;
      subject.minArity = entry.minArity;
      subject.maxArity = entry.maxArity;
      subject.meaning = [&entry](const std::vector<double>& a) { return entry.meaning(a, std::vector<int>()); };
      subject.decimalMeaning = entry.decimalMeaning;
      subject.build = SoundnessHarness::byLibraryName(name);
      subject.layout = layoutOf(entry);
      subject.decidedChecked = true;
      SoundnessHarness::check(subject, CASES);
      covered.insert(name);
    }
  }
  // The library's names that state no relation over values: a unary constraint made by name
  // has no source yet, a lock relates domains, and member implication's premise is about domains.
  const std::set<std::string> notValueRelations = {"UNARY", "Lock", "MemberImply", "memberImply"};
  EXPECT_EQ(covered.size() + notValueRelations.size(), 80u) << "a registered name has no meaning in the catalogue";
}

} // namespace
} // namespace KALDEN
