#ifndef KALDEN_UTILS_IDTABLE_HH
#define KALDEN_UTILS_IDTABLE_HH

#include <cstddef>
#include <cstdint>

namespace KALDEN {

/**
 * The process-wide registry of live handles: maps an object's address to the
 * key its handle holds. Keys come from a counter and are never reused, so a
 * handle to a destroyed object stays detectably stale even when its address
 * is registered again. Every handle validity test asks getKey(): it is an
 * open-addressing table so that lookups cost a hash and a probe or two.
 */
class IdTable {
public:
  /// Registers an address; answers its new non-zero key, or 0 while the address is still registered.
  static unsigned long insert(unsigned long address, const char* typeName);

  /// The live key of an address, 0 if none.
  static unsigned long getKey(unsigned long address) {
    const Table& t = table();
    if (address == 0)
      return 0;
    std::size_t i = slot(t, address);
    while (true) {
      const Entry& e = t.entries[i];
      if (e.address == address)
        return e.key;
      if (e.address == 0)
        return 0;
      i = (i + 1) & t.mask;
    }
  }

  /// The type name an address was registered under, null if none.
  static const char* getType(unsigned long address);

  /// Drops the registration of an address (nothing happens when there is none).
  static void remove(unsigned long address);

  /// Number of live registrations (for leak checks).
  static std::size_t size() { return table().count; }

private:
  struct Entry {
    unsigned long address;
    unsigned long key;
    const char* type;
  };
  struct Table {
    Entry* entries;
    std::size_t mask;  // capacity - 1; capacity is a power of two
    std::size_t count;
    unsigned long nextKey;
  };

  static Table& table() {
    static Table* sl_table = create();
    return *sl_table;
  }
  static Table* create();
  static std::size_t slot(const Table& t, unsigned long address) {
    // Objects are at least 8-byte aligned: drop the constant low bits before mixing.
    std::uint64_t h = static_cast<std::uint64_t>(address >> 3) * 0x9E3779B97F4A7C15ULL;
    return static_cast<std::size_t>(h >> 32) & t.mask;
  }
  static void grow(Table& t);
};

} // namespace KALDEN

#endif
