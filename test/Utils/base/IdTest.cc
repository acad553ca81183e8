#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "Utils/Entity.hh"
#include "Utils/base/Id.hh"

#include "support/Failure.hh"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <vector>

namespace KALDEN {
namespace {

struct Shape {
  virtual ~Shape() = default;
};
struct Circle : Shape {};
struct Square : Shape {};

struct Face {
  virtual ~Face() = default;
};
struct Widget : virtual Face {
  int payload = 7;
};

// A keyed entity that registers its own handle, as variables and constraints do.
class Thing : public Entity {
public:
  Thing() : m_id(this) {}
  ~Thing() override { m_id.remove(); }
  const Id<Thing>& getId() const { return m_id; }

private:
  Id<Thing> m_id;
};

std::string printed(const Id<Shape>& id) {
  std::ostringstream os;
  os << id;
  return os.str();
}

TEST(IdTest, LifeOfAHandle) {
  Circle* c = new Circle;
  Id<Shape> id(c);
  Id<Shape> copy = id;
  EXPECT_TRUE(id.isValid());
  EXPECT_TRUE(copy == id);
  EXPECT_FALSE(id.isNoId());

  copy.remove();
  EXPECT_TRUE(copy.isNoId());
  EXPECT_FALSE(id.isValid()) << "other copies become stale";
  EXPECT_TRUE(id.isId());

  // The same address registers again under a new key; the stale copy stays stale.
  Id<Shape> again(c);
  EXPECT_TRUE(again.isValid());
  EXPECT_FALSE(id.isValid());
  EXPECT_FALSE(again == id) << "two registrations of one address differ";
  EXPECT_TRUE(id < again) << "ordering follows registration, not addresses";
  again.release();
  EXPECT_TRUE(again.isNoId());
}

TEST(IdTest, ValidityFollowsRegistrationsAcrossManyKeys) {
  // Enough registrations to span several blocks of keys, so that blocks whose keys all went are
  // given back while one key in an early block stays live; freed objects' addresses come back
  // from the allocator under new keys.
  Circle* kept = new Circle;
  Id<Shape> keptId(kept);
  std::vector<Id<Shape> > stale;
  std::vector<Id<Shape> > live;
  for (int i = 0; i < 5000; ++i) {
    Id<Shape> id(new Circle);
    if (i % 7 == 0) {
      live.push_back(id);
    } else {
      stale.push_back(id);
      id.release();
    }
  }
  EXPECT_TRUE(keptId.isValid());
  for (const Id<Shape>& id : live)
    ASSERT_TRUE(id.isValid());
  for (const Id<Shape>& id : stale)
    ASSERT_FALSE(id.isValid());
  const std::vector<Id<Shape> > copies = live;
  for (Id<Shape>& id : live)
    id.release();
  for (const Id<Shape>& id : copies)
    ASSERT_FALSE(id.isValid());
  EXPECT_TRUE(keptId.isValid());
  keptId.release();
}

TEST(IdTest, EmptyHandle) {
  Id<Shape> empty;
  EXPECT_TRUE(empty.isNoId());
  EXPECT_FALSE(empty.isId());
  EXPECT_FALSE(empty.isValid());
  EXPECT_TRUE(empty == Id<Shape>::noId());
  EXPECT_EQ(&Id<Shape>::noId(), &Id<Shape>::noId());
  EXPECT_EQ(printed(empty), "noId");
  Id<Circle> converted(empty);
  EXPECT_TRUE(converted.isNoId());
}

TEST(IdTest, PrintsItsKeyEvenWhenStale) {
  Circle c;
  Id<Shape> id(&c);
  std::string text = printed(id);
  EXPECT_EQ(text.rfind("id_", 0), 0u);
  EXPECT_GT(std::stoul(text.substr(3)), 0u);
  Id<Shape> copy = id;
  id.remove();
  EXPECT_EQ(printed(copy), text);
}

TEST(IdTest, Conversions) {
  Circle* c = new Circle;
  Id<Circle> circle(c);
  Id<Shape> shape(circle);
  EXPECT_TRUE(shape.isValid());
  EXPECT_TRUE((Id<Circle>::convertable(shape)));
  EXPECT_FALSE((Id<Square>::convertable(shape)));
  Id<Circle> back(shape);
  EXPECT_TRUE(back == circle);
  Circle* raw = circle;
  EXPECT_EQ(raw, c);

  Error e = failureOf([&] { Id<Square> wrong(shape); });
  EXPECT_EQ(e.getCondition(), "Id<T>::convertable(org)");
  EXPECT_EQ(e.getMessage(),
            "Invalid cast from Id<KALDEN::(anonymous namespace)::Shape> to Id<KALDEN::(anonymous namespace)::Square>.");
  EXPECT_EQ(e.getLabel(), "IdMgrInvalidItemPtrError");
  EXPECT_EQ(e.getFile(), "Utils/base/Id");
  circle.release();
}

TEST(IdTest, ConversionToVirtualBaseAdjustsTheAddress) {
  Widget w;
  Id<Widget> id(&w);
  Face* face = id;
  EXPECT_EQ(face, static_cast<Face*>(&w));
  Face* none = Id<Widget>::noId();
  EXPECT_EQ(none, nullptr);
  id.remove();
}

TEST(IdTest, EntityConversionsShareTheRegisteredAddress) {
  Thing t;
  Id<Entity> entity(t.getId());
  EXPECT_TRUE(entity.isValid());
  Id<Thing> back(entity);
  EXPECT_TRUE(back == t.getId());
  PSEntity* ps = entity;
  EXPECT_EQ(ps->getKey(), t.getKey());
}

TEST(IdTest, Failures) {
  Error nullPtr = failureOf([] { Id<Shape> id(static_cast<Shape*>(nullptr)); });
  EXPECT_EQ(nullPtr.getCondition(), "ptr != 0");
  EXPECT_EQ(nullPtr.getMessage(), "Cannot generate an Id<KALDEN::(anonymous namespace)::Shape> for 0 pointer.");
  EXPECT_EQ(nullPtr.getLabel(), "IdMgrInvalidItemPtrError");

  Circle c;
  Id<Shape> first(&c);
  Error twice = failureOf([&] { Id<Shape> second(&c); });
  EXPECT_EQ(twice.getCondition(), "m_key != 0");
  EXPECT_EQ(twice.getMessage(),
            "Cannot generate an Id<KALDEN::(anonymous namespace)::Shape> for a pointer that has not been cleaned up.");
  EXPECT_TRUE(first.isValid()) << "a refused registration leaves the first one alone";

  Id<Shape> empty;
  EXPECT_EQ(failureOf([&] { empty.remove(); }).getMessage(),
            "Cannot remove an invalid Id<KALDEN::(anonymous namespace)::Shape>.");
  EXPECT_EQ(failureOf([&] { empty.release(); }).getCondition(), "isValid()");

  // Releasing a stale handle fails before anything is deleted.
  Id<Shape> stale = first;
  first.remove();
  Error e = failureOf([&] { stale.release(); });
  EXPECT_EQ(e.getMessage(), "Cannot release an invalid Id<KALDEN::(anonymous namespace)::Shape>.");
  EXPECT_TRUE(stale.isId());

  // Messages name the class as written; the registry keeps the run-time type name.
  Id<ConstrainedVariable> noVariable;
  EXPECT_EQ(failureOf([&] { noVariable.release(); }).getMessage(),
            "Cannot release an invalid Id<KALDEN::ConstrainedVariable>.");
  Id<Shape> registered(&c);
  EXPECT_STREQ(IdTable::getType(reinterpret_cast<std::uintptr_t>(&c)), typeid(Shape).name());
  registered.remove();
}

TEST(IdTest, StaleHandleLeavesRegistryAndObjectAloneWhenFailuresOnlyPrint) {
  Circle* c = new Circle;
  Id<Shape> first(c);
  Id<Shape> stale = first;
  first.release();
  // The freed block is likely handed out again: a stale handle must not unregister or delete it.
  Circle* next = new Circle;
  Id<Shape> live(next);
  testing::internal::CaptureStderr();
  {
    NoThrowScope guard;
    stale.release();
    stale.remove();
  }
  std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_NE(printed.find("Cannot remove an invalid Id"), std::string::npos);
  EXPECT_NE(printed.find("Cannot release an invalid Id"), std::string::npos);
  EXPECT_TRUE(stale.isId());
  EXPECT_TRUE(live.isValid());
  live.release();
}

TEST(IdTest, RefusedHandleIsEmptyWhenFailuresOnlyPrint) {
  Circle c;
  Id<Shape> first(&c);
  testing::internal::CaptureStderr();
  {
    NoThrowScope guard;
    Id<Shape> second(&c);
    EXPECT_TRUE(second.isNoId());
    Id<Shape> nowhere(static_cast<double>(reinterpret_cast<std::uintptr_t>(&c)) + 8.0);
    EXPECT_TRUE(nowhere.isNoId());
  }
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(first.isValid());
  first.remove();
}

TEST(IdTest, FromADoubleAddress) {
  Id<PSEntity> none(0.0);
  EXPECT_TRUE(none.isNoId());

  Error e = failureOf([] { Id<PSEntity> bad(123.5); });
  EXPECT_EQ(e.getCondition(), "m_key != 0");
  EXPECT_EQ(e.getMessage(), "Cannot instantiate an Id<KALDEN::PSEntity> for this address. No instance present.");
  EXPECT_EQ(failureOf([] { Id<PSEntity> bad(-8.0); }).getCondition(), "m_key != 0");
  EXPECT_EQ(failureOf([] { Id<PSEntity> bad(1e30); }).getCondition(), "m_key != 0");

  // A full-width address survives the trip through a double.
  Circle c;
  Id<Shape> id(&c);
  Shape* shape = &c;
  Id<Shape> fromDouble(static_cast<double>(reinterpret_cast<std::uintptr_t>(shape)));
  EXPECT_TRUE(fromDouble == id);
  id.remove();
  EXPECT_EQ(
      failureOf([&] { Id<Shape> gone(static_cast<double>(reinterpret_cast<std::uintptr_t>(shape))); }).getCondition(),
      "m_key != 0");
}

TEST(IdTest, PlainSetsIterateInRegistrationOrder) {
  // Registered against address order both ways, the set follows registration alone.
  Circle shapes[4];
  const int order[4] = {2, 0, 3, 1};
  std::vector<Id<Shape> > registered;
  for (int i : order)
    registered.push_back(Id<Shape>(&shapes[i]));
  const std::set<Id<Shape> > ids(registered.rbegin(), registered.rend());
  EXPECT_EQ(std::vector<Id<Shape> >(ids.begin(), ids.end()), registered);
  for (Id<Shape>& id : registered)
    id.remove();
}

} // namespace
} // namespace KALDEN
