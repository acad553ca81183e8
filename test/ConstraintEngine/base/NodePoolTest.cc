#include "ConstraintEngine/base/NodePool.hh"

#include <gtest/gtest.h>

#include <functional>
#include <set>

namespace KALDEN {
namespace {

typedef std::set<int, std::less<int>, PoolAllocator<int> > PooledSet;

// Bursts larger than what the pool keeps, then steady reuse: the set behaves as a plain one
// (the sanitizer build checks that every block is given back exactly once).
TEST(NodePoolTest, PooledSetBehavesAsAPlainOneThroughBurstsAndReuse) {
  NodePool pool;
  PooledSet pooled{std::less<int>(), PoolAllocator<int>(pool)};
  std::set<int> plain;
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 1000; ++i) {
      pooled.insert((i * 37 + round) % 1500);
      plain.insert((i * 37 + round) % 1500);
    }
    for (int i = 0; i < 1500; i += 3) {
      pooled.erase(i);
      plain.erase(i);
    }
    EXPECT_EQ(std::set<int>(pooled.begin(), pooled.end()), plain);
  }
  pooled.clear();
  for (int i = 0; i < 10; ++i)
    pooled.insert(i);
  EXPECT_EQ(pooled.size(), 10u);
}

} // namespace
} // namespace KALDEN
