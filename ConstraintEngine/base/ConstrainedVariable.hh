#ifndef KALDEN_CONSTRAINTENGINE_BASE_CONSTRAINEDVARIABLE_HH
#define KALDEN_CONSTRAINTENGINE_BASE_CONSTRAINEDVARIABLE_HH

#include "ConstraintEngine/base/PSVarValue.hh"
#include "ConstraintEngine/base/VariableChangeListener.hh"
#include "Utils/Entity.hh"
#include "Utils/LabelStr.hh"
#include "Utils/base/EntityComparator.hh"
#include "Utils/base/Id.hh"
#include "Utils/base/InsertionOrderedSet.hh"
#include "Utils/base/PSEntity.hh"
#include "Utils/base/PSList.hh"

#include <list>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace KALDEN {

class AbstractDomain;
class Constraint;
class ConstraintEngine;
class ConstrainedVariable;
class DataType;
class DomainListener;
class PSConstraint;

/**
 * The public interface of a variable, for clients that should not see the
 * engine's internals. Every call reaches the ConstrainedVariable operation of
 * the same name.
 */
class PSVariable : public virtual PSEntity {
public:
  PSVariable() = default;
  ~PSVariable() override = default;

  /// The public type of the variable's values.
  virtual PSVarType getType() const = 0;
  /// Whether the base domain is an enumeration.
  virtual bool isEnumerated() const = 0;
  /// Whether the base domain is an interval.
  virtual bool isInterval() const = 0;
  /// Whether the current domain is empty and the variable unspecified.
  virtual bool isNull() const = 0;
  /// Whether the variable is specified or its current domain holds one value.
  virtual bool isSingleton() const = 0;
  /// The one value of a singleton variable.
  virtual PSVarValue getSingletonValue() const = 0;
  /// The members of a non-singleton enumerated variable.
  virtual PSList<PSVarValue> getValues() const = 0;
  /// The constraints on the variable, one entry per link.
  virtual PSList<PSConstraint*> getConstraints() const = 0;
  /// The lower bound of an interval variable's current domain.
  virtual double getLowerBound() const = 0;
  /// The upper bound of an interval variable's current domain.
  virtual double getUpperBound() const = 0;
  /// Fixes the variable to a value.
  virtual void specifyValue(PSVarValue& value) = 0;
  /// Undoes a specified value; the current domain goes back to the base domain.
  virtual void reset() = 0;
  /// The number of violated constraints on the variable.
  virtual double getViolation() const = 0;
  /// The explanations of the violated constraints on the variable, one a line.
  virtual std::string getViolationExpl() const = 0;
  /// The entity the variable belongs to, null when none.
  virtual PSEntity* getParent() const = 0;
};

/**
 * An observer of one variable: told of every constraint linked to or unlinked
 * from it and of its discard. It registers with the variable when built and
 * unregisters when destroyed; a variable's listeners are told in the order
 * they registered. When the variable is discarded, each listener
 * hears notifyDiscard() once and is then dropped, whether or not it
 * unregistered itself; a dropped listener no longer touches the variable, so
 * it may outlive it.
 */
class ConstrainedVariableListener {
public:
  /// Registers with the given (live) variable.
  explicit ConstrainedVariableListener(const Id<ConstrainedVariable>& variable);
  /// Unregisters from the variable if it still observes a live one.
  virtual ~ConstrainedVariableListener();
  ConstrainedVariableListener(const ConstrainedVariableListener&) = delete;
  ConstrainedVariableListener& operator=(const ConstrainedVariableListener&) = delete;

  /// The listener's own handle.
  const Id<ConstrainedVariableListener>& getId() const { return m_id; }

  /// The variable is being discarded; an observer normally deletes itself here.
  virtual void notifyDiscard();
  /// A constraint was linked to the variable at the given scope position.
  virtual void notifyConstraintAdded(const Id<Constraint>& constraint, int argIndex);
  /// A constraint was unlinked from the variable at the given scope position.
  virtual void notifyConstraintRemoved(const Id<Constraint>& constraint, int argIndex);

protected:
  Id<ConstrainedVariableListener> m_id;
  Id<ConstrainedVariable> m_variable; ///< the observed variable; empty once the variable dropped this listener

private:
  friend class ConstrainedVariable;
};

/**
 * The abstract base of every variable. A variable belongs to one engine, with
 * which it registers when built and from which it removes itself when
 * discarded; it keeps one link per scope position of each constraint over it,
 * counts its deactivations, and reaches its domains through the pure
 * accessors that Variable<DomainType> implements.
 *
 * The variable keeps a reference to the engine's own handle object; the
 * engine must outlive the variable or discard it (its purge does), after
 * which the variable no longer reaches the engine. Listeners of the engine
 * hear of a new variable once it has its domains.
 */
class ConstrainedVariable : public Entity, public virtual PSVariable {
public:
  /// The index of a variable that is not an argument of a parent.
  static constexpr int NO_INDEX = -1;

  /// One link: a constraint and the scope position at which this variable stands in it.
  typedef std::pair<Id<Constraint>, int> ConstraintEntry;
  /// The links, in the order they were added (an array: most variables have a few).
  typedef std::vector<ConstraintEntry> ConstraintList;

  /// Discards the variable unless that happened already, then removes its handle.
  ~ConstrainedVariable() override;

  // Identity and printing.

  /// The variable's own handle.
  const Id<ConstrainedVariable>& getId() const { return m_id; }
  /// The variable's name.
  const LabelStr& getName() const override { return m_name; }
  /// The variable's index among its parent's arguments, NO_INDEX when none.
  int getIndex() const { return m_extras ? m_extras->index : NO_INDEX; }
  /// The parent entity's handle, empty when none.
  const Id<Entity>& parent() const { return m_extras ? m_extras->parent : Id<Entity>::noId(); }
  /// The parent as a public entity, null when none.
  PSEntity* getParent() const override;
  /// The engine the variable belongs to.
  const Id<ConstraintEngine>& getConstraintEngine() const { return m_constraintEngine; }
  /// Whether clients may specify the variable.
  bool canBeSpecified() const { return m_canBeSpecified; }
  /// Whether no deactivation is outstanding.
  bool isActive() const { return m_deactivationRefCount == 0; }
  /// The number of outstanding deactivations.
  unsigned int refCount() const { return m_deactivationRefCount; }
  /// The constraint now executing over the variable, empty outside an execution.
  Id<Constraint> getCurrentPropagatingConstraint() const { return m_currentPropagatingConstraint; }
  /// Marks (or, with the empty handle, clears) the constraint executing over the variable.
  void setCurrentPropagatingConstraint(const Id<Constraint>& constraint) {
    m_currentPropagatingConstraint = constraint;
  }
  /// "ConstrainedVariable".
  const std::string& getEntityType() const override;
  /// The label "ConstrainedVariable".
  static const LabelStr& entityTypeName();
  /// entityTypeName().
  const LabelStr& entityType() const override;
  /// The value text: "NULL", the singleton value, "[lb,ub]" or "{v1, v2}".
  std::string toString() const override;
  /// The entity text, " (S) " when specified, " DERIVED=" and the current domain.
  std::string toLongString() const override;
  /// Whether the current domain carries the variable's listener and lies within the base domain, and every link is sound.
  bool isValid() const;
  /// Unlinks and discards the constraints (unless purging), leaves the engine, dismisses the listeners.
  /// A constraint that is part of another goes with the outermost one standing.
  void handleDiscard() override;
  /// The outermost constraint still standing that this variable is a part of (a composite's interim
  /// variable), the empty handle when none: a part is deleted only with it.
  Id<Constraint> standingOwner() const;
  /// Refuses the deletion of a part of a standing constraint, naming the constraint to delete instead.
  bool refusesDeletion() const override;

  // Domains, implemented by Variable<DomainType>.

  /// The current domain, without propagating first.
  virtual const AbstractDomain& lastDomain() const = 0;
  /// The current domain after any pending propagation.
  virtual const AbstractDomain& derivedDomain() = 0;
  /// The base domain.
  virtual const AbstractDomain& baseDomain() const = 0;
  /// The base domain, writable.
  virtual AbstractDomain& internal_baseDomain() = 0;
  /// The current domain, writable.
  virtual AbstractDomain& getCurrentDomain() = 0;
  /// Narrows the base domain, and the current domain with it, to their intersection with a domain.
  virtual void handleRestrictBaseDomain(const AbstractDomain& dom) = 0;

  // Specifying, resetting and restricting.

  /// Fixes the variable to a value; a value outside the current domain empties it unless violations are allowed.
  virtual void specify(double value);
  /// Fixes the variable to a tagged value (unless it is specified to it already), then propagates when the engine auto-propagates.
  void specifyValue(PSVarValue& value) override;
  /// Undoes a specified value: the current domain goes back to the base domain.
  void reset() override;
  /// Undoes a specified value and sets the current domain to a domain within the base domain.
  void reset(const AbstractDomain& domain);
  /// Widens the current domain back to the specified value, or else to the base domain.
  virtual void relax();
  /// Narrows the base domain, and the current domain with it, for good; tells the engine and the constraints.
  void restrictBaseDomain(const AbstractDomain& dom);
  /// Closes an open base domain, and the current domain with it, cut to the base.
  virtual void close();
  /// Opens a closed base domain; an unspecified variable's current domain opens and widens to the base.
  virtual void open();
  /// Adds a member to an open base domain, and to an unspecified open current domain.
  virtual void insert(double value);
  /// Removes a member from the base domain and the current domain.
  virtual void remove(double value);
  /// Makes the current domain report a restriction without changing, so its constraints are queued again.
  void touch();
  /// Hook for subclasses; the system never calls it.
  virtual void handleBase(const AbstractDomain& domain);
  /// Hook for subclasses; the system never calls it.
  virtual void handleSpecified(double value);
  /// Hook for subclasses; the system never calls it.
  virtual void handleReset();

  // Activity.

  /// One more deactivation, passed on to every linked constraint; the first tells the engine.
  void deactivate();
  /// One deactivation less, passed on to every linked constraint; the last tells the engine.
  void undoDeactivation();

  // Queries.

  /// The text of a value as the variable's data type writes it.
  virtual std::string toString(double value) const;
  /// The number of violated constraints on the variable (a constraint linked twice counts twice).
  double getViolation() const override;
  /// The explanations of the violated constraints, one a line.
  std::string getViolationExpl() const override;
  /// Whether the base domain is an enumeration.
  bool isEnumerated() const override;
  /// Whether the base domain is an interval.
  bool isInterval() const override;
  /// Whether the current domain is empty and the variable unspecified.
  bool isNull() const override;
  /// Whether the variable is specified or its current domain holds one value.
  bool isSingleton() const override;
  /// The specified value, or the current domain's one value, tagged with getType().
  PSVarValue getSingletonValue() const override;
  /// The public type of the values, decided by the base domain.
  PSVarType getType() const override;
  /// The current domain's members, tagged with getType().
  PSList<PSVarValue> getValues() const override;
  /// The current domain's lower bound.
  double getLowerBound() const override;
  /// The current domain's upper bound.
  double getUpperBound() const override;
  /// A subclass's own consistency test, used by isValid(); true here.
  virtual bool validate() const;
  /// Whether the base domain is closed.
  bool isClosed() const;
  /// Whether a client specified the variable or its base domain is a closed singleton.
  bool isSpecified() const;
  /// The value the variable is specified to.
  double getSpecifiedValue() const;
  /// Whether a client specified the variable.
  bool specifiedFlag() const { return m_specifiedFlag; }
  /// The base domain's data type.
  const Id<DataType>& getDataType() const;
  /// Whether the engine holds an emptied variable.
  bool provenInconsistent() const;
  /// Whether the engine is consistent and no propagator has work.
  bool constraintConsistent() const;
  /// Whether a propagation run would have something to do.
  bool pending() const;
  /// Propagates the engine.
  void update();
  /// The engine cycle in which the variable was last relaxed; 0 until then.
  int lastRelaxed() const { return m_lastRelaxed; }
  /// Stamps the variable with a relaxation cycle later than its last one.
  void updateLastRelaxed(int cycleCount);

  // Links to constraints.

  /// Adds a link; called by a constraint's constructor once per scope position.
  void addConstraint(const Id<Constraint>& constraint, int argIndex);
  /// Removes a link; called by a constraint's discard once per scope position. Ignored while the variable is discarded.
  void removeConstraint(const Id<Constraint>& constraint, int argIndex);
  /// Whether some link names the constraint.
  bool isConstrainedBy(const Id<Constraint>& constraint);
  /// The number of links.
  unsigned int constraintCount() const { return static_cast<unsigned int>(m_constraints.size()); }
  /// The constraint of the first link, the empty handle when none.
  const Id<Constraint>& getFirstConstraint() const;
  /// Whether some linked constraint is active.
  bool hasActiveConstraint() const;
  /// Adds the linked constraints to a set ordered by key.
  void constraints(std::set<Id<Constraint>, EntityComparator<Id<Constraint> > >& results) const;
  /// Adds the linked constraints to a set ordered by handle (the order they were made).
  void constraints(std::set<Id<Constraint> >& results) const;
  /// The linked constraints, one entry per link, in link order.
  PSList<PSConstraint*> getConstraints() const override;

  // Variable listeners.

  /// Registers a listener; called by its constructor.
  void notifyAdded(const Id<ConstrainedVariableListener>& listener);
  /// Unregisters a listener; called by its destructor.
  void notifyRemoved(const Id<ConstrainedVariableListener>& listener);

protected:
  /// Its engine: a discard() or decRefCount() of it is one engine call.
  CallCounter* callCounter() const override;
  /// Builds the variable, registers it with its engine and makes its own change listener.
  ConstrainedVariable(const Id<ConstraintEngine>& constraintEngine, bool internal, bool canBeSpecified,
                      const LabelStr& name, const Id<Entity>& parent, int index);

  /// Ends the making begun in the constructor, once the variable has its domains: listeners hear
  /// of it now (one that a listener discarded meanwhile stays discarded).
  void made();
  /// As made(), for a variable whose constructor fails after the base part: nobody hears of it.
  void unmade();

  /// The body of every way of specifying a value: the flag and value are set and the current domain set to the value (or emptied).
  /// False when a listener told of the change deleted the variable, which must then not be touched.
  bool internalSpecify(double value);

  /// Hook: a link was added.
  virtual void handleConstraintAdded(const Id<Constraint>& constraint);
  /// Hook: a link was removed.
  virtual void handleConstraintRemoved(const Id<Constraint>& constraint);

  /// The handle of the listener the current domain carries; stale once the variable is discarded, empty before it has one.
  const Id<DomainListener>& domainListener() const;

private:
  // The variable's own change listener: it forwards every change of the current domain, with the
  // variable, to the engine.
  class OwnChangeListener final : public DomainListener {
  public:
    explicit OwnChangeListener(ConstrainedVariable& variable) : m_variable(variable) {}
    void notifyChange(const DomainListener::ChangeType& changeType) override;
    const AbstractDomain* enclosingDomain() const override;

  private:
    ConstrainedVariable& m_variable;
  };

protected:
  // The fields most variables never use (propagation reads none of them), made on first need and
  // freed with the variable.
  struct Extras {
    Id<Entity> parent;
    int index = NO_INDEX;
    double specifiedValue = 0.0; ///< meaningful while m_specifiedFlag is set
    InsertionOrderedSet<ConstrainedVariableListener> listeners; ///< told in the order they registered
    std::unique_ptr<AbstractDomain>
        emptyDomain;  ///< what a typed variable answers while its engine is proven inconsistent
    int ownerKey = 0; ///< the key of the constraint the variable is a part of, 0 when none
  };

  /// The rarely used fields, made now if they are not yet.
  Extras& extras();
  /// The rarely used fields, null when never needed.
  const Extras* extrasIfAny() const { return m_extras.get(); }
  /// The value last specified, 0 before any.
  double specifiedValueField() const { return m_extras ? m_extras->specifiedValue : 0.0; }

  // What m_listener holds: nothing yet, the own listener, or (after discard) its stale handle.
  enum class ListenerState : unsigned char { NONE, LIVE, RETIRED };

  // The narrow fields first: they fit in the padding at the end of the Entity part.
  bool m_canBeSpecified;
  bool m_specifiedFlag;
  bool m_deleted;
  ListenerState m_listenerState = ListenerState::NONE;
  /// Free for Variable<DomainType> to say where its domains are; it fits in the padding here.
  unsigned char m_domainPlace = 0;
  int m_lastRelaxed;
  unsigned int m_deactivationRefCount;
  Id<ConstrainedVariable> m_id;
  // The own listener from construction to discard; after it, its stale handle, which the current
  // domain still holds. The state says which: a tag of its own here would add a word.
  union ListenerRoom {
    ListenerRoom() {}
    ~ListenerRoom() {}
    OwnChangeListener live;
    Id<DomainListener> retired;
  } m_listener;
  Id<Constraint> m_currentPropagatingConstraint;
  const Id<ConstraintEngine>&
      m_constraintEngine; ///< the engine's own handle object (the caller's handle while a refused construction fails)
  LabelStr m_name;
  std::unique_ptr<Extras> m_extras;
  ConstraintList m_constraints;

private:
  // The engine walks the links itself when it routes a change.
  friend class ConstraintEngine;
  // A constraint adopts the variables it builds as its parts.
  friend class Constraint;

  // Takes back what the constructor registered when a later step of it fails.
  void undoRegistration();
  // Whether a reset to `domain` would give the current domain a value it lacks, or open it.
  bool widensCurrent(const AbstractDomain& domain) const;
  // The value is about to move within the tolerance: constraints retired over the old one run
  // again, and, if `relaxes`, what the variable's constraints narrowed widens (a reset's own
  // relaxation does that).
  void heedMovedValue(bool relaxes);
  // Tells every constraint standing on the variable the notice; false once the variable went.
  bool tellConstraints(void (Constraint::*notice)(), const LifeWatch<ConstrainedVariable>& watch);
  // Refuses a reset of an interval to a domain that does not hold the current one, before
  // anything changes: an interval only widens (an enumeration takes a narrower domain's members).
  // False when refused.
  bool checkIntervalWidens(const AbstractDomain& domain) const;
  // Whether narrowing the base domain by `dom` leaves it a value (asked of a copy, which tells nobody).
  bool keepsValueWithin(const AbstractDomain& dom) const;
  // Whether every standing constraint that judges the base domain admits the one that `change`
  // would leave (made on a copy, which tells nobody, only when one judges it). False when refused.
  template <class Change>
  bool admitsBaseAfter(const Change& change) const;
  // After a removal from a closed base: narrows the current domain to what the base still holds,
  // emptying it with an emptied base.
  void keepWithinBase();
  // Tells the variable's listeners that a constraint was linked (or unlinked): at once, or once
  // the creation by name under way stands.
  void tellListenersOfLink(const Id<Constraint>& constraint, int argIndex, bool linked);
  // As tellListenersOfLink(), at once.
  void tellListenersOfLinkNow(const Id<Constraint>& constraint, int argIndex, bool linked);
  // As tellListenersOfLinkNow(), inside the scope it opens.
  void tellLinkToListeners(const Id<Constraint>& constraint, int argIndex, bool linked);
  // Calls one of its listeners through the engine's one point for listeners' failures, inside a
  // CatchingScope the caller opened for the whole telling.
  template <class F>
  void heedListener(int key, const F& f);
  // The variable's listeners (none when no extras were made).
  const InsertionOrderedSet<ConstrainedVariableListener>& listeners() const;
  // Destroys the own listener (which takes back its handle), keeping its handle for the current domain's sake.
  void retireListener();
};

} // namespace KALDEN

#endif
