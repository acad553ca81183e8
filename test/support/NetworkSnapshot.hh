#ifndef KALDEN_TEST_SUPPORT_NETWORKSNAPSHOT_HH
#define KALDEN_TEST_SUPPORT_NETWORKSNAPSHOT_HH

#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"

#include <cstddef>
#include <string>
#include <vector>

namespace KALDEN {

/**
 * Counts every notice the engine gives, touching none of the objects it is
 * told of: another listener may have deleted them before this one hears.
 */
class HeardCounter : public ConstraintEngineListener {
public:
  /// A counter registered with the engine.
  explicit HeardCounter(const Id<ConstraintEngine>& engine) : ConstraintEngineListener(engine) {}

  void notifyPropagationCommenced() override { ++m_heard; }
  void notifyPropagationCompleted() override { ++m_heard; }
  void notifyPropagationPreempted() override { ++m_heard; }
  void notifyAdded(const Id<Constraint>&) override { ++m_heard; }
  void notifyActivated(const Id<Constraint>&) override { ++m_heard; }
  void notifyDeactivated(const Id<ConstrainedVariable>&) override { ++m_heard; }
  void notifyActivated(const Id<ConstrainedVariable>&) override { ++m_heard; }
  void notifyDeactivated(const Id<Constraint>&) override { ++m_heard; }
  void notifyRemoved(const Id<Constraint>&) override { ++m_heard; }
  void notifyExecuted(const Id<Constraint>&) override { ++m_heard; }
  void notifyAdded(const Id<ConstrainedVariable>&) override { ++m_heard; }
  void notifyRemoved(const Id<ConstrainedVariable>&) override { ++m_heard; }
  void notifyChanged(const Id<ConstrainedVariable>&, const DomainListener::ChangeType&) override { ++m_heard; }
  void notifyViolationAdded(const Id<Constraint>&) override { ++m_heard; }
  void notifyViolationRemoved(const Id<Constraint>&) override { ++m_heard; }

  /// How many notices it has heard so far.
  std::size_t heard() const { return m_heard; }

private:
  std::size_t m_heard = 0;
};

/**
 * What a refused call must leave as it was: every variable the engine holds
 * (domains, specified value, activity, constraints, last relaxation), every
 * constraint (activity, redundancy, retirement, violation, scope), the engine's
 * counts and flags (pending work, inconsistency, violations and their limit,
 * auto-propagation, the propagators' agendas), the utility layer's entities
 * and handles, and how many notices the listeners heard.
 */
class NetworkSnapshot {
public:
  /// The engine's state now; `heard` counts the notices given so far.
  NetworkSnapshot(const ConstraintEngine& engine, const HeardCounter& heard);

  /// Empty when both agree, else the first lines that differ, "before" against "after".
  std::string differenceFrom(const NetworkSnapshot& after) const;

private:
  std::vector<std::string> m_lines;
};

} // namespace KALDEN

#endif
