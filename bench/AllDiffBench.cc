// alldiff/b: N integer variables over [1, N] under one AllDiffConstraint; one
// iteration fixes them to 1..N one at a time, propagating after each, beside a
// hand-written baseline that removes each assigned value from the other domains.

#include "BenchNetwork.hh"

#include "ConstraintEngine/component/Constraints.hh"

#include <memory>
#include <vector>

namespace KALDEN {
namespace bench {

namespace {

class AllDiffNetwork {
public:
  explicit AllDiffNetwork(int n) {
    static const LabelStr sl_var("x");
    static const LabelStr sl_allDiff("AllDiff");
    vars.reserve(n);
    for (int i = 0; i < n; ++i)
      vars.push_back(engine.intVar(sl_var, 1, n));
    engine.constrain<AllDiffConstraint>(sl_allDiff, vars);
    engine.engine().propagate();
  }

  // Fixes every variable in turn to its position + 1, propagating after each; false on an inconsistency.
  bool assignAll() {
    for (std::size_t i = 0; i < vars.size(); ++i) {
      vars[i]->getCurrentDomain().intersect(static_cast<double>(i + 1), static_cast<double>(i + 1));
      if (!engine.engine().propagate())
        return false;
    }
    return true;
  }

  BenchEngine engine;
  std::vector<Id<ConstrainedVariable> > vars;
};

// The baseline: [lb, ub] per variable; an assigned value leaves every other domain at an end.
class BaselineAllDiff {
public:
  explicit BaselineAllDiff(int n) : m_lb(n, 1.0), m_ub(n, static_cast<double>(n)) {}

  bool assignAll() {
    const std::size_t n = m_lb.size();
    for (std::size_t i = 0; i < n; ++i) {
      const double v = static_cast<double>(i + 1);
      if (v < m_lb[i] || v > m_ub[i])
        return false;
      m_lb[i] = m_ub[i] = v;
      for (std::size_t j = 0; j < n; ++j) {
        if (j == i)
          continue;
        if (m_lb[j] == v)
          m_lb[j] += 1.0;
        else if (m_ub[j] == v)
          m_ub[j] -= 1.0;
        if (m_lb[j] > m_ub[j])
          return false;
      }
    }
    return true;
  }

  double lowerBound(std::size_t i) const { return m_lb[i]; }
  double upperBound(std::size_t i) const { return m_ub[i]; }

private:
  std::vector<double> m_lb;
  std::vector<double> m_ub;
};

double baselineSecondsPerAssignment(int n) {
  Stopwatch watch;
  long assignments = 0;
  while (watch.seconds() < 0.05) {
    BaselineAllDiff net(n);
    watch.start();
    const bool consistent = net.assignAll();
    watch.stop();
    benchmark::DoNotOptimize(consistent);
    assignments += n;
  }
  return watch.seconds() / static_cast<double>(assignments);
}

void allDiffAssign(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  long executions = 0;
  {
    // An untimed run counts the executions and checks the end state against the baseline's.
    AllDiffNetwork network(n);
    executions = countExecutions(network.engine, [&network] { network.assignAll(); });
    BaselineAllDiff baseline(n);
    baseline.assignAll();
    for (int i = 0; i < n; ++i) {
      const AbstractDomain& dom = network.vars[i]->lastDomain();
      if (dom.getLowerBound() != baseline.lowerBound(i) || dom.getUpperBound() != baseline.upperBound(i)) {
        state.SkipWithError("the engine and the baseline end in different states");
        return;
      }
    }
  }
  Stopwatch watch;
  for (auto _ : state) {
    state.PauseTiming();
    auto network = std::make_unique<AllDiffNetwork>(n);
    state.ResumeTiming();
    watch.start();
    if (!network->assignAll())
      state.SkipWithError("the assignment is inconsistent");
    watch.stop();
    state.PauseTiming();
    network.reset();
    state.ResumeTiming();
  }
  const double assignments = static_cast<double>(n);
  state.counters["time/assignment"] =
      benchmark::Counter(assignments, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["executions"] = benchmark::Counter(static_cast<double>(executions));
  setBaselineRatio(state, watch.seconds() / (static_cast<double>(state.iterations()) * assignments),
                   baselineSecondsPerAssignment(n));
}

const bool sl_registered = [] {
  benchmark::RegisterBenchmark("alldiff/b", allDiffAssign)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);
  return true;
}();

} // namespace

} // namespace bench
} // namespace KALDEN
