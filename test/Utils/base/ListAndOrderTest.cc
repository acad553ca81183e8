#include "Utils/Engine.hh"
#include "Utils/Entity.hh"
#include "Utils/IdTable.hh"
#include "Utils/base/EntityComparator.hh"
#include "Utils/base/InsertionOrderedSet.hh"
#include "Utils/base/PSList.hh"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

class Keyed : public Entity {
public:
  Keyed() : m_id(this) {}
  ~Keyed() override {
    if (m_id.isValid())
      m_id.remove();
  }
  Id<Keyed>& getId() { return m_id; }

private:
  Id<Keyed> m_id;
};

TEST(PSListTest, KeepsInsertionOrderAndOwnsNothing) {
  PSList<std::string> texts;
  EXPECT_EQ(texts.size(), 0);
  texts.push_back("a");
  texts.push_back("b");
  ASSERT_EQ(texts.size(), 2);
  EXPECT_EQ(texts.get(0), "a");
  EXPECT_EQ(texts.get(1), "b");
  EXPECT_THROW(texts.get(2), Error);
  EXPECT_THROW(texts.get(-1), Error);

  Keyed k;
  {
    PSList<PSEntity*> entities;
    entities.push_back(&k);
    EXPECT_EQ(entities.get(0)->getKey(), k.getKey());
  }
  EXPECT_TRUE(k.getId().isValid()) << "destroying a list of pointers leaves the objects alive";
}

// Erasures by handle and by position, and insertions, against a plain array in insertion
// order: the holes and their closing up must never show in order, lookup or size.
TEST(InsertionOrderedSetTest, FollowsInsertionOrderThroughErasures) {
  std::vector<std::unique_ptr<Keyed> > made;
  for (int i = 0; i < 40; ++i)
    made.emplace_back(new Keyed);
  std::mt19937 draw(7);
  // From a few handles the set often empties; from many it grows past looking from the front.
  for (const std::size_t pool : {std::size_t(5), made.size()}) {
    InsertionOrderedSet<Keyed> set;
    std::vector<Id<Keyed> > model;
    for (int step = 0; step < 3000; ++step) {
      const Id<Keyed> handle = made[draw() % pool]->getId();
      const auto inModel = std::find(model.begin(), model.end(), handle);
      const bool held = inModel != model.end();
      ASSERT_EQ(set.count(handle), held ? 1u : 0u);
      ASSERT_EQ(set.find(handle) != set.end(), held);
      if (!held) {
        ASSERT_TRUE(set.insert(handle));
        model.push_back(handle);
      } else if (draw() % 2 == 0) {
        ASSERT_FALSE(set.insert(handle)) << "held already";
        ASSERT_EQ(set.erase(handle), 1u);
        model.erase(inModel);
      } else {
        const auto next = set.erase(set.find(handle));
        const auto after = model.erase(inModel);
        ASSERT_EQ(next == set.end(), after == model.end());
        if (after != model.end()) {
          ASSERT_EQ(*next, *after);
        }
      }
      ASSERT_EQ(set.size(), model.size());
      ASSERT_EQ(set.empty(), model.empty());
      ASSERT_TRUE(std::equal(set.begin(), set.end(), model.begin(), model.end()));
      ASSERT_EQ(set.count(Id<Keyed>()), 0u) << "a hole is no handle";
    }
  }
  // A handle left behind by an object gone without erasing it is not its successor's.
  InsertionOrderedSet<Keyed> set;
  const Id<Keyed> stale = made.back()->getId();
  set.insert(stale);
  made.back().reset();
  made.back().reset(new Keyed); // often at the same address
  EXPECT_EQ(set.count(made.back()->getId()), 0u);
  EXPECT_EQ(set.count(stale), 1u);
  EXPECT_FALSE(set.insert(Id<Keyed>())) << "an empty handle is never held";
}

TEST(EntityComparatorTest, OrdersByKeyWhateverTheAddress) {
  std::vector<std::unique_ptr<Keyed> > made;
  for (int i = 0; i < 20; ++i)
    made.emplace_back(new Keyed);
  std::set<Id<Keyed>, EntityComparator<Id<Keyed> > > byKey;
  for (auto it = made.rbegin(); it != made.rend(); ++it)
    byKey.insert((*it)->getId());
  int previous = 0;
  for (const Id<Keyed>& id : byKey) {
    EXPECT_LT(previous, id->getKey());
    previous = id->getKey();
  }
  EXPECT_EQ(byKey.size(), made.size());
}

TEST(EntityComparatorTest, RefusesInvalidHandles) {
  Keyed k;
  std::set<Id<Keyed>, EntityComparator<Id<Keyed> > > byKey{k.getId()};
  try {
    byKey.find(Id<Keyed>());
    FAIL() << "an empty handle must not be compared";
  } catch (const Error& e) {
    EXPECT_TRUE(e.getCondition() == "t1.isValid()" || e.getCondition() == "t2.isValid()");
    EXPECT_EQ(e.getMessage(), "noId");
    EXPECT_EQ(e.getFile(), "Utils/base/Entity");
    EXPECT_TRUE(e.getLabel().empty());
  }
}

class Recorder : public Module {
public:
  Recorder(const std::string& name, std::vector<std::string>& log) : Module(name), m_log(log) {}
  void initialize() override {}
  void uninitialize() override {}
  void initialize(Id<Engine>) override { m_log.push_back("start " + getName()); }
  void uninitialize(Id<Engine>) override { m_log.push_back("stop " + getName()); }

private:
  std::vector<std::string>& m_log;
};

class Published : public EngineComponent {};

TEST(HostEngineTest, ModulesStartInOrderAndStopInReverse) {
  std::vector<std::string> log;
  {
    Engine host;
    host.addModule(new Recorder("first", log));
    host.addModule(new Recorder("second", log));
    host.start();
    EXPECT_TRUE(host.isStarted());
  }
  EXPECT_EQ(log, (std::vector<std::string>{"start first", "start second", "stop second", "stop first"}));
}

TEST(HostEngineTest, ComponentsByName) {
  Engine host;
  Published* p = new Published;
  host.addComponent("thing", p);
  EXPECT_EQ(host.getComponent("thing"), p);
  EXPECT_THROW(host.addComponent("thing", p), Error);
  EXPECT_EQ(host.getComponent("none"), nullptr);
  std::unique_ptr<EngineComponent> back(host.removeComponent("thing"));
  EXPECT_EQ(back.get(), p);
  EXPECT_EQ(host.removeComponent("thing"), nullptr);
}

TEST(ModuleTest, HandleIsRemovedWithTheModule) {
  std::vector<std::string> log;
  std::size_t before = IdTable::size();
  {
    Recorder r("m", log);
    EXPECT_TRUE(r.getId().isValid());
    EXPECT_EQ(IdTable::size(), before + 1);
  }
  EXPECT_EQ(IdTable::size(), before);
  // A module built later at a reused address registers without complaint.
  alignas(Recorder) unsigned char storage[sizeof(Recorder)];
  for (int i = 0; i < 2; ++i) {
    Recorder* r = new (storage) Recorder("again", log);
    EXPECT_TRUE(r->getId().isValid());
    r->~Recorder();
  }
}

} // namespace
} // namespace KALDEN
