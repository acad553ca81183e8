#include "Utils/Entity.hh"
#include "Utils/base/EntityComparator.hh"
#include "Utils/base/KeyOrderedSet.hh"

#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <random>
#include <set>
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
  const Id<Keyed>& getId() const { return m_id; }

private:
  Id<Keyed> m_id;
};

typedef std::set<Id<Keyed>, EntityComparator<Id<Keyed> > > Model;

::testing::AssertionResult sameAs(const KeyOrderedSet<Keyed>& set, const Model& model) {
  if (set.size() != model.size() || set.empty() != model.empty())
    return ::testing::AssertionFailure() << "size " << set.size() << " instead of " << model.size();
  if (static_cast<std::size_t>(std::distance(set.begin(), set.end())) != model.size())
    return ::testing::AssertionFailure() << "iteration does not visit size() handles";
  if (!std::equal(model.begin(), model.end(), set.begin()))
    return ::testing::AssertionFailure() << "other handles, or another order, than the model's";
  return ::testing::AssertionSuccess();
}

// Random insertions (mostly in key order, as entities are made, some not), erasures by handle
// and by position, and lookups: the set always holds what a node-based set ordered by key holds.
TEST(KeyOrderedSetTest, BehavesAsASetOrderedByKey) {
  std::vector<std::unique_ptr<Keyed> > made;
  for (int i = 0; i < 600; ++i)
    made.emplace_back(new Keyed);
  for (unsigned int seed = 1; seed <= 4; ++seed) {
    std::mt19937 random(seed);
    KeyOrderedSet<Keyed> set;
    Model model;
    std::size_t sweep = 0;
    for (int step = 0; step < 20000; ++step) {
      const int roll = static_cast<int>(random() % 100);
      const Id<Keyed>& pick = made[(roll < 40 ? sweep++ : random()) % made.size()]->getId();
      if (roll < 55) {
        EXPECT_EQ(set.insert(pick), model.insert(pick).second);
      } else if (roll < 80) {
        EXPECT_EQ(set.erase(pick), model.erase(pick));
      } else if (roll < 90 && !model.empty()) {
        // Emptied from the front, as the engine's purge does.
        EXPECT_EQ(*set.begin(), *model.begin());
        set.erase(set.begin());
        model.erase(model.begin());
      } else {
        EXPECT_EQ(set.count(pick), model.count(pick));
        EXPECT_EQ(set.find(pick) == set.end(), model.find(pick) == model.end());
        if (model.count(pick) != 0) {
          EXPECT_EQ(*set.find(pick), pick);
        }
      }
      if (step % 53 == 0) {
        ASSERT_TRUE(sameAs(set, model)) << "seed " << seed << " step " << step;
      }
    }
  }
}

// Erasing while iterating keeps the other positions valid, and erasing by position answers the
// next one; a handle whose entity went is never read while it is held.
TEST(KeyOrderedSetTest, ErasingLeavesOtherPositionsAndStaleHandlesAlone) {
  std::vector<std::unique_ptr<Keyed> > made;
  KeyOrderedSet<Keyed> set;
  for (int i = 0; i < 10; ++i) {
    made.emplace_back(new Keyed);
    set.insert(made.back()->getId());
  }
  auto it = set.begin();
  std::advance(it, 3);
  set.erase(made[4]->getId());
  set.erase(made[2]->getId());
  EXPECT_EQ(*it, made[3]->getId());
  it = set.erase(it);
  EXPECT_EQ(*it, made[5]->getId());
  // A held entity goes behind the set's back: its neighbours are still found.
  const Id<Keyed> stale = made[6]->getId();
  made[6].reset();
  EXPECT_EQ(set.count(made[7]->getId()), 1u);
  EXPECT_EQ(set.size(), 7u);
  // A refused lookup names the stale handle it was given.
  EXPECT_THROW(set.count(stale), Error);
}

} // namespace
} // namespace KALDEN
