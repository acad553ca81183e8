#ifndef KALDEN_TEST_SUPPORT_SCATTEREDBLOCKS_HH
#define KALDEN_TEST_SUPPORT_SCATTEREDBLOCKS_HH

#include <algorithm>
#include <cstddef>
#include <new>
#include <random>
#include <vector>

namespace KALDEN {

/**
 * Frees `count` fresh blocks of `size` bytes in a random order, so that the
 * next objects of that size the allocator hands out land at addresses
 * unrelated to the order they are made in (an allocator that keeps freed
 * blocks aside, as a sanitizer's does, simply hands out others).
 */
inline void scatterNextBlocks(std::mt19937& random, std::size_t size, int count = 7) {
  std::vector<void*> blocks;
  for (int i = 0; i < count; ++i)
    blocks.push_back(::operator new(size));
  std::shuffle(blocks.begin(), blocks.end(), random);
  for (void* block : blocks)
    ::operator delete(block);
}

} // namespace KALDEN

#endif
