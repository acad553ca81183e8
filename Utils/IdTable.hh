#ifndef KALDEN_UTILS_IDTABLE_HH
#define KALDEN_UTILS_IDTABLE_HH

#include <cstddef>
#include <cstdint>

namespace KALDEN {

/**
 * The process-wide registry of live handles: maps an object's address to the
 * key its handle holds. Keys come from a counter and are never reused, so a
 * handle to a destroyed object stays detectably stale even when its address
 * is registered again. Every handle validity test asks getKey(), so lookups
 * are kept cheap: an open-addressing table of 16-byte slots whose slot for
 * an address follows the address, so that objects made together (a
 * constraint and its variables) are looked up in neighbouring memory; the
 * higher address bits are folded in so that distant regions do not pile up
 * on the same slots.
 */
class IdTable {
public:
  /// Registers an address; answers its new non-zero key, or 0 while the address is still registered.
  static unsigned long insert(unsigned long address, const char* typeName);

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

  /// The number of registrations dropped so far: a handle found valid stays valid while it stands.
  static unsigned long removals() { return s_table.removals; }

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
    unsigned long removals;
  };

  static constexpr std::size_t INITIAL_CAPACITY = 1024;
  // Constant-initialised, so lookups need no first-use test, and never destroyed: handles may
  // be tested while static objects are torn down.
  static Entry s_initialEntries[INITIAL_CAPACITY];
  static Table s_table;

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
  static std::uint32_t typeIndex(const char* typeName);
};

} // namespace KALDEN

#endif
