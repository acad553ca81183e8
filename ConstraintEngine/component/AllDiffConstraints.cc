#define KALDEN_SOURCE "ConstraintEngine/component/Constraints"

// All-different, its conditional form, and the union of domains they count values with.

#include "ConstraintEngine/component/AllDiffConstraints.hh"

#include "ConstraintEngine/component/BoundsArithmetic.hh"
#include "ConstraintEngine/component/ConstraintsBase.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/EnumeratedDomains.hh"
#include "ConstraintEngine/component/EqualityConstraints.hh"
#include "Utils/Error.hh"
#include "Utils/base/Report.hh"

#include <algorithm>
#include <cmath>
#include <list>
#include <map>
#include <memory>

namespace KALDEN {

namespace {

// Scope positions of the xi start at 1, so 0 means "none recorded".
const unsigned int NONE = 0;

// Whether a domain joins a union value by value: an enumeration or a decided value. A real interval
// narrower than the tolerance holds more than one value: it joins as an interval.
bool listsValues(const AbstractDomain& dom) {
  return dom.isEnumerated() || (dom.isSingleton() && dom.getLowerBound() == dom.getUpperBound());
}

// Whether `test` holds for some value of an enumeration or singleton; enumerations are read
// in place, without building a list.
template <class Test>
bool anyValue(const AbstractDomain& dom, Test test) {
  if (!dom.isEnumerated())
    return test(dom.getSingletonValue());
  if (const EnumeratedDomain* enumeration = dynamic_cast<const EnumeratedDomain*>(&dom)) {
    for (double v : enumeration->getValues())
      if (test(v))
        return true;
    return false;
  }
  std::list<double> values;
  dom.getValues(values);
  for (double v : values)
    if (test(v))
      return true;
  return false;
}

// Whether every value of the domain is an integer.
bool holdsIntegersOnly(const AbstractDomain& dom) {
  if (BoundsArithmetic::isIntegerInterval(dom))
    return true;
  if (!listsValues(dom))
    return false;
  return !anyValue(dom, [](double v) { return v != std::trunc(v); });
}

// Puts the values of `dom` into an open enumeration.
void insertValues(EnumeratedDomain& into, const AbstractDomain& dom) {
  anyValue(dom, [&into](double v) {
    into.insert(v);
    return false;
  });
}

// The new enumeration of u's values followed by d's (both list their values).
EnumeratedDomain* mergedValues(const AbstractDomain& u, const AbstractDomain& d) {
  EnumeratedDomain* merged = new EnumeratedDomain(u.getDataType());
  insertValues(*merged, u);
  insertValues(*merged, d);
  merged->close();
  return merged;
}

// The hull that must replace u to hold d's values too, or null when u holds them already.
// An enumeration would leave out an interval's inner values, and an integer interval a
// non-integer value, so either gives way to the hull even when no bound moves.
AbstractDomain* hullOf(const AbstractDomain& u, const AbstractDomain& d) {
  double dLb, dUb, uLb, uUb;
  d.getBounds(dLb, dUb);
  u.getBounds(uLb, uUb);
  bool moved = false;
  if (dLb < uLb) {
    uLb = dLb;
    moved = true;
  }
  if (uUb < dUb) {
    uUb = dUb;
    moved = true;
  }
  const bool integral = holdsIntegersOnly(u) && holdsIntegersOnly(d);
  const bool uMissesValues = u.isEnumerated() || (BoundsArithmetic::isIntegerInterval(u) && !integral);
  if (!moved && !uMissesValues)
    return nullptr;
  if (integral)
    return new IntervalIntDomain(static_cast<int>(uLb), static_cast<int>(uUb), IntDT::instance());
  return new IntervalDomain(uLb, uUb, FloatDT::instance());
}

// The enumeration a walk grows in place. A closed domain takes no insertion, and reopening one
// to insert would re-check the order of all its members when it closes again, so values go
// straight into the member set here, with the same tolerant test insert() makes.
class GrowingEnumeration : public EnumeratedDomain {
public:
  // The enumeration of u's values followed by d's.
  GrowingEnumeration(const AbstractDomain& u, const AbstractDomain& d) : EnumeratedDomain(u.getDataType()) {
    insertValues(*this, u);
    insertValues(*this, d);
    close();
  }
  // Adds the values of an enumeration or singleton; values that come in ascending order cost
  // no search.
  void add(const AbstractDomain& dom) {
    anyValue(dom, [this](double v) {
      if (!isMember(v))
        m_values.insert(m_values.end(), v);
      return false;
    });
  }
};

/**
 * The union an execution builds while it walks the domains: started as a copy
 * of the first closed domain, widened by the rule of addToUnion(). Once it is
 * an enumeration made here, further values go into it in place, so a walk
 * over many single values costs one insertion per value, not a copy of the
 * union per domain.
 */
class WalkUnion {
public:
  bool started() const { return m_domain != nullptr; }
  void start(const AbstractDomain& dom) {
    m_domain.reset(dom.copy());
    m_ownEnumeration = nullptr;
  }

  void add(const AbstractDomain& dom) {
    if (listsValues(*m_domain) && listsValues(dom)) {
      if (m_ownEnumeration != nullptr) {
        m_ownEnumeration->add(dom);
        return;
      }
      m_ownEnumeration = new GrowingEnumeration(*m_domain, dom);
      m_domain.reset(m_ownEnumeration);
      return;
    }
    if (AbstractDomain* hull = hullOf(*m_domain, dom)) {
      m_domain.reset(hull);
      m_ownEnumeration = nullptr;
    }
  }

  // Whether the union holds fewer values than `count` domains need to differ pairwise.
  bool tooSmallFor(unsigned int count) const {
    return m_domain->isFinite() && static_cast<long long>(m_domain->getSize()) < static_cast<long long>(count);
  }

private:
  std::unique_ptr<AbstractDomain> m_domain;
  GrowingEnumeration* m_ownEnumeration = nullptr; // m_domain, when it is an enumeration made here
};

// Whether a decided value v (the singleton domain `decided`) must leave `other`: an enumeration
// holding it, or a finite interval with v at one end. An interval holding v strictly inside
// keeps it, since an interval cannot be split. A real interval is finite only when narrower than
// the tolerance, and holds more than one value: it loses v only where it holds it (what lies within
// the tolerance of v), so that each removal changes it.
bool mustLose(const AbstractDomain& decided, double v, const AbstractDomain& other) {
  if (!other.isClosed() || !other.isFinite())
    return false;
  if (other.isEnumerated())
    return other.isMember(v);
  return (decided.isMember(other.getLowerBound()) || decided.isMember(other.getUpperBound())) &&
         (!BoundsArithmetic::isRealInterval(other) || other.isMember(v));
}

// Takes from `other` what equals both ends of `narrow`, a real interval narrower than the
// tolerance, which holds more than one value (as the inequality does); true when `other` changed.
// The change is measured: a narrowing by less than the tolerance may leave an interval as it was.
bool takeByBothEnds(const AbstractDomain& narrow, AbstractDomain& other) {
  if (!other.isClosed() || !other.isFinite())
    return false;
  const double lb = other.getLowerBound(), ub = other.getUpperBound();
  const int size = other.getSize();
  NotEqualConstraint::checkAndRemove(narrow, other);
  return other.isEmpty() || other.getSize() != size || other.getLowerBound() != lb || other.getUpperBound() != ub;
}

/**
 * Scope positions by the values at which they may lose a decided value:
 * each member of an enumeration and each end of an interval. The passes
 * look a decided value up here instead of testing every position, so an
 * execution costs in proportion to the values held, not to the pairs of
 * positions. An interval's new ends are added when it loses a value; stale
 * entries are harmless, since every candidate is tested in full.
 */
class PositionsByValue {
public:
  void add(const AbstractDomain& dom, unsigned int position) {
    if (!dom.isClosed() || dom.isEmpty())
      return;
    if (dom.isEnumerated()) {
      anyValue(dom, [this, position](double x) {
        m_entries.emplace(x, position);
        return false;
      });
      return;
    }
    double lb, ub;
    dom.getBounds(lb, ub);
    m_entries.emplace(lb, position);
    if (ub != lb)
      m_entries.emplace(ub, position);
  }

  // The positions holding an entry less than `reach` away from v, ascending, each once.
  void near(double v, double reach, std::vector<unsigned int>& positions) const {
    positions.clear();
    for (auto it = m_entries.upper_bound(v - reach); it != m_entries.end() && it->first < v + reach; ++it)
      positions.push_back(it->second);
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  }

private:
  std::multimap<double, unsigned int> m_entries;
};

} // namespace

// ---------------------------------------------------------------- addToUnion

void addToUnion(AbstractDomain** unionOfDomains, const AbstractDomain& domToAdd) {
  KALDEN_CHECK(unionOfDomains != 0 && *unionOfDomains != 0);
  KALDEN_CHECK(!(*unionOfDomains)->isEmpty() && !(*unionOfDomains)->isOpen());
  KALDEN_CHECK(!domToAdd.isEmpty() && !domToAdd.isOpen());
  AbstractDomain* newUnion = listsValues(**unionOfDomains) && listsValues(domToAdd)
                                 ? mergedValues(**unionOfDomains, domToAdd)
                                 : hullOf(**unionOfDomains, domToAdd);
  if (newUnion == nullptr)
    return;
  delete *unionOfDomains;
  *unionOfDomains = newUnion;
}

// ---------------------------------------------------------------- CondAllDiffConstraint

CondAllDiffConstraint::CondAllDiffConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                             const Id<ConstraintEngine>& constraintEngine,
                                             const std::vector<Id<ConstrainedVariable> >& variables)
    : Constraint(name, propagatorName, constraintEngine, variables),
      ARG_COUNT(static_cast<unsigned int>(m_variables.size())) {
  ConstraintShape::checkConditionalScope(*this);
}

CondAllDiffConstraint::~CondAllDiffConstraint() {}

void CondAllDiffConstraint::handleExecute() {
  Domains doms(ARG_COUNT);
  for (unsigned int i = 0; i < ARG_COUNT; ++i)
    doms[i] = &getCurrentDomain(m_variables[i]);
  AbstractDomain& boolDom = *doms[0];
  KALDEN_CHECK(!boolDom.isOpen());
  unsigned int firstClosed = NONE, firstOpen = NONE;
  decide(doms, firstClosed, firstOpen);
  if (boolDom.isEmpty() || !boolDom.isSingleton() || firstClosed == NONE)
    return;
  if (boolDom.getSingletonValue() == 0.0) {
    // All different after all, while b says they are not: b can hold no value.
    if (firstOpen == NONE && pairwiseDisjoint(byLeastValue(doms)))
      boolDom.remove(0.0);
    return;
  }
  pruneDecidedValues(doms, firstClosed);
}

void CondAllDiffConstraint::decide(const Domains& doms, unsigned int& firstClosed, unsigned int& firstOpen) {
  AbstractDomain& boolDom = *doms[0];
  const unsigned int size = static_cast<unsigned int>(doms.size());
  unsigned int added = 0; // closed domains in the union
  WalkUnion seen;
  for (unsigned int i = 1; i < size; ++i) {
    const AbstractDomain& dom = *doms[i];
    if (dom.isOpen()) {
      if (firstOpen == NONE)
        firstOpen = i;
      continue;
    }
    if (firstClosed == NONE)
      firstClosed = i;
    if (!seen.started()) {
      seen.start(dom);
      added = 1;
      continue;
    }
    seen.add(dom);
    ++added;
    // Fewer values than domains: two of them must share one.
    if (seen.tooSmallFor(added)) {
      boolDom.remove(1.0);
      if (boolDom.isEmpty())
        return;
    }
  }
  // A decided b needs no verdict here: a true one prunes, a false one is checked by the caller.
  if (boolDom.isEmpty() || boolDom.isSingleton())
    return;
  // Judged pair by pair, not against the union: a hull over an interval met early holds values
  // no domain holds, and would find an overlap in some orders of the scope only.
  const std::vector<const AbstractDomain*> sorted = byLeastValue(doms);
  if (firstOpen == NONE && pairwiseDisjoint(sorted))
    boolDom.remove(0.0);
  else if (twoMustBeEqual(sorted))
    boolDom.remove(1.0); // a true b finds such a pair as it prunes (all-different stays as fast)
}

std::vector<const AbstractDomain*> CondAllDiffConstraint::byLeastValue(const Domains& doms) {
  std::vector<const AbstractDomain*> sorted;
  sorted.reserve(doms.size());
  for (std::size_t i = 1; i < doms.size(); ++i)
    if (doms[i]->isClosed() && !doms[i]->isEmpty())
      sorted.push_back(doms[i]);
  typedef BoundsArithmetic BA;
  std::sort(sorted.begin(), sorted.end(),
            [](const AbstractDomain* a, const AbstractDomain* b) { return BA::spanLow(*a) < BA::spanLow(*b); });
  return sorted;
}

bool CondAllDiffConstraint::twoMustBeEqual(const std::vector<const AbstractDomain*>& sorted) {
  // The union counts values in scope order, and a hull over reals met first counts none: two
  // singletons equal by the tolerance (0.3 and [0.299998, 0.30000001]) are found here wherever
  // they stand. Sorted by least value, a pair lies less than 1, the coarsest tolerance, apart.
  typedef BoundsArithmetic BA;
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    if (!sorted[i]->isSingleton())
      continue;
    for (std::size_t j = i + 1; j < sorted.size() && BA::spanLow(*sorted[j]) - BA::spanLow(*sorted[i]) < 1.0; ++j)
      if (sorted[j]->isSingleton() && BA::singletonsEqual(*sorted[i], *sorted[j]))
        return true;
  }
  return false;
}

bool CondAllDiffConstraint::pairwiseDisjoint(const std::vector<const AbstractDomain*>& sorted) {
  // Each pair is read from both sides, since a member is looked up by the other domain's
  // tolerance; sorted by least value, a pair sharing one lies less than 1 apart.
  typedef BoundsArithmetic BA;
  for (std::size_t i = 0; i < sorted.size(); ++i)
    for (std::size_t j = i + 1; j < sorted.size() && BA::spanLow(*sorted[j]) - BA::spanHigh(*sorted[i]) < 1.0; ++j)
      if (BA::shareValue(*sorted[i], *sorted[j]) || BA::shareValue(*sorted[j], *sorted[i]))
        return false;
  return true;
}

void CondAllDiffConstraint::pruneDecidedValues(const Domains& doms, unsigned int firstClosed) {
  const unsigned int size = static_cast<unsigned int>(doms.size());
  PositionsByValue index;
  for (unsigned int j = firstClosed; j < size; ++j)
    index.add(*doms[j], j);
  std::vector<unsigned int> candidates;
  // A removal made while the first closed position is propagated shrinks only positions the
  // same pass visits later; one made from a later position may concern an earlier one.
  bool changed = true;
  while (changed) {
    changed = false;
    for (unsigned int i = firstClosed; i < size; ++i) {
      const AbstractDomain& decided = *doms[i];
      if (!decided.isClosed() || !decided.isSingleton())
        continue;
      const double v = decided.getSingletonValue();
      const bool point = ConstraintShape::isDecided(decided);
      // Every value a singleton holds lies within twice its tolerance of v, and so does every
      // member of an enumeration that holds v; no built-in tolerance exceeds 1.
      index.near(v, 2.0 * std::max(1.0, decided.minDelta()), candidates);
      for (unsigned int j : candidates) {
        if (j == i)
          continue;
        AbstractDomain& other = *doms[j];
        if (point) {
          if (!mustLose(decided, v, other))
            continue;
          other.remove(v);
        } else if (!takeByBothEnds(decided, other)) {
          continue;
        }
        if (other.isEmpty())
          return;
        if (other.isInterval())
          index.add(other, j);
        if (i > firstClosed)
          changed = true;
      }
    }
  }
}

// ---------------------------------------------------------------- AllDiffConstraint

namespace {

// The engine, once the scope's size is checked: before the boolean is built, so that a refused
// scope builds nothing. The conditional member counts the boolean among its variables; the
// client's count is checked here, and the message says why the condition counts one more.
const Id<ConstraintEngine>& checkedEngine(const Constraint& constraint, const Id<ConstraintEngine>& engine) {
  ConstraintShape::checkScopeSize(constraint, constraint.getScope().size() + 1 > 2, "ARG_COUNT > 2", 2, true,
                                  "ARG_COUNT counts a hidden boolean besides them.");
  return engine;
}

} // namespace

AllDiffConstraint::AllDiffConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                     const Id<ConstraintEngine>& constraintEngine,
                                     const std::vector<Id<ConstrainedVariable> >& variables)
    : CompositeConstraint(name, propagatorName, constraintEngine, variables),
      m_interimVariable(checkedEngine(*this, m_constraintEngine), BoolDomain(true, BoolDT::instance()), true, false,
                        "Internal:AllDiff:cond", Id<Entity>(getId()), ConstrainedVariable::NO_INDEX),
      m_condAllDiffConstraint() {
  std::vector<Id<ConstrainedVariable> > condAllDiffScope;
  condAllDiffScope.reserve(m_variables.size() + 1);
  condAllDiffScope.push_back(m_interimVariable.getId());
  condAllDiffScope.insert(condAllDiffScope.end(), m_variables.begin(), m_variables.end());
  KALDEN_CHECK(m_variables.size() + 1 == condAllDiffScope.size());
  // A refused scope fails in this constructor, which then leaves nothing registered.
  m_condAllDiffConstraint =
      (new CondAllDiffConstraint("CondAllDiff", propagatorName, m_constraintEngine, condAllDiffScope))->getId();
  membersBuilt();
}

AllDiffConstraint::~AllDiffConstraint() {
  NoThrowScope guard;
  discardInDestructor();
}

CompositeConstraint::Members AllDiffConstraint::members() {
  return Members{{&m_interimVariable}, {m_condAllDiffConstraint}};
}

} // namespace KALDEN
