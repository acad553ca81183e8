#include "Utils/IdTable.hh"

#include "Utils/Error.hh"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

namespace KALDEN {

namespace {

const unsigned long MAX_KEY = 0xFFFFFFFFUL; // keys fit the handle's 32-bit key field

// The type names handles registered under; a slot keeps the index only.
struct TypeNames {
  std::vector<const char*> names;
  std::unordered_map<const char*, std::uint32_t> indices;
};

TypeNames& typeNames() {
  static TypeNames* sl_names = new TypeNames; // never destroyed, like the table
  return *sl_names;
}

} // namespace

IdTable::Entry IdTable::s_initialEntries[IdTable::INITIAL_CAPACITY] = {};
IdTable::Table IdTable::s_table = {IdTable::s_initialEntries, IdTable::INITIAL_CAPACITY - 1, 10, 0, 1};
unsigned long IdTable::s_firstChunk[KeyTable::CHUNK] = {};
unsigned long* IdTable::s_initialChunks[IdTable::INITIAL_CHUNKS] = {IdTable::s_firstChunk};
std::uint32_t IdTable::s_initialLiveCount[IdTable::INITIAL_CHUNKS] = {};
KeyTable IdTable::s_keys(IdTable::s_firstChunk, IdTable::s_initialChunks, IdTable::s_initialLiveCount,
                         IdTable::INITIAL_CHUNKS);

std::uint32_t IdTable::typeIndex(const char* typeName) {
  TypeNames& t = typeNames();
  auto it = t.indices.find(typeName);
  if (it != t.indices.end())
    return it->second;
  const std::uint32_t index = static_cast<std::uint32_t>(t.names.size());
  t.names.push_back(typeName);
  t.indices.emplace(typeName, index);
  return index;
}

std::string IdTable::readableTypeName(const char* typeName) {
  int status = 0;
  const std::unique_ptr<char, void (*)(void*)> readable(abi::__cxa_demangle(typeName, nullptr, nullptr, &status),
                                                        std::free);
  return status == 0 && readable ? std::string(readable.get()) : std::string(typeName);
}

std::size_t IdTable::find(const Table& t, unsigned long address) {
  std::size_t i = slot(t, address);
  while (t.entries[i].key != 0 && addressOf(t.entries[i].key) != address)
    i = (i + 1) & t.mask;
  return i;
}

void IdTable::grow(Table& t) {
  std::size_t oldCapacity = t.mask + 1;
  Entry* old = t.entries;
  std::size_t capacity = oldCapacity * 2;
  t.entries = new Entry[capacity]();
  t.mask = capacity - 1;
  ++t.bits;
  for (std::size_t i = 0; i < oldCapacity; ++i) {
    if (old[i].key == 0)
      continue;
    std::size_t j = slot(t, addressOf(old[i].key));
    while (t.entries[j].key != 0)
      j = (j + 1) & t.mask;
    t.entries[j] = old[i];
  }
  if (old != s_initialEntries)
    delete[] old;
}

unsigned long IdTable::insert(unsigned long address, const char* typeName) {
  Table& t = s_table;
  if (address == 0)
    return 0;
  // Everything that may allocate comes first: a failure leaves the registrations as they were.
  if (2 * (t.count + 1) > t.mask + 1)
    grow(t);
  const std::size_t i = find(t, address);
  if (t.entries[i].key != 0)
    return 0;
  if (t.nextKey > MAX_KEY) {
    raiseFailedCheck("nextKey <= MAX_KEY", "Utils/IdTable", __LINE__, "Handle keys are exhausted.");
    return 0; // the failure could only print (inside a destructor): register nothing
  }
  const std::uint32_t type = typeIndex(typeName);
  const unsigned long key = t.nextKey;
  s_keys.reserve(key);
  ++t.nextKey;
  s_keys.set(key, ~address);
  t.entries[i] = Entry{static_cast<std::uint32_t>(key), type};
  ++t.count;
  return key;
}

unsigned long IdTable::getKey(unsigned long address) {
  // Address 0 needs no test of its own: it is never registered, so its probe ends on a free slot.
  const Table& t = s_table;
  return t.entries[find(t, address)].key;
}

const char* IdTable::getType(unsigned long address) {
  const Table& t = s_table;
  const Entry& e = t.entries[find(t, address)];
  return e.key == 0 ? nullptr : typeNames().names[e.type];
}

void IdTable::remove(unsigned long address) {
  Table& t = s_table;
  const std::size_t i = find(t, address);
  if (t.entries[i].key == 0)
    return;
  s_keys.drop(t.entries[i].key, t.nextKey);
  // Backward-shift deletion keeps every probe chain unbroken without tombstones.
  std::size_t hole = i;
  std::size_t j = i;
  while (true) {
    j = (j + 1) & t.mask;
    if (t.entries[j].key == 0)
      break;
    std::size_t home = slot(t, addressOf(t.entries[j].key));
    // Move entry j into the hole unless its home lies cyclically in (hole, j].
    bool homeBetween = (hole <= j) ? (hole < home && home <= j) : (hole < home || home <= j);
    if (!homeBetween) {
      t.entries[hole] = t.entries[j];
      hole = j;
    }
  }
  t.entries[hole] = Entry{0, 0};
  --t.count;
}

} // namespace KALDEN
