#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
#include "support/EngineFixture.hh"
#include "support/Failure.hh"
#include "support/RecordingEngineListener.hh"
#include "support/TestConstraints.hh"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace KALDEN {
namespace {

using Events = std::vector<std::string>;

class SpecificationTest : public NetworkFixture {
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

TEST_F(SpecificationTest, SpecifyValuePropagatesOnlyWithAutoPropagation) {
  chain();
  PSVarValue three(3, INTEGER), two(2, INTEGER), real(2.5, DOUBLE);
  y->specifyValue(three);
  EXPECT_EQ(x->toString() + " " + y->toString(), "[0,3] 3");
  m_engine->setAutoPropagation(false);
  RecordingEngineListener listener(engine());
  y->specifyValue(two); // outside {3}: the current domain empties, nothing propagates
  EXPECT_EQ(listener.events(), (Events{"L changed y EMPTIED"}));
  EXPECT_TRUE(m_engine->provenInconsistent());
  EXPECT_TRUE(y->isSingleton() && !y->isNull());
  EXPECT_EQ(y->getSingletonValue().asDouble(), 2);
  listener.clear();
  y->specifyValue(two); // the same value again does nothing at all
  EXPECT_TRUE(listener.events().empty());
  EXPECT_CHECK_FAILS(y->specifyValue(real), "getType() == v.getType()");
}

TEST_F(SpecificationTest, WithViolationsAllowedAValueOutsideTheCurrentDomainResetsFirst) {
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
}

TEST_F(SpecificationTest, ResetRelaxesTheNetworkWhichRepropagatesFromTheBase) {
  chain();
  y->specify(4);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(x->toString(), "[0,4]");
  y->reset();
  EXPECT_FALSE(y->isSpecified());
  EXPECT_EQ(x->toString(), "[0,10]"); // reached through the constraint and relaxed
  EXPECT_TRUE(m_engine->pending());
  // Emptying a domain while the relaxation cycle is still open is recorded like any other.
  x->getCurrentDomain().intersect(0, 5);
  x->specify(9);
  EXPECT_TRUE(m_engine->isRelaxed() && m_engine->getViolationMgr().isEmpty(x));
  x->relax(); // back to the specified value, not to the base domain
  EXPECT_EQ(x->lastDomain().getSingletonValue(), 9);
}

TEST_F(SpecificationTest, RestrictingTheBaseDomainTellsTheEngineAndTheConstraints) {
  chain();
  RecordingEngineListener listener(engine());
  y->restrictBaseDomain(IntervalIntDomain(-5, 20, IntDT::instance())); // contains the base: nothing happens
  EXPECT_TRUE(listener.events().empty());
  y->restrictBaseDomain(IntervalIntDomain(6, 6, IntDT::instance()));
  EXPECT_TRUE(y->specifiedFlag()); // a singleton specifies the variable
  EXPECT_EQ(listener.events().back(), "L changed y BOUNDS_RESTRICTED");
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(x->toString(), "[0,6]");
  EXPECT_CHECK_FAILS(x->restrictBaseDomain(IntervalIntDomain(20, 30, IntDT::instance())),
                     "dom.intersects(baseDomain())");
}

TEST_F(SpecificationTest, SpecifyingFromAListenerDuringARunLeavesItToThatRun) {
  struct Specifier : ConstraintEngineListener {
    Specifier(const Id<ConstraintEngine>& e, const Id<ConstrainedVariable>& v) : ConstraintEngineListener(e), var(v) {}
    void notifyExecuted(const Id<Constraint>&) override {
      PSVarValue five(5, INTEGER);
      var->specifyValue(five);
    }
    Id<ConstrainedVariable> var;
  };
  x = intVar("x", 0, 10);
  y = intVar("y", 0, 10);
  new LessThanEqualTestConstraint("c", "Default", engine(), makeScope(x, y));
  Specifier specifier(engine(), y);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(x->toString(), "[0,5]");
}

TEST_F(SpecificationTest, MembershipChangesFollowTheBaseDomain) {
  NumericDomain open(FloatDT::instance());
  open.insert(1);
  Id<ConstrainedVariable> e =
      (new Variable<EnumeratedDomain>(engine(), open, false, true, "e", Id<Entity>::noId(), -1))->getId();
  e->insert(2);
  e->insert(3);
  EXPECT_CHECK_FAILS(e->open(), "internal_baseDomain().isClosed()");
  e->close();
  EXPECT_TRUE(e->isClosed() && e->lastDomain().isClosed());
  EXPECT_CHECK_FAILS(e->insert(4), "internal_baseDomain().isOpen()");
  e->remove(2);
  EXPECT_EQ(e->toString(), "{1, 3}");
  RecordingEngineListener listener(engine());
  e->open();
  EXPECT_EQ(listener.events(), (Events{"L changed e OPENED"}));
  e->specify(3);
  e->insert(9); // a specified variable keeps its current domain
  EXPECT_TRUE(e->baseDomain().isMember(9) && !e->lastDomain().isMember(9));
  EXPECT_CHECK_FAILS(e->getValues(), "!isSingleton() && isEnumerated()");
  EXPECT_CHECK_FAILS(e->updateLastRelaxed(e->lastRelaxed()), "m_lastRelaxed < cycleCount"); // opening relaxed it
}

} // namespace
} // namespace KALDEN
