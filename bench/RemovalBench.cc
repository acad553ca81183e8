// removal/delete and removal/switch: a queued leq chain (built, never propagated, so
// every constraint waits on the agenda) whose constraints are all deleted, or all
// switched off and then on again, one call at a time with auto-propagation off.
// One call must cost what it touches, so the time per operation should not grow
// with the length of the chain.

#include "Networks.hh"

#include <memory>
#include <utility>

namespace KALDEN {
namespace bench {

namespace {

// A queued chain with auto-propagation off, as a client that changes many constraints at once has it.
std::unique_ptr<LeqChain> queuedChain(int n) {
  auto chain = std::make_unique<LeqChain>(n);
  chain->engine.engine().setAutoPropagation(false);
  return chain;
}

// Times `operations(chain)` alone, over a fresh queued chain each iteration; reports the time per operation.
template <class Operations>
void timePerOperation(benchmark::State& state, double operationsPerIteration, Operations operations) {
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto chain = queuedChain(n);
    state.ResumeTiming();
    operations(*chain);
    state.PauseTiming();
    chain.reset();
    state.ResumeTiming();
  }
  state.counters["time/op"] = benchmark::Counter(
      operationsPerIteration, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// deleteConstraint() on every constraint, in chain order.
void deleteAll(benchmark::State& state) {
  timePerOperation(state, static_cast<double>(state.range(0)), [](LeqChain& chain) {
    ConstraintEngine& engine = chain.engine.engine();
    for (const Id<Constraint>& constraint : chain.constraints)
      engine.deleteConstraint(constraint);
  });
}

// deactivate() on every constraint, then undoDeactivation() on every one: two operations a constraint.
void switchAll(benchmark::State& state) {
  timePerOperation(state, 2.0 * static_cast<double>(state.range(0)), [](LeqChain& chain) {
    for (const Id<Constraint>& constraint : chain.constraints)
      constraint->deactivate();
    for (const Id<Constraint>& constraint : chain.constraints)
      constraint->undoDeactivation();
  });
}

const bool sl_registered = [] {
  // 1,000 is for the run that only keeps benchmarks from rotting.
  for (const auto& entry : {std::make_pair("removal/delete", deleteAll), std::make_pair("removal/switch", switchAll)})
    benchmark::RegisterBenchmark(entry.first, entry.second)
        ->Arg(1000)
        ->Arg(10000)
        ->Arg(100000)
        ->Unit(benchmark::kMillisecond);
  return true;
}();

} // namespace

} // namespace bench
} // namespace KALDEN
