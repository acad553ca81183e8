#ifndef KALDEN_UTILS_BASE_REPORT_HH
#define KALDEN_UTILS_BASE_REPORT_HH

/*
 * The one way failed checks and debug traces are reported. Every file that
 * uses these macros defines KALDEN_SOURCE as its source path relative to the
 * source root (headers with inline code wrap their definition in
 * push_macro/pop_macro so they leave the includer's path alone).
 *
 * A failed check builds an Error on the heap and calls its handleAssert(),
 * which throws; messages are streamed into a fresh string stream and are only
 * composed on the failing path. A trace point registers once on its first
 * execution and, while disabled, costs one flag test: its text is never built.
 * The failing and tracing paths run in out-of-line cold functions, so that
 * the code around a check pays for its test alone.
 */

#include "Utils/DebugMessage.hh"
#include "Utils/Error.hh"
#include "Utils/Globals.hh"

#include <ios>
#include <ostream>
#include <sstream>
#include <string>

namespace KALDEN {

/// Rethrows the stream failure being handled, unless a destructor is running: there it has
/// been reported (printed) already, and throwing on would end the process.
inline void rethrowTraceFailure() {
  if (!NoThrowScope::active())
    throw;
}

// The reporting itself, out of the checking function's way.
namespace report {

/// Raises the failure of a check with no message.
[[gnu::cold, gnu::noinline]] inline void fail(const char* condition, const char* file, int line) {
  (new Error(condition, file, line))->handleAssert();
}

/// Raises the failure of a check with no message (condition text given as a string).
[[gnu::cold, gnu::noinline]] inline void fail(const std::string& condition, const char* file, int line) {
  (new Error(condition, file, line))->handleAssert();
}

/// Raises the failure of a check whose message `message(stream)` writes.
template <class Message>
[[gnu::cold, gnu::noinline]] void failWith(const char* condition, const Message& message, const char* file,
                                           int line) {
  std::ostringstream sl_kaldenMsg;
  message(sl_kaldenMsg);
  (new Error(condition, sl_kaldenMsg.str(), file, line))->handleAssert();
}

/// Raises the failure of a check whose message `message(stream)` writes (condition text given as a string).
template <class Message>
[[gnu::cold, gnu::noinline]] void failWith(const std::string& condition, const Message& message,
                                           const char* file, int line) {
  std::ostringstream sl_kaldenMsg;
  message(sl_kaldenMsg);
  (new Error(condition, sl_kaldenMsg.str(), file, line))->handleAssert();
}

/// Registers a trace point, on its first execution.
[[gnu::cold, gnu::noinline]] inline DebugMessage* addTrace(const char* file, int line, const char* marker) {
  return DebugMessage::addMsg(file, line, marker);
}

/// Registers a trace point, on its first execution (marker given as a string).
[[gnu::cold, gnu::noinline]] inline DebugMessage* addTrace(const char* file, int line, const std::string& marker) {
  return DebugMessage::addMsg(file, line, marker);
}

/// Writes a trace line through `write(stream)`, handling a failing stream.
template <class Write>
[[gnu::cold, gnu::noinline]] void trace(const Write& write, const char* file, int line) {
  std::ostream& sl_kaldenOs = ::KALDEN::DebugMessage::getStream();
  try {
    sl_kaldenOs.exceptions(std::ios_base::badbit);
    write(sl_kaldenOs);
  } catch (const std::ios_base::failure& sl_kaldenFailure) {
    ::KALDEN::DebugMessage::reportStreamFailure(sl_kaldenFailure, file, line);
    ::KALDEN::rethrowTraceFailure();
  }
}

} // namespace report

} // namespace KALDEN

/// Check whose condition text is the expression as written.
#define KALDEN_CHECK(cond)                                                                         \
  do {                                                                                             \
    if (!(cond))                                                                                   \
      ::KALDEN::report::fail(#cond, KALDEN_SOURCE, __LINE__);                                      \
  } while (0)

/// Check with a message; `msg` is a chain of stream insertions.
#define KALDEN_CHECK_MSG(cond, msg)                                                                \
  do {                                                                                             \
    if (!(cond))                                                                                   \
      ::KALDEN::report::failWith(                                                                  \
          #cond, [&](std::ostream& sl_kaldenMsg) { sl_kaldenMsg << msg; }, KALDEN_SOURCE, __LINE__); \
  } while (0)

/// Check whose reported condition text differs from the expression's spelling.
#define KALDEN_CHECK_TEXT(cond, text)                                                              \
  do {                                                                                             \
    if (!(cond))                                                                                   \
      ::KALDEN::report::fail(text, KALDEN_SOURCE, __LINE__);                                       \
  } while (0)

/// Check with an explicit condition text and a message.
#define KALDEN_CHECK_TEXT_MSG(cond, text, msg)                                                     \
  do {                                                                                             \
    if (!(cond))                                                                                   \
      ::KALDEN::report::failWith(                                                                  \
          text, [&](std::ostream& sl_kaldenMsg) { sl_kaldenMsg << msg; }, KALDEN_SOURCE, __LINE__); \
  } while (0)

/// A path that must never be reached ("ALWAYS_FAILS"), unless g_alwaysFails() lets it pass.
#define KALDEN_ALWAYS_FAIL()                                                                       \
  do {                                                                                             \
    if (!::KALDEN::g_alwaysFails())                                                                \
      ::KALDEN::report::fail("ALWAYS_FAILS", KALDEN_SOURCE, __LINE__);                             \
  } while (0)

/// A path that must never be reached, with a message.
#define KALDEN_ALWAYS_FAIL_MSG(msg)                                                                \
  do {                                                                                             \
    if (!::KALDEN::g_alwaysFails())                                                                \
      ::KALDEN::report::failWith(                                                                  \
          "ALWAYS_FAILS", [&](std::ostream& sl_kaldenMsg) { sl_kaldenMsg << msg; }, KALDEN_SOURCE,  \
          __LINE__);                                                                               \
  } while (0)

/// A condition worth telling that is not a failure.
#define KALDEN_WARNING(msg)                                                                        \
  do {                                                                                             \
    std::ostringstream sl_kaldenMsg;                                                               \
    sl_kaldenMsg << msg;                                                                           \
    ::KALDEN::Error::printWarning(sl_kaldenMsg.str(), KALDEN_SOURCE, __LINE__);                    \
  } while (0)

/// Trace point: writes "[marker]text" and a flushing end of line while the marker is enabled.
#define KALDEN_TRACE(marker, text)                                                                 \
  do {                                                                                             \
    static ::KALDEN::DebugMessage* const sl_kaldenDmsg =                                           \
        ::KALDEN::report::addTrace(KALDEN_SOURCE, __LINE__, marker);                               \
    if (sl_kaldenDmsg->isEnabled())                                                                \
      ::KALDEN::report::trace(                                                                     \
          [&](std::ostream& sl_kaldenOs) {                                                         \
            sl_kaldenOs << "[" << marker << "]" << text << std::endl;                              \
          },                                                                                       \
          KALDEN_SOURCE, __LINE__);                                                                \
  } while (0)

#endif
