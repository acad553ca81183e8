#ifndef KALDEN_UTILS_LABELSTR_HH
#define KALDEN_UTILS_LABELSTR_HH

#include <cstddef>
#include <iosfwd>
#include <string>

namespace KALDEN {

/**
 * An interned string held as one double key. Each text is stored once for the
 * whole process; equal texts have equal keys, and text references stay valid
 * until the process ends. Keys are integral, consecutive and drawn from a
 * range far above any object address, so a label key is never mistaken for
 * an entity address carried in a double.
 */
class LabelStr {
public:
  /// The label of the empty text.
  LabelStr();
  /// Interns a zero-terminated text.
  LabelStr(const char* text);
  /// Interns a string.
  LabelStr(const std::string& text);
  /// The label of an existing key; an unknown key fails a check.
  explicit LabelStr(double key);

  /// The key (equal texts, equal keys).
  double getKey() const { return m_key; }
  /// The key, for use as a domain value.
  operator double() const { return m_key; }

  /// The interned text.
  const std::string& toString() const;
  /// The interned text, zero-terminated.
  const char* c_str() const { return toString().c_str(); }

  bool operator==(const LabelStr& other) const { return m_key == other.m_key; }
  bool operator!=(const LabelStr& other) const { return m_key != other.m_key; }
  /// Orders by key, that is by order of first interning.
  bool operator<(const LabelStr& other) const { return m_key < other.m_key; }

  /// Whether a double is the key of some label.
  static bool isString(double key);

  /// Number of interned texts.
  static std::size_t getSize();

private:
  double m_key;
};

/// Writes the label's text.
std::ostream& operator<<(std::ostream& os, const LabelStr& label);

} // namespace KALDEN

#endif
