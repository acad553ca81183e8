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
  DomainType& internal_baseDomain() override { return *m_baseDomain.get(); }
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

  // One owned domain: kept inside the variable when it is exactly a DomainType, on the heap
  // when it is of a derived class (or DomainType is abstract), so the copy keeps its class.
  class OwnedDomain {
  public:
    OwnedDomain() : m_domain(nullptr) {}
    ~OwnedDomain() { reset(); }
    OwnedDomain(const OwnedDomain&) = delete;
    OwnedDomain& operator=(const OwnedDomain&) = delete;

    void hold(const AbstractDomain& dom) {
      if constexpr (!std::is_abstract<DomainType>::value) {
        if (typeid(dom) == typeid(DomainType)) {
          m_domain = ::new (static_cast<void*>(m_room)) DomainType(static_cast<const DomainType&>(dom));
          return;
        }
      }
      m_domain = copyOf(dom).release();
    }
    void reset() {
      if (m_domain == nullptr)
        return;
      if (static_cast<void*>(m_domain) == static_cast<void*>(m_room))
        m_domain->~DomainType();
      else
        delete m_domain;
      m_domain = nullptr;
    }
    DomainType* get() const { return m_domain; }
    DomainType& operator*() const { return *m_domain; }
    DomainType* operator->() const { return m_domain; }

  private:
    DomainType* m_domain;
    alignas(DomainType) unsigned char m_room[std::is_abstract<DomainType>::value ? 1 : sizeof(DomainType)];
  };

  OwnedDomain m_baseDomain;
  OwnedDomain m_derivedDomain;
  // Answers derivedDomain() while the engine is proven inconsistent; made on first need.
  std::unique_ptr<DomainType> m_emptyDomain;
};

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
                               bool internal, bool canBeSpecified, const LabelStr& name,
                               const Id<Entity>& parent, int index)
    : ConstrainedVariable(acceptDomain(constraintEngine, baseDomain), internal, canBeSpecified, name, parent, index) {
  m_baseDomain.hold(baseDomain);
  m_derivedDomain.hold(baseDomain);
  KALDEN_TRACE("Variable:Variable", "Base Domain = " << baseDomain.toString());
  KALDEN_TRACE("Variable:Variable", "Name " << toString(name.getKey()));
  if (baseDomain.isSingleton())
    KALDEN_TRACE("Variable:Variable", "Base domain singleton; " << baseDomain.getSingletonValue());
  m_derivedDomain->setListener(m_domainListener);
}

template <class DomainType>
Variable<DomainType>::~Variable() {
  NoThrowScope guard;
  KALDEN_TRACE("Variable:~Variable", "Deleting " << getEntityName());
  // The discard unlinks constraints and leaves the engine, which may read the domains.
  discard(false);
  m_baseDomain.reset();
  m_derivedDomain.reset();
  m_emptyDomain.reset();
}

template <class DomainType>
const DomainType& Variable<DomainType>::lastDomain() const {
  KALDEN_CHECK(validate());
  return *m_derivedDomain;
}

template <class DomainType>
const DomainType& Variable<DomainType>::derivedDomain() {
  KALDEN_CHECK(validate());
  return getDerivedDomain();
}

template <class DomainType>
const DomainType& Variable<DomainType>::baseDomain() const {
  KALDEN_CHECK(validate());
  return *m_baseDomain;
}

template <class DomainType>
DomainType& Variable<DomainType>::getCurrentDomain() {
  KALDEN_CHECK(validate());
  return *m_derivedDomain;
}

template <class DomainType>
void Variable<DomainType>::handleRestrictBaseDomain(const AbstractDomain& dom) {
  KALDEN_CHECK(validate());
  if (!m_baseDomain->intersect(dom))
    return;
  m_derivedDomain->intersect(*m_baseDomain);
}

template <class DomainType>
const DomainType& Variable<DomainType>::getDerivedDomain() {
  if (!getConstraintEngine()->isPropagating() && pending())
    update();
  if (!provenInconsistent())
    return *m_derivedDomain;
  if (!m_emptyDomain) {
    // A copy carries no listener: closing and emptying it tells nobody.
    m_emptyDomain = copyOf(*m_derivedDomain);
    if (m_emptyDomain->isOpen())
      m_emptyDomain->close();
    m_emptyDomain->empty();
  }
  return *m_emptyDomain;
}

} // namespace KALDEN

#pragma pop_macro("KALDEN_SOURCE")

#endif
