#include "ConstraintEngine/component/ConstraintAgenda.hh"

#include <algorithm>
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
  m_visited += m_heap.size();
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
  m_visited += m_heap.size();
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
  // one comparison a level, and the last entry rises from there, mostly not at all. The choice
  // of child is arithmetic rather than a branch, which the processor could not predict.
  std::size_t hole = 0;
  std::size_t child = 1;
  for (; child + 1 < size; child = 2 * hole + 1) {
    child += static_cast<std::size_t>(m_heap[child + 1].key < m_heap[child].key);
    m_heap[hole] = m_heap[child];
    hole = child;
  }
  if (child < size) {
    m_heap[hole] = m_heap[child];
    hole = child;
  }
  m_heap[hole] = last;
  siftUp(hole);
}

void ConstraintAgenda::compact() {
  m_visited += m_heap.size();
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
  // Sorted entries make a heap.
  std::sort(kept.begin(), kept.end(), [](const Entry& a, const Entry& b) { return a.key < b.key; });
  m_heap.swap(kept);
}

} // namespace KALDEN
