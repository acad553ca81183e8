#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/component/FunctionConstraints.hh"
#include "ConstraintEngine/component/OrderingConstraints.hh"
#include "ConstraintEngine/component/SignConstraints.hh"
#include "ConstraintEngine/component/TestConstraints.hh"
#include "support/EngineFixture.hh"
#include "support/Failure.hh"
#include "support/RecordingEngineListener.hh"
#include "support/TestConstraints.hh"

#include <gtest/gtest.h>

#include <list>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

using Events = std::vector<std::string>;

class VariableChangesTest : public NetworkFixture {
protected:
  // x <= y over [0,10] and [0,10], propagated.
  void chain() {
    x = intVar("x", 0, 10);
    y = intVar("y", 0, 10);
    new LessThanEqualTestConstraint("c", "Default", engine(), makeScope(x, y));
    m_engine->propagate();
  }
  Id<ConstrainedVariable> x, y;
};

TEST_F(VariableChangesTest, SpecifyValuePropagatesOnlyWithAutoPropagation) {
  chain();
  PSVarValue three(3, INTEGER);
  y->specifyValue(three);
  EXPECT_EQ(x->toString(), "[0,3]");
  EXPECT_EQ(y->toString(), "3");
  EXPECT_TRUE(y->isSpecified() && y->specifiedFlag());

  m_engine->setAutoPropagation(false);
  RecordingEngineListener listener(engine());
  PSVarValue two(2, INTEGER);
  y->specifyValue(two); // outside {3}: the current domain empties, nothing propagates
  EXPECT_TRUE(y->lastDomain().isEmpty());
  EXPECT_TRUE(m_engine->pending());
  EXPECT_TRUE(y->isSingleton() && !y->isNull());
  EXPECT_EQ(y->getSingletonValue().asDouble(), 2);
  EXPECT_EQ(listener.events(), (Events{"L changed y EMPTIED"}));

  // The same value again does nothing at all.
  listener.clear();
  y->specifyValue(two);
  EXPECT_TRUE(listener.events().empty());
  PSVarValue real(2.5, DOUBLE);
  EXPECT_CHECK_FAILS(y->specifyValue(real), "getType() == v.getType()");
}

TEST_F(VariableChangesTest, WithViolationsAllowedAValueOutsideTheCurrentDomainResetsFirst) {
  m_engine->setAllowViolations(true);
  chain();
  y->getCurrentDomain().intersect(0, 4);
  y->specify(7);
  EXPECT_EQ(y->toString(), "7");
  EXPECT_FALSE(m_engine->provenInconsistent());

  const Error outside = failureOf([&] { y->specify(12); });
  EXPECT_EQ(outside.getCondition(), "baseDomain().isMember(singletonValue)");
  EXPECT_EQ(outside.getMessage(), "12 not in " + y->baseDomain().toString());
  EXPECT_EQ(y->getSpecifiedValue(), 7);
  Id<ConstrainedVariable> fixed = (new Variable<IntervalIntDomain>(engine(), IntervalIntDomain(0, 3, IntDT::instance()),
                                                                   false, false, "fixed", Id<Entity>::noId(), -1))
                                      ->getId();
  EXPECT_CHECK_FAILS(fixed->specify(1), "canBeSpecified()");
}

TEST_F(VariableChangesTest, ResetRelaxesTheNetworkWhichRepropagatesFromTheBase) {
  chain();
  y->specify(4);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(x->toString(), "[0,4]");
  y->reset();
  EXPECT_FALSE(y->isSpecified());
  EXPECT_EQ(x->toString(), "[0,10]"); // reached through the constraint and relaxed
  EXPECT_TRUE(m_engine->pending());
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(x->toString(), "[0,10]");

  // A partial reset, and one that must lie within the base domain.
  y->getCurrentDomain().intersect(3, 4);
  y->reset(IntervalIntDomain(2, 5, IntDT::instance()));
  EXPECT_EQ(y->toString(), "[2,5]");
  EXPECT_CHECK_FAILS(y->reset(IntervalIntDomain(2, 15, IntDT::instance())), "domain.isSubsetOf(internal_baseDomain())");
  // Emptying a domain while the relaxation cycle is still open is recorded like any other.
  EXPECT_TRUE(m_engine->isRelaxed());
  y->specify(7);
  EXPECT_TRUE(m_engine->pending());
  EXPECT_TRUE(m_engine->getViolationMgr().isEmpty(y));
  // relax() goes back to the specified value when there is one.
  y->relax();
  EXPECT_EQ(y->lastDomain().getSingletonValue(), 7);
}

TEST_F(VariableChangesTest, RestrictingTheBaseDomainTellsTheEngineAndTheConstraints) {
  chain();
  RecordingEngineListener listener(engine());
  y->restrictBaseDomain(IntervalIntDomain(-5, 20, IntDT::instance())); // contains the base: nothing happens
  EXPECT_TRUE(listener.events().empty());
  y->restrictBaseDomain(IntervalIntDomain(6, 6, IntDT::instance()));
  EXPECT_TRUE(y->specifiedFlag()); // a singleton specifies the variable
  EXPECT_EQ(listener.events().back(), "L changed y BOUNDS_RESTRICTED");
  EXPECT_TRUE(m_propagator->updateRequired());
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(x->toString(), "[0,6]");
  EXPECT_CHECK_FAILS(x->restrictBaseDomain(IntervalIntDomain(20, 30, IntDT::instance())),
                     "dom.intersects(baseDomain())");
  x->deactivate();
  EXPECT_CHECK_FAILS(x->restrictBaseDomain(IntervalIntDomain(0, 1, IntDT::instance())), "isActive()");
  x->undoDeactivation();
}

// A base narrower than the tolerance holds more than one value: it specifies nothing, a reset or a
// relaxation widens back to all of it (so i < v answers as over a fresh v), and restricting a base
// to such an interval does not specify its upper bound.
TEST_F(VariableChangesTest, ABaseNarrowerThanTheToleranceIsNotOneValue) {
  const Id<ConstrainedVariable> v = floatVar("v", 3, 3.000008), fresh = floatVar("fresh", 3, 3.000008);
  const Id<ConstrainedVariable> i = intVar("i", 0, 10), j = intVar("j", 0, 10);
  EXPECT_FALSE(v->isSpecified());
  v->specify(3);
  EXPECT_TRUE(m_engine->propagate());
  v->reset();
  new LessThanConstraint("lt", "Default", engine(), makeScope(i, v));
  new LessThanConstraint("lt", "Default", engine(), makeScope(j, fresh));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(v->lastDomain().getUpperBound(), 3.000008);
  EXPECT_EQ(i->lastDomain().getUpperBound(), j->lastDomain().getUpperBound());

  // A value within the tolerance of the upper end only cuts it by less than the tolerance.
  v->getCurrentDomain().remove(3.000015);
  EXPECT_LT(v->lastDomain().getUpperBound(), 3.000008);
  v->relax();
  EXPECT_EQ(v->lastDomain().getUpperBound(), 3.000008);

  const Id<ConstrainedVariable> w = floatVar("w", 0, 10);
  w->restrictBaseDomain(IntervalDomain(3, 3.000008, FloatDT::instance()));
  EXPECT_FALSE(w->specifiedFlag() || w->isSpecified());
  EXPECT_EQ(w->lastDomain().getLowerBound(), 3);
  EXPECT_EQ(w->lastDomain().getUpperBound(), 3.000008);
}

// A value moved by less than the tolerance, outward of what the domain held, is a widening: what
// rules decided from the old domain comes back. n lies wholly 1.5e-5 below q, so t is true;
// 0.999993 lies within the tolerance of n's upper end, but not of q's 1: t turns false, as over a
// fresh engine.
TEST_F(VariableChangesTest, AValueMovedWithinTheToleranceWidens) {
  const Id<ConstrainedVariable> t = intVar("t", 0, 1), n = floatVar("n", 0.5, 0.999985), q = floatVar("q", 1, 1);
  new TestLessThan("lt", "Default", engine(), makeScope(t, n, q));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(t->toString(), "1");
  n->specify(0.999993);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(t->toString(), "0");
}

// A removal keeps the current domain within the base. A base narrower than the tolerance empties
// whole, and takes along a current value within it that the removed value lay too far from; the
// engine then answers false, and a reset and the removal of a neighbour go through. A base end
// stepped past a removed value stays apart from it: a rule converging on that value empties the
// variable rather than bring the value back.
TEST_F(VariableChangesTest, ARemovalKeepsTheCurrentDomainWithinTheBase) {
  const Id<ConstrainedVariable> v0 = floatVar("v0", 0, 6e-6), v1 = floatVar("v1", 0, 6e-6);
  v0->specify(4.5e-6);
  new NegateConstraint("neg", "Default", engine(), makeScope(v1, v0));
  ASSERT_TRUE(m_engine->propagate());
  ASSERT_EQ(v1->lastDomain().getUpperBound(), -4.5e-6);
  v1->remove(6e-6);
  EXPECT_TRUE(v1->baseDomain().isEmpty());
  EXPECT_TRUE(v1->lastDomain().isEmpty());
  EXPECT_FALSE(m_engine->propagate());
  v1->reset();
  delete static_cast<ConstrainedVariable*>(v0);
  EXPECT_FALSE(m_engine->propagate());
  EXPECT_TRUE(v1->lastDomain().isEmpty());

  const Id<ConstrainedVariable> x = floatVar("x", -3, 0);
  new SineFunction("sin", "Default", engine(), makeScope(x, x));
  delete static_cast<ConstrainedVariable*>(v1);
  ASSERT_TRUE(m_engine->propagate());
  const double least = x->lastDomain().getLowerBound();
  ASSERT_LT(least, 0);
  ASSERT_GT(least, -1e-5);
  x->remove(least);
  EXPECT_TRUE(x->lastDomain().isEmpty());
  EXPECT_FALSE(m_engine->propagate());
  EXPECT_TRUE(x->isValid());
  EXPECT_TRUE(x->lastDomain().isEmpty());
}

TEST_F(VariableChangesTest, SpecifyingFromAListenerDuringARunLeavesItToThatRun) {
  struct Specifier : ConstraintEngineListener {
    Specifier(const Id<ConstraintEngine>& e, const Id<ConstrainedVariable>& v) : ConstraintEngineListener(e), var(v) {}
    void notifyExecuted(const Id<Constraint>&) override {
      if (done)
        return;
      done = true;
      PSVarValue five(5, INTEGER);
      var->specifyValue(five);
    }
    Id<ConstrainedVariable> var;
    bool done = false;
  };
  x = intVar("x", 0, 10);
  y = intVar("y", 0, 10);
  new LessThanEqualTestConstraint("c", "Default", engine(), makeScope(x, y));
  Specifier specifier(engine(), y);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(x->toString(), "[0,5]");
}

TEST_F(VariableChangesTest, EnumerationsCloseOpenAndChangeMembers) {
  NumericDomain open(FloatDT::instance());
  open.insert(1);
  open.insert(2);
  Id<ConstrainedVariable> e =
      (new Variable<EnumeratedDomain>(engine(), open, false, true, "e", Id<Entity>::noId(), -1))->getId();
  e->insert(3);
  EXPECT_EQ(e->lastDomain().getSize(), 3);
  e->close();
  EXPECT_TRUE(e->isClosed() && e->lastDomain().isClosed());
  const Error closed = failureOf([&] { e->close(); });
  EXPECT_EQ(closed.getMessage(), "Attempted to close a variable but the base domain is already closed.");
  EXPECT_CHECK_FAILS(e->insert(4), "internal_baseDomain().isOpen()");
  e->remove(2);
  EXPECT_EQ(e->toString(), "{1, 3}");
  EXPECT_FALSE(e->baseDomain().isMember(2));

  RecordingEngineListener listener(engine());
  e->open();
  EXPECT_EQ(listener.events(), (Events{"L changed e OPENED"}));
  e->specify(3);
  e->insert(9); // a specified variable keeps its current domain
  EXPECT_TRUE(e->baseDomain().isMember(9));
  EXPECT_FALSE(e->lastDomain().isMember(9));
  EXPECT_CHECK_FAILS(e->getValues(), "!isSingleton() && isEnumerated()");
}

TEST_F(VariableChangesTest, QueriesReadTheRightDomain) {
  Id<ConstrainedVariable> e = enumVar("e", {1, 2, 3});
  const PSList<PSVarValue> values = e->getValues();
  ASSERT_EQ(values.size(), 3);
  EXPECT_EQ(values.get(2).asDouble(), 3);
  EXPECT_EQ(values.get(2).getType(), DOUBLE);
  EXPECT_CHECK_FAILS(e->getLowerBound(), "isInterval()");
  EXPECT_CHECK_FAILS(e->getSingletonValue(), "isSingleton()");
  EXPECT_CHECK_FAILS(e->getSpecifiedValue(), "isSpecified()");
  Id<ConstrainedVariable> i = intVar("i", 0, 10);
  EXPECT_CHECK_FAILS(i->getValues(), "!isSingleton() && isEnumerated()");
  i->getCurrentDomain().intersect(4, 4);
  EXPECT_EQ(i->getSingletonValue().asDouble(), 4);
  EXPECT_FALSE(i->isSpecified());
  EXPECT_EQ(i->getUpperBound(), 4);

  // Relaxation stamps only grow.
  i->updateLastRelaxed(1);
  EXPECT_CHECK_FAILS(i->updateLastRelaxed(1), "m_lastRelaxed < cycleCount");
  EXPECT_EQ(i->lastRelaxed(), 1);
}

} // namespace
} // namespace KALDEN
