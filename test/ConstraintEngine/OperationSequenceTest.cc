#include "support/OperationSequence.hh"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace KALDEN {
namespace {

// Seeds run by default: enough to meet every operation often, quick under the sanitizers.
const unsigned int CI_SEEDS = 600;

unsigned int fromEnvironment(const char* name, unsigned int otherwise) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? static_cast<unsigned int>(std::strtoul(value, nullptr, 10)) : otherwise;
}

// Random client sessions hold against brute force: KALDEN_OPSEQ_SEEDS=n runs seeds 1..n,
// KALDEN_OPSEQ_SEED=n runs seed n alone.
TEST(OperationSequenceTest, RandomSessionsHoldAgainstBruteForce) {
  const unsigned int only = fromEnvironment("KALDEN_OPSEQ_SEED", 0);
  const unsigned int first = only != 0 ? only : 1;
  const unsigned int last = only != 0 ? only : fromEnvironment("KALDEN_OPSEQ_SEEDS", CI_SEEDS);
  for (unsigned int seed = first; seed <= last; ++seed) {
    const std::string failure = OperationSequence::runSeed(seed, OperationSequence::Options());
    if (!failure.empty())
      ADD_FAILURE() << failure;
  }
}

} // namespace
} // namespace KALDEN
