#include "BenchNetwork.hh"

#include "ConstraintEngine/component/EqualityConstraintPropagator.hh"
#include "ConstraintEngine/component/Propagators.hh"
#include "Utils/Entity.hh"

namespace KALDEN {
namespace bench {

const LabelStr& defaultPropagatorName() {
  static const LabelStr sl_name("Default");
  return sl_name;
}

const LabelStr& equalityPropagatorName() {
  static const LabelStr sl_name("Equal");
  return sl_name;
}

BenchEngine::BenchEngine(bool withEqualityPropagator)
    : m_schema(new CESchema()), m_engine(new ConstraintEngine(m_schema->getId())) {
  new DefaultPropagator(defaultPropagatorName(), m_engine->getId()); // owned by the engine
  if (withEqualityPropagator)
    new EqualityConstraintPropagator(equalityPropagatorName(), m_engine->getId());
}

BenchEngine::~BenchEngine() {
  Entity::purgeStart();
  delete m_engine;
  Entity::purgeEnd();
  delete m_schema;
  Entity::garbageCollect();
}

Id<ConstrainedVariable> BenchEngine::intVar(const LabelStr& name, int lb, int ub) {
  return (new Variable<IntervalIntDomain>(id(), IntervalIntDomain(lb, ub, IntDT::instance()), false, true, name,
                                          Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
      ->getId();
}

Id<ConstrainedVariable> BenchEngine::enumVar(const LabelStr& name, const std::list<double>& values) {
  return (new Variable<EnumeratedDomain>(id(), NumericDomain(values, IntDT::instance()), false, true, name,
                                         Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
      ->getId();
}

void raiseLowerBound(const Id<ConstrainedVariable>& var) {
  AbstractDomain& dom = var->getCurrentDomain();
  dom.intersect(dom.getLowerBound() + 1.0, dom.getUpperBound());
}

__attribute__((noinline)) bool raiseAndPropagate(BenchEngine& engine, const Id<ConstrainedVariable>& var) {
  raiseLowerBound(var);
  return engine.engine().propagate();
}

bool canRaiseLowerBound(const Id<ConstrainedVariable>& var) {
  const AbstractDomain& dom = var->lastDomain();
  return dom.getLowerBound() + 1.0 <= dom.getUpperBound();
}

void setExecutionRate(benchmark::State& state, long executionsPerIteration) {
  state.counters["executions/s"] =
      benchmark::Counter(static_cast<double>(executionsPerIteration) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
  state.counters["executions"] = benchmark::Counter(static_cast<double>(executionsPerIteration));
}

void setBaselineRatio(benchmark::State& state, double engineSecondsPerChange, double baselineSecondsPerChange) {
  if (baselineSecondsPerChange > 0.0)
    state.counters["x_baseline"] = benchmark::Counter(engineSecondsPerChange / baselineSecondsPerChange);
}

} // namespace bench
} // namespace KALDEN
