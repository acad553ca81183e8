#ifndef KALDEN_BENCH_BASELINE_HH
#define KALDEN_BENCH_BASELINE_HH

#include <cstddef>
#include <vector>

namespace KALDEN {
namespace bench {

/**
 * The floor the engine is measured against: bounds propagation over plain
 * arrays of [lb, ub] doubles, constraints as structs, and a FIFO queue with
 * an in-queue flag per constraint. It does the same narrowing as the
 * engine's addition and less-or-equal constraints on integer bounds, and
 * nothing else: no handles, no checks, no events, no listeners.
 */
class BaselineNetwork {
public:
  /// A new variable over [lb, ub]; answers its index.
  int addVariable(double lb, double ub);
  /// x + y = z.
  void addAddEqual(int x, int y, int z);
  /// x <= y.
  void addLessEqual(int x, int y);

  /// Narrows a variable to [lb, ub] from outside and queues what watches it; false when it empties.
  bool restrict(int var, double lb, double ub);
  /// Runs the queue to a fixpoint; false when a domain empties (the queue is then cleared).
  bool propagate();

  /// A variable's lower bound.
  double lowerBound(int var) const { return m_lb[var]; }
  /// A variable's upper bound.
  double upperBound(int var) const { return m_ub[var]; }
  /// Constraint executions since construction.
  long executions() const { return m_executions; }

private:
  enum Kind { ADD_EQUAL, LESS_EQUAL };
  struct Constraint {
    Kind kind;
    int x, y, z;
  };

  void watch(int var, int constraint);
  void enqueue(int constraint);
  // Narrows to [lb, ub] and queues the watchers (but `self`) that care; false when it empties.
  bool narrow(int var, double lb, double ub, int self);
  bool execute(int constraint);

  std::vector<double> m_lb;
  std::vector<double> m_ub;
  std::vector<Constraint> m_constraints;
  std::vector<std::vector<int> > m_watchers;
  std::vector<int> m_queue; // ring buffer, one slot per constraint
  std::vector<char> m_queued;
  std::size_t m_head = 0;
  std::size_t m_size = 0;
  long m_executions = 0;
};

} // namespace bench
} // namespace KALDEN

#endif
