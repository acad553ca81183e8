// Heap use of stn_chain: bytes per variable, per constraint, and per
// constraint with its share of the variables (two per constraint), as built
// (the agenda then holds every constraint) and after the first propagation.
// The chain is built at its fixpoint, which has the same objects as the plain
// one, so that the first propagation is quick at 100,000. Run it alone: the
// handle registry never shrinks, so its growth is counted only in a process
// that has not built a large network before.

#include "HeapCounter.hh"
#include "Networks.hh"

namespace KALDEN {
namespace bench {

namespace {

void stnChainMemory(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  double perVariable = 0.0, perConstraint = 0.0, perConstraintWhole = 0.0, blocksPerConstraintWhole = 0.0;
  double perConstraintPropagated = 0.0;
  for (auto _ : state) {
    StnChain chain(n, true);
    HeapCounter::start();
    chain.buildVariables();
    const long long variableBytes = HeapCounter::bytes();
    chain.buildConstraints();
    const long long constraintBytes = HeapCounter::bytes() - variableBytes;
    const long long wholeBytes = HeapCounter::bytes();
    const long long wholeBlocks = HeapCounter::blocks();
    if (!chain.engine.engine().propagate())
      state.SkipWithError("the chain is inconsistent");
    const long long propagatedBytes = HeapCounter::bytes();
    HeapCounter::stop();
    perConstraintPropagated = static_cast<double>(propagatedBytes) / n;
    perVariable = static_cast<double>(variableBytes) / (2.0 * n + 1.0);
    perConstraint = static_cast<double>(constraintBytes) / n;
    perConstraintWhole = static_cast<double>(wholeBytes) / n;
    blocksPerConstraintWhole = static_cast<double>(wholeBlocks) / n;
  }
  state.counters["B/variable"] = perVariable;
  state.counters["B/constraint"] = perConstraint;
  state.counters["B/constraint+vars"] = perConstraintWhole;
  state.counters["blocks/constraint+vars"] = blocksPerConstraintWhole;
  state.counters["B/constraint+vars,propagated"] = perConstraintPropagated;
}

const bool sl_registered = [] {
  benchmark::RegisterBenchmark("stn_chain_memory", stnChainMemory)
      ->Arg(1000)
      ->Arg(100000)
      ->Iterations(1)
      ->Unit(benchmark::kMillisecond);
  return true;
}();

} // namespace

} // namespace bench
} // namespace KALDEN
