#ifndef KALDEN_CONSTRAINTENGINE_BASE_SNAPSHOT_HH
#define KALDEN_CONSTRAINTENGINE_BASE_SNAPSHOT_HH

#include <array>
#include <cstddef>
#include <iterator>
#include <vector>

namespace KALDEN {

/**
 * A copy of a range, taken so that a walk over it is not disturbed by
 * changes to the original. Up to N elements live inside the object, so the
 * usual small copy allocates nothing; a longer range goes to the heap.
 */
template <class T, std::size_t N>
class Snapshot {
public:
  /// Copies [first, last).
  template <class Iterator>
  Snapshot(Iterator first, Iterator last) : m_size(0) {
    for (; first != last && m_size < N; ++first)
      m_inline[m_size++] = *first;
    if (first != last) {
      m_heap.assign(m_inline.begin(), m_inline.end());
      m_heap.insert(m_heap.end(), first, last);
      m_size = m_heap.size();
    }
  }
  Snapshot(const Snapshot&) = delete;
  Snapshot& operator=(const Snapshot&) = delete;

  /// The first element.
  const T* begin() const { return m_heap.empty() ? m_inline.data() : m_heap.data(); }
  /// Past the last element.
  const T* end() const { return begin() + m_size; }

private:
  std::array<T, N> m_inline;
  std::vector<T> m_heap;
  std::size_t m_size;
};

} // namespace KALDEN

#endif
