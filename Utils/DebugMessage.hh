#ifndef KALDEN_UTILS_DEBUGMESSAGE_HH
#define KALDEN_UTILS_DEBUGMESSAGE_HH

#include <cstddef>
#include <ios>
#include <iosfwd>
#include <stdexcept>
#include <string>

namespace KALDEN {

/**
 * One registered trace point: its source path, line and marker, and whether
 * it is enabled. The registry owns every message for the whole process.
 * Markers are switched by pattern: a pattern enables every marker that
 * starts with it, for messages already registered and those registered later.
 */
class DebugMessage {
public:
  /// Registers a trace point and answers its message (owned by the registry).
  static DebugMessage* addMsg(const std::string& file, const int& line, const std::string& marker);

  /// Whether the trace point writes its text.
  bool isEnabled() const { return m_enabled; }
  /// The enabled flag itself, for trace points that keep a pointer to it.
  const bool& enabledFlag() const { return m_enabled; }

  /// The shared debug stream pointer; assign to it to redirect every trace.
  static std::ostream*& streamPtr();
  /// The stream traces currently go to.
  static std::ostream& getStream() { return *streamPtr(); }

  /// Enables every marker starting with the pattern (the empty pattern enables all).
  static void enable(const std::string& pattern);
  /// Disables every marker starting with the pattern (later rules win over earlier ones).
  static void disable(const std::string& pattern);
  /// Enables every marker.
  static void enableAll() { enable(""); }
  /// Disables every marker.
  static void disableAll() { disable(""); }

  /// Reports a stream failure met while tracing, as the failed check "ALWAYS_FAIL".
  static void reportStreamFailure(const std::ios_base::failure& failure, const char* file, int line);

  /// Number of registered trace points.
  static std::size_t messageCount();

  const std::string& getFile() const { return m_file; }
  int getLine() const { return m_line; }
  const std::string& getMarker() const { return m_marker; }

private:
  DebugMessage(const std::string& file, int line, const std::string& marker);
  static bool matches(const std::string& marker, const std::string& pattern);
  static void apply(const std::string& pattern, bool enabled);

  std::string m_file;
  int m_line;
  std::string m_marker;
  bool m_enabled;
};

} // namespace KALDEN

#endif
