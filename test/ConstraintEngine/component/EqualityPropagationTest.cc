#include "support/EqualityPropagatorFixture.hh"
#include "support/RecordingEngineListener.hh"
#include "support/TestConstraints.hh"

#include <gtest/gtest.h>

#include <algorithm>
#include <list>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace KALDEN {
namespace {

using Bounds = std::vector<double>;
using Values = std::vector<double>;

class EqualityPropagationTest : public EqualityPropagatorFixture {
protected:
  // A network of integer and real intervals (real bounds may lie between integers) and at
  // most one integer enumeration, joined by equalities and by x <= y constraints.
  struct Network {
    std::vector<int> kinds; // 0 integer interval, 1 real interval, 2 enumeration
    std::vector<std::pair<double, double> > bounds;
    std::list<double> members;
    std::vector<std::vector<int> > equalities;
    std::vector<std::pair<int, int> > orderings;
  };

  static Network randomNetwork(std::mt19937& random) {
    auto pick = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned int>(n)); };
    Network net;
    const int size = 3 + pick(5);
    const int enumerated = pick(2 * size); // often none
    for (int i = 0; i < size; ++i) {
      const int lb = pick(12);
      const int ub = lb + pick(13 - lb);
      net.kinds.push_back(i == enumerated ? 2 : pick(2));
      const double shift = net.kinds.back() == 1 && ub > lb && pick(2) == 0 ? 0.5 : 0.0;
      net.bounds.push_back(std::make_pair(lb + shift, ub - shift));
    }
    for (int v = 0; v <= 12; ++v)
      if (pick(3) == 0)
        net.members.push_back(v);
    if (net.members.empty())
      net.members.push_back(pick(13));
    // Scopes of two or three, with repeats, cycles and pairs joined twice.
    for (int e = 1 + pick(5); e > 0; --e) {
      std::vector<int> scope(2 + pick(2));
      for (int& position : scope)
        position = pick(size);
      net.equalities.push_back(scope);
    }
    for (int o = pick(3); o > 0; --o)
      net.orderings.push_back(std::make_pair(pick(size), pick(size)));
    return net;
  }

  // Builds the network with its equalities on `propagator`, propagates, and reads every domain
  // (nothing when propagation found it inconsistent); then removes it all.
  std::vector<std::vector<double> > outcome(const Network& net, const char* propagator) {
    Scope vars;
    for (std::size_t i = 0; i < net.kinds.size(); ++i) {
      const std::string name = "n" + std::to_string(i);
      const std::pair<double, double>& b = net.bounds[i];
      if (net.kinds[i] == 2)
        vars.push_back(enumVar(name.c_str(), net.members));
      else if (net.kinds[i] == 1)
        vars.push_back(floatVar(name.c_str(), b.first, b.second));
      else
        vars.push_back(intVar(name.c_str(), static_cast<int>(b.first), static_cast<int>(b.second)));
    }
    for (const std::vector<int>& positions : net.equalities) {
      Scope scope;
      for (int p : positions)
        scope.push_back(vars[p]);
      equal(scope, propagator);
    }
    for (const std::pair<int, int>& o : net.orderings)
      new LessThanEqualTestConstraint("leq", "Plain", engine(), Scope{vars[o.first], vars[o.second]});

    std::vector<std::vector<double> > result;
    if (m_engine->propagate()) {
      for (const Id<ConstrainedVariable>& v : vars)
        result.push_back(dom(v).isEnumerated() ? values(v) : bounds(v));
    }
    for (const Id<ConstrainedVariable>& v : vars)
      destroy(v);
    return result;
  }
};

TEST_F(EqualityPropagationTest, SameFixpointAsTheDefaultPropagator) {
  std::mt19937 random(11);
  int inconsistent = 0;
  for (int round = 0; round < 400; ++round) {
    const Network net = randomNetwork(random);
    const std::vector<std::vector<double> > plain = outcome(net, "Plain");
    EXPECT_EQ(outcome(net, "Equal"), plain) << "round " << round;
    inconsistent += plain.empty() ? 1 : 0;
  }
  // Both outcomes were met often enough to mean something.
  EXPECT_GT(inconsistent, 20);
  EXPECT_LT(inconsistent, 380);
}

TEST_F(EqualityPropagationTest, AChainPropagatesWithoutExecutingAConstraint) {
  Scope vars;
  for (int i = 0; i < 200; ++i)
    vars.push_back(intVar(("v" + std::to_string(i)).c_str(), -i, 400 - i));
  RecordingEngineListener listener(engine());
  for (std::size_t i = 1; i < vars.size(); ++i)
    equal(Scope{vars[i - 1], vars[i]});
  listener.clear();
  EXPECT_TRUE(m_engine->propagate());
  for (const Id<ConstrainedVariable>& v : vars)
    ASSERT_EQ(bounds(v), (Bounds{0, 201}));
  EXPECT_EQ(std::count(listener.events().begin(), listener.events().end(), "L completed"), 1);
  for (const std::string& event : listener.events())
    EXPECT_EQ(event.find("L executed"), std::string::npos) << event;

  vars[150]->specify(7);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(bounds(vars[0]), (Bounds{7, 7}));
  EXPECT_EQ(bounds(vars[199]), (Bounds{7, 7}));
  // A reset relaxes the class, which is narrowed again to what its members share.
  vars[150]->reset();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(bounds(vars[0]), (Bounds{0, 201}));
  // Removing an equality relaxes its scope and splits the class.
  vars[0]->specify(3);
  EXPECT_TRUE(m_engine->propagate());
  destroy(vars[100]);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(bounds(vars[99]), (Bounds{3, 3}));
  EXPECT_EQ(bounds(vars[101]), (Bounds{-101, 201}));
}

TEST_F(EqualityPropagationTest, ARedundantEqualityIsSetAsideAndRemoved) {
  // Fixed base domains make the equality redundant: the engine announces it again, and after
  // the next run deactivates it for good; removing it afterwards takes nothing back twice.
  const Id<ConstrainedVariable> a = intVar("a", 3, 3);
  const Id<ConstrainedVariable> b = intVar("b", 3, 3);
  const Id<ConstrainedVariable> c = intVar("c", 0, 10);
  const Id<Constraint> ab = equal(Scope{a, b});
  equal(Scope{b, c});
  EXPECT_TRUE(ab->isRedundant());
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_FALSE(ab->isActive());
  EXPECT_EQ(bounds(c), (Bounds{3, 3}));
  destroy(ab);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(bounds(c), (Bounds{3, 3}));
}

TEST_F(EqualityPropagationTest, AnInactiveVariableJoinsNothingUntilItIsActiveAgain) {
  const Id<ConstrainedVariable> a = intVar("a", 0, 10);
  const Id<ConstrainedVariable> b = intVar("b", 0, 10);
  const Id<ConstrainedVariable> c = intVar("c", 0, 10);
  equal(Scope{a, b, c});
  EXPECT_TRUE(m_engine->propagate());
  b->deactivate();
  EXPECT_TRUE(m_engine->propagate());
  restrict(a, 2, 5);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(bounds(c), (Bounds{0, 10}));

  b->undoDeactivation();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(bounds(b), (Bounds{2, 5}));
  EXPECT_EQ(bounds(c), (Bounds{2, 5}));
}

// A class holding an open enumeration that has no value yet: when an equality in it retires, the
// class splits without leaving the propagator work after a completed run.
TEST_F(EqualityPropagationTest, AClassWithAnEmptyOpenMemberSplitsWhenAnEqualityRetires) {
  const Id<ConstrainedVariable> open = openVar("open"), three = enumVar("three", {3});
  const Id<ConstrainedVariable> decided = enumVar("decided", {1, 3}), wide = enumVar("wide", {1, 2, 3});
  decided->remove(1);
  const Id<Constraint> retiring = equal(Scope{decided, three});
  equal(Scope{wide, open, decided});
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(retiring->isRetired());
  EXPECT_EQ(values(wide), (Values{3}));
  EXPECT_TRUE(m_engine->constraintConsistent());
}

// a = {2, 4} and b = {2, 3, 4} are joined through an integer interval: the class takes 3 from b,
// which the interval cannot show. Each way the class loses a narrowing member gives b back its 3.
class ClassLosingAMemberTest : public EqualityPropagationTest {
protected:
  ClassLosingAMemberTest()
      : a(enumVar("a", {2, 4})), mid(intVar("mid", 2, 4)), b(enumVar("b", {2, 3, 4})), midB(equal(Scope{mid, b})),
        midA(equal(Scope{mid, a})) {}

  // Propagates; b's values then (none when inconsistent).
  Values propagated() { return m_engine->propagate() ? values(b) : Values(); }

  const Id<ConstrainedVariable> a;
  const Id<ConstrainedVariable> mid;
  const Id<ConstrainedVariable> b;
  const Id<Constraint> midB;
  Id<Constraint> midA;
};

// Deletes the joining constraint while the run that narrowed b is under way.
class DeletingWhenToldOfB : public ConstraintEngineListener {
public:
  DeletingWhenToldOfB(const Id<ConstraintEngine>& engine, const Id<ConstrainedVariable>& b, const Id<Constraint>& c)
      : ConstraintEngineListener(engine), m_b(b), m_constraint(c) {}
  void notifyChanged(const Id<ConstrainedVariable>& variable, const DomainListener::ChangeType&) override {
    if (variable == m_b && m_constraint.isValid() && variable->lastDomain().getSize() == 2)
      delete static_cast<Constraint*>(m_constraint);
  }

private:
  Id<ConstrainedVariable> m_b;
  Id<Constraint> m_constraint;
};

TEST_F(ClassLosingAMemberTest, ItsConstraintDeletedOrItselfDeleted) {
  EXPECT_EQ(propagated(), (Values{2, 4}));
  destroy(midA);
  EXPECT_EQ(propagated(), (Values{2, 3, 4}));
  EXPECT_EQ(bounds(mid), (Bounds{2, 4}));

  midA = equal(Scope{mid, a});
  EXPECT_EQ(propagated(), (Values{2, 4}));
  m_engine->deleteConstraint(midA); // propagates at once
  EXPECT_EQ(values(b), (Values{2, 3, 4}));

  midA = equal(Scope{mid, a});
  EXPECT_EQ(propagated(), (Values{2, 4}));
  destroy(a);
  EXPECT_EQ(propagated(), (Values{2, 3, 4}));
}

TEST_F(ClassLosingAMemberTest, ItsConstraintSwitchedOffAndOnAgain) {
  EXPECT_EQ(propagated(), (Values{2, 4}));
  midA->deactivate();
  EXPECT_EQ(propagated(), (Values{2, 3, 4}));
  EXPECT_EQ(values(a), (Values{2, 4}));
  midA->undoDeactivation();
  EXPECT_EQ(propagated(), (Values{2, 4}));
}

TEST_F(ClassLosingAMemberTest, ItsConstraintDeletedDuringARun) {
  // Nothing may be relaxed inside a run: the class gives room once the run allows, and the run
  // still ends at the fixpoint of what remains.
  DeletingWhenToldOfB listener(engine(), b, midA);
  EXPECT_EQ(propagated(), (Values{2, 3, 4}));
  EXPECT_FALSE(midA.isValid());
}

TEST_F(ClassLosingAMemberTest, WhatTheRelaxedMembersNarrowedComesBackToo) {
  // b carried the class's narrowing on to c, through a constraint of another propagator.
  const Id<ConstrainedVariable> c = enumVar("c", {2, 3, 4});
  equal(Scope{b, c}, "Plain");
  EXPECT_EQ(propagated(), (Values{2, 4}));
  EXPECT_EQ(values(c), (Values{2, 4}));
  destroy(midA);
  EXPECT_EQ(propagated(), (Values{2, 3, 4}));
  EXPECT_EQ(values(c), (Values{2, 3, 4}));
  EXPECT_EQ(values(a), (Values{2, 4}));
}

TEST_F(EqualityPropagationTest, APartSplitOffAClassThatEmptiedIsNarrowed) {
  // The class empties at e and i before it narrows x and y to each other; once the equality
  // over them goes, x and y are a class of their own, though neither of them changed.
  const Id<ConstrainedVariable> x = floatVar("x", -2, 0);
  const Id<ConstrainedVariable> e = enumVar("e", {-3, -1, 3});
  const Id<ConstrainedVariable> y = floatVar("y", -1, 2);
  const Id<ConstrainedVariable> i = intVar("i", 1, 3);
  const Id<Constraint> over = equal(Scope{i, e, y});
  equal(Scope{y, x});
  EXPECT_FALSE(m_engine->propagate());
  m_engine->deleteConstraint(over); // propagates at once
  EXPECT_FALSE(m_engine->provenInconsistent());
  EXPECT_EQ(bounds(x), (Bounds{-1, 0}));
  EXPECT_EQ(bounds(y), (Bounds{-1, 0}));
  EXPECT_EQ(values(e), (Values{-3, -1, 3}));
}

TEST_F(EqualityPropagationTest, APartSplitOffAClassThatStoppedAtAnOpenMemberIsNarrowed) {
  // A class stops narrowing at its first open member (made first, so likely first in order):
  // once the equality that held it in goes, the rest is narrowed to itself.
  NumericDomain openValues(IntDT::instance());
  openValues.insert(1);
  openValues.insert(4);
  const Id<ConstrainedVariable> o = (new Variable<EnumeratedDomain>(engine(), openValues, false, true, "o",
                                                                    Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
                                        ->getId();
  const Id<ConstrainedVariable> x = intVar("x", 0, 10);
  const Id<ConstrainedVariable> y = intVar("y", 2, 20);
  equal(Scope{x, y});
  const Id<Constraint> withOpen = equal(Scope{y, o});
  EXPECT_TRUE(m_engine->propagate());
  withOpen->deactivate();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(bounds(x), (Bounds{2, 10}));
  EXPECT_EQ(bounds(y), (Bounds{2, 10}));
}

TEST_F(EqualityPropagationTest, DisjointMembersMakePropagationFail) {
  const Id<ConstrainedVariable> a = intVar("a", 0, 3);
  const Id<ConstrainedVariable> b = intVar("b", 5, 9);
  const Id<ConstrainedVariable> c = intVar("c", 0, 9);
  equal(Scope{a, c});
  equal(Scope{b, c});
  EXPECT_FALSE(m_engine->propagate());
  EXPECT_TRUE(m_engine->provenInconsistent());
}

} // namespace
} // namespace KALDEN
