#ifndef KALDEN_UTILS_BASE_INSERTIONORDEREDSET_HH
#define KALDEN_UTILS_BASE_INSERTIONORDEREDSET_HH

#include "Utils/base/Id.hh"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace KALDEN {

/**
 * A set of handles iterated in the order they were inserted, so that
 * whoever walks it (listeners told of a notice) goes in an order that does
 * not depend on where objects happen to be allocated. One inserted again
 * after its erasure goes last. Held in an array searched from the front:
 * meant for the few handles of a registry of observers, whose lookups cost
 * their number. The handles held are never read.
 */
template <class T>
class InsertionOrderedSet {
public:
  typedef typename std::vector<Id<T> >::const_iterator const_iterator;

  /// The first handle inserted.
  const_iterator begin() const { return m_handles.begin(); }
  /// Past the last handle inserted.
  const_iterator end() const { return m_handles.end(); }
  /// The number of handles held.
  std::size_t size() const { return m_handles.size(); }
  /// Whether no handle is held.
  bool empty() const { return m_handles.empty(); }

  /// The position of the handle, end() when it is not held.
  const_iterator find(const Id<T>& handle) const { return std::find(m_handles.begin(), m_handles.end(), handle); }
  /// 1 when the handle is held, else 0.
  std::size_t count(const Id<T>& handle) const { return find(handle) == end() ? 0 : 1; }

  /// Adds the handle last; false when it is held already.
  bool insert(const Id<T>& handle) {
    if (count(handle) != 0)
      return false;
    m_handles.push_back(handle);
    return true;
  }
  /// Removes the handle; answers how many went (0 or 1).
  std::size_t erase(const Id<T>& handle) {
    const const_iterator at = find(handle);
    if (at == end())
      return 0;
    m_handles.erase(at);
    return 1;
  }
  /// Removes the handle at a position; answers the next position.
  const_iterator erase(const_iterator position) { return m_handles.erase(position); }

private:
  std::vector<Id<T> > m_handles; // in insertion order
};

} // namespace KALDEN

#endif
