#include "Utils/Engine.hh"
#include "Utils/Entity.hh"
#include "Utils/IdTable.hh"
#include "Utils/base/EntityComparator.hh"
#include "Utils/base/PSList.hh"

#include <gtest/gtest.h>

#include <memory>
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
