#ifndef KALDEN_UTILS_GLOBALS_HH
#define KALDEN_UTILS_GLOBALS_HH

#include <cmath>
#include <limits>
#include <string>

namespace KALDEN {

// The settings below are variables of the utility layer reached through accessors. Each
// accessor always answers the same address, and is declared so: a caller may then ask for the
// address once and still read the value afresh, through it, at each use.

/// Default comparison tolerance of real-valued domains.
[[gnu::const]] double& g_epsilon();

/// The integer that stands for infinity in every numeric domain.
[[gnu::const]] int& g_infiniteTime();

/// The largest int; integer intervals within it count as finite.
[[gnu::const]] int& g_maxInt();

/// While true, unconditional failures ("ALWAYS_FAILS") are not raised.
bool& g_alwaysFails();

/// The number truncated toward zero to an int, saturating at the int limits; NaN gives 0.
/// Inline: the domains call it on every bound they test or round.
inline int truncateToInt(double value) {
  // A plain cast of a double outside the int range is undefined behaviour.
  if (std::isnan(value))
    return 0;
  if (value >= static_cast<double>(std::numeric_limits<int>::max()))
    return std::numeric_limits<int>::max();
  if (value <= static_cast<double>(std::numeric_limits<int>::min()))
    return std::numeric_limits<int>::min();
  return static_cast<int>(value);
}

/// Text of a number: integral values without exponent, others with up to 15 significant digits.
std::string toString(double value);

} // namespace KALDEN

#endif
