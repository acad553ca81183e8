#include "ConstraintEngine/component/Constraints.hh"
#include "support/BoundsFixture.hh"
#include "support/Failure.hh"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace KALDEN {
namespace {

typedef std::vector<double> Values;
typedef std::vector<Id<ConstrainedVariable> > Scope;

class CountingConstraintsTest : public BoundsFixture {
protected:
  static void SetUpTestSuite() { StringDT::instance(); }

  // What is left of a finite domain, {} when emptied.
  static Values left(const Id<ConstrainedVariable>& v) { return dom(v).isEmpty() ? Values() : values(v); }
  Id<ConstrainedVariable> stringVar() {
    return (new Variable<EnumeratedDomain>(engine(), StringDomain(std::string("a"), StringDT::instance()), false, true,
                                           "s", Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
        ->getId();
  }
  Id<Constraint> constraintNamed(const char* name) {
    for (const Id<Constraint>& c : m_engine->getConstraints())
      if (c->getName() == LabelStr(name))
        return c;
    return Id<Constraint>();
  }
  // Creates C on the running propagator, propagates, and answers whether the network stayed consistent.
  template <class C>
  bool propagateOver(const Scope& scope) {
    new C("c", "Running", engine(), scope);
    return m_engine->propagate();
  }
};

TEST_F(CountingConstraintsTest, CountZerosForcesExcludesAndCounts) {
  // Nothing to count: the count can only be 0.
  const Id<ConstrainedVariable> alone = intVar("count", 0, 5);
  (new CountZerosConstraint("c", "Default", engine(), Scope{alone}))->handleExecute();
  EXPECT_EQ(left(alone), Values{0});

  // The count's least value needs every possible zero.
  Id<ConstrainedVariable> count = intVar("count", 2, 5), x2 = intVar("x2", 0, 3);
  (new CountZerosConstraint("c", "Default", engine(), Scope{count, enumVar("x1", {0}), x2, intVar("x3", 1, 4)}))
      ->handleExecute();
  EXPECT_EQ(left(x2), Values{0});
  EXPECT_EQ(left(count), Values{2});

  // The count is reached: 0 leaves an enumeration, and an interval where 0 is an end, not inside.
  for (int x2Lb : {0, -2}) {
    count = intVar("count", 0, 1);
    x2 = intVar("x2", x2Lb, 3);
    const Id<ConstrainedVariable> x3 = enumVar("x3", {0, 5});
    (new CountZerosConstraint("c", "Default", engine(), Scope{count, enumVar("x1", {0}), x2, x3}))->handleExecute();
    EXPECT_EQ(bounds(x2), Values({x2Lb == 0 ? 1.0 : -2.0, 3})) << x2Lb;
    EXPECT_EQ(left(x3), Values{5}) << x2Lb;
    EXPECT_EQ(left(count), Values{1}) << x2Lb;
  }

  // A boolean counts false as zero.
  for (bool mustBeZero : {true, false}) {
    const Id<ConstrainedVariable> b = boolVar("b");
    const int n = mustBeZero ? 1 : 0;
    (new CountZerosConstraint("c", "Default", engine(), Scope{intVar("count", n, n), b}))->handleExecute();
    EXPECT_EQ(left(b), Values{mustBeZero ? 0.0 : 1.0});
  }
}

// A real interval narrower than the tolerance that may be 0 and may not is not decided either way:
// with no zero left to count it loses 0, and with one to find it is narrowed to 0.
TEST_F(CountingConstraintsTest, CountZerosNarrowsANarrowIntervalBesideZero) {
  for (int zeros : {0, 1}) {
    const Id<ConstrainedVariable> x = floatVar("x", 0.000005, 0.000014);
    (new CountZerosConstraint("c", "Default", engine(), Scope{intVar("count", zeros, zeros), x}))->handleExecute();
    EXPECT_EQ(dom(x).isMember(0), zeros == 1) << zeros;
    EXPECT_EQ(dom(x).isMember(0.000014), zeros == 0) << zeros;
  }
}

TEST_F(CountingConstraintsTest, CompositesCountNonZeros) {
  const Id<ConstrainedVariable> count = intVar("count", 0, 10);
  EXPECT_TRUE(propagateOver<CountNonZerosConstraint>(Scope{count, enumVar("x1", {0}), intVar("x2", 1, 5)}));
  EXPECT_EQ(left(count), Values{1});

  // At most one non-zero: once x1 is 1, the others are 0.
  const Id<ConstrainedVariable> y2 = intVar("y2", 0, 1), y3 = intVar("y3", 0, 1);
  EXPECT_TRUE(propagateOver<CardinalityConstraint>(Scope{intVar("bound", 0, 1), intVar("y1", 1, 1), y2, y3}));
  EXPECT_EQ(left(y2), Values{0});
  EXPECT_EQ(left(y3), Values{0});

  // At least one non-zero.
  const Id<ConstrainedVariable> z2 = intVar("z2", 0, 1), only = intVar("only", 0, 1);
  EXPECT_TRUE(propagateOver<OrConstraint>(Scope{intVar("z1", 0, 0), z2}));
  EXPECT_EQ(left(z2), Values{1});
  EXPECT_TRUE(propagateOver<OrConstraint>(Scope{only}));
  EXPECT_EQ(left(only), Values{1});
  EXPECT_FALSE(propagateOver<OrConstraint>(Scope{boolVar("f", false), intVar("zero", 0, 0)}));
}

TEST_F(CountingConstraintsTest, CompositesLeaveNothingBehind) {
  const Id<ConstrainedVariable> x1 = intVar("x1", 0, 3), x2 = intVar("x2", 0, 3), s = stringVar();
  const std::size_t variables = m_engine->getVariables().size();

  CountNonZerosConstraint* counting = new CountNonZerosConstraint("c", "Running", engine(), Scope{x1, x2});
  EXPECT_EQ(m_engine->getConstraints().size(), 4u);
  EXPECT_EQ(m_engine->getVariables().size(), variables + 3);
  counting->discard(false);
  EXPECT_TRUE(m_engine->getConstraints().empty());
  EXPECT_EQ(m_engine->getVariables().size(), variables);
  delete counting;

  // Refused by a member built after others: those go too.
  EXPECT_CHECK_FAILS(OrConstraint("or", "Running", engine(), Scope{x1, s}),
                     "getCurrentDomain(m_variables[i]).isNumeric() || getCurrentDomain(m_variables[i]).isBool()");
  EXPECT_CHECK_FAILS(CountNonZerosConstraint("c", "Running", engine(), Scope{x1, s}),
                     "getCurrentDomain(m_variables[i]).isNumeric() || getCurrentDomain(m_variables[i]).isBool()");
  EXPECT_TRUE(m_engine->getConstraints().empty());
  EXPECT_EQ(m_engine->getVariables().size(), variables);

  // Members cannot be deleted first by another road, at any level of the chain.
  for (const char* member : {"CountNonZeros", "CountZeros", "SubsetOf"}) {
    const Id<Constraint> card = (new CardinalityConstraint("card", "Running", engine(), Scope{x1, x2}))->getId();
    const Id<Constraint> disjunction = (new OrConstraint("or", "Running", engine(), Scope{x1, x2}))->getId();
    EXPECT_CHECK_FAILS(m_engine->deleteConstraint(constraintNamed(member)), "standingOwner().isNoId()");
    m_engine->deleteConstraint(card);
    m_engine->deleteConstraint(disjunction);
    EXPECT_TRUE(m_engine->getConstraints().empty()) << member;
    EXPECT_EQ(m_engine->getVariables().size(), variables) << member;
  }
}

} // namespace
} // namespace KALDEN
