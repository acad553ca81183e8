#include "support/OperationSequence.hh"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

// Seeds run by default: enough to meet every operation often, quick under the sanitizers.
const unsigned int CI_SEEDS = 600;

unsigned int fromEnvironment(const char* name, unsigned int otherwise) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? static_cast<unsigned int>(std::strtoul(value, nullptr, 10)) : otherwise;
}

// Runs the seeds the environment asks for: KALDEN_OPSEQ_SEEDS=n runs n seeds (600 when not
// given) from KALDEN_OPSEQ_FIRST (1 when not given), KALDEN_OPSEQ_SEED=n seed n alone; a
// failure is named with `label`. The checks of a true answer only bite when true answers are
// common: most checked propagations must answer true.
void runSessions(const OperationSequence::Options& options, const std::string& label) {
  const unsigned int only = fromEnvironment("KALDEN_OPSEQ_SEED", 0);
  const unsigned int first = only != 0 ? only : fromEnvironment("KALDEN_OPSEQ_FIRST", 1);
  const unsigned int count = only != 0 ? 1 : fromEnvironment("KALDEN_OPSEQ_SEEDS", CI_SEEDS);
  if (count == 0)
    GTEST_SKIP() << "KALDEN_OPSEQ_SEEDS=0 runs no seed";
  OperationSequence::Tally tally;
  for (unsigned int seed = first; seed - first < count; ++seed) {
    const std::string failure = OperationSequence::runSeed(seed, options, &tally);
    if (!failure.empty())
      ADD_FAILURE() << label << failure;
  }
  if (only == 0) {
    EXPECT_LT(2 * tally.answeredFalse, tally.checked)
        << tally.answeredFalse << " of " << tally.checked << " checked propagations answered false";
    // Undoing a deactivation must also be met where it leaves the object off (a few seeds alone may not).
    if (count >= CI_SEEDS) {
      EXPECT_GT(tally.twoDeep, 0u) << "no session switched anything off twice";
      EXPECT_GT(tally.failedInRun, 0u) << "no listener failed inside a propagate() call";
    }
  }
  std::printf("%lu of %lu checked propagations answered false, %lu left a constraint violated; %lu operations "
              "switched something off or on, %lu of them two deep; a listener failed in %lu propagate() calls\n",
              tally.answeredFalse, tally.checked, tally.violated, tally.switched, tally.twoDeep, tally.failedInRun);
}

// Random client sessions hold against brute force and a fresh engine.
TEST(OperationSequenceTest, RandomSessionsHoldAgainstBruteForce) { runSessions(OperationSequence::Options(), ""); }

// The same with sessions mostly of equalities on the equality propagator: removals and deleted
// variables take back what a class narrowed, and the answers match a fresh engine's.
TEST(OperationSequenceTest, EqualityPropagatorSessionsHoldAgainstBruteForce) {
  OperationSequence::Options options;
  options.equalityPropagator = true;
  runSessions(options, "equality propagator ");
}

// KALDEN_OPSEQ_REPLAY=file runs again the operations a seed wrote with KALDEN_OPSEQ_RECORD=file
// (one a line; drop lines to shorten a crash, which the test cannot shorten itself).
TEST(OperationSequenceTest, RecordedOperationsReplay) {
  const char* file = std::getenv("KALDEN_OPSEQ_REPLAY");
  if (file == nullptr)
    GTEST_SKIP() << "no KALDEN_OPSEQ_REPLAY";
  std::ifstream in(file);
  std::vector<OperationSequence::Operation> operations;
  OperationSequence::Layout layout; // where the seed's listeners stood, from its first line
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && !OperationSequence::layoutFromRecord(line, layout))
      operations.push_back(OperationSequence::fromRecord(line));
  for (const OperationSequence::Operation& op : operations)
    std::printf("  %s\n", OperationSequence::describe(op).c_str());
  EXPECT_EQ(OperationSequence::replay(operations, layout), "");
}

} // namespace
} // namespace KALDEN
