#ifndef KALDEN_TEST_SUPPORT_OPERATIONSEQUENCE_HH
#define KALDEN_TEST_SUPPORT_OPERATIONSEQUENCE_HH

#include <set>
#include <string>
#include <vector>

namespace KALDEN {

/**
 * Random client sessions against brute force. From a seed it builds a small
 * network (integer-interval, enumerated and boolean variables over -3..3,
 * constraints of every class of the catalogue, by class and by registered
 * name, on the default or the equality propagator) and then runs random
 * client operations on it. After every propagation it holds the engine to a
 * model of what the client asked for: while a solution exists propagation
 * answers true and keeps every value of every solution (per independent
 * part of the network, values are kept even when another part has none); a
 * true answer leaves no empty domain and no pending work; no legal operation
 * fails a check; nothing is left behind at tear-down.
 *
 * A failure is reported with the shortest list of operations found that
 * still fails the same way, which replay() runs again.
 */
class OperationSequence {
public:
  /// What a client does.
  enum class Type {
    PROPAGATE,
    SPECIFY,
    RESET,
    RELAX,
    RESTRICT_BASE,
    DEACTIVATE_CONSTRAINT,
    ACTIVATE_CONSTRAINT,
    DEACTIVATE_VARIABLE,
    ACTIVATE_VARIABLE,
    CREATE_VARIABLE,
    DELETE_VARIABLE,
    CREATE_CONSTRAINT,
    DELETE_CONSTRAINT,
    AUTO_PROPAGATION,
  };

  /// One client operation; variables and constraints are named by their creation order.
  struct Operation {
    Type type = Type::PROPAGATE;
    int target = -1;         ///< the variable or constraint acted on
    int kind = 0;            ///< a VariableKind (domains), or the catalogue index (new constraints)
    int variant = 0;         ///< new constraint: 0 by class, n by its n-th registered name
    bool flag = false;       ///< by name (variables), through the engine (deletion), "Equal" propagator, on/off
    std::vector<int> values; ///< a domain (an interval's bounds, else its members) or the specified value
    std::vector<int> scope;  ///< a new constraint's variables
    std::vector<int> data;   ///< a new constraint's own data
  };

  /// Ways of using the engine that meet faults known to be open; a seed leaves out those asked.
  enum class Hazard {
    EMPTY_VARIABLE,            ///< a variable created over an empty domain
    BOOLEAN_AS_NUMBER,         ///< a boolean in a position that also takes integers
    RESTRICT_AWAY_SPECIFIED,   ///< a base restricted to exclude the variable's specified value
    DELETE_COMPOSITE_VARIABLE, ///< a variable deleted under a constraint with members of its own
    SWITCH_OFF_COMPOSITE, ///< a constraint with members of its own deactivated, or made or kept inactive by a variable
  };

  /// How a seed is drawn.
  struct Options {
    unsigned int operations = 60; ///< random operations after the initial network
    std::set<Hazard> excluded;    ///< hazards the seed keeps away from
  };

  /// Runs one seed; empty when it held, else what failed with a short replayable list of operations.
  static std::string runSeed(unsigned int seed, const Options& options);
  /// Runs a list of operations (illegal ones are skipped); empty when it held, else what failed.
  static std::string replay(const std::vector<Operation>& operations);
  /// The operation as one line, e.g. "v2.specify(3)".
  static std::string describe(const Operation& operation);
};

} // namespace KALDEN

#endif
