#include "ConstraintEngine/base/Constraint.hh"
#include "support/EngineFixture.hh"
#include "support/Failure.hh"
#include "support/RecordingEngineListener.hh"
#include "support/TestConstraints.hh"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

using Events = std::vector<std::string>;
using Scope = std::vector<Id<ConstrainedVariable> >;

class ConstraintTest : public EngineFixture {};

TEST_F(ConstraintTest, RefusedScopesRegisterNothing) {
  RecordingEngineListener listener(engine());
  Id<ConstrainedVariable> x = floatVar("x", 0, 1);
  Id<ConstrainedVariable> y = floatVar("y", 0, 1);
  // Refuses the link to y: a failure that comes after the constraint was registered.
  struct Refuser : ConstrainedVariableListener {
    using ConstrainedVariableListener::ConstrainedVariableListener;
    void notifyConstraintAdded(const Id<Constraint>&, int) override { throw std::runtime_error("no"); }
  } refuser(y);
  x->getCurrentDomain().intersect(0, 0.5);
  listener.clear();
  m_propagator->clear();
  const std::size_t handles = IdTable::size();

  EXPECT_CHECK_FAILS(new TestConstraint("c", "Default", engine(), Scope()), "!m_variables.empty()");
  const Error failure = failureOf([&] {
    new TestConstraint("c", "Default", engine(), Scope{x, y, Id<ConstrainedVariable>::noId()});
  });
  EXPECT_EQ(failure.getCondition(), "m_variables[i].isValid()");
  EXPECT_EQ(failure.getMessage(), "The argIndex 2 is not a valid variable for constraint c");
  EXPECT_CHECK_FAILS(new TestConstraint("c", "Default", Id<ConstraintEngine>::noId(), Scope{x}),
                     "m_constraintEngine.isValid()");
  // Everything registered before the failure is taken back, and the narrowing made
  // before stays: a constraint that never got built gives its variables nothing back.
  EXPECT_THROW(new TestConstraint("c", "Default", engine(), Scope{x, y}), std::runtime_error);
  EXPECT_EQ(x->lastDomain().getUpperBound(), 0.5);

  EXPECT_EQ(IdTable::size(), handles);
  EXPECT_EQ(x->constraintCount(), 0u);
  EXPECT_EQ(y->constraintCount(), 0u);
  EXPECT_TRUE(m_engine->getConstraints().empty());
  EXPECT_EQ(listener.events(), (Events{"L addedConstraint c", "L removedConstraint c"}));
  EXPECT_EQ(m_propagator->events(), (Events{"added c", "removed c"}));
}

TEST_F(ConstraintTest, ScopeIdentityAndPrinting) {
  Id<ConstrainedVariable> x = intVar("x", 0, 3);
  Id<ConstrainedVariable> y = intVar("y", 5, 5);
  Id<ConstrainedVariable> z = intVar("z", 0, 1);
  TestConstraint c("c", "Default", engine(), makeScope(x, y, x));
  EXPECT_EQ(c.getPropagator(), m_propagator->getId());
  EXPECT_EQ(c.getCreatedBy().toString(), "UNKNOWN");
  EXPECT_TRUE(c.isVariableOf(x) && c.isVariableOf(y));
  EXPECT_FALSE(c.isVariableOf(z));
  const PSList<PSVariable*> vars = c.getVariables();
  ASSERT_EQ(vars.size(), 3);
  EXPECT_EQ(vars.get(0), static_cast<PSVariable*>(x));
  EXPECT_EQ(vars.get(2), static_cast<PSVariable*>(x));
  EXPECT_EQ(c.toString(), "c(" + std::to_string(c.getKey()) + ")\n ARG[0]:" + x->toLongString() +
                              "\n ARG[1]:" + y->toLongString() + "\n ARG[2]:" + x->toLongString() + "\n");
  EXPECT_EQ(c.getViolation(), 0.0);
  EXPECT_EQ(c.getViolationExpl(), "c(x(" + std::to_string(x->getKey()) + "),y(" + std::to_string(y->getKey()) + "),x(" +
                                      std::to_string(x->getKey()) + "))");
  EXPECT_CHECK_FAILS(c.setPropagator(m_propagator->getId()), "m_propagator.isNoId()");
}

TEST_F(ConstraintTest, DeactivationsNestAndOnlyTheEndsReachTheEngine) {
  RecordingEngineListener listener(engine());
  Id<ConstrainedVariable> x = floatVar("x", 0, 1);
  TestConstraint c("c", "Default", engine(), makeScope(x));
  listener.clear();
  m_propagator->clear();
  c.deactivate();
  c.deactivate();
  c.undoDeactivation();
  EXPECT_FALSE(c.isActive());
  EXPECT_EQ(c.deactivationCount(), 1u);
  c.undoDeactivation();
  EXPECT_TRUE(c.isActive());
  EXPECT_EQ(listener.events(), (Events{"L deactivatedConstraint c", "L activatedConstraint c"}));
  EXPECT_EQ(m_propagator->events(), (Events{"deactivated c", "activated c"}));
  EXPECT_CHECK_FAILS(c.undoDeactivation(), "m_deactivationRefCount > 0");
  EXPECT_EQ(c.deactivationCount(), 0u);
}

TEST_F(ConstraintTest, RedundantFromConstruction) {
  RecordingEngineListener listener(engine());
  Id<ConstrainedVariable> x = intVar("x", 2, 2);
  Id<ConstrainedVariable> y = intVar("y", 3, 3);
  Id<ConstrainedVariable> z = intVar("z", 3, 4);
  listener.clear();
  TestConstraint redundant("r", "Default", engine(), makeScope(x, y));
  TestConstraint ordinary("o", "Default", engine(), makeScope(x, z));
  EXPECT_TRUE(redundant.isRedundant());
  EXPECT_FALSE(ordinary.isRedundant());
  // Found redundant while active, r is queued again but was never switched off: nothing else to tell.
  EXPECT_EQ(listener.events(), (Events{"L addedConstraint r", "L addedConstraint o"}));
  EXPECT_TRUE(redundant.testIsRedundant(Id<ConstrainedVariable>::noId()));
  EXPECT_FALSE(redundant.testIsRedundant(z));

  // Switched off before it ran, it comes back; once the engine has retired it, it stays off.
  redundant.deactivate();
  redundant.undoDeactivation();
  EXPECT_TRUE(redundant.isActive());
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(redundant.isRetired());
  redundant.undoDeactivation();
  EXPECT_FALSE(redundant.isActive());
}

TEST_F(ConstraintTest, MakeScopeReturnsFreshScopesInArgumentOrder) {
  std::vector<Id<ConstrainedVariable> > v;
  for (int i = 0; i < 13; ++i)
    v.push_back(floatVar("v", 0, 1));
  const Scope first = makeScope(v[0]);
  const Scope& held = makeScope(v[1], v[2]);
  const Scope later = makeScope(v[3], v[3]);
  EXPECT_EQ(first, Scope{v[0]});
  EXPECT_EQ(held, (Scope{v[1], v[2]}));
  EXPECT_EQ(later, (Scope{v[3], v[3]}));
  EXPECT_EQ(makeScope(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]), Scope(v.begin(), v.begin() + 8));
  EXPECT_EQ(makeScope(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11], v[12]), v);

  const Id<ConstrainedVariable> none;
  EXPECT_CHECK_FAILS(makeScope(none), "arg1.isValid()");
  EXPECT_CHECK_FAILS(makeScope(v[0], none), "arg2.isValid()");
  EXPECT_CHECK_FAILS(makeScope(v[0], v[1], v[2], v[3], none), "arg5.isValid()");
  EXPECT_CHECK_FAILS(makeScope(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], none, v[10], v[11], v[12]),
                     "arg10.isValid()");
}

// Variables and constraints keep no copy of the engine handle they are built with: they reach the
// engine through its own handle object, so a short-lived copy may go.
TEST_F(ConstraintTest, BuiltFromAShortLivedEngineHandle) {
  ConstrainedVariable* x;
  ConstrainedVariable* y;
  TestConstraint* c;
  {
    const Id<ConstraintEngine> copy = engine();
    x = new Variable<IntervalIntDomain>(copy, IntervalIntDomain(0, 10, IntDT::instance()), false, true, "x",
                                        Id<Entity>::noId(), ConstrainedVariable::NO_INDEX);
    y = new Variable<IntervalIntDomain>(copy, IntervalIntDomain(0, 10, IntDT::instance()), false, true, "y",
                                        Id<Entity>::noId(), ConstrainedVariable::NO_INDEX);
    c = new TestConstraint("c", "Default", copy, makeScope(x->getId(), y->getId()));
  }
  EXPECT_EQ(&x->getConstraintEngine(), &engine());
  EXPECT_TRUE(c->isValid());
  EXPECT_TRUE(x->isValid());
  x->specify(3);
  EXPECT_EQ(c->getViolation(), 0.0);
  delete x; // discards c, which leaves the engine
  EXPECT_TRUE(m_engine->getConstraints().empty());
  delete c;
  delete y;
  EXPECT_TRUE(m_engine->getVariables().empty());
}

} // namespace
} // namespace KALDEN
