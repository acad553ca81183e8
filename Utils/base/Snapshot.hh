#ifndef KALDEN_UTILS_BASE_SNAPSHOT_HH
#define KALDEN_UTILS_BASE_SNAPSHOT_HH

#include <cstddef>
#include <iterator>
#include <new>
#include <vector>

namespace KALDEN {

/**
 * A copy of a range, taken so that a walk over it is not disturbed by
 * changes to the original. Up to N elements live inside the object, so the
 * usual small copy allocates nothing; a longer range goes to the heap. Only
 * the elements copied are built: a snapshot of one element costs one copy.
 */
template <class T, std::size_t N>
class Snapshot {
public:
  /// Copies [first, last).
  template <class Iterator>
  Snapshot(Iterator first, Iterator last) : m_data(inlineData()), m_size(0) {
    // A local count: the copies are written through raw storage, which could alias a member.
    std::size_t size = 0;
    for (; first != last && size < N; ++first) {
      ::new (static_cast<void*>(inlineData() + size)) T(*first);
      ++size;
    }
    m_size = size;
    if (first != last) {
      try {
        m_heap.assign(inlineData(), inlineData() + m_size);
        m_heap.insert(m_heap.end(), first, last);
      } catch (...) {
        destroyInline();
        throw;
      }
      destroyInline();
      m_data = m_heap.data();
      m_size = m_heap.size();
    }
  }
  ~Snapshot() {
    if (m_data == inlineData())
      destroyInline();
  }
  Snapshot(const Snapshot&) = delete;
  Snapshot& operator=(const Snapshot&) = delete;

  /// The first element.
  const T* begin() const { return m_data; }
  /// Past the last element.
  const T* end() const { return m_data + m_size; }

private:
  T* inlineData() { return reinterpret_cast<T*>(m_inline); }
  const T* inlineData() const { return reinterpret_cast<const T*>(m_inline); }
  void destroyInline() {
    for (std::size_t i = 0; i < m_size; ++i)
      inlineData()[i].~T();
  }

  alignas(T) unsigned char m_inline[N * sizeof(T)];
  T* m_data;
  std::size_t m_size;
  std::vector<T> m_heap;
};

} // namespace KALDEN

#endif
