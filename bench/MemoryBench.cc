// Heap use of a built stn_chain: bytes per variable, per constraint, and per
// constraint with its share of the variables (two per constraint). Measured
// before the first propagation, which at 100,000 constraints would take far
// longer than the build (its work grows with the square of the length); the
// agenda then holds every constraint, so its entries are counted too.

#include "HeapCounter.hh"
#include "Networks.hh"

namespace KALDEN {
namespace bench {

namespace {

void stnChainMemory(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  double perVariable = 0.0, perConstraint = 0.0, perConstraintWhole = 0.0, blocksPerConstraintWhole = 0.0;
  for (auto _ : state) {
    StnChain chain(n);
    HeapCounter::start();
    chain.buildVariables();
    const long long variableBytes = HeapCounter::bytes();
    chain.buildConstraints();
    const long long constraintBytes = HeapCounter::bytes() - variableBytes;
    const long long wholeBytes = HeapCounter::bytes();
    const long long wholeBlocks = HeapCounter::blocks();
    HeapCounter::stop();
    perVariable = static_cast<double>(variableBytes) / (2.0 * n + 1.0);
    perConstraint = static_cast<double>(constraintBytes) / n;
    perConstraintWhole = static_cast<double>(wholeBytes) / n;
    blocksPerConstraintWhole = static_cast<double>(wholeBlocks) / n;
  }
  state.counters["B/variable"] = perVariable;
  state.counters["B/constraint"] = perConstraint;
  state.counters["B/constraint+vars"] = perConstraintWhole;
  state.counters["blocks/constraint+vars"] = blocksPerConstraintWhole;
}

const bool sl_registered = [] {
  benchmark::RegisterBenchmark("stn_chain_memory", stnChainMemory)
      ->Arg(1000)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond);
  return true;
}();

} // namespace

} // namespace bench
} // namespace KALDEN
