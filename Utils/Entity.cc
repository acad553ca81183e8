#include "Utils/Entity.hh"

#include "Utils/Error.hh"
#include "Utils/KeyTable.hh"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <functional>
#include <new>
#include <unordered_map>
#include <string>
#include <utility>
#include <vector>

namespace KALDEN {

namespace {

// The entities by the address of their Entity part: an open-addressing table of bare pointers,
// so an entry costs a slot rather than a heap node. It keeps at most three quarters of its slots
// in use and never shrinks. An entity's slot follows its address, like the handle registry's, so
// that entities made together are entered and removed in neighbouring memory.
class AddressSet {
public:
  AddressSet() : m_slots(nullptr), m_mask(0), m_bits(0), m_count(0) {}
  ~AddressSet() { delete[] m_slots; }
  AddressSet(const AddressSet&) = delete;
  AddressSet& operator=(const AddressSet&) = delete;

  // The entity whose Entity part is at `address`, nullptr when none.
  Entity* find(std::uintptr_t address) const {
    if (m_slots == nullptr)
      return nullptr;
    for (std::size_t i = slot(address); m_slots[i] != nullptr; i = (i + 1) & m_mask)
      if (addressOf(m_slots[i]) == address)
        return m_slots[i];
    return nullptr;
  }

  // Makes room for one more entry, so that the next insert() allocates nothing.
  void reserveOne() {
    if (m_slots == nullptr || 4 * (m_count + 1) > 3 * (m_mask + 1))
      grow();
  }

  // Adds an entity not yet in the set, room for which reserveOne() has made.
  void insert(Entity* entity) {
    std::size_t i = slot(addressOf(entity));
    while (m_slots[i] != nullptr)
      i = (i + 1) & m_mask;
    m_slots[i] = entity;
    ++m_count;
  }

  // Removes the entity if it is in the set.
  void erase(Entity* entity) {
    if (m_slots == nullptr)
      return;
    std::size_t i = slot(addressOf(entity));
    while (m_slots[i] != entity) {
      if (m_slots[i] == nullptr)
        return;
      i = (i + 1) & m_mask;
    }
    // Backward-shift deletion keeps every probe chain unbroken without tombstones.
    std::size_t hole = i;
    std::size_t j = i;
    while (true) {
      j = (j + 1) & m_mask;
      if (m_slots[j] == nullptr)
        break;
      const std::size_t home = slot(addressOf(m_slots[j]));
      // Move entry j into the hole unless its home lies cyclically in (hole, j].
      const bool homeBetween = (hole <= j) ? (hole < home && home <= j) : (hole < home || home <= j);
      if (!homeBetween) {
        m_slots[hole] = m_slots[j];
        hole = j;
      }
    }
    m_slots[hole] = nullptr;
    --m_count;
  }

private:
  static std::uintptr_t addressOf(const Entity* entity) { return reinterpret_cast<std::uintptr_t>(entity); }
  std::size_t slot(std::uintptr_t address) const {
    // Entities are at least 16 bytes apart; the higher bits are folded in so that distant
    // regions do not pile up on the same slots.
    const std::uintptr_t cell = address >> 4;
    return static_cast<std::size_t>(cell ^ (cell >> m_bits)) & m_mask;
  }

  void grow() {
    const std::size_t oldCapacity = m_slots == nullptr ? 0 : m_mask + 1;
    Entity** old = m_slots;
    const unsigned int bits = oldCapacity == 0 ? 6 : m_bits + 1;
    m_slots = new Entity*[std::size_t(1) << bits]();
    m_bits = bits;
    m_mask = (std::size_t(1) << bits) - 1;
    m_count = 0;
    for (std::size_t k = 0; k < oldCapacity; ++k)
      if (old[k] != nullptr)
        insert(old[k]);
    delete[] old;
  }

  Entity** m_slots;
  std::size_t m_mask;  // capacity - 1; capacity is a power of two
  unsigned int m_bits; // log2(capacity)
  std::size_t m_count;
};

struct EntityTables {
  AddressSet byAddress;
  // Blocks handed out by Entity::operator new whose entity is not built yet (normally one; more
  // when building an entity's arguments makes others). The entity built in a block takes it.
  std::vector<std::pair<void*, std::size_t> > pendingBlocks;
  // Keys of discarded heap objects, a min-heap so that they are collected in key order. A pooled
  // object its owner deletes first leaves its key behind: the key is never reused, so the lookup
  // by key then finds nothing.
  std::vector<int> pool;
  // The few entities' external entities: a field in every entity would cost more.
  std::unordered_map<const Entity*, const PSEntity*> externals;
};

EntityTables& tables() {
  static EntityTables* sl_tables = new EntityTables; // never destroyed: entities may outlive static objects
  return *sl_tables;
}

// Entities by key; constant-initialised, like the counters, so that it works at any time.
constexpr std::size_t INITIAL_CHUNKS = 64;
unsigned long g_firstChunk[KeyTable::CHUNK] = {};
unsigned long* g_initialChunks[INITIAL_CHUNKS] = {g_firstChunk};
std::uint32_t g_initialLiveCount[INITIAL_CHUNKS] = {};
KeyTable g_byKey(g_firstChunk, g_initialChunks, g_initialLiveCount, INITIAL_CHUNKS);
int g_nextKey = 1;
std::size_t g_liveCount = 0;
std::size_t g_pooledCount = 0;

// The entity with a key, nullptr when none.
Entity* entityWithKey(int key) {
  if (key <= 0 || key >= g_nextKey)
    return nullptr;
  return reinterpret_cast<Entity*>(g_byKey.at(static_cast<unsigned long>(key)));
}

} // namespace

int Entity::nextKey() { return g_nextKey; }

Entity::Entity() : m_key(0), m_refCount(1), m_discarded(false), m_pooled(false), m_heap(false) {
  EntityTables& t = tables();
  // A whole heap object of our own: its Entity part is built first of all its entities, inside
  // the block operator new has just handed out. Members held by value find the block taken.
  const char* self = reinterpret_cast<const char*>(this);
  for (auto it = t.pendingBlocks.rbegin(); it != t.pendingBlocks.rend(); ++it) {
    const char* block = static_cast<const char*>(it->first);
    if (block <= self && self < block + it->second) {
      m_heap = true;
      t.pendingBlocks.erase(std::next(it).base());
      break;
    }
  }
  if (g_nextKey == INT_MAX) {
    raiseFailedCheck("nextKey < INT_MAX", "Utils/Entity", __LINE__, "Entity keys are exhausted.");
    return; // the failure could only print (inside a destructor): the entity keeps key 0, in no table
  }
  // Both tables make room first: an allocation failure then leaves neither holding this entity.
  g_byKey.reserve(static_cast<unsigned long>(g_nextKey));
  t.byAddress.reserveOne();
  m_key = g_nextKey++;
  g_byKey.set(static_cast<unsigned long>(m_key), reinterpret_cast<std::uintptr_t>(this));
  t.byAddress.insert(this);
  ++g_liveCount;
}

Entity::~Entity() {
  EntityTables& t = tables();
  if (m_key != 0) {
    g_byKey.drop(static_cast<unsigned long>(m_key), static_cast<unsigned long>(g_nextKey));
    --g_liveCount;
    t.byAddress.erase(this);
  }
  // Nothing pooled any more: the keys left in the pool belong to objects already gone.
  if (m_pooled && --g_pooledCount == 0)
    t.pool.clear();
  // A later entity at this address must not inherit the external entity.
  if (!t.externals.empty())
    t.externals.erase(this);
}

const std::string& Entity::getEntityName() const { return getName().toString(); }

const std::string& Entity::getEntityType() const {
  static const std::string* const sl_type = new std::string("Entity");
  return *sl_type;
}

std::string Entity::toString() const { return getEntityName() + "(" + std::to_string(m_key) + ")"; }

std::string Entity::toLongString() const { return toString(); }

void Entity::setExternalPSEntity(const PSEntity* externalEntity) {
  EntityTables& t = tables();
  if (externalEntity == nullptr)
    t.externals.erase(this);
  else
    t.externals[this] = externalEntity;
}

void Entity::clearExternalPSEntity() { tables().externals.erase(this); }

const PSEntity* Entity::getExternalPSEntity() const {
  const EntityTables& t = tables();
  if (t.externals.empty())
    return nullptr;
  const auto it = t.externals.find(this);
  return it == t.externals.end() ? nullptr : it->second;
}

const LabelStr& Entity::entityTypeName() {
  static const LabelStr sl_type("Entity");
  return sl_type;
}

const LabelStr& Entity::entityType() const { return entityTypeName(); }

const LabelStr& Entity::getName() const {
  static const LabelStr sl_noName("NO_NAME");
  return sl_noName;
}

bool Entity::canBeCompared(const Id<Entity>&) const { return true; }

void Entity::handleDiscard() {}

void Entity::notifyDiscarded(const Entity*) {}

bool Entity::refusesDeletion() const { return false; }

namespace {

// Brackets one call of a CallCounter, however it ends.
class OwnCall {
public:
  explicit OwnCall(CallCounter* counter) : m_counter(counter) {
    if (m_counter != nullptr)
      m_counter->enterOwnCall();
  }
  ~OwnCall() noexcept(false) {
    if (m_counter != nullptr)
      m_counter->leaveOwnCall();
  }
  OwnCall(const OwnCall&) = delete;
  OwnCall& operator=(const OwnCall&) = delete;

private:
  CallCounter* m_counter;
};

} // namespace

CallCounter* Entity::callCounter() const { return nullptr; }

void Entity::discard(bool pool) {
  if (m_discarded)
    return;
  const OwnCall call(callCounter());
  // A refusal leaves the entity as it was.
  if (refusesDeletion())
    return;
  retire(pool);
}

void Entity::discardInDestructor() {
  if (m_discarded)
    return;
  // Nothing can hold back an object being destroyed: no check is made whose failure would be
  // printed and passed. A client asks first (deleteConstraint() refuses a part).
  const OwnCall call(callCounter());
  retire(false);
}

void Entity::retire(bool pool) {
  m_discarded = true; // before handleDiscard, so re-entrant discards stop here
  handleDiscard();
  // Only a whole heap object of our own may be collected; members held by value never are. One
  // whose constructor still runs (a listener told of it discards it) would be collected under it:
  // it is pooled once made (see poolDiscarded()), or freed by its refused `new`.
  if (!pool || !m_heap)
    return;
  const CallCounter* const counter = callCounter();
  if (counter == nullptr || !counter->isBeingMade(m_key))
    poolDiscarded();
}

void Entity::poolDiscarded() {
  if (!m_discarded || !m_heap || m_pooled)
    return;
  EntityTables& t = tables();
  t.pool.push_back(m_key);
  std::push_heap(t.pool.begin(), t.pool.end(), std::greater<int>());
  m_pooled = true;
  ++g_pooledCount;
}

void Entity::raiseDiscarded(const char* operation) const {
  raiseFailedCheck("!isDiscarded()", "Utils/Entity", __LINE__,
                   ("Cannot " + std::string(operation) + " " + getEntityType() + " " + getName().toString() + " (key " +
                    std::to_string(m_key) + "): it is discarded.")
                       .c_str());
}

bool Entity::decRefCount() {
  // The call outlives the object, which the last hold deletes.
  const OwnCall call(callCounter());
  if (m_refCount == 0) {
    raiseFailedCheck("m_refCount > 0", "Utils/Entity", __LINE__,
                     ("No hold left to drop on " + toString() + ".").c_str());
    return false;
  }
  if (m_refCount == 1 && (refusesFreeing() || (!m_discarded && refusesDeletion())))
    return false;
  if (--m_refCount > 0)
    return false;
  bool heap = m_heap;
  if (!m_discarded)
    retire(false);
  if (heap)
    delete this;
  return heap;
}

bool Entity::refusesFreeing() const {
  // `new` would answer freed memory, and the constructor go on in it; a discard is allowed.
  const CallCounter* const counter = m_heap ? callCounter() : nullptr;
  if (counter == nullptr || !counter->isBeingMade(m_key))
    return false;
  raiseFailedCheck("!isBeingMade()", "Utils/Entity", __LINE__,
                   ("Cannot delete " + getEntityType() + " " + getName().toString() + " (key " + std::to_string(m_key) +
                    "): its constructor is still running; discard it instead.")
                       .c_str());
  return true;
}

bool Entity::s_purging = false;

void Entity::purgeStart() { s_purging = true; }

void Entity::purgeEnd() { s_purging = false; }

Id<Entity> Entity::getEntity(int key) {
  Entity* entity = entityWithKey(key);
  if (entity == nullptr)
    return Id<Entity>();
  return Id<Entity>(entity, IdTable::getKey(Id<Entity>::toAddress(entity)));
}

Id<Entity> Entity::getEntityAt(unsigned long address) {
  EntityTables& t = tables();
  Entity* entity = t.byAddress.find(static_cast<std::uintptr_t>(address));
  if (entity == nullptr)
    return Id<Entity>();
  return Id<Entity>(entity, IdTable::getKey(address));
}

void Entity::garbageCollect() {
  EntityTables& t = tables();

  // Objects go in key order. The keys pooled so far are sorted once rather than taken from the
  // heap one at a time; deleting an object may pool others, which the heap takes meanwhile and
  // which go first when their key is smaller.
  while (!t.pool.empty()) {
    std::vector<int> keys;
    keys.swap(t.pool);
    std::sort(keys.begin(), keys.end());
    for (std::size_t i = 0; i < keys.size();) {
      int key;
      if (!t.pool.empty() && t.pool.front() < keys[i]) {
        std::pop_heap(t.pool.begin(), t.pool.end(), std::greater<int>());
        key = t.pool.back();
        t.pool.pop_back();
      } else {
        key = keys[i++];
      }
      Entity* entity = entityWithKey(key);
      if (entity == nullptr)
        continue;
      entity->m_pooled = false;
      --g_pooledCount;
      delete entity;
    }
  }
}

std::size_t Entity::pooledCount() { return g_pooledCount; }

std::size_t Entity::liveCount() { return g_liveCount; }

void* Entity::operator new(std::size_t size) {
  void* block = ::operator new(size);
  tables().pendingBlocks.emplace_back(block, size);
  return block;
}

void Entity::operator delete(void* block) {
  // A block whose entity was never built (its construction failed before) is forgotten.
  std::vector<std::pair<void*, std::size_t> >& pending = tables().pendingBlocks;
  for (auto it = pending.begin(); it != pending.end(); ++it) {
    if (it->first == block) {
      pending.erase(it);
      break;
    }
  }
  ::operator delete(block);
}

} // namespace KALDEN
