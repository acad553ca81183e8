#include "HeapCounter.hh"

#include <cstdlib>
#include <malloc.h>
#include <new>

namespace KALDEN {
namespace bench {

namespace {

bool s_counting = false;
long long s_bytes = 0;
long long s_blocks = 0;

void* allocate(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr)
    throw std::bad_alloc();
  if (s_counting) {
    s_bytes += static_cast<long long>(malloc_usable_size(block));
    ++s_blocks;
  }
  return block;
}

void release(void* block) {
  if (block == nullptr)
    return;
  // A block allocated before counting started and freed during it counts as a saving: the
  // figures are the net growth of the heap.
  if (s_counting) {
    s_bytes -= static_cast<long long>(malloc_usable_size(block));
    --s_blocks;
  }
  std::free(block);
}

} // namespace

void HeapCounter::start() {
  s_bytes = 0;
  s_blocks = 0;
  s_counting = true;
}

void HeapCounter::stop() { s_counting = false; }

long long HeapCounter::bytes() { return s_bytes; }

long long HeapCounter::blocks() { return s_blocks; }

} // namespace bench
} // namespace KALDEN

void* operator new(std::size_t size) { return KALDEN::bench::allocate(size); }
void* operator new[](std::size_t size) { return KALDEN::bench::allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return KALDEN::bench::allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return KALDEN::bench::allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* block) noexcept { KALDEN::bench::release(block); }
void operator delete[](void* block) noexcept { KALDEN::bench::release(block); }
void operator delete(void* block, std::size_t) noexcept { KALDEN::bench::release(block); }
void operator delete[](void* block, std::size_t) noexcept { KALDEN::bench::release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { KALDEN::bench::release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { KALDEN::bench::release(block); }
