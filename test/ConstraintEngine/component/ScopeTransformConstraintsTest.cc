#include "ConstraintEngine/component/ScopeTransformConstraints.hh"

#include "ConstraintEngine/base/ConstraintType.hh"
#include "ConstraintEngine/component/ArithmeticConstraints.hh"
#include "Utils/IdTable.hh"
#include "support/BoundsFixture.hh"
#include "support/Failure.hh"
#include "support/TestConstraints.hh"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

typedef std::vector<Id<ConstrainedVariable> > Scope;

// A schema that knows "probe" (records its scope, narrows nothing), "addEq", a rotation of
// "addEq" and a swap of that rotation; all join the propagating "Running" propagator.
class ScopeTransformConstraintsTest : public BoundsFixture {
protected:
  ScopeTransformConstraintsTest() {
    m_schema->registerConstraintType((new ConcreteConstraintType<TestConstraint>("probe", "Running", true))->getId());
    m_schema->registerConstraintType(
        (new ConcreteConstraintType<AddEqualConstraint>("addEq", "Running", true))->getId());
    m_schema->registerConstraintType(
        (new RotatedNaryConstraintType<RotateScopeRightConstraint>("rotAdd", "Running", "addEq", 1))->getId());
    m_schema->registerConstraintType(
        (new SwapTwoVarsNaryConstraintType<SwapTwoVarsConstraint>("swapRot", "Running", "rotAdd", 0, 1))->getId());
  }

  // The one registered constraint of that name, or no handle.
  Id<Constraint> constraintNamed(const std::string& name) const {
    Id<Constraint> found;
    for (const Id<Constraint>& c : m_engine->getConstraints())
      if (c->getName().toString() == name) {
        EXPECT_TRUE(found.isNoId()) << "two constraints named " << name;
        found = c;
      }
    return found;
  }

  // What a refused creation must leave exactly as it was.
  struct Census {
    std::size_t constraints, entities, handles;
    bool operator==(const Census& o) const {
      return constraints == o.constraints && entities == o.entities && handles == o.handles;
    }
  };
  Census census() const {
    Entity::garbageCollect();
    return Census{m_engine->getConstraints().size(), Entity::liveCount(), IdTable::size()};
  }
};

TEST_F(ScopeTransformConstraintsTest, DelegateSeesThePermutedScopeAndGoesWithItsOwner) {
  m_engine->setAutoPropagation(false);
  const Id<ConstrainedVariable> a = floatVar("a", 0, 1), b = floatVar("b", 0, 1), c = floatVar("c", 0, 1),
                                d = floatVar("d", 0, 1);
  const struct {
    int count;
    Scope expected;
  } rotations[] = {{1, {d, a, b, c}}, {3, {b, c, d, a}}, {-1, {b, c, d, a}}, {-3, {d, a, b, c}}, {0, {a, b, c, d}}};
  for (const auto& r : rotations) {
    {
      RotateScopeRightConstraint rotated("rot", "Running", engine(), makeScope(a, b, c, d), "probe", r.count);
      const Id<Constraint> delegate = constraintNamed("probe");
      ASSERT_TRUE(delegate.isValid()) << r.count;
      EXPECT_EQ(delegate->getScope(), r.expected) << "count " << r.count;
    }
    EXPECT_TRUE(m_engine->getConstraints().empty()) << "count " << r.count << ": the delegate outlived its owner";
  }

  SwapTwoVarsConstraint* swapped =
      new SwapTwoVarsConstraint("swap", "Running", engine(), makeScope(a, b, c), "probe", 2, 0);
  EXPECT_EQ(constraintNamed("probe")->getScope(), makeScope(c, b, a));
  // Discarding without deleting retires both; the pool frees them.
  swapped->discard(true);
  EXPECT_TRUE(m_engine->getConstraints().empty());
}

// Indices and counts are compared without abs(): INT_MIN is refused like any other.
TEST_F(ScopeTransformConstraintsTest, IndicesAndCountsOutsideTheScopeAreRefused) {
  const Id<ConstrainedVariable> a = floatVar("a", 0, 1), b = floatVar("b", 0, 1), c = floatVar("c", 0, 1);
  const Census before = census();
  const char* const badCount = "(unsigned) abs(rotateCount) < m_variables.size()";
  for (int count : {3, -3, INT_MAX, INT_MIN})
    EXPECT_CHECK_FAILS(RotateScopeRightConstraint("rot", "Running", engine(), makeScope(a, b, c), "probe", count),
                       badCount)
        << count;
  const char* const badFirst = "(unsigned) abs(firstIndex) < m_variables.size()";
  const char* const badSecond = "(unsigned) abs(secondIndex) < m_variables.size()";
  const struct {
    int first, second;
    const char* condition;
  } swaps[] = {{3, 0, badFirst},
               {-1, 0, badFirst},
               {INT_MIN, 0, badFirst},
               {0, -2, badSecond},
               {0, INT_MIN, badSecond},
               {1, 3, badSecond},
               {1, 1, "firstIndex != secondIndex"}};
  for (const auto& s : swaps)
    EXPECT_CHECK_FAILS(
        SwapTwoVarsConstraint("swap", "Running", engine(), makeScope(a, b, c), "probe", s.first, s.second), s.condition)
        << s.first << "<->" << s.second;
  EXPECT_TRUE(census() == before);
  EXPECT_EQ(a->getConstraints().size(), 0);
}

TEST_F(ScopeTransformConstraintsTest, CyclicDelegateChainsAreRefusedAndLeaveNothing) {
  m_schema->registerConstraintType(
      (new RotatedNaryConstraintType<RotateScopeRightConstraint>("ping", "Running", "pong", 1))->getId());
  m_schema->registerConstraintType(
      (new SwapTwoVarsNaryConstraintType<SwapTwoVarsConstraint>("pong", "Running", "pang", 0, 2))->getId());
  m_schema->registerConstraintType(
      (new RotatedNaryConstraintType<RotateScopeRightConstraint>("pang", "Running", "ping", -1))->getId());
  const Id<ConstrainedVariable> x = floatVar("x", 0, 10), y = floatVar("y", 3, 4), z = floatVar("z", 1, 2);
  const Census before = census();
  for (const char* name : {"ping", "pong", "pang"})
    EXPECT_CHECK_FAILS(m_engine->createConstraint(name, makeScope(x, y, z)), "!isBeingBuilt(otherName)") << name;
  // Built directly, a transform whose chain enters the cycle is refused alike.
  EXPECT_CHECK_FAILS(RotateScopeRightConstraint("direct", "Running", engine(), makeScope(x, y, z), "ping", 1),
                     "!isBeingBuilt(otherName)");
  EXPECT_TRUE(census() == before);
  EXPECT_EQ(x->getConstraints().size(), 0);

  // The refusals left no name marked as being built: a sound chain is still created.
  const Id<Constraint> chain = m_engine->createConstraint("swapRot", makeScope(x, y, z));
  EXPECT_TRUE(constraintNamed("addEq").isValid());
  m_engine->deleteConstraint(chain);
}

// A transform built directly under the name of the plain type it delegates to is no cycle:
// nothing it creates comes back to a transform.
TEST_F(ScopeTransformConstraintsTest, TransformNamedLikeItsDelegateIsBuilt) {
  m_engine->setAutoPropagation(false);
  const Id<ConstrainedVariable> x = floatVar("x", 0, 10), y = floatVar("y", 3, 4), z = floatVar("z", 1, 2);
  const Census before = census();
  {
    RotateScopeRightConstraint rotated("addEq", "Running", engine(), makeScope(x, y, z), "addEq", 1);
    SwapTwoVarsConstraint swapped("probe", "Running", engine(), makeScope(x, y, z), "probe", 0, 2);
    EXPECT_EQ(m_engine->getConstraints().size(), 4u);
    EXPECT_TRUE(m_engine->propagate());
    EXPECT_EQ(bounds(x), Bounds({1, 3})); // rotated to [z, x, y]: z + x = y
  }
  EXPECT_TRUE(census() == before);
}

// A chain of two transforms over addEq: [x, y, z] swaps to [y, x, z], rotates to [z, y, x],
// so z + y = x. Auto-propagation runs inside each createConstraint, while the outer ones are
// still in their constructors.
TEST_F(ScopeTransformConstraintsTest, ChainPropagatesWhileItsOwnersAreBuilt) {
  ASSERT_TRUE(m_engine->getAutoPropagation());
  const Id<ConstrainedVariable> x = floatVar("x", 0, 10), y = floatVar("y", 3, 4), z = floatVar("z", 1, 2);
  const Census before = census();
  const Id<Constraint> chain = m_engine->createConstraint("swapRot", makeScope(x, y, z));
  EXPECT_EQ(bounds(x), Bounds({4, 6}));
  EXPECT_EQ(constraintNamed("addEq")->getScope(), makeScope(z, y, x));
  EXPECT_EQ(m_engine->getConstraints().size(), 3u);
  m_engine->deleteConstraint(chain);
  EXPECT_TRUE(census() == before);
}

TEST_F(ScopeTransformConstraintsTest, StaleOrMissingDelegatesAreNotDiscardedTwice) {
  const Id<ConstrainedVariable> x = floatVar("x", 0, 10), y = floatVar("y", 3, 4), z = floatVar("z", 1, 2);
  const Census before = census();

  // A client may not delete the delegate first.
  Id<Constraint> chain = m_engine->createConstraint("rotAdd", makeScope(x, y, z));
  EXPECT_CHECK_FAILS(m_engine->deleteConstraint(constraintNamed("addEq")), "standingOwner().isNoId()");
  m_engine->deleteConstraint(chain);
  EXPECT_TRUE(census() == before);

  // A scope variable goes: it discards the owner and the delegate, in whichever order.
  const Id<ConstrainedVariable> w = floatVar("w", 0, 10);
  const Census withW = census();
  chain = m_engine->createConstraint("swapRot", makeScope(x, y, w));
  delete static_cast<ConstrainedVariable*>(w);
  EXPECT_TRUE(m_engine->getConstraints().empty());
  Entity::garbageCollect();
  EXPECT_EQ(Entity::liveCount(), withW.entities - 1);

  // The delegate's first propagation fails after it was built: it must not stay registered.
  const Id<ConstrainedVariable> s =
      (new Variable<EnumeratedDomain>(engine(), SymbolDomain(SymbolDT::instance()), false, true, "s",
                                      Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
          ->getId();
  const Census withS = census();
  EXPECT_CHECK_FAILS(m_engine->createConstraint("rotAdd", makeScope(x, s, z)),
                     "AbstractDomain::canBeCompared(m_x, m_z)");
  EXPECT_TRUE(census() == withS) << "the built delegate was left registered";
  EXPECT_EQ(s->getConstraints().size(), 0);
}

} // namespace
} // namespace KALDEN
