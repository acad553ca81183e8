#ifndef KALDEN_UTILS_BASE_INSERTIONORDEREDSET_HH
#define KALDEN_UTILS_BASE_INSERTIONORDEREDSET_HH

#include "Utils/base/Id.hh"
#include "Utils/base/SlotIterator.hh"

#include <cstddef>
#include <functional>
#include <iterator>
#include <memory>
#include <unordered_map>
#include <vector>

namespace KALDEN {

/**
 * A set of handles iterated in the order they were inserted, so that
 * whoever walks it (listeners told of a notice) goes in an order that does
 * not depend on where objects happen to be allocated. One inserted again
 * after its erasure goes last. Lookup, insertion and erasure cost the same
 * however many handles are held: the handles lie in an array in insertion
 * order, an erased one leaving a hole, with a hash index of their places
 * once there are more than a few; the array is closed up once holes
 * outnumber the handles. An empty set holds nothing on the heap. The
 * handles held are never read.
 */
template <class T>
class InsertionOrderedSet {
public:
  /// Walks the handles held, in insertion order.
  typedef SlotIterator<T> const_iterator;

  /// The first handle inserted.
  const_iterator begin() const { return m_body ? at(0) : const_iterator(); }
  /// Past the last handle inserted.
  const_iterator end() const { return m_body ? at(m_body->slots.size()) : const_iterator(); }
  /// The number of handles held.
  std::size_t size() const { return m_body ? m_body->held : 0; }
  /// Whether no handle is held.
  bool empty() const { return !m_body; }

  /// The position of the handle, end() when it is not held.
  const_iterator find(const Id<T>& handle) const { return m_body ? at(placeOf(handle)) : end(); }
  /// 1 when the handle is held, else 0.
  std::size_t count(const Id<T>& handle) const { return m_body && placeOf(handle) != m_body->slots.size() ? 1 : 0; }

  /// Adds the handle last; false when it is held already, or empty (an empty handle marks a hole).
  bool insert(const Id<T>& handle) {
    if (handle.isNoId() || count(handle) != 0)
      return false;
    if (!m_body)
      m_body.reset(new Body());
    std::vector<Id<T> >& slots = m_body->slots;
    try {
      slots.push_back(handle);
      if (indexed())
        m_body->places.emplace(handle, slots.size() - 1);
      else if (slots.size() > SMALL)
        index();
    } catch (...) {
      if (!slots.empty() && slots.back() == handle)
        slots.pop_back();
      if (m_body->held == 0)
        m_body.reset();
      throw;
    }
    ++m_body->held;
    closeUpIfSparse();
    return true;
  }
  /// Removes the handle; answers how many went (0 or 1).
  std::size_t erase(const Id<T>& handle) {
    if (!m_body)
      return 0;
    const std::size_t place = placeOf(handle);
    if (place == m_body->slots.size())
      return 0;
    if (forget(place))
      closeUpIfSparse();
    return 1;
  }
  /// Removes the handle at a position; answers the next position. The other positions stay
  /// valid (an erasure by handle or an insertion may move them).
  const_iterator erase(const_iterator position) {
    const std::size_t place = static_cast<std::size_t>(position.slot() - m_body->slots.data());
    return forget(place) ? at(place + 1) : end();
  }

private:
  // Up to this many places, a handle is looked for from the front: cheaper than hashing, and
  // nothing to build for the one or two listeners most registries have.
  static constexpr std::size_t SMALL = 8;

  // Hashes a handle by its object's address: equal handles name the same object.
  struct AddressHash {
    std::size_t operator()(const Id<T>& handle) const { return std::hash<const T*>()(static_cast<T*>(handle)); }
  };
  struct Body {
    std::vector<Id<T> > slots; // in insertion order; an empty handle is a hole
    std::size_t held = 0;      // the handles among slots
    // Each handle's index in slots, once slots outgrew SMALL (empty until then).
    std::unordered_map<Id<T>, std::size_t, AddressHash> places;
  };

  const_iterator at(std::size_t place) const {
    const Id<T>* first = m_body->slots.data();
    return const_iterator(first + place, first + m_body->slots.size());
  }
  bool indexed() const { return !m_body->places.empty(); }
  // Indexes every handle held (all or nothing).
  void index() {
    std::unordered_map<Id<T>, std::size_t, AddressHash> places;
    const std::vector<Id<T> >& slots = m_body->slots;
    for (std::size_t i = 0; i < slots.size(); ++i)
      if (!slots[i].isNoId())
        places.emplace(slots[i], i);
    m_body->places.swap(places);
  }
  // The index of the handle in slots; slots.size() when it is not held. The few places of a
  // small set are searched inline, a large one's index out of line.
  std::size_t placeOf(const Id<T>& handle) const {
    const std::vector<Id<T> >& slots = m_body->slots;
    if (indexed())
      return indexedPlaceOf(handle);
    if (handle.isNoId())
      return slots.size();
    std::size_t place = 0;
    while (place != slots.size() && slots[place] != handle)
      ++place;
    return place;
  }
  [[gnu::noinline]] std::size_t indexedPlaceOf(const Id<T>& handle) const {
    const auto found = m_body->places.find(handle);
    return found == m_body->places.end() ? m_body->slots.size() : found->second;
  }
  // Leaves a hole where the handle at `place` was; frees the body when it was the last one.
  // Whether a handle is still held.
  bool forget(std::size_t place) {
    Id<T>& slot = m_body->slots[place];
    if (indexed())
      m_body->places.erase(slot);
    slot = Id<T>();
    if (--m_body->held != 0)
      return true;
    m_body.reset();
    return false;
  }
  // Drops the holes once they outnumber the handles: a walk costs at most twice the handles, and
  // closing up less than two places per erasure since it was last done.
  void closeUpIfSparse() {
    std::vector<Id<T> >& slots = m_body->slots;
    if (slots.size() - m_body->held <= m_body->held)
      return;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < slots.size(); ++i) {
      if (slots[i].isNoId())
        continue;
      if (indexed())
        m_body->places.find(slots[i])->second = kept;
      slots[kept++] = slots[i];
    }
    slots.resize(kept);
  }

  // Made by the first insertion, freed when the last handle goes: with no handle held,
  // empty() reads one word, as the engine's hot paths ask it on every change and execution.
  std::unique_ptr<Body> m_body;
};

} // namespace KALDEN

#endif
