#define KALDEN_SOURCE "ConstraintEngine/component/Domains"

// Enumerated domain: everything that combines it with another domain.

#include "ConstraintEngine/component/EnumeratedDomains.hh"

#include "ConstraintEngine/component/IntervalDomains.hh"
#include "Utils/base/Report.hh"

namespace KALDEN {

bool EnumeratedDomain::intersect(const AbstractDomain& dom) {
  assertSafeComparison(*this, dom);
  if (isOpen() && dom.isClosed()) {
    KALDEN_CHECK_MSG(!dom.isInterval(), "Cannot intersect a closed interval and and open enumeration.");
    const std::set<double>& members = asEnumeration(dom).m_values;
    // A variable's current domain takes only what its base holds: a value the base lacks could
    // not be specified, nor kept once the base is closed.
    const AbstractDomain* base = m_listener.isValid() ? m_listener->enclosingDomain() : nullptr;
    std::set<double> taken;
    if (base != nullptr)
      for (double value : members)
        if (base->isMember(value))
          taken.emplace_hint(taken.end(), value);
    const std::set<double>& kept = base != nullptr ? taken : members;
    // Holding nothing yet and given nothing its base holds, it waits for values, as rules wait on
    // an open domain that holds nothing: closed now, it would fail before its values came.
    if (kept.empty() && !members.empty() && isEmpty())
      return false;
    // A member it lacked is a gain: rules may have narrowed others for want of it, which the
    // widening report gives back, as for an insertion. Rules wait while it holds nothing.
    bool gains = false;
    for (std::set<double>::const_iterator it = kept.begin(); it != kept.end() && !gains && !isEmpty(); ++it)
      gains = !hasMember(*it);
    m_values = kept;
    const HolderWatch watch(*this);
    close();
    if (gains && !watch.holderGone())
      notifyChange(DomainListener::RELAXED);
    return true;
  }
  if (dom.isOpen())
    return false;

  bool changed = false;
  if (dom.isInterval()) {
    const double ub = dom.getUpperBound();
    std::set<double>::iterator it = m_values.begin();
    while (it != m_values.end()) {
      if (dom.isMember(*it)) {
        ++it;
        continue;
      }
      changed = true;
      if (ub < *it) { // every later member lies above the interval too
        m_values.erase(it, m_values.end());
        break;
      }
      it = m_values.erase(it);
    }
  } else {
    const std::set<double>& other = asEnumeration(dom).m_values;
    std::set<double>::iterator it_a = m_values.begin();
    std::set<double>::const_iterator it_b = other.begin();
    while (it_a != m_values.end() && it_b != other.end()) {
      if (sameValue(*it_a, *it_b)) {
        ++it_a;
        ++it_b;
      } else if (*it_a < *it_b) {
        it_a = m_values.erase(it_a);
        changed = true;
      } else {
        ++it_b;
      }
    }
    if (it_a != m_values.end()) {
      m_values.erase(it_a, m_values.end());
      changed = true;
    }
  }
  if (changed)
    notifyNarrowed();
  return changed;
}

bool EnumeratedDomain::intersect(double lb, double ub) {
  KALDEN_CHECK_MSG(!isSymbolic(), "Cannot do bounds based intersection on symbolic domain " << toString());
  // No emptying shortcut for lb > ub: a range computed from reals may come out reversed by a
  // rounding error, and a member within the tolerance of both its bounds stays.
  IntervalDomain range(lb, ub, getDataType());
  return intersect(range);
}

bool EnumeratedDomain::difference(const AbstractDomain& dom) {
  assertSafeComparison(*this, dom);
  bool removed = false;
  std::set<double>::iterator it = m_values.begin();
  while (it != m_values.end()) {
    if (dom.isMember(*it)) {
      it = m_values.erase(it);
      removed = true;
    } else {
      ++it;
    }
  }
  if (isEmpty())
    notifyChange(DomainListener::EMPTIED);
  else if (removed)
    notifyChange(DomainListener::VALUE_REMOVED);
  return removed;
}

bool EnumeratedDomain::equate(AbstractDomain& dom) {
  assertSafeComparison(*this, dom);
  if (dom.isEnumerated() && isClosed() && dom.isClosed())
    return equateClosedEnumerations(asEnumeration(dom));

  // This domain would refuse the interval only after the interval had changed: refuse it first.
  if (isOpen() && dom.isClosed())
    KALDEN_CHECK_MSG(!dom.isInterval(), "Cannot intersect a closed interval and and open enumeration.");
  // Whoever hears of either domain's narrowing may delete the variable holding either.
  const HolderWatch mine(*this);
  const HolderWatch theirs(dom);
  bool changed = dom.intersect(*this);
  if (mine.holderGone() || theirs.holderGone())
    return changed;
  if (changed && dom.isEmpty())
    return true;
  if (intersect(dom)) {
    changed = true;
    if (!mine.holderGone() && !theirs.holderGone() && !isEmpty())
      dom.intersect(*this);
  }
  return changed;
}

bool EnumeratedDomain::equateClosedEnumerations(EnumeratedDomain& dom) {
  KALDEN_CHECK_TEXT(!isEmpty() || !dom.isEmpty(), "!isEmpty() || ! dom.isEmpty()");
  // One walk over both member sets, with this domain's tolerance for both sides: each step
  // either matches a pair or removes the smaller member, so the walk always moves on.
  std::set<double>& other = dom.m_values;
  bool changed_a = false;
  bool changed_b = false;
  std::set<double>::iterator it_a = m_values.begin();
  std::set<double>::iterator it_b = other.begin();
  while (it_a != m_values.end() && it_b != other.end()) {
    if (sameValue(*it_a, *it_b)) {
      ++it_a;
      ++it_b;
    } else if (*it_a < *it_b) {
      it_a = m_values.erase(it_a);
      changed_a = true;
    } else {
      it_b = other.erase(it_b);
      changed_b = true;
    }
  }

  // What one side has beyond the other's last member is not common, unless a side is already
  // empty: then the other keeps what it has.
  if (it_a != m_values.end() && !dom.isEmpty()) {
    m_values.erase(it_a, m_values.end());
    changed_a = true;
  } else if (it_b != other.end() && !isEmpty()) {
    other.erase(it_b, other.end());
    changed_b = true;
  }

  if (changed_a && changed_b) {
    // Whoever hears of this domain's narrowing may delete the variable holding the other.
    const HolderWatch theirs(dom);
    notifyNarrowed();
    if (!theirs.holderGone())
      dom.notifyNarrowed();
  } else if (changed_a) {
    notifyNarrowed();
  } else if (changed_b) {
    dom.notifyNarrowed();
  }
  return changed_a || changed_b;
}

void EnumeratedDomain::relax(const AbstractDomain& dom) {
  KALDEN_CHECK(dom.isEnumerated());
  // An empty domain would otherwise take members of any type unchecked.
  assertSafeComparison(*this, dom);
  if (dom.isEmpty() && dom.isClosed())
    return;
  if (!isEmpty() && !isSubsetOf(dom))
    return;
  m_values = asEnumeration(dom).m_values;
  if (dom.isOpen() && isClosed()) {
    const HolderWatch watch(*this);
    open();
    if (watch.holderGone())
      return;
  }
  notifyChange(DomainListener::RELAXED);
}

void EnumeratedDomain::reset(const AbstractDomain& dom) {
  // Equal member for member, not within the tolerance: a reset gives back the very values of
  // `dom`, not ones a hair beside them.
  if (!(*this != dom) && (!dom.isEnumerated() || m_values == asEnumeration(dom).m_values))
    return;
  KALDEN_CHECK(dom.isEnumerated());
  const bool widens = (isEmpty() || isSubsetOf(dom)) && !(dom.isEmpty() && dom.isClosed());
  // Whoever hears the first report may delete the variable holding the domain (and `dom`, when
  // it is that variable's base domain).
  const HolderWatch watch(*this);
  if (widens) {
    relax(dom);
    if (!watch.holderGone())
      notifyChange(DomainListener::RESET);
    return;
  }
  // Not a widening: the domain still takes dom's members, and says so.
  m_values = asEnumeration(dom).m_values;
  notifyChange(DomainListener::RESET);
  if (!watch.holderGone() && isEmpty() && isClosed())
    notifyChange(DomainListener::EMPTIED);
}

EnumeratedDomain& EnumeratedDomain::operator=(const AbstractDomain& dom) {
  KALDEN_CHECK(dom.isEnumerated());
  assertSafeComparison(*this, dom);
  KALDEN_CHECK_MSG(m_listener.isNoId(), "Can only do direct assigment if not registered with a listener");
  m_values = asEnumeration(dom).m_values;
  return *this;
}

bool EnumeratedDomain::isSubsetOf(const AbstractDomain& dom) const {
  assertSafeComparison(*this, dom);
  if (dom.isOpen())
    return true;
  if (isOpen())
    return false;
  for (double value : m_values)
    if (!dom.isMember(value))
      return false;
  return true;
}

bool EnumeratedDomain::intersects(const AbstractDomain& dom) const {
  if (isOpen() || dom.isOpen())
    return true;
  assertSafeComparison(*this, dom);
  for (double value : m_values)
    if (dom.isMember(value))
      return true;
  return false;
}

bool EnumeratedDomain::operator==(const AbstractDomain& dom) const {
  assertSafeComparison(*this, dom);
  if (dom.isInterval())
    return dom.isFinite() && getSize() == dom.getSize() && isSubsetOf(dom);
  if (!AbstractDomain::operator==(dom))
    return false;
  for (double value : m_values)
    if (!dom.isMember(value))
      return false;
  for (double value : asEnumeration(dom).m_values)
    if (!isMember(value))
      return false;
  return true;
}

bool EnumeratedDomain::operator!=(const AbstractDomain& dom) const { return !operator==(dom); }

} // namespace KALDEN
