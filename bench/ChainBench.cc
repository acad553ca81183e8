// stn_chain and leq_chain: build and first propagation (a), one incremental
// change (b), and for stn_chain the removal and re-creation of the middle
// constraint (c); each beside its hand-written baseline.

#include "Networks.hh"

#include <memory>

namespace KALDEN {
namespace bench {

namespace {

// Whether the engine's chain variables hold the baseline's first length + 1 variables' bounds.
bool sameBounds(const std::vector<Id<ConstrainedVariable> >& vars, const BaselineNetwork& net) {
  for (std::size_t i = 0; i < vars.size(); ++i) {
    const AbstractDomain& dom = vars[i]->lastDomain();
    if (dom.getLowerBound() != net.lowerBound(static_cast<int>(i)) ||
        dom.getUpperBound() != net.upperBound(static_cast<int>(i)))
      return false;
  }
  return true;
}

// (a) Build plus the first propagate(); the purge afterwards is not timed. An untimed first
// run counts the executions and checks the fixpoint against the baseline's.
template <class Chain>
void buildAndPropagate(benchmark::State& state, const std::vector<Id<ConstrainedVariable> > Chain::*chainVars,
                       void (*buildBaseline)(BaselineNetwork&, int)) {
  const int n = static_cast<int>(state.range(0));
  long executions = 0;
  {
    Chain chain(n);
    executions = countExecutions(chain.engine, [&chain] { chain.engine.engine().propagate(); });
    BaselineNetwork net;
    buildBaseline(net, n);
    net.propagate();
    if (!sameBounds(chain.*chainVars, net)) {
      state.SkipWithError("the engine and the baseline reach different fixpoints");
      return;
    }
  }
  for (auto _ : state) {
    auto chain = std::make_unique<Chain>(n);
    if (!chain->engine.engine().propagate())
      state.SkipWithError("the chain is inconsistent");
    state.PauseTiming();
    chain.reset();
    state.ResumeTiming();
  }
  setExecutionRate(state, executions);
}

// StnChain builds in two steps; these make it whole at construction like LeqChain.
class WholeStnChain : public StnChain {
public:
  explicit WholeStnChain(int length) : StnChain(length) { build(); }
};

class StnChainAtFixpoint : public StnChain {
public:
  explicit StnChainAtFixpoint(int length) : StnChain(length, true) { build(); }
};

// Whether a chain built at its fixpoint is what the first propagation makes of the plain one.
bool fixpointIsFaithful(int length) {
  WholeStnChain plain(length);
  StnChainAtFixpoint narrowed(length);
  if (!plain.engine.engine().propagate() || !narrowed.engine.engine().propagate())
    return false;
  for (int i = 0; i <= length; ++i) {
    const AbstractDomain& a = plain.points[i]->lastDomain();
    const AbstractDomain& b = narrowed.points[i]->lastDomain();
    if (a.getLowerBound() != b.getLowerBound() || a.getUpperBound() != b.getUpperBound())
      return false;
  }
  return true;
}

// (b) Raise the first variable's lower bound by one and propagate, once per iteration.
template <class Chain>
void incrementalChange(benchmark::State& state, const std::vector<Id<ConstrainedVariable> > Chain::*first,
                       void (*buildBaseline)(BaselineNetwork&, int)) {
  const int n = static_cast<int>(state.range(0));
  auto chain = std::make_unique<Chain>(n);
  chain->engine.engine().propagate();
  auto change = [&chain, first] { return raiseAndPropagate(chain->engine, ((*chain).*first)[0]); };
  // The counted change goes another way than the timed ones, so that a profiler collecting
  // inside raiseAndPropagate() sees only changes made without a listener.
  const long executions = countExecutions(chain->engine, [&chain, first] {
    raiseLowerBound(((*chain).*first)[0]);
    chain->engine.engine().propagate();
  });
  Stopwatch watch;
  watch.start();
  for (auto _ : state) {
    if (!canRaiseLowerBound(((*chain).*first)[0])) {
      // The horizon is used up: start again from a fresh chain, untimed.
      state.PauseTiming();
      watch.stop();
      chain.reset();
      chain = std::make_unique<Chain>(n);
      chain->engine.engine().propagate();
      watch.start();
      state.ResumeTiming();
    }
    if (!change())
      state.SkipWithError("the chain is inconsistent");
  }
  watch.stop();
  chain.reset();
  setExecutionRate(state, executions);
  BaselineNetwork net;
  buildBaseline(net, n);
  setBaselineRatio(state, watch.seconds() / static_cast<double>(state.iterations()), baselineSecondsPerChange(net));
}

void stnChainBuild(benchmark::State& state) {
  buildAndPropagate<WholeStnChain>(state, &StnChain::points, buildBaselineStnChain);
}

// Starts from the chain built at its fixpoint (checked against the plain chain's first
// propagation at a small size): at 100,000 that propagation alone would take hours.
void stnChainChange(benchmark::State& state) {
  if (!fixpointIsFaithful(100)) {
    state.SkipWithError("the chain built at its fixpoint differs from the propagated one");
    return;
  }
  incrementalChange<StnChainAtFixpoint>(state, &StnChain::points, buildBaselineStnChainAtFixpoint);
}

// (c) Delete the middle constraint and propagate (relaxation), create it again and propagate.
void stnChainRemoval(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  WholeStnChain chain(n);
  ConstraintEngine& engine = chain.engine.engine();
  engine.propagate();
  const int middle = n / 2;
  // Deleting propagates at once (auto-propagation is on); the re-created constraint waits for
  // the explicit propagate().
  auto cycle = [&chain, &engine, middle] {
    engine.deleteConstraint(chain.constraints[middle]);
    chain.rebuildConstraint(middle);
    return engine.propagate();
  };
  const long executions = countExecutions(chain.engine, cycle);
  for (auto _ : state)
    if (!cycle())
      state.SkipWithError("the chain is inconsistent");
  setExecutionRate(state, executions);
}

void leqChainBuild(benchmark::State& state) {
  buildAndPropagate<LeqChain>(state, &LeqChain::vars, buildBaselineLeqChain);
}

void leqChainChange(benchmark::State& state) {
  incrementalChange<LeqChain>(state, &LeqChain::vars, buildBaselineLeqChain);
}

// The baseline's own (a) and (b), to read beside the engine's.
void baselineBuild(benchmark::State& state, void (*build)(BaselineNetwork&, int)) {
  const int n = static_cast<int>(state.range(0));
  long executions = 0;
  for (auto _ : state) {
    BaselineNetwork net;
    build(net, n);
    net.propagate();
    executions = net.executions();
  }
  setExecutionRate(state, executions);
}

void baselineChange(benchmark::State& state, void (*build)(BaselineNetwork&, int)) {
  const int n = static_cast<int>(state.range(0));
  BaselineNetwork net;
  build(net, n);
  net.propagate();
  const long before = net.executions();
  net.restrict(0, net.lowerBound(0) + 1, net.upperBound(0));
  net.propagate();
  const long executions = net.executions() - before;
  for (auto _ : state) {
    if (net.lowerBound(0) + 1 > net.upperBound(0)) {
      state.PauseTiming();
      net = BaselineNetwork();
      build(net, n);
      net.propagate();
      state.ResumeTiming();
    }
    net.restrict(0, net.lowerBound(0) + 1, net.upperBound(0));
    net.propagate();
  }
  setExecutionRate(state, executions);
}

const bool sl_registered = [] {
  // The first propagation of a chain of additions does work that grows with the square of the
  // length (each upper bound travels back one constraint per execution), as does the
  // re-propagation after the middle constraint goes: 100,000 would take hours.
  benchmark::RegisterBenchmark("stn_chain/a", stnChainBuild)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("stn_chain/b", stnChainChange)
      ->Arg(1000)
      ->Arg(10000)
      ->Arg(100000)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("stn_chain/c", stnChainRemoval)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("stn_chain_baseline/a", baselineBuild, buildBaselineStnChain)
      ->Arg(1000)
      ->Arg(10000)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("stn_chain_baseline/b", baselineChange, buildBaselineStnChainAtFixpoint)
      ->Arg(1000)
      ->Arg(10000)
      ->Arg(100000)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("leq_chain/a", leqChainBuild)
      ->Arg(1000)
      ->Arg(10000)
      ->Arg(100000)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("leq_chain/b", leqChainChange)
      ->Arg(1000)
      ->Arg(10000)
      ->Arg(100000)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("leq_chain_baseline/a", baselineBuild, buildBaselineLeqChain)
      ->Arg(1000)
      ->Arg(10000)
      ->Arg(100000)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("leq_chain_baseline/b", baselineChange, buildBaselineLeqChain)
      ->Arg(1000)
      ->Arg(10000)
      ->Arg(100000)
      ->Unit(benchmark::kMicrosecond);
  return true;
}();

} // namespace

} // namespace bench
} // namespace KALDEN
