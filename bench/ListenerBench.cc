// listeners/engine/N and listeners/variable/N: notices told to N listeners, of the
// engine (a variable specified and reset: two changes) or of one variable (a
// constraint over it made and deleted: a link and an unlink). Telling must cost
// what it tells, so `x_1000`, the time per iteration over that with 1,000
// listeners (measured in the same run), should stay near N / 1,000.

#include "Networks.hh"

#include "ConstraintEngine/component/Constraints.hh"

#include <memory>
#include <vector>

namespace KALDEN {
namespace bench {

namespace {

// Hears every change.
class ChangeCounter : public ConstraintEngineListener {
public:
  explicit ChangeCounter(const Id<ConstraintEngine>& engine) : ConstraintEngineListener(engine) {}
  void notifyChanged(const Id<ConstrainedVariable>&, const DomainListener::ChangeType&) override { ++m_count; }

private:
  long m_count = 0;
};

// Hears every link and unlink.
class LinkCounter : public ConstrainedVariableListener {
public:
  explicit LinkCounter(const Id<ConstrainedVariable>& variable) : ConstrainedVariableListener(variable) {}
  void notifyConstraintAdded(const Id<Constraint>&, int) override { ++m_count; }
  void notifyConstraintRemoved(const Id<Constraint>&, int) override { ++m_count; }

private:
  long m_count = 0;
};

// A variable and a second one to constrain it with, heard by `count` listeners of the engine or
// of the first variable; iterate() tells them its notices.
class Audience {
public:
  Audience(int count, bool ofEngine) : m_ofEngine(ofEngine) {
    static const LabelStr sl_name("x");
    m_x = m_engine.intVar(sl_name, 0, HORIZON);
    m_y = m_engine.intVar(sl_name, 0, HORIZON);
    for (int i = 0; i < count; ++i) {
      if (ofEngine)
        m_engineListeners.emplace_back(new ChangeCounter(m_engine.id()));
      else
        m_variableListeners.emplace_back(new LinkCounter(m_x));
    }
  }
  // One iteration's notices; out of line, so that a profiler can collect inside it alone.
  __attribute__((noinline)) void iterate() {
    static const LabelStr sl_leq("leq");
    if (m_ofEngine) {
      m_x->specify(1.0);
      m_x->reset();
      return;
    }
    Id<Constraint> leq = m_engine.constrain<LessThanEqualConstraint>(sl_leq, {m_x, m_y});
    m_engine.engine().deleteConstraint(leq);
  }

private:
  bool m_ofEngine;
  BenchEngine m_engine;
  Id<ConstrainedVariable> m_x;
  Id<ConstrainedVariable> m_y;
  // Declared after the engine, so that they go before it.
  std::vector<std::unique_ptr<ChangeCounter> > m_engineListeners;
  std::vector<std::unique_ptr<LinkCounter> > m_variableListeners;
};

// Seconds per iteration with `count` listeners, over at least a few hundredths of a second.
double secondsPerIteration(int count, bool ofEngine) {
  Audience audience(count, ofEngine);
  Stopwatch watch;
  long iterations = 0;
  while (watch.seconds() < 0.05) {
    watch.start();
    for (int i = 0; i < 16; ++i)
      audience.iterate();
    watch.stop();
    iterations += 16;
  }
  return watch.seconds() / static_cast<double>(iterations);
}

void tellListeners(benchmark::State& state, bool ofEngine) {
  const int n = static_cast<int>(state.range(0));
  Audience audience(n, ofEngine);
  Stopwatch watch;
  for (auto _ : state) {
    watch.start();
    audience.iterate();
    watch.stop();
  }
  // At 1,000, the run that only keeps the benchmark from rotting, the ratio would be 1.
  if (n > 1000 && state.iterations() > 0)
    state.counters["x_1000"] = benchmark::Counter(watch.seconds() / static_cast<double>(state.iterations()) /
                                                  secondsPerIteration(1000, ofEngine));
}

const bool sl_registered = [] {
  benchmark::RegisterBenchmark("listeners/engine", [](benchmark::State& state) { tellListeners(state, true); })
      ->Arg(1000)
      ->Arg(8000)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("listeners/variable", [](benchmark::State& state) { tellListeners(state, false); })
      ->Arg(1000)
      ->Arg(8000)
      ->Unit(benchmark::kMicrosecond);
  return true;
}();

} // namespace

} // namespace bench
} // namespace KALDEN
