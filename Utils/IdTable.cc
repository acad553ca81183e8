#include "Utils/IdTable.hh"

#include "Utils/Error.hh"

#include <cstdlib>
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
IdTable::Table IdTable::s_table = {IdTable::s_initialEntries, IdTable::INITIAL_CAPACITY - 1,
                                    (IdTable::INITIAL_CAPACITY - 1) * sizeof(IdTable::Entry), 10, 0, 1, 0};

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

void IdTable::grow(Table& t) {
  std::size_t oldCapacity = t.mask + 1;
  Entry* old = t.entries;
  std::size_t capacity = oldCapacity * 2;
  t.entries = new Entry[capacity]();
  t.mask = capacity - 1;
  t.byteMask = t.mask * sizeof(Entry);
  ++t.bits;
  for (std::size_t i = 0; i < oldCapacity; ++i) {
    if (old[i].address == 0)
      continue;
    std::size_t j = slot(t, old[i].address);
    while (t.entries[j].address != 0)
      j = (j + 1) & t.mask;
    t.entries[j] = old[i];
  }
  if (old != s_initialEntries)
    delete[] old;
}

unsigned long IdTable::insert(unsigned long address, const char* typeName) {
  Table& t = s_table;
  if (address == 0 || getKey(address) != 0)
    return 0;
  if (t.nextKey > MAX_KEY)
    raiseFailedCheck("nextKey <= MAX_KEY", "Utils/IdTable", __LINE__, "Handle keys are exhausted.");
  if (2 * (t.count + 1) > t.mask + 1)
    grow(t);
  const std::uint32_t type = typeIndex(typeName);
  std::size_t i = slot(t, address);
  while (t.entries[i].address != 0)
    i = (i + 1) & t.mask;
  t.entries[i] = Entry{address, static_cast<std::uint32_t>(t.nextKey++), type};
  ++t.count;
  return t.entries[i].key;
}

const char* IdTable::getType(unsigned long address) {
  Table& t = s_table;
  if (address == 0)
    return nullptr;
  std::size_t i = slot(t, address);
  while (t.entries[i].address != 0) {
    if (t.entries[i].address == address)
      return typeNames().names[t.entries[i].type];
    i = (i + 1) & t.mask;
  }
  return nullptr;
}

void IdTable::remove(unsigned long address) {
  Table& t = s_table;
  if (address == 0)
    return;
  std::size_t i = slot(t, address);
  while (t.entries[i].address != address) {
    if (t.entries[i].address == 0)
      return;
    i = (i + 1) & t.mask;
  }
  // Backward-shift deletion keeps every probe chain unbroken without tombstones.
  std::size_t hole = i;
  std::size_t j = i;
  while (true) {
    j = (j + 1) & t.mask;
    if (t.entries[j].address == 0)
      break;
    std::size_t home = slot(t, t.entries[j].address);
    // Move entry j into the hole unless its home lies cyclically in (hole, j].
    bool homeBetween = (hole <= j) ? (hole < home && home <= j) : (hole < home || home <= j);
    if (!homeBetween) {
      t.entries[hole] = t.entries[j];
      hole = j;
    }
  }
  t.entries[hole] = Entry{0, 0, 0};
  --t.count;
  ++t.removals;
}

} // namespace KALDEN
