#include "Utils/DebugMessage.hh"
#include "Utils/Globals.hh"

#define KALDEN_SOURCE "test/Utils/ReportTest"
#include "Utils/base/Report.hh"

#include "support/Failure.hh"

#include <gtest/gtest.h>

#include <sstream>
#include <streambuf>

namespace KALDEN {
namespace {

// Redirects the shared debug stream for the life of the object.
class CapturedTraces {
public:
  CapturedTraces() : m_previous(DebugMessage::streamPtr()) { DebugMessage::streamPtr() = &m_out; }
  ~CapturedTraces() { DebugMessage::streamPtr() = m_previous; }
  std::string text() const { return m_out.str(); }
  std::ostringstream& stream() { return m_out; }

private:
  std::ostream* m_previous;
  std::ostringstream m_out;
};

TEST(ReportTest, CheckShapes) {
  int x = 3;
  Error plain = failureOf([&] { KALDEN_CHECK(x == 4); });
  EXPECT_EQ(plain.getCondition(), "x == 4");
  EXPECT_TRUE(plain.getMessage().empty());
  EXPECT_TRUE(plain.getLabel().empty());
  EXPECT_EQ(plain.getFile(), "test/Utils/ReportTest");
  EXPECT_GT(plain.getLine(), 0);

  Error withMsg = failureOf([&] { KALDEN_CHECK_MSG(x > 5, "x is " << x << ", want more than " << 5.5); });
  EXPECT_EQ(withMsg.getCondition(), "x > 5");
  EXPECT_EQ(withMsg.getMessage(), "x is 3, want more than 5.5");

  Error quoted = failureOf([&] { KALDEN_CHECK_TEXT_MSG(x < 0, "leq(m_ub,PLUS_INFINITY)", "bad"); });
  EXPECT_EQ(quoted.getCondition(), "leq(m_ub,PLUS_INFINITY)");
  EXPECT_EQ(quoted.getMessage(), "bad");

  EXPECT_NO_THROW(KALDEN_CHECK(x == 3));
  std::string what = withMsg.what();
  EXPECT_NE(what.find("x > 5"), std::string::npos);
  EXPECT_NE(what.find("x is 3"), std::string::npos);
}

TEST(ReportTest, UnconditionalFailureObeysTheFlag) {
  Error e = failureOf([] { KALDEN_ALWAYS_FAIL_MSG("never here"); });
  EXPECT_EQ(e.getCondition(), "ALWAYS_FAILS");
  EXPECT_EQ(e.getMessage(), "never here");
  g_alwaysFails() = true;
  EXPECT_NO_THROW(KALDEN_ALWAYS_FAIL());
  g_alwaysFails() = false;
  EXPECT_THROW(KALDEN_ALWAYS_FAIL(), Error);
}

struct FailsWhenDestroyed {
  ~FailsWhenDestroyed() {
    NoThrowScope guard;
    KALDEN_CHECK_MSG(false, "reported from a destructor");
    reachedEnd = true;
  }
  static bool reachedEnd;
};
bool FailsWhenDestroyed::reachedEnd = false;

TEST(ReportTest, FailureInsideADestructorIsPrintedNotThrown) {
  unsigned long before = Error::suppressedCount();
  testing::internal::CaptureStderr();
  { FailsWhenDestroyed f; }
  std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(FailsWhenDestroyed::reachedEnd);
  EXPECT_EQ(Error::suppressedCount(), before + 1);
  EXPECT_NE(printed.find("reported from a destructor"), std::string::npos);
  EXPECT_FALSE(NoThrowScope::active());
  EXPECT_THROW(KALDEN_CHECK(false), Error) << "outside the scope checks throw again";
}

// Each _OR_RETURN form: -1 when its check failed and was only printed, 1 when it passed.
int checkOrReturn(int form, bool holds) {
  switch (form) {
  case 0:
    KALDEN_CHECK_OR_RETURN(holds, -1);
    break;
  case 1:
    KALDEN_CHECK_MSG_OR_RETURN(holds, "form " << form, -1);
    break;
  case 2:
    KALDEN_CHECK_TEXT_OR_RETURN(holds, "spelled otherwise", -1);
    break;
  default:
    KALDEN_CHECK_TEXT_MSG_OR_RETURN(holds, "spelled otherwise", "form " << form, -1);
    break;
  }
  return 1;
}

TEST(ReportTest, CheckOrReturnRaisesLikeItsCheckAndReturnsOnlyWhenPrinted) {
  for (int form = 0; form < 4; ++form) {
    SCOPED_TRACE(form);
    EXPECT_EQ(checkOrReturn(form, true), 1);
    Error e = failureOf([&] { checkOrReturn(form, false); });
    EXPECT_EQ(e.getCondition(), form < 2 ? "holds" : "spelled otherwise");
    EXPECT_EQ(e.getMessage(), form % 2 == 1 ? "form " + std::to_string(form) : "");
    EXPECT_EQ(e.getFile(), "test/Utils/ReportTest");

    const unsigned long before = Error::suppressedCount();
    testing::internal::CaptureStderr();
    int answer = 0;
    {
      NoThrowScope guard;
      answer = checkOrReturn(form, false);
    }
    std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(answer, -1);
    EXPECT_EQ(Error::suppressedCount(), before + 1);
    EXPECT_NE(printed.find(form < 2 ? "holds" : "spelled otherwise"), std::string::npos);
  }
}

TEST(ReportTest, UnconditionalFailureWithoutMessage) {
  Error e = failureOf([] { KALDEN_ALWAYS_FAIL(); });
  EXPECT_EQ(e.getCondition(), "ALWAYS_FAILS");
  EXPECT_TRUE(e.getMessage().empty());
  EXPECT_TRUE(e.getLabel().empty());
  EXPECT_EQ(e.getFile(), "test/Utils/ReportTest");
}

TEST(ReportTest, WarningRaisesNothing) {
  testing::internal::CaptureStderr();
  EXPECT_NO_THROW(KALDEN_WARNING("careful: " << 2));
  std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_NE(printed.find("careful: 2"), std::string::npos);
}

void traceOnce(int n) { KALDEN_TRACE("ReportTest:trace", "value " << n); }

TEST(ReportTest, TraceFormatAndSwitching) {
  CapturedTraces out;
  traceOnce(1); // disabled: nothing written
  std::size_t registered = DebugMessage::messageCount();
  traceOnce(2);
  EXPECT_EQ(DebugMessage::messageCount(), registered) << "a trace point registers once";
  EXPECT_EQ(out.text(), "");

  DebugMessage::enable("ReportTest:");
  traceOnce(3);
  EXPECT_EQ(out.text(), "[ReportTest:trace]value 3\n");

  DebugMessage::disable("ReportTest:trace");
  traceOnce(4);
  EXPECT_EQ(out.text(), "[ReportTest:trace]value 3\n");
  // Later trace points register disabled again, as they would have without this test.
  DebugMessage::disable("ReportTest:");
}

// Two trace points in one function, and the same point in two instantiations of a template.
void tracePair(int n) {
  KALDEN_TRACE("ReportTest:pairA", "a " << n);
  KALDEN_TRACE("ReportTest:pairB", "b " << n);
}
template <class T>
void traceTemplated(T n) {
  KALDEN_TRACE("ReportTest:templated", "t " << n);
}

TEST(ReportTest, EachTracePointRegistersOnceAndSwitchesAlone) {
  CapturedTraces out;
  // The points register once per process: run again (--gtest_repeat), the test finds them
  // registered and checks that none registers twice.
  static bool sl_registered = false;
  const std::size_t fresh = sl_registered ? 0 : 1;
  sl_registered = true;
  std::size_t before = DebugMessage::messageCount();
  tracePair(1);
  EXPECT_EQ(DebugMessage::messageCount(), before + 2 * fresh) << "each point registers on its first execution";
  traceTemplated(1);
  traceTemplated(1.5);
  EXPECT_EQ(DebugMessage::messageCount(), before + 4 * fresh) << "each instantiation has its own point";
  tracePair(2);
  traceTemplated(2);
  EXPECT_EQ(DebugMessage::messageCount(), before + 4 * fresh);
  EXPECT_EQ(out.text(), "");

  DebugMessage::enable("ReportTest:pairB");
  DebugMessage::enable("ReportTest:templated");
  tracePair(3);
  traceTemplated(3);
  traceTemplated(3.5);
  DebugMessage::disable("ReportTest:pairB");
  tracePair(4);
  EXPECT_EQ(out.text(), "[ReportTest:pairB]b 3\n[ReportTest:templated]t 3\n[ReportTest:templated]t 3.5\n");
  DebugMessage::disable("ReportTest:templated");
}

int composed = 0;
int countComposition() { return ++composed; }

TEST(ReportTest, DisabledTraceComposesNoText) {
  DebugMessage::disable("ReportTest:costly");
  for (int i = 0; i < 3; ++i)
    KALDEN_TRACE("ReportTest:costly", countComposition());
  EXPECT_EQ(composed, 0);
}

TEST(ReportTest, LaterMessagesFollowEarlierSwitches) {
  CapturedTraces out;
  DebugMessage::enableAll();
  DebugMessage::disable("ReportTest:quiet");
  KALDEN_TRACE("ReportTest:quiet", "hidden");
  KALDEN_TRACE("ReportTest:loud", "shown");
  DebugMessage::disableAll();
  KALDEN_TRACE("ReportTest:loud2", "hidden");
  EXPECT_EQ(out.text(), "[ReportTest:loud]shown\n");
}

// A stream buffer whose every write fails.
class BrokenBuffer : public std::streambuf {
protected:
  int_type overflow(int_type) override { return traits_type::eof(); }
  std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

TEST(ReportTest, StreamFailureWhileTracingIsReported) {
  BrokenBuffer broken;
  std::ostream bad(&broken);
  std::ostream* previous = DebugMessage::streamPtr();
  DebugMessage::streamPtr() = &bad;
  DebugMessage::enable("ReportTest:broken");
  Error e = failureOf([] { KALDEN_TRACE("ReportTest:broken", "lost"); });
  DebugMessage::streamPtr() = previous;
  DebugMessage::disable("ReportTest:broken");
  EXPECT_EQ(e.getCondition(), "ALWAYS_FAIL");
  EXPECT_FALSE(e.getMessage().empty());
  EXPECT_EQ(e.getFile(), "test/Utils/ReportTest");
}

} // namespace
} // namespace KALDEN

namespace KALDEN {
namespace {

// A destructor that traces, as variables and constraints do.
struct TracingOnDestruction {
  ~TracingOnDestruction() {
    NoThrowScope guard;
    KALDEN_TRACE("ReportTest:destructor", "going");
  }
};

TEST(ReportTest, StreamFailureWhileADestructorTracesIsPrintedOnly) {
  BrokenBuffer broken;
  std::ostream bad(&broken);
  std::ostream* previous = DebugMessage::streamPtr();
  DebugMessage::streamPtr() = &bad;
  DebugMessage::enable("ReportTest:destructor");
  const unsigned long reported = Error::suppressedCount();
  { TracingOnDestruction going; }
  DebugMessage::streamPtr() = previous;
  DebugMessage::disable("ReportTest:destructor");
  EXPECT_EQ(Error::suppressedCount(), reported + 1);
}

} // namespace
} // namespace KALDEN
