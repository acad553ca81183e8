#ifndef KALDEN_TEST_SUPPORT_LISTENERDRAWS_HH
#define KALDEN_TEST_SUPPORT_LISTENERDRAWS_HH

#include "support/OperationSequence.hh"

#include <random>
#include <string>

namespace KALDEN {

class OperationSession;

/**
 * The draws a session adds for the deleting listener and for refused calls,
 * from a generator of their own: the rest of a seed's session is drawn as
 * before, with now and then a refused call between its operations and a
 * listener armed on some of them.
 */
class ListenerDraws {
public:
  /// Draws seeded from the session's seed.
  explicit ListenerDraws(unsigned int seed) : m_rng(seed * 2654435761u + 97u) {}

  /// Now and then a call the engine must refuse; false when none is drawn this time.
  bool refusal(const OperationSession& session, OperationSequence::Operation& op);
  /// Arms the deleting listener on some operations.
  void armListener(OperationSequence::Operation& op);

  /// The refused call as one line, e.g. "v2.specify(7.5) (refused)".
  static std::string describe(const OperationSequence::Operation& op);
  /// The upper end of a refused call's real interval that starts at `from`: beyond it by the
  /// width the call drew (narrower than the tolerance), or `from` itself.
  static double narrowEnd(const OperationSequence::Operation& op, double from);

private:
  int between(int lo, int hi) { return lo + static_cast<int>(m_rng() % static_cast<unsigned int>(hi - lo + 1)); }

  std::mt19937 m_rng;
};

} // namespace KALDEN

#endif
