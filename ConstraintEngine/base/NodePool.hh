#ifndef KALDEN_CONSTRAINTENGINE_BASE_NODEPOOL_HH
#define KALDEN_CONSTRAINTENGINE_BASE_NODEPOOL_HH

#include <cstddef>
#include <memory>
#include <new>

namespace KALDEN {

/**
 * Recycles the single-node blocks of a node-based container (a set or a map
 * whose entries come and go all the time, such as a propagator's agenda), so
 * that a steady flow of insertions and erasures stops allocating. It keeps up
 * to a bounded number of freed blocks; the rest go back to the heap, so a
 * burst leaves no lasting footprint. The pool must outlive its containers.
 */
class NodePool {
public:
  NodePool() = default;
  ~NodePool() {
    while (m_free != nullptr) {
      FreeBlock* next = m_free->next;
      ::operator delete(static_cast<void*>(m_free));
      m_free = next;
    }
  }
  NodePool(const NodePool&) = delete;
  NodePool& operator=(const NodePool&) = delete;

  /// A block of `size` bytes (every block of one pool has the same size).
  void* take(std::size_t size) {
    if (m_free == nullptr)
      return ::operator new(size < sizeof(FreeBlock) ? sizeof(FreeBlock) : size);
    FreeBlock* block = m_free;
    m_free = block->next;
    --m_freeCount;
    return block;
  }

  /// Gives a block back.
  void give(void* block) {
    if (m_freeCount >= MAX_FREE) {
      ::operator delete(block);
      return;
    }
    FreeBlock* freed = static_cast<FreeBlock*>(block);
    freed->next = m_free;
    m_free = freed;
    ++m_freeCount;
  }

private:
  static constexpr std::size_t MAX_FREE = 256;
  struct FreeBlock {
    FreeBlock* next;
  };
  FreeBlock* m_free = nullptr;
  std::size_t m_freeCount = 0;
};

/// The allocator that draws a container's nodes from a NodePool (arrays still come from the heap).
template <class T>
class PoolAllocator {
public:
  typedef T value_type;

  /// Draws from the given pool.
  explicit PoolAllocator(NodePool& pool) : m_pool(&pool) {}
  /// The same pool, for another node type.
  template <class U>
  PoolAllocator(const PoolAllocator<U>& other) : m_pool(other.m_pool) {}

  T* allocate(std::size_t n) {
    if (n == 1)
      return static_cast<T*>(m_pool->take(sizeof(T)));
    return std::allocator<T>().allocate(n);
  }
  void deallocate(T* block, std::size_t n) {
    if (n == 1)
      m_pool->give(block);
    else
      std::allocator<T>().deallocate(block, n);
  }

  template <class U>
  bool operator==(const PoolAllocator<U>& other) const { return m_pool == other.m_pool; }
  template <class U>
  bool operator!=(const PoolAllocator<U>& other) const { return m_pool != other.m_pool; }

private:
  template <class U>
  friend class PoolAllocator;
  NodePool* m_pool;
};

} // namespace KALDEN

#endif
