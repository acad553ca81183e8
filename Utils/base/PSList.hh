#ifndef KALDEN_UTILS_BASE_PSLIST_HH
#define KALDEN_UTILS_BASE_PSLIST_HH

#include "Utils/base/Report.hh"

#include <vector>

#pragma push_macro("KALDEN_SOURCE")
#undef KALDEN_SOURCE
#define KALDEN_SOURCE "Utils/base/PSList"

namespace KALDEN {

/**
 * The list type of the public interface: filled by the system, read by index,
 * returned by value. Pointer elements are not owned.
 */
template <class T>
class PSList {
public:
  PSList() = default;

  /// Appends a copy at the end.
  void push_back(const T& value) { m_elements.push_back(value); }

  /// Number of elements.
  int size() const { return static_cast<int>(m_elements.size()); }

  /// Element i (0-based); an index outside the list fails a check.
  T& get(int i) {
    KALDEN_CHECK_MSG(i >= 0 && i < size(), "Index " << i << " is outside a list of " << size() << " elements.");
    return m_elements[static_cast<std::size_t>(i)];
  }

  /// Element i (0-based), read-only.
  const T& get(int i) const {
    KALDEN_CHECK_MSG(i >= 0 && i < size(), "Index " << i << " is outside a list of " << size() << " elements.");
    return m_elements[static_cast<std::size_t>(i)];
  }

private:
  std::vector<T> m_elements;
};

} // namespace KALDEN

#pragma pop_macro("KALDEN_SOURCE")

#endif
