#ifndef KALDEN_UTILS_KEYTABLE_HH
#define KALDEN_UTILS_KEYTABLE_HH

#include <cstddef>
#include <cstdint>

namespace KALDEN {

/**
 * A table indexed by key, for keys issued from a counter in increasing order
 * and never reused: each key's word lives at a fixed place, so a lookup is two
 * loads. It comes in chunks of consecutive keys; a chunk all of whose keys
 * have been issued and dropped again is freed (replaced by a shared chunk of
 * zeros), so memory follows the live keys rather than every key issued.
 *
 * It is constant-initialised over storage its owner provides for the first
 * chunk and the chunk directory, so that it works before and after static
 * construction and lookups need no first-use test. A word of 0 means "none".
 */
class KeyTable {
public:
  static constexpr unsigned int CHUNK_BITS = 10;
  static constexpr unsigned long CHUNK = 1UL << CHUNK_BITS;
  static constexpr unsigned long CHUNK_MASK = CHUNK - 1;

  /// A table whose first chunk and first `capacity` directory entries are the given static arrays.
  constexpr KeyTable(unsigned long* firstChunk, unsigned long** chunks, std::uint32_t* liveCount, std::size_t capacity)
      : m_first(firstChunk), m_chunks(chunks), m_liveCount(liveCount), m_capacity(capacity), m_initialChunks(chunks) {}
  KeyTable(const KeyTable&) = delete;
  KeyTable& operator=(const KeyTable&) = delete;

  /// The word of `key`, which must be below the next key to issue (0 for a key never set or dropped).
  unsigned long at(unsigned long key) const { return m_chunks[key >> CHUNK_BITS][key & CHUNK_MASK]; }

  /// Makes room for `key`, the next key to issue; may allocate (and throw), changing nothing seen.
  void reserve(unsigned long key) {
    if ((key & CHUNK_MASK) == 0 && (key >> CHUNK_BITS) != 0)
      addChunk(key);
  }
  /// Sets the non-zero word of a newly issued key, room for which reserve() has made.
  void set(unsigned long key, unsigned long word) {
    m_chunks[key >> CHUNK_BITS][key & CHUNK_MASK] = word;
    ++m_liveCount[key >> CHUNK_BITS];
  }
  /// Clears a set key; `nextKey` is the next key to issue (a chunk wholly below it is never set again).
  void drop(unsigned long key, unsigned long nextKey);

private:
  void addChunk(unsigned long key);
  void release(std::size_t chunk);

  static unsigned long s_spentChunk[CHUNK]; // all zeros, shared by every freed chunk

  unsigned long* m_first;
  unsigned long** m_chunks;        // one per CHUNK keys up to the next key to issue
  std::uint32_t* m_liveCount;      // set keys per chunk
  std::size_t m_capacity;          // entries of m_chunks and m_liveCount
  unsigned long** m_initialChunks; // the owner's static directory, never freed
};

} // namespace KALDEN

#endif
