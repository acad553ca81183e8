#include "Utils/DebugMessage.hh"

#include "Utils/Error.hh"

#include <iostream>
#include <memory>
#include <sstream>
#include <utility>
#include <vector>

namespace KALDEN {

namespace {

struct DebugRegistry {
  std::vector<std::unique_ptr<DebugMessage> > messages;
  // Switching rules in the order given; the last rule matching a marker decides.
  std::vector<std::pair<std::string, bool> > rules;
};

DebugRegistry& registry() {
  static DebugRegistry* sl_registry = new DebugRegistry; // trace points keep pointers for the whole process
  return *sl_registry;
}

} // namespace

DebugMessage::DebugMessage(const std::string& file, int line, const std::string& marker)
    : m_file(file), m_line(line), m_marker(marker), m_enabled(false) {
  for (const auto& rule : registry().rules)
    if (matches(marker, rule.first))
      m_enabled = rule.second;
}

bool DebugMessage::matches(const std::string& marker, const std::string& pattern) {
  return marker.compare(0, pattern.size(), pattern) == 0;
}

DebugMessage* DebugMessage::addMsg(const std::string& file, const int& line, const std::string& marker) {
  DebugRegistry& r = registry();
  r.messages.emplace_back(new DebugMessage(file, line, marker));
  return r.messages.back().get();
}

std::ostream*& DebugMessage::streamPtr() {
  static std::ostream* s_debugStream = &std::cerr;
  return s_debugStream;
}

void DebugMessage::enable(const std::string& pattern) { apply(pattern, true); }

void DebugMessage::disable(const std::string& pattern) { apply(pattern, false); }

void DebugMessage::apply(const std::string& pattern, bool enabled) {
  DebugRegistry& r = registry();
  r.rules.emplace_back(pattern, enabled);
  for (auto& msg : r.messages)
    if (matches(msg->m_marker, pattern))
      msg->m_enabled = enabled;
}

void DebugMessage::reportStreamFailure(const std::ios_base::failure& failure, const char* file, int line) {
  raiseFailedCheck(ALWAYS_FAIL_CONDITION, file, line, failure.what());
}

std::size_t DebugMessage::messageCount() { return registry().messages.size(); }

} // namespace KALDEN
