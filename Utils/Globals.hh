#ifndef KALDEN_UTILS_GLOBALS_HH
#define KALDEN_UTILS_GLOBALS_HH

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
int truncateToInt(double value);

/// Text of a number: integral values without exponent, others with up to 15 significant digits.
std::string toString(double value);

} // namespace KALDEN

#endif
