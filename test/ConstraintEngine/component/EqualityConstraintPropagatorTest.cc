#include "support/EqualityPropagatorFixture.hh"
#include "support/Failure.hh"

#include <gtest/gtest.h>

#include <algorithm>
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

TEST_F(EqualityConstraintPropagatorTest, DomainsOfDifferentFinitenessAreIntersected) {
  // A singleton real interval is finite and a wide one is not: they still share 5. Integer
  // members round the bounds that real ones share, whichever member comes first.
  const Id<ConstrainedVariable> x = floatVar("x", 5, 5);
  const Id<ConstrainedVariable> y = floatVar("y", 0, 10);
  const Id<ConstrainedVariable> r = floatVar("r", 0.5, 3.5);
  const Id<ConstrainedVariable> i = intVar("i", 0, 5);
  equal(Scope{x, y});
  equal(Scope{r, i});
  EXPECT_EQ(run(), 1);
  EXPECT_EQ(bounds(y), (Bounds{5, 5}));
  EXPECT_EQ(bounds(r), (Bounds{1, 3}));
  EXPECT_FALSE(m_engine->provenInconsistent());
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

    std::set<int> shared;
    for (int v = 0; v <= 8; ++v)
      if (std::all_of(contents.begin(), contents.end(), [v](const std::set<int>& held) { return held.count(v) > 0; }))
        shared.insert(v);
    if (shared.empty()) {
      EXPECT_TRUE(m_engine->provenInconsistent()) << "round " << round;
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

TEST_F(EqualityConstraintPropagatorTest, ConnectionsAreCountedAndRemembered) {
  const Id<ConstrainedVariable> a = intVar("a", 0, 10);
  const Id<ConstrainedVariable> b = intVar("b", 0, 10);
  const Id<ConstrainedVariable> c = intVar("c", 0, 10);
  const Id<Constraint> ab = equal(Scope{a, b});
  const Id<Constraint> ba = equal(Scope{b, a}); // the same pair twice
  const Id<Constraint> bc = equal(Scope{b, c});
  run();

  // The engine announces a redundant constraint again while it is active: it joins nothing twice.
  m_equality->handleConstraintActivated(bc);
  bc->deactivate();
  EXPECT_FALSE(m_equality->updateRequired()); // the parts of a narrowed class need no narrowing
  destroy(ab);                                // ba still joins a and b
  restrict(a, 2, 8);
  run();
  EXPECT_EQ(bounds(b), (Bounds{2, 8}));
  EXPECT_EQ(bounds(c), (Bounds{0, 10}));

  bc->undoDeactivation();
  run();
  EXPECT_EQ(bounds(c), (Bounds{2, 8}));
  ba->deactivate();
  destroy(ba); // disconnected already: nothing is taken back twice
  restrict(a, 3, 7);
  run();
  EXPECT_EQ(bounds(b), (Bounds{2, 8}));
  destroy(bc);
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
