// stn_grid: a side x side grid of time points in [0, HORIZON], each joined to
// its right and lower neighbour by a duration in [1, 10]; build and first
// propagation (a), and one change at the top-left corner (b).

#include "Networks.hh"

#include "ConstraintEngine/component/Constraints.hh"

#include <memory>

namespace KALDEN {
namespace bench {

namespace {

class StnGrid {
public:
  explicit StnGrid(int side) {
    static const LabelStr sl_point("t");
    static const LabelStr sl_duration("d");
    static const LabelStr sl_addEqual("AddEqual");
    points.reserve(side * side);
    for (int i = 0; i < side * side; ++i)
      points.push_back(engine.intVar(sl_point, 0, HORIZON));
    for (int r = 0; r < side; ++r) {
      for (int c = 0; c < side; ++c) {
        const Id<ConstrainedVariable>& from = points[r * side + c];
        if (c + 1 < side)
          engine.constrain<AddEqualConstraint>(
              sl_addEqual, makeScope(from, engine.intVar(sl_duration, 1, 10), points[r * side + c + 1]));
        if (r + 1 < side)
          engine.constrain<AddEqualConstraint>(
              sl_addEqual, makeScope(from, engine.intVar(sl_duration, 1, 10), points[(r + 1) * side + c]));
      }
    }
  }

  BenchEngine engine;
  std::vector<Id<ConstrainedVariable> > points;
};

void stnGridBuild(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  long executions = 0;
  {
    StnGrid grid(side);
    executions = countExecutions(grid.engine, [&grid] { grid.engine.engine().propagate(); });
  }
  for (auto _ : state) {
    auto grid = std::make_unique<StnGrid>(side);
    if (!grid->engine.engine().propagate())
      state.SkipWithError("the grid is inconsistent");
    state.PauseTiming();
    grid.reset();
    state.ResumeTiming();
  }
  setExecutionRate(state, executions);
}

void stnGridChange(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  auto grid = std::make_unique<StnGrid>(side);
  grid->engine.engine().propagate();
  auto change = [&grid] { return raiseAndPropagate(grid->engine, grid->points[0]); };
  const long executions = countExecutions(grid->engine, change);
  for (auto _ : state) {
    if (!canRaiseLowerBound(grid->points[0])) {
      state.PauseTiming();
      grid.reset();
      grid = std::make_unique<StnGrid>(side);
      grid->engine.engine().propagate();
      state.ResumeTiming();
    }
    if (!change())
      state.SkipWithError("the grid is inconsistent");
  }
  setExecutionRate(state, executions);
}

const bool sl_registered = [] {
  benchmark::RegisterBenchmark("stn_grid/a", stnGridBuild)->Arg(32)->Arg(100)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("stn_grid/b", stnGridChange)->Arg(32)->Arg(100)->Unit(benchmark::kMicrosecond);
  return true;
}();

} // namespace

} // namespace bench
} // namespace KALDEN
