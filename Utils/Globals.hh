#ifndef KALDEN_UTILS_GLOBALS_HH
#define KALDEN_UTILS_GLOBALS_HH

#include <string>

namespace KALDEN {

/// Default comparison tolerance of real-valued domains.
double& g_epsilon();

/// The integer that stands for infinity in every numeric domain.
int& g_infiniteTime();

/// The largest int; integer intervals within it count as finite.
int& g_maxInt();

/// While true, unconditional failures ("ALWAYS_FAILS") are not raised.
bool& g_alwaysFails();

/// The number truncated toward zero to an int, saturating at the int limits; NaN gives 0.
int truncateToInt(double value);

/// Text of a number: integral values without exponent, others with up to 15 significant digits.
std::string toString(double value);

} // namespace KALDEN

#endif
