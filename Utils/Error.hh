#ifndef KALDEN_UTILS_ERROR_HH
#define KALDEN_UTILS_ERROR_HH

#include <exception>
#include <iosfwd>
#include <string>

namespace KALDEN {

/**
 * A failed check: the tested condition's text, an optional message and label,
 * and the source path and line of the check. handleAssert() throws it so a
 * client can catch it; the system itself never does.
 */
class Error : public std::exception {
public:
  /// A failed check without message.
  Error(const std::string& condition, const std::string& file, const int& line);
  /// A failed check with message.
  Error(const std::string& condition, const std::string& msg, const std::string& file, const int& line);
  /// A failed check with message and error label (handle checks).
  Error(const std::string& condition, const std::string& msg, const std::string& label, const std::string& file,
        const int& line);

  /// Acts on a heap-allocated failure report and takes it over: throws a copy (also while another
  /// exception is in flight), or, inside the engine's own destructors (a NoThrowScope) with no
  /// CatchingScope opened since, prints it and returns.
  void handleAssert();

  /// Prints a warning to the standard error stream; raises nothing.
  static void printWarning(const std::string& msg, const std::string& file, const int& line);

  /// The condition text, exactly as written at the check.
  const std::string& getCondition() const { return m_condition; }
  /// The explanatory message, empty when none was given.
  const std::string& getMessage() const { return m_msg; }
  /// The error label, empty when none was given.
  const std::string& getLabel() const { return m_label; }
  /// The source path of the check, relative to the source root.
  const std::string& getFile() const { return m_file; }
  /// The source line of the check.
  int getLine() const { return m_line; }

  /// The whole report on one line.
  const char* what() const noexcept override { return m_text.c_str(); }

  /// Writes the whole report to a stream.
  void print(std::ostream& os) const;

  /// Number of failures reported without throwing (inside destructors), for diagnostics.
  static unsigned long& suppressedCount();

private:
  void compose();

  std::string m_condition;
  std::string m_msg;
  std::string m_label;
  std::string m_file;
  int m_line;
  std::string m_text;
};

// Defined once, in the utility library: an inline variable would have a copy in each shared
// library that uses it, which the address sanitizer refuses at load as an ODR violation.

/// Condition text of a path that must never be reached.
extern const char ALWAYS_FAILS_CONDITION[];
/// Condition text of a trace the debug stream failed to take, and of a variable of no known type.
extern const char ALWAYS_FAIL_CONDITION[];
/// Label of every failed handle check.
extern const char INVALID_ID_LABEL[];

/// The one path every failed check takes: builds the Error (`msg` and `label` may be null) and
/// acts on it. Throws; returns only where the failure can merely be printed (see NoThrowScope).
/// Out of line and cold so that a check costs the code around it only its test.
[[gnu::cold, gnu::noinline]] void raiseFailedCheck(const char* condition, const char* file, int line,
                                                   const char* msg = nullptr, const char* label = nullptr);

/**
 * Held by destructors (and other code that must not throw): while one is alive, and
 * no CatchingScope was opened since, a failed check is printed to the standard error
 * stream and execution goes on. The engine's own destructors make no check that a
 * client can fail there; a listener they call runs inside a CatchingScope.
 */
class NoThrowScope {
public:
  NoThrowScope() { ++s_state.depth; }
  ~NoThrowScope() { --s_state.depth; }
  NoThrowScope(const NoThrowScope&) = delete;
  NoThrowScope& operator=(const NoThrowScope&) = delete;

  /// True while some scope is alive.
  static bool active() { return s_state.depth > 0; }
  /// Whether a scope was opened since the innermost CatchingScope: a failed check is printed.
  static bool insideDestructor() { return s_state.depth > s_state.floor; }
  /// Whether a failure kept for later must be printed rather than thrown: inside a destructor (see
  /// insideDestructor()), or while an exception is in flight.
  static bool mustPrint();

private:
  friend class CatchingScope;
  // The scopes alive, and how many were alive when the innermost CatchingScope opened. A plain
  // member of the utility library (one definition), read inline: every listener call opens a
  // CatchingScope.
  struct State {
    int depth;
    int floor;
  };
  static State s_state;
};

/**
 * Held by a boundary that catches everything thrown inside it (the listener failure point): a
 * failed check there is thrown to it, even while a destructor runs, so that the code after the
 * check never goes on.
 */
class CatchingScope {
public:
  CatchingScope() : m_outer(NoThrowScope::s_state.floor) { NoThrowScope::s_state.floor = NoThrowScope::s_state.depth; }
  ~CatchingScope() { NoThrowScope::s_state.floor = m_outer; }
  CatchingScope(const CatchingScope&) = delete;
  CatchingScope& operator=(const CatchingScope&) = delete;

private:
  int m_outer;
};

} // namespace KALDEN

#endif
