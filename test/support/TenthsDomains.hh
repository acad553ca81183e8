#ifndef KALDEN_TEST_SUPPORT_TENTHSDOMAINS_HH
#define KALDEN_TEST_SUPPORT_TENTHSDOMAINS_HH

#include "ConstraintEngine/base/AbstractDomain.hh"

#include <memory>
#include <string>
#include <vector>

namespace KALDEN {

/**
 * Real domains on the tenths grid, as users write them, for the operation
 * sequences: a real interval whose bounds lie a few tenths beyond its
 * integers, or a real enumeration of integers with a few tenths among them.
 * The session's model knows the integers alone, so brute force holds the
 * engine to the integer solutions while its bounds arithmetic meets tenths,
 * none of which binary holds exactly. A variable's tenths travel in the data
 * of its creation: for an interval, how many tenths each bound lies beyond
 * (1..9); for an enumeration, its other members counted in tenths. Its values
 * may be held as a sum of tenths computes them (1 as ten times 0.1, a hair
 * below), beside the same values written in other variables.
 *
 * A real interval may also be narrower than the tolerance: its data are then
 * three, an integer and its two ends' offsets from it in ten-millionths
 * ({2, -100, -99} is [1.99999, 1.9999901]). The model takes it to hold that
 * integer when it lies between its ends, and else no integer: one within the
 * tolerance of an end is a value the engine may keep, but not a solution, as
 * sums and products of such values leave the tolerance.
 */
class TenthsDomains {
public:
  TenthsDomains() = delete;

  /// The engine domain of a drawn variable (see DrawnDomain::make), with its tenths when it has
  /// any; `sums` holds each value as the sum of its tenths, 0.1 added one at a time.
  static std::unique_ptr<AbstractDomain> make(int kind, const std::vector<int>& values, const std::vector<int>& tenths,
                                              bool sums = false);
  /// The domain as a client writes it, e.g. "[-1.3, 2.5]" or "{-2, 0.4, 1}" ("sums {...}" with `sums`).
  static std::string text(int kind, const std::vector<int>& values, const std::vector<int>& tenths, bool sums = false);
  /// Whether the data of a real variable draw an interval narrower than the tolerance.
  static bool isNarrow(int kind, const std::vector<int>& tenths);
  /// The narrow interval's drawn bounds: its integer twice when it holds it, else an empty range.
  static std::vector<int> narrowBounds(const std::vector<int>& narrow);
  /// The narrow interval as an engine domain.
  static std::unique_ptr<AbstractDomain> narrowInterval(const std::vector<int>& narrow);
};

} // namespace KALDEN

#endif
