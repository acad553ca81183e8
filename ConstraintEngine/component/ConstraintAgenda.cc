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
  settle();
  return true;
}

bool ConstraintAgenda::forget(const Id<Constraint>& constraint) {
  unsigned char& mark = constraint->m_agendaMark;
  const bool queued = mark == QUEUED;
  if (mark == ABSENT || mark == GONE)
    return false;
  if (queued)
    --m_queued;
  else
    --m_withdrawn;
  ++m_gone;
  mark = GONE;
  settle();
  return queued;
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

Id<Constraint> ConstraintAgenda::lowestUnsound() const {
  std::size_t deleted = 0;
  const Entry* lowestDeleted = nullptr;
  const Entry* lowestDiscarded = nullptr;
  for (const Entry& entry : m_heap) {
    if (!entry.handle.isValid()) {
      ++deleted;
      if (lowestDeleted == nullptr || entry.key < lowestDeleted->key)
        lowestDeleted = &entry;
    } else if (entry.handle->m_agendaMark == QUEUED && entry.handle->isDiscarded() &&
               (lowestDiscarded == nullptr || entry.key < lowestDiscarded->key)) {
      lowestDiscarded = &entry;
    }
  }
  // Constraints taken off as they went leave deleted entries too: only a surplus was queued.
  if (deleted <= m_gone)
    lowestDeleted = nullptr;
  const Entry* lowest = lowestDeleted;
  if (lowest == nullptr || (lowestDiscarded != nullptr && lowestDiscarded->key < lowest->key))
    lowest = lowestDiscarded;
  return lowest == nullptr ? Id<Constraint>() : lowest->handle;
}

void ConstraintAgenda::siftUp(std::size_t i) {
  const Entry entry = m_heap[i];
  while (i > 0) {
    const std::size_t parent = (i - 1) / 2;
    if (m_heap[parent].key < entry.key)
      break;
    m_heap[i] = m_heap[parent];
    i = parent;
  }
  m_heap[i] = entry;
}

void ConstraintAgenda::replaceTop() {
  const Entry last = m_heap.back();
  m_heap.pop_back();
  const std::size_t size = m_heap.size();
  // The last entry is among the highest: the hole goes down to a leaf along the lower children,
  // one comparison a level, and the last entry rises from there, mostly not at all.
  std::size_t hole = 0;
  for (std::size_t child = 1; child < size; child = 2 * hole + 1) {
    if (child + 1 < size && m_heap[child + 1].key < m_heap[child].key)
      ++child;
    m_heap[hole] = m_heap[child];
    hole = child;
  }
  m_heap[hole] = last;
  siftUp(hole);
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
