#include "Utils/Error.hh"

#include <iostream>
#include <exception>
#include <memory>
#include <sstream>

namespace KALDEN {

const char ALWAYS_FAILS_CONDITION[] = "ALWAYS_FAILS";
const char ALWAYS_FAIL_CONDITION[] = "ALWAYS_FAIL";
const char INVALID_ID_LABEL[] = "IdMgrInvalidItemPtrError";

Error::Error(const std::string& condition, const std::string& file, const int& line)
    : m_condition(condition), m_file(file), m_line(line) {
  compose();
}

Error::Error(const std::string& condition, const std::string& msg, const std::string& file, const int& line)
    : m_condition(condition), m_msg(msg), m_file(file), m_line(line) {
  compose();
}

Error::Error(const std::string& condition, const std::string& msg, const std::string& label, const std::string& file,
             const int& line)
    : m_condition(condition), m_msg(msg), m_label(label), m_file(file), m_line(line) {
  compose();
}

void Error::compose() {
  std::ostringstream os;
  os << m_file << ":" << m_line << ": failed check '" << m_condition << "'";
  if (!m_label.empty())
    os << " [" << m_label << "]";
  if (!m_msg.empty())
    os << ": " << m_msg;
  m_text = os.str();
}

void Error::print(std::ostream& os) const { os << m_text; }

unsigned long& Error::suppressedCount() {
  static unsigned long sl_count = 0;
  return sl_count;
}

void Error::handleAssert() {
  std::unique_ptr<Error> self(this);
  // Throwing from the engine's own destructors would end the process. Elsewhere, also while
  // another error unwinds, the check throws: printing would let the code after it go on.
  if (NoThrowScope::insideDestructor()) {
    ++suppressedCount();
    std::cerr << m_text << std::endl;
    return;
  }
  throw Error(*self);
}

void Error::printWarning(const std::string& msg, const std::string& file, const int& line) {
  std::cerr << file << ":" << line << ": warning: " << msg << std::endl;
}

void raiseFailedCheck(const char* condition, const char* file, int line, const char* msg, const char* label) {
  (new Error(condition, msg != nullptr ? msg : "", label != nullptr ? label : "", file, line))->handleAssert();
}

NoThrowScope::State NoThrowScope::s_state{0, 0};

bool NoThrowScope::mustPrint() { return insideDestructor() || std::uncaught_exceptions() > 0; }

} // namespace KALDEN
