#ifndef KALDEN_TEST_SUPPORT_RECORDINGENGINELISTENER_HH
#define KALDEN_TEST_SUPPORT_RECORDINGENGINELISTENER_HH

#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace KALDEN {

/**
 * An engine listener that writes every event it hears into a log, as
 * "<tag> <event> <name>" (and the change kind for notifyChanged). Several
 * listeners may share one log, to show the order in which they are told.
 * Only names are read.
 * Armed with actAt(), it acts once, right after it recorded the event named.
 */
class RecordingEngineListener : public ConstraintEngineListener {
public:
  /// A listener registered with the engine, writing into `log` (its own when null).
  explicit RecordingEngineListener(const Id<ConstraintEngine>& engine, std::vector<std::string>* log = nullptr,
                                   const std::string& tag = "L")
      : ConstraintEngineListener(engine), m_log(log != nullptr ? log : &m_ownLog), m_tag(tag) {}

  void notifyPropagationCommenced() override { record("commenced", ""); }
  void notifyPropagationCompleted() override { record("completed", ""); }
  void notifyPropagationPreempted() override { record("preempted", ""); }
  void notifyAdded(const Id<Constraint>& c) override { record("addedConstraint", c->getName().toString()); }
  void notifyActivated(const Id<Constraint>& c) override { record("activatedConstraint", c->getName().toString()); }
  void notifyDeactivated(const Id<ConstrainedVariable>& v) override {
    record("deactivatedVariable", v->getName().toString());
  }
  void notifyActivated(const Id<ConstrainedVariable>& v) override {
    record("activatedVariable", v->getName().toString());
  }
  void notifyDeactivated(const Id<Constraint>& c) override { record("deactivatedConstraint", c->getName().toString()); }
  void notifyRemoved(const Id<Constraint>& c) override { record("removedConstraint", c->getName().toString()); }
  void notifyExecuted(const Id<Constraint>& c) override { record("executed", c->getName().toString()); }
  void notifyAdded(const Id<ConstrainedVariable>& v) override { record("addedVariable", v->getName().toString()); }
  void notifyRemoved(const Id<ConstrainedVariable>& v) override { record("removedVariable", v->getName().toString()); }
  void notifyChanged(const Id<ConstrainedVariable>& v, const DomainListener::ChangeType& change) override {
    record("changed", v->getName().toString() + " " + DomainListener::toString(change));
  }
  void notifyViolationAdded(const Id<Constraint>& c) override { record("violationAdded", c->getName().toString()); }
  void notifyViolationRemoved(const Id<Constraint>& c) override { record("violationRemoved", c->getName().toString()); }

  /// The log this listener writes into.
  const std::vector<std::string>& events() const { return *m_log; }
  /// Empties the log.
  void clear() { m_log->clear(); }
  /// Runs `act` once, when the listener next hears `event` (its text without the tag: "deactivatedConstraint c").
  void actAt(const std::string& event, std::function<void()> act) {
    m_trigger = event;
    m_act = std::move(act);
  }
  /// Whether the act armed last is still to come.
  bool armed() const { return static_cast<bool>(m_act); }

private:
  void record(const std::string& event, const std::string& what) {
    const std::string text = event + (what.empty() ? "" : " " + what);
    m_log->push_back(m_tag + " " + text);
    if (!m_act || text != m_trigger)
      return;
    // Disarmed first: the act may arm the listener again, or cause the same event.
    const std::function<void()> act = std::move(m_act);
    m_act = nullptr;
    act();
  }

  std::vector<std::string> m_ownLog;
  std::vector<std::string>* m_log;
  std::string m_tag;
  std::string m_trigger;
  std::function<void()> m_act;
};

} // namespace KALDEN

#endif
