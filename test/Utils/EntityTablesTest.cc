#include "Utils/Entity.hh"
#include "Utils/base/Id.hh"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <vector>

namespace KALDEN {
namespace {

// A heap entity that registers its own handle, as variables and constraints do, and writes its
// key to a log when it goes; it may take another entity with it.
class Logged : public Entity {
public:
  explicit Logged(std::vector<int>* log) : m_log(log), m_id(this), m_takes(nullptr) {}
  ~Logged() override {
    m_log->push_back(getKey());
    m_id.remove();
    // An object deleted while collecting may pool another.
    if (m_takes != nullptr)
      m_takes->discard(true);
  }
  void takes(Logged* other) { m_takes = other; }

private:
  std::vector<int>* m_log;
  Id<Logged> m_id;
  Logged* m_takes;
};

// Under random creation and deletion, spanning many blocks of keys: every key ever issued finds
// its entity while it lives and nothing afterwards, every live entity is found at its address,
// and the live count follows. Checked against a map from key to entity.
TEST(EntityTablesTest, LookupsByKeyAndAddressFollowTheModel) {
  std::mt19937 random(5);
  std::vector<int> log;
  std::map<int, Logged*> live;
  std::vector<int> issued;
  const std::size_t before = Entity::liveCount();
  for (int step = 0; step < 12000; ++step) {
    if (random() % 5 < 3 || live.empty()) {
      Logged* entity = new Logged(&log);
      live[entity->getKey()] = entity;
      issued.push_back(entity->getKey());
    } else {
      auto it = live.begin();
      std::advance(it, random() % live.size());
      delete it->second;
      live.erase(it);
    }
  }
  ASSERT_GT(issued.size(), 4096u);
  EXPECT_EQ(Entity::liveCount(), before + live.size());
  for (int key : issued) {
    const auto it = live.find(key);
    const Id<Entity> found = Entity::getEntity(key);
    if (it == live.end()) {
      ASSERT_TRUE(found.isNoId()) << "key " << key;
      continue;
    }
    ASSERT_TRUE(found.isValid()) << "key " << key;
    ASSERT_EQ(static_cast<Entity*>(found), it->second);
    const Id<Entity> at = Entity::getEntityAt(reinterpret_cast<std::uintptr_t>(static_cast<Entity*>(it->second)));
    ASSERT_EQ(static_cast<Entity*>(at), it->second) << "key " << key;
  }
  EXPECT_TRUE(Entity::getEntity(0).isNoId());
  EXPECT_TRUE(Entity::getEntity(issued.back() + 1).isNoId()) << "a key not issued yet";
  for (const auto& entry : live)
    delete entry.second;
  EXPECT_EQ(Entity::liveCount(), before);
}

// Pooled objects are deleted in key order, once each, including those pooled while collecting;
// one deleted by its owner first is skipped, and the pooled count follows a model.
TEST(EntityTablesTest, CollectionDeletesInKeyOrder) {
  std::mt19937 random(3);
  std::vector<int> log;
  std::vector<Logged*> entities;
  for (int i = 0; i < 300; ++i)
    entities.push_back(new Logged(&log));
  // A late object, when collected, pools an early one that is not pooled yet.
  entities[250]->takes(entities[10]);
  std::vector<Logged*> order(entities.begin(), entities.end());
  std::shuffle(order.begin(), order.end(), random);
  std::vector<int> expected;
  std::size_t pooled = 0;
  for (Logged* entity : order) {
    if (entity == entities[10])
      continue;
    const int key = entity->getKey();
    entity->discard(true);
    ++pooled;
    if (key % 7 == 0 && entity != entities[250]) {
      delete entity; // its owner deletes it before collection
      --pooled;
    } else {
      expected.push_back(key);
    }
  }
  EXPECT_EQ(Entity::pooledCount(), pooled);
  std::sort(expected.begin(), expected.end());
  // The early object goes right after the one that pooled it: its key is smaller than the rest.
  const auto taker = std::find(expected.begin(), expected.end(), entities[250]->getKey());
  expected.insert(taker + 1, entities[10]->getKey());
  log.clear();
  Entity::garbageCollect();
  EXPECT_EQ(log, expected);
  EXPECT_EQ(Entity::pooledCount(), 0u);
  Entity::garbageCollect();
  EXPECT_EQ(log.size(), expected.size()) << "nothing is deleted twice";
}

} // namespace
} // namespace KALDEN
