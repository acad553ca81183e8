#ifndef KALDEN_UTILS_BASE_KEYORDEREDSET_HH
#define KALDEN_UTILS_BASE_KEYORDEREDSET_HH

#include "Utils/base/Id.hh"
#include "Utils/base/SlotIterator.hh"
#include "Utils/base/Report.hh"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <vector>

#pragma push_macro("KALDEN_SOURCE")
#undef KALDEN_SOURCE
#define KALDEN_SOURCE "Utils/base/KeyOrderedSet"

namespace KALDEN {

/**
 * A set of handles to entities, iterated in entity key order, held in two
 * parallel arrays sorted by key (the keys, and the handles). Entities mostly
 * join in increasing key order, since keys follow creation, so a newcomer
 * goes to the end; an erased one leaves a hole (an empty handle under its
 * key) that iteration skips and a later insertion squeezes out. Against a
 * node-based set this takes a third of the room and no allocation per
 * element, and finds by key without reading the entities.
 *
 * Lookups read the key of the handle given, which must be valid; the handles
 * held are never read, so one whose entity went stays harmless until erased.
 * As with a node-based set, erasing leaves iterators to other elements valid;
 * inserting may move them.
 */
template <class T>
class KeyOrderedSet {
public:
  /// Iterates the held handles in key order.
  typedef SlotIterator<T> const_iterator;

  /// The lowest-keyed handle.
  const_iterator begin() const { return at(m_first); }
  /// Past the highest-keyed handle.
  const_iterator end() const { return at(m_handles.size()); }
  /// The number of handles held.
  std::size_t size() const { return m_size; }
  /// Whether no handle is held.
  bool empty() const { return m_size == 0; }

  /// The position of the (valid) handle, end() when it is not held.
  const_iterator find(const Id<T>& handle) const {
    const std::size_t i = slotOf(handle);
    return i == NONE ? end() : at(i);
  }
  /// 1 when the (valid) handle is held, else 0.
  std::size_t count(const Id<T>& handle) const { return slotOf(handle) == NONE ? 0 : 1; }

  /// Adds a valid handle; false when it is held already.
  bool insert(const Id<T>& handle) {
    const int key = keyOf(handle);
    if (m_keys.empty() || m_keys.back() < key) {
      // Holes cost no more than the elements: squeeze them out before growing.
      if (m_handles.size() == m_handles.capacity() && 2 * m_size < m_handles.size())
        squeeze();
      m_keys.push_back(key);
      m_handles.push_back(handle);
    } else {
      const std::size_t i = lowerBound(key);
      if (m_keys[i] == key && m_handles[i] == handle)
        return false;
      if (m_keys[i] == key && m_handles[i].isNoId()) {
        m_handles[i] = handle;
      } else {
        m_keys.insert(m_keys.begin() + static_cast<std::ptrdiff_t>(i), key);
        m_handles.insert(m_handles.begin() + static_cast<std::ptrdiff_t>(i), handle);
      }
      m_first = std::min(m_first, i);
    }
    ++m_size;
    return true;
  }

  /// Removes a valid handle; answers how many went (0 or 1).
  std::size_t erase(const Id<T>& handle) {
    const std::size_t i = slotOf(handle);
    if (i == NONE)
      return 0;
    release(i);
    return 1;
  }
  /// Removes the handle at a position (which must hold one); answers the next position.
  const_iterator erase(const_iterator position) {
    const std::size_t i = static_cast<std::size_t>(position.slot() - m_handles.data());
    release(i);
    return m_size == 0 ? end() : at(i + 1);
  }

private:
  static constexpr std::size_t NONE = ~std::size_t(0);

  static int keyOf(const Id<T>& handle) {
    KALDEN_CHECK_MSG(handle.isValid(), handle);
    return handle->getKey();
  }
  const_iterator at(std::size_t i) const {
    return const_iterator(m_handles.data() + i, m_handles.data() + m_handles.size());
  }
  // The first slot whose key is not below `key`, from the first held one on.
  std::size_t lowerBound(int key) const {
    return static_cast<std::size_t>(
        std::lower_bound(m_keys.begin() + static_cast<std::ptrdiff_t>(m_first), m_keys.end(), key) - m_keys.begin());
  }
  // The slot holding the handle, NONE when none.
  std::size_t slotOf(const Id<T>& handle) const {
    const int key = keyOf(handle);
    if (m_size == 0 || key > m_keys.back())
      return NONE;
    // Sets are mostly emptied from the front: look there first.
    const std::size_t i = m_keys[m_first] == key ? m_first : lowerBound(key);
    return i < m_keys.size() && m_keys[i] == key && m_handles[i] == handle ? i : NONE;
  }
  // Leaves a hole at slot i; an emptied set drops its slots.
  void release(std::size_t i) {
    m_handles[i] = Id<T>();
    --m_size;
    if (m_size == 0) {
      m_keys.clear();
      m_handles.clear();
      m_first = 0;
      return;
    }
    while (m_handles[m_first].isNoId())
      ++m_first;
  }
  // Drops the holes.
  void squeeze() {
    std::size_t kept = 0;
    for (std::size_t i = m_first; i < m_handles.size(); ++i)
      if (!m_handles[i].isNoId()) {
        m_keys[kept] = m_keys[i];
        m_handles[kept++] = m_handles[i];
      }
    m_keys.resize(kept);
    m_handles.resize(kept);
    m_first = 0;
  }

  std::vector<int> m_keys;       // ascending; a hole keeps the key of what it held
  std::vector<Id<T> > m_handles; // parallel to m_keys; empty in a hole
  std::size_t m_first = 0;       // the first slot that holds a handle (0 when empty)
  std::size_t m_size = 0;
};

} // namespace KALDEN

#pragma pop_macro("KALDEN_SOURCE")

#endif
