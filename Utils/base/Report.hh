#ifndef KALDEN_UTILS_BASE_REPORT_HH
#define KALDEN_UTILS_BASE_REPORT_HH

/*
 * The one way failed checks and debug traces are reported. Every file that
 * uses these macros defines KALDEN_SOURCE as its source path relative to the
 * source root (headers with inline code wrap their definition in
 * push_macro/pop_macro so they leave the includer's path alone).
 *
 * A failed check goes through raiseFailedCheck() (Utils/Error.hh), which throws,
 * or prints where throwing is not allowed; messages are streamed into a fresh
 * string stream and are only composed on the failing path. A trace point registers once on its first
 * execution and, while disabled, costs one flag test: its text is never built.
 * The flag is reached through a pointer held by the trace point itself, which
 * starts at a flag that is always set, so the first execution takes the
 * out-of-line path that registers; no guard is tested on later executions.
 */

#include "Utils/DebugMessage.hh"
#include "Utils/Error.hh"
#include "Utils/Globals.hh"

#include <atomic>
#include <ios>
#include <ostream>
#include <sstream>

namespace KALDEN {

/// Rethrows the stream failure being handled, unless it was printed (see NoThrowScope::insideDestructor()):
/// there it has been reported already, and throwing on would end the process.
inline void rethrowTraceFailure() {
  if (!NoThrowScope::insideDestructor())
    throw;
}

// The reporting below runs only when a check has failed or a trace point is enabled. It is
// kept out of line (and out of the hot code) so that a check or a disabled trace point costs
// the function around it only its test, not the frame the reporting needs.

/// Streams the message of a failed check with `compose` and raises it through raiseFailedCheck().
template <class Compose>
[[gnu::noinline, gnu::cold]] void raiseComposedFailure(const char* condition, const char* label, const Compose& compose,
                                                       const char* file, int line) {
  std::ostringstream sl_kaldenMsg;
  compose(sl_kaldenMsg);
  raiseFailedCheck(condition, file, line, sl_kaldenMsg.str().c_str(), label);
}

/// Registers a trace point on its first execution.
[[gnu::noinline, gnu::cold]] inline DebugMessage* registerTracePoint(const char* file, int line, const char* marker) {
  return DebugMessage::addMsg(file, line, marker);
}

/// The switch a trace point reads before it has registered: set, so its first execution goes
/// out of line and registers.
inline constexpr bool TRACE_POINT_UNREGISTERED = true;

/// Writes one trace line, "[marker]" and what `compose` streams, to the debug stream.
template <class Compose>
[[gnu::noinline, gnu::cold]] void writeTrace(const char* marker, const Compose& compose, const char* file, int line) {
  std::ostream& sl_kaldenOs = DebugMessage::getStream();
  try {
    sl_kaldenOs.exceptions(std::ios_base::badbit);
    sl_kaldenOs << "[" << marker << "]";
    compose(sl_kaldenOs);
    sl_kaldenOs << std::endl;
  } catch (const std::ios_base::failure& sl_kaldenFailure) {
    DebugMessage::reportStreamFailure(sl_kaldenFailure, file, line);
    rethrowTraceFailure();
  }
}

/// The out-of-line part of a trace point: registers it on the first call (the closure type of
/// `compose` is the trace point's own, so the static below is one per trace point), points the
/// trace point's switch at the message's enabled flag and writes the line if it is enabled.
template <class Compose>
[[gnu::noinline, gnu::cold]] void traceOutOfLine(std::atomic<const bool*>& traceSwitch, const char* marker,
                                                 const Compose& compose, const char* file, int line) {
  static DebugMessage* const sl_kaldenDmsg = registerTracePoint(file, line, marker);
  traceSwitch.store(&sl_kaldenDmsg->enabledFlag(), std::memory_order_release);
  if (sl_kaldenDmsg->isEnabled())
    writeTrace(marker, compose, file, line);
}

} // namespace KALDEN

// Every check below reports through raiseFailedCheck(). `onPrinted` runs after a failure
// that was only printed (inside a destructor), where the code after the check goes on.
#define KALDEN_DETAIL_CHECK(cond, text, onPrinted)                                                                     \
  do {                                                                                                                 \
    if (!(cond)) {                                                                                                     \
      ::KALDEN::raiseFailedCheck(text, KALDEN_SOURCE, __LINE__);                                                       \
      onPrinted;                                                                                                       \
    }                                                                                                                  \
  } while (0)

#define KALDEN_DETAIL_CHECK_MSG(cond, text, msg, onPrinted)                                                            \
  do {                                                                                                                 \
    if (!(cond)) {                                                                                                     \
      ::KALDEN::raiseComposedFailure(                                                                                  \
          text, nullptr, [&](std::ostream& sl_kaldenMsg) { sl_kaldenMsg << msg; }, KALDEN_SOURCE, __LINE__);           \
      onPrinted;                                                                                                       \
    }                                                                                                                  \
  } while (0)

/// Check whose condition text is the expression as written.
#define KALDEN_CHECK(cond) KALDEN_DETAIL_CHECK(cond, #cond, (void)0)

/// Check of a whole structure, whose cost grows with it: made only in builds without NDEBUG (Debug),
/// so that no call of a Release build pays for it; tests make such checks themselves.
#ifdef NDEBUG
#define KALDEN_AUDIT(cond) ((void)0)
#else
#define KALDEN_AUDIT(cond) KALDEN_CHECK(cond)
#endif

/// Check with a message; `msg` is a chain of stream insertions.
#define KALDEN_CHECK_MSG(cond, msg) KALDEN_DETAIL_CHECK_MSG(cond, #cond, msg, (void)0)

/// Check whose reported condition text differs from the expression's spelling.
#define KALDEN_CHECK_TEXT(cond, text) KALDEN_DETAIL_CHECK(cond, text, (void)0)

/// Check with an explicit condition text and a message.
#define KALDEN_CHECK_TEXT_MSG(cond, text, msg) KALDEN_DETAIL_CHECK_MSG(cond, text, msg, (void)0)

// The _OR_RETURN forms check and, when the failure was only printed, return from the enclosing
// function: with the value given after the check's own arguments, or with none.

/// KALDEN_CHECK, then return on a printed failure.
#define KALDEN_CHECK_OR_RETURN(cond, ...) KALDEN_DETAIL_CHECK(cond, #cond, return __VA_ARGS__)

/// KALDEN_CHECK_MSG, then return on a printed failure.
#define KALDEN_CHECK_MSG_OR_RETURN(cond, msg, ...) KALDEN_DETAIL_CHECK_MSG(cond, #cond, msg, return __VA_ARGS__)

/// KALDEN_CHECK_TEXT, then return on a printed failure.
#define KALDEN_CHECK_TEXT_OR_RETURN(cond, text, ...) KALDEN_DETAIL_CHECK(cond, text, return __VA_ARGS__)

/// KALDEN_CHECK_TEXT_MSG, then return on a printed failure.
#define KALDEN_CHECK_TEXT_MSG_OR_RETURN(cond, text, msg, ...)                                                          \
  KALDEN_DETAIL_CHECK_MSG(cond, text, msg, return __VA_ARGS__)

/// A path that must never be reached ("ALWAYS_FAILS"), unless g_alwaysFails() lets it pass.
#define KALDEN_ALWAYS_FAIL() KALDEN_DETAIL_CHECK(::KALDEN::g_alwaysFails(), ::KALDEN::ALWAYS_FAILS_CONDITION, (void)0)

/// A path that must never be reached, with a message.
#define KALDEN_ALWAYS_FAIL_MSG(msg)                                                                                    \
  KALDEN_DETAIL_CHECK_MSG(::KALDEN::g_alwaysFails(), ::KALDEN::ALWAYS_FAILS_CONDITION, msg, (void)0)

/// A condition worth telling that is not a failure.
#define KALDEN_WARNING(msg)                                                                                            \
  do {                                                                                                                 \
    std::ostringstream sl_kaldenMsg;                                                                                   \
    sl_kaldenMsg << msg;                                                                                               \
    ::KALDEN::Error::printWarning(sl_kaldenMsg.str(), KALDEN_SOURCE, __LINE__);                                        \
  } while (0)

/// Trace point: writes "[marker]text" and a flushing end of line while the marker is enabled.
#define KALDEN_TRACE(marker, text)                                                                                     \
  do {                                                                                                                 \
    static ::std::atomic<const bool*> sl_kaldenTraceSwitch{&::KALDEN::TRACE_POINT_UNREGISTERED};                       \
    if (*sl_kaldenTraceSwitch.load(::std::memory_order_acquire))                                                       \
      ::KALDEN::traceOutOfLine(                                                                                        \
          sl_kaldenTraceSwitch, marker, [&](std::ostream& sl_kaldenOs) { sl_kaldenOs << text; }, KALDEN_SOURCE,        \
          __LINE__);                                                                                                   \
  } while (0)

#endif
