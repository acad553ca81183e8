#include "Utils/base/Snapshot.hh"

#include <gtest/gtest.h>

#include <list>
#include <vector>

namespace KALDEN {
namespace {

// Below, at and past the inline capacity the copy holds the range in order, and later
// changes to the original leave it alone.
TEST(SnapshotTest, CopiesEveryLengthAndIsNotDisturbedByTheOriginal) {
  for (int length : {0, 1, 3, 4, 5, 9, 12}) {
    std::list<int> original;
    for (int i = 0; i < length; ++i)
      original.push_back(i * 7);
    const Snapshot<int, 4> copy(original.begin(), original.end());
    const std::vector<int> expected(original.begin(), original.end());
    original.clear();
    original.push_back(-1);
    EXPECT_EQ(std::vector<int>(copy.begin(), copy.end()), expected) << "length " << length;
  }
}

} // namespace
} // namespace KALDEN
