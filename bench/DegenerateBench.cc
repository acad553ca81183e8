// degenerate/<scope>/W: one propagation over a scope that has no solution whatever the width W
// of its integer domains, where a rule stepping its bounds one unit a round would take W rounds:
//   mixed_add  x + y = z, x and z integers in [0, W], y real in [0.4, 0.6] (holds no integer);
//   lt_self    x < x, x in [0, W];
//   add_self   x + 1 = x, x in [0, W].
// One iteration builds the scope, propagates (false) and deletes it again. The widths
// 1,000 and 1,000,000,000 should cost the same.

#include "BenchNetwork.hh"

#include "ConstraintEngine/component/Constraints.hh"

#include <vector>

namespace KALDEN {
namespace bench {

namespace {

enum class Scope { MIXED_ADD, LT_SELF, ADD_SELF };

Id<ConstrainedVariable> realVar(BenchEngine& engine, const LabelStr& name, double lb, double ub) {
  return (new Variable<IntervalDomain>(engine.id(), IntervalDomain(lb, ub, FloatDT::instance()), false, true, name,
                                       Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
      ->getId();
}

// Builds the scope and its constraint; answers the variables, which own the constraint.
std::vector<Id<ConstrainedVariable> > build(BenchEngine& engine, Scope scope, int width) {
  static const LabelStr sl_x("x"), sl_y("y"), sl_z("z"), sl_one("one");
  static const LabelStr sl_add("addEq"), sl_lt("lt");
  const Id<ConstrainedVariable> x = engine.intVar(sl_x, 0, width);
  switch (scope) {
  case Scope::MIXED_ADD: {
    const Id<ConstrainedVariable> y = realVar(engine, sl_y, 0.4, 0.6), z = engine.intVar(sl_z, 0, width);
    engine.constrain<AddEqualConstraint>(sl_add, makeScope(x, y, z));
    return {x, y, z};
  }
  case Scope::LT_SELF:
    engine.constrain<LessThanConstraint>(sl_lt, makeScope(x, x));
    return {x};
  case Scope::ADD_SELF: {
    const Id<ConstrainedVariable> one = engine.intVar(sl_one, 1, 1);
    engine.constrain<AddEqualConstraint>(sl_add, makeScope(x, one, x));
    return {x, one};
  }
  }
  return {x};
}

bool buildAndPropagate(BenchEngine& engine, Scope scope, int width) {
  const std::vector<Id<ConstrainedVariable> > vars = build(engine, scope, width);
  const bool consistent = engine.engine().propagate();
  for (const Id<ConstrainedVariable>& var : vars)
    delete static_cast<ConstrainedVariable*>(var);
  // A failed run frees nothing it discarded: free the constraint here, so iterations do not pile up.
  Entity::garbageCollect();
  return consistent;
}

void degenerate(benchmark::State& state, Scope scope) {
  const int width = static_cast<int>(state.range(0));
  BenchEngine engine;
  const long executions = countExecutions(engine, [&] { buildAndPropagate(engine, scope, width); });
  for (auto _ : state) {
    if (buildAndPropagate(engine, scope, width))
      state.SkipWithError("a scope without solutions propagated as consistent");
  }
  setExecutionRate(state, executions);
}

const bool sl_registered = [] {
  const std::pair<const char*, Scope> scopes[] = {
      {"degenerate/mixed_add", Scope::MIXED_ADD}, {"degenerate/lt_self", Scope::LT_SELF}, {"degenerate/add_self", Scope::ADD_SELF}};
  for (const auto& entry : scopes)
    benchmark::RegisterBenchmark(entry.first, degenerate, entry.second)
        ->Arg(1000)
        ->Arg(1000000000)
        ->Unit(benchmark::kMicrosecond);
  return true;
}();

} // namespace

} // namespace bench
} // namespace KALDEN
