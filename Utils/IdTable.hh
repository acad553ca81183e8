#ifndef KALDEN_UTILS_IDTABLE_HH
#define KALDEN_UTILS_IDTABLE_HH

#include <cstddef>
#include <cstdint>

namespace KALDEN {

/**
 * The process-wide registry of live handles: maps an object's address to the
 * key its handle holds. Keys come from a counter and are never reused, so a
 * handle to a destroyed object stays detectably stale even when its address
 * is registered again.
 *
 * Two views of the same registrations: a table indexed by key answers the
 * handle validity test (holds()) with two loads, and an open-addressing table
 * by address serves the rarer lookups by address (getKey(), getType(),
 * remove()). The key table comes in chunks of consecutive keys; a chunk all
 * of whose keys have been handed out and removed again is freed, so memory
 * follows the live handles rather than every key ever issued.
 */
class IdTable {
public:
  /// Registers an address; answers its new non-zero key, or 0 while the address is still registered.
  static unsigned long insert(unsigned long address, const char* typeName);

  /// Whether `key` is live and registered at `address`: a handle's validity test. `key` must have
  /// come from insert() (0 included), as every handle's key does.
  static bool holds(unsigned long key, unsigned long address) {
    // Slots hold the complement of the address, so the zeros of a never-used or freed slot match
    // no object's address, null included.
    return s_keys.chunks[key >> CHUNK_BITS][key & CHUNK_MASK] == ~address;
  }

  /// The live key of an address, 0 if none.
  static unsigned long getKey(unsigned long address) {
    // Walks byte offsets, which spares the scaling of a slot index on every probe. Address 0
    // needs no test of its own: it meets a free slot, whose key is 0.
    const Table& t = s_table;
    const char* const base = reinterpret_cast<const char*>(t.entries);
    std::size_t at = byteSlot(t, address);
    while (true) {
      const Entry& e = *reinterpret_cast<const Entry*>(base + at);
      if (e.address == address)
        return e.key;
      if (e.address == 0)
        return 0;
      at = (at + sizeof(Entry)) & t.byteMask;
    }
  }

  /// The type name an address was registered under, null if none.
  static const char* getType(unsigned long address);

  /// Drops the registration of an address (nothing happens when there is none).
  static void remove(unsigned long address);

  /// Number of live registrations (for leak checks).
  static std::size_t size() { return s_table.count; }

private:
  struct Entry {
    unsigned long address;
    std::uint32_t key;  // keys never pass 2^32 - 1
    std::uint32_t type; // index into the type names
  };
  static_assert(sizeof(Entry) == 16, "slots are 16 bytes: a slot's byte offset is its index times 16");
  struct Table {
    Entry* entries;
    std::size_t mask;  // capacity - 1; capacity is a power of two
    std::size_t byteMask; // mask * sizeof(Entry): masks a byte offset into the entries
    unsigned int bits; // log2(capacity)
    std::size_t count;
    unsigned long nextKey;
  };
  // The key table: chunks[k >> CHUNK_BITS][k & CHUNK_MASK] is ~address for a live key k, 0 otherwise.
  struct Keys {
    unsigned long** chunks;   // one per CHUNK keys up to the next key to issue; spent ones point at s_spentChunk
    std::uint32_t* liveCount; // live keys per chunk
    std::size_t capacity;     // entries of chunks and liveCount
  };
  static constexpr unsigned int CHUNK_BITS = 10;
  static constexpr unsigned long CHUNK = 1UL << CHUNK_BITS;
  static constexpr unsigned long CHUNK_MASK = CHUNK - 1;

  static constexpr std::size_t INITIAL_CAPACITY = 1024;
  // Constant-initialised, so lookups need no first-use test, and never destroyed: handles may
  // be tested while static objects are torn down.
  static Entry s_initialEntries[INITIAL_CAPACITY];
  static Table s_table;
  static constexpr std::size_t INITIAL_CHUNKS = 64;
  static unsigned long s_firstChunk[CHUNK];
  static unsigned long s_spentChunk[CHUNK]; // all zeros: matches no address
  static unsigned long* s_initialChunks[INITIAL_CHUNKS];
  static std::uint32_t s_initialLiveCount[INITIAL_CHUNKS];
  static Keys s_keys;

  static std::size_t slot(const Table& t, unsigned long address) {
    // Objects are at least 16 bytes apart: neighbouring objects take neighbouring slots.
    const unsigned long cell = address >> 4;
    return static_cast<std::size_t>(cell ^ (cell >> t.bits)) & t.mask;
  }
  // slot() * sizeof(Entry), computed without the shifts: the same bits of the address, folded alike.
  static std::size_t byteSlot(const Table& t, unsigned long address) {
    return static_cast<std::size_t>(address ^ (address >> t.bits)) & t.byteMask;
  }
  static void grow(Table& t);
  static void addChunk(unsigned long key);
  static void dropKey(unsigned long key);
  static std::uint32_t typeIndex(const char* typeName);
};

} // namespace KALDEN

#endif
