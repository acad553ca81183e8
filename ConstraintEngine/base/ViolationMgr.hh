#ifndef KALDEN_CONSTRAINTENGINE_BASE_VIOLATIONMGR_HH
#define KALDEN_CONSTRAINTENGINE_BASE_VIOLATIONMGR_HH

#include "Utils/base/EntityComparator.hh"
#include "Utils/base/Id.hh"
#include "Utils/base/PSList.hh"

#include <set>
#include <string>

namespace KALDEN {

class ConstrainedVariable;
class Constraint;
class ConstraintEngine;
class PSConstraint;

/// The variables recorded as emptied, in key order.
typedef std::set<Id<ConstrainedVariable>, EntityComparator<Id<ConstrainedVariable> > > ConstrainedVariableSet;
/// Constraints in key order.
typedef std::set<Id<Constraint>, EntityComparator<Id<Constraint> > > ConstraintSet;

/**
 * The engine's record of emptied variables (its proof of inconsistency) and
 * of violated constraints, with the limit on violations. Owned by its
 * engine; it holds handles only, and every handle leaves it before its object
 * goes.
 */
class ViolationMgr {
public:
  /// The limit on violated constraints (0: violations not allowed).
  virtual unsigned int getMaxViolationsAllowed() const = 0;
  /// Changes the limit; only while no constraint is violated.
  virtual void setMaxViolationsAllowed(unsigned int max) = 0;
  /// The number of violated constraints, or 1.0 when there are none but a switched-on variable is emptied.
  virtual double getViolation() const = 0;
  /// The violated constraints' explanations, in key order.
  virtual PSList<std::string> getViolationExpl() const = 0;
  /// The violated constraints, in key order.
  virtual PSList<PSConstraint*> getAllViolations() const = 0;
  /// A variable was emptied: below the limit, blames the constraint executing over it. Whether below the limit.
  virtual bool handleEmpty(Id<ConstrainedVariable> variable) = 0;
  /// A variable was relaxed: withdraws every violated constraint on it. Always true.
  virtual bool handleRelax(Id<ConstrainedVariable> variable) = 0;
  /// Whether fewer constraints are violated than the limit allows.
  virtual bool canContinuePropagation() const = 0;
  /// Whether the constraint is marked violated.
  virtual bool isViolated(Id<Constraint> constraint) const = 0;
  /// Marks a constraint violated; the first marking deactivates it and tells the engine's listeners.
  virtual void addViolatedConstraint(Id<Constraint> constraint) = 0;
  /// Withdraws a violated constraint, undoing the deactivation its marking made.
  virtual void removeViolatedConstraint(Id<Constraint> constraint) = 0;
  /// Forgets a constraint that leaves the engine; whether it was marked violated.
  virtual bool forgetConstraint(Id<Constraint> constraint) = 0;
  /// How many markings ever set a constraint aside; tells whether a run set one aside.
  virtual unsigned long getViolationsAdded() const = 0;
  /// Whether the variable is recorded as emptied.
  virtual bool isEmpty(Id<ConstrainedVariable> variable) const = 0;
  /// Records a variable as emptied (once).
  virtual void addEmptyVariable(Id<ConstrainedVariable> variable) = 0;
  /// Forgets the record of one variable, if any.
  virtual void removeEmptyVariable(Id<ConstrainedVariable> variable) = 0;
  /// The variables recorded as emptied.
  virtual const ConstrainedVariableSet& getEmptyVariables() const = 0;
  /// Forgets, without relaxing anything, every record whose variable holds values again or is
  /// switched off; an empty one switched on stays recorded.
  virtual void clearEmptyVariables() = 0;
  /// Relaxes every emptied variable and forgets those no longer judged empty (see judgedEmpty()).
  virtual void relaxEmptyVariables() = 0;
  /// Whether the variable's emptiness proves the network inconsistent: it holds nothing for good
  /// (an open enumeration without values may still gain any), is switched on (one switched off
  /// is judged when it is switched on, however it emptied) and is not going.
  static bool judgedEmpty(const ConstrainedVariable& variable);
  virtual ~ViolationMgr() = default;
};

/// The engine's violation manager.
class ViolationMgrImpl : public ViolationMgr {
public:
  /// A manager with the given limit for the given (owning) engine.
  ViolationMgrImpl(unsigned int maxViolationsAllowed, ConstraintEngine& engine);
  ~ViolationMgrImpl() override;

  // The operations are those of ViolationMgr.
  unsigned int getMaxViolationsAllowed() const override { return m_maxViolationsAllowed; }
  void setMaxViolationsAllowed(unsigned int max) override;
  double getViolation() const override;
  PSList<std::string> getViolationExpl() const override;
  PSList<PSConstraint*> getAllViolations() const override;
  bool handleEmpty(Id<ConstrainedVariable> variable) override;
  bool handleRelax(Id<ConstrainedVariable> variable) override;
  bool canContinuePropagation() const override;
  bool isViolated(Id<Constraint> constraint) const override;
  void addViolatedConstraint(Id<Constraint> constraint) override;
  void removeViolatedConstraint(Id<Constraint> constraint) override;
  bool forgetConstraint(Id<Constraint> constraint) override;
  bool isEmpty(Id<ConstrainedVariable> variable) const override;
  void addEmptyVariable(Id<ConstrainedVariable> variable) override;
  void removeEmptyVariable(Id<ConstrainedVariable> variable) override;
  const ConstrainedVariableSet& getEmptyVariables() const override { return m_emptyVariables; }
  void clearEmptyVariables() override;
  void relaxEmptyVariables() override;
  unsigned long getViolationsAdded() const override { return m_violationsAdded; }

private:
  unsigned int m_maxViolationsAllowed;
  ConstraintSet m_violatedConstraints;
  ConstrainedVariableSet m_emptyVariables;
  bool m_relaxingEmpty;
  unsigned long m_violationsAdded; // only grows, so a withdrawal and a new marking in one run still count
  ConstraintEngine& m_engine;
};

} // namespace KALDEN

#endif
