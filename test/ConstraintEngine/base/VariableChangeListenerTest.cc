#include "ConstraintEngine/base/VariableChangeListener.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/Domains.hh"
#include "support/EngineFixture.hh"
#include "support/RecordingEngineListener.hh"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

using Events = std::vector<std::string>;

class VariableChangeListenerTest : public EngineFixture {};

// The listener a variable gets lives as long as the variable's discard: its handle is the one the
// current domain carries, and changes reach the engine through it.
TEST_F(VariableChangeListenerTest, VariableOwnListenerReportsUntilTheVariableGoes) {
  RecordingEngineListener recorder(engine());
  const std::size_t handles = IdTable::size();
  Id<ConstrainedVariable> x = intVar("x", 0, 10);
  Id<ConstrainedVariable> y = intVar("y", 0, 10);
  const Id<DomainListener> listener = x->lastDomain().getListener();
  ASSERT_TRUE(listener.isValid());
  EXPECT_NE(listener, y->lastDomain().getListener());
  EXPECT_TRUE(x->isValid());

  recorder.clear();
  x->getCurrentDomain().intersect(2, 5);
  y->getCurrentDomain().intersect(3, 3);
  EXPECT_EQ(recorder.events(), (Events{"L changed x BOUNDS_RESTRICTED", "L changed y RESTRICT_TO_SINGLETON"}));

  // A discarded variable keeps the stale handle its domain holds, as before the discard.
  x->discard(true);
  EXPECT_FALSE(listener.isValid());
  EXPECT_EQ(x->lastDomain().getListener(), listener);
  EXPECT_TRUE(x->isValid());
  Entity::garbageCollect();
  delete static_cast<ConstrainedVariable*>(y);
  EXPECT_EQ(IdTable::size(), handles);
}

// The engine makes a new listener on every call: once the variable has its own, the others
// stand alone and belong to the caller, and report for the variable to the engine.
TEST_F(VariableChangeListenerTest, FurtherListenersStandAloneAndReport) {
  RecordingEngineListener recorder(engine());
  Id<ConstrainedVariable> x = intVar("x", 0, 10);
  const Id<DomainListener> own = x->lastDomain().getListener();
  const std::size_t handles = IdTable::size();
  const Id<DomainListener> first = m_engine->allocateVariableListener(x, ConstrainedVariable::ConstraintList());
  const Id<DomainListener> second = m_engine->allocateVariableListener(x, ConstrainedVariable::ConstraintList());
  ASSERT_TRUE(first.isValid());
  ASSERT_TRUE(second.isValid());
  EXPECT_NE(first, own);
  EXPECT_NE(first, second);
  EXPECT_EQ(IdTable::size(), handles + 2);

  {
    VariableChangeListener onStack(x, engine());
    recorder.clear();
    first->notifyChange(DomainListener::VALUE_REMOVED);
    onStack.notifyChange(DomainListener::RESET);
    EXPECT_EQ(recorder.events(), (Events{"L changed x VALUE_REMOVED", "L changed x RESET"}));
  }
  delete static_cast<DomainListener*>(first);
  EXPECT_FALSE(first.isValid());
  recorder.clear();
  second->notifyChange(DomainListener::CLOSED);
  x->getCurrentDomain().intersect(1, 9);
  EXPECT_EQ(recorder.events(), (Events{"L changed x CLOSED", "L changed x BOUNDS_RESTRICTED"}));
  delete static_cast<DomainListener*>(second);
  EXPECT_EQ(IdTable::size(), handles);
  EXPECT_TRUE(own.isValid());
  delete static_cast<ConstrainedVariable*>(x);
  EXPECT_FALSE(own.isValid());
}

// A variable whose construction fails after its listener was made leaves no handle registered.
TEST_F(VariableChangeListenerTest, FailedConstructionTakesTheListenerBack) {
  struct Refuser : RecordingEngineListener {
    explicit Refuser(const Id<ConstraintEngine>& e) : RecordingEngineListener(e) {}
    void notifyChanged(const Id<ConstrainedVariable>& v, const DomainListener::ChangeType& change) override {
      RecordingEngineListener::notifyChanged(v, change);
      throw std::runtime_error("refused");
    }
  } refuser(engine());
  const std::size_t handles = IdTable::size();
  const std::size_t entities = Entity::liveCount();
  // A closed domain reports CLOSED as soon as the listener is attached, which the refuser throws on.
  EXPECT_THROW(intVar("x", 0, 10), std::runtime_error);
  EXPECT_EQ(refuser.events(), (Events{"L addedVariable x", "L changed x CLOSED", "L removedVariable x"}));
  EXPECT_EQ(IdTable::size(), handles);
  EXPECT_EQ(Entity::liveCount(), entities);
  EXPECT_TRUE(m_engine->getVariables().empty());
}

} // namespace
} // namespace KALDEN
