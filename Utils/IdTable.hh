#ifndef KALDEN_UTILS_IDTABLE_HH
#define KALDEN_UTILS_IDTABLE_HH

#include "Utils/KeyTable.hh"

#include <cstddef>
#include <cstdint>
#include <string>

namespace KALDEN {

/**
 * The process-wide registry of live handles: maps an object's address to the
 * key its handle holds. Keys come from a counter and are never reused, so a
 * handle to a destroyed object stays detectably stale even when its address
 * is registered again.
 *
 * A table indexed by key holds each live key's address: it answers the handle
 * validity test (holds()) with two loads. It comes in chunks of consecutive
 * keys; a chunk all of whose keys have been issued and removed again is
 * freed, so memory follows the live handles rather than every key issued.
 * The rarer lookups by address (getKey(), getType(), remove()) go through an
 * open-addressing table of keys whose slot follows the address, so that
 * objects made together are looked up in neighbouring memory; the higher
 * address bits are folded in so that distant regions do not pile up on the
 * same slots.
 */
class IdTable {
public:
  /// Registers an address; answers its new non-zero key, or 0 while the address is still registered.
  static unsigned long insert(unsigned long address, const char* typeName);

  /// Whether `key` is live and registered at `address`: a handle's validity test. `key` must have
  /// come from insert() (0 included), as every handle's key does.
  static bool holds(unsigned long key, unsigned long address) { return s_keys.at(key) == ~address; }

  /// The live key of an address, 0 if none.
  static unsigned long getKey(unsigned long address);

  /// The type name an address was registered under, null if none.
  static const char* getType(unsigned long address);

  /// Drops the registration of an address (nothing happens when there is none).
  static void remove(unsigned long address);

  /// The readable form of a type name as the type information gives it ("KALDEN::Constraint" for
  /// "N6KALDEN10ConstraintE"), for messages; the name itself when it cannot be demangled.
  static std::string readableTypeName(const char* typeName);

  /// Number of live registrations (for leak checks).
  static std::size_t size() { return s_table.count; }

private:
  // A slot of the table by address: key 0 marks a free slot.
  struct Entry {
    std::uint32_t key;  // keys never pass 2^32 - 1
    std::uint32_t type; // index into the type names
  };
  struct Table {
    Entry* entries;
    std::size_t mask;  // capacity - 1; capacity is a power of two
    unsigned int bits; // log2(capacity)
    std::size_t count;
    unsigned long nextKey;
  };
  // The table by key holds ~address for a live key, so that a never-used or freed word (0)
  // matches no address, null included.
  // Constant-initialised, so lookups need no first-use test, and never destroyed: handles may
  // be tested while static objects are torn down.
  static constexpr std::size_t INITIAL_CAPACITY = 1024;
  static constexpr std::size_t INITIAL_CHUNKS = 64;
  static Entry s_initialEntries[INITIAL_CAPACITY];
  static Table s_table;
  static unsigned long s_firstChunk[KeyTable::CHUNK];
  static unsigned long* s_initialChunks[INITIAL_CHUNKS];
  static std::uint32_t s_initialLiveCount[INITIAL_CHUNKS];
  static KeyTable s_keys;

  // The address a live key is registered at.
  static unsigned long addressOf(std::uint32_t key) { return ~s_keys.at(key); }
  static std::size_t slot(const Table& t, unsigned long address) {
    // Objects are at least 16 bytes apart: neighbouring objects take neighbouring slots.
    const unsigned long cell = address >> 4;
    return static_cast<std::size_t>(cell ^ (cell >> t.bits)) & t.mask;
  }
  // The slot of the table by address that holds the address, or the free slot where its probe ends.
  static std::size_t find(const Table& t, unsigned long address);
  static void grow(Table& t);
  static std::uint32_t typeIndex(const char* typeName);
};

} // namespace KALDEN

#endif
