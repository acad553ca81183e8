#include "Utils/KeyTable.hh"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

namespace KALDEN {
namespace {

// A table over storage of its own, as its owners make theirs; like theirs it is never destroyed.
// Each run of a test makes its own (--gtest_repeat runs it again): keys are issued from 1 once per table.
struct OwnTable {
  static constexpr std::size_t INITIAL_CHUNKS = 2; // small, so that the directory must grow
  unsigned long firstChunk[KeyTable::CHUNK] = {};
  unsigned long* chunks[INITIAL_CHUNKS] = {firstChunk};
  std::uint32_t liveCount[INITIAL_CHUNKS] = {};
  KeyTable table{firstChunk, chunks, liveCount, INITIAL_CHUNKS};
};

// Keys are issued in increasing order and set once; dropped ones read 0 forever after, live ones
// their word, across many chunks (most of which empty and are given back) and a directory that
// grows. Checked against a map.
TEST(KeyTableTest, EveryKeyReadsWhatTheModelSays) {
  static std::vector<OwnTable*>* const sl_tables = new std::vector<OwnTable*>;
  sl_tables->push_back(new OwnTable);
  KeyTable& table = sl_tables->back()->table;
  std::mt19937 random(11);
  std::map<unsigned long, unsigned long> live;
  unsigned long nextKey = 1;
  for (int step = 0; step < 20000; ++step) {
    if (random() % 3 != 0 || live.empty()) {
      table.reserve(nextKey);
      table.set(nextKey, 1000 + nextKey);
      live[nextKey] = 1000 + nextKey;
      ++nextKey;
    } else {
      // Mostly the oldest keys go, so that whole chunks empty; sometimes a random one.
      auto it = live.begin();
      if (random() % 4 == 0)
        std::advance(it, random() % live.size());
      table.drop(it->first, nextKey);
      live.erase(it);
    }
  }
  ASSERT_GT(nextKey, 8 * KeyTable::CHUNK);
  for (unsigned long key = 0; key < nextKey; ++key) {
    const auto it = live.find(key);
    ASSERT_EQ(table.at(key), it == live.end() ? 0UL : it->second) << "key " << key;
  }

  // A chunk that empties before all its keys are issued keeps taking the later ones.
  for (const auto& entry : live)
    table.drop(entry.first, nextKey);
  table.reserve(nextKey);
  table.set(nextKey, 7);
  EXPECT_EQ(table.at(nextKey), 7UL);
  EXPECT_EQ(table.at(nextKey - 1), 0UL);
}

} // namespace
} // namespace KALDEN
