#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/Domains.hh"
#include "support/EngineFixture.hh"
#include "support/Failure.hh"
#include "support/RecordingEngineListener.hh"
#include "support/TestConstraints.hh"

#include <gtest/gtest.h>

#include <list>
#include <set>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

using Events = std::vector<std::string>;

// Records what it is told; on discard it deletes itself, or stays registered when asked to.
class RecordingVariableListener : public ConstrainedVariableListener {
public:
  RecordingVariableListener(const Id<ConstrainedVariable>& var, Events& log, bool deleteOnDiscard)
      : ConstrainedVariableListener(var), m_log(log), m_deleteOnDiscard(deleteOnDiscard) {}
  void notifyDiscard() override {
    m_log.push_back("discard");
    if (m_deleteOnDiscard)
      delete this;
  }
  void notifyConstraintAdded(const Id<Constraint>& c, int argIndex) override {
    m_log.push_back("added " + c->getName().toString() + "[" + std::to_string(argIndex) +
                    "] linked=" + std::to_string(m_variable->isConstrainedBy(c)));
  }
  void notifyConstraintRemoved(const Id<Constraint>& c, int argIndex) override {
    m_log.push_back("removed " + c->getName().toString() + "[" + std::to_string(argIndex) + "]");
  }

private:
  Events& m_log;
  bool m_deleteOnDiscard;
};

class ConstrainedVariableTest : public EngineFixture {
protected:
  template <class Dom>
  ConstrainedVariable* make(const Dom& dom, const char* name = "v") {
    return new Variable<AbstractDomain>(engine(), dom, false, true, name, Id<Entity>::noId(),
                                        ConstrainedVariable::NO_INDEX);
  }
};

TEST_F(ConstrainedVariableTest, ConstructorChecksComeBeforeAnyRegistration) {
  RecordingEngineListener listener(engine());
  const std::size_t handles = IdTable::size();
  const IntervalDomain dom(0, 1, FloatDT::instance());
  struct Case {
    Id<ConstraintEngine> engine;
    Id<Entity> parent;
    int index;
    const char* failure;
  } cases[] = {
      {engine(), Id<Entity>::noId(), -2, "m_index >= NO_INDEX"},
      {engine(), Id<Entity>::noId(), 0, "m_index == NO_INDEX || parent.isValid()"},
      {Id<ConstraintEngine>::noId(), Id<Entity>::noId(), -1, "m_constraintEngine.isValid()"},
  };
  for (const Case& c : cases) {
    EXPECT_CHECK_FAILS(new Variable<IntervalDomain>(c.engine, dom, false, true, "v", c.parent, c.index), c.failure);
    EXPECT_EQ(IdTable::size(), handles);
  }
  EXPECT_TRUE(m_engine->getVariables().empty());
  EXPECT_TRUE(listener.events().empty());

  // With a parent the variable has its index, and the parent as public entity.
  ConstrainedVariable* parent = make(dom, "parent");
  Variable<IntervalDomain> child(engine(), dom, true, false, "child", parent->getId(), 0);
  EXPECT_EQ(child.getParent(), static_cast<PSEntity*>(parent));
  EXPECT_EQ(child.getIndex(), 0);
  EXPECT_EQ(parent->getParent(), nullptr);
  EXPECT_FALSE(child.canBeSpecified());
  delete parent;
}

TEST_F(ConstrainedVariableTest, PrintsItsValues) {
  const Id<DataType> floatDT = FloatDT::instance(), intDT = IntDT::instance(), boolDT = BoolDT::instance();
  struct Case {
    AbstractDomain* dom;
    const char* text;
    PSVarType type;
    const char* emptied; // a closed singleton base counts as specified, so it never prints as NULL
  } cases[] = {
      {new IntervalIntDomain(0, 10, intDT), "[0,10]", INTEGER, "NULL"},
      {new IntervalDomain(0.5, 2.25, floatDT), "[0.5,2.25]", DOUBLE, "NULL"},
      {new IntervalIntDomain(7, intDT), "7", INTEGER, "7"},
      {new IntervalDomain(1.0 / 3.0, floatDT), "0.3333333333", DOUBLE, "0.3333333333"},
      {new BoolDomain(true, boolDT), "1", BOOLEAN, "1"},
      {new NumericDomain(std::list<double>{1, 2, 3}, floatDT), "{1, 2, 3}", DOUBLE, "NULL"},
      {new IntervalDomain(floatDT), "[-2147483647,2147483647]", DOUBLE, "NULL"},
  };
  for (const Case& c : cases) {
    ConstrainedVariable* var = make(*c.dom);
    EXPECT_EQ(var->toString(), c.text);
    EXPECT_EQ(var->getType(), c.type) << c.text;
    EXPECT_EQ(var->toLongString(), "v(" + std::to_string(var->getKey()) + ") DERIVED=" + c.dom->toString());
    var->getCurrentDomain().empty();
    EXPECT_EQ(var->toString(), c.emptied);
    EXPECT_TRUE(var->isValid()); // an emptied current domain does not make the variable invalid
    delete var;
    delete c.dom;
  }
}

TEST_F(ConstrainedVariableTest, LinksOnePerScopePosition) {
  Events log;
  Id<ConstrainedVariable> x = floatVar("x", 0, 10);
  Id<ConstrainedVariable> y = floatVar("y", 0, 10);
  new RecordingVariableListener(x, log, true);
  EXPECT_TRUE(x->getFirstConstraint().isNoId());
  EXPECT_FALSE(x->hasActiveConstraint());

  TestConstraint* a = new TestConstraint("a", "Default", engine(), makeScope(x, y, x));
  TestConstraint* b = new TestConstraint("b", "Default", engine(), makeScope(y, x));
  EXPECT_EQ(log, (Events{"added a[0] linked=1", "added a[2] linked=1", "added b[1] linked=1"}));
  EXPECT_EQ(x->constraintCount(), 3u);
  EXPECT_EQ(x->getFirstConstraint(), a->getId());
  EXPECT_TRUE(x->hasActiveConstraint());
  const PSList<PSConstraint*> listed = x->getConstraints();
  ASSERT_EQ(listed.size(), 3);
  EXPECT_EQ(listed.get(0), static_cast<PSConstraint*>(a));
  EXPECT_EQ(listed.get(1), static_cast<PSConstraint*>(a));
  EXPECT_EQ(listed.get(2), static_cast<PSConstraint*>(b));
  std::set<Id<Constraint>, EntityComparator<Id<Constraint> > > byKey;
  x->constraints(byKey);
  EXPECT_EQ(byKey.size(), 2u);
  EXPECT_TRUE(x->isValid());

  log.clear();
  const Id<Constraint> aid = a->getId();
  delete a;
  EXPECT_EQ(log, (Events{"removed a[0]", "removed a[2]"}));
  EXPECT_EQ(x->getFirstConstraint(), b->getId());
  EXPECT_FALSE(x->isConstrainedBy(aid));
  b->deactivate();
  EXPECT_FALSE(x->hasActiveConstraint());

  log.clear();
  delete static_cast<ConstrainedVariable*>(x); // discards b, then dismisses the listener
  EXPECT_EQ(log, (Events{"discard"}));
  EXPECT_TRUE(b->isDiscarded());
  EXPECT_EQ(y->constraintCount(), 0u);
  delete b;
  delete static_cast<ConstrainedVariable*>(y);
}

TEST_F(ConstrainedVariableTest, ListenerThatStaysRegisteredIsDroppedAndMayOutliveTheVariable) {
  Events log;
  ConstrainedVariable* x = make(IntervalDomain(0, 1, FloatDT::instance()));
  RecordingVariableListener stays(x->getId(), log, false);
  std::unique_ptr<RecordingVariableListener> later(new RecordingVariableListener(x->getId(), log, false));
  EXPECT_CHECK_FAILS(x->notifyAdded(stays.getId()), "m_listeners.find(listener) == m_listeners.end()");
  delete x; // would loop for ever on a listener that never unregisters
  EXPECT_EQ(log, (Events{"discard", "discard"}));
  const unsigned long reported = Error::suppressedCount();
  later.reset(); // leaves the deleted variable alone
  EXPECT_EQ(Error::suppressedCount(), reported);
}

TEST_F(ConstrainedVariableTest, ListenerDeletedBeforeTheVariableUnregisters) {
  Events log;
  ConstrainedVariable* x = make(IntervalDomain(0, 1, FloatDT::instance()));
  delete new RecordingVariableListener(x->getId(), log, false);
  const unsigned long reported = Error::suppressedCount();
  delete x;
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(Error::suppressedCount(), reported);
}

TEST_F(ConstrainedVariableTest, DiscardTellsTheEngineWhileTheDomainsStillExist) {
  // A listener that prints the removed constraint, and with it the variables' current domains.
  struct Printer : RecordingEngineListener {
    Printer(const Id<ConstraintEngine>& e) : RecordingEngineListener(e) {}
    void notifyRemoved(const Id<Constraint>& c) override { printed.push_back(c->toString()); }
    Events printed;
  } printer(engine());
  Id<ConstrainedVariable> x = intVar("x", 1, 2);
  Id<ConstrainedVariable> y = intVar("y", 3, 4);
  TestConstraint* c = new TestConstraint("c", "Default", engine(), makeScope(x, y));
  delete static_cast<ConstrainedVariable*>(x);
  ASSERT_EQ(printer.printed.size(), 1u);
  EXPECT_NE(printer.printed[0].find(" ARG[0]:x("), std::string::npos);
  EXPECT_NE(printer.printed[0].find("DERIVED=int:CLOSED[1, 2]"), std::string::npos);
  delete c;
  delete static_cast<ConstrainedVariable*>(y);
}

} // namespace
} // namespace KALDEN
