#ifndef KALDEN_CONSTRAINTENGINE_BASE_LAZYSET_HH
#define KALDEN_CONSTRAINTENGINE_BASE_LAZYSET_HH

#include <cstddef>
#include <memory>
#include <set>

namespace KALDEN {

/**
 * A set that takes no room until its first element: one pointer instead of a
 * whole std::set inside objects of which there are many and whose set is
 * nearly always empty (a variable's listeners). It offers the set operations
 * those objects use, with the same meaning.
 */
template <class T>
class LazySet {
public:
  typedef typename std::set<T>::const_iterator const_iterator;

  /// The first element.
  const_iterator begin() const { return view().begin(); }
  /// Past the last element.
  const_iterator end() const { return view().end(); }
  /// The element equal to `value`, end() when none.
  const_iterator find(const T& value) const { return view().find(value); }
  /// 1 when `value` is in, else 0.
  std::size_t count(const T& value) const { return view().count(value); }
  /// Whether there is no element.
  bool empty() const { return !m_set || m_set->empty(); }

  /// Adds `value`.
  void insert(const T& value) {
    if (!m_set)
      m_set.reset(new std::set<T>());
    m_set->insert(value);
  }
  /// Removes `value`; the room goes with the last element.
  std::size_t erase(const T& value) {
    if (!m_set)
      return 0;
    const std::size_t erased = m_set->erase(value);
    if (m_set->empty())
      m_set.reset();
    return erased;
  }
  /// Removes the element at `position` (which must be one); answers the next position.
  const_iterator erase(const_iterator position) { return m_set->erase(position); }

private:
  const std::set<T>& view() const {
    static const std::set<T> sl_none;
    return m_set ? *m_set : sl_none;
  }

  std::unique_ptr<std::set<T> > m_set;
};

} // namespace KALDEN

#endif
