// The session's deleting listener and refused calls: each refused call is held to a snapshot of
// the network taken just before it.

#include "support/OperationSession.hh"

#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/Domains.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "Utils/Error.hh"
#include "support/ListenerDraws.hh"
#include "support/NetworkSnapshot.hh"
#include "support/TenthsDomains.hh"

#include <exception>
#include <list>

namespace KALDEN {

typedef OperationSequence::Operation Operation;
typedef OperationSequence::Refusal Refusal;

namespace {

// Whether a domain holds another, asked only where both can be compared.
bool holds(const AbstractDomain& outer, const AbstractDomain& inner) {
  try {
    return inner.isSubsetOf(outer);
  } catch (const Error&) {
    return false;
  }
}

// Whether `outer` answers every value of the enumeration `inner` a member.
bool lacksNone(const AbstractDomain& outer, const AbstractDomain& inner) {
  std::list<double> values;
  inner.getValues(values);
  return std::all_of(values.begin(), values.end(), [&outer](double value) { return outer.isMember(value); });
}

// Whether the domain holds the value itself, not only within the tolerance: between an
// interval's very bounds, or as a member.
bool holdsExactly(const AbstractDomain& dom, double value) {
  if (dom.isInterval())
    return dom.getLowerBound() <= value && value <= dom.getUpperBound() && dom.isMember(value);
  const EnumeratedDomain& enumeration = dynamic_cast<const EnumeratedDomain&>(dom);
  return enumeration.getValues().count(value) != 0;
}

// Whether the domain holds the value only within the tolerance of a bound or member (an open
// string domain answers every label a member: its own members are asked).
bool holdsOnlyNear(const AbstractDomain& dom, double value) {
  const bool near = dom.isInterval() ? dom.isMember(value)
                                     : dynamic_cast<const EnumeratedDomain&>(dom).EnumeratedDomain::isMember(value);
  return near && !holdsExactly(dom, value);
}

// Whether reset() would give the current domain a value of the base it lacks, however near one
// it holds.
bool resetWidens(const ConstrainedVariable& var) {
  const AbstractDomain& base = var.baseDomain();
  const AbstractDomain& current = var.lastDomain();
  if (base.isEmpty())
    return base.isOpen() && current.isClosed();
  if (current.isEmpty())
    return true;
  if (!base.isEnumerated())
    return base.getLowerBound() < current.getLowerBound() || current.getUpperBound() < base.getUpperBound();
  if (base.isOpen() && current.isClosed())
    return true;
  std::list<double> values;
  base.getValues(values);
  return std::any_of(values.begin(), values.end(), [&current](double value) { return !holdsExactly(current, value); });
}

// A domain of the variable's own kind holding its whole base and a value beyond the drawn range.
std::unique_ptr<AbstractDomain> widerThanBase(const ModelVariable& var) {
  const int far = DrawnDomain::GREATEST + 6;
  switch (var.kind) {
  case KIND_INTERVAL:
  case KIND_REAL:
    return DrawnDomain::make(var.kind, {DrawnDomain::LEAST - 6, far});
  case KIND_ENUMERATION: {
    std::vector<int> values(var.base.begin(), var.base.end());
    values.push_back(far);
    return DrawnDomain::make(KIND_ENUMERATION, values);
  }
  default:
    return nullptr;
  }
}

} // namespace

int OperationSession::variableNumber(const Id<ConstrainedVariable>& variable) const {
  for (const auto& v : m_variables)
    if (v.second.alive && v.second.id == variable)
      return v.first;
  return -1;
}

int OperationSession::constraintNumber(const Id<Constraint>& constraint) const {
  for (const auto& c : m_constraints)
    if (c.second.alive && (c.second.id == constraint || std::find(c.second.members.begin(), c.second.members.end(),
                                                                  constraint) != c.second.members.end()))
      return c.first;
  return -1;
}

void OperationSession::dropVariable(int v, bool discard) {
  ModelVariable& var = m_variables.at(v);
  // Forgotten before it goes: whoever hears of its going must not pick it, or its constraints, again.
  var.alive = false;
  for (auto& c : m_constraints)
    if (c.second.alive && std::find(c.second.scope.begin(), c.second.scope.end(), v) != c.second.scope.end())
      c.second.alive = false;
  if (discard)
    var.id->discard();
  else
    delete static_cast<ConstrainedVariable*>(var.id);
}

void OperationSession::dropConstraint(int c, bool discard) {
  ModelConstraint& mc = m_constraints.at(c);
  mc.alive = false;
  if (discard)
    mc.id->discard();
  else
    delete static_cast<Constraint*>(mc.id);
}

void OperationSession::dropMade(const Id<ConstrainedVariable>& variable, bool discard) {
  m_madeDropped = true;
  if (discard)
    variable->discard();
  else
    delete static_cast<ConstrainedVariable*>(variable);
}

bool OperationSession::deleteAsListed(const Operation& op) {
  if (op.values.size() < 2)
    return false;
  const int way = op.values[1] % 4;
  const std::string what = OperationSequence::describe(op);
  if (way < 2) {
    const std::vector<Id<Constraint> > listed(m_engine->getConstraints().begin(), m_engine->getConstraints().end());
    if (listed.empty())
      return false;
    const Id<Constraint> c = listed[static_cast<std::size_t>(op.values[0]) % listed.size()];
    const std::function<void()> call = [this, c, way] { way == 0 ? m_engine->deleteConstraint(c) : c->discard(); };
    if (c->standingOwner().isId()) {
      if (!expectRefused(what, call))
        fail("call not refused", what + ": a part of " + c->standingOwner()->getName().toString() + " was deleted");
      return true;
    }
    const int number = constraintNumber(c);
    if (number < 0 || m_constraints.at(number).id != c)
      return false;
    m_constraints.at(number).alive = false;
    call();
    if (way == 0)
      afterAutoPropagation(what);
    return true;
  }
  const std::vector<Id<ConstrainedVariable> > listed(m_engine->getVariables().begin(), m_engine->getVariables().end());
  if (listed.empty())
    return false;
  const Id<ConstrainedVariable> v = listed[static_cast<std::size_t>(op.values[0]) % listed.size()];
  if (v->standingOwner().isId()) {
    // A part held by value cannot be refused a plain delete: a client asks first.
    if (way == 2 && !expectRefused(what, [v] { v->discard(); }))
      fail("call not refused", what + ": a part of " + v->standingOwner()->getName().toString() + " was discarded");
    return true;
  }
  const int number = variableNumber(v);
  if (number < 0)
    return false;
  dropVariable(number, way == 2);
  return true;
}

bool OperationSession::expectRefused(const std::string& what, const std::function<void()>& call, bool madeWithNew) {
  // The refused call's own notices (a constraint made with `new` is heard added and removed)
  // must not make the listener change the network the refusal is held to.
  m_deleter->arm(-1, 0);
  m_late->deleter.arm(-1, 0);
  const NetworkSnapshot before(*m_engine, *m_heard);
  // Inside a destructor too (told of a removal) the refusal is thrown to the listener, never printed.
  const unsigned long printedBefore = Error::suppressedCount();
  try {
    call();
  } catch (const Error&) {
    const std::string changed = before.differenceFrom(NetworkSnapshot(*m_engine, *m_heard), madeWithNew);
    if (!changed.empty())
      fail("refused call changed the network", what + " was refused but changed the network: " + changed);
    if (Error::suppressedCount() != printedBefore)
      fail("refusal printed", what + " was refused, and a check was printed meanwhile");
    return true;
  } catch (const std::exception& e) {
    fail("threw", what + " threw: " + e.what());
    return true;
  }
  if (Error::suppressedCount() != printedBefore)
    fail("refusal printed", what + " printed a failed check and returned instead of throwing");
  return false;
}

void OperationSession::specifyDuringRun(int choice, bool lacking, int only) {
  // Specifying anew would reset first, a widening the run refuses: only unspecified variables.
  std::vector<int> candidates;
  for (const auto& v : m_variables)
    if (v.second.alive && (only < 0 || v.first == only) && v.first != m_specifying && !v.second.specified &&
        !v.second.base.empty() && v.second.id->isActive() && !v.second.id->isDiscarded() &&
        !v.second.id->specifiedFlag())
      candidates.push_back(v.first);
  if (candidates.empty())
    return;
  const int v = candidates[static_cast<std::size_t>(choice) % candidates.size()];
  ModelVariable& var = m_variables.at(v);
  // A value of the base: one the current domain holds, unless that is open and may gain any.
  const AbstractDomain& current = var.id->lastDomain();
  std::vector<int> values;
  for (int value : var.base)
    if (var.id->baseDomain().isMember(var.valueOf(value)) &&
        (lacking ? current.isClosed() && !current.isMember(var.valueOf(value))
                 : current.isOpen() || current.isMember(var.valueOf(value))))
      values.push_back(value);
  if (values.empty())
    return;
  const int value = values[static_cast<std::size_t>(choice / 7) % values.size()];
  // One the current domain holds only within the tolerance (a bound a rule computed a hair inside
  // it) would move the domain outward: a widening, which the run refuses.
  const double engineValue = var.id->baseDomain().translateNumber(var.valueOf(value));
  if (propagating() && !current.isEmpty() && holdsOnlyNear(current, engineValue)) {
    const std::string what = "v" + std::to_string(v) + ".specify(" + std::to_string(value) +
                             "), held only within the tolerance, inside a run";
    if (!expectRefused(what, [&var, &value] { var.id->specify(var.valueOf(value)); }))
      fail("call not refused", what + " was taken");
    return;
  }
  var.id->specify(var.valueOf(value));
  var.specified = true;
  var.value = value;
  var.hair = 0;
}

void OperationSession::actOnUnlink(int v, int choice) {
  // A creation under way is judged by the draws of its own.
  if (m_creating)
    return;
  const int deed = (choice / 10) % 4;
  const int way = (choice / 40) % 3;
  if (v >= 0 && deed == 0) {
    dropVariable(v, way == 1);
    return;
  }
  // A widening inside a run is refused: it deletes instead.
  if (v >= 0 && deed == 2 && !propagating() && v != m_specifying) {
    resetVariable(v);
    return;
  }
  if (v >= 0 && deed == 3) {
    specifyDuringRun(choice / 120, false, v);
    return;
  }
  std::vector<int> live;
  for (const auto& c : m_constraints)
    if (c.second.alive)
      live.push_back(c.first);
  if (live.empty())
    return;
  const int c = live[static_cast<std::size_t>(choice / 120) % live.size()];
  // Through the engine, which owes a run, only where a refusal would throw.
  if (way == 2 && !propagating() && !NoThrowScope::active())
    deleteThroughEngine(c);
  else
    dropConstraint(c, way == 1);
}

void OperationSession::resetEmptied() {
  std::vector<int> emptied;
  for (const auto& v : m_variables)
    if (v.second.alive && v.second.id->isActive() && v.second.id->lastDomain().isEmpty() &&
        v.second.id->lastDomain().isClosed())
      emptied.push_back(v.first);
  // Each by number: a listener told of one reset may delete another.
  for (int v : emptied)
    if (m_variables.at(v).alive)
      resetVariable(v);
  m_emptiedRefilled = m_emptiedRefilled || !emptied.empty();
}

void OperationSession::refuseDuringRun(int choice) {
  std::vector<int> variables;
  std::vector<int> constraints;
  for (const auto& c : m_constraints)
    if (c.second.alive)
      constraints.push_back(c.first);
  const int which = choice % 5;
  for (const auto& v : m_variables) {
    const Id<ConstrainedVariable>& var = v.second.id;
    if (!v.second.alive || !var->isActive())
      continue;
    // Opening widens an enumeration unless it is specified (an interval is never opened);
    // relaxing is refused even where nothing would widen; resetting where the base holds what
    // the current domain lacks, an emptied domain and an open one's missing members included.
    if (which == 2   ? var->baseDomain().isClosed() && !(var->specifiedFlag() && var->lastDomain().isEnumerated())
        : which == 3 ? true
                     : resetWidens(*var.operator->()))
      variables.push_back(v.first);
  }
  const std::size_t pick = static_cast<std::size_t>(choice / 5);
  bool taken = false;
  std::string what;
  if (which == 0) {
    what = "propagate() inside a run";
    taken = !expectRefused(what, [this] { m_engine->propagate(); });
  } else if (which == 1 && !constraints.empty()) {
    const int c = constraints[pick % constraints.size()];
    what = "deleteConstraint(c" + std::to_string(c) + ") inside a run";
    const Id<Constraint> id = m_constraints.at(c).id;
    taken = !expectRefused(what, [this, id] { m_engine->deleteConstraint(id); });
    if (taken)
      m_constraints.at(c).alive = false;
  } else if (which >= 2 && !variables.empty()) {
    const int v = variables[pick % variables.size()];
    const Id<ConstrainedVariable> id = m_variables.at(v).id;
    what = "v" + std::to_string(v) + (which == 2 ? ".open()" : which == 3 ? ".relax()" : ".reset()") + " inside a run";
    taken = !expectRefused(what, [id, which] { which == 2 ? id->open() : which == 3 ? id->relax() : id->reset(); });
  }
  if (taken)
    fail("call not refused", what + " was taken");
}

bool OperationSession::refuseCall(const Operation& op) {
  const Refusal which = static_cast<Refusal>(op.kind);
  const std::string what = OperationSequence::describe(op);
  if (which == Refusal::CREATE_WITH_WRONG_ARITY || which == Refusal::CREATE_OVER_SYMBOLS)
    return refuseCreation(op);
  if (which == Refusal::DELETE_AS_LISTED)
    return deleteAsListed(op);
  if (which == Refusal::ACTIVATE_ACTIVE_CONSTRAINT) {
    if (!liveConstraint(op.target))
      return false;
    const Id<Constraint> c = m_constraints.at(op.target).id;
    if (!c->isActive() || c->isRetired())
      return false;
    if (!expectRefused(what, [c] { c->undoDeactivation(); }))
      fail("call not refused", what + " was taken");
    return true;
  }
  if (which == Refusal::ACTIVATE_VIOLATED_CONSTRAINT) {
    // A member held violated, switched off by that alone.
    if (!liveConstraint(op.target))
      return false;
    const ModelConstraint& mc = m_constraints.at(op.target);
    for (std::size_t i : violatedMembers(mc)) {
      const Id<Constraint> member = mc.members[i];
      if (member->deactivationCount() != 1 || member->isRetired())
        continue;
      if (!expectRefused(what, [member] { member->undoDeactivation(); }))
        fail("call not refused", what + " was taken");
      return true;
    }
    return false;
  }
  if (!liveVariable(op.target) || op.values.size() < 2)
    return false;
  const ModelVariable& var = m_variables.at(op.target);
  const Id<ConstrainedVariable> id = var.id;
  const AbstractDomain& base = id->baseDomain();
  const double value = op.values[0] / 2.0;
  std::function<void()> call;
  std::shared_ptr<AbstractDomain> domain;
  switch (which) {
  case Refusal::SPECIFY_OUTSIDE_BASE:
    if (base.isMember(value))
      return false;
    call = [id, value] { id->specify(value); };
    break;
  case Refusal::RESTRICT_BASE_DISJOINT: {
    // A point between two integers, or beyond a real base: no value of the base is left.
    if (base.isOpen())
      return false;
    domain.reset(new IntervalDomain(value, ListenerDraws::narrowEnd(op, value), FloatDT::instance()));
    std::unique_ptr<AbstractDomain> left(base.copy());
    try {
      left->intersect(*domain);
    } catch (const Error&) {
    }
    if (!left->isEmpty())
      return false;
    call = [id, domain] { id->restrictBaseDomain(*domain); };
    break;
  }
  case Refusal::RESET_OUTSIDE_BASE:
    // An open base answers every domain a superset: it is judged by its members.
    domain = widerThanBase(var);
    if (!domain || (base.isOpen() ? lacksNone(base, *domain) : holds(base, *domain)))
      return false;
    call = [id, domain] { id->reset(*domain); };
    break;
  case Refusal::RESET_NARROWER_INTERVAL: {
    // The base's least value alone, short of the current domain: an interval only widens.
    // A real base may start a few tenths short of its least integer: the current domain must
    // reach beyond that integer for the reset to narrow it.
    const AbstractDomain& current = id->lastDomain();
    if ((var.kind != KIND_INTERVAL && var.kind != KIND_REAL) || current.isEmpty() || current.isOpen())
      return false;
    const int least = static_cast<int>(std::ceil(base.getLowerBound()));
    if (current.getUpperBound() - least < 0.5)
      return false;
    domain = var.kind == KIND_REAL && op.values[1] > 0 ? TenthsDomains::narrowInterval({least, 0, op.values[1]})
                                                         : DrawnDomain::make(var.kind, {least, least});
    if (!holds(base, *domain))
      return false;
    call = [id, domain] { id->reset(*domain); };
    break;
  }
  case Refusal::INSERT_INTO_CLOSED:
    if (base.isOpen())
      return false;
    call = [id, value] { id->insert(value); };
    break;
  case Refusal::CLOSE_CLOSED:
    if (base.isOpen())
      return false;
    call = [id] { id->close(); };
    break;
  case Refusal::OPEN_OPEN:
    if (base.isClosed())
      return false;
    call = [id] { id->open(); };
    break;
  case Refusal::ACTIVATE_ACTIVE_VARIABLE:
    if (!id->isActive())
      return false;
    call = [id] { id->undoDeactivation(); };
    break;
  case Refusal::OPEN_INTERVAL:
    if (base.isEnumerated())
      return false;
    call = [id] { id->open(); };
    break;
  default:
    return false;
  }
  if (!expectRefused(what, call))
    fail("call not refused", what + " was taken");
  return true;
}

bool OperationSession::refusePartDeletion(int choice) {
  std::vector<Id<Constraint> > parts;
  for (const Id<Constraint>& c : m_engine->getConstraints())
    if (c->standingOwner().isId())
      parts.push_back(c);
  if (parts.empty())
    return false;
  const Id<Constraint> part = parts[static_cast<std::size_t>(choice / 3) % parts.size()];
  // While its composite is being discarded a part goes with it: only deleteConstraint, which
  // would free it on its own, is refused then.
  const int way = part->standingOwner()->isDiscarded() ? 0 : choice % 3;
  const std::string what = std::string(way == 0 ? "deleteConstraint(" : way == 1 ? "discard(" : "decRefCount(") +
                           "a part of " + part->standingOwner()->getName().toString() + ")";
  if (!expectRefused(what, [this, part, way] {
        way == 0 ? m_engine->deleteConstraint(part) : way == 1 ? part->discard() : (void)part->decRefCount();
      }))
    fail("call not refused", what + " was taken");
  return true;
}

bool OperationSession::refuseWhileRemoved(int choice) {
  if (m_creating)
    return false;
  // Inside a run, what is refused there; else a call refused anywhere, on a live object.
  if (propagating() && choice % 3 == 0) {
    refuseDuringRun(choice / 3);
    return true;
  }
  if (choice % 3 == 1 && refusePartDeletion(choice / 3))
    return true;
  static const Refusal kinds[] = {Refusal::SPECIFY_OUTSIDE_BASE,      Refusal::RESTRICT_BASE_DISJOINT,
                                  Refusal::RESET_OUTSIDE_BASE,        Refusal::RESET_NARROWER_INTERVAL,
                                  Refusal::INSERT_INTO_CLOSED,        Refusal::CLOSE_CLOSED,
                                  Refusal::OPEN_OPEN,                 Refusal::ACTIVATE_ACTIVE_VARIABLE,
                                  Refusal::ACTIVATE_ACTIVE_CONSTRAINT, Refusal::OPEN_INTERVAL,
                                  Refusal::ACTIVATE_VIOLATED_CONSTRAINT};
  const std::size_t count = sizeof(kinds) / sizeof(kinds[0]);
  Operation op;
  op.type = OperationSequence::Type::REFUSED_CALL;
  op.kind = static_cast<int>(kinds[static_cast<std::size_t>(choice / 3) % count]);
  const bool onConstraint = kinds[static_cast<std::size_t>(choice / 3) % count] == Refusal::ACTIVATE_ACTIVE_CONSTRAINT ||
                            kinds[static_cast<std::size_t>(choice / 3) % count] == Refusal::ACTIVATE_VIOLATED_CONSTRAINT;
  std::vector<int> live;
  if (onConstraint) {
    for (const auto& c : m_constraints)
      if (c.second.alive && c.second.id.isValid() && !c.second.id->isDiscarded())
        live.push_back(c.first);
  } else {
    for (const auto& v : m_variables)
      if (v.second.alive && v.second.id.isValid() && !v.second.id->isDiscarded())
        live.push_back(v.first);
  }
  if (live.empty())
    return false;
  op.target = live[static_cast<std::size_t>(choice / 40) % live.size()];
  // Halves beyond the drawn range: never a member.
  op.values = {2 * DrawnDomain::GREATEST + 3 + choice % 7, (choice / 7) % 10 == 0 ? 1 + choice % 99 : 0};
  return refuseCall(op);
}

void OperationSession::clearInTearDown() {
  m_deleter->arm(-1, 0);
  m_late->deleter.arm(-1, 0);
  Entity::purgeStart();
  try {
    // A part first: refused as outside the bracket, it must stay for its composite to take.
    for (int way = 0; way < 3; ++way)
      if (!refusePartDeletion(way))
        break;
    const std::vector<Id<Constraint> > constraints(m_engine->getConstraints().begin(),
                                                   m_engine->getConstraints().end());
    for (std::size_t i = 0; i < constraints.size(); ++i) {
      const Id<Constraint>& c = constraints[i];
      if (!c.isValid() || c->isDiscarded() || c->standingOwner().isId())
        continue;
      if (i % 2 == 0)
        m_engine->deleteConstraint(c);
      else
        c->discard();
    }
    if (!m_engine->getConstraints().empty())
      fail("tear-down by hand", "constraints left after clearing what the engine listed");
    const std::vector<Id<ConstrainedVariable> > variables(m_engine->getVariables().begin(),
                                                          m_engine->getVariables().end());
    for (std::size_t i = 0; i < variables.size(); ++i) {
      const Id<ConstrainedVariable>& v = variables[i];
      if (!v.isValid() || v->isDiscarded() || v->standingOwner().isId())
        continue;
      if (i % 2 == 0)
        v->discard();
      else
        delete static_cast<ConstrainedVariable*>(v);
    }
    if (!m_engine->getVariables().empty())
      fail("tear-down by hand", "variables left after clearing what the engine listed");
  } catch (const Error& e) {
    fail("failed check \"" + e.getCondition() + "\"", std::string("clearing inside the tear-down bracket failed: ") +
                                                           e.what());
  }
  m_listener.reset();
  m_deleter.reset();
  m_late.reset();
  m_heard.reset();
  m_mirror.reset();
  m_engine.reset();
  Entity::purgeEnd();
  for (auto& v : m_variables)
    v.second.alive = false;
  for (auto& c : m_constraints)
    c.second.alive = false;
}

// A name given a variable too few, or a constraint with a symbol variable where numbers stand.
// The symbol variable is made before the snapshot and deleted after it. A class that takes the
// symbol is let be: the constraint is deleted again before anything runs it.
bool OperationSession::refuseCreation(const Operation& op) {
  const std::vector<ConstraintEntry>& catalogue = constraintCatalogue();
  if (op.values.size() < 2 || op.values[0] < 0 || op.values[0] >= static_cast<int>(catalogue.size()))
    return false;
  const ConstraintEntry& entry = catalogue[static_cast<std::size_t>(op.values[0])];
  std::vector<Id<ConstrainedVariable> > scope;
  for (int v : op.scope) {
    if (!liveVariable(v))
      return false;
    scope.push_back(m_variables.at(v).id);
  }
  const std::string what = OperationSequence::describe(op);
  if (static_cast<Refusal>(op.kind) == Refusal::CREATE_WITH_WRONG_ARITY) {
    if (op.variant < 1 || op.variant > static_cast<int>(entry.names.size()) || scope.size() >= entry.minArity)
      return false;
    // An empty scope is refused before any class is built; a shorter one where the name's own
    // arity says (the catalogue draws within it, and some names take fewer): taken, it is deleted.
    const char* name = entry.names[static_cast<std::size_t>(op.variant - 1)];
    Id<Constraint> taken;
    if (!expectRefused(what, [&] { taken = m_engine->createConstraint(name, scope); }) && scope.empty())
      fail("call not refused", what + " was taken");
    if (taken.isValid())
      delete static_cast<Constraint*>(taken);
    return true;
  }
  if (scope.size() < entry.minArity || scope.size() > entry.maxArity)
    return false;
  // By name only without auto-propagation: a constraint taken is not run before it is deleted.
  if (op.variant > static_cast<int>(entry.names.size()) || (op.variant > 0 && m_engine->getAutoPropagation()))
    return false;
  Id<ConstrainedVariable> symbol =
      (new Variable<EnumeratedDomain>(m_engine->getId(), SymbolDomain(LabelStr("a"), SymbolDT::instance()), false, true,
                                      "symbol", Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
          ->getId();
  scope[static_cast<std::size_t>(op.values[1]) % scope.size()] = symbol;
  Id<Constraint> taken;
  expectRefused(
      what,
      [&] {
        taken = op.variant > 0
                    ? m_engine->createConstraint(entry.names[static_cast<std::size_t>(op.variant - 1)], scope)
                    : entry.build(m_engine->getId(), op.flag ? "Equal" : "Default", scope, op.data)->getId();
      },
      op.variant == 0);
  if (taken.isValid())
    delete static_cast<Constraint*>(taken);
  delete static_cast<ConstrainedVariable*>(symbol);
  return true;
}

} // namespace KALDEN
