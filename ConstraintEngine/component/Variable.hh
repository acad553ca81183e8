#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_VARIABLE_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_VARIABLE_HH

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "Utils/base/Report.hh"

#include <memory>
#include <new>
#include <type_traits>
#include <typeinfo>
#include <utility>

#pragma push_macro("KALDEN_SOURCE")
#undef KALDEN_SOURCE
#define KALDEN_SOURCE "ConstraintEngine/component/Variable"

namespace KALDEN {

/**
 * The concrete variable over domains of class DomainType (or derived from
 * it): it owns a base domain, the values the variable may ever take, and a
 * current domain, what propagation has left of them, which carries the
 * engine's change listener. Both start as copies of the domain given to the
 * constructor; the caller's domain is not kept.
 */
template <class DomainType>
class Variable : public ConstrainedVariable {
public:
  /// A variable of the engine over a copy of `baseDomain`, which must be a DomainType.
  Variable(const Id<ConstraintEngine>& constraintEngine, const AbstractDomain& baseDomain, bool internal,
           bool canBeSpecified, const LabelStr& name, const Id<Entity>& parent, int index);
  /// Discards the variable while its domains exist, then deletes them.
  ~Variable() override;

  /// The current domain, without propagating first.
  const DomainType& lastDomain() const override;
  /// The current domain after any pending propagation; an empty domain of the variable's own class and type while the engine is proven inconsistent.
  const DomainType& derivedDomain() override;
  /// The base domain.
  const DomainType& baseDomain() const override;
  /// Narrows the base domain to its intersection with `dom`, and the current domain to the new base.
  void handleRestrictBaseDomain(const AbstractDomain& dom) override;
  /// The base domain, writable.
  DomainType& internal_baseDomain() override { return base(); }
  /// The current domain, writable.
  DomainType& getCurrentDomain() override;
  /// derivedDomain() without its check.
  const DomainType& getDerivedDomain();

private:
  // An owned copy of a domain, typed as DomainType; a domain of another class is refused.
  static std::unique_ptr<DomainType> copyOf(const AbstractDomain& dom);
  // Refuses a domain of another class before the base part registers anything with the engine.
  static const Id<ConstraintEngine>& acceptDomain(const Id<ConstraintEngine>& constraintEngine,
                                                  const AbstractDomain& dom);

  static constexpr bool CAN_HOLD_INSIDE = !std::is_abstract<DomainType>::value;
  // Values of m_domainPlace.
  enum : unsigned char { NO_DOMAINS = 0, INSIDE, ON_HEAP };

  // The base and current domains: both kept inside the variable when they are exactly a
  // DomainType, both on the heap when they are of a derived class (or DomainType is abstract),
  // so that the copies keep their class. m_domainPlace says which, so neither room needs a
  // pointer beside it.
  union Room {
    DomainType* heap;
    alignas(DomainType) unsigned char bytes[CAN_HOLD_INSIDE ? sizeof(DomainType) : 1];
  };

  // Two copies of `dom`, which must be a DomainType.
  void holdDomains(const AbstractDomain& dom);
  // Deletes the base domain, then the current one.
  void dropDomains();
  DomainType& base() const { return held(m_baseRoom); }
  DomainType& current() const { return held(m_currentRoom); }
  DomainType& held(const Room& room) const {
    if constexpr (CAN_HOLD_INSIDE) {
      if (m_domainPlace == INSIDE)
        return *std::launder(reinterpret_cast<DomainType*>(const_cast<unsigned char*>(room.bytes)));
    }
    return *room.heap;
  }

  Room m_baseRoom;
  Room m_currentRoom;
};

template <class DomainType>
void Variable<DomainType>::holdDomains(const AbstractDomain& dom) {
  if constexpr (CAN_HOLD_INSIDE) {
    if (typeid(dom) == typeid(DomainType)) {
      const DomainType& typed = static_cast<const DomainType&>(dom);
      DomainType* base = ::new (static_cast<void*>(m_baseRoom.bytes)) DomainType(typed);
      try {
        ::new (static_cast<void*>(m_currentRoom.bytes)) DomainType(typed);
      } catch (...) {
        base->~DomainType();
        throw;
      }
      m_domainPlace = INSIDE;
      return;
    }
  }
  std::unique_ptr<DomainType> base = copyOf(dom);
  m_currentRoom.heap = copyOf(dom).release();
  m_baseRoom.heap = base.release();
  m_domainPlace = ON_HEAP;
}

template <class DomainType>
void Variable<DomainType>::dropDomains() {
  if (m_domainPlace == NO_DOMAINS)
    return;
  if (m_domainPlace == INSIDE) {
    base().~DomainType();
    current().~DomainType();
  } else {
    delete m_baseRoom.heap;
    delete m_currentRoom.heap;
  }
  m_domainPlace = NO_DOMAINS;
}

template <class DomainType>
std::unique_ptr<DomainType> Variable<DomainType>::copyOf(const AbstractDomain& dom) {
  std::unique_ptr<AbstractDomain> copy(dom.copy());
  DomainType* typed = dynamic_cast<DomainType*>(copy.get());
  KALDEN_CHECK_MSG(typed != nullptr, "A variable's domain must be of the variable's domain class, not " << dom);
  copy.release();
  return std::unique_ptr<DomainType>(typed);
}

template <class DomainType>
const Id<ConstraintEngine>& Variable<DomainType>::acceptDomain(const Id<ConstraintEngine>& constraintEngine,
                                                               const AbstractDomain& dom) {
  KALDEN_CHECK_MSG(dynamic_cast<const DomainType*>(&dom) != nullptr,
                   "A variable's domain must be of the variable's domain class, not " << dom);
  return constraintEngine;
}

template <class DomainType>
Variable<DomainType>::Variable(const Id<ConstraintEngine>& constraintEngine, const AbstractDomain& baseDomain,
                               bool internal, bool canBeSpecified, const LabelStr& name, const Id<Entity>& parent,
                               int index)
    : ConstrainedVariable(acceptDomain(constraintEngine, baseDomain), internal, canBeSpecified, name, parent, index) {
  try {
    holdDomains(baseDomain);
    KALDEN_TRACE("Variable:Variable", "Base Domain = " << baseDomain.toString());
    KALDEN_TRACE("Variable:Variable", "Name " << toString(name.getKey()));
    if (baseDomain.isSingleton())
      KALDEN_TRACE("Variable:Variable", "Base domain singleton; " << baseDomain.getSingletonValue());
    current().setListener(domainListener());
  } catch (...) {
    unmade();
    throw;
  }
  try {
    made();
  } catch (...) {
    // A listener told of it failed: it goes while it has its domains, which go with it. The
    // failure leaves; what listeners told of its going throw is printed.
    {
      NoThrowScope guard;
      discardInDestructor();
    }
    dropDomains();
    throw;
  }
}

template <class DomainType>
Variable<DomainType>::~Variable() {
  NoThrowScope guard;
  KALDEN_TRACE("Variable:~Variable", "Deleting " << getEntityName());
  // The discard unlinks constraints and leaves the engine, which may read the domains.
  discardInDestructor();
  dropDomains();
  if (extrasIfAny() != nullptr)
    extras().emptyDomain.reset();
}

template <class DomainType>
const DomainType& Variable<DomainType>::lastDomain() const {
  KALDEN_CHECK(validate());
  return current();
}

template <class DomainType>
const DomainType& Variable<DomainType>::derivedDomain() {
  KALDEN_CHECK(validate());
  // Deriving propagates the engine, which a discarded variable has left (and which may be gone).
  if (this->refusesDiscarded("derive the domain of"))
    return current();
  return getDerivedDomain();
}

template <class DomainType>
const DomainType& Variable<DomainType>::baseDomain() const {
  KALDEN_CHECK(validate());
  return base();
}

template <class DomainType>
DomainType& Variable<DomainType>::getCurrentDomain() {
  KALDEN_CHECK(validate());
  return current();
}

template <class DomainType>
void Variable<DomainType>::handleRestrictBaseDomain(const AbstractDomain& dom) {
  KALDEN_CHECK(validate());
  if (!base().intersect(dom))
    return;
  current().intersect(base());
}

template <class DomainType>
const DomainType& Variable<DomainType>::getDerivedDomain() {
  if (!getConstraintEngine()->isPropagating() && pending())
    update();
  if (!provenInconsistent())
    return current();
  // Kept with the variable's rarely used fields: it is made on first need only.
  std::unique_ptr<AbstractDomain>& emptyDomain = extras().emptyDomain;
  if (!emptyDomain) {
    // A copy carries no listener: closing and emptying it tells nobody.
    std::unique_ptr<DomainType> copy = copyOf(current());
    if (copy->isOpen())
      copy->close();
    copy->empty();
    emptyDomain = std::move(copy);
  }
  return static_cast<const DomainType&>(*emptyDomain);
}

} // namespace KALDEN

#pragma pop_macro("KALDEN_SOURCE")

#endif
