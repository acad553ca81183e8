// One execution runs a rule again only while its last round removed values, never more than
// Constraint::MAX_ROUNDS times, and the library decides a scope that repeats a variable at once:
// every propagation comes back after a few rounds, whatever the width of a domain.

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/component/Constraints.hh"
#include "Utils/Error.hh"
#include "support/EngineFixture.hh"

#include <gtest/gtest.h>

#include <functional>

namespace KALDEN {
namespace {

// A client rule given as a function of its own scope, counting its rounds.
class ClientRule : public Constraint {
public:
  typedef std::function<void(ClientRule&)> Rule;

  ClientRule(const Id<ConstraintEngine>& engine, const std::vector<Id<ConstrainedVariable> >& scope, Rule rule)
      : Constraint("clientRule", "Default", engine, scope), m_rule(rule) {}

  void handleExecute() override {
    ++m_rounds;
    m_rule(*this);
  }
  AbstractDomain& domain(unsigned int position) { return getCurrentDomain(m_variables[position]); }
  const Id<ConstrainedVariable>& variable(unsigned int position) const { return m_variables[position]; }
  unsigned int rounds() const { return m_rounds; }

private:
  Rule m_rule;
  unsigned int m_rounds = 0;
};

// A library constraint that counts the rounds of its rule.
template <class Base>
class Counted : public Base {
public:
  Counted(const Id<ConstraintEngine>& engine, const std::vector<Id<ConstrainedVariable> >& scope)
      : Base("counted", "Default", engine, scope) {}
  void handleExecute() override {
    ++m_rounds;
    Base::handleExecute();
  }
  unsigned int rounds() const { return m_rounds; }

private:
  unsigned int m_rounds = 0;
};

class RoundsTest : public NetworkFixture {
protected:
  RoundsTest() { m_engine->setAutoPropagation(false); }

  static double lb(const Id<ConstrainedVariable>& var) { return var->lastDomain().getLowerBound(); }
  static double ub(const Id<ConstrainedVariable>& var) { return var->lastDomain().getUpperBound(); }
};

const int INF = static_cast<int>(PLUS_INFINITY);

TEST_F(RoundsTest, TouchesAndRefusedRelaxationsAreNoNarrowing) {
  Id<ConstrainedVariable> x = intVar("x", 0, 10), y = intVar("y", 0, 10);
  ClientRule* touching = new ClientRule(engine(), makeScope(x, y), [](ClientRule& self) {
    self.variable(0)->touch();
    self.domain(1).touch();
  });
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(touching->rounds(), 1u);
  delete touching;

  // Narrows x, then asks for it back: the refusal comes before anything widens.
  unsigned int refusals = 0;
  ClientRule* relaxing = new ClientRule(engine(), makeScope(x), [&refusals](ClientRule& self) {
    self.domain(0).intersect(0, 5);
    try {
      self.variable(0)->relax();
    } catch (const Error&) {
      ++refusals;
    }
    EXPECT_EQ(self.domain(0).getUpperBound(), 5);
  });
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(relaxing->rounds(), 2u); // the second round removes nothing
  EXPECT_EQ(refusals, 2u);
  EXPECT_EQ(ub(x), 5);
  // Outside a run the same call widens x again.
  delete relaxing;
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(ub(x), 10);
}

TEST_F(RoundsTest, AClientRuleReachesItsFixpointWithinTheCap) {
  // Raises x's lower bound by one while it is below 3: three rounds narrow, a fourth confirms.
  Id<ConstrainedVariable> x = intVar("x", 0, 10);
  ClientRule* stepping = new ClientRule(engine(), makeScope(x), [](ClientRule& self) {
    AbstractDomain& dom = self.domain(0);
    if (dom.getLowerBound() < 3)
      dom.intersect(dom.getLowerBound() + 1, dom.getUpperBound());
  });
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(stepping->rounds(), 4u);
  EXPECT_EQ(lb(x), 3);

  // One that would step for ever is cut short by the cap, having removed only what it excludes.
  Id<ConstrainedVariable> w = intVar("w", 0, INF);
  ClientRule* crawling = new ClientRule(engine(), makeScope(w), [](ClientRule& self) {
    AbstractDomain& dom = self.domain(0);
    dom.intersect(dom.getLowerBound() + 1, dom.getUpperBound());
  });
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(crawling->rounds(), Constraint::MAX_ROUNDS);
  EXPECT_EQ(lb(w), Constraint::MAX_ROUNDS);
}

TEST_F(RoundsTest, RepeatedVariablesAreDecidedInAFewRoundsAtAnyWidth) {
  for (int width : {1000, 1000000000, INF}) {
    Id<ConstrainedVariable> x = intVar("x", 0, width);
    auto* lt = new Counted<LessThanConstraint>(engine(), makeScope(x, x));
    EXPECT_FALSE(m_engine->propagate()) << width;
    EXPECT_EQ(lt->rounds(), 1u) << width;
    delete static_cast<ConstrainedVariable*>(x);

    x = intVar("x", 0, width);
    Id<ConstrainedVariable> one = intVar("one", 1, 1);
    auto* add = new Counted<AddEqualConstraint>(engine(), makeScope(x, one, x));
    EXPECT_FALSE(m_engine->propagate()) << width;
    EXPECT_EQ(add->rounds(), 1u) << width;
    delete static_cast<ConstrainedVariable*>(one);

    auto* leq = new Counted<LessThanEqualConstraint>(engine(), makeScope(x, x));
    EXPECT_TRUE(m_engine->propagate()) << width;
    EXPECT_LE(leq->rounds(), 1u) << width;
    EXPECT_EQ(lb(x), 0);
    EXPECT_EQ(ub(x), width);
    delete static_cast<ConstrainedVariable*>(x);
  }
}

TEST_F(RoundsTest, MixedAdditionTestsForAnIntegerBeforeRounding) {
  for (int width : {1000, 1000000000, INF}) {
    // x + y = z with x and z integers: y must be one, and [0.4, 0.6] holds none.
    Id<ConstrainedVariable> x = intVar("x", 0, width), y = floatVar("y", 0.4, 0.6), z = intVar("z", 0, width);
    auto* add = new Counted<AddEqualConstraint>(engine(), makeScope(x, y, z));
    EXPECT_FALSE(m_engine->propagate()) << width;
    EXPECT_EQ(add->rounds(), 1u) << width;
    for (const Id<ConstrainedVariable>& var : {x, y, z})
      delete static_cast<ConstrainedVariable*>(var);

    // Where it holds one, the rounds that rounding calls for stay few.
    x = intVar("x", 0, width), y = floatVar("y", 0.4, 1.6), z = intVar("z", 3, width);
    add = new Counted<AddEqualConstraint>(engine(), makeScope(x, y, z));
    EXPECT_TRUE(m_engine->propagate()) << width;
    EXPECT_LE(add->rounds(), 3u) << width;
    EXPECT_EQ(lb(x), 2) << width;
    for (const Id<ConstrainedVariable>& var : {x, y, z})
      delete static_cast<ConstrainedVariable*>(var);
  }
}

} // namespace
} // namespace KALDEN
