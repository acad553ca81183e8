#define KALDEN_SOURCE "ConstraintEngine/base/ConstrainedVariable"

// The variable's construction, identity, printing, validity, discard and destruction.

#include "ConstraintEngine/base/ConstrainedVariable.hh"

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "Utils/Globals.hh"
#include "Utils/base/Report.hh"

#include <new>
#include <sstream>
#include <vector>

namespace KALDEN {

ConstrainedVariable::ConstrainedVariable(const Id<ConstraintEngine>& constraintEngine, bool internal,
                                         bool canBeSpecified, const LabelStr& name, const Id<Entity>& parent,
                                         int index)
    : Entity(), m_internal(internal), m_canBeSpecified(canBeSpecified), m_specifiedFlag(false), m_deleted(false),
      m_listenerRoomState(ROOM_EMPTY), m_lastRelaxed(0), m_deactivationRefCount(0), m_id(this),
      m_constraintEngine(ownHandleOf(constraintEngine)), m_name(name) {
  try {
    KALDEN_CHECK(m_constraintEngine.isValid());
    KALDEN_CHECK_TEXT(index >= NO_INDEX, "m_index >= NO_INDEX");
    KALDEN_CHECK_TEXT(index == NO_INDEX || parent.isValid(), "m_index == NO_INDEX || parent.isValid()");
    // Most variables have no parent: only those that do need room for it.
    if (!parent.isNoId() || index != NO_INDEX) {
      Extras& more = extras();
      more.parent = parent;
      more.index = index;
    }
    m_constraintEngine->add(m_id);
    // The engine builds the listener in the room offered here; it is for this call only.
    m_listenerRoomState = ROOM_OFFERED;
    m_constraintEngine->allocateVariableListener(m_id, m_constraints);
    if (m_listenerRoomState == ROOM_OFFERED)
      m_listenerRoomState = ROOM_EMPTY;
  } catch (...) {
    // The destructor will not run: take back what was registered.
    undoRegistration();
    throw;
  }
}

void ConstrainedVariable::undoRegistration() {
  NoThrowScope guard;
  m_deleted = true;
  if (m_constraintEngine.isValid() && m_constraintEngine->getVariables().count(m_id) != 0)
    m_constraintEngine->remove(m_id);
  vacateListenerRoom();
  m_id.remove();
}

ConstrainedVariable::~ConstrainedVariable() {
  NoThrowScope guard;
  KALDEN_TRACE("ConstrainedVariable:~ConstrainedVariable",
               "NAME=" << m_name.toString() << " KEY=" << getKey() << " ID=" << m_id);
  discard(false);
  if (m_id.isValid())
    m_id.remove();
}

bool ConstrainedVariable::offersListenerRoom(const Id<ConstraintEngine>& constraintEngine) const {
  return m_listenerRoomState == ROOM_OFFERED && m_constraintEngine == constraintEngine;
}

ConstrainedVariable::HousedChangeListener& ConstrainedVariable::housedListener() {
  return *std::launder(reinterpret_cast<HousedChangeListener*>(m_listenerRoom));
}

const Id<DomainListener>& ConstrainedVariable::houseListener() {
  // Should the listener not register its handle, the room stays as it was.
  HousedChangeListener* listener = ::new (static_cast<void*>(m_listenerRoom)) HousedChangeListener();
  m_listenerRoomState = ROOM_HOUSED;
  return listener->getId();
}

void ConstrainedVariable::vacateListenerRoom() {
  if (m_listenerRoomState != ROOM_HOUSED)
    return;
  HousedChangeListener& listener = housedListener();
  const Id<DomainListener> handle = listener.getId();
  // A listener whose handle someone took back already is left as it lies (it owns nothing else).
  if (handle.isValid())
    listener.~HousedChangeListener();
  ::new (static_cast<void*>(m_listenerRoom)) Id<DomainListener>(handle);
  m_listenerRoomState = ROOM_VACATED;
}

const Id<DomainListener>& ConstrainedVariable::domainListener() const {
  switch (m_listenerRoomState) {
  case ROOM_HOUSED:
    return std::launder(reinterpret_cast<const HousedChangeListener*>(m_listenerRoom))->getId();
  case ROOM_VACATED:
    return *std::launder(reinterpret_cast<const Id<DomainListener>*>(m_listenerRoom));
  default:
    return Id<DomainListener>::noId();
  }
}

ConstrainedVariable::Extras& ConstrainedVariable::extras() {
  if (!m_extras)
    m_extras.reset(new Extras());
  return *m_extras;
}

const LazySet<Id<ConstrainedVariableListener> >& ConstrainedVariable::listeners() const {
  static const LazySet<Id<ConstrainedVariableListener> > sl_none;
  return m_extras ? m_extras->listeners : sl_none;
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

void ConstrainedVariable::handleDiscard() {
  KALDEN_TRACE("ConstrainedVariable:handleDiscard", "Discarding " << Entity::toString());
  KALDEN_CHECK(m_constraintEngine.isValid());
  // From now on removeConstraint() leaves the links alone, so the walk below is not disturbed.
  m_deleted = true;
  if (!Entity::isPurging()) {
    for (const ConstraintEntry& entry : m_constraints) {
      const Id<Constraint> constraint = entry.first;
      // A constraint deleted by someone told of an earlier discard is gone already.
      if (!constraint.isValid())
        continue;
      KALDEN_TRACE("ConstrainedVariable:handleDiscard", "Discarding constraint " << constraint->getKey());
      constraint->discard(true);
      KALDEN_CHECK_MSG(constraint.isValid(), constraint << " should remain valid");
    }
  }
  if (m_constraintEngine.isValid())
    m_constraintEngine->remove(m_id);
  // Each listener hears the notice once and is then dropped, whether it unregistered or not;
  // a listener may delete itself or others while it is told, so walk a snapshot.
  while (!listeners().empty()) {
    LazySet<Id<ConstrainedVariableListener> >& registered = m_extras->listeners;
    const std::vector<Id<ConstrainedVariableListener> > snapshot(registered.begin(), registered.end());
    for (const Id<ConstrainedVariableListener>& listener : snapshot) {
      if (!listener.isValid() || registered.count(listener) == 0)
        continue;
      listener->notifyDiscard();
      if (listener.isValid() && registered.count(listener) != 0) {
        registered.erase(listener);
        listener->m_variable = Id<ConstrainedVariable>::noId();
      }
    }
    // Handles of listeners destroyed without unregistering would otherwise stay for good.
    for (auto it = registered.begin(); it != registered.end();)
      it = it->isValid() ? std::next(it) : registered.erase(it);
  }
  vacateListenerRoom();
  Entity::handleDiscard();
}

} // namespace KALDEN
