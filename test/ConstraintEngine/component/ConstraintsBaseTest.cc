#include "ConstraintEngine/component/Constraints.hh"
#include "support/Failure.hh"
#include "support/LibraryFixture.hh"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

TEST(InfinityTest, SumsAndDifferencesGiveUpAtInfinity) {
  const double n = PLUS_INFINITY;
  struct Case {
    bool plus;
    double a, b, expected;
  };
  const Case cases[] = {
      {true, n - 1, 0.5, n - 0.5},
      {true, n - 1, 1, 7},
      {true, -n, 0, 7},
      {false, n - 1, -1, 7},
      {false, 1 - n, 1, 7},
      {false, 5, 3, 2},
      {true, n, -n, 7},
      {true, -3, -4, -7},
      {false, 0, n, 7},
      {true, 1 - n, -1, 7},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.plus ? Infinity::plus(c.a, c.b, 7) : Infinity::minus(c.a, c.b, 7), c.expected)
        << (c.plus ? "plus(" : "minus(") << c.a << ", " << c.b << ")";
}

TEST(InfinityTest, FollowsTheCurrentInfinity) {
  const int saved = g_infiniteTime();
  g_infiniteTime() = 100;
  EXPECT_EQ(Infinity::plus(60, 39, -1), 99);
  EXPECT_EQ(Infinity::plus(60, 40, -1), -1);
  g_infiniteTime() = saved;
}

class ConstraintShapeTest : public LibraryFixture {};

typedef std::function<void(const Id<ConstraintEngine>&, const std::vector<Id<ConstrainedVariable> >&)> Build;

template <class C>
Build build() {
  return [](const Id<ConstraintEngine>& engine, const std::vector<Id<ConstrainedVariable> >& scope) {
    new C("c", "Default", engine, scope);
  };
}

// A scope of the wrong size is refused before any entry past its end is read, and the refused
// constraint leaves neither the engine nor the variables holding it.
TEST_F(ConstraintShapeTest, WrongArityIsRefusedCleanly) {
  struct Case {
    const char* name;
    Build make;
    unsigned int size;
    const char* condition;
  };
  const Case cases[] = {
      {"UnaryConstraint", build<UnaryConstraint>(), 2, "variables.size() == 1"},
      {"SubsetOfConstraint", build<SubsetOfConstraint>(), 1, "variables.size() == 2"},
      {"LockConstraint", build<LockConstraint>(), 1, "variables.size() == 2"},
      {"NotEqualConstraint", build<NotEqualConstraint>(), 1, "variables.size() == (unsigned int) ARG_COUNT"},
      {"NotEqualConstraint", build<NotEqualConstraint>(), 3, "variables.size() == (unsigned int) ARG_COUNT"},
      {"TestEQ", build<TestEQ>(), 2, "variables.size() == ARG_COUNT"},
      {"TestLessThan", build<TestLessThan>(), 1, "variables.size() == ARG_COUNT"},
      {"TestLEQ", build<TestLEQ>(), 2, "variables.size() == ARG_COUNT"},
  };
  const std::vector<Id<ConstrainedVariable> > pool = {intVar("a", 0, 1), intVar("b", 0, 1), intVar("c", 0, 1)};
  for (const Case& c : cases) {
    const std::vector<Id<ConstrainedVariable> > scope(pool.begin(), pool.begin() + c.size);
    const Error failure = failureOf([&] { c.make(engine(), scope); });
    EXPECT_EQ(failure.getCondition(), c.condition) << c.name;
    EXPECT_EQ(failure.getFile(), "ConstraintEngine/component/Constraints") << c.name;
    EXPECT_TRUE(m_engine->getConstraints().empty()) << c.name;
    for (const Id<ConstrainedVariable>& var : pool)
      EXPECT_EQ(var->constraintCount(), 0u) << c.name;
  }
  const Error unary = failureOf([&] { new UnaryConstraint("u", "Default", engine(), pool); });
  EXPECT_EQ(unary.getMessage(), "u takes 1 variable, given 3.");
}

TEST_F(ConstraintShapeTest, DeletingThroughThePublicInterfaceRunsTheWholeDestructor) {
  const Id<ConstrainedVariable> x = intVar("x", 0, 10);
  UnaryConstraint* unary = new UnaryConstraint(IntervalIntDomain(3, 5, IntDT::instance()), x);
  const Id<Constraint> handle = unary->getId();
  delete static_cast<PSConstraint*>(unary); // the source copy must be freed too (leak check)
  EXPECT_FALSE(handle.isValid());
  EXPECT_EQ(x->constraintCount(), 0u);
  EXPECT_TRUE(m_engine->getConstraints().empty());
}

TEST_F(ConstraintShapeTest, DiscardingMembersSkipsWhatIsGoneAndNeverPoolsAMemberHeldByValue) {
  const Id<ConstrainedVariable> x = intVar("x", 0, 10);
  const Id<ConstrainedVariable> y = intVar("y", 0, 10);

  // A member gone with a variable it was linked to: discarded already, its handle still valid.
  const Id<Constraint> goneWithVariable = (new LockConstraint("lock", "Default", engine(), makeScope(x, y)))->getId();
  delete static_cast<ConstrainedVariable*>(y);
  ASSERT_TRUE(goneWithVariable.isValid());
  ConstraintShape::discardMember(goneWithVariable);

  // A member whose handle went stale.
  Id<Constraint> stale = (new SubsetOfConstraint("subset", "Default", engine(), makeScope(x, x)))->getId();
  delete static_cast<Constraint*>(stale);
  ConstraintShape::discardMember(stale);

  // A member held by value is discarded but left to its owner to destroy.
  Entity::garbageCollect();
  {
    Variable<IntervalIntDomain> internal(engine(), IntervalIntDomain(0, 1, IntDT::instance()), true, false, "internal",
                                         Id<Entity>::noId(), ConstrainedVariable::NO_INDEX);
    ConstraintShape::discardMember(internal);
    EXPECT_TRUE(internal.isDiscarded());
    ConstraintShape::discardMember(internal);
    EXPECT_EQ(Entity::pooledCount(), 0u);
  }
  EXPECT_EQ(m_engine->getVariables().size(), 1u);
}

} // namespace
} // namespace KALDEN
