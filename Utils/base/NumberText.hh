#ifndef KALDEN_UTILS_BASE_NUMBERTEXT_HH
#define KALDEN_UTILS_BASE_NUMBERTEXT_HH

#include <string>

namespace KALDEN {

/**
 * Strict readers of number texts, shared by the data types and the numeric
 * domains. A text is read only when all of it, apart from surrounding blanks,
 * is one number within range; otherwise the reader answers false and leaves
 * `value` alone (so "abc" is never 0 and an overflow is never silent).
 */

/// Reads a real: "-inf"/"-inff" and "inf"/"+inf"/"inff"/"+inff" are the infinities, else a finite number.
bool readRealText(const std::string& text, double& value);

/// Reads an integer: "-inf" and "inf"/"+inf" are the infinities, else a decimal int ("3.9" is refused).
bool readIntegerText(const std::string& text, double& value);

} // namespace KALDEN

#endif
