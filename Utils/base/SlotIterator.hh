#ifndef KALDEN_UTILS_BASE_SLOTITERATOR_HH
#define KALDEN_UTILS_BASE_SLOTITERATOR_HH

#include "Utils/base/Id.hh"

#include <cstddef>
#include <iterator>

namespace KALDEN {

/**
 * Walks an array of handles in which erased entries are left as holes (empty
 * handles), skipping the holes: the sets that erase in place without moving
 * the others share it.
 */
template <class T>
class SlotIterator {
public:
  typedef std::forward_iterator_tag iterator_category;
  typedef Id<T> value_type;
  typedef std::ptrdiff_t difference_type;
  typedef const Id<T>* pointer;
  typedef const Id<T>& reference;

  /// Past the end of an empty array.
  SlotIterator() = default;
  /// At the first handle held from `at` on, in an array ending at `end`.
  SlotIterator(const Id<T>* at, const Id<T>* end) : m_at(at), m_end(end) { skipHoles(); }
  /// The handle here.
  reference operator*() const { return *m_at; }
  /// The handle here.
  pointer operator->() const { return m_at; }
  /// Steps to the next handle held.
  SlotIterator& operator++() {
    ++m_at;
    skipHoles();
    return *this;
  }
  /// Steps to the next handle held; answers where it was.
  SlotIterator operator++(int) {
    const SlotIterator was = *this;
    ++*this;
    return was;
  }
  /// Whether both are at the same place.
  bool operator==(const SlotIterator& other) const { return m_at == other.m_at; }
  /// Whether they are at different places.
  bool operator!=(const SlotIterator& other) const { return m_at != other.m_at; }
  /// Where it is in the array.
  const Id<T>* slot() const { return m_at; }

private:
  void skipHoles() {
    while (m_at != m_end && m_at->isNoId())
      ++m_at;
  }
  const Id<T>* m_at = nullptr;
  const Id<T>* m_end = nullptr;
};

} // namespace KALDEN

#endif
