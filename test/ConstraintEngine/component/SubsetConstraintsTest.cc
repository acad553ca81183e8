#include "ConstraintEngine/component/Constraints.hh"
#include "support/CapturedTraces.hh"
#include "support/Failure.hh"
#include "support/LibraryFixture.hh"

#include <gtest/gtest.h>

#include <functional>
#include <list>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

class SubsetConstraintsTest : public LibraryFixture {
protected:
  static void SetUpTestSuite() { SymbolDT::instance(); } // shared for the process: made before counting

  SubsetOfConstraint* subset(const Id<ConstrainedVariable>& x, const Id<ConstrainedVariable>& y) {
    return new SubsetOfConstraint("subset", "Default", engine(), makeScope(x, y));
  }
  LockConstraint* lock(const Id<ConstrainedVariable>& x, const Id<ConstrainedVariable>& y) {
    return new LockConstraint("lock", "Default", engine(), makeScope(x, y));
  }
};

TEST_F(SubsetConstraintsTest, SubsetNarrowsOnlyTheFirstDomain) {
  const Id<ConstrainedVariable> x = enumVar("x", {1, 2, 3, 4});
  const Id<ConstrainedVariable> y = enumVar("y", {2, 4, 6});
  subset(x, y)->handleExecute();
  EXPECT_EQ(values(x), (std::vector<double>{2, 4}));
  EXPECT_EQ(values(y), (std::vector<double>{2, 4, 6}));

  const Id<ConstrainedVariable> inside = intVar("inside", 3, 4);
  m_propagator->clear();
  subset(inside, intVar("outer", 0, 10))->handleExecute();
  EXPECT_EQ(bounds(inside), (std::vector<double>{3, 4}));
  EXPECT_TRUE(m_propagator->notifications().empty());
}

TEST_F(SubsetConstraintsTest, ABooleanWithinNumbersKeepsOnlyTheValuesTheyHold) {
  // A superset holding neither 0 nor 1 leaves the boolean nothing, however its bounds are signed.
  for (const Id<ConstrainedVariable>& none :
       {intVar("two", 2, 2), intVar("minusFive", -5, -5), floatVar("half", 0.5, 0.5)}) {
    const Id<ConstrainedVariable> b = boolVar("b");
    subset(b, none)->handleExecute();
    EXPECT_TRUE(dom(b).isEmpty()) << none->toString();
  }
  const Id<ConstrainedVariable> b = boolVar("b");
  subset(b, floatVar("aboveHalf", 0.5, 7))->handleExecute();
  EXPECT_EQ(bounds(b), (std::vector<double>{1, 1}));
}

TEST_F(SubsetConstraintsTest, SubsetIgnoresChangesOfItsFirstVariableOnly) {
  const Id<ConstrainedVariable> x = intVar("x", 0, 10);
  const Id<ConstrainedVariable> y = intVar("y", 0, 10);
  SubsetOfConstraint* c = subset(x, y);
  EXPECT_TRUE(c->canIgnore(x, 0, DomainListener::LOWER_BOUND_INCREASED));
  EXPECT_FALSE(c->canIgnore(y, 1, DomainListener::LOWER_BOUND_INCREASED));
  for (DomainListener::ChangeType change : {DomainListener::RESET, DomainListener::RELAXED}) {
    EXPECT_FALSE(c->canIgnore(x, 0, change));
    EXPECT_FALSE(c->canIgnore(y, 1, change));
  }
}

// Subset constraints run by the engine's own propagator.
using SubsetPropagationTest = NetworkFixture;

// Any change that may bring x values runs the subset again: opened, x takes the superset's
// members as any open x does (as a fresh engine would); an open x empty so far whose base takes a
// closed enumeration's members is held within the superset. An open superset bounds nothing yet:
// x waits for it to close.
TEST_F(SubsetPropagationTest, SubsetRunsAgainWhenXMayGainAndWaitsForAnOpenSuperset) {
  const Id<ConstrainedVariable> superset = enumVar("superset", {1, 2, 3}), x = enumVar("x", {2});
  superset->specify(2); // relaxed, it stays as it is and tells nobody
  new SubsetOfConstraint("subset", "Default", engine(), makeScope(x, superset));
  ASSERT_TRUE(m_engine->propagate());
  x->open();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(x->lastDomain().toString(), "float:CLOSED{2}");

  const Id<ConstrainedVariable> z = intVar("z", 3, 5), open = openEnum("open", {2});
  new SubsetOfConstraint("subset", "Default", engine(), makeScope(z, open));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(z->lastDomain().toString(), "int:CLOSED[3, 5]");
  open->insert(4);
  open->close();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(z->lastDomain().toString(), "int:CLOSED[3, 4]");

  const Id<ConstrainedVariable> y = openEnum("y", {}, FloatDT::instance());
  new SubsetOfConstraint("subset", "Default", engine(), makeScope(y, superset));
  EXPECT_TRUE(m_engine->propagate());
  y->restrictBaseDomain(NumericDomain(7.0, FloatDT::instance()));
  EXPECT_FALSE(m_engine->propagate());
}

TEST_F(SubsetConstraintsTest, SubsetRefusesDomainsThatCannotBeCompared) {
  const Id<ConstrainedVariable> s =
      (new Variable<EnumeratedDomain>(engine(), SymbolDomain(LabelStr("a"), SymbolDT::instance()), false, true, "s",
                                      Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
          ->getId();
  const Id<ConstrainedVariable> x = intVar("x", 0, 1);
  EXPECT_CHECK_FAILS(subset(x, s), "AbstractDomain::canBeCompared(m_currentDomain, m_superSetDomain)");
  EXPECT_TRUE(m_engine->getConstraints().empty());
  EXPECT_EQ(x->constraintCount(), 0u);
}

TEST_F(SubsetConstraintsTest, LockHoldsToTheLockDomainOrEmpties) {
  struct Case {
    const char* what;
    int lb, ub, lockLb, lockUb;
    std::vector<double> after; // empty when the current domain is emptied
  };
  const Case cases[] = {
      {"contains the lock", 0, 10, 2, 3, {2, 3}},
      {"equals the lock", 2, 3, 2, 3, {2, 3}},
      {"misses part of the lock", 0, 10, 5, 20, {}},
  };
  for (const Case& c : cases) {
    const Id<ConstrainedVariable> x = intVar("x", c.lb, c.ub);
    const Id<ConstrainedVariable> locked = intVar("lock", c.lockLb, c.lockUb);
    CapturedTraces traces("LockConstraint");
    lock(x, locked)->handleExecute();
    EXPECT_EQ(bounds(locked), (std::vector<double>{static_cast<double>(c.lockLb), static_cast<double>(c.lockUb)}))
        << c.what;
    if (c.after.empty()) {
      EXPECT_TRUE(dom(x).isEmpty()) << c.what;
      EXPECT_EQ(traces.text(), "[LockConstraint]current domain:int:CLOSED[0, 10] is not a superset of lock "
                               "domain :int:CLOSED[5, 20] emptying current domain\n");
    } else {
      EXPECT_EQ(bounds(x), c.after) << c.what;
      EXPECT_EQ(traces.text(), "") << c.what;
    }
  }
}

// Domains of different kinds are compared value by value, alike from either side: the integer
// [-2, -2] reads the reals {-2.6, -2} as equal within its unit, though they hold -2.6 beside it.
// x becomes the lock's -2 whether it held 3 when the lock ran or lost it before.
TEST_F(SubsetConstraintsTest, LockComparesDomainsOfDifferentKindsByTheirValues) {
  for (const std::list<double>& held : {std::list<double>{-2.6, -2}, std::list<double>{-2.6, -2, 3}}) {
    const Id<ConstrainedVariable> x = EngineFixture::enumVar("x", held);
    lock(x, intVar("lock", -2, -2))->handleExecute();
    EXPECT_EQ(values(x), (std::vector<double>{-2})) << held.size();
  }
  // An integer x lacks the reals between the lock's ends: it cannot become them.
  const Id<ConstrainedVariable> x = intVar("x", 2, 3);
  lock(x, floatVar("lock", 2, 3))->handleExecute();
  EXPECT_TRUE(dom(x).isEmpty());
}

// The lock is fixed when the constraint is made: an open one, which would empty x until it gained
// x's members, is refused with nothing registered; one reopened later is waited for.
TEST_F(SubsetConstraintsTest, AnOpenLockIsRefusedAndAReopenedOneWaits) {
  const Id<ConstrainedVariable> x = enumVar("x", {1, 5});
  const Id<ConstrainedVariable> open = openEnum("lock", {5});
  const Error refused = failureOf([&] { lock(x, open); });
  EXPECT_EQ(refused.getCondition(), "m_lockDomain.isClosed()");
  EXPECT_EQ(refused.getMessage(), "The lock domain of lock must be closed, not int:OPEN{5}");
  EXPECT_TRUE(m_engine->getConstraints().empty());
  EXPECT_EQ(x->constraintCount(), 0u);
  EXPECT_EQ(open->constraintCount(), 0u);

  const Id<ConstrainedVariable> reopened = enumVar("lock", {5});
  LockConstraint* c = lock(x, reopened);
  reopened->open();
  c->handleExecute();
  EXPECT_EQ(values(x), (std::vector<double>{1, 5}));
  reopened->close();
  c->handleExecute();
  EXPECT_EQ(values(x), (std::vector<double>{5}));
}

// a = [0, 10], d = [5, 7]: a is narrowed to d exactly when every value of b lies in c.
TEST_F(SubsetConstraintsTest, MemberImplicationNarrowsOnceThePremiseHolds) {
  struct Case {
    const char* what;
    std::function<Id<ConstrainedVariable>()> b, c;
    bool narrowed;
  };
  const Case cases[] = {
      {"b within c",
       [&] {
         return enumVar("b", {2, 3});
       },
       [&] {
         return enumVar("c", {1, 2, 3, 4});
       },
       true},
      {"b not within c",
       [&] {
         return enumVar("b", {2, 6});
       },
       [&] {
         return enumVar("c", {1, 2, 3, 4});
       },
       false},
      {"b open",
       [&] {
         return openVar("b", {2, 3});
       },
       [&] {
         return enumVar("c", {1, 2, 3, 4});
       },
       false},
      {"c open",
       [&] {
         return enumVar("b", {2, 6});
       },
       [&] { return openVar("c", {1}); }, true},
      {"intervals within", [&] { return intVar("b", 1, 3); }, [&] { return intVar("c", 0, 4); }, true},
      {"intervals not within", [&] { return intVar("b", 1, 3); }, [&] { return intVar("c", 2, 4); }, false},
      // Bounds within c's are not enough: 2, or 1.5, is no value of c.
      {"interval over a gap", [&] { return intVar("b", 1, 3); },
       [&] {
         return enumVar("c", {0, 1, 3});
       },
       false},
      {"single value in a gap", [&] { return boolVar("b", true); },
       [&] {
         return enumVar("c", {0, 3});
       },
       false},
      {"reals within integers", [&] { return floatVar("b", 1, 2); }, [&] { return intVar("c", 0, 4); }, false},
      {"integers covered value by value", [&] { return intVar("b", 1, 3); },
       [&] {
         return enumVar("c", {1, 2, 3});
       },
       true},
      // Narrower than the tolerance, b still holds more than one value: 1.000018 is no value of c.
      {"narrow reals beside a member", [&] { return floatVar("b", 1, 1.000009); },
       [&] { return enumVar("c", {1.000018}); }, false},
      {"narrow reals within reals", [&] { return floatVar("b", 1, 1.000009); },
       [&] { return floatVar("c", 0.99999, 1.00001); }, true},
  };
  for (const Case& c : cases) {
    const Id<ConstrainedVariable> a = intVar("a", 0, 10);
    (new MemberImplyConstraint("memberImply", "Default", engine(), makeScope(a, c.b(), c.c(), intVar("d", 5, 7))))
        ->handleExecute();
    EXPECT_EQ(bounds(a), c.narrowed ? std::vector<double>({5, 7}) : std::vector<double>({0, 10})) << c.what;
  }
  const Id<ConstrainedVariable> a = intVar("a", 0, 3);
  (new MemberImplyConstraint("memberImply", "Default", engine(),
                             makeScope(a, enumVar("b", {1}), enumVar("c", {1}), intVar("d", 5, 7))))
      ->handleExecute();
  EXPECT_TRUE(dom(a).isEmpty());
}

TEST_F(SubsetConstraintsTest, MemberImplicationRefusesBadScopesAndEmptyDomains) {
  const Id<ConstrainedVariable> x = intVar("x", 0, 1), e = enumVar("e", {1});
  EXPECT_CHECK_FAILS(MemberImplyConstraint("memberImply", "Default", engine(), makeScope(x, x, x)), "ARG_COUNT == 4");
  EXPECT_TRUE(m_engine->getConstraints().empty());
  MemberImplyConstraint* c = new MemberImplyConstraint("memberImply", "Default", engine(), makeScope(x, x, x, e));
  dom(e).empty();
  EXPECT_CHECK_FAILS(c->handleExecute(), "domA.isEmpty() || domB.isEmpty() || domC.isEmpty() || domD.isEmpty()");

  // An open domain that holds nothing yet may still gain values: no failure; an open d implies nothing.
  const Id<ConstrainedVariable> a = intVar("a", 2, 5);
  (new MemberImplyConstraint("memberImply", "Default", engine(), makeScope(a, a, a, openVar("d"))))->handleExecute();
  EXPECT_EQ(bounds(a), (std::vector<double>{2, 5}));
  (new MemberImplyConstraint("memberImply", "Default", engine(), makeScope(a, a, openVar("c"), intVar("d", 3, 4))))
      ->handleExecute();
  EXPECT_EQ(bounds(a), (std::vector<double>{3, 4})); // an open c may hold every value: the premise holds
}

} // namespace
} // namespace KALDEN
