// sum: z = y_1 + ... + y_N through one EqualSumConstraint, y_i in [0, 1000]; one
// change (b) lowers one summand's upper bound by one and propagates, the summand
// taken in turn. Beside it, a hand-written baseline that keeps the bounds of the
// same linear equation in plain arrays, O(N) per change.

#include "Networks.hh"

#include "ConstraintEngine/component/Constraints.hh"

#include <cmath>
#include <memory>

namespace KALDEN {
namespace bench {

namespace {

constexpr int SUMMAND_MAX = 1000;

class SumNetwork {
public:
  explicit SumNetwork(int n) {
    static const LabelStr sl_summand("y");
    static const LabelStr sl_total("z");
    static const LabelStr sl_sum("EqualSum");
    std::vector<Id<ConstrainedVariable> > scope;
    scope.reserve(n + 1);
    scope.push_back(engine.intVar(sl_total, 0, SUMMAND_MAX * n));
    for (int i = 0; i < n; ++i)
      scope.push_back(engine.intVar(sl_summand, 0, SUMMAND_MAX));
    engine.constrain<EqualSumConstraint>(sl_sum, scope);
    total = scope[0];
    summands.assign(scope.begin() + 1, scope.end());
  }

  BenchEngine engine;
  Id<ConstrainedVariable> total;
  std::vector<Id<ConstrainedVariable> > summands;
};

/**
 * z = y_1 + ... + y_N over integer bounds in two arrays: each propagation sums the bounds once,
 * narrows z, then every summand to z less the others' bounds, and repeats while a bound moved.
 */
class LinearSumBaseline {
public:
  explicit LinearSumBaseline(int n)
      : m_lb(n, 0.0), m_ub(n, SUMMAND_MAX), m_zLb(0.0), m_zUb(static_cast<double>(SUMMAND_MAX) * n) {}

  // Lowers summand i's upper bound by one; false when it cannot.
  bool lowerUpperBound(int i) {
    if (m_ub[i] - 1.0 < m_lb[i])
      return false;
    m_ub[i] -= 1.0;
    return true;
  }

  // Runs to the fixpoint; false when a bound crosses.
  bool propagate() {
    for (bool moved = true; moved;) {
      moved = false;
      double sumLb = 0.0, sumUb = 0.0;
      for (std::size_t i = 0; i < m_lb.size(); ++i) {
        sumLb += m_lb[i];
        sumUb += m_ub[i];
      }
      moved |= narrow(m_zLb, m_zUb, sumLb, sumUb);
      for (std::size_t i = 0; i < m_lb.size(); ++i)
        moved |= narrow(m_lb[i], m_ub[i], m_zLb - (sumUb - m_ub[i]), m_zUb - (sumLb - m_lb[i]));
      if (m_zLb > m_zUb)
        return false;
    }
    return true;
  }

private:
  static bool narrow(double& lb, double& ub, double newLb, double newUb) {
    newLb = std::ceil(newLb);
    newUb = std::floor(newUb);
    bool moved = false;
    if (newLb > lb) {
      lb = newLb;
      moved = true;
    }
    if (newUb < ub) {
      ub = newUb;
      moved = true;
    }
    return moved;
  }

  std::vector<double> m_lb, m_ub;
  double m_zLb, m_zUb;
};

bool lowerUpperBound(const Id<ConstrainedVariable>& var) {
  AbstractDomain& dom = var->getCurrentDomain();
  if (dom.getUpperBound() - 1.0 < dom.getLowerBound())
    return false;
  dom.intersect(dom.getLowerBound(), dom.getUpperBound() - 1.0);
  return true;
}

// One change: the next summand's upper bound falls by one. Kept out of line for a profiler.
__attribute__((noinline)) bool lowerAndPropagate(SumNetwork& network, int& next) {
  const Id<ConstrainedVariable>& summand = network.summands[next];
  next = (next + 1) % static_cast<int>(network.summands.size());
  return lowerUpperBound(summand) && network.engine.engine().propagate();
}

double sumBaselineSecondsPerChange(int n) {
  LinearSumBaseline net(n);
  net.propagate();
  Stopwatch watch;
  long changes = 0;
  int next = 0;
  watch.start();
  for (;;) {
    for (int k = 0; k < 16; ++k, ++changes) {
      if (!net.lowerUpperBound(next)) {
        // Every summand is down to 0: start again (the rebuild is timed too, but rare).
        net = LinearSumBaseline(n);
        net.lowerUpperBound(next);
      }
      if (!net.propagate())
        return -1.0;
      next = (next + 1) % n;
    }
    watch.stop();
    if (watch.seconds() >= 0.05)
      break;
    watch.start();
  }
  return watch.seconds() / static_cast<double>(changes);
}

void sumChange(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  auto network = std::make_unique<SumNetwork>(n);
  if (!network->engine.engine().propagate() ||
      network->total->lastDomain().getUpperBound() != static_cast<double>(SUMMAND_MAX) * n) {
    state.SkipWithError("the sum does not reach its fixpoint");
    return;
  }
  int next = 0;
  const long executions = countExecutions(network->engine, [&network, &next] { lowerAndPropagate(*network, next); });
  Stopwatch watch;
  watch.start();
  for (auto _ : state) {
    if (next == 0 && network->summands[0]->lastDomain().getUpperBound() < 1.0) {
      // Every summand is down to 0: start again from a fresh network, untimed.
      state.PauseTiming();
      watch.stop();
      network = std::make_unique<SumNetwork>(n);
      network->engine.engine().propagate();
      watch.start();
      state.ResumeTiming();
    }
    if (!lowerAndPropagate(*network, next))
      state.SkipWithError("the sum is inconsistent");
  }
  watch.stop();
  // The total followed every change.
  double expected = 0.0;
  for (const Id<ConstrainedVariable>& y : network->summands)
    expected += y->lastDomain().getUpperBound();
  if (network->total->lastDomain().getUpperBound() != expected)
    state.SkipWithError("the total does not follow its summands");
  network.reset();
  setExecutionRate(state, executions);
  setBaselineRatio(state, watch.seconds() / static_cast<double>(state.iterations()), sumBaselineSecondsPerChange(n));
}

void sumBaselineChange(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  LinearSumBaseline net(n);
  net.propagate();
  int next = 0;
  for (auto _ : state) {
    if (!net.lowerUpperBound(next)) {
      state.PauseTiming();
      net = LinearSumBaseline(n);
      net.propagate();
      state.ResumeTiming();
      net.lowerUpperBound(next);
    }
    net.propagate();
    next = (next + 1) % n;
  }
  state.counters["executions"] = benchmark::Counter(1.0);
}

const bool sl_registered = [] {
  benchmark::RegisterBenchmark("sum/b", sumChange)->Arg(10)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("sum_baseline/b", sumBaselineChange)
      ->Arg(10)
      ->Arg(1000)
      ->Arg(100000)
      ->Unit(benchmark::kMicrosecond);
  return true;
}();

} // namespace

} // namespace bench
} // namespace KALDEN
