#include "ConstraintEngine/component/OrderingConstraints.hh"
#include "ConstraintEngine/component/Propagators.hh"
#include "support/EngineFixture.hh"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace KALDEN {
namespace {

// Removing or switching a constraint must cost what it touches, not what the agenda holds. The
// work is counted as agenda entries visited by whole walks (rebuilds, clearing, checks): over a
// chain of every size, deleting or switching each of its constraints in turn visits a few
// entries per call, however long the chain. A whole-agenda walk per call would visit about
// half the chain each time.
class RemovalCostTest : public NetworkFixture {
protected:
  struct Chain {
    std::vector<Id<ConstrainedVariable> > vars;
    std::vector<Id<Constraint> > constraints;
  };

  // x_0 <= ... <= x_n over [0, 1000], every constraint queued, with auto-propagation off.
  Chain queuedChain(int n) {
    m_engine->setAutoPropagation(false);
    Chain chain;
    for (int i = 0; i <= n; ++i)
      chain.vars.push_back(intVar("x", 0, 1000));
    for (int i = 0; i < n; ++i)
      chain.constraints.push_back(
          (new LessThanEqualConstraint("leq", "Default", engine(), makeScope(chain.vars[i], chain.vars[i + 1])))
              ->getId());
    return chain;
  }

  // The chain propagated after its first variable was raised, then its first constraint deleted:
  // the relaxation that deletion starts queues the rest of the chain again.
  Chain requeuedChain(int n) {
    Chain chain = queuedChain(n);
    chain.vars.front()->getCurrentDomain().intersect(5, 1000);
    EXPECT_TRUE(m_engine->propagate());
    EXPECT_EQ(chain.vars.back()->lastDomain().getLowerBound(), 5);
    m_engine->deleteConstraint(chain.constraints.front());
    chain.constraints.erase(chain.constraints.begin());
    EXPECT_EQ(chain.vars.back()->lastDomain().getLowerBound(), 0) << "the relaxation reaches the end of the chain";
    return chain;
  }

  // Agenda entries visited per operation while `operations` runs over a chain of length n, queued or
  // requeued; `operations` answers how many operations it made.
  double visitsPerOperation(int n, bool requeued, const std::function<int(Chain&)>& operations) {
    Chain chain = requeued ? requeuedChain(n) : queuedChain(n);
    const std::size_t before = m_propagator->agendaEntriesVisited();
    const int count = operations(chain);
    const std::size_t visited = m_propagator->agendaEntriesVisited() - before;
    // What is left propagates as it would have without the count.
    EXPECT_TRUE(m_engine->propagate());
    for (const Id<Constraint>& constraint : chain.constraints)
      if (constraint.isValid())
        delete static_cast<Constraint*>(constraint);
    for (const Id<ConstrainedVariable>& var : chain.vars)
      delete static_cast<ConstrainedVariable*>(var);
    return static_cast<double>(visited) / count;
  }

  // The cost per operation at two sizes, eight times apart, stays within half again.
  void expectFlat(bool requeued, const std::function<int(Chain&)>& operations) {
#ifdef NDEBUG
    const double small = visitsPerOperation(1000, requeued, operations);
    const double large = visitsPerOperation(8000, requeued, operations);
    EXPECT_LE(large, 1.5 * small + 1.0) << small << " entries a call at 1,000, " << large << " at 8,000";
    EXPECT_LE(large, 8.0);
#else
    // Debug builds check the whole agenda on every call, on purpose: only the operations are run.
    visitsPerOperation(100, requeued, operations);
    visitsPerOperation(800, requeued, operations);
#endif
  }

  static int deleteInOrder(Chain& chain) {
    for (const Id<Constraint>& constraint : chain.constraints)
      delete static_cast<Constraint*>(constraint);
    return static_cast<int>(chain.constraints.size());
  }
};

TEST_F(RemovalCostTest, DeletingEveryConstraintCostsTheSamePerCallAtAnyLength) {
  expectFlat(false, deleteInOrder);
  expectFlat(true, deleteInOrder);
  expectFlat(false, [this](Chain& chain) {
    for (auto it = chain.constraints.rbegin(); it != chain.constraints.rend(); ++it)
      m_engine->deleteConstraint(*it);
    return static_cast<int>(chain.constraints.size());
  });
}

TEST_F(RemovalCostTest, SwitchingEveryConstraintOffAndOnCostsTheSamePerCallAtAnyLength) {
  const auto offThenOn = [](Chain& chain) {
    for (const Id<Constraint>& constraint : chain.constraints)
      constraint->deactivate();
    for (const Id<Constraint>& constraint : chain.constraints)
      constraint->undoDeactivation();
    return static_cast<int>(2 * chain.constraints.size());
  };
  expectFlat(false, offThenOn);
  expectFlat(true, offThenOn);
  // Interleaved: each goes off and on at once, so the agenda never drains meanwhile.
  expectFlat(false, [](Chain& chain) {
    for (const Id<Constraint>& constraint : chain.constraints) {
      constraint->deactivate();
      constraint->undoDeactivation();
    }
    return static_cast<int>(2 * chain.constraints.size());
  });
}

} // namespace
} // namespace KALDEN
