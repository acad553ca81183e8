#include "ConstraintEngine/base/ConstraintType.hh"
#include "ConstraintEngine/component/Constraints.hh"
#include "support/EngineFixture.hh"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

typedef std::vector<Id<ConstrainedVariable> > Scope;

// A composite constrains through members of its own. While it is inactive, by its own
// deactivation or by an inactive variable it was made over, none of them may narrow anything;
// once it is active again they narrow as before.
class CompositeActivityTest : public NetworkFixture {
protected:
  struct Case {
    std::string name;
    std::function<Scope()> scope; // fresh variables, each call
    std::function<Id<Constraint>(const Scope&)> build;
  };

  static std::vector<std::string> domains(const Scope& scope) {
    std::vector<std::string> result;
    for (const Id<ConstrainedVariable>& v : scope)
      result.push_back(v->lastDomain().toString());
    return result;
  }
  static std::vector<std::string> baseDomains(const Scope& scope) {
    std::vector<std::string> result;
    for (const Id<ConstrainedVariable>& v : scope)
      result.push_back(v->baseDomain().toString());
    return result;
  }

  void check(const Case& c) {
    SCOPED_TRACE(c.name);
    // Active: the members narrow.
    const Scope active = c.scope();
    c.build(active);
    ASSERT_TRUE((*m_engine).propagate());
    const std::vector<std::string> narrowed = domains(active);
    ASSERT_NE(narrowed, baseDomains(active)) << "the case must narrow something";

    // Switched off, then the narrowing undone: nothing narrows until it is switched on again.
    const Scope off = c.scope();
    const Id<Constraint> composite = c.build(off);
    ASSERT_TRUE((*m_engine).propagate());
    composite->deactivate();
    for (const Id<ConstrainedVariable>& v : off)
      v->reset();
    EXPECT_TRUE((*m_engine).propagate());
    EXPECT_EQ(domains(off), baseDomains(off)) << "an inactive composite narrowed";
    composite->undoDeactivation();
    EXPECT_TRUE((*m_engine).propagate());
    EXPECT_EQ(domains(off), narrowed);

    // Made over an inactive variable: inactive from the start, members included.
    const Scope born = c.scope();
    born[0]->deactivate();
    c.build(born);
    EXPECT_TRUE((*m_engine).propagate());
    EXPECT_EQ(domains(born), baseDomains(born)) << "a composite born inactive narrowed";
    born[0]->undoDeactivation();
    EXPECT_TRUE((*m_engine).propagate());
    EXPECT_EQ(domains(born), narrowed);
  }

  Id<ConstrainedVariable> boolVar(const char* name, bool value) {
    return (new Variable<BoolDomain>(engine(), BoolDomain(value, BoolDT::instance()), false, true, name,
                                     Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
        ->getId();
  }

  template <class C>
  std::function<Id<Constraint>(const Scope&)> byClass() {
    return [this](const Scope& scope) { return (new C("c", "Default", engine(), scope))->getId(); };
  }
};

TEST_F(CompositeActivityTest, MembersFollowTheirComposite) {
  m_schema->registerDataType((new IntDT())->getId()); // the conditional sum types its interim by x's type
  m_schema->registerConstraintType(
      (new ConcreteConstraintType<LessThanEqualConstraint>("leq", "Default", false))->getId());
  m_schema->registerConstraintType(
      (new RotatedNaryConstraintType<RotateScopeRightConstraint>("geq", "Default", "leq", 1))->getId());
  m_schema->registerConstraintType(
      (new SwapTwoVarsNaryConstraintType<SwapTwoVarsConstraint>("swappedGeq", "Default", "leq", 0, 1))->getId());
  const Case cases[] = {
      {"WithinBounds",
       [this] {
         return Scope{intVar("x", 0, 10), intVar("lb", 5, 20), intVar("ub", 0, 8)};
       },
       byClass<WithinBounds>()},
      {"AddMultEqual",
       [this] {
         return Scope{intVar("a", 0, 10), intVar("b", 1, 2), intVar("c", 1, 2), intVar("d", 0, 3)};
       },
       byClass<AddMultEqualConstraint>()},
      {"rotating",
       [this] {
         return Scope{intVar("x", 0, 10), intVar("y", 3, 5)};
       },
       [this](const Scope& scope) { return engine()->createConstraint("geq", scope); }},
      {"swapping",
       [this] {
         return Scope{intVar("x", 0, 10), intVar("y", 3, 5)};
       },
       [this](const Scope& scope) { return engine()->createConstraint("swappedGeq", scope); }},
      {"EqualSum of 8",
       [this] {
         Scope scope{intVar("sum", 0, 3)};
         for (int i = 1; i < 8; ++i)
           scope.push_back(intVar("a", 0, 5));
         return scope;
       },
       byClass<EqualSumConstraint>()},
      {"LessThanSum",
       [this] {
         return Scope{intVar("x", 0, 10), intVar("y1", 0, 2), intVar("y2", 0, 2)};
       },
       byClass<LessThanSumConstraint>()},
      {"AllDiff",
       [this] {
         return Scope{intVar("x", 1, 1), intVar("y", 1, 3)};
       },
       byClass<AllDiffConstraint>()},
      {"CountNonZeros",
       [this] {
         return Scope{intVar("count", 0, 0), intVar("x", 0, 3), intVar("y", 0, 3)};
       },
       byClass<CountNonZerosConstraint>()},
      {"Cardinality",
       [this] {
         return Scope{intVar("bound", 0, 5), intVar("x", 1, 3), intVar("y", 1, 3)};
       },
       byClass<CardinalityConstraint>()},
      {"Or",
       [this] {
         return Scope{intVar("x", 0, 0), intVar("y", 0, 3)};
       },
       byClass<OrConstraint>()},
      {"CondEqualSum",
       [this] {
         return Scope{boolVar("b", true), intVar("x", 0, 10), intVar("y1", 0, 2), intVar("y2", 0, 2)};
       },
       byClass<CondEqualSumConstraint>()},
  };
  for (const Case& c : cases)
    check(c);
}

// While a sum is off, what its interim variables held is not relaxed with the variables they add
// up: switched on again, it must not narrow by a value the client specified and has since reset.
TEST_F(CompositeActivityTest, ReactivatedSumForgetsWhatItsInterimsHeld) {
  const Scope a{intVar("a0", 0, 10), intVar("a1", 0, 10), intVar("a2", 0, 10), intVar("a3", 0, 10)};
  const Id<Constraint> sum = (new EqualSumConstraint("sum", "Default", engine(), a))->getId();
  a[1]->specify(5);
  a[2]->specify(5);
  ASSERT_TRUE((*m_engine).propagate());
  ASSERT_EQ(a[0]->lastDomain().getLowerBound(), 10.0);
  sum->deactivate();
  for (const Id<ConstrainedVariable>& v : a)
    v->reset();
  sum->undoDeactivation();
  EXPECT_TRUE((*m_engine).propagate());
  EXPECT_EQ(domains(a), baseDomains(a));
}

} // namespace
} // namespace KALDEN
