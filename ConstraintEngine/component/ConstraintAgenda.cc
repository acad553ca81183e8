#include "ConstraintEngine/component/ConstraintAgenda.hh"

#include <utility>

namespace KALDEN {

ConstraintAgenda::~ConstraintAgenda() { clear(); }

bool ConstraintAgenda::erase(const Id<Constraint>& constraint) {
  unsigned char& mark = constraint->m_agendaMark;
  if (mark != QUEUED)
    return false;
  mark = WITHDRAWN;
  --m_queued;
  ++m_withdrawn;
  compactIfCrowded();
  return true;
}

bool ConstraintAgenda::forget(const Id<Constraint>& constraint) {
  unsigned char& mark = constraint->m_agendaMark;
  const bool queued = mark == QUEUED;
  if (mark == ABSENT)
    return false;
  if (queued)
    --m_queued;
  else
    --m_withdrawn;
  ++m_gone;
  mark = ABSENT;
  compactIfCrowded();
  return queued;
}

Id<Constraint> ConstraintAgenda::takeFront() {
  for (;;) {
    const Entry top = m_heap.front();
    pop();
    if (!top.handle.isValid()) {
      // Either taken off as it went, or deleted behind the agenda's back while queued.
      if (m_gone != 0) {
        --m_gone;
        continue;
      }
      --m_queued;
      compactIfCrowded();
      return top.handle;
    }
    unsigned char& mark = top.handle->m_agendaMark;
    if (mark == QUEUED) {
      mark = ABSENT;
      --m_queued;
      compactIfCrowded();
      return top.handle;
    }
    mark = ABSENT;
    --m_withdrawn;
  }
}

void ConstraintAgenda::clear() {
  for (const Entry& entry : m_heap)
    if (entry.handle.isValid())
      entry.handle->m_agendaMark = ABSENT;
  m_heap.clear();
  m_queued = 0;
  m_withdrawn = 0;
  m_gone = 0;
  if (m_heap.capacity() > KEEP_ENTRIES)
    std::vector<Entry>().swap(m_heap);
}

Id<Constraint> ConstraintAgenda::lowestUntold(int& key) const {
  std::size_t invalid = 0;
  const Entry* lowest = nullptr;
  for (const Entry& entry : m_heap)
    if (!entry.handle.isValid()) {
      ++invalid;
      if (lowest == nullptr || entry.key < lowest->key)
        lowest = &entry;
    }
  // Entries of constraints taken off as they went are stale too: only a surplus was never told.
  if (invalid <= m_gone)
    return Id<Constraint>();
  key = lowest->key;
  return lowest->handle;
}

void ConstraintAgenda::push(const Entry& entry) {
  // Networks mostly queue their constraints in key order: an entry above its parent stays put.
  std::size_t i = m_heap.size();
  m_heap.push_back(entry);
  while (i > 0) {
    const std::size_t parent = (i - 1) / 2;
    if (m_heap[parent].key < entry.key)
      break;
    m_heap[i] = m_heap[parent];
    i = parent;
  }
  m_heap[i] = entry;
}

void ConstraintAgenda::pop() {
  m_heap.front() = m_heap.back();
  m_heap.pop_back();
  if (m_heap.size() > 1)
    siftDown(0);
}

void ConstraintAgenda::siftDown(std::size_t i) {
  const std::size_t size = m_heap.size();
  const Entry entry = m_heap[i];
  for (;;) {
    std::size_t child = 2 * i + 1;
    if (child >= size)
      break;
    if (child + 1 < size && m_heap[child + 1].key < m_heap[child].key)
      ++child;
    if (entry.key < m_heap[child].key)
      break;
    m_heap[i] = m_heap[child];
    i = child;
  }
  m_heap[i] = entry;
}

void ConstraintAgenda::drain() {
  if (m_heap.size() > 0 || m_heap.capacity() > KEEP_ENTRIES)
    clear();
}

void ConstraintAgenda::compact() {
  std::vector<Entry> kept;
  kept.reserve(m_queued);
  for (const Entry& entry : m_heap) {
    if (!entry.handle.isValid())
      continue;
    unsigned char& mark = entry.handle->m_agendaMark;
    if (mark == QUEUED)
      kept.push_back(entry);
    else
      mark = ABSENT;
  }
  // Entries of constraints deleted behind the agenda's back go with the others.
  m_queued = kept.size();
  m_withdrawn = 0;
  m_gone = 0;
  m_heap.swap(kept);
  for (std::size_t i = m_heap.size() / 2; i-- > 0;)
    siftDown(i);
}

} // namespace KALDEN
