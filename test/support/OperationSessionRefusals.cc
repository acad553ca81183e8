// The session's deleting listener and refused calls: each refused call is held to a snapshot of
// the network taken just before it.

#include "support/OperationSession.hh"

#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/Domains.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "Utils/Error.hh"
#include "support/NetworkSnapshot.hh"

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
  try {
    call();
  } catch (const Error&) {
    const std::string changed = before.differenceFrom(NetworkSnapshot(*m_engine, *m_heard), madeWithNew);
    if (!changed.empty())
      fail("refused call changed the network", what + " was refused but changed the network: " + changed);
    return true;
  } catch (const std::exception& e) {
    fail("threw", what + " threw: " + e.what());
    return true;
  }
  return false;
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
    if (!v.second.alive || !var->isActive() || var->baseDomain().isOpen())
      continue;
    // Opening widens an enumeration unless it is specified; relaxing and resetting widen what the
    // base exceeds (a reset leaves a closed singleton base alone).
    const bool widens = var->lastDomain().isClosed() && !holds(var->lastDomain(), var->baseDomain());
    if (which == 2
            ? v.second.kindNow() == KIND_ENUMERATION && !(var->specifiedFlag() && var->lastDomain().isEnumerated())
        : which == 3 ? !var->specifiedFlag() && widens
                     : widens && !var->baseDomain().isSingleton())
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
    domain.reset(new IntervalDomain(value, value, FloatDT::instance()));
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
    domain = widerThanBase(var);
    if (!domain || base.isOpen() || holds(base, *domain))
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
    domain = DrawnDomain::make(var.kind, {least, least});
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
  default:
    return false;
  }
  if (!expectRefused(what, call))
    fail("call not refused", what + " was taken");
  return true;
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
