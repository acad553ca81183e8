#include "ConstraintEngine/component/ConstraintAgenda.hh"

#include <utility>

namespace KALDEN {

bool ConstraintAgenda::erase(int key) {
  if (m_queued == 0)
    return false;
  if (m_heap.size() != 0) {
    int* slot = m_heapKeys.find(key);
    if (slot != nullptr) {
      if (*slot < 0)
        return false;
      --m_queued;
      if (m_heap.keys.front() == key) {
        m_heapKeys.remove(key);
        popHeap();
        settleHeap();
      } else {
        *slot = -key;
        ++m_withdrawn;
        compactIfCrowded();
      }
      return true;
    }
  }
  const std::size_t at = findInRun(key);
  if (at == NONE || m_run.keys[at] < 0)
    return false;
  --m_queued;
  if (at == m_runHead) {
    ++m_runHead;
    settleRun();
  } else {
    m_run.keys[at] = -key;
    ++m_withdrawn;
    compactIfCrowded();
  }
  return true;
}

void ConstraintAgenda::clear() {
  m_run.resize(0);
  m_runHead = 0;
  m_heap.resize(0);
  m_heapKeys.clear();
  m_queued = 0;
  m_withdrawn = 0;
  becomeEmpty();
}

void ConstraintAgenda::siftUp(std::size_t i) {
  const int key = m_heap.keys[i];
  if (i == 0 || m_heap.keys[(i - 1) / 2] < key)
    return;
  const Id<Constraint> constraint = m_heap.handles[i];
  while (i > 0) {
    const std::size_t parent = (i - 1) / 2;
    if (m_heap.keys[parent] < key)
      break;
    m_heap.move(i, parent);
    i = parent;
  }
  m_heap.keys[i] = key;
  m_heap.handles[i] = constraint;
}

void ConstraintAgenda::siftDown(std::size_t i) {
  const std::size_t size = m_heap.size();
  const int key = m_heap.keys[i];
  const Id<Constraint> constraint = m_heap.handles[i];
  for (;;) {
    std::size_t child = 2 * i + 1;
    if (child >= size)
      break;
    if (child + 1 < size && m_heap.keys[child + 1] < m_heap.keys[child])
      ++child;
    if (key < m_heap.keys[child])
      break;
    m_heap.move(i, child);
    i = child;
  }
  m_heap.keys[i] = key;
  m_heap.handles[i] = constraint;
}

void ConstraintAgenda::tidyRun() {
  while (m_runHead < m_run.size() && m_run.keys[m_runHead] < 0) {
    ++m_runHead;
    --m_withdrawn;
  }
  if (m_runHead == m_run.size()) {
    runSpent();
    return;
  }
  // The run's spent entries go once they are half of it, which costs what taking them did.
  if (m_runHead > KEEP_ENTRIES && 2 * m_runHead > m_run.size()) {
    const std::size_t left = m_run.size() - m_runHead;
    for (std::size_t i = 0; i < left; ++i)
      m_run.move(i, m_runHead + i);
    m_run.resize(left);
    m_runHead = 0;
  }
}

void ConstraintAgenda::tidyHeap() {
  while (m_heap.size() != 0 && *m_heapKeys.find(m_heap.keys.front()) < 0) {
    m_heapKeys.remove(m_heap.keys.front());
    popHeap();
    --m_withdrawn;
  }
  if (m_heap.size() == 0 && m_runHead == m_run.size())
    becomeEmpty();
}

void ConstraintAgenda::compact() {
  std::size_t kept = 0;
  for (std::size_t i = m_runHead; i < m_run.size(); ++i)
    if (m_run.keys[i] > 0)
      m_run.move(kept++, i);
  m_run.resize(kept);
  m_runHead = 0;
  kept = 0;
  for (std::size_t i = 0; i < m_heap.size(); ++i) {
    const int key = m_heap.keys[i];
    if (*m_heapKeys.find(key) > 0)
      m_heap.move(kept++, i);
    else
      m_heapKeys.remove(key);
  }
  m_heap.resize(kept);
  for (std::size_t i = kept / 2; i-- > 0;)
    siftDown(i);
  m_withdrawn = 0;
  m_run.keys.shrink_to_fit();
  m_run.handles.shrink_to_fit();
  m_heap.keys.shrink_to_fit();
  m_heap.handles.shrink_to_fit();
  m_heapKeys.shrink();
}

void ConstraintAgenda::release() {
  m_run.reset();
  m_runHead = 0;
  m_heap.reset();
  m_heapKeys.release();
  m_withdrawn = 0;
}

void ConstraintAgenda::Entries::reserve(std::size_t capacity) {
  keys.reserve(capacity);
  handles.reserve(capacity);
}

void ConstraintAgenda::Entries::reset() {
  std::vector<int>().swap(keys);
  std::vector<Id<Constraint> >().swap(handles);
}

void ConstraintAgenda::KeyTable::removeShifting(int key) {
  std::size_t i = home(key);
  while (m_slots[i] != key && m_slots[i] != -key)
    i = (i + 1) & m_mask;
  // Backward shift: every later key of the probe run that may move into the hole does.
  std::size_t hole = i;
  for (std::size_t j = (i + 1) & m_mask; m_slots[j] != 0; j = (j + 1) & m_mask) {
    const int held = m_slots[j];
    const std::size_t h = home(held < 0 ? -held : held);
    // The key at j stays unless its home lies cyclically outside (hole, j].
    const bool stays = hole <= j ? (hole < h && h <= j) : (hole < h || h <= j);
    if (!stays) {
      m_slots[hole] = held;
      hole = j;
    }
  }
  m_slots[hole] = 0;
  --m_count;
}

void ConstraintAgenda::KeyTable::clear() {
  for (std::size_t i = 0; i < capacity(); ++i)
    m_slots[i] = 0;
  m_count = 0;
}

void ConstraintAgenda::KeyTable::release() {
  m_slots.reset();
  m_mask = 0;
  m_bits = 0;
  m_count = 0;
}

void ConstraintAgenda::KeyTable::grow() { rehash(capacity() == 0 ? 4 : m_bits + 1); }

void ConstraintAgenda::KeyTable::shrink() {
  if (m_count == 0) {
    release();
    return;
  }
  unsigned int bits = 4;
  while (2 * m_count > (std::size_t(1) << bits))
    ++bits;
  if (bits < m_bits)
    rehash(bits);
}

void ConstraintAgenda::KeyTable::rehash(unsigned int bits) {
  const std::size_t oldCapacity = capacity();
  std::unique_ptr<int[]> old = std::move(m_slots);
  m_bits = bits;
  m_mask = (std::size_t(1) << m_bits) - 1;
  m_slots.reset(new int[m_mask + 1]());
  for (std::size_t i = 0; i < oldCapacity; ++i) {
    const int held = old[i];
    if (held == 0)
      continue;
    std::size_t j = home(held < 0 ? -held : held);
    while (m_slots[j] != 0)
      j = (j + 1) & m_mask;
    m_slots[j] = held;
  }
}

} // namespace KALDEN
