#ifndef KALDEN_UTILS_ENTITY_HH
#define KALDEN_UTILS_ENTITY_HH

#include "Utils/LabelStr.hh"
#include "Utils/base/Id.hh"
#include "Utils/base/PSEntity.hh"

#include <cstddef>
#include <string>

namespace KALDEN {

/**
 * What counts a discard() or decRefCount() as one call of whatever an entity belongs to (its
 * engine), however it is reached: what the call causes is judged once it has returned whole.
 */
class CallCounter {
public:
  /// A call begins.
  virtual void enterOwnCall() = 0;
  /// The call returns; may throw what it kept (never while an error leaves or a destructor runs).
  virtual void leaveOwnCall() = 0;
  /// Whether the entity keyed `key` is being made: its constructor still runs, so it must not be freed.
  virtual bool isBeingMade(int key) const = 0;

protected:
  ~CallCounter() = default;
};

/**
 * The keyed, discardable base of variables, constraints and propagators.
 *
 * Keys grow with creation and are never reused, so key order is creation
 * order. discard() marks the entity discarded, then runs handleDiscard(), at
 * most once. discard(false) frees nothing (the caller deletes); discard(true)
 * pools a heap object of this class until garbageCollect() deletes it.
 * Objects that live inside another object (members held by value) are never
 * pooled: Entity records the blocks its own operator new handed out and
 * collects only those, each exactly once.
 */
class Entity : public virtual PSEntity {
public:
  Entity();
  virtual ~Entity();

  /// The entity's key (also the public interface's key).
  int getKey() const final { return m_key; }
  /// The text of getName().
  const std::string& getEntityName() const override;
  /// "Entity"; subclasses answer their own kind.
  const std::string& getEntityType() const override;
  /// The entity's name and key.
  std::string toString() const override;
  /// Same as toString() unless a subclass says more.
  std::string toLongString() const override;
  /// Attaches an external entity (not owned); kept in a table beside the entities, until cleared or the entity goes.
  void setExternalPSEntity(const PSEntity* externalEntity) override;
  /// Detaches the external entity.
  void clearExternalPSEntity() override;
  /// The attached external entity, null when none.
  const PSEntity* getExternalPSEntity() const override;

  /// The label "Entity".
  static const LabelStr& entityTypeName();
  /// The class's own type label.
  virtual const LabelStr& entityType() const;
  /// The entity's name; "NO_NAME" unless a subclass names it.
  virtual const LabelStr& getName() const;
  /// Whether this entity may be compared with another; true unless a subclass says otherwise.
  virtual bool canBeCompared(const Id<Entity>& other) const;
  /// Unlinks the entity from everything it is attached to; overrides call the base.
  virtual void handleDiscard();
  /// Tells the entity that an entity it depends on was discarded; nothing by default.
  virtual void notifyDiscarded(const Entity* entity);
  /// Refuses, by a failed check and before anything changes, the deletion or discard of an entity
  /// that may not go on its own now: true when refused (raised; a caller that catches it goes
  /// on only where nothing could catch it). False here.
  virtual bool refusesDeletion() const;

  /// Retires the entity (once), unless refusesDeletion(), which leaves it as it was; `pool` lets
  /// garbageCollect() delete a heap object later. One call of callCounter()'s.
  void discard(bool pool = true);
  /// discard() from the entity's own destructor, which cannot be refused: it checks nothing, and the entity goes
  /// (one call of callCounter()'s, as discard() is).
  void discardInDestructor();
  /// Whether discard() has run.
  bool isDiscarded() const { return m_discarded; }
  /// Refuses an operation on a discarded entity, naming it: true when it was refused (the failure
  /// was raised; see refusesDeletion()), false when the entity is still in use.
  bool refusesDiscarded(const char* operation) const {
    if (!m_discarded)
      return false;
    raiseDiscarded(operation);
    return true;
  }

  /// Takes one more hold on the entity.
  void incRefCount() { ++m_refCount; }
  /// Drops one hold; the last one discards the entity and deletes it if it is a heap object, unless
  /// refusesDeletion(), or unless it would free one whose constructor still runs (a listener told of
  /// it from there): both refusals change nothing. Answers whether it went. One call of
  /// callCounter()'s, which outlives the entity.
  bool decRefCount();
  /// Number of holds (1 when built).
  unsigned int refCount() const { return m_refCount; }

  /// True while every entity is being purged (a flag read: the engine asks on every change it routes).
  static bool isPurging() { return s_purging; }
  /// Starts a purge.
  static void purgeStart();
  /// Ends a purge.
  static void purgeEnd();

  /// The entity with the given key, the empty handle when none (or when it holds no handle).
  static Id<Entity> getEntity(int key);
  /// The entity whose Entity part lies at a registered address, the empty handle when none.
  static Id<Entity> getEntityAt(unsigned long address);
  /// Deletes every pooled, discarded heap object.
  static void garbageCollect();
  /// Number of discarded objects waiting for garbageCollect().
  static std::size_t pooledCount();
  /// Number of live entities.
  static std::size_t liveCount();
  /// The key the next entity will take: every entity made from now on has it or a later one.
  static int nextKey();

  static void* operator new(std::size_t size);
  static void operator delete(void* block);

protected:
  /// What counts discard(), discardInDestructor() and decRefCount() as one call each; none here. It
  /// must outlive the entity.
  virtual CallCounter* callCounter() const;
  /// From a constructor taking back its own registration: the entity counts as discarded, so that
  /// nobody told of its going discards it again, half-built as it is.
  void markRefused() { m_discarded = true; }
  /// From a constructor once its object is made: discarded meanwhile, a heap object is pooled now,
  /// as discard() pools one that is made.
  void poolDiscarded();

private:
  // Retires the entity once a refusal was asked for.
  void retire(bool pool);
  // Whether freeing the entity now would free it under its running constructor; the check is raised then.
  bool refusesFreeing() const;
  // The failure of refusesDiscarded(), out of line: callers test a flag on hot paths.
  [[gnu::cold, gnu::noinline]] void raiseDiscarded(const char* operation) const;

  Entity(const Entity&) = delete;
  Entity& operator=(const Entity&) = delete;

  static bool s_purging;

  // The flags last: a derived class may place its own narrow fields in the padding after them.
  // The external entity, which hardly any entity has, is kept aside (see setExternalPSEntity).
  int m_key;
  unsigned int m_refCount;
  bool m_discarded;
  bool m_pooled;
  bool m_heap; // built in a block of Entity::operator new: discard(true) may pool it
};

/**
 * Watches an entity across a call that tells others of a change: whoever is told may delete or
 * discard it, after which the caller must not touch it. Made from a copy of the handle, so it
 * never reads the object once it has gone; an entity already discarded when watched is not
 * counted as going.
 */
template <class T>
class LifeWatch {
public:
  /// Watches the entity the handle names.
  explicit LifeWatch(const Id<T>& entity) : m_entity(entity), m_live(isThere(entity)) {}
  /// Whether the entity was deleted or discarded since the watch began.
  bool gone() const { return m_live && !isThere(m_entity); }

private:
  static bool isThere(const Id<T>& entity) { return entity.isValid() && !entity->isDiscarded(); }

  Id<T> m_entity;
  bool m_live;
};

} // namespace KALDEN

#endif
