#include "Utils/base/NumberText.hh"

#include "ConstraintEngine/base/AbstractDomain.hh"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace KALDEN {

namespace {

// Whether the reader stopped at a place after which the text holds only blanks (a zero byte
// inside the text is not a blank, so the text cannot hide rubbish behind it).
bool restIsBlank(const std::string& text, const char* begin, const char* end) {
  if (end == begin)
    return false; // nothing was read
  std::size_t pos = static_cast<std::size_t>(end - begin);
  while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos])))
    ++pos;
  return pos == text.size();
}

} // namespace

bool readRealText(const std::string& text, double& value) {
  if (text == "-inf" || text == "-inff") {
    value = MINUS_INFINITY;
    return true;
  }
  if (text == "inf" || text == "+inf" || text == "inff" || text == "+inff") {
    value = PLUS_INFINITY;
    return true;
  }
  // Hexadecimal is no number text here, though the reader below would take it.
  if (text.find_first_of("xX") != std::string::npos)
    return false;
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  const double parsed = std::strtod(begin, &end);
  if (!restIsBlank(text, begin, end))
    return false;
  // Overflow gives an infinity and underflow may give a zero; "nan" and "infinity" are no
  // numbers here either, and nothing lies beyond the domains' infinities.
  if (!std::isfinite(parsed) || (errno == ERANGE && parsed == 0.0) || parsed < MINUS_INFINITY || parsed > PLUS_INFINITY)
    return false;
  value = parsed;
  return true;
}

bool readIntegerText(const std::string& text, double& value) {
  if (text == "-inf") {
    value = MINUS_INFINITY;
    return true;
  }
  if (text == "+inf" || text == "inf") {
    value = PLUS_INFINITY;
    return true;
  }
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(begin, &end, 10);
  if (!restIsBlank(text, begin, end))
    return false;
  if (errno == ERANGE || parsed < MINUS_INFINITY || parsed > PLUS_INFINITY)
    return false;
  value = static_cast<double>(parsed);
  return true;
}

} // namespace KALDEN
