#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_CONSTRAINTAGENDA_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_CONSTRAINTAGENDA_HH

#include "Utils/base/Id.hh"

#include <cstddef>
#include <cstdlib>
#include <cstdint>
#include <memory>
#include <vector>

namespace KALDEN {

class Constraint;

/**
 * The constraints waiting to run, each at most once, taken lowest entity key
 * first. Every constraint is queued with its key, so ordering never looks
 * at the constraint or at the handle registry.
 *
 * Constraints mostly arrive in increasing key order (a network queues its
 * constraints as it builds them, a change queues the next one along), so an
 * arrival above every key of the run goes to the end of that sorted run,
 * found again by binary search, and only the others go to a min-heap, with a
 * hash set of their keys; the front is the lower of the two heads. Taking a
 * constraint off other than from the front only marks its entry withdrawn
 * (a negated key in the run, in the hash set for the heap); a withdrawn
 * entry is dropped when it reaches the head of its lane, or when withdrawn
 * entries come to outnumber the queued ones. Both heads are always queued
 * constraints, so the agenda is empty exactly when it holds no entry. Storage
 * is given back when the agenda drains from a large size, so that the agenda
 * of a freshly built network costs nothing once it has run.
 */
class ConstraintAgenda {
public:
  /// An empty agenda, holding no storage.
  ConstraintAgenda() = default;
  ConstraintAgenda(const ConstraintAgenda&) = delete;
  ConstraintAgenda& operator=(const ConstraintAgenda&) = delete;

  /// Whether no constraint is queued.
  bool empty() const { return m_queued == 0; }
  /// The number of queued constraints.
  std::size_t size() const { return m_queued; }
  /// Whether the constraint with this (positive) key is queued.
  bool contains(int key) const {
    if (m_heap.size() != 0) {
      const int* slot = m_heapKeys.find(key);
      if (slot != nullptr)
        return *slot > 0;
    }
    const std::size_t at = findInRun(key);
    return at != NONE && m_run.keys[at] > 0;
  }

  /// Queues a constraint under its (positive) entity key; false when it is queued already.
  bool insert(const Id<Constraint>& constraint, int key) {
    if (m_heap.size() != 0) {
      int* slot = m_heapKeys.find(key);
      if (slot != nullptr)
        return revive(*slot, key);
    }
    const std::size_t at = findInRun(key);
    if (at != NONE)
      return revive(m_run.keys[at], key);
    ++m_queued;
    // The run stays sorted: it takes a key above every key it holds, withdrawn ones included.
    if (m_runHead == m_run.size() || std::abs(m_run.keys.back()) < key)
      m_run.push(key, constraint);
    else
      pushHeap(key, constraint);
    return true;
  }

  /// Takes the constraint with this key off the agenda; false when it was not queued.
  bool erase(int key);

  /// The lowest-keyed queued constraint (the agenda must not be empty).
  const Id<Constraint>& front() const { return frontInRun() ? m_run.handles[m_runHead] : m_heap.handles.front(); }
  /// The key of front().
  int frontKey() const { return frontInRun() ? m_run.keys[m_runHead] : m_heap.keys.front(); }

  /// Takes the lowest-keyed constraint off the agenda and answers it (the agenda must not be empty).
  Id<Constraint> takeFront() {
    --m_queued;
    if (frontInRun()) {
      const Id<Constraint> constraint = m_run.handles[m_runHead];
      ++m_runHead;
      settleRun();
      return constraint;
    }
    const Id<Constraint> constraint = m_heap.handles.front();
    m_heapKeys.remove(m_heap.keys.front());
    popHeap();
    settleHeap();
    return constraint;
  }

  /// Takes every constraint off the agenda.
  void clear();

  /// Calls visit(key, handle) once for each queued constraint, in no particular order.
  template <class Visit>
  void forEach(Visit visit) const {
    for (std::size_t i = m_runHead; i < m_run.size(); ++i)
      if (m_run.keys[i] > 0)
        visit(m_run.keys[i], m_run.handles[i]);
    for (std::size_t i = 0; i < m_heap.size(); ++i)
      if (*m_heapKeys.find(m_heap.keys[i]) > 0)
        visit(m_heap.keys[i], m_heap.handles[i]);
  }

  /// Bytes of heap storage held (for memory accounting).
  std::size_t storageBytes() const {
    return m_run.storageBytes() + m_heap.storageBytes() + m_heapKeys.storageBytes();
  }

private:
  /**
   * The keys of the heap's entries, positive while queued and negated once
   * withdrawn: open addressing over a power-of-two table at most three
   * quarters full, linear probing, 0 for a free slot, backward-shift removal
   * (no tombstones).
   */
  class KeyTable {
  public:
    KeyTable() = default;
    KeyTable(const KeyTable&) = delete;
    KeyTable& operator=(const KeyTable&) = delete;

    /// The slot holding key or -key, null when none.
    int* find(int key) { return const_cast<int*>(static_cast<const KeyTable*>(this)->find(key)); }
    /// The slot holding key or -key, null when none.
    const int* find(int key) const {
      if (m_count == 0)
        return nullptr;
      for (std::size_t i = home(key);; i = (i + 1) & m_mask) {
        const int held = m_slots[i];
        if (held == key || held == -key)
          return &m_slots[i];
        if (held == 0)
          return nullptr;
      }
    }
    /// Adds a key that is not there.
    void add(int key) {
      if (4 * (m_count + 1) > 3 * capacity())
        grow();
      std::size_t i = home(key);
      while (m_slots[i] != 0)
        i = (i + 1) & m_mask;
      m_slots[i] = key;
      ++m_count;
    }
    /// Frees the slot of key or -key (which must be there).
    void remove(int key) {
      // Mostly the key sits in its home slot and ends its probe run: nothing has to shift.
      const std::size_t i = home(key);
      const int held = m_slots[i];
      if ((held == key || held == -key) && m_slots[(i + 1) & m_mask] == 0) {
        m_slots[i] = 0;
        --m_count;
        return;
      }
      removeShifting(key);
    }
    /// Frees every slot.
    void clear();
    /// Frees every slot and gives the table back.
    void release();
    /// Moves the keys to the smallest table that holds them half full (none when there is no key).
    void shrink();
    /// Number of slots.
    std::size_t capacity() const { return m_slots ? m_mask + 1 : 0; }
    /// Bytes of heap storage held.
    std::size_t storageBytes() const { return capacity() * sizeof(int); }

  private:
    std::size_t home(int key) const {
      // Fibonacci hashing spreads runs and strides of consecutive keys alike.
      return static_cast<std::size_t>((static_cast<std::uint32_t>(key) * 2654435769u) >> (32 - m_bits));
    }
    void grow();
    void rehash(unsigned int bits);
    // remove() where later keys of the probe run may have to move back.
    void removeShifting(int key);

    std::unique_ptr<int[]> m_slots;
    std::size_t m_mask = 0;
    unsigned int m_bits = 0;
    std::size_t m_count = 0;
  };

  /// Entries as two parallel arrays, so that ordering reads the keys alone.
  struct Entries {
    std::vector<int> keys;
    std::vector<Id<Constraint> > handles;

    std::size_t size() const { return keys.size(); }
    void push(int key, const Id<Constraint>& constraint) {
      // Growing by half, not by doubling, keeps the room of a large agenda closer to its size.
      if (keys.size() == keys.capacity())
        reserve(keys.capacity() + keys.capacity() / 2 + 8);
      keys.push_back(key);
      handles.push_back(constraint);
    }
    void move(std::size_t to, std::size_t from) {
      keys[to] = keys[from];
      handles[to] = handles[from];
    }
    void resize(std::size_t size) {
      keys.resize(size);
      handles.resize(size);
    }
    std::size_t capacity() const { return keys.capacity(); }
    std::size_t storageBytes() const {
      return keys.capacity() * sizeof(int) + handles.capacity() * sizeof(Id<Constraint>);
    }
    void reserve(std::size_t capacity);
    // Empties, giving the storage back.
    void reset();
  };

  static constexpr std::size_t NONE = ~std::size_t(0);

  // The run entry holding key or -key, NONE when none.
  std::size_t findInRun(int key) const {
    std::size_t low = m_runHead, high = m_run.size();
    if (low == high)
      return NONE;
    // Most lookups are for the head: the next constraint along.
    const int head = m_run.keys[low];
    if (head == key || head == -key)
      return low;
    while (low < high) {
      const std::size_t middle = low + (high - low) / 2;
      const int heldKey = std::abs(m_run.keys[middle]);
      if (heldKey == key)
        return middle;
      if (heldKey < key)
        low = middle + 1;
      else
        high = middle;
    }
    return NONE;
  }
  // Queues again the withdrawn entry whose key sits in `held`; false when it is queued already.
  bool revive(int& held, int key) {
    if (held > 0)
      return false;
    held = key;
    ++m_queued;
    --m_withdrawn;
    return true;
  }
  // Whether the front is the run's head rather than the heap's.
  bool frontInRun() const {
    return m_runHead < m_run.size() && (m_heap.size() == 0 || m_run.keys[m_runHead] < m_heap.keys.front());
  }
  void pushHeap(int key, const Id<Constraint>& constraint) {
    m_heapKeys.add(key);
    m_heap.push(key, constraint);
    siftUp(m_heap.size() - 1);
  }
  void siftUp(std::size_t i);
  void siftDown(std::size_t i);
  // Removes the heap's first entry (its key stays in the table).
  void popHeap() {
    const std::size_t last = m_heap.size() - 1;
    if (last > 0)
      m_heap.move(0, last);
    m_heap.resize(last);
    if (last > 1)
      siftDown(0);
  }
  // After the run's head went: drops withdrawn entries that now lead it, and tidies the run.
  void settleRun() {
    if (m_runHead == m_run.size())
      runSpent();
    else if (m_run.keys[m_runHead] < 0 || (m_runHead > KEEP_ENTRIES && 2 * m_runHead > m_run.size()))
      tidyRun();
  }
  // After the heap's head went: drops withdrawn entries that now lead it.
  void settleHeap() {
    if (m_heap.size() == 0) {
      if (m_runHead == m_run.size())
        becomeEmpty();
    } else if (*m_heapKeys.find(m_heap.keys.front()) < 0) {
      tidyHeap();
    }
  }
  // The run has no entry left: the agenda is drained, or the run starts over behind the heap.
  void runSpent() {
    if (m_heap.size() == 0)
      becomeEmpty();
    else
      m_run.resize(m_runHead = 0);
  }
  // The slow parts of settleRun() and settleHeap().
  void tidyRun();
  void tidyHeap();
  // Withdrawn entries may not outgrow the queued ones: the rebuild costs what they took to make.
  void compactIfCrowded() {
    if (m_withdrawn > m_queued + KEEP_ENTRIES)
      compact();
  }
  // Forgets the entries gone from a drained agenda, giving large storage back.
  void becomeEmpty() {
    if (m_run.capacity() > KEEP_ENTRIES || m_heap.capacity() > KEEP_ENTRIES ||
        m_heapKeys.capacity() > KEEP_SLOTS)
      release();
    else
      m_run.resize(m_runHead = 0);
  }
  // Rebuilds both lanes from their queued entries alone.
  void compact();
  // Gives the storage back; the agenda holds no entry.
  void release();

  // An empty agenda keeps the storage of this many entries, so that steady small propagations
  // do not allocate; a larger one goes back to the heap.
  static constexpr std::size_t KEEP_ENTRIES = 64;
  // The key table of that many entries.
  static constexpr std::size_t KEEP_SLOTS = 128;

  Entries m_run;             // entries in increasing key order, from m_runHead on
  std::size_t m_runHead = 0; // the run's first entry; those before it are gone
  Entries m_heap;            // the other entries, a min-heap on their keys
  KeyTable m_heapKeys;       // the keys of the heap's entries
  std::size_t m_queued = 0;
  std::size_t m_withdrawn = 0;
};

} // namespace KALDEN

#endif
