#ifndef KALDEN_BENCH_BENCHNETWORK_HH
#define KALDEN_BENCH_BENCHNETWORK_HH

// What every network benchmark shares: an engine with its propagators, variable
// and constraint makers, the execution counter, and a stopwatch for the
// per-change comparison with the hand-written baseline.

#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/EnumeratedDomains.hh"
#include "ConstraintEngine/component/IntervalDomains.hh"
#include "ConstraintEngine/component/Variable.hh"

#include <benchmark/benchmark.h>

#include <chrono>
#include <list>
#include <vector>

namespace KALDEN {
namespace bench {

/// The name of the propagator every constraint here runs on unless told otherwise.
const LabelStr& defaultPropagatorName();
/// The name the equality propagator is registered under.
const LabelStr& equalityPropagatorName();

/**
 * A schema, an engine on it and the default propagator; optionally the
 * equality propagator as well. Destroying it purges everything, as the host
 * does at shut-down.
 */
class BenchEngine {
public:
  /// With the default propagator, and the equality propagator when asked.
  explicit BenchEngine(bool withEqualityPropagator = false);
  ~BenchEngine();
  BenchEngine(const BenchEngine&) = delete;
  BenchEngine& operator=(const BenchEngine&) = delete;

  /// The engine's own handle.
  const Id<ConstraintEngine>& id() const { return m_engine->getId(); }
  /// The engine.
  ConstraintEngine& engine() { return *m_engine; }

  /// A new integer interval variable [lb, ub].
  Id<ConstrainedVariable> intVar(const LabelStr& name, int lb, int ub);
  /// A new closed numeric enumeration over the values.
  Id<ConstrainedVariable> enumVar(const LabelStr& name, const std::list<double>& values);

  /// A new constraint of class C over the scope, on the named propagator.
  template <class C>
  Id<Constraint> constrain(const LabelStr& name, const std::vector<Id<ConstrainedVariable> >& scope,
                           const LabelStr& propagator = defaultPropagatorName()) {
    return (new C(name, propagator, id(), scope))->getId();
  }

private:
  CESchema* m_schema;
  ConstraintEngine* m_engine;
};

/// Counts constraint executions through the engine's notifyExecuted.
class ExecutionCounter : public ConstraintEngineListener {
public:
  /// Registers with the engine.
  explicit ExecutionCounter(const Id<ConstraintEngine>& engine) : ConstraintEngineListener(engine) {}
  /// One execution.
  void notifyExecuted(const Id<Constraint>&) override { ++m_count; }
  /// Executions heard so far.
  long count() const { return m_count; }

private:
  long m_count = 0;
};

/**
 * Executions of one run of `op` on the engine, heard by a counter that is
 * registered for that run only: the timed runs go without a listener, as a
 * planner's engine normally does. Every operation measured here does the
 * same work each time it is repeated, so one counted run tells all.
 */
template <class Op>
long countExecutions(BenchEngine& engine, Op op) {
  ExecutionCounter counter(engine.id());
  op();
  return counter.count();
}

/// Raises the lower bound of an interval variable's current domain by one.
void raiseLowerBound(const Id<ConstrainedVariable>& var);
/// One incremental change: raises the variable's lower bound by one and propagates; answers propagate()'s verdict.
/// Kept out of line under its own name, so that a profiler can collect inside it alone.
bool raiseAndPropagate(BenchEngine& engine, const Id<ConstrainedVariable>& var);
/// Whether the lower bound can still be raised by one.
bool canRaiseLowerBound(const Id<ConstrainedVariable>& var);

/// Wall time accumulated over the running stretches only, in seconds.
class Stopwatch {
public:
  /// Starts a stretch.
  void start() { m_start = std::chrono::steady_clock::now(); }
  /// Ends a stretch.
  void stop() { m_total += std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count(); }
  /// The running time so far.
  double seconds() const { return m_total; }

private:
  std::chrono::steady_clock::time_point m_start;
  double m_total = 0.0;
};

/// Sets the counters shared by every benchmark: constraint executions per second.
void setExecutionRate(benchmark::State& state, long executionsPerIteration);
/// Sets the ratio of the engine's time per change to the baseline's.
void setBaselineRatio(benchmark::State& state, double engineSecondsPerChange, double baselineSecondsPerChange);

} // namespace bench
} // namespace KALDEN

#endif
