#ifndef KALDEN_CONSTRAINTENGINE_BASE_CONSTRAINTENGINELISTENER_HH
#define KALDEN_CONSTRAINTENGINE_BASE_CONSTRAINTENGINELISTENER_HH

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "Utils/base/Id.hh"

namespace KALDEN {

class ConstrainedVariable;
class Constraint;
class ConstraintEngine;
class PSConstraint;
class PSVariable;

/**
 * An observer of one engine's events. Every notice does nothing here;
 * clients override what they need. The engine calls its listeners in the
 * order they registered, on the thread that drives it; the handles passed
 * are valid for the duration of the call. A variable heard added has its
 * domains already and may be read whole; a constraint made with new is heard
 * added before its own class's constructor has run (read its name, key and
 * scope only).
 * Every object is heard added before anything else about it and removed
 * exactly once, after which nothing more is heard of it; a handle heard
 * removed is kept only to compare with others (see the README's protocol).
 *
 * The listener registers with one engine at a time. It may outlive its
 * engine: its destructor unregisters only from a live engine.
 */
class ConstraintEngineListener {
public:
  /// A listener registered with no engine yet.
  ConstraintEngineListener();
  /// A listener registered with the given engine.
  explicit ConstraintEngineListener(const Id<ConstraintEngine>& engine);
  /// Unregisters from its engine if that engine still exists.
  virtual ~ConstraintEngineListener();
  ConstraintEngineListener(const ConstraintEngineListener&) = delete;
  ConstraintEngineListener& operator=(const ConstraintEngineListener&) = delete;

  /// A propagation run is about to execute its first propagator.
  virtual void notifyPropagationCommenced() {}
  /// A run that commenced ended consistent.
  virtual void notifyPropagationCompleted() {}
  /// A run that commenced ended with an emptied domain.
  virtual void notifyPropagationPreempted() {}
  /// A constraint was added to the engine.
  virtual void notifyAdded(const Id<Constraint>& constraint) { (void)constraint; }
  /// A constraint became active again.
  virtual void notifyActivated(const Id<Constraint>& constraint) { (void)constraint; }
  /// A variable became inactive.
  virtual void notifyDeactivated(const Id<ConstrainedVariable>& variable) { (void)variable; }
  /// A variable became active again.
  virtual void notifyActivated(const Id<ConstrainedVariable>& variable) { (void)variable; }
  /// A constraint became inactive.
  virtual void notifyDeactivated(const Id<Constraint>& constraint) { (void)constraint; }
  /// A constraint was removed from the engine: whole during the call, it may be freed after it.
  virtual void notifyRemoved(const Id<Constraint>& constraint) { (void)constraint; }
  /// The engine is about to execute a constraint.
  virtual void notifyExecuted(const Id<Constraint>& constraint) { (void)constraint; }
  /// A variable was added to the engine, with its domains.
  virtual void notifyAdded(const Id<ConstrainedVariable>& variable) { (void)variable; }
  /// A variable was removed from the engine: whole during the call, it may be freed after it.
  virtual void notifyRemoved(const Id<ConstrainedVariable>& variable) { (void)variable; }
  /// The engine routed a change of an active variable's domain.
  virtual void notifyChanged(const Id<ConstrainedVariable>& variable, const DomainListener::ChangeType& changeType) {
    (void)variable;
    (void)changeType;
  }
  /// A constraint was marked violated.
  virtual void notifyViolationAdded(const Id<Constraint>& constraint) { (void)constraint; }
  /// A violated constraint was withdrawn.
  virtual void notifyViolationRemoved(const Id<Constraint>& constraint) { (void)constraint; }
  /// Registers with an engine, leaving the one registered with before (if another).
  virtual void setConstraintEngine(const Id<ConstraintEngine>& engine);

  /// The listener's own handle.
  const Id<ConstraintEngineListener>& getId() const { return m_id; }

protected:
  Id<ConstraintEngineListener> m_id;
  Id<ConstraintEngine> m_constraintEngine;
};

/**
 * The engine listener of the public interface: violation and domain-change
 * events arrive as interface pointers and a change-type number. Subclasses
 * that override one of the interface forms should bring the handle forms
 * into scope with a using declaration.
 */
class PSConstraintEngineListener : public ConstraintEngineListener {
public:
  /// The change kinds, with the numbers of DomainListener::ChangeType.
  enum PSChangeType {
    UPPER_BOUND_DECREASED = 0,
    LOWER_BOUND_INCREASED,
    BOUNDS_RESTRICTED,
    VALUE_REMOVED,
    RESTRICT_TO_SINGLETON,
    SET_TO_SINGLETON,
    RESET,
    RELAXED,
    CLOSED,
    OPENED,
    EMPTIED
  };

  /// A listener registered with no engine yet.
  PSConstraintEngineListener() = default;
  /// A listener registered with the given engine.
  explicit PSConstraintEngineListener(const Id<ConstraintEngine>& engine) : ConstraintEngineListener(engine) {}
  ~PSConstraintEngineListener() override = default;

  // The events without a public form end here.
  void notifyPropagationCommenced() override {}
  void notifyPropagationCompleted() override {}
  void notifyPropagationPreempted() override {}
  void notifyAdded(const Id<Constraint>&) override {}
  void notifyActivated(const Id<Constraint>&) override {}
  void notifyDeactivated(const Id<ConstrainedVariable>&) override {}
  void notifyActivated(const Id<ConstrainedVariable>&) override {}
  void notifyDeactivated(const Id<Constraint>&) override {}
  void notifyRemoved(const Id<Constraint>&) override {}
  void notifyExecuted(const Id<Constraint>&) override {}
  void notifyAdded(const Id<ConstrainedVariable>&) override {}
  void notifyRemoved(const Id<ConstrainedVariable>&) override {}
  /// Forwards as notifyChanged(PSVariable*, PSChangeType).
  void notifyChanged(const Id<ConstrainedVariable>& variable, const DomainListener::ChangeType& changeType) override;
  /// Forwards as notifyViolationAdded(PSConstraint*).
  void notifyViolationAdded(const Id<Constraint>& constraint) override;
  /// Forwards as notifyViolationRemoved(PSConstraint*).
  void notifyViolationRemoved(const Id<Constraint>& constraint) override;

  /// A constraint was marked violated.
  virtual void notifyViolationAdded(PSConstraint* constraint) { (void)constraint; }
  /// A violated constraint was withdrawn.
  virtual void notifyViolationRemoved(PSConstraint* constraint) { (void)constraint; }
  /// The engine routed a change of an active variable's domain.
  virtual void notifyChanged(PSVariable* variable, PSChangeType changeType) {
    (void)variable;
    (void)changeType;
  }
};

} // namespace KALDEN

#endif
