#include "Utils/KeyTable.hh"

namespace KALDEN {

unsigned long KeyTable::s_spentChunk[KeyTable::CHUNK] = {};

void KeyTable::release(std::size_t chunk) {
  if (m_chunks[chunk] != m_first && m_chunks[chunk] != s_spentChunk)
    delete[] m_chunks[chunk];
  m_chunks[chunk] = s_spentChunk;
}

void KeyTable::addChunk(unsigned long key) {
  const std::size_t c = key >> CHUNK_BITS;
  if (c >= m_capacity) {
    const std::size_t capacity = 2 * m_capacity;
    unsigned long** chunks = new unsigned long*[capacity]();
    std::uint32_t* liveCount = nullptr;
    try {
      liveCount = new std::uint32_t[capacity]();
    } catch (...) {
      delete[] chunks;
      throw;
    }
    for (std::size_t i = 0; i < m_capacity; ++i) {
      chunks[i] = m_chunks[i];
      liveCount[i] = m_liveCount[i];
    }
    if (m_chunks != m_initialChunks) {
      delete[] m_chunks;
      delete[] m_liveCount;
    }
    m_chunks = chunks;
    m_liveCount = liveCount;
    m_capacity = capacity;
  }
  if (m_chunks[c] == nullptr)
    m_chunks[c] = new unsigned long[CHUNK]();
  // The previous chunk is spent now; if nothing in it is set, nothing ever will be again.
  if (m_liveCount[c - 1] == 0)
    release(c - 1);
}

void KeyTable::drop(unsigned long key, unsigned long nextKey) {
  const std::size_t c = key >> CHUNK_BITS;
  m_chunks[c][key & CHUNK_MASK] = 0;
  if (--m_liveCount[c] == 0 && ((c + 1) << CHUNK_BITS) <= nextKey)
    release(c);
}

} // namespace KALDEN
