#ifndef KALDEN_TEST_SUPPORT_OPERATIONSEQUENCE_HH
#define KALDEN_TEST_SUPPORT_OPERATIONSEQUENCE_HH

#include <string>
#include <vector>

namespace KALDEN {

/**
 * Random client sessions against brute force. From a seed it builds a small
 * network (integer-interval, real-interval, enumerated, open enumerated and
 * boolean variables over -3..3, some real ones with tenths or narrower than the
 * tolerance (see TenthsDomains), constraints of every class of the catalogue,
 * by class and by registered name, on the default or the equality
 * propagator) and then runs random client operations on it. The generator
 * keeps a hidden solution and draws most constraints and specifications to
 * agree with it, so that most networks are solvable. A few operations switch
 * violations on and off or set a small limit on them. After every propagation
 * it holds the engine to a model of what the client asked for: while a
 * solution exists propagation answers true and keeps every value of every
 * solution (per independent part of the network, values are kept even when
 * another part has none; parts with an open domain are not judged), where the
 * network leaves out the constraints the engine holds violated; the violated
 * constraints are inactive and counted as getViolation() says; a constraint
 * in effect that its decided values break is active or held violated; a true
 * answer leaves no empty domain, no pending work, no constraint in effect and
 * not violated that decided values break, and the same domains as a fresh
 * engine built from the live network without the violated constraints (over
 * the parts whose fixpoint does not depend on the order of execution); a
 * false answer leaves an active variable empty for good; no
 * legal operation fails a check, and changing the limit while violations are
 * held is refused; nothing is left behind at tear-down. After every operation
 * each variable is valid, its base domain (open or closed) holds the current domain, and
 * a specified variable's current domain is its value or empty, whatever the
 * client opened, closed, inserted or removed. After every operation with nothing pending, and
 * after every propagate(), the next propagate() answers as provenInconsistent() and pending()
 * foretold, and one right after answers alike, changing nothing and telling of no change.
 *
 * Variables and constraints are switched off and on again, up to two deep.
 * After every operation a variable is on exactly while the client has undone
 * its deactivations; a constraint over a switched-off variable is off, and so
 * is one the client switched off, with all it added; one in effect is on
 * unless redundant or held violated; and every active variable keeps every
 * value that a solution of the live network uses, switched-off constraints
 * included (switching off keeps what a constraint narrowed; removal, reset,
 * relaxation and reopening give it back). The fresh-engine comparison is
 * made over the parts where nothing is switched off.
 *
 * The session's engine listeners register in an order the seed draws, at
 * addresses it draws; every fourth seed runs again with them, and the objects
 * the session makes, elsewhere in memory, and each listener must hear the same.
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
    INSERT_VALUE,
    CLOSE_VARIABLE,
    ALLOW_VIOLATIONS,
    VIOLATION_LIMIT,
    REMOVE_VALUE,
    OPEN_VARIABLE,
    REFUSED_CALL,
    /// The last operation of an equality session: clears what the engine lists between
    /// Entity::purgeStart() and purgeEnd() (a composite's parts are refused), then tears it down.
    CLEAR_IN_TEAR_DOWN,
  };

  /// The calls a REFUSED_CALL operation makes (its kind); each is refused whatever the session's state.
  enum class Refusal {
    SPECIFY_OUTSIDE_BASE,
    RESTRICT_BASE_DISJOINT,
    RESET_OUTSIDE_BASE,
    RESET_NARROWER_INTERVAL,
    INSERT_INTO_CLOSED,
    CLOSE_CLOSED,
    OPEN_OPEN,
    ACTIVATE_ACTIVE_VARIABLE,
    ACTIVATE_ACTIVE_CONSTRAINT,
    CREATE_WITH_WRONG_ARITY,
    CREATE_OVER_SYMBOLS,
    /// Deletes or discards what getConstraints() or getVariables() lists at a position: refused for
    /// a composite's part, taken (and the model follows) for anything else.
    DELETE_AS_LISTED,
    OPEN_INTERVAL,
    /// undoDeactivation() of a constraint whose only deactivation is the violation the engine holds.
    ACTIVATE_VIOLATED_CONSTRAINT,
    COUNT
  };

  /// One client operation; variables and constraints are named by their creation order.
  struct Operation {
    Type type = Type::PROPAGATE;
    int target = -1;         ///< the variable or constraint acted on
    int kind = 0;            ///< a VariableKind (domains), or the catalogue index (new constraints)
    int variant = 0;         ///< new constraint: 0 by class, n by its n-th name; new variable: 1 values as sums
    bool flag = false;       ///< by name (variables), through the engine (deletion), "Equal" propagator, on/off
    std::vector<int> values; ///< a domain (interval bounds, else members), the value specified or inserted, the limit
    std::vector<int> scope;  ///< a new constraint's variables
    std::vector<int> data;   ///< a new constraint's own data; a new variable's tenths (see TenthsDomains)
    /// The deleting listener acts at this notice of the operation (counting from 0); never when negative.
    int listenerNotice = -1;
    int listenerChoice = 0; ///< what it then does (see DeletingListener)
  };

  /// How a seed is drawn.
  struct Options {
    unsigned int operations = 60; ///< random operations after the initial network
    /// Sessions mostly of equalities on the equality propagator, over integer and real intervals
    /// and enumerations (now and then open ones), with more removals and deletions of variables.
    bool equalityPropagator = false;
  };

  /// Where a session's listeners stand: the order they register in, and where they and the
  /// objects the session makes lie in memory. What each listener hears must depend on the
  /// order alone.
  struct Layout {
    unsigned int order = 0;     ///< draws the order of registration; 0 keeps the session's own
    unsigned int addresses = 0; ///< draws the listeners' slots and padding between objects; 0 adds none
  };

  /// How the checked propagations of a run answered.
  struct Tally {
    unsigned long checked = 0;       ///< propagations held to the model
    unsigned long answeredFalse = 0; ///< of those, the ones that answered false
    unsigned long violated = 0;      ///< of those, the ones that left a constraint held violated
    unsigned long switched = 0;      ///< operations that switched a variable or constraint off or on
    unsigned long twoDeep = 0;       ///< of those, deactivations that left it off twice
    unsigned long failedInRun = 0;   ///< propagate() calls a listener failed in
  };

  /// Runs one seed; empty when it held, else what failed with a short replayable list of operations.
  /// The seed's propagations are added to `tally` when one is given.
  static std::string runSeed(unsigned int seed, const Options& options, Tally* tally = nullptr);
  /// Runs a list of operations (illegal ones are skipped); empty when it held, else what failed.
  static std::string replay(const std::vector<Operation>& operations);
  /// The same with the listeners standing as `layout` draws them.
  static std::string replay(const std::vector<Operation>& operations, const Layout& layout);
  /// The layout a line "layout <order> <addresses>" of a record names; false when the line is an operation.
  static bool layoutFromRecord(const std::string& line, Layout& layout);
  /// The operation as one line, e.g. "v2.specify(3)".
  static std::string describe(const Operation& operation);
  /// The operation as one line of numbers, which fromRecord() reads back.
  static std::string toRecord(const Operation& operation);
  /// The operation a line of toRecord() holds.
  static Operation fromRecord(const std::string& line);

private:
  static std::string describeCall(const Operation& operation);
};

} // namespace KALDEN

#endif
