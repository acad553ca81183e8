#include "Utils/Entity.hh"
#include "Utils/Globals.hh"
#include "Utils/IdTable.hh"
#include "Utils/LabelStr.hh"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

namespace KALDEN {
namespace {

TEST(GlobalsTest, Defaults) {
  EXPECT_EQ(g_maxInt(), 2147483647);
  EXPECT_EQ(g_infiniteTime(), 2147483647);
  EXPECT_DOUBLE_EQ(g_epsilon(), 1e-5);
  EXPECT_FALSE(g_alwaysFails());
}

TEST(GlobalsTest, NumberText) {
  EXPECT_EQ(toString(2147483647.0), "2147483647");
  EXPECT_EQ(toString(-2147483647.0), "-2147483647");
  EXPECT_EQ(toString(0.0), "0");
  EXPECT_EQ(toString(-0.0), "0");
  EXPECT_EQ(toString(2.5), "2.5");
  EXPECT_EQ(toString(0.1), "0.1");
  EXPECT_EQ(toString(1.0 / 3.0), "0.333333333333333");
  EXPECT_EQ(toString(1e20), "1e+20");
}

TEST(IdTableTest, KeysAreNeverReused) {
  unsigned long address = 0x1000;
  unsigned long first = IdTable::insert(address, "T");
  EXPECT_NE(first, 0u);
  EXPECT_EQ(IdTable::insert(address, "T"), 0u) << "still registered";
  EXPECT_EQ(IdTable::getKey(address), first);
  EXPECT_STREQ(IdTable::getType(address), "T");
  IdTable::remove(address);
  EXPECT_EQ(IdTable::getKey(address), 0u);
  unsigned long second = IdTable::insert(address, "T");
  EXPECT_NE(second, first);
  IdTable::remove(address);
}

TEST(IdTableTest, HoldsExactlyTheLiveKeyAtItsAddress) {
  const unsigned long address = 0x2000;
  EXPECT_FALSE(IdTable::holds(0, 0)) << "the empty handle";
  EXPECT_FALSE(IdTable::holds(0, address));
  const unsigned long key = IdTable::insert(address, "T");
  EXPECT_TRUE(IdTable::holds(key, address));
  EXPECT_FALSE(IdTable::holds(key, address + 16)) << "another address under the same key";
  EXPECT_FALSE(IdTable::holds(key, 0));
  IdTable::remove(address);
  EXPECT_FALSE(IdTable::holds(key, address));
  const unsigned long again = IdTable::insert(address, "T");
  EXPECT_FALSE(IdTable::holds(key, address)) << "the address registered again under a new key";
  EXPECT_TRUE(IdTable::holds(again, address));
  IdTable::remove(address);
}

TEST(IdTableTest, AgreesWithAReferenceMapUnderChurn) {
  // Addresses crowd into a narrow range so probe chains collide and wrap; or they lie on one
  // power-of-two stride, far apart, where slots that follow the address would pile up.
  for (unsigned long stride : {8UL, 1UL << 20}) {
    std::mt19937 rng(7);
    std::map<unsigned long, unsigned long> reference;
    std::vector<std::pair<unsigned long, unsigned long> > stale; // (address, key) removed
    std::size_t base = IdTable::size();
    for (int step = 0; step < 200000; ++step) {
      unsigned long address = 0x7000000 + stride * (rng() % 5000);
      if (rng() % 2) {
        unsigned long key = IdTable::insert(address, "T");
        if (reference.count(address))
          EXPECT_EQ(key, 0u);
        else
          reference[address] = key;
      } else {
        IdTable::remove(address);
        const auto it = reference.find(address);
        if (it != reference.end()) {
          stale.emplace_back(it->first, it->second);
          reference.erase(it);
        }
      }
    }
    for (const auto& entry : reference) {
      ASSERT_EQ(IdTable::getKey(entry.first), entry.second);
      ASSERT_TRUE(IdTable::holds(entry.second, entry.first));
    }
    // Removed keys stay stale, also once the chunks that held only them are freed.
    for (const auto& entry : stale)
      ASSERT_FALSE(IdTable::holds(entry.second, entry.first));
    EXPECT_EQ(IdTable::size(), base + reference.size());
    for (const auto& entry : reference)
      IdTable::remove(entry.first);
    EXPECT_EQ(IdTable::size(), base);
    for (const auto& entry : reference)
      ASSERT_FALSE(IdTable::holds(entry.second, entry.first));
  }
}

TEST(LabelStrTest, BothWays) {
  LabelStr a("alpha");
  LabelStr b(std::string("alpha"));
  EXPECT_EQ(a, b);
  EXPECT_EQ(a.getKey(), b.getKey());
  EXPECT_EQ(a.toString(), "alpha");
  EXPECT_STREQ(a.c_str(), "alpha");
  LabelStr fromKey(a.getKey());
  EXPECT_EQ(fromKey.toString(), "alpha");
  EXPECT_TRUE(LabelStr::isString(a));
  EXPECT_NE(LabelStr("beta"), a);
  EXPECT_EQ(LabelStr().toString(), "");

  const std::string& text = a.toString();
  for (int i = 0; i < 10000; ++i)
    LabelStr(std::to_string(i));
  EXPECT_EQ(text, "alpha") << "text references stay valid as the table grows";
}

TEST(LabelStrTest, KeysStayClearOfNumbersAndAddresses) {
  LabelStr a("x"), b("y");
  EXPECT_GE(std::abs(a.getKey() - b.getKey()), 1.0);
  EXPECT_FALSE(LabelStr::isString(0.0));
  EXPECT_FALSE(LabelStr::isString(42.0));
  EXPECT_FALSE(LabelStr::isString(a.getKey() + 0.5));
  int local = 0;
  EXPECT_FALSE(LabelStr::isString(static_cast<double>(reinterpret_cast<std::uintptr_t>(&local))));
  EXPECT_THROW(LabelStr(12345.0), Error);
}

// An entity holding another by value, as composite constraints hold their members.
class Leaf : public Entity {
public:
  explicit Leaf(int* handled = nullptr) : m_handled(handled) {}
  void handleDiscard() override {
    if (m_handled)
      ++*m_handled;
    Entity::handleDiscard();
  }

private:
  int* m_handled;
};

class Composite : public Entity {
public:
  void handleDiscard() override {
    m_member.discard(true);
    Entity::handleDiscard();
  }
  Leaf& member() { return m_member; }

private:
  Leaf m_member;
};

TEST(EntityTest, KeysGrowAndAreFoundByKey) {
  Leaf a, b;
  EXPECT_LT(a.getKey(), b.getKey());
  EXPECT_EQ(Entity::entityTypeName().toString(), "Entity");
  EXPECT_EQ(&a.entityType(), &Entity::entityTypeName());
  EXPECT_TRUE(Entity::getEntity(a.getKey()).isNoId()) << "a plain entity holds no handle";
  EXPECT_TRUE(Entity::getEntity(-5).isNoId());
}

TEST(EntityTest, DiscardRunsOnceAndMarksFirst) {
  int handled = 0;
  Leaf leaf(&handled);
  leaf.discard(false);
  leaf.discard(true);
  EXPECT_EQ(handled, 1);
  EXPECT_TRUE(leaf.isDiscarded());
  EXPECT_EQ(Entity::pooledCount(), 0u) << "an object not made by new is never pooled";
}

TEST(EntityTest, PooledObjectsAreCollectedOnce) {
  std::size_t live = Entity::liveCount();
  Composite* c = new Composite;
  Leaf* l = new Leaf;
  c->discard(true);
  l->discard(true);
  EXPECT_TRUE(c->member().isDiscarded());
  EXPECT_EQ(Entity::pooledCount(), 2u) << "the member inside the composite is not pooled";
  Entity::garbageCollect();
  EXPECT_EQ(Entity::pooledCount(), 0u);
  EXPECT_EQ(Entity::liveCount(), live);
  Entity::garbageCollect(); // nothing left to free twice

  // A pooled object deleted by its owner before collection leaves the pool.
  Leaf* early = new Leaf;
  early->discard(true);
  delete early;
  EXPECT_EQ(Entity::pooledCount(), 0u);
}

// An entity whose constructor argument is itself made with new: each is its own heap object.
class Holder : public Entity {
public:
  explicit Holder(Leaf* held) : m_held(held) {}
  Leaf* held() const { return m_held; }

private:
  Leaf* m_held;
};

TEST(EntityTest, EntitiesMadeWhileBuildingAnotherAreEachTheirOwnHeapObject) {
  std::size_t live = Entity::liveCount();
  Holder* holder = new Holder(new Leaf);
  Composite onStack;
  EXPECT_TRUE(holder->held()->decRefCount()) << "the argument is a heap object";
  EXPECT_TRUE(holder->decRefCount()) << "so is the holder built after it";
  onStack.discard(true);
  EXPECT_EQ(Entity::pooledCount(), 0u) << "neither a stack object nor its member is pooled";
  EXPECT_EQ(Entity::liveCount(), live + 2);
}

TEST(EntityTest, LastHoldDeletesAHeapObject) {
  std::size_t live = Entity::liveCount();
  Leaf* l = new Leaf;
  l->incRefCount();
  EXPECT_FALSE(l->decRefCount());
  EXPECT_TRUE(l->decRefCount());
  EXPECT_EQ(Entity::liveCount(), live);
}

TEST(EntityTest, PurgeFlag) {
  EXPECT_FALSE(Entity::isPurging());
  Entity::purgeStart();
  EXPECT_TRUE(Entity::isPurging());
  Entity::purgeEnd();
  EXPECT_FALSE(Entity::isPurging());
}

} // namespace
} // namespace KALDEN
