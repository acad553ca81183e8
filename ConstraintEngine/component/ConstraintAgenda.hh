#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_CONSTRAINTAGENDA_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_CONSTRAINTAGENDA_HH

#include "ConstraintEngine/base/Constraint.hh"
#include "Utils/base/Id.hh"

#include <cstddef>
#include <vector>

namespace KALDEN {

/**
 * The constraints waiting to run, each at most once, taken lowest entity key
 * first: a binary min-heap of (key, handle) entries. Whether a constraint is
 * queued is marked on the constraint itself, so queueing a queued one or
 * taking off one that is not costs no search.
 *
 * Taking a constraint off only changes its mark; its entry stays in the heap
 * until it reaches the top, and is queued again in place should the
 * constraint come back first. The entry of a constraint that goes while it
 * has one outlives it, so while there are such entries an entry's handle is
 * tested before its constraint is read. Entries that are no longer queued
 * are dropped at once when the agenda drains, and by a rebuild when they come
 * to outnumber the queued ones, so they never cost more than the queueing did.
 *
 * A constraint's mark belongs to the one agenda that holds it: a constraint
 * is on the agenda of its own propagator only.
 */
class ConstraintAgenda {
public:
  /// An empty agenda, holding no storage.
  ConstraintAgenda() = default;
  /// Clears the marks of the live constraints still on the agenda.
  ~ConstraintAgenda();
  ConstraintAgenda(const ConstraintAgenda&) = delete;
  ConstraintAgenda& operator=(const ConstraintAgenda&) = delete;

  /// Whether no constraint is queued.
  bool empty() const { return m_queued == 0; }
  /// The number of queued constraints.
  std::size_t size() const { return m_queued; }
  /// Whether the (live) constraint is queued.
  static bool contains(const Id<Constraint>& constraint) { return constraint->m_agendaMark == QUEUED; }

  /// Queues a live constraint; false when it is queued already, or going.
  bool insert(const Id<Constraint>& constraint) {
    unsigned char& mark = constraint->m_agendaMark;
    if (mark == QUEUED || mark == GONE)
      return false;
    if (mark == WITHDRAWN)
      --m_withdrawn;
    else
      push(Entry{constraint->getKey(), constraint});
    mark = QUEUED;
    ++m_queued;
    return true;
  }

  /// Takes a live constraint off the agenda; false when it was not queued.
  bool erase(const Id<Constraint>& constraint);

  /// Takes off a constraint that is going (it is discarded and about to be deleted); false when
  /// it was not queued. Its entry, if any, is dropped later without reading the constraint.
  bool forget(const Id<Constraint>& constraint);

  /// Takes the lowest-keyed queued constraint off the agenda and answers it (the agenda must not
  /// be empty, nor hold a constraint deleted without being taken off).
  Id<Constraint> takeFront() {
    for (;;) {
      const Entry top = m_heap.front();
      pop();
      // Only entries of constraints taken off as they went may be stale: none is, mostly.
      if (m_gone != 0 && !top.handle.isValid()) {
        --m_gone;
        continue;
      }
      unsigned char& mark = top.handle->m_agendaMark;
      const unsigned char was = mark;
      mark = ABSENT;
      if (was == QUEUED) {
        --m_queued;
        settle();
        return top.handle;
      }
      --(was == GONE ? m_gone : m_withdrawn);
    }
  }

  /// Takes every constraint off the agenda.
  void clear();

  /// Calls visit(key, handle) for each live queued constraint, in no particular order.
  template <class Visit>
  void forEach(Visit visit) const {
    m_visited += m_heap.size();
    for (const Entry& entry : m_heap)
      if (entry.handle.isValid() && entry.handle->m_agendaMark == QUEUED)
        visit(entry.key, entry.handle);
  }

  /// The lowest-keyed queued constraint that is deleted (without being taken off) or discarded;
  /// empty when none.
  Id<Constraint> lowestUnsound() const;

  /// Bytes of heap storage held (for memory accounting).
  std::size_t storageBytes() const { return m_heap.capacity() * sizeof(Entry); }

  /// Entries visited so far by walks of the whole agenda (rebuilds, clearing, checks), so that tests
  /// can tell that an operation costs what it touches rather than what the agenda holds.
  std::size_t entriesVisited() const { return m_visited; }

private:
  // The marks a constraint carries.
  enum Mark : unsigned char {
    ABSENT = 0, // no entry
    QUEUED,     // an entry, queued
    WITHDRAWN,  // an entry, taken off
    GONE        // an entry, taken off as the constraint goes
  };

  struct Entry {
    int key;
    Id<Constraint> handle;
  };

  void push(const Entry& entry) {
    // Networks mostly queue their constraints in key order: an entry above its parent stays put.
    m_heap.push_back(entry);
    const std::size_t last = m_heap.size() - 1;
    if (last != 0 && entry.key < m_heap[(last - 1) / 2].key)
      siftUp(last);
  }
  // Removes the top entry.
  void pop() {
    if (m_heap.size() > 1)
      replaceTop();
    else
      m_heap.pop_back();
  }
  // pop() for a heap of two entries or more.
  void replaceTop();
  void siftUp(std::size_t i);
  // After a constraint left: drops what is left once nothing is queued, and rebuilds when the
  // entries no longer queued outnumber the queued ones.
  void settle() {
    if (m_queued == 0) {
      if (!m_heap.empty() || m_heap.capacity() > KEEP_ENTRIES)
        clear();
    } else if (m_withdrawn + m_gone > m_queued + KEEP_ENTRIES) {
      compact();
    }
  }
  // Rebuilds the heap from the queued entries alone.
  void compact();

  // An empty agenda keeps the storage of this many entries, so that steady small propagations
  // do not allocate; a larger one goes back to the heap.
  static constexpr std::size_t KEEP_ENTRIES = 64;

  std::vector<Entry> m_heap;
  std::size_t m_queued = 0;    // entries queued (live, or deleted without being taken off)
  std::size_t m_withdrawn = 0; // entries of live constraints taken off
  std::size_t m_gone = 0;      // entries of constraints taken off as they went
  mutable std::size_t m_visited = 0; // entries walked over, whole walks only
};

} // namespace KALDEN

#endif
