#ifndef KALDEN_TEST_SUPPORT_SOUNDNESSHARNESS_HH
#define KALDEN_TEST_SUPPORT_SOUNDNESSHARNESS_HH

#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "Utils/base/Id.hh"
#include "support/Decimal.hh"

#include <functional>
#include <string>
#include <vector>

namespace KALDEN {

/**
 * Checks a value constraint against brute force. Each case draws a scope of
 * small domains (integer intervals, enumerations of numbers, booleans, and real
 * intervals and enumerations on a grid), lists every assignment of grid values
 * that satisfies the constraint's meaning, creates the constraint in a fresh
 * engine and propagates. Narrowing less than it could is fine, though a
 * subject may ask that a consistent answer deciding every position satisfy
 * the meaning. Every failure names its seed, the drawn domains and what
 * propagation left, so a case can be replayed alone with runCase().
 * KALDEN_SOUNDNESS_SCALE=n in the environment runs n times as many cases in
 * every check().
 *
 * A subject with a meaning in doubles draws reals on quarter values, which
 * binary holds exactly: while a solution exists the engine must stay
 * consistent and keep every value that appears in one.
 *
 * A subject with a decimal meaning also draws reals as users write them, on
 * tenths and a hair beside integers (k +- 1e-9, 1e-7, 3e-6, and 1.5e-5 just
 * beyond the tolerance), and judges them in exact decimal arithmetic. The
 * engine reads reals within its tolerance (closer than 1e-5 is equal, at
 * least that apart differs), so where hair values make that reading differ
 * from the exact one it may side with either (a real 2 + 1e-9 beside the
 * integer 2 may count as equal). It is held to what both readings agree on:
 * it keeps every value (an enumeration member, an integer, a real interval's
 * point within the tolerance of its ends) of every assignment that satisfies
 * the meaning under both readings, and it does not answer false while each
 * reading has a solution of its own. On tenths and quarters the two readings
 * coincide (the values differ by far more than the tolerance), so there every
 * exact solution counts. A decided consistent answer must satisfy the meaning
 * exactly; among hair values it is not judged, as the engine's tolerance also
 * acts on the bounds it computes (a quotient, a root).
 *
 * Such a subject also draws, on any grid, real intervals narrower than the
 * tolerance (a billionth, 3e-6 or 9e-6 wide): more than one value, though
 * every value lies within the tolerance of both ends. Their two ends stand
 * for what they hold, and are hair values to each other.
 *
 * A position may draw an open enumeration, often holding one value or none
 * (it is decided by nothing it holds so far). The case then
 * propagates twice: with it open, when the engine is held to the values it
 * holds so far (it may still gain others, so that narrowing is all the
 * engine may do), and again once every open domain is closed.
 *
 * Where a position asks for it, reals on tenths are now and then held as a
 * sum computes them (0.3 as 0.2 + 0.1, a hair above), so that sums and
 * differences the user reads as zero come out a hair beside it, on either side.
 *
 * Any case fails on a failed check or other exception, and on a propagation
 * that does not end (cut off after a hundred thousand executions).
 */
class SoundnessHarness {
public:
  /// How the domain of one scope position is drawn.
  struct Position {
    int lo = -4;              ///< least value a domain may hold
    int hi = 4;               ///< greatest value a domain may hold
    bool intervals = true;    ///< whether an integer interval may be drawn
    bool enumerations = true; ///< whether an enumeration may be drawn
    bool booleans = false;    ///< whether a boolean domain may be drawn (lo and hi must span 0..1)
    bool reals = true;        ///< whether an interval or enumeration drawn may be real, on the case's grid
    bool open = false;        ///< whether an integer enumeration drawn may be left open until the case closes it
    bool sums = false;        ///< whether a real drawn on tenths may be held as a sum computes it
  };

  /// Whether a full assignment, one value per scope position, satisfies the constraint.
  typedef std::function<bool(const std::vector<double>&)> Meaning;
  /// As Meaning, over decimals: exact, or within the tolerance where the values are marked so.
  typedef std::function<bool(const std::vector<Decimal>&)> DecimalMeaning;
  /// As Meaning, for a relation that also depends on the drawn domains (their values, one list per position).
  typedef std::function<bool(const std::vector<double>&, const std::vector<std::vector<double> >&)> MeaningInDomains;
  /// Creates the constraint over the scope, with propagator "Default"; the engine owns it afterwards.
  typedef std::function<void(const Id<ConstraintEngine>&, const std::vector<Id<ConstrainedVariable> >&)> Builder;
  /// The drawing rule of a position, given the scope size.
  typedef std::function<Position(unsigned int position, unsigned int arity)> Layout;

  /// The constraint under test.
  struct Subject {
    std::string name;          ///< printed in failures
    unsigned int minArity = 2; ///< least scope size drawn
    unsigned int maxArity = 2; ///< greatest scope size drawn
    Meaning meaning;
    MeaningInDomains meaningInDomains; ///< used instead of meaning when set
    DecimalMeaning decimalMeaning;     ///< used instead of both when set; reals then drawn on every grid
    Builder build;
    Layout layout; ///< default: every position -4..4, intervals and enumerations
    /// Whether a consistent answer that decides every position must also satisfy the meaning.
    bool decidedChecked = false;
  };

  /// A builder that creates the constraint by its registered name, in a schema holding the
  /// built-in number types and every name as the library module registers it.
  static Builder byLibraryName(const std::string& name);

  /// Runs `count` cases, seeds firstSeed, firstSeed + 1, ...; adds a test failure per unsound case.
  static void check(const Subject& subject, unsigned int count, unsigned int firstSeed = 1);
  /// Runs the case of one seed; the text of its failure, or empty when propagation was sound.
  static std::string runCase(const Subject& subject, unsigned int seed);
};

} // namespace KALDEN

#endif
