#include "Utils/LabelStr.hh"

#include "Utils/Error.hh"

#include <cmath>
#include <deque>
#include <ostream>
#include <sstream>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace KALDEN {

namespace {

// 2^50: above every user-space address, and keys stay exact doubles up to 2^53.
const double FIRST_KEY = 1125899906842624.0;

struct LabelTable {
  std::deque<std::string> texts;                     // stable storage, index = key - FIRST_KEY
  std::unordered_map<std::string_view, double> keys; // views into texts
};

LabelTable& labels() {
  static LabelTable* sl_table = new LabelTable; // never destroyed: labels outlive static objects
  return *sl_table;
}

double intern(std::string_view text) {
  LabelTable& t = labels();
  auto it = t.keys.find(text);
  if (it != t.keys.end())
    return it->second;
  double key = FIRST_KEY + static_cast<double>(t.texts.size());
  t.texts.emplace_back(text);
  t.keys.emplace(std::string_view(t.texts.back()), key);
  return key;
}

} // namespace

LabelStr::LabelStr() : m_key(intern(std::string_view())) {}

LabelStr::LabelStr(const char* text) : m_key(intern(text == nullptr ? std::string_view() : std::string_view(text))) {}

LabelStr::LabelStr(const std::string& text) : m_key(intern(text)) {}

LabelStr::LabelStr(double key) : m_key(key) {
  if (!isString(key)) {
    std::ostringstream os;
    os << "No label has the key " << key << ".";
    raiseFailedCheck("LabelStr::isString(key)", "Utils/LabelStr", __LINE__, os.str().c_str());
    m_key = intern(std::string_view()); // reached only where failures are printed, not thrown
  }
}

const std::string& LabelStr::toString() const {
  LabelTable& t = labels();
  return t.texts[static_cast<std::size_t>(m_key - FIRST_KEY)];
}

bool LabelStr::isString(double key) {
  if (!(key >= FIRST_KEY))
    return false;
  double index = key - FIRST_KEY;
  return index < static_cast<double>(labels().texts.size()) && index == std::floor(index);
}

std::size_t LabelStr::getSize() { return labels().texts.size(); }

std::ostream& operator<<(std::ostream& os, const LabelStr& label) { return os << label.toString(); }

} // namespace KALDEN
