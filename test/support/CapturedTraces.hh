#ifndef KALDEN_TEST_SUPPORT_CAPTUREDTRACES_HH
#define KALDEN_TEST_SUPPORT_CAPTUREDTRACES_HH

#include "Utils/DebugMessage.hh"

#include <sstream>
#include <string>

namespace KALDEN {

/// Redirects the shared debug stream and enables one marker pattern for the life of the object.
class CapturedTraces {
public:
  explicit CapturedTraces(const std::string& pattern) : m_pattern(pattern), m_previous(DebugMessage::streamPtr()) {
    DebugMessage::streamPtr() = &m_out;
    DebugMessage::enable(m_pattern);
  }
  ~CapturedTraces() {
    DebugMessage::disable(m_pattern);
    DebugMessage::streamPtr() = m_previous;
  }
  CapturedTraces(const CapturedTraces&) = delete;
  CapturedTraces& operator=(const CapturedTraces&) = delete;

  /// Everything traced so far.
  std::string text() const { return m_out.str(); }

private:
  std::string m_pattern;
  std::ostream* m_previous;
  std::ostringstream m_out;
};

} // namespace KALDEN

#endif
