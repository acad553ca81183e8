#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
#include "ConstraintEngine/component/EqualityConstraintPropagator.hh"
#include "ConstraintEngine/component/EqualityConstraints.hh"
#include "ConstraintEngine/component/OrderingConstraints.hh"
#include "support/EngineFixture.hh"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace KALDEN {
namespace {

// An engine listener that acts, once, on the event its hook picks.
class ActingListener : public ConstraintEngineListener {
public:
  explicit ActingListener(const Id<ConstraintEngine>& engine) : ConstraintEngineListener(engine) {}
  std::function<bool(const Id<Constraint>&)> onExecuted;
  std::function<bool(const Id<ConstrainedVariable>&)> onChanged;

  void notifyExecuted(const Id<Constraint>& c) override {
    if (onExecuted && onExecuted(c))
      onExecuted = nullptr;
  }
  void notifyChanged(const Id<ConstrainedVariable>& v, const DomainListener::ChangeType&) override {
    if (onChanged && onChanged(v))
      onChanged = nullptr;
  }
};

// Listeners that delete constraints or variables while the engine propagates: the engine must
// never use what they freed, and must end at the fixpoint of what is left.
class DeletionDuringPropagationTest : public NetworkFixture {
protected:
  DeletionDuringPropagationTest()
      : x(intVar("x", 0, 10)), y(intVar("y", 0, 10)), five(intVar("five", 5, 5)), listener(engine()) {
    m_engine->setAutoPropagation(false);
  }
  Constraint* leq(const char* name, const Id<ConstrainedVariable>& a, const Id<ConstrainedVariable>& b) {
    return new LessThanEqualConstraint(name, "Default", engine(), makeScope(a, b));
  }
  static double ub(const Id<ConstrainedVariable>& var) { return var->lastDomain().getUpperBound(); }

  Id<ConstrainedVariable> x, y, five;
  ActingListener listener;
};

TEST_F(DeletionDuringPropagationTest, ConstraintDeletedWhenAboutToRunIsSkipped) {
  const Id<ConstrainedVariable> one = intVar("one", 1, 1);
  Constraint* doomed = leq("doomed", x, one);
  leq("xy", x, y);
  leq("y5", y, five);
  listener.onExecuted = [doomed](const Id<Constraint>& c) {
    if (c != doomed->getId())
      return false;
    delete doomed;
    return true;
  };
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(m_engine->getConstraints().size(), 2u);
  EXPECT_EQ(ub(x), 5);
  EXPECT_EQ(ub(y), 5);
  EXPECT_FALSE(m_engine->pending());
}

TEST_F(DeletionDuringPropagationTest, RunningConstraintDeletedByAChangeItMadeLeavesItsNarrowingUndone) {
  // y5 narrows y, which queues xy; xy narrows x and is deleted when told: x is free again.
  leq("y5", y, five);
  Constraint* xy = leq("xy", x, y);
  listener.onChanged = [this, xy](const Id<ConstrainedVariable>& v) {
    if (v != x)
      return false;
    delete xy;
    return true;
  };
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(ub(x), 10);
  EXPECT_EQ(ub(y), 5);
  EXPECT_FALSE(m_engine->pending());
  // The engine is usable: a new constraint propagates as usual.
  leq("x5", x, five);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(ub(x), 5);
}

TEST_F(DeletionDuringPropagationTest, EqualityDeletedByAChangeItMadeIsDisconnectedAfterItsClassRan) {
  new EqualityConstraintPropagator("Equal", engine());
  leq("y5", y, five);
  Constraint* eq = new EqualConstraint("eq", "Equal", engine(), makeScope(x, y));
  listener.onChanged = [this, eq](const Id<ConstrainedVariable>& v) {
    if (v != x)
      return false;
    delete eq;
    return true;
  };
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(ub(x), 10);
  EXPECT_EQ(ub(y), 5);
  EXPECT_FALSE(m_engine->pending());
}

TEST_F(DeletionDuringPropagationTest, VariableDeletedDuringARunTakesItsConstraintsAlong) {
  const Id<ConstrainedVariable> w = intVar("w", 0, 10);
  const Id<ConstrainedVariable> three = intVar("three", 3, 3);
  leq("w3", w, three);
  leq("xw", x, w);
  Constraint* y5 = leq("y5", y, five);
  leq("xy", x, y);
  // When w narrows (queueing xw), a listener deletes w, and xw with it: x then only meets y.
  listener.onChanged = [w](const Id<ConstrainedVariable>& v) {
    if (v != w)
      return false;
    delete static_cast<ConstrainedVariable*>(w);
    return true;
  };
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_FALSE(w.isValid());
  EXPECT_EQ(ub(x), 5);
  EXPECT_EQ(ub(y), 5);
  EXPECT_FALSE(m_engine->pending());
  // Taking y5 away leaves y and x free.
  m_engine->deleteConstraint(y5->getId());
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(ub(y), 10);
  EXPECT_EQ(ub(x), 10);
}

} // namespace
} // namespace KALDEN
