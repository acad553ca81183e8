#define KALDEN_SOURCE "ConstraintEngine/base/ConstrainedVariable"

// What clients do to a variable: specify, reset, restrict, close, open, insert, remove, relax.

#include "ConstraintEngine/base/ConstrainedVariable.hh"

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/component/ConstraintsBase.hh"
#include "ConstraintEngine/component/EnumeratedDomains.hh"
#include "Utils/base/Report.hh"

#include <algorithm>
#include <list>
#include <memory>
#include <set>
#include <vector>

namespace KALDEN {

namespace {

// The gate refuses a relaxation of an active variable while the engine propagates, but the
// engine hears of it only once the domain has widened: the call is judged first, so that a
// refused one changes nothing.
ConstraintEngine::Deed widening(const ConstrainedVariable& var, bool widens) {
  return widens && var.isActive() ? ConstraintEngine::WIDEN : ConstraintEngine::CHANGE;
}

// With violations allowed, a value of the base that the current domain lacks is specified after
// a reset: the call widens.
bool specifyResets(const ConstrainedVariable& var, double value) {
  const AbstractDomain& base = var.baseDomain();
  return base.isMember(value) && !var.lastDomain().isMember(base.translateNumber(value)) &&
         var.getConstraintEngine()->getAllowViolations();
}

// Whether the domain holds the value among its own members: an open string domain answers every
// value a member, though it holds only what was inserted.
bool holds(const AbstractDomain& dom, double value) {
  if (dom.isClosed() || !dom.isEnumerated())
    return dom.isMember(value);
  const EnumeratedDomain* enumeration = dynamic_cast<const EnumeratedDomain*>(&dom);
  return enumeration != nullptr ? enumeration->EnumeratedDomain::isMember(value) : dom.isMember(value);
}

// Whether the base holds every value of `domain`: an open base answers every domain a superset,
// so an enumeration's values are asked one by one.
bool withinBase(const AbstractDomain& domain, const AbstractDomain& base) {
  if (&domain == &base)
    return true;
  if (!domain.isSubsetOf(base))
    return false;
  if (base.isClosed() || !domain.isEnumerated() || domain.isEmpty())
    return true;
  std::list<double> values;
  domain.getValues(values);
  return std::all_of(values.begin(), values.end(), [&base](double value) { return base.isMember(value); });
}

// Whether the domain holds the value itself: an interval between its very bounds, an enumeration
// as a member, not only a bound or member within the tolerance of it.
bool holdsExactly(const AbstractDomain& dom, double value) {
  if (!dom.isEnumerated())
    return dom.getLowerBound() <= value && value <= dom.getUpperBound();
  return EnumeratedDomain::asEnumeration(dom).getValues().count(value) != 0;
}

// A value the current domain holds only within the tolerance moves it outward, however little:
// what rules took from others for want of the value may no longer follow, as after a reset.
bool specifyMoves(const ConstrainedVariable& var, double value) {
  const AbstractDomain& base = var.baseDomain();
  const double held = base.translateNumber(value);
  const AbstractDomain& current = var.lastDomain();
  // Most values are held exactly: told apart before the tolerant tests.
  if (holdsExactly(current, held))
    return false;
  return base.isMember(value) && holds(current, held);
}

} // namespace

template <class Change>
bool ConstrainedVariable::admitsBaseAfter(const Change& change) const {
  std::unique_ptr<AbstractDomain> next;
  for (const ConstraintEntry& entry : m_constraints) {
    if (!entry.first.isValid() || entry.first->isDiscarded() || !entry.first->judgesBase(entry.second))
      continue;
    if (next == nullptr) {
      next.reset(baseDomain().copy());
      change(*next);
    }
    if (!entry.first->admitsBase(entry.second, *next))
      return false;
  }
  return true;
}

void ConstrainedVariable::specify(double value) {
  // A discarded variable has left its engine, which may be gone: nothing of it is read.
  if (refusesDiscarded("specify"))
    return;
  const EngineCall call(m_constraintEngine,
                        widening(*this, specifyResets(*this, value) || specifyMoves(*this, value)));
  if (!call)
    return;
  KALDEN_TRACE("ConstrainedVariable:specify", "specifying value:" << toString());
  KALDEN_CHECK_OR_RETURN(canBeSpecified());
  if (!internalSpecify(value))
    return;
  KALDEN_TRACE("ConstrainedVariable:specify", "specified value:" << toString());
}

bool ConstrainedVariable::internalSpecify(double value) {
  KALDEN_TRACE("ConstrainedVariable:internalSpecify", "specifying value:" << toString());
  KALDEN_CHECK_TEXT_MSG_OR_RETURN(baseDomain().isMember(value), "baseDomain().isMember(singletonValue)",
                                  value << " not in " << baseDomain().toString(), false);
  KALDEN_CHECK_MSG_OR_RETURN(isActive(), toString(), false);
  // An integer domain holds a real a hair beside an integer as that integer: the integer is what
  // is specified, so that the variable reads and restores the value its domain holds.
  value = baseDomain().translateNumber(value);
  // Made before anything changes, so that a failure to make it leaves the variable as it was.
  Extras& more = extras();
  // Whoever hears of a change below may delete the variable: nothing of it is touched after that.
  const LifeWatch<ConstrainedVariable> watch(m_id);
  if (!getCurrentDomain().isMember(value) && m_constraintEngine->getAllowViolations()) {
    reset();
    if (watch.gone())
      return false;
    KALDEN_TRACE("ConstrainedVariable:internalSpecify", "after reset():" << toString());
  }
  // Widened first, as by the reset above, then narrowed to the value.
  if (specifyMoves(*this, value)) {
    heedMovedValue(true);
    if (watch.gone())
      return false;
  }
  m_specifiedFlag = true;
  more.specifiedValue = value;
  m_constraintEngine->noteModelChange();
  AbstractDomain& current = getCurrentDomain();
  if (current.isMember(value)) {
    current.set(value);
  } else if (current.isOpen()) {
    // Specified, it holds its value or nothing for good: closing first (which empties an empty domain).
    current.close();
    if (!watch.gone() && !current.isEmpty())
      current.empty();
  } else {
    current.empty();
  }
  if (watch.gone())
    return false;
  KALDEN_TRACE("ConstrainedVariable:internalSpecify", "specified value:" << toString());
  KALDEN_AUDIT(isValid());
  return true;
}

void ConstrainedVariable::specifyValue(PSVarValue& v) {
  if (refusesDiscarded("specify"))
    return;
  const EngineCall call(m_constraintEngine, ConstraintEngine::CHANGE);
  if (!call)
    return;
  const PSVarValue& value = v;
  KALDEN_AUDIT(isValid());
  KALDEN_CHECK_OR_RETURN(getType() == v.getType());
  KALDEN_TRACE("ConstrainedVariable:specify", "Specifying var:" << toString() << " to value:" << value.toString());
  if (isSpecified() && getSpecifiedValue() == value.asDouble()) {
    KALDEN_TRACE("ConstrainedVariable:specify",
                 "Tried to specify to same value, so bailing out without doing any work");
    return;
  }
  // A listener may delete the variable while it hears of the change or during the propagation:
  // the engine is reached through a copy of its handle, and the variable only while it is there.
  const Id<ConstraintEngine> engine = m_constraintEngine;
  const LifeWatch<ConstrainedVariable> watch(m_id);
  specify(value.asDouble());
  if (!watch.gone())
    KALDEN_TRACE("ConstrainedVariable:specify",
                 "After specify for var:" << toString() << " to value:" << value.toString());
  // Its run starts when the outermost call returns (a run under way takes the change in).
  engine->oweRun();
}

void ConstrainedVariable::reset() { reset(internal_baseDomain()); }

void ConstrainedVariable::reset(const AbstractDomain& domain) {
  if (refusesDiscarded("reset"))
    return;
  // Before the closed singleton base is let be: inside a run an emptied variable is refused too.
  const EngineCall call(m_constraintEngine, widening(*this, widensCurrent(domain)));
  if (!call)
    return;
  KALDEN_CHECK_TEXT_MSG_OR_RETURN(withinBase(domain, internal_baseDomain()),
                                  "domain.isSubsetOf(internal_baseDomain())",
                                  domain.toString() << " not in " << internal_baseDomain().toString());
  const AbstractDomain& base = internal_baseDomain();
  // A decided base keeps its value, unless a specified value the base lost emptied it. A real
  // interval narrower than the tolerance holds more than one: the variable widens to it.
  const bool lostSpecifiedValue = m_specifiedFlag && !base.isMember(specifiedValueField());
  if (ConstraintShape::isDecided(base) && !lostSpecifiedValue) {
    // The value stays, but no longer as the client's: reopened, the variable takes what the base
    // gains. One specified within the tolerance of the base's is not it: the base's comes back.
    if (m_specifiedFlag)
      m_constraintEngine->noteModelChange();
    m_specifiedFlag = false;
    const AbstractDomain& current = lastDomain();
    if (current.isEmpty() || domain.isEmpty())
      return;
    if (widensCurrent(domain)) {
      const LifeWatch<ConstrainedVariable> watch(m_id);
      heedMovedValue(false);
      if (!watch.gone())
        getCurrentDomain().reset(domain);
      return;
    }
    // Narrowed by a base restriction that moved no bound by as much as the tolerance, it may hold
    // the value and a hair beside: the value alone is left.
    const double value = domain.getSingletonValue();
    if (current.getLowerBound() != value || current.getUpperBound() != value)
      getCurrentDomain().set(value);
    return;
  }
  // Refused, it changes nothing, the record of the last answer included.
  if (!checkIntervalWidens(domain))
    return;
  if (m_specifiedFlag)
    m_constraintEngine->noteModelChange();
  m_specifiedFlag = false;
  getCurrentDomain().reset(domain);
}

void ConstrainedVariable::relax() {
  if (refusesDiscarded("relax"))
    return;
  // Even one at its base domain: the run would hear of it, and it might widen what others narrowed.
  const EngineCall call(m_constraintEngine, widening(*this, true));
  if (!call)
    return;
  if (m_specifiedFlag) {
    // A specified value that the base domain has lost since cannot come back: the variable
    // stays empty until it is reset.
    if (!baseDomain().isMember(specifiedValueField())) {
      if (!getCurrentDomain().isEmpty())
        getCurrentDomain().empty();
      return;
    }
    getCurrentDomain().relax(specifiedValueField());
  } else {
    getCurrentDomain().relax(baseDomain());
  }
}

void ConstrainedVariable::restrictBaseDomain(const AbstractDomain& dom) {
  if (refusesDiscarded("restrict the base domain of"))
    return;
  // Restricted to one value, it is specified to it (see below).
  const bool specifies = ConstraintShape::isDecided(dom) && !m_specifiedFlag && canBeSpecified();
  const EngineCall call(m_constraintEngine,
                        widening(*this, specifies && (specifyResets(*this, dom.getSingletonValue()) ||
                                                      specifyMoves(*this, dom.getSingletonValue()))));
  if (!call)
    return;
  KALDEN_CHECK_MSG_OR_RETURN(isActive(), toString());
  // Bounds may overlap where no value is shared (a real range between two integers): the base
  // domain must keep a value, or it would be left empty before the refusal.
  KALDEN_CHECK_TEXT_MSG_OR_RETURN(dom.intersects(baseDomain()) && keepsValueWithin(dom),
                                  "dom.intersects(baseDomain())",
                                  dom.toString() << " not intersecting " << baseDomain().toString());
  // Refused before the base narrows: an emptied current domain cannot be intersected.
  KALDEN_CHECK_TEXT_MSG_OR_RETURN(lastDomain().isOpen() || !lastDomain().isEmpty(), "isOpen() || !isEmpty()",
                                  "Cannot restrict the base domain of " << m_name.toString()
                                                                        << " while its current domain is empty.");
  if (baseDomain().isSubsetOf(dom) && (isClosed() || dom.isOpen()))
    return;
  if (!admitsBaseAfter([&dom](AbstractDomain& base) { base.intersect(dom); }))
    return;
  KALDEN_TRACE("ConstrainedVariable:restrictBaseDomain",
               toString() << " restricted from " << baseDomain().toString() << " intersecting " << dom.toString());
  // Whoever hears of a change may delete the variable: after each, it is touched only if still there.
  const Id<ConstrainedVariable> self = m_id;
  const LifeWatch<ConstrainedVariable> watch(self);
  // An open base takes a closed enumeration's members whole: those it lacked are gained.
  std::list<double> gained;
  if (baseDomain().isOpen() && dom.isClosed() && dom.isEnumerated()) {
    dom.getValues(gained);
    gained.remove_if([this](double value) { return holds(baseDomain(), value); });
  }
  m_constraintEngine->noteModelChange();
  handleRestrictBaseDomain(dom);
  if (watch.gone())
    return;
  // A closed current domain was narrowed for want of them: like an insertion, the gain gives
  // back what was narrowed. An open one took them from the base, and reported it.
  AbstractDomain& current = getCurrentDomain();
  if (!m_specifiedFlag && current.isClosed() && !current.isEmpty() &&
      std::any_of(gained.begin(), gained.end(), [&current](double value) { return !current.isMember(value); })) {
    current.relax(baseDomain());
    if (watch.gone())
      return;
  }
  // Only a decided domain names a value to specify: a narrow real interval holds more than one.
  // Judged again from the state the listeners left: one that switched the variable off or took
  // the value from its base leaves nothing to specify, the narrowed base standing.
  if (specifies && !m_specifiedFlag && isActive() && holds(baseDomain(), dom.getSingletonValue())) {
    specify(dom.getSingletonValue());
    if (watch.gone())
      return;
  }
  const Id<ConstraintEngine> engine = m_constraintEngine;
  engine->notify(self, DomainListener::BOUNDS_RESTRICTED);
  if (watch.gone())
    return;
  // A copy: a constraint told here may be deleted or may link others by whoever hears of its redundancy.
  const std::vector<ConstraintEntry> entries(m_constraints.begin(), m_constraints.end());
  for (const ConstraintEntry& entry : entries) {
    if (entry.first.isValid() && !entry.first->isDiscarded())
      entry.first->notifyBaseDomainRestricted(self);
    if (watch.gone())
      return;
  }
}

void ConstrainedVariable::close() {
  if (refusesDiscarded("close"))
    return;
  const EngineCall call(m_constraintEngine, ConstraintEngine::CHANGE);
  if (!call)
    return;
  KALDEN_CHECK_MSG_OR_RETURN(internal_baseDomain().isOpen(),
                             "Attempted to close a variable but the base domain is already closed.");
  if (!admitsBaseAfter([](AbstractDomain& base) { base.close(); }))
    return;
  AbstractDomain& base = internal_baseDomain();
  base.close();
  m_constraintEngine->noteModelChange();
  AbstractDomain& current = getCurrentDomain();
  if (current.isOpen()) {
    const LifeWatch<ConstrainedVariable> watch(m_id);
    current.close();
    // Whoever hears of the closing may open the base again: that opening stands.
    if (watch.gone() || base.isOpen())
      return;
  }
  // An open string base answers every label a member: the current domain may hold labels a rule
  // gave it that the closed base lacks, which go.
  if (current.isEnumerated() && !current.isEmpty() && !current.isSubsetOf(base))
    current.intersect(base);
}

void ConstrainedVariable::open() {
  if (refusesDiscarded("open"))
    return;
  KALDEN_CHECK_OR_RETURN(internal_baseDomain().isClosed());
  // An interval has no open state: opened, it could no longer say whether it is empty.
  KALDEN_CHECK_TEXT_MSG_OR_RETURN(internal_baseDomain().isEnumerated(), "internal_baseDomain().isEnumerated()",
                                  "Cannot open " << m_name.toString() << " (key " << getKey()
                                                 << "): an interval is always closed.");
  if (!admitsBaseAfter([](AbstractDomain& base) { base.open(); }))
    return;
  // A specified enumeration keeps its value closed: an open one would take another domain's members.
  const auto keepsCurrent = [this] { return m_specifiedFlag && lastDomain().isEnumerated(); };
  // The engine refuses the widening while it propagates: refused here, before anything opens.
  const EngineCall call(m_constraintEngine, widening(*this, !keepsCurrent()));
  if (!call)
    return;
  AbstractDomain& base = internal_baseDomain();
  base.open();
  m_constraintEngine->noteModelChange();
  // Whoever hears of a constraint coming back, or of the opening, may delete the variable.
  const LifeWatch<ConstrainedVariable> watch(m_id);
  // Before the current domain widens, so that the relaxation also reaches through a constraint
  // that was retired over the closed base.
  if (!tellConstraints(&Constraint::notifyBaseDomainOpened, watch))
    return;
  // Whoever hears of a constraint coming back, or of the opening, may specify the variable: its
  // value stands as one specified before. One that closed the base again (closing it, or
  // restricting it to a closed domain) left the current domain within it: it stays closed.
  if (keepsCurrent() || base.isClosed())
    return;
  // Specified meanwhile (by a listener told of the opening), it keeps its value closed.
  AbstractDomain& current = getCurrentDomain();
  if (current.isClosed() && !m_specifiedFlag) {
    current.open();
    if (watch.gone() || keepsCurrent())
      return;
  }
  // Opening relaxes the variable itself too: what narrowed it may no longer hold. Specified
  // meanwhile, it relaxes to its value, which stands. Open string domains compare equal whatever
  // they hold: what the current domain lacks is judged member by member.
  if (m_specifiedFlag)
    relax();
  else if (current.isEnumerated() && (current != base || widensCurrent(base)))
    current.relax(base);
}

void ConstrainedVariable::insert(double value) {
  if (refusesDiscarded("insert into"))
    return;
  KALDEN_CHECK_MSG_OR_RETURN(internal_baseDomain().isOpen(),
                             "Can't insert a member into a variable with a closed base domain.");
  if (!admitsBaseAfter([value](AbstractDomain& base) { base.insert(value); }))
    return;
  const bool widens = !m_specifiedFlag && !holds(getCurrentDomain(), value);
  const EngineCall call(m_constraintEngine, widening(*this, widens));
  if (!call)
    return;
  internal_baseDomain().insert(value);
  m_constraintEngine->noteModelChange();
  if (!widens)
    return;
  // A rule may have narrowed the current domain, or others, for want of the value, or removed
  // members before (closing the domain or not): the value comes back with all that was
  // narrowed, as relax() gives it back.
  relax();
}

void ConstrainedVariable::remove(double value) {
  if (refusesDiscarded("remove from"))
    return;
  // From an open base a removal narrows nothing for good: rules took or decided things from the
  // base's values (the members of a closed domain it met, a test over them), which a variable
  // made over the smaller base would not hold. It gives them back, like any widening.
  const bool widens =
      internal_baseDomain().isOpen() && (internal_baseDomain().isMember(value) || getCurrentDomain().isMember(value));
  const EngineCall call(m_constraintEngine, widening(*this, widens));
  if (!call)
    return;
  // An interval loses only an end: a value inside it would split it. Refused before anything goes.
  const AbstractDomain& base = internal_baseDomain();
  KALDEN_CHECK_TEXT_MSG_OR_RETURN(base.isEnumerated() || base.isSingleton() || !base.isMember(value) ||
                                      base.eq(value, base.getLowerBound()) || base.eq(value, base.getUpperBound()),
                                  ALWAYS_FAILS_CONDITION,
                                  "Attempted to remove an element from within the interval. Wuuld require splitting.");
  internal_baseDomain().remove(value);
  m_constraintEngine->noteModelChange();
  const LifeWatch<ConstrainedVariable> watch(m_id);
  if (getCurrentDomain().isMember(value)) {
    getCurrentDomain().remove(value);
    if (watch.gone())
      return;
  }
  keepWithinBase();
  if (watch.gone())
    return;
  if (!widens)
    return;
  if (!m_specifiedFlag && getCurrentDomain() != internal_baseDomain()) {
    getCurrentDomain().reset(internal_baseDomain());
    if (watch.gone())
      return;
  }
  // Switched off inside a run, it widens what its constraints narrowed once the run allows.
  const Id<ConstraintEngine> engine = m_constraintEngine;
  engine->relaxFromWidened(m_id);
}

bool ConstrainedVariable::widensCurrent(const AbstractDomain& domain) const {
  const AbstractDomain& current = lastDomain();
  if (domain.isOpen() && current.isClosed())
    return true;
  if (domain.isEmpty())
    return false;
  if (current.isEmpty())
    return true;
  // A bound or member further out widens, however little: the tolerant subset test would take one
  // within the tolerance of the current domain for one it holds. An open enumeration's subset test
  // says nothing of its members either: they are compared one by one.
  if (current.isInterval())
    return domain.getLowerBound() < current.getLowerBound() || current.getUpperBound() < domain.getUpperBound();
  if (!domain.isEnumerated())
    return !domain.isSubsetOf(current);
  const std::set<double>& members = EnumeratedDomain::asEnumeration(current).getValues();
  const std::set<double>& given = EnumeratedDomain::asEnumeration(domain).getValues();
  return !std::includes(members.begin(), members.end(), given.begin(), given.end());
}

bool ConstrainedVariable::tellConstraints(void (Constraint::*notice)(), const LifeWatch<ConstrainedVariable>& watch) {
  // A copy: whoever hears may add or remove constraints of the variable.
  const std::vector<ConstraintEntry> entries(m_constraints.begin(), m_constraints.end());
  for (const ConstraintEntry& entry : entries) {
    if (entry.first.isValid() && !entry.first->isDiscarded())
      (entry.first.operator->()->*notice)();
    if (watch.gone())
      return false;
  }
  return true;
}

void ConstrainedVariable::heedMovedValue(bool relaxes) {
  // Whoever hears of a constraint coming back, or of the relaxation, may delete the variable.
  const Id<ConstrainedVariable> self = m_id;
  const LifeWatch<ConstrainedVariable> watch(self);
  if (!tellConstraints(&Constraint::notifyValueMoved, watch))
    return;
  if (relaxes) {
    const Id<ConstraintEngine> engine = m_constraintEngine;
    engine->relaxFromWidened(self);
  }
}

bool ConstrainedVariable::checkIntervalWidens(const AbstractDomain& domain) const {
  const AbstractDomain& current = lastDomain();
  if (!current.isInterval() || current.isEmpty() || domain.isEmpty())
    return true;
  // The interval's own check, made before the specified flag is cleared rather than half-way.
  const double lb = domain.getLowerBound();
  const double ub = domain.getUpperBound();
  KALDEN_CHECK_TEXT_MSG_OR_RETURN(current.leq(lb, current.getLowerBound()) && current.leq(current.getUpperBound(), ub),
                                  "isEmpty() || (leq(lb, m_lb) && leq(m_ub, ub))",
                                  lb << " >=" << current.getLowerBound() << " OR " << current.getUpperBound()
                                     << " >= " << ub,
                                  false);
  return true;
}

void ConstrainedVariable::keepWithinBase() {
  // A base narrower than the tolerance empties as a whole, though its current domain may hold a
  // value that is not within the tolerance of the one removed: that value goes with it.
  const AbstractDomain& base = internal_baseDomain();
  AbstractDomain& current = getCurrentDomain();
  if (base.isOpen() || current.isOpen() || current.isEmpty())
    return;
  if (base.isEmpty())
    current.empty();
  else if (!current.isSubsetOf(base))
    current.intersect(base);
}

bool ConstrainedVariable::keepsValueWithin(const AbstractDomain& dom) const {
  const std::unique_ptr<AbstractDomain> narrowed(baseDomain().copy());
  narrowed->intersect(dom);
  return narrowed->isOpen() || !narrowed->isEmpty();
}

void ConstrainedVariable::touch() {
  if (refusesDiscarded("touch"))
    return;
  const EngineCall call(m_constraintEngine, ConstraintEngine::CHANGE);
  if (!call)
    return;
  getCurrentDomain().touch();
}

void ConstrainedVariable::handleBase(const AbstractDomain&) {}

void ConstrainedVariable::handleSpecified(double) {}

void ConstrainedVariable::handleReset() {}

void ConstrainedVariable::deactivate() {
  if (refusesDiscarded("deactivate"))
    return;
  const EngineCall call(m_constraintEngine, ConstraintEngine::SWITCH, getKey());
  if (!call)
    return;
  KALDEN_CHECK_OR_RETURN(!Entity::isPurging());
  ++m_deactivationRefCount;
  m_constraintEngine->noteModelChange();
  // A copy: the engine's propagators and listeners hear of each constraint as it goes inactive.
  // Whoever hears of a constraint going inactive may delete the variable, or delete or discard
  // another of its constraints (a discarded one has left the engine and is passed over); it may
  // not switch the variable again until all are switched.
  const LifeWatch<ConstrainedVariable> watch(m_id);
  const SwitchingBracket switching(*m_constraintEngine.operator->(), getKey());
  const std::vector<ConstraintEntry> entries(m_constraints.begin(), m_constraints.end());
  for (const ConstraintEntry& entry : entries) {
    if (entry.first.isValid() && !entry.first->isDiscarded())
      entry.first->deactivateByEngine();
    if (watch.gone())
      return;
  }
  KALDEN_TRACE("ConstrainedVariable:deactivation", "RefCount: [" << m_deactivationRefCount << "]" << toString());
  ConstraintEngine& engine = *m_constraintEngine.operator->();
  if (m_deactivationRefCount == 1)
    m_constraintEngine->notifyDeactivated(m_id);
  // Loosened once all is told: a domain emptied meanwhile (by a listener) may rest on what
  // went off, so it proves nothing (see ConstraintEngine::provenInconsistent()).
  engine.noteLoosened();
}

void ConstrainedVariable::undoDeactivation() {
  if (refusesDiscarded("undo a deactivation of"))
    return;
  const EngineCall call(m_constraintEngine, ConstraintEngine::SWITCH, getKey());
  if (!call)
    return;
  KALDEN_CHECK_OR_RETURN(!Entity::isPurging());
  // Only an earlier deactivation can be undone: the count never goes below 0.
  KALDEN_CHECK_OR_RETURN(m_deactivationRefCount > 0);
  --m_deactivationRefCount;
  m_constraintEngine->noteModelChange();
  KALDEN_TRACE("ConstrainedVariable:undoDeactivation", "RefCount: [" << m_deactivationRefCount << "]" << toString());
  const LifeWatch<ConstrainedVariable> watch(m_id);
  const SwitchingBracket switching(*m_constraintEngine.operator->(), getKey());
  const std::vector<ConstraintEntry> entries(m_constraints.begin(), m_constraints.end());
  for (const ConstraintEntry& entry : entries) {
    if (entry.first.isValid() && !entry.first->isDiscarded())
      entry.first->undoDeactivationByEngine();
    if (watch.gone())
      return;
  }
  if (isActive())
    m_constraintEngine->notifyActivated(m_id);
}

void ConstrainedVariable::updateLastRelaxed(int cycleCount) {
  KALDEN_CHECK(!Entity::isPurging());
  KALDEN_CHECK(m_lastRelaxed < cycleCount);
  m_lastRelaxed = cycleCount;
  KALDEN_TRACE("ConstrainedVariable:updateLastRelaxed", m_name.toString()
                                                            << " lastRelaxed updated to " << m_lastRelaxed);
}

} // namespace KALDEN
