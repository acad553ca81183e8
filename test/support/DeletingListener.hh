#ifndef KALDEN_TEST_SUPPORT_DELETINGLISTENER_HH
#define KALDEN_TEST_SUPPORT_DELETINGLISTENER_HH

#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"

#include <stdexcept>
#include <vector>

namespace KALDEN {

/// What an acting listener throws to fail a notice of a creation, which is then taken back.
struct ListenerFailure : std::runtime_error {
  ListenerFailure() : std::runtime_error("a listener failed") {}
};

class OperationSession;

/**
 * An engine listener that, armed for one operation, acts at one of the
 * notices it hears then: a change of any kind, a constraint or a variable
 * switched off or on, a constraint executed, a violation, an addition or a
 * removal. It deletes (or discards) the variable or constraint concerned (never
 * one heard added or removed, but the composite of a member heard removed; a
 * variable being made by name too), or another one of the session's network,
 * and tells the session first, so that its model leaves the object out.
 * Inside a run it may instead make a call that the engine must refuse there
 * (propagate, deleteConstraint, open, relax, reset), which the session holds
 * to a snapshot; told of a removal (often inside a destructor, where a
 * refusal is thrown to it as anywhere), it may make such a call or one refused anywhere.
 * Told of an addition, it may instead fail (throw), which takes back the
 * creation under way, or make a constraint by name while the notices wait.
 * Armed to act at a relaxation, it counts only those and, told of one outside
 * a run, resets or specifies a variable or deletes a constraint (also through the engine,
 * which propagates when auto-propagating). It reads no
 * object it is told of without testing its handle: another listener may have
 * deleted it already.
 */
class DeletingListener : public ConstraintEngineListener {
public:
  /// A listener on the session's engine, disarmed.
  DeletingListener(const Id<ConstraintEngine>& engine, OperationSession& session);

  /// Acts at the notice numbered `notice` (from 0) of the coming operation, as `choice` says; none when negative.
  /// Armed to act at a relaxation, at the relaxation numbered `notice` % 2.
  void arm(int notice, int choice) {
    m_countdown = atRelaxation(choice) ? notice % 2 : notice;
    m_choice = choice;
    m_atRunEnd = notice >= 0 && atRunEnd(choice);
  }
  /// Whether, told of an addition, it may also fail or make a constraint by name (never told
  /// inside another's deletion, where a failure could not leave).
  bool failsOrMakes = false;
  /// Whether the choice arms the listener to act at a relaxation (a fifth of the choices).
  static bool atRelaxation(int choice) { return choice % 10 == 2 || choice % 10 == 3; }
  /// Whether the choice also has it act at the end of a run (a seventh of the choices): at
  /// every one preempted, it resets every emptied variable; at the first completed, it
  /// specifies a variable to a value of its base that the run took away.
  static bool atRunEnd(int choice) { return choice % 7 == 3; }
  /// Whether it may act at a run's end (see atRunEnd()).
  bool actsAtRunEnd = false;

  void notifyPropagationCompleted() override { heardRunEnd(true); }
  void notifyPropagationPreempted() override { heardRunEnd(false); }

  void notifyChanged(const Id<ConstrainedVariable>& variable, const DomainListener::ChangeType& change) override {
    heard(variable, Id<Constraint>(), Id<Constraint>(), change == DomainListener::RELAXED);
  }
  void notifyExecuted(const Id<Constraint>& constraint) override { heard(Id<ConstrainedVariable>(), constraint); }
  void notifyActivated(const Id<Constraint>& constraint) override { heard(Id<ConstrainedVariable>(), constraint); }
  void notifyDeactivated(const Id<Constraint>& constraint) override { heard(Id<ConstrainedVariable>(), constraint); }
  void notifyActivated(const Id<ConstrainedVariable>& variable) override { heard(variable, Id<Constraint>()); }
  void notifyDeactivated(const Id<ConstrainedVariable>& variable) override { heard(variable, Id<Constraint>()); }
  void notifyViolationAdded(const Id<Constraint>& constraint) override { heard(Id<ConstrainedVariable>(), constraint); }
  void notifyViolationRemoved(const Id<Constraint>& constraint) override {
    heard(Id<ConstrainedVariable>(), constraint);
  }
  // What is heard added may still be being built, and what is heard removed is going: another goes.
  void notifyAdded(const Id<ConstrainedVariable>&) override {
    heard(Id<ConstrainedVariable>(), Id<Constraint>(), Id<Constraint>(), false, false, true);
  }
  void notifyAdded(const Id<Constraint>&) override {
    heard(Id<ConstrainedVariable>(), Id<Constraint>(), Id<Constraint>(), false, false, true);
  }
  void notifyRemoved(const Id<ConstrainedVariable>&) override {
    heard(Id<ConstrainedVariable>(), Id<Constraint>(), Id<Constraint>(), false, true);
  }
  // A composite whose member is heard removed may go too.
  void notifyRemoved(const Id<Constraint>& constraint) override {
    heard(Id<ConstrainedVariable>(), Id<Constraint>(), constraint, false, true);
  }

private:
  void heard(const Id<ConstrainedVariable>& variable, const Id<Constraint>& constraint,
             const Id<Constraint>& removed = Id<Constraint>(), bool relaxed = false, bool removal = false,
             bool added = false);
  // The numbers of the session's live variables (but `except`) or live constraints.
  std::vector<int> live(bool variables, int except) const;
  // Told a run ended: acts once, when armed to (see atRunEnd()).
  void heardRunEnd(bool completed);
  // Told of a relaxation: resets or specifies a variable, or deletes a constraint, as the choice says.
  void widenOrDelete();
  // Deletes the concerned object (or the composite of a member heard removed), or another one
  // of the session's, as the choice says.
  void deleteSome(const Id<ConstrainedVariable>& variable, const Id<Constraint>& constraint,
                  const Id<Constraint>& removed);

  OperationSession& m_session;
  int m_countdown = -1;
  int m_choice = 0;
  bool m_atRunEnd = false;
};

/**
 * A variable listener on each of the session's variables that, armed for
 * one operation, acts at one unlink it hears then (counting those all of
 * them hear): it deletes or discards its own variable, deletes another
 * constraint (also through the engine outside runs and destructors), resets
 * its variable (outside runs) or specifies it to a value it holds, as the
 * session's choice says.
 */
class UnlinkActor : public ConstrainedVariableListener {
public:
  /// Shared by all of a session's actors: the unlink to act at (none when negative) and the choice.
  struct Arming {
    int countdown = -1;
    int choice = 0;
  };
  /// Listens to the variable; acts as the arming says.
  UnlinkActor(const Id<ConstrainedVariable>& variable, Arming& arming, OperationSession& session)
      : ConstrainedVariableListener(variable), m_arming(arming), m_session(session) {}

  void notifyConstraintRemoved(const Id<Constraint>& constraint, int argIndex) override;

private:
  Arming& m_arming;
  OperationSession& m_session;
};

} // namespace KALDEN

#endif
