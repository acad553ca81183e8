#include "Utils/Entity.hh"

#include "Utils/Error.hh"

#include <climits>
#include <cstdint>
#include <map>
#include <new>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace KALDEN {

namespace {

struct EntityTables {
  int nextKey = 1;
  std::unordered_map<int, Entity*> byKey;
  std::unordered_map<const void*, Entity*> byAddress; // by the address of the Entity part
  // Blocks handed out by Entity::operator new whose entity is not built yet (normally one; more
  // when building an entity's arguments makes others). The entity built in a block takes it.
  std::vector<std::pair<void*, std::size_t> > pendingBlocks;
  std::map<int, Entity*> pool;          // discarded heap objects, collected in key order
};

EntityTables& tables() {
  static EntityTables* sl_tables = new EntityTables; // never destroyed: entities may outlive static objects
  return *sl_tables;
}

} // namespace

Entity::Entity()
    : m_key(0), m_refCount(1), m_discarded(false), m_pooled(false), m_heap(false), m_externalEntity(nullptr) {
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
  if (t.nextKey == INT_MAX)
    (new Error("nextKey < INT_MAX", "Entity keys are exhausted.", "Utils/Entity", __LINE__))->handleAssert();
  m_key = t.nextKey++;
  t.byKey.emplace(m_key, this);
  t.byAddress.emplace(static_cast<const void*>(this), this);
}

Entity::~Entity() {
  EntityTables& t = tables();
  t.byKey.erase(m_key);
  t.byAddress.erase(static_cast<const void*>(this));
  if (m_pooled)
    t.pool.erase(m_key);
}

const std::string& Entity::getEntityName() const { return getName().toString(); }

const std::string& Entity::getEntityType() const {
  static const std::string* const sl_type = new std::string("Entity");
  return *sl_type;
}

std::string Entity::toString() const { return getEntityName() + "(" + std::to_string(m_key) + ")"; }

std::string Entity::toLongString() const { return toString(); }

void Entity::setExternalPSEntity(const PSEntity* externalEntity) { m_externalEntity = externalEntity; }

void Entity::clearExternalPSEntity() { m_externalEntity = nullptr; }

const PSEntity* Entity::getExternalPSEntity() const { return m_externalEntity; }

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

void Entity::discard(bool pool) {
  if (m_discarded)
    return;
  m_discarded = true; // before handleDiscard, so re-entrant discards stop here
  handleDiscard();
  if (!pool)
    return;
  EntityTables& t = tables();
  // Only a whole heap object of our own may be collected; members held by value never are.
  if (m_heap) {
    m_pooled = true;
    t.pool.emplace(m_key, this);
  }
}

bool Entity::decRefCount() {
  if (m_refCount == 0) {
    (new Error("m_refCount > 0", "No hold left to drop on " + toString() + ".", "Utils/Entity", __LINE__))
        ->handleAssert();
    return false;
  }
  if (--m_refCount > 0)
    return false;
  bool heap = m_heap;
  discard(false);
  if (heap)
    delete this;
  return heap;
}

bool Entity::s_purging = false;

void Entity::purgeStart() { s_purging = true; }

void Entity::purgeEnd() { s_purging = false; }

Id<Entity> Entity::getEntity(int key) {
  EntityTables& t = tables();
  auto it = t.byKey.find(key);
  if (it == t.byKey.end())
    return Id<Entity>();
  Entity* entity = it->second;
  return Id<Entity>(entity, IdTable::getKey(Id<Entity>::toAddress(entity)));
}

Id<Entity> Entity::getEntityAt(unsigned long address) {
  EntityTables& t = tables();
  auto it = t.byAddress.find(reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address)));
  if (it == t.byAddress.end())
    return Id<Entity>();
  return Id<Entity>(it->second, IdTable::getKey(address));
}

void Entity::garbageCollect() {
  EntityTables& t = tables();
  // Deleting one object may pool others: take them one at a time.
  while (!t.pool.empty()) {
    Entity* entity = t.pool.begin()->second;
    t.pool.erase(t.pool.begin());
    entity->m_pooled = false;
    delete entity;
  }
}

std::size_t Entity::pooledCount() { return tables().pool.size(); }

std::size_t Entity::liveCount() { return tables().byKey.size(); }

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
