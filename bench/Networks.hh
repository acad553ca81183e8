#ifndef KALDEN_BENCH_NETWORKS_HH
#define KALDEN_BENCH_NETWORKS_HH

// The networks the benchmarks build through the engine's C++ API, and their
// hand-written baseline twins.

#include "Baseline.hh"
#include "BenchNetwork.hh"

#include <vector>

namespace KALDEN {
namespace bench {

/// The horizon of every time point and chain variable.
constexpr int HORIZON = 1000000;

/**
 * t0..tn in [0, HORIZON], d_i in [1, 10], t_i + d_i = t_{i+1}; built in two
 * steps. Built `atFixpoint`, each t_i starts in [i, HORIZON - (n - i)], the
 * bounds the first propagation gives it: the network is then the one the
 * first propagation leaves, without the work of getting there, which grows
 * with the square of the length.
 */
class StnChain {
public:
  /// An engine with no variable yet (the handle vectors are reserved, so building adds only the network).
  explicit StnChain(int length, bool atFixpoint = false);
  /// Builds the variables, then the constraints.
  void build() {
    buildVariables();
    buildConstraints();
  }
  /// The time points and durations.
  void buildVariables();
  /// The additions.
  void buildConstraints();
  /// The addition at a position, built anew (after it was deleted).
  void rebuildConstraint(int position);

  BenchEngine engine;
  std::vector<Id<ConstrainedVariable> > points;
  std::vector<Id<ConstrainedVariable> > durations;
  std::vector<Id<Constraint> > constraints;

private:
  int m_length;
  bool m_atFixpoint;
};

/// x_0..x_n in [0, HORIZON], x_i <= x_{i+1}.
class LeqChain {
public:
  /// The whole chain.
  explicit LeqChain(int length);

  BenchEngine engine;
  std::vector<Id<ConstrainedVariable> > vars;
  std::vector<Id<Constraint> > constraints;
};

/// The baseline twin of StnChain: variable i is t_i.
void buildBaselineStnChain(BaselineNetwork& net, int length);
/// The baseline twin of StnChain built at its fixpoint.
void buildBaselineStnChainAtFixpoint(BaselineNetwork& net, int length);
/// The baseline twin of LeqChain: variable 0 is x0.
void buildBaselineLeqChain(BaselineNetwork& net, int length);

/**
 * The baseline's time per change: raise variable 0's lower bound by one and
 * propagate, repeated for at least a few hundredths of a second.
 */
double baselineSecondsPerChange(BaselineNetwork& net);

} // namespace bench
} // namespace KALDEN

#endif
