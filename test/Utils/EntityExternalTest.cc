#include "Utils/Entity.hh"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <vector>

namespace KALDEN {
namespace {

class Plain : public Entity {};

// External entities are kept beside the entities: each entity answers its own, a cleared or
// never-set one answers null, and neither the death of others nor a new entity at a dead one's
// address changes what an entity answers. Checked against a plain map under random churn.
TEST(EntityExternalTest, EachEntityAnswersItsOwnUnderChurn) {
  std::mt19937 random(7);
  const Plain marker1;
  const Plain marker2;
  const PSEntity* const markers[] = {&marker1, &marker2};
  std::vector<std::unique_ptr<Plain> > entities;
  std::map<const Entity*, const PSEntity*> expected;
  for (int step = 0; step < 4000; ++step) {
    const unsigned op = random() % 6;
    if (op == 0 || entities.empty()) {
      entities.emplace_back(new Plain());
      EXPECT_EQ(entities.back()->getExternalPSEntity(), nullptr) << "a new entity has none";
      continue;
    }
    const std::size_t i = random() % entities.size();
    Plain* entity = entities[i].get();
    switch (op) {
    case 1: // dies
      expected.erase(entity);
      entities.erase(entities.begin() + static_cast<long>(i));
      break;
    case 2:
    case 3: {
      const PSEntity* external = markers[random() % 2];
      entity->setExternalPSEntity(external);
      expected[entity] = external;
      break;
    }
    case 4:
      entity->clearExternalPSEntity();
      expected.erase(entity);
      break;
    default:
      entity->setExternalPSEntity(nullptr);
      expected.erase(entity);
      break;
    }
    for (const std::unique_ptr<Plain>& e : entities) {
      const auto it = expected.find(e.get());
      ASSERT_EQ(e->getExternalPSEntity(), it == expected.end() ? nullptr : it->second) << "step " << step;
    }
  }
  // Through the public interface as well.
  Plain entity;
  PSEntity& publicEntity = entity;
  publicEntity.setExternalPSEntity(&marker1);
  EXPECT_EQ(publicEntity.getExternalPSEntity(), &marker1);
  publicEntity.clearExternalPSEntity();
  EXPECT_EQ(publicEntity.getExternalPSEntity(), nullptr);
}

} // namespace
} // namespace KALDEN
