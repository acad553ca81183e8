#include "support/OperationSession.hh"

#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/Domains.hh"
#include "ConstraintEngine/component/EqualityConstraintPropagator.hh"
#include "ConstraintEngine/component/Propagators.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "Utils/Entity.hh"
#include "Utils/Error.hh"

#include <algorithm>
#include <cstddef>
#include <exception>
#include <functional>
#include <list>
#include <sstream>

namespace KALDEN {

typedef OperationSequence::Operation Operation;
typedef OperationSequence::Type Type;

std::unique_ptr<AbstractDomain> DrawnDomain::make(int kind, const std::vector<int>& values) {
  switch (kind) {
  case KIND_INTERVAL:
    return std::unique_ptr<AbstractDomain>(new IntervalIntDomain(values[0], values[1], IntDT::instance()));
  case KIND_BOOLEAN:
    if (values.size() == 1)
      return std::unique_ptr<AbstractDomain>(new BoolDomain(values[0] != 0, BoolDT::instance()));
    return std::unique_ptr<AbstractDomain>(new BoolDomain(BoolDT::instance()));
  default:
    return std::unique_ptr<AbstractDomain>(
        new NumericDomain(std::list<double>(values.begin(), values.end()), IntDT::instance()));
  }
}

std::set<int> DrawnDomain::members(int kind, const std::vector<int>& values) {
  if (kind != KIND_INTERVAL)
    return std::set<int>(values.begin(), values.end());
  std::set<int> result;
  for (int v = values[0]; v <= values[1]; ++v)
    result.insert(v);
  return result;
}

std::set<int> DrawnDomain::membersOf(const AbstractDomain& domain) {
  std::set<int> result;
  if (domain.isEmpty())
    return result;
  for (int v = LEAST - 8; v <= GREATEST + 8; ++v)
    if (domain.isMember(v))
      result.insert(v);
  return result;
}

std::string DrawnDomain::text(const std::set<int>& values) {
  std::ostringstream os;
  os << "{";
  for (int v : values)
    os << (v == *values.begin() ? "" : ", ") << v;
  os << "}";
  return os.str();
}

std::string DrawnDomain::kindName(int kind) {
  return kind == KIND_INTERVAL ? "interval" : kind == KIND_BOOLEAN ? "bool" : "enum";
}

OperationSession::OperationSession() : m_schema(new CESchema()), m_engine(new ConstraintEngine(m_schema->getId())) {
  m_schema->registerDataType((new IntDT())->getId());
  m_schema->registerDataType((new BoolDT())->getId());
  registerCatalogue(*m_schema);
  new DefaultPropagator("Default", m_engine->getId());          // owned by the engine
  new EqualityConstraintPropagator("Equal", m_engine->getId()); // likewise
}

OperationSession::~OperationSession() {
  Entity::purgeStart();
  m_engine.reset();
  Entity::purgeEnd();
  m_schema.reset();
  Entity::garbageCollect();
}

bool OperationSession::apply(const Operation& op) {
  try {
    const std::set<int> before = effective();
    const bool applied = perform(op);
    capSwitchedOff(before);
    return applied;
  } catch (const Error& e) {
    fail("failed check \"" + e.getCondition() + "\"", OperationSequence::describe(op) + " failed: " + e.what());
  } catch (const std::exception& e) {
    fail("threw", OperationSequence::describe(op) + " threw: " + e.what());
  }
  return true;
}

bool OperationSession::perform(const Operation& op) {
  const std::string what = OperationSequence::describe(op);
  switch (op.type) {
  case Type::PROPAGATE:
    propagated(m_engine->propagate(), what);
    return true;
  case Type::SPECIFY: {
    if (!activeVariable(op.target) || op.values.size() != 1)
      return false;
    ModelVariable& var = m_variables[op.target];
    if (!var.id->baseDomain().isMember(op.values[0]))
      return false;
    var.id->specify(op.values[0]);
    var.specified = true;
    var.value = op.values[0];
    return true;
  }
  case Type::RESET:
    if (!liveVariable(op.target))
      return false;
    m_variables[op.target].id->reset();
    m_variables[op.target].specified = false;
    m_variables[op.target].capped = false;
    return true;
  case Type::RELAX:
    if (!liveVariable(op.target))
      return false;
    m_variables[op.target].id->relax();
    m_variables[op.target].capped = false;
    return true;
  case Type::RESTRICT_BASE: {
    if (!activeVariable(op.target))
      return false;
    ModelVariable& var = m_variables[op.target];
    const std::set<int> restriction = DrawnDomain::members(op.kind, op.values);
    const std::set<int> base = DrawnDomain::membersOf(var.id->baseDomain());
    // Refusing these is the engine's right: no common value, or nothing current to narrow.
    if (var.id->lastDomain().isEmpty() ||
        std::none_of(restriction.begin(), restriction.end(), [&](int v) { return base.count(v) != 0; }))
      return false;
    var.id->restrictBaseDomain(*DrawnDomain::make(op.kind, op.values));
    std::set<int> kept;
    for (int v : var.base)
      if (restriction.count(v))
        kept.insert(v);
    const std::set<int> now = DrawnDomain::membersOf(var.id->baseDomain());
    for (int v : kept)
      if (!now.count(v))
        fail("base domain lost a value", what + ": v" + std::to_string(op.target) + " base " + DrawnDomain::text(now) +
                                             " lost " + std::to_string(v));
    var.base = kept;
    return true;
  }
  case Type::DEACTIVATE_CONSTRAINT:
    if (!liveConstraint(op.target))
      return false;
    m_constraints[op.target].id->deactivate();
    ++m_constraints[op.target].deactivations;
    return true;
  case Type::ACTIVATE_CONSTRAINT:
    if (!liveConstraint(op.target) || m_constraints[op.target].deactivations == 0)
      return false;
    m_constraints[op.target].id->undoDeactivation();
    --m_constraints[op.target].deactivations;
    return true;
  case Type::DEACTIVATE_VARIABLE:
    if (!liveVariable(op.target))
      return false;
    m_variables[op.target].id->deactivate();
    ++m_variables[op.target].deactivations;
    return true;
  case Type::ACTIVATE_VARIABLE:
    if (!liveVariable(op.target) || m_variables[op.target].deactivations == 0)
      return false;
    m_variables[op.target].id->undoDeactivation();
    --m_variables[op.target].deactivations;
    return true;
  case Type::CREATE_VARIABLE: {
    if (m_variables.count(op.target) != 0)
      return false;
    const std::unique_ptr<AbstractDomain> domain = DrawnDomain::make(op.kind, op.values);
    const std::string name = "v" + std::to_string(op.target);
    ModelVariable var;
    var.kind = op.kind;
    var.base = DrawnDomain::members(op.kind, op.values);
    if (op.flag)
      var.id = m_engine->createVariable(op.kind == KIND_BOOLEAN ? "bool" : "int", *domain, false, true, name.c_str(),
                                        Id<Entity>::noId(), ConstrainedVariable::NO_INDEX);
    else if (op.kind == KIND_INTERVAL)
      var.id = (new Variable<IntervalIntDomain>(m_engine->getId(), *domain, false, true, name, Id<Entity>::noId(),
                                                ConstrainedVariable::NO_INDEX))
                   ->getId();
    else if (op.kind == KIND_BOOLEAN)
      var.id = (new Variable<BoolDomain>(m_engine->getId(), *domain, false, true, name, Id<Entity>::noId(),
                                         ConstrainedVariable::NO_INDEX))
                   ->getId();
    else
      var.id = (new Variable<EnumeratedDomain>(m_engine->getId(), *domain, false, true, name, Id<Entity>::noId(),
                                               ConstrainedVariable::NO_INDEX))
                   ->getId();
    m_variables[op.target] = var;
    return true;
  }
  case Type::DELETE_VARIABLE:
    if (!liveVariable(op.target))
      return false;
    delete static_cast<ConstrainedVariable*>(m_variables[op.target].id);
    m_variables[op.target].alive = false;
    // Its constraints go with it.
    for (auto& entry : m_constraints)
      if (std::find(entry.second.scope.begin(), entry.second.scope.end(), op.target) != entry.second.scope.end())
        entry.second.alive = false;
    return true;
  case Type::CREATE_CONSTRAINT:
    return createConstraint(op);
  case Type::DELETE_CONSTRAINT:
    if (!liveConstraint(op.target))
      return false;
    m_constraints[op.target].alive = false;
    if (op.flag) {
      m_engine->deleteConstraint(m_constraints[op.target].id);
      afterAutoPropagation(what);
    } else {
      delete static_cast<Constraint*>(m_constraints[op.target].id);
    }
    return true;
  case Type::AUTO_PROPAGATION: {
    // Only switching it on propagates.
    const bool switchedOn = op.flag && !m_engine->getAutoPropagation();
    m_engine->setAutoPropagation(op.flag);
    if (switchedOn)
      afterAutoPropagation(what);
    return true;
  }
  }
  return false;
}

bool OperationSession::createConstraint(const Operation& op) {
  const std::vector<ConstraintEntry>& catalogue = constraintCatalogue();
  if (m_constraints.count(op.target) != 0 || op.kind < 0 || op.kind >= static_cast<int>(catalogue.size()))
    return false;
  const ConstraintEntry& entry = catalogue[static_cast<std::size_t>(op.kind)];
  if (op.scope.size() < entry.minArity || op.scope.size() > entry.maxArity)
    return false;
  std::vector<Id<ConstrainedVariable> > scope;
  for (unsigned int i = 0; i < op.scope.size(); ++i) {
    if (!fits(op.scope[i], entry, i))
      return false;
    scope.push_back(m_variables[op.scope[i]].id);
  }
  ModelConstraint c;
  c.entry = op.kind;
  c.scope = op.scope;
  c.data = op.data;
  if (op.variant > 0) {
    c.id = m_engine->createConstraint(entry.names.at(static_cast<std::size_t>(op.variant - 1)), scope);
    m_constraints[op.target] = c;
    afterAutoPropagation(OperationSequence::describe(op));
  } else {
    c.id = entry.build(m_engine->getId(), op.flag ? "Equal" : "Default", scope, op.data)->getId();
    m_constraints[op.target] = c;
  }
  return true;
}

bool OperationSession::solve(const std::vector<int>& vars, const std::vector<int>& cons,
                             std::map<int, std::set<int> >& support) const {
  const std::vector<ConstraintEntry>& catalogue = constraintCatalogue();
  std::map<int, std::size_t> depthOf;
  for (std::size_t i = 0; i < vars.size(); ++i)
    depthOf[vars[i]] = i;
  // Each constraint is tested as soon as its whole scope has a value.
  std::vector<std::vector<int> > readyAt(vars.size());
  for (int c : cons) {
    std::size_t deepest = 0;
    for (int v : m_constraints.at(c).scope)
      deepest = std::max(deepest, depthOf[v]);
    readyAt[deepest].push_back(c);
  }
  std::vector<std::vector<int> > domains;
  std::size_t unsupported = 0;
  for (int v : vars) {
    const std::set<int> allowed = m_variables.at(v).allowed();
    domains.push_back(std::vector<int>(allowed.begin(), allowed.end()));
    unsupported += allowed.size();
  }
  std::vector<int> value(vars.size());
  bool anySolution = false;
  std::function<void(std::size_t)> assign = [&](std::size_t depth) {
    if (unsupported == 0 && anySolution)
      return;
    if (depth == vars.size()) {
      anySolution = true;
      for (std::size_t i = 0; i < vars.size(); ++i)
        if (support[vars[i]].insert(value[i]).second)
          --unsupported;
      return;
    }
    for (int v : domains[depth]) {
      value[depth] = v;
      bool holds = true;
      for (int c : readyAt[depth]) {
        const ModelConstraint& mc = m_constraints.at(c);
        std::vector<double> assignment;
        for (int s : mc.scope)
          assignment.push_back(value[depthOf[s]]);
        if (!catalogue[static_cast<std::size_t>(mc.entry)].meaning(assignment, mc.data)) {
          holds = false;
          break;
        }
      }
      if (holds)
        assign(depth + 1);
    }
  };
  assign(0);
  return anySolution;
}

void OperationSession::propagated(bool answer, const std::string& what) {
  // The independent parts of the network: variables joined by constraints in effect.
  std::map<int, int> part;
  for (const auto& v : m_variables)
    if (v.second.alive)
      part[v.first] = v.first;
  std::function<int(int)> root = [&](int v) { return part[v] == v ? v : part[v] = root(part[v]); };
  std::vector<int> effective;
  for (const auto& c : m_constraints)
    if (inEffect(c.second)) {
      effective.push_back(c.first);
      for (int v : c.second.scope)
        part[root(v)] = root(c.second.scope[0]);
    }
  std::map<int, std::vector<int> > partVars, partCons;
  for (const auto& v : part)
    partVars[root(v.first)].push_back(v.first);
  for (int c : effective)
    partCons[root(m_constraints.at(c).scope[0])].push_back(c);

  bool allSolvable = true;
  for (auto& p : partVars) {
    // Variables in constraint order, so that constraints are tested early.
    std::vector<int> ordered;
    for (int c : partCons[p.first])
      for (int v : m_constraints.at(c).scope)
        if (std::find(ordered.begin(), ordered.end(), v) == ordered.end())
          ordered.push_back(v);
    for (int v : p.second)
      if (std::find(ordered.begin(), ordered.end(), v) == ordered.end())
        ordered.push_back(v);
    std::map<int, std::set<int> > support;
    if (!solve(ordered, partCons[p.first], support)) {
      allSolvable = false;
      continue;
    }
    for (const auto& s : support) {
      const AbstractDomain& domain = m_variables.at(s.first).id->lastDomain();
      for (int v : s.second)
        if (!domain.isMember(v)) {
          fail("lost a value of a solution", "after " + what + ": v" + std::to_string(s.first) + " = " +
                                                 domain.toString() + " lost " + std::to_string(v) +
                                                 ", which a solution uses");
          return;
        }
    }
  }
  if (allSolvable && !answer) {
    fail("inconsistent although solvable", "after " + what + ": the network has a solution");
    return;
  }
  if (!answer)
    return;
  for (const Id<ConstrainedVariable>& var : m_engine->getVariables())
    if (var->lastDomain().isEmpty()) {
      fail("consistent with an empty domain", "after " + what + ": " + var->getName().toString() + " is empty");
      return;
    }
  if (m_engine->pending())
    fail("consistent with pending work", "after " + what + ": propagation has work left");
}

} // namespace KALDEN
