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
 * Keeps every notice the engine gives (its kind alone), touching none of the
 * objects it is told of: another listener may have deleted them before this
 * one hears.
 */
class HeardCounter : public ConstraintEngineListener {
public:
  /// A counter registered with the engine.
  explicit HeardCounter(const Id<ConstraintEngine>& engine) : ConstraintEngineListener(engine) {}

  void notifyPropagationCommenced() override { hear("commenced"); }
  void notifyPropagationCompleted() override { hear("completed"); }
  void notifyPropagationPreempted() override { hear("preempted"); }
  void notifyAdded(const Id<Constraint>&) override { ++m_added; }
  void notifyActivated(const Id<Constraint>&) override { hear("constraint activated"); }
  void notifyDeactivated(const Id<ConstrainedVariable>&) override { hear("variable deactivated"); }
  void notifyActivated(const Id<ConstrainedVariable>&) override { hear("variable activated"); }
  void notifyDeactivated(const Id<Constraint>&) override { hear("constraint deactivated"); }
  void notifyRemoved(const Id<Constraint>&) override { ++m_removed; }
  void notifyExecuted(const Id<Constraint>&) override { hear("executed"); }
  void notifyAdded(const Id<ConstrainedVariable>&) override { ++m_added; }
  void notifyRemoved(const Id<ConstrainedVariable>&) override { ++m_removed; }
  void notifyChanged(const Id<ConstrainedVariable>&, const DomainListener::ChangeType& change) override {
    hear(DomainListener::toString(change));
  }
  void notifyViolationAdded(const Id<Constraint>&) override { hear("violation added"); }
  void notifyViolationRemoved(const Id<Constraint>&) override { hear("violation removed"); }

  /// The notices it has heard so far, by kind, but for additions and removals.
  const std::vector<std::string>& heard() const { return m_heard; }
  /// How many variables and constraints it heard added so far.
  std::size_t added() const { return m_added; }
  /// How many variables and constraints it heard removed so far.
  std::size_t removed() const { return m_removed; }

private:
  void hear(const std::string& kind) { m_heard.push_back(kind); }

  std::vector<std::string> m_heard;
  std::size_t m_added = 0;
  std::size_t m_removed = 0;
};

/// What a run may change, a line per variable and constraint: domains, the value specified, activity,
/// retirement, violation. A run that has nothing to do leaves it alike.
std::string runPicture(const ConstraintEngine& engine);
/// The first notice the counter heard from `from` on that tells of a change (anything but a run's
/// commenced, completed, preempted and executions); empty when none.
std::string changeHeardSince(const HeardCounter& counter, std::size_t from);

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

  /// Empty when both agree, else the first lines that differ, "before" against "after". With
  /// `madeWithNew`, listeners may have heard of a constraint being made and taken back (as many
  /// removals as additions, and the announcements of its making: its interim variables closed,
  /// itself switched off over an inactive variable): a constraint built with `new` is registered
  /// by its base class before its own class can refuse it.
  std::string differenceFrom(const NetworkSnapshot& after, bool madeWithNew = false) const;

private:
  std::vector<std::string> m_lines;
  std::size_t m_heard;
  const std::vector<std::string>* m_heardSince; // the counter's notices, for naming those heard since
  std::size_t m_added;
  std::size_t m_removed;
};

} // namespace KALDEN

#endif
