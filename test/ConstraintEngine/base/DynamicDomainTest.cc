#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/component/EqualityConstraints.hh"
#include "ConstraintEngine/component/OrderingConstraints.hh"
#include "ConstraintEngine/component/AllDiffConstraints.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/EnumeratedDomains.hh"
#include "Utils/LabelStr.hh"
#include "support/EngineFixture.hh"
#include "support/RecordingEngineListener.hh"

#include <gtest/gtest.h>

#include <list>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

using Events = std::vector<std::string>;

// Variables whose base domain a client still builds: opened, closed, grown and shrunk.
class DynamicDomainTest : public NetworkFixture {
protected:
  // The shared string type lives for the whole process: made before the fixture counts handles.
  static void SetUpTestSuite() { StringDT::instance(); }
  // A new real enumeration variable over the values, still open to insertion.
  Id<ConstrainedVariable> openVar(const char* name, const std::list<double>& values) {
    return openEnum(name, values, FloatDT::instance());
  }
  // A new string variable holding the texts, open to insertion or closed.
  Id<ConstrainedVariable> strings(const char* name, const std::list<const char*>& texts, bool open) {
    StringDomain dom(StringDT::instance());
    for (const char* text : texts)
      dom.insert(text);
    if (!open)
      dom.close();
    return (new Variable<StringDomain>(engine(), dom, false, true, name, Id<Entity>::noId(),
                                       ConstrainedVariable::NO_INDEX))
        ->getId();
  }
  Constraint* equal(const Id<ConstrainedVariable>& a, const Id<ConstrainedVariable>& b) {
    return new EqualConstraint("Equal", "Default", engine(), makeScope(a, b));
  }
  Constraint* leq(const Id<ConstrainedVariable>& a, const Id<ConstrainedVariable>& b) {
    return new LessThanEqualConstraint("leq", "Default", engine(), makeScope(a, b));
  }
  static std::string members(const Id<ConstrainedVariable>& var) { return var->lastDomain().toString(); }
};

// An open variable meeting a closed one takes the members its base holds, and holds only values
// it can be specified to; an open string base answers every label a member, and closing cuts what
// a string variable took back to what it was given.
TEST_F(DynamicDomainTest, AnOpenVariableTakesWhatItsBaseHoldsAndClosingCutsTheRest) {
  Id<ConstrainedVariable> x = openVar("x", {5}), y = enumVar("y", {6});
  Constraint* xy = equal(y, x);
  EXPECT_FALSE(m_engine->propagate());
  EXPECT_EQ(members(x), "float:CLOSED{}");
  x->insert(6);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(members(x), "float:CLOSED{6}");
  delete xy;

  Id<ConstrainedVariable> u = openVar("u", {5, 6}), w = enumVar("w", {4, 6, 7});
  Constraint* uw = equal(u, w);
  EXPECT_EQ(members(u), "float:OPEN{5, 6}");
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(members(u), "float:CLOSED{6}");
  EXPECT_EQ(members(w), "float:CLOSED{6}");
  u->close();
  EXPECT_TRUE(u->isValid());
  EXPECT_EQ(members(u), "float:CLOSED{6}");
  delete uw;

  Id<ConstrainedVariable> s = strings("s", {"blue"}, true), k = strings("k", {"blue", "red"}, false);
  equal(s, k);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(members(s), "string:CLOSED{blue,red}");
  EXPECT_TRUE(s->isValid());
  RecordingEngineListener listener(engine());
  s->close();
  EXPECT_TRUE(s->isValid());
  EXPECT_EQ(members(s), "string:CLOSED{blue}");
  EXPECT_EQ(listener.events(), (Events{"L changed s RESTRICT_TO_SINGLETON"}));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(members(k), "string:CLOSED{blue}");
}

// Opening a specified variable leaves its value in place: no constraint swaps it for another.
TEST_F(DynamicDomainTest, OpeningASpecifiedVariableKeepsItsValue) {
  Id<ConstrainedVariable> v = enumVar("v", {6}), w = enumVar("w", {-6});
  v->specify(6);
  RecordingEngineListener listener(engine());
  v->open();
  EXPECT_TRUE(v->baseDomain().isOpen());
  EXPECT_EQ(members(v), "float:CLOSED{6}");
  EXPECT_TRUE(listener.events().empty()); // the current domain did not change
  v->insert(7);
  equal(v, w);
  EXPECT_FALSE(m_engine->propagate());
  EXPECT_EQ(members(v), "float:CLOSED{6}");
  EXPECT_TRUE(w->lastDomain().isEmpty());
  EXPECT_TRUE(v->isSpecified() && v->getSpecifiedValue() == 6);
  // Each way back from there holds the value: relaxed, and reset to the whole base.
  v->relax();
  EXPECT_EQ(members(v), "float:CLOSED{6}");
  v->reset();
  EXPECT_EQ(members(v), "float:OPEN{6, 7}");
  EXPECT_FALSE(v->isSpecified());
}

// Opening widens the variable to its base; what it held narrowed comes back once nothing narrows it.
TEST_F(DynamicDomainTest, OpeningGivesTheBaseValuesBack) {
  Id<ConstrainedVariable> x = openVar("x", {-6, 0}), y = enumVar("y", {-6});
  x->close();
  Constraint* xy = equal(x, y);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(members(x), "float:CLOSED{-6}");
  RecordingEngineListener listener(engine());
  x->open();
  EXPECT_EQ(members(x), "float:OPEN{-6, 0}");
  // Opening relaxes the neighbour first, as any relaxation does, then the variable itself.
  EXPECT_EQ(listener.events(), (Events{"L changed y RELAXED", "L changed x OPENED", "L changed x RELAXED"}));
  delete xy;
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(members(x), "float:OPEN{-6, 0}");

  // Likewise when the constraint stays: it narrows the variable again from its whole base.
  Id<ConstrainedVariable> z = openVar("z", {1, 2}), t = enumVar("t", {1, 2});
  z->close();
  equal(z, t);
  t->specify(2);
  EXPECT_TRUE(m_engine->propagate());
  z->open();
  t->reset();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(members(z), "float:CLOSED{1, 2}");
}

// An open string domain answers every label a member, yet a string variable holds only what it
// was given: an insertion reaches its current domain, closing keeps it, and reopening gives back
// what a switched-off constraint narrowed, as for numbers.
TEST_F(DynamicDomainTest, AStringVariableTakesWhatIsInsertedAndWhatOpeningGivesBack) {
  Id<ConstrainedVariable> x = strings("x", {"blue"}, true), e = strings("e", {}, true);
  x->insert(LabelStr("red").getKey());
  e->insert(LabelStr("red").getKey());
  EXPECT_EQ(members(x), "string:OPEN{blue,red}");
  EXPECT_EQ(members(e), "string:OPEN{red}");
  x->close();
  e->close();
  EXPECT_EQ(members(x), "string:CLOSED{blue,red}");
  EXPECT_EQ(members(e), "string:CLOSED{red}");

  Id<ConstrainedVariable> y = strings("y", {"a", "b"}, false), z = strings("z", {"a"}, false);
  Constraint* yz = new NotEqualConstraint("neq", "Default", engine(), makeScope(y, z));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(members(y), "string:CLOSED{b}");
  yz->deactivate();
  y->open();
  EXPECT_EQ(members(y), "string:OPEN{a,b}");
}

// Redundancy rests on closed singleton base domains: once one opens, the constraint checks whatever
// the variable gains, whether the engine had retired it yet or not.
TEST_F(DynamicDomainTest, OpeningUndoesRedundancy) {
  // Found redundant, then opened before the engine retired it: it is not retired.
  Id<ConstrainedVariable> x = enumVar("x", {1, 2}), y = enumVar("y", {2});
  Constraint* xy = leq(y, x); // leaves an open domain alone
  x->restrictBaseDomain(NumericDomain(std::list<double>{2, 7}, FloatDT::instance())); // not specified
  EXPECT_TRUE(xy->isRedundant());
  x->open();
  EXPECT_FALSE(xy->isRedundant());
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(xy->isActive());
  EXPECT_FALSE(xy->isRetired());
  x->insert(1);
  x->close();
  EXPECT_EQ(members(x), "float:CLOSED{1, 2}");
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(members(x), "float:CLOSED{2}");

  // Retired: final while the bases stay closed, also through the switching of a scope variable;
  // once one opens it constrains again, the switching undone in between.
  Id<ConstrainedVariable> u = enumVar("u", {3}), w = enumVar("w", {3});
  Constraint* uw = leq(w, u);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(uw->isRetired());
  w->deactivate();
  w->undoDeactivation();
  uw->undoDeactivation(); // nothing to undo but the retirement, which stays
  EXPECT_FALSE(uw->isActive());
  w->deactivate();
  u->open();
  EXPECT_FALSE(uw->isRetired());
  EXPECT_FALSE(uw->isActive()); // w is still switched off
  w->undoDeactivation();
  EXPECT_TRUE(uw->isActive());
  u->insert(1);
  u->close();
  EXPECT_EQ(members(u), "float:CLOSED{1, 3}");
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(members(u), "float:CLOSED{3}");

  // A composite retired leaves its members running; back from retirement it owns them as before.
  delete xy;
  delete uw;
  Id<ConstrainedVariable> a = enumVar("a", {1}), b = enumVar("b", {2});
  Constraint* diff = new AllDiffConstraint("AllDiff", "Default", engine(), makeScope(a, b));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(diff->isRetired());
  a->open();
  EXPECT_TRUE(diff->isActive());
  a->insert(2);
  a->close();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(members(a), "float:CLOSED{1}");
  // Its members follow it off and on again.
  diff->deactivate();
  a->reset();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(members(a), "float:CLOSED{1, 2}");
  diff->undoDeactivation();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(members(a), "float:CLOSED{1}");
}

} // namespace
} // namespace KALDEN
