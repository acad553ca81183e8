#define KALDEN_SOURCE "ConstraintEngine/base/ConstrainedVariable"

// The variable's construction, identity, printing, validity, discard and destruction.

#include "ConstraintEngine/base/ConstrainedVariable.hh"

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "Utils/Globals.hh"
#include "Utils/base/Report.hh"

#include <algorithm>
#include <list>
#include <new>
#include <sstream>
#include <vector>

namespace KALDEN {

namespace {

// Whether `base` answers every value of `dom` a member.
bool holdsEveryValueOf(const AbstractDomain& base, const AbstractDomain& dom) {
  std::list<double> values;
  dom.getValues(values);
  return std::all_of(values.begin(), values.end(), [&base](double value) { return base.isMember(value); });
}

} // namespace

// Nothing tells internal variables apart, so the flag is not kept.
ConstrainedVariable::ConstrainedVariable(const Id<ConstraintEngine>& constraintEngine, bool /*internal*/,
                                         bool canBeSpecified, const LabelStr& name, const Id<Entity>& parent, int index)
    : Entity(), m_canBeSpecified(canBeSpecified), m_specifiedFlag(false), m_deleted(false), m_lastRelaxed(0),
      m_deactivationRefCount(0), m_id(this), m_constraintEngine(ownHandleOf(constraintEngine)), m_name(name) {
  bool making = false;
  try {
    KALDEN_CHECK(m_constraintEngine.isValid());
    KALDEN_CHECK_TEXT(index >= NO_INDEX, "m_index >= NO_INDEX");
    KALDEN_CHECK_TEXT(index == NO_INDEX || parent.isValid(), "m_index == NO_INDEX || parent.isValid()");
    // A parent is read whenever the variable is asked for it: it must be there, and in use.
    KALDEN_CHECK_TEXT_MSG(parent.isNoId() || (parent.isValid() && !parent->isDiscarded()),
                          "parent.isNoId() || (parent.isValid() && !parent->isDiscarded())",
                          "The parent " << parent << " of variable " << name.toString() << " is gone or discarded.");
    // Most variables have no parent: only those that do need room for it.
    if (!parent.isNoId() || index != NO_INDEX) {
      Extras& more = extras();
      more.parent = parent;
      more.index = index;
    }
    // Nobody hears of it before it has domains (see made()).
    m_constraintEngine->beginMaking(getKey());
    making = true;
    m_constraintEngine->add(m_id);
    ::new (static_cast<void*>(&m_listener.live)) OwnChangeListener(*this);
    m_listenerState = ListenerState::LIVE;
  } catch (...) {
    // The destructor will not run: take back what was registered.
    const Id<ConstraintEngine> engine = m_constraintEngine;
    undoRegistration();
    // The refusal leaves: a listener's failure told meanwhile is printed.
    const NoThrowScope guard;
    if (making && engine.isValid())
      engine->endMaking(getKey(), true, true);
    throw;
  }
}

void ConstrainedVariable::made() {
  m_constraintEngine->endMaking(getKey(), false, true);
  poolDiscarded();
}

void ConstrainedVariable::unmade() {
  // Its notices are dropped but nothing is told: a listener would find it half-made.
  if (m_constraintEngine.isValid())
    m_constraintEngine->endMaking(getKey(), true, false);
}

void ConstrainedVariable::undoRegistration() {
  NoThrowScope guard;
  markRefused();
  m_deleted = true;
  if (m_constraintEngine.isValid() && m_constraintEngine->getVariables().count(m_id) != 0)
    m_constraintEngine->remove(m_id);
  retireListener();
  m_id.remove();
}

ConstrainedVariable::~ConstrainedVariable() {
  NoThrowScope guard;
  KALDEN_TRACE("ConstrainedVariable:~ConstrainedVariable",
               "NAME=" << m_name.toString() << " KEY=" << getKey() << " ID=" << m_id);
  discardInDestructor();
  // The discard retires the own listener; a failure that only printed may have stopped it short.
  retireListener();
  if (m_id.isValid())
    m_id.remove();
}

void ConstrainedVariable::OwnChangeListener::notifyChange(const DomainListener::ChangeType& changeType) {
  m_variable.m_constraintEngine->notify(m_variable.m_id, changeType);
}

const AbstractDomain* ConstrainedVariable::OwnChangeListener::enclosingDomain() const {
  return &m_variable.baseDomain();
}

void ConstrainedVariable::retireListener() {
  if (m_listenerState != ListenerState::LIVE)
    return;
  const Id<DomainListener> handle = m_listener.live.getId();
  m_listener.live.~OwnChangeListener();
  ::new (static_cast<void*>(&m_listener.retired)) Id<DomainListener>(handle);
  m_listenerState = ListenerState::RETIRED;
}

const Id<DomainListener>& ConstrainedVariable::domainListener() const {
  switch (m_listenerState) {
  case ListenerState::LIVE:
    return m_listener.live.getId();
  case ListenerState::RETIRED:
    return m_listener.retired;
  default:
    return Id<DomainListener>::noId();
  }
}

ConstrainedVariable::Extras& ConstrainedVariable::extras() {
  if (!m_extras)
    m_extras.reset(new Extras());
  return *m_extras;
}

const InsertionOrderedSet<ConstrainedVariableListener>& ConstrainedVariable::listeners() const {
  static const InsertionOrderedSet<ConstrainedVariableListener> sl_none;
  return m_extras ? m_extras->listeners : sl_none;
}

Id<Constraint> ConstrainedVariable::standingOwner() const {
  return Constraint::ownerOf(m_extras ? m_extras->ownerKey : 0, true);
}

bool ConstrainedVariable::refusesDeletion() const {
  return Constraint::refusesPartDeletion(*this, m_extras ? m_extras->ownerKey : 0, true);
}

PSEntity* ConstrainedVariable::getParent() const {
  const Id<Entity>& entity = parent();
  if (!entity.isValid())
    return nullptr;
  return entity;
}

const std::string& ConstrainedVariable::getEntityType() const {
  static const std::string* const CV_STR = new std::string("ConstrainedVariable");
  return *CV_STR;
}

const LabelStr& ConstrainedVariable::entityTypeName() {
  static const LabelStr sl_type("ConstrainedVariable");
  return sl_type;
}

const LabelStr& ConstrainedVariable::entityType() const { return entityTypeName(); }

std::string ConstrainedVariable::toString() const {
  if (isNull())
    return "NULL";
  if (isSingleton())
    return getSingletonValue().toString();
  std::ostringstream os;
  if (isInterval()) {
    os << "[" << KALDEN::toString(getLowerBound()) << "," << KALDEN::toString(getUpperBound()) << "]";
  } else if (isEnumerated()) {
    const PSList<PSVarValue> values = getValues();
    os << "{";
    for (int i = 0; i < values.size(); ++i)
      os << (i == 0 ? "" : ", ") << values.get(i).toString();
    os << "}";
  } else {
    os << "ERROR!";
  }
  return os.str();
}

std::string ConstrainedVariable::toLongString() const {
  std::ostringstream os;
  os << Entity::toString();
  if (m_specifiedFlag)
    os << " (S) ";
  os << " DERIVED=" << lastDomain().toString();
  return os.str();
}

bool ConstrainedVariable::isValid() const {
  const AbstractDomain& current = lastDomain();
  if (current.getListener() != domainListener())
    return false;
  if (!current.isEmpty() && !current.isSubsetOf(baseDomain()))
    return false;
  // An open base answers every closed domain a superset: what the current domain took is judged
  // value by value.
  if (baseDomain().isOpen() && current.isClosed() && !holdsEveryValueOf(baseDomain(), current))
    return false;
  // Each link must name a live constraint holding this variable at that position: one test
  // per link, since this runs inside almost every query.
  for (const ConstraintEntry& entry : m_constraints) {
    const Id<Constraint>& constraint = entry.first;
    if (!constraint.isValid() || entry.second < 0)
      return false;
    const std::vector<Id<ConstrainedVariable> >& scope = constraint->getScope();
    if (static_cast<std::size_t>(entry.second) >= scope.size() || scope[entry.second] != m_id)
      return false;
  }
  return validate();
}

CallCounter* ConstrainedVariable::callCounter() const {
  // Its engine counts it, and outlives it.
  return m_constraintEngine.isValid() ? static_cast<CallCounter*>(m_constraintEngine.operator->()) : nullptr;
}

void ConstrainedVariable::handleDiscard() {
  KALDEN_TRACE("ConstrainedVariable:handleDiscard", "Discarding " << Entity::toString());
  KALDEN_CHECK(m_constraintEngine.isValid());
  // From now on removeConstraint() leaves the links alone, so the walk below is not disturbed.
  m_deleted = true;
  if (!Entity::isPurging()) {
    // By index: whoever hears of a discard may link a constraint to the variable.
    for (std::size_t i = 0; i < m_constraints.size(); ++i) {
      const Id<Constraint> constraint = m_constraints[i].first;
      // A constraint deleted by someone told of an earlier discard is gone already.
      if (!constraint.isValid())
        continue;
      // A part goes with the outermost constraint standing that holds it, which holds this
      // variable too (in its scope, or as an interim variable): that one is discarded first and
      // takes the part along, so nobody hears the part go while its composite stands.
      const Id<Constraint> outermost = Constraint::ownerOf(constraint->getKey(), true);
      const Id<Constraint> whole = outermost.isNoId() ? constraint : outermost;
      KALDEN_TRACE("ConstrainedVariable:handleDiscard", "Discarding constraint " << whole->getKey());
      whole->discard(true);
      KALDEN_CHECK_MSG(constraint.isValid(), constraint << " should remain valid");
    }
  }
  if (m_constraintEngine.isValid())
    m_constraintEngine->remove(m_id);
  // Each listener hears the notice once and is then dropped, whether it unregistered or not;
  // a listener may delete itself or others while it is told, so walk a snapshot. One catching
  // boundary for the whole telling (see heedListener()).
  {
    const CatchingScope catching;
    while (!listeners().empty()) {
      InsertionOrderedSet<ConstrainedVariableListener>& registered = m_extras->listeners;
      const std::vector<Id<ConstrainedVariableListener> > snapshot(registered.begin(), registered.end());
      for (const Id<ConstrainedVariableListener>& listener : snapshot) {
        if (!listener.isValid() || registered.count(listener) == 0)
          continue;
        heedListener(getKey(), [&] { listener->notifyDiscard(); });
        if (listener.isValid() && registered.count(listener) != 0) {
          registered.erase(listener);
          listener->m_variable = Id<ConstrainedVariable>::noId();
        }
      }
      // Handles of listeners destroyed without unregistering would otherwise stay for good.
      for (auto it = registered.begin(); it != registered.end();)
        it = it->isValid() ? std::next(it) : registered.erase(it);
    }
  }
  retireListener();
  Entity::handleDiscard();
}

} // namespace KALDEN
