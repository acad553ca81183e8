#include "support/EqualityPropagatorFixture.hh"
#include "support/Failure.hh"
#include "support/ScatteredBlocks.hh"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <list>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

using Values = std::vector<double>;
using Bounds = std::vector<double>;

class EqualityConstraintPropagatorTest : public EqualityPropagatorFixture {};

TEST_F(EqualityConstraintPropagatorTest, AChainIsNarrowedInOneStep) {
  const Id<ConstrainedVariable> x = floatVar("x", 0, 10);
  const Id<ConstrainedVariable> y = floatVar("y", 5, 20);
  const Id<ConstrainedVariable> z = floatVar("z", 0, 7);
  equal(Scope{x, y});
  equal(Scope{y, z});
  EXPECT_TRUE(m_equality->updateRequired());
  EXPECT_EQ(run(), 1);
  for (const Id<ConstrainedVariable>& v : {x, y, z})
    EXPECT_EQ(bounds(v), (Bounds{5, 7})) << v->getName().toString();

  // A change anywhere in the class is carried to every member by the next single step.
  restrict(z, 6, 7);
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(bounds(x), (Bounds{6, 7}));
  EXPECT_EQ(bounds(y), (Bounds{6, 7}));
}

TEST_F(EqualityConstraintPropagatorTest, ALongChainIsNarrowedInOneStep) {
  Scope vars;
  for (int i = 0; i < 1000; ++i)
    vars.push_back(intVar(("v" + std::to_string(i)).c_str(), -i, 2000 - i));
  for (std::size_t i = 1; i < vars.size(); ++i)
    equal(Scope{vars[i - 1], vars[i]});
  EXPECT_EQ(run(), 1);
  for (const Id<ConstrainedVariable>& v : vars)
    ASSERT_EQ(bounds(v), (Bounds{0, 1001}));
}

TEST_F(EqualityConstraintPropagatorTest, EveryPositionOfAWideScopeIsJoined) {
  const Id<ConstrainedVariable> a = intVar("a", 0, 10);
  const Id<ConstrainedVariable> b = intVar("b", 2, 10);
  const Id<ConstrainedVariable> c = intVar("c", 0, 8);
  const Id<ConstrainedVariable> d = intVar("d", 3, 20);
  equal(Scope{a, b, c, d});
  run();
  for (const Id<ConstrainedVariable>& v : {a, b, c, d})
    EXPECT_EQ(bounds(v), (Bounds{3, 8}));

  // A scope that repeats one variable joins only the distinct neighbours, and one that is
  // nothing but that variable joins nothing and ignores its changes.
  const Id<ConstrainedVariable> e = intVar("e", 5, 5);
  const Id<ConstrainedVariable> f = intVar("f", 0, 9);
  equal(Scope{e, e, f, f});
  equal(Scope{f, f});
  run();
  EXPECT_EQ(bounds(f), (Bounds{5, 5}));
  equal(Scope{a, a});
  restrict(a, 4, 8);
  run();
  EXPECT_EQ(bounds(d), (Bounds{4, 8}));
}

TEST_F(EqualityConstraintPropagatorTest, DomainsOfDifferentFinitenessAreIntersected) {
  // A singleton real interval is finite and a wide one is not: they still share 5.
  const Id<ConstrainedVariable> x = floatVar("x", 5, 5);
  const Id<ConstrainedVariable> y = floatVar("y", 0, 10);
  equal(Scope{x, y});
  // An enumeration is finite, a real interval is not.
  const Id<ConstrainedVariable> e = enumVar("e", {1, 2, 3});
  const Id<ConstrainedVariable> r = floatVar("r", 0, 2.5);
  equal(Scope{r, e});
  // Integer members round the bounds that real members share, whichever member comes first.
  const Id<ConstrainedVariable> r1 = floatVar("r1", 0.5, 3.5);
  const Id<ConstrainedVariable> i1 = intVar("i1", 0, 5);
  const Id<ConstrainedVariable> r2 = floatVar("r2", 0, 10);
  equal(Scope{r1, i1, r2});
  EXPECT_EQ(run(), 1);
  EXPECT_FALSE(m_engine->provenInconsistent());
  for (const Id<ConstrainedVariable>& v : {r1, i1, r2})
    EXPECT_EQ(bounds(v), (Bounds{1, 3})) << v->getName().toString();
  EXPECT_EQ(bounds(x), (Bounds{5, 5}));
  EXPECT_EQ(bounds(y), (Bounds{5, 5}));
  EXPECT_EQ(values(e), (Values{1, 2}));
  EXPECT_EQ(bounds(r), (Bounds{1, 2}));
}

// Small random classes of integer intervals, real intervals with integral bounds and integer
// enumerations. They hold together exactly the integers in all of them: afterwards each
// enumeration must be that set and each interval its hull, or some domain empty when it is empty.
TEST_F(EqualityConstraintPropagatorTest, MixedClassesEndWithTheValuesAllMembersShare) {
  std::mt19937 random(7);
  auto pick = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned int>(n)); };
  for (int round = 0; round < 300; ++round) {
    Scope vars;
    std::vector<std::set<int> > contents;
    const int size = 2 + pick(4);
    for (int i = 0; i < size; ++i) {
      const std::string name = "m" + std::to_string(i);
      std::set<int> held;
      const int kind = pick(3);
      if (kind == 2) {
        std::list<double> members;
        for (int v = 0; v <= 8; ++v)
          if (pick(2) == 0)
            members.push_back(v);
        if (members.empty())
          members.push_back(pick(9));
        vars.push_back(enumVar(name.c_str(), members));
        held.insert(members.begin(), members.end());
      } else {
        const int lb = pick(9);
        const int ub = lb + pick(9 - lb);
        vars.push_back(kind == 0 ? intVar(name.c_str(), lb, ub) : floatVar(name.c_str(), lb, ub));
        for (int v = lb; v <= ub; ++v)
          held.insert(v);
      }
      contents.push_back(held);
    }
    // Joined by one wide equality or by a chain of pairs.
    if (pick(2) == 0) {
      equal(vars);
    } else {
      for (std::size_t i = 1; i < vars.size(); ++i)
        equal(Scope{vars[i - 1], vars[i]});
    }
    EXPECT_EQ(run(), 1);

    std::set<int> shared = contents[0];
    for (const std::set<int>& held : contents) {
      std::set<int> kept;
      for (int v : shared)
        if (held.count(v))
          kept.insert(v);
      shared = kept;
    }
    if (shared.empty()) {
      EXPECT_TRUE(m_engine->hasEmptyVariables()) << "round " << round;
    } else {
      EXPECT_FALSE(m_engine->provenInconsistent()) << "round " << round;
      const Values expected(shared.begin(), shared.end());
      for (const Id<ConstrainedVariable>& v : vars) {
        if (dom(v).isEnumerated())
          EXPECT_EQ(values(v), expected) << "round " << round;
        else
          EXPECT_EQ(bounds(v), (Bounds{expected.front(), expected.back()})) << "round " << round;
      }
    }
    for (const Id<ConstrainedVariable>& v : vars)
      destroy(v);
    run();
  }
}

TEST_F(EqualityConstraintPropagatorTest, DisjointMembersEmptyTheFirstAndTheOneThatLeftNothing) {
  const Id<ConstrainedVariable> a = intVar("a", 0, 5);
  const Id<ConstrainedVariable> b = intVar("b", 3, 9);
  const Id<ConstrainedVariable> c = intVar("c", 7, 9);
  equal(Scope{c, b, a});
  run();
  // In creation order the first takes in the others until one leaves nothing: a, with b [3, 5], then c.
  EXPECT_TRUE(dom(a).isEmpty());
  EXPECT_FALSE(dom(b).isEmpty());
  EXPECT_TRUE(dom(c).isEmpty());
  EXPECT_TRUE(m_engine->hasEmptyVariables());
}

// What the class chooses (the shared domain, the member emptied, bounds kept within the tolerance)
// follows the order the members were made, wherever the allocator puts them.
TEST_F(EqualityConstraintPropagatorTest, ChoicesFollowCreationOrderWhereverMembersLie) {
  std::mt19937 random(11);
  for (int layout = 0; layout < 24; ++layout) {
    scatterNextBlocks(random, sizeof(Variable<EnumeratedDomain>));
    const Id<ConstrainedVariable> x = enumVar("x", {1});
    const Id<ConstrainedVariable> y = enumVar("y", {2});
    const Id<ConstrainedVariable> z = enumVar("z", {1, 2});
    const Id<ConstrainedVariable> w = enumVar("w", {1, 2});
    equal(Scope{x, z});
    equal(Scope{z, w});
    equal(Scope{w, y});
    EXPECT_FALSE(m_engine->propagate());
    std::string emptied;
    for (const Id<ConstrainedVariable>& v : m_engine->getViolationMgr().getEmptyVariables())
      emptied += v->getName().toString();
    EXPECT_EQ(emptied, "xy") << "layout " << layout;
    for (const Id<ConstrainedVariable>& v : {x, y, z, w})
      destroy(v);

    // Bounds within the tolerance of each other: the shared domain keeps its own.
    scatterNextBlocks(random, sizeof(Variable<IntervalDomain>));
    const Id<ConstrainedVariable> p = floatVar("p", 1.0000001, 1.000004);
    const Id<ConstrainedVariable> q = floatVar("q", 1.0, 1.0);
    const Id<ConstrainedVariable> r = floatVar("r", 1.0000001, 1.000015);
    equal(Scope{r, q, p});
    EXPECT_TRUE(m_engine->propagate());
    EXPECT_EQ(bounds(r), (Bounds{1.0000001, 1.000004})) << "layout " << layout; // [1.0000001, 1.0] from q first
    EXPECT_EQ(bounds(q), (Bounds{1.0, 1.0})) << "layout " << layout;
    for (const Id<ConstrainedVariable>& v : {p, q, r})
      destroy(v);
    m_engine->propagate();
  }
}

// An open member may still gain any value: the closed ones are narrowed to what they share
// wherever it stands in the class, and it is left as it is.
TEST_F(EqualityConstraintPropagatorTest, AnOpenDomainIsLeftOutOfTheNarrowing) {
  NumericDomain open(IntDT::instance());
  open.insert(1);
  open.insert(4);
  const Id<ConstrainedVariable> o = (new Variable<EnumeratedDomain>(engine(), open, false, true, "o",
                                                                    Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
                                        ->getId();
  ASSERT_TRUE(dom(o).isOpen());
  const Id<ConstrainedVariable> x = intVar("x", 0, 10);
  const Id<ConstrainedVariable> y = intVar("y", 2, 20);
  equal(Scope{x, o, y});
  run();
  EXPECT_EQ(bounds(x), (Bounds{2, 10}));
  EXPECT_EQ(bounds(y), (Bounds{2, 10}));
  EXPECT_TRUE(dom(o).isOpen());
  EXPECT_EQ(dom(o).getSize(), 2);
}

TEST_F(EqualityConstraintPropagatorTest, DeactivationSplitsAndReactivationJoins) {
  const Id<ConstrainedVariable> a = intVar("a", 0, 10);
  const Id<ConstrainedVariable> b = intVar("b", 0, 10);
  const Id<ConstrainedVariable> c = intVar("c", 0, 10);
  equal(Scope{a, b});
  const Id<Constraint> bc = equal(Scope{b, c});
  run();

  bc->deactivate();
  EXPECT_FALSE(m_equality->updateRequired()); // the parts of a narrowed class need no narrowing
  restrict(a, 2, 8);
  run();
  EXPECT_EQ(bounds(b), (Bounds{2, 8}));
  EXPECT_EQ(bounds(c), (Bounds{0, 10}));

  bc->undoDeactivation();
  run();
  EXPECT_EQ(bounds(c), (Bounds{2, 8}));

  // The engine announces a redundant constraint again while it is active: nothing is joined twice,
  // so one deactivation still splits the class.
  m_equality->handleConstraintActivated(bc);
  bc->deactivate();
  run();
  a->restrictBaseDomain(IntervalIntDomain(3, 7, IntDT::instance()));
  run();
  EXPECT_EQ(bounds(b), (Bounds{3, 7}));
  // The split relaxed a, beyond bc's scope, and that relaxation went on through bc, switched off.
  EXPECT_EQ(bounds(c), (Bounds{0, 10}));

  // Removing the deactivated constraint splits nothing a second time: what it relaxes narrows
  // back to the same.
  destroy(bc);
  run();
  EXPECT_EQ(bounds(b), (Bounds{3, 7}));
  EXPECT_EQ(bounds(c), (Bounds{0, 10}));
}

TEST_F(EqualityConstraintPropagatorTest, TwoEqualitiesOverOnePairJoinItUntilBothGo) {
  const Id<ConstrainedVariable> a = intVar("a", 0, 10);
  const Id<ConstrainedVariable> b = intVar("b", 0, 10);
  const Id<Constraint> first = equal(Scope{a, b});
  const Id<Constraint> second = equal(Scope{b, a});
  run();
  destroy(first);
  run();
  restrict(a, 1, 9);
  run();
  EXPECT_EQ(bounds(b), (Bounds{1, 9}));
  second->deactivate();
  run();
  restrict(a, 2, 8);
  run();
  EXPECT_EQ(bounds(b), (Bounds{1, 9}));
  destroy(second);
}

TEST_F(EqualityConstraintPropagatorTest, ARemovalWithClassesQueuedNarrowsEveryClass) {
  const Id<ConstrainedVariable> a = intVar("a", 0, 10);
  const Id<ConstrainedVariable> b = intVar("b", 0, 10);
  const Id<ConstrainedVariable> c = intVar("c", 0, 10);
  const Id<ConstrainedVariable> d = intVar("d", 0, 10);
  const Id<ConstrainedVariable> e = intVar("e", 0, 10);
  equal(Scope{a, b});
  const Id<Constraint> cd = equal(Scope{c, d});
  const Id<Constraint> de = equal(Scope{d, e});
  run();
  restrict(a, 1, 9); // queues {a, b}
  destroy(de);       // renumbers: the queue gives way to every class
  restrict(c, 2, 8); // needs no queueing of its own
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(bounds(b), (Bounds{1, 9}));
  EXPECT_EQ(bounds(d), (Bounds{2, 8}));
  EXPECT_EQ(bounds(e), (Bounds{0, 10}));
  destroy(cd);
}

TEST_F(EqualityConstraintPropagatorTest, ShortScopesAndOtherConstraints) {
  const Id<ConstrainedVariable> x = intVar("x", 0, 10);
  const Id<ConstrainedVariable> y = intVar("y", 0, 10);
  // One variable equals itself: the constraint is taken, joins nothing and queues nothing.
  const Id<Constraint> alone = equal(Scope{x});
  EXPECT_FALSE(m_equality->updateRequired());
  restrict(x, 0, 9);
  EXPECT_FALSE(m_equality->updateRequired());
  destroy(alone);

  // Only equalities may be given to it; the type is known once the constraint is built.
  const Id<Constraint> other = (new NotEqualConstraint("neq", "Equal", engine(), Scope{x, y}))->getId();
  EXPECT_CHECK_FAILS(m_equality->execute(), "Id<EqualConstraint>::convertable(constraint)");
  destroy(other);
  run();
  EXPECT_EQ(bounds(y), (Bounds{0, 10}));
}

} // namespace
} // namespace KALDEN

