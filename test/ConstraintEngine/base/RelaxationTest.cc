#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
#include "ConstraintEngine/component/Constraints.hh"
#include "support/CapturedTraces.hh"
#include "support/EngineFixture.hh"
#include "support/Failure.hh"
#include "support/RecordingEngineListener.hh"
#include "support/TestConstraints.hh"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

using Events = std::vector<std::string>;

// The variables a log shows relaxed, in order.
Events relaxed(const Events& log) {
  Events names;
  for (const std::string& event : log)
    if (event.size() > 10 && event.compare(0, 10, "L changed ") == 0 &&
        event.compare(event.size() - 8, 8, " RELAXED") == 0)
      names.push_back(event.substr(10, event.size() - 18));
  return names;
}

std::string key(const Id<ConstrainedVariable>& v) {
  return v->getName().toString() + "(" + std::to_string(v->getKey()) + ")";
}

class RelaxationTest : public NetworkFixture {
protected:
  // A variable over [0,10] narrowed to [2,8], so that relaxing it shows.
  Id<ConstrainedVariable> narrowed(const char* name) {
    Id<ConstrainedVariable> v = intVar(name, 0, 10);
    v->getCurrentDomain().intersect(2, 8);
    return v;
  }
  TestConstraint* link(const char* name, const std::vector<Id<ConstrainedVariable> >& scope) {
    return new TestConstraint(name, "Default", engine(), scope);
  }
  Constraint* leq(const char* name, const Id<ConstrainedVariable>& x, const Id<ConstrainedVariable>& y) {
    return new LessThanEqualTestConstraint(name, "Default", engine(), makeScope(x, y));
  }
};

TEST_F(RelaxationTest, TheAgendaIsBuiltDepthFirstInPreOrderBeforeAnythingIsRelaxed) {
  Id<ConstrainedVariable> x = narrowed("x"), a = narrowed("a"), b = narrowed("b"), d = narrowed("d"), e = narrowed("e");
  Constraint* c1 = link("c1", makeScope(x, a, b));
  link("c2", makeScope(x, d));
  link("c3", makeScope(a, e));
  EXPECT_TRUE(m_engine->propagate());
  RecordingEngineListener listener(engine());
  CapturedTraces traces("ConstraintEngine:relaxed");
  x->relax();
  EXPECT_EQ(relaxed(listener.events()), (Events{"a", "e", "b", "d", "x"}));
  const std::string text = traces.text();
  const std::string firstAdded = "[ConstraintEngine:relaxed]Cycle: " + std::to_string(x->lastRelaxed()) + " From " +
                                 key(x) + ", through constraint c1(" + std::to_string(c1->getKey()) + "), adding " +
                                 key(a) + " to the relaxation agenda.\n";
  EXPECT_EQ(text.find("[ConstraintEngine:relaxed]Handling relaxation of [0,10]\n" + firstAdded), 0u);
  // All four additions come before the first relaxation.
  EXPECT_LT(text.rfind("to the relaxation agenda."), text.find("Relaxing "));
  for (const Id<ConstrainedVariable>& v : {a, b, d, e})
    EXPECT_EQ(v->lastRelaxed(), x->lastRelaxed());
}

// A constraint switched off keeps what it narrowed, so relaxation passes through it all the same.
TEST_F(RelaxationTest, EveryVariableIsRelaxedOncePerCycleThroughActiveAndSwitchedOffConstraints) {
  RecordingEngineListener listener(engine());
  Id<ConstrainedVariable> x = narrowed("x"), a = narrowed("a"), b = narrowed("b"), z = narrowed("z"), w = narrowed("w"),
                          u = narrowed("u");
  link("xa", makeScope(x, a));
  link("xb", makeScope(x, b));
  link("az", makeScope(a, z));
  link("bz", makeScope(b, z));
  TestConstraint* off = link("zw", makeScope(z, w));
  off->deactivate();
  EXPECT_TRUE(m_engine->propagate());
  listener.clear();
  x->relax();
  u->relax(); // unconnected: the same cycle
  Events names = relaxed(listener.events());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (Events{"a", "b", "u", "w", "x", "z"})); // the diamond once each, and w behind the switched-off one
  EXPECT_EQ(w->toString(), "[0,10]");
  EXPECT_EQ(u->lastRelaxed(), x->lastRelaxed());
  EXPECT_EQ(m_engine->mostRecentRepropagation(), x->lastRelaxed());
}

TEST_F(RelaxationTest, RelaxationDuringARunIsRefused) {
  struct Relaxer : ConstraintEngineListener {
    Relaxer(const Id<ConstraintEngine>& e, const Id<ConstrainedVariable>& v) : ConstraintEngineListener(e), var(v) {}
    void notifyExecuted(const Id<Constraint>&) override { var->relax(); }
    Id<ConstrainedVariable> var;
  };
  Id<ConstrainedVariable> x = narrowed("x");
  Id<ConstrainedVariable> y = intVar("y", 0, 10);
  leq("c", y, y);
  Relaxer relaxer(engine(), x);
  EXPECT_CHECK_FAILS(m_engine->propagate(), "!m_propInProgress");
  EXPECT_FALSE(m_engine->isPropagating());
}

TEST_F(RelaxationTest, RelaxingAVariableWithdrawsTheViolationsOnIt) {
  m_engine->setAllowViolations(true);
  Id<ConstrainedVariable> x = intVar("x", 5, 10);
  Id<ConstrainedVariable> y = intVar("y", 0, 3);
  Constraint* c = leq("c", x, y);
  EXPECT_TRUE(m_engine->propagate());
  ASSERT_TRUE(m_engine->isViolated(c->getId()));
  RecordingEngineListener listener(engine());
  y->getCurrentDomain().intersect(0, 2);
  y->relax();
  EXPECT_FALSE(m_engine->isViolated(c->getId()));
  EXPECT_TRUE(c->isActive());
  EXPECT_TRUE(m_engine->propagate()); // and the next run sets it aside again
  EXPECT_TRUE(m_engine->isViolated(c->getId()));
  EXPECT_EQ(std::count(listener.events().begin(), listener.events().end(), "L violationRemoved c"), 1);
  EXPECT_EQ(std::count(listener.events().begin(), listener.events().end(), "L violationAdded c"), 1);
}

TEST_F(RelaxationTest, RemovingAMiddleConstraintRelaxesTheChainWhichRepropagates) {
  Id<ConstrainedVariable> a = intVar("a", 3, 10), b = intVar("b", 0, 10), c = intVar("c", 0, 10), d = intVar("d", 0, 4);
  leq("ab", a, b);
  Constraint* bc = leq("bc", b, c);
  leq("cd", c, d);
  EXPECT_TRUE(m_engine->propagate());
  for (const Id<ConstrainedVariable>& v : {a, b, c, d})
    EXPECT_EQ(v->toString(), "[3,4]") << v->getName().toString();

  RecordingEngineListener listener(engine());
  delete bc;
  EXPECT_EQ(relaxed(listener.events()), (Events{"a", "b", "d", "c"})); // each once: b's cascade, then c's
  EXPECT_EQ(listener.events().back(), "L removedConstraint bc");
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(a->toString(), "[3,10]");
  EXPECT_EQ(b->toString(), "[3,10]");
  EXPECT_EQ(c->toString(), "[0,4]");
  EXPECT_EQ(d->toString(), "[0,4]");
}

TEST_F(RelaxationTest, RemovingASwitchedOffConstraintGivesBackWhatItNarrowed) {
  Id<ConstrainedVariable> x = intVar("x", 0, 10), y = intVar("y", 0, 3);
  Constraint* c = leq("c", x, y);
  EXPECT_TRUE(m_engine->propagate());
  c->deactivate();
  EXPECT_EQ(x->toString(), "[0,3]"); // switching off keeps the narrowing
  CapturedTraces traces("ConstraintEngine:remove:Constraint");
  delete c;
  EXPECT_EQ(x->toString(), "[0,10]");
  EXPECT_NE(traces.text().find("Propagating relaxations for"), std::string::npos);
}

TEST_F(RelaxationTest, ARemovedViolatedConstraintLeavesTheViolatedSet) {
  m_engine->setAllowViolations(true);
  Id<ConstrainedVariable> x = intVar("x", 5, 10), y = intVar("y", 0, 3);
  Constraint* c = leq("c", x, y);
  leq("other", y, y);
  EXPECT_TRUE(m_engine->propagate());
  RecordingEngineListener listener(engine());
  delete c;
  EXPECT_EQ(listener.events(), (Events{"L violationRemoved c", "L removedConstraint c"}));
  EXPECT_EQ(m_engine->getViolation(), 0.0);
  EXPECT_EQ(m_engine->getAllViolations().size(), 0);
  EXPECT_EQ(x->getViolation(), 0.0);
  m_engine->setAllowViolations(false); // no violation is left to refuse it
  EXPECT_TRUE(m_engine->propagate());
}

TEST_F(RelaxationTest, RemovingOneEmptiedVariableLeavesTheOthersRecorded) {
  Id<ConstrainedVariable> x = intVar("x", 0, 1), y = intVar("y", 0, 1), z = intVar("z", 0, 1);
  x->getCurrentDomain().empty();
  y->getCurrentDomain().empty();
  delete static_cast<ConstrainedVariable*>(x);
  EXPECT_TRUE(m_engine->pending());
  EXPECT_TRUE(m_engine->getViolationMgr().isEmpty(y));
  delete static_cast<ConstrainedVariable*>(z); // not empty: the record is untouched
  EXPECT_EQ(m_engine->getViolationMgr().getEmptyVariables().size(), 1u);
}

TEST_F(RelaxationTest, AVariableBeingDestroyedIsNeverRelaxed) {
  Id<ConstrainedVariable> v = narrowed("v"), w = narrowed("w");
  link("c1", makeScope(v, w));
  link("c2", makeScope(w, v));
  EXPECT_TRUE(m_engine->propagate());
  RecordingEngineListener listener(engine());
  // c1's removal relaxes w, whose cascade reaches v through c2 while v is going.
  delete static_cast<ConstrainedVariable*>(v);
  EXPECT_EQ(relaxed(listener.events()), (Events{"w"}));
}

TEST_F(RelaxationTest, RemovalIsRefusedDuringARun) {
  struct Remover : ConstraintEngineListener {
    Remover(const Id<ConstraintEngine>& e) : ConstraintEngineListener(e), engine(e) {}
    void notifyExecuted(const Id<Constraint>& c) override {
      if (variable.isNoId())
        engine->remove(c);
      else
        engine->remove(variable);
    }
    const Id<ConstraintEngine>& engine;
    Id<ConstrainedVariable> variable;
  };
  Id<ConstrainedVariable> x = intVar("x", 0, 10);
  leq("c", x, x);
  Remover remover(engine());
  EXPECT_CHECK_FAILS(m_engine->propagate(), "!m_propInProgress");
  x->touch();
  remover.variable = x;
  EXPECT_CHECK_FAILS(m_engine->propagate(), "!m_propInProgress");
  EXPECT_EQ(m_engine->getConstraints().size(), 1u); // the refusals took nothing away
  EXPECT_EQ(m_engine->getVariables().size(), 1u);
}

// A deletion by name that a listener makes while a relaxation spreads propagates only once what it
// widened has joined the relaxation: nothing then bounds u and w.
TEST_F(RelaxationTest, ADeletionByNameDuringARelaxationPropagatesAfterItsWideningJoined) {
  struct Deleter : ConstraintEngineListener {
    Deleter(const Id<ConstraintEngine>& e, const Id<ConstrainedVariable>& v, const Id<Constraint>& c)
        : ConstraintEngineListener(e), engine(e), heard(v), victim(c) {}
    void notifyChanged(const Id<ConstrainedVariable>& v, const DomainListener::ChangeType&) override {
      if (v != heard || victim.isNoId())
        return;
      const Id<Constraint> c = victim;
      victim = Id<Constraint>();
      engine->deleteConstraint(c);
    }
    Id<ConstraintEngine> engine;
    Id<ConstrainedVariable> heard;
    Id<Constraint> victim;
  };
  const Id<ConstrainedVariable> t = intVar("t", 0, 10), r = intVar("r", 0, 10), e = intVar("e", 0, 10);
  const Id<ConstrainedVariable> u = intVar("u", 0, 10), w = intVar("w", 0, 10);
  t->specify(3);
  Constraint* rt = leq("rt", r, t);
  new EqualConstraint("re", "Default", engine(), makeScope(r, e));
  Constraint* ut = leq("ut", u, t);
  new EqualConstraint("uw", "Default", engine(), makeScope(u, w));
  ASSERT_TRUE(m_engine->propagate());
  ASSERT_EQ(w->toString(), "[0,3]");
  Deleter deleter(engine(), e, ut->getId());
  m_engine->deleteConstraint(rt->getId());
  EXPECT_TRUE(deleter.victim.isNoId());
  EXPECT_TRUE(m_engine->propagate());
  for (const Id<ConstrainedVariable>& v : {r, e, u, w})
    EXPECT_EQ(v->toString(), "[0,10]") << v->getName().toString();
}

} // namespace
} // namespace KALDEN
