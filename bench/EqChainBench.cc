// eq_chain: x_i = x_{i+1} over numeric enumerations {0..63}. (a) builds the chain
// and propagates once; (b) one change removes the smallest value of x0 and
// propagates. Run on the default propagator and on the equality propagator.

#include "BenchNetwork.hh"

#include "ConstraintEngine/component/Constraints.hh"

#include <list>
#include <memory>

namespace KALDEN {
namespace bench {

namespace {

class EqChain {
public:
  EqChain(int length, bool onEqualityPropagator) : engine(onEqualityPropagator) {
    static const LabelStr sl_var("x");
    static const LabelStr sl_equal("Equal");
    std::list<double> values;
    for (int v = 0; v < 64; ++v)
      values.push_back(v);
    const LabelStr& propagator = onEqualityPropagator ? equalityPropagatorName() : defaultPropagatorName();
    vars.reserve(length + 1);
    for (int i = 0; i <= length; ++i)
      vars.push_back(engine.enumVar(sl_var, values));
    for (int i = 0; i < length; ++i)
      engine.constrain<EqualConstraint>(sl_equal, makeScope(vars[i], vars[i + 1]), propagator);
  }

  BenchEngine engine;
  std::vector<Id<ConstrainedVariable> > vars;
};

void removeValues(benchmark::State& state, bool onEqualityPropagator) {
  const int n = static_cast<int>(state.range(0));
  auto chain = std::make_unique<EqChain>(n, onEqualityPropagator);
  chain->engine.engine().propagate();
  auto change = [&chain] {
    AbstractDomain& dom = chain->vars[0]->getCurrentDomain();
    dom.remove(dom.getLowerBound());
    return chain->engine.engine().propagate();
  };
  const long executions = countExecutions(chain->engine, change);
  for (auto _ : state) {
    if (chain->vars[0]->lastDomain().getSize() <= 2) {
      // Nearly every value is gone: start again from a fresh chain, untimed.
      state.PauseTiming();
      chain.reset();
      chain = std::make_unique<EqChain>(n, onEqualityPropagator);
      chain->engine.engine().propagate();
      state.ResumeTiming();
    }
    if (!change())
      state.SkipWithError("the chain is inconsistent");
  }
  setExecutionRate(state, executions);
}

// (a) Build plus the first propagate(); the purge afterwards is not timed.
void buildAndPropagate(benchmark::State& state, bool onEqualityPropagator) {
  const int n = static_cast<int>(state.range(0));
  long executions = 0;
  {
    EqChain chain(n, onEqualityPropagator);
    executions = countExecutions(chain.engine, [&chain] { chain.engine.engine().propagate(); });
  }
  for (auto _ : state) {
    auto chain = std::make_unique<EqChain>(n, onEqualityPropagator);
    if (!chain->engine.engine().propagate())
      state.SkipWithError("the chain is inconsistent");
    state.PauseTiming();
    chain.reset();
    state.ResumeTiming();
  }
  setExecutionRate(state, executions);
}

void eqChainBuildDefault(benchmark::State& state) { buildAndPropagate(state, false); }

void eqChainBuildEquality(benchmark::State& state) { buildAndPropagate(state, true); }

void eqChainDefault(benchmark::State& state) { removeValues(state, false); }

void eqChainEquality(benchmark::State& state) { removeValues(state, true); }

const bool sl_registered = [] {
  benchmark::RegisterBenchmark("eq_chain/a/default", eqChainBuildDefault)
      ->Arg(1000)
      ->Arg(10000)
      ->Arg(100000)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("eq_chain/a/equality", eqChainBuildEquality)
      ->Arg(1000)
      ->Arg(10000)
      ->Arg(100000)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("eq_chain/b/default", eqChainDefault)
      ->Arg(1000)
      ->Arg(10000)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("eq_chain/b/equality", eqChainEquality)
      ->Arg(1000)
      ->Arg(10000)
      ->Unit(benchmark::kMicrosecond);
  return true;
}();

} // namespace

} // namespace bench
} // namespace KALDEN
