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
    std::function<Scope()> scope;                  // fresh variables, each call
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

  template <class C>
  std::function<Id<Constraint>(const Scope&)> byClass() {
    return [this](const Scope& scope) { return (new C("c", "Default", engine(), scope))->getId(); };
  }
};

TEST_F(CompositeActivityTest, MembersFollowTheirComposite) {
  m_schema->registerConstraintType(
      (new ConcreteConstraintType<LessThanEqualConstraint>("leq", "Default", false))->getId());
  m_schema->registerConstraintType(
      (new RotatedNaryConstraintType<RotateScopeRightConstraint>("geq", "Default", "leq", 1))->getId());
  m_schema->registerConstraintType(
      (new SwapTwoVarsNaryConstraintType<SwapTwoVarsConstraint>("swappedGeq", "Default", "leq", 0, 1))->getId());
  const Case cases[] = {
      {"WithinBounds", [this] { return Scope{intVar("x", 0, 10), intVar("lb", 5, 20), intVar("ub", 0, 8)}; },
       byClass<WithinBounds>()},
      {"AddMultEqual",
       [this] { return Scope{intVar("a", 0, 10), intVar("b", 1, 2), intVar("c", 1, 2), intVar("d", 0, 3)}; },
       byClass<AddMultEqualConstraint>()},
      {"rotating", [this] { return Scope{intVar("x", 0, 10), intVar("y", 3, 5)}; },
       [this](const Scope& scope) { return engine()->createConstraint("geq", scope); }},
      {"swapping", [this] { return Scope{intVar("x", 0, 10), intVar("y", 3, 5)}; },
       [this](const Scope& scope) { return engine()->createConstraint("swappedGeq", scope); }},
  };
  for (const Case& c : cases)
    check(c);
}

} // namespace
} // namespace KALDEN
