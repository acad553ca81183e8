#include "support/OperationSequence.hh"

#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/Domains.hh"
#include "ConstraintEngine/component/EqualityConstraintPropagator.hh"
#include "ConstraintEngine/component/Propagators.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "Utils/Entity.hh"
#include "Utils/Error.hh"
#include "Utils/IdTable.hh"
#include "support/ConstraintCatalogue.hh"

#include <algorithm>
#include <cstddef>
#include <exception>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <random>
#include <sstream>

namespace KALDEN {

namespace {

typedef OperationSequence::Operation Operation;
typedef OperationSequence::Type Type;
typedef OperationSequence::Hazard Hazard;

// Values are drawn from LEAST..GREATEST: small enough for brute force over a whole network.
const int LEAST = -3;
const int GREATEST = 3;
const std::size_t MAX_VARIABLES = 7;
const std::size_t MAX_CONSTRAINTS = 7;

// What went wrong: the category keeps a failure's kind while its replay is shortened.
struct Failure {
  std::string category;
  std::string detail;
  bool any() const { return !category.empty(); }
};

std::unique_ptr<AbstractDomain> makeDomain(int kind, const std::vector<int>& values) {
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

// The values a drawn domain holds, as the client means it.
std::set<int> members(int kind, const std::vector<int>& values) {
  if (kind != KIND_INTERVAL)
    return std::set<int>(values.begin(), values.end());
  std::set<int> result;
  for (int v = values[0]; v <= values[1]; ++v)
    result.insert(v);
  return result;
}

// The values an engine domain holds within a margin around the drawn range.
std::set<int> membersOf(const AbstractDomain& domain) {
  std::set<int> result;
  if (domain.isEmpty())
    return result;
  for (int v = LEAST - 8; v <= GREATEST + 8; ++v)
    if (domain.isMember(v))
      result.insert(v);
  return result;
}

std::string text(const std::set<int>& values) {
  std::ostringstream os;
  os << "{";
  for (int v : values)
    os << (v == *values.begin() ? "" : ", ") << v;
  os << "}";
  return os.str();
}

std::string kindName(int kind) {
  return kind == KIND_INTERVAL ? "interval" : kind == KIND_BOOLEAN ? "bool" : "enum";
}

// The model's record of a variable: what the client asked of it.
struct ModelVariable {
  Id<ConstrainedVariable> id;
  int kind = KIND_INTERVAL;
  std::set<int> base;
  bool specified = false;
  int value = 0;
  int deactivations = 0;
  bool alive = true;
  // Switching a constraint off leaves its narrowing in place until the variable is reset or
  // relaxed: meanwhile the variable keeps within what it held then.
  bool capped = false;
  std::set<int> cap;

  // The values a solution may give it.
  std::set<int> allowed() const {
    std::set<int> result;
    for (int v : base)
      if ((!specified || v == value) && (!capped || cap.count(v)))
        result.insert(v);
    return result;
  }
};

// The model's record of a constraint.
struct ModelConstraint {
  Id<Constraint> id;
  int entry = 0;
  std::vector<int> scope;
  std::vector<int> data;
  int deactivations = 0;
  bool alive = true;
};

/**
 * An engine on a schema that knows "int", "bool" and every catalogue name,
 * with propagators "Default" and "Equal", beside the model of what the client
 * asked. Destroying it tears the engine down as the host does.
 */
class Session {
public:
  Session() : m_schema(new CESchema()), m_engine(new ConstraintEngine(m_schema->getId())) {
    m_schema->registerDataType((new IntDT())->getId());
    m_schema->registerDataType((new BoolDT())->getId());
    registerCatalogue(*m_schema);
    new DefaultPropagator("Default", m_engine->getId());          // owned by the engine
    new EqualityConstraintPropagator("Equal", m_engine->getId()); // likewise
  }
  ~Session() {
    Entity::purgeStart();
    m_engine.reset();
    Entity::purgeEnd();
    m_schema.reset();
    Entity::garbageCollect();
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Runs the operation when it is legal in the current state; false when it was skipped.
  bool apply(const Operation& op) {
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

  const Failure& failure() const { return m_failure; }
  void fail(const std::string& category, const std::string& detail) {
    if (!m_failure.any())
      m_failure = Failure{category, detail};
  }

  const std::map<int, ModelVariable>& variables() const { return m_variables; }
  const std::map<int, ModelConstraint>& constraints() const { return m_constraints; }
  ConstraintEngine& engine() { return *m_engine; }
  bool liveVariable(int v) const { return m_variables.count(v) != 0 && m_variables.at(v).alive; }
  bool liveConstraint(int c) const { return m_constraints.count(c) != 0 && m_constraints.at(c).alive; }
  bool activeVariable(int v) const { return liveVariable(v) && m_variables.at(v).deactivations == 0; }

  // Whether the variable may stand at this position of a constraint of the entry.
  bool fits(int v, const ConstraintEntry& entry, unsigned int position) const {
    // A constraint over an inactive variable starts inactive.
    if (!liveVariable(v))
      return false;
    const ConstraintEntry::Position p = entry.position ? entry.position(position) : ConstraintEntry::Position();
    const ModelVariable& var = m_variables.at(v);
    if ((p.kinds & static_cast<unsigned int>(var.kind)) == 0)
      return false;
    return !p.fixed || (var.base.size() == 1 && var.id->baseDomain().isSingleton());
  }

private:
  bool perform(const Operation& op);
  bool createConstraint(const Operation& op);
  void propagated(bool answer, const std::string& what);
  void afterAutoPropagation(const std::string& what) {
    if (m_engine->getAutoPropagation())
      propagated(!m_engine->provenInconsistent(), what + " with auto-propagation");
  }
  std::set<int> effective() const {
    std::set<int> result;
    for (const auto& c : m_constraints)
      if (inEffect(c.second))
        result.insert(c.first);
    return result;
  }
  // Caps the scope of every constraint the operation switched off (but did not remove).
  void capSwitchedOff(const std::set<int>& before) {
    for (int c : before) {
      const ModelConstraint& mc = m_constraints.at(c);
      if (!mc.alive || inEffect(mc))
        continue;
      for (int v : mc.scope) {
        ModelVariable& var = m_variables.at(v);
        const std::set<int> now = membersOf(var.id->lastDomain());
        if (var.capped) {
          std::set<int> both;
          for (int x : var.cap)
            if (now.count(x))
              both.insert(x);
          var.cap = both;
        } else {
          var.cap = now;
        }
        var.capped = true;
      }
    }
  }
  bool inEffect(const ModelConstraint& c) const {
    if (!c.alive || c.deactivations != 0)
      return false;
    for (int v : c.scope)
      if (m_variables.at(v).deactivations != 0)
        return false;
    return true;
  }
  // Brute force over one independent part of the network: whether it has a solution, and the
  // values its solutions use.
  bool solve(const std::vector<int>& vars, const std::vector<int>& cons, std::map<int, std::set<int> >& support) const;

  std::unique_ptr<CESchema> m_schema;
  std::unique_ptr<ConstraintEngine> m_engine;
  std::map<int, ModelVariable> m_variables;
  std::map<int, ModelConstraint> m_constraints;
  Failure m_failure;
};

bool Session::perform(const Operation& op) {
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
    const std::set<int> restriction = members(op.kind, op.values);
    const std::set<int> base = membersOf(var.id->baseDomain());
    // Refusing these is the engine's right: no common value, or nothing current to narrow.
    if (var.id->lastDomain().isEmpty() ||
        std::none_of(restriction.begin(), restriction.end(), [&](int v) { return base.count(v) != 0; }))
      return false;
    var.id->restrictBaseDomain(*makeDomain(op.kind, op.values));
    std::set<int> kept;
    for (int v : var.base)
      if (restriction.count(v))
        kept.insert(v);
    const std::set<int> now = membersOf(var.id->baseDomain());
    for (int v : kept)
      if (!now.count(v))
        fail("base domain lost a value", what + ": v" + std::to_string(op.target) + " base " + text(now) +
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
    const std::unique_ptr<AbstractDomain> domain = makeDomain(op.kind, op.values);
    const std::string name = "v" + std::to_string(op.target);
    ModelVariable var;
    var.kind = op.kind;
    var.base = members(op.kind, op.values);
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

bool Session::createConstraint(const Operation& op) {
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

bool Session::solve(const std::vector<int>& vars, const std::vector<int>& cons,
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

void Session::propagated(bool answer, const std::string& what) {
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

// Counts what the utility layer holds, to find what a session left behind.
struct Census {
  std::size_t entities;
  std::size_t handles;
  static Census now() {
    // The shared data types live for the whole process: make them before counting.
    FloatDT::instance();
    IntDT::instance();
    BoolDT::instance();
    StringDT::instance();
    SymbolDT::instance();
    return Census{Entity::liveCount(), IdTable::size()};
  }
};

// Draws from a seeded generator; the same seed gives the same session on every platform.
class Draw {
public:
  explicit Draw(unsigned int seed) : m_rng(seed) {}
  int between(int lo, int hi) { return lo + static_cast<int>(m_rng() % static_cast<unsigned int>(hi - lo + 1)); }
  bool chance(int inN) { return between(1, inN) == 1; }
  template <class T>
  const T& pick(const std::vector<T>& from) {
    return from[static_cast<std::size_t>(between(0, static_cast<int>(from.size()) - 1))];
  }

private:
  std::mt19937 m_rng;
};

// Whether the entry's constraints own member constraints that run on their own.
bool composite(int entry) {
  const std::string& name = constraintCatalogue()[static_cast<std::size_t>(entry)].className;
  return name == "WithinBounds" || name == "AddMultEqualConstraint";
}

// Whether a live constraint with members of its own has the variable in its scope.
bool underComposite(const Session& s, int v) {
  for (const auto& c : s.constraints())
    if (c.second.alive && composite(c.second.entry) &&
        std::find(c.second.scope.begin(), c.second.scope.end(), v) != c.second.scope.end())
      return true;
  return false;
}

// Draws legal operations for a session, keeping away from the excluded hazards.
class Generator {
public:
  Generator(unsigned int seed, const OperationSequence::Options& options) : m_draw(seed), m_options(options) {}

  void initial(const Session& s, std::vector<Operation>& out) {
    const int variables = m_draw.between(3, 5);
    for (int i = 0; i < variables; ++i)
      out.push_back(newVariable(KIND_ANY));
    (void)s;
  }

  // The next operation; a constraint whose position nothing fits first asks for a variable.
  Operation next(const Session& s) {
    // The network starts with a few constraints.
    if (m_opening > 0) {
      --m_opening;
      return newConstraint(s);
    }
    const int roll = m_draw.between(0, 99);
    if (roll < 20)
      return Operation();
    if (roll < 30)
      return onVariable(s, Type::SPECIFY);
    if (roll < 36)
      return onVariable(s, Type::RESET);
    if (roll < 40)
      return onVariable(s, Type::RELAX);
    if (roll < 47)
      return onVariable(s, Type::RESTRICT_BASE);
    if (roll < 51)
      return onConstraint(s, Type::DEACTIVATE_CONSTRAINT);
    if (roll < 55)
      return onConstraint(s, Type::ACTIVATE_CONSTRAINT);
    if (roll < 58)
      return onVariable(s, Type::DEACTIVATE_VARIABLE);
    if (roll < 61)
      return onVariable(s, Type::ACTIVATE_VARIABLE);
    if (roll < 76)
      return newConstraint(s);
    if (roll < 82)
      return onConstraint(s, Type::DELETE_CONSTRAINT);
    if (roll < 86)
      return onVariable(s, Type::DELETE_VARIABLE);
    if (roll < 93)
      return liveCount(s.variables()) < MAX_VARIABLES ? newVariable(KIND_ANY) : Operation();
    Operation op;
    op.type = Type::AUTO_PROPAGATION;
    op.flag = m_draw.chance(2);
    return op;
  }

private:
  bool allowed(Hazard hazard) const { return m_options.excluded.count(hazard) == 0; }

  template <class M>
  static std::size_t liveCount(const M& records) {
    std::size_t n = 0;
    for (const auto& r : records)
      n += r.second.alive ? 1 : 0;
    return n;
  }

  std::vector<int> drawValues(int kind) {
    if (kind == KIND_BOOLEAN) {
      const int which = m_draw.between(0, 3);
      return which < 2 ? std::vector<int>{0, 1} : std::vector<int>{which - 2};
    }
    if (kind == KIND_INTERVAL) {
      const int lb = m_draw.between(LEAST, GREATEST);
      return {lb, std::min(GREATEST, lb + m_draw.between(0, m_draw.between(0, 4)))};
    }
    std::vector<int> values;
    for (int v = LEAST; v <= GREATEST; ++v)
      if (m_draw.chance(3))
        values.push_back(v);
    if (values.empty())
      values.push_back(m_draw.between(LEAST, GREATEST));
    return values;
  }

  Operation newVariable(unsigned int kinds, bool fixed = false) {
    std::vector<int> choices;
    for (int k : {KIND_INTERVAL, KIND_ENUMERATION, KIND_BOOLEAN})
      if (kinds & static_cast<unsigned int>(k))
        choices.push_back(k);
    Operation op;
    op.type = Type::CREATE_VARIABLE;
    op.target = m_nextVariable++;
    op.kind = m_draw.pick(choices);
    op.values = drawValues(op.kind);
    op.flag = m_draw.chance(3);
    if (fixed)
      op.values = op.kind == KIND_INTERVAL ? std::vector<int>{op.values[0], op.values[0]}
                                          : std::vector<int>{op.values[0]};
    else if (allowed(Hazard::EMPTY_VARIABLE) && op.kind != KIND_BOOLEAN && m_draw.chance(25))
      op.values = op.kind == KIND_INTERVAL ? std::vector<int>{1, 0} : std::vector<int>();
    return op;
  }

  Operation onVariable(const Session& s, Type type) {
    std::vector<int> candidates;
    for (const auto& v : s.variables())
      if (v.second.alive)
        candidates.push_back(v.first);
    if (candidates.empty())
      return Operation();
    Operation op;
    op.type = type;
    op.target = m_draw.pick(candidates);
    const ModelVariable& var = s.variables().at(op.target);
    if (type == Type::SPECIFY) {
      const std::set<int> base = membersOf(var.id->baseDomain());
      if (base.empty())
        return Operation();
      op.values = {m_draw.pick(std::vector<int>(base.begin(), base.end()))};
    } else if (type == Type::RESTRICT_BASE) {
      op.kind = var.kind;
      if (var.kind != KIND_BOOLEAN && allowed(Hazard::RESTRICT_ACROSS_KINDS) && m_draw.chance(4))
        op.kind = var.kind == KIND_INTERVAL ? KIND_ENUMERATION : KIND_INTERVAL;
      op.values = drawValues(op.kind);
      if (var.specified && !allowed(Hazard::RESTRICT_AWAY_SPECIFIED) &&
          members(op.kind, op.values).count(var.value) == 0)
        return Operation();
    } else if (type == Type::DELETE_VARIABLE && !allowed(Hazard::DELETE_COMPOSITE_VARIABLE) &&
               underComposite(s, op.target)) {
      return Operation();
    } else if (type == Type::DEACTIVATE_VARIABLE && !allowed(Hazard::SWITCH_OFF_COMPOSITE) &&
               underComposite(s, op.target)) {
      return Operation();
    }
    return op;
  }

  Operation onConstraint(const Session& s, Type type) {
    std::vector<int> candidates;
    for (const auto& c : s.constraints())
      if (c.second.alive)
        candidates.push_back(c.first);
    if (candidates.empty())
      return Operation();
    Operation op;
    op.type = type;
    op.target = m_draw.pick(candidates);
    op.flag = m_draw.chance(2);
    if (type == Type::DEACTIVATE_CONSTRAINT && !allowed(Hazard::SWITCH_OFF_COMPOSITE) &&
        composite(s.constraints().at(op.target).entry))
      return Operation();
    return op;
  }

  Operation newConstraint(const Session& s) {
    if (liveCount(s.constraints()) >= MAX_CONSTRAINTS)
      return Operation();
    const std::vector<ConstraintEntry>& catalogue = constraintCatalogue();
    Operation op;
    op.type = Type::CREATE_CONSTRAINT;
    op.kind = m_draw.between(0, static_cast<int>(catalogue.size()) - 1);
    const ConstraintEntry& entry = catalogue[static_cast<std::size_t>(op.kind)];
    const int arity = m_draw.between(static_cast<int>(entry.minArity), static_cast<int>(entry.maxArity));
    for (int i = 0; i < arity; ++i) {
      const ConstraintEntry::Position p = entry.position ? entry.position(static_cast<unsigned int>(i))
                                                         : ConstraintEntry::Position();
      const bool numeric = (p.kinds & (KIND_INTERVAL | KIND_ENUMERATION)) != 0;
      std::vector<int> candidates;
      for (const auto& v : s.variables())
        if (s.fits(v.first, entry, static_cast<unsigned int>(i)) &&
            (allowed(Hazard::BOOLEAN_AS_NUMBER) || !numeric || v.second.kind != KIND_BOOLEAN) &&
            (allowed(Hazard::SWITCH_OFF_COMPOSITE) || !composite(op.kind) || s.activeVariable(v.first)))
          candidates.push_back(v.first);
      if (candidates.empty() || m_draw.chance(8)) {
        if (liveCount(s.variables()) >= MAX_VARIABLES)
          return Operation();
        const unsigned int kinds =
            allowed(Hazard::BOOLEAN_AS_NUMBER) || !numeric ? p.kinds : p.kinds & ~static_cast<unsigned int>(KIND_BOOLEAN);
        return newVariable(kinds, p.fixed);
      }
      op.scope.push_back(m_draw.pick(candidates));
    }
    op.target = m_nextConstraint++;
    if (!entry.names.empty() && m_draw.chance(2))
      op.variant = m_draw.between(1, static_cast<int>(entry.names.size()));
    else
      op.flag = entry.equalityPropagated && m_draw.chance(2);
    if (entry.hasData) {
      const int kind = s.variables().at(op.scope[0]).kind == KIND_BOOLEAN
                           ? static_cast<int>(KIND_BOOLEAN)
                           : (m_draw.chance(2) ? static_cast<int>(KIND_INTERVAL) : static_cast<int>(KIND_ENUMERATION));
      op.data.push_back(kind);
      const std::vector<int> values = drawValues(kind);
      op.data.insert(op.data.end(), values.begin(), values.end());
    }
    return op;
  }

  Draw m_draw;
  OperationSequence::Options m_options;
  int m_nextVariable = 0;
  int m_nextConstraint = 0;
  int m_opening = 6;
};

// Runs operations in a fresh session, then tears it down; what failed, and the operations applied.
Failure run(const std::vector<Operation>& given, Generator* generator, unsigned int extra,
            std::vector<Operation>& applied) {
  const Census before = Census::now();
  Failure failure;
  {
    Session session;
    std::vector<Operation> pending = given;
    if (generator)
      generator->initial(session, pending);
    std::size_t next = 0;
    unsigned int drawn = 0;
    while (!session.failure().any()) {
      Operation op;
      if (next < pending.size())
        op = pending[next++];
      else if (generator && drawn < extra) {
        op = generator->next(session);
        ++drawn;
      } else
        break;
      if (session.apply(op))
        applied.push_back(op);
    }
    failure = session.failure();
  }
  const Census after = Census::now();
  if (!failure.any() && (after.entities != before.entities || after.handles != before.handles))
    failure = Failure{"left objects behind", std::to_string(after.entities - before.entities) + " entities and " +
                                                 std::to_string(after.handles - before.handles) +
                                                 " handles left behind"};
  return failure;
}

// Drops operations while the run still fails the same way; gives up after a bounded number of tries.
std::vector<Operation> shorten(std::vector<Operation> ops, const std::string& category) {
  unsigned int tries = 0;
  for (std::size_t chunk = ops.size() / 2; chunk >= 1 && tries < 400; chunk /= 2) {
    for (std::size_t at = 0; at + chunk <= ops.size() && tries < 400;) {
      std::vector<Operation> shorter(ops.begin(), ops.begin() + static_cast<std::ptrdiff_t>(at));
      shorter.insert(shorter.end(), ops.begin() + static_cast<std::ptrdiff_t>(at + chunk), ops.end());
      std::vector<Operation> applied;
      ++tries;
      if (run(shorter, nullptr, 0, applied).category == category)
        ops = applied;
      else
        at += chunk;
    }
  }
  return ops;
}

} // namespace

std::string OperationSequence::describe(const Operation& op) {
  std::ostringstream os;
  const std::string v = "v" + std::to_string(op.target);
  const std::string c = "c" + std::to_string(op.target);
  switch (op.type) {
  case Type::PROPAGATE:
    return "propagate()";
  case Type::SPECIFY:
    os << v << ".specify(" << (op.values.empty() ? 0 : op.values[0]) << ")";
    break;
  case Type::RESET:
    return v + ".reset()";
  case Type::RELAX:
    return v + ".relax()";
  case Type::RESTRICT_BASE:
    os << v << ".restrictBaseDomain(" << kindName(op.kind) << " " << text(members(op.kind, op.values)) << ")";
    break;
  case Type::DEACTIVATE_CONSTRAINT:
    return c + ".deactivate()";
  case Type::ACTIVATE_CONSTRAINT:
    return c + ".undoDeactivation()";
  case Type::DEACTIVATE_VARIABLE:
    return v + ".deactivate()";
  case Type::ACTIVATE_VARIABLE:
    return v + ".undoDeactivation()";
  case Type::CREATE_VARIABLE:
    os << v << " = " << (op.flag ? "createVariable " : "new ") << kindName(op.kind) << " ";
    if (op.kind == KIND_INTERVAL)
      os << "[" << op.values[0] << ", " << op.values[1] << "]";
    else
      os << text(members(op.kind, op.values));
    break;
  case Type::DELETE_VARIABLE:
    return "delete " + v;
  case Type::CREATE_CONSTRAINT: {
    const ConstraintEntry& entry = constraintCatalogue().at(static_cast<std::size_t>(op.kind));
    os << c << " = ";
    if (op.variant > 0)
      os << "createConstraint(\"" << entry.names.at(static_cast<std::size_t>(op.variant - 1)) << "\"";
    else
      os << "new " << entry.className << "(" << (op.flag ? "\"Equal\"" : "\"Default\"");
    for (int s : op.scope)
      os << ", v" << s;
    if (!op.data.empty())
      os << ", source " << kindName(op.data[0]) << " "
         << text(members(op.data[0], std::vector<int>(op.data.begin() + 1, op.data.end())));
    os << ")";
    break;
  }
  case Type::DELETE_CONSTRAINT:
    return (op.flag ? "deleteConstraint(" : "delete(") + c + ")";
  case Type::AUTO_PROPAGATION:
    return std::string("setAutoPropagation(") + (op.flag ? "true" : "false") + ")";
  }
  return os.str();
}

std::string OperationSequence::replay(const std::vector<Operation>& operations) {
  std::vector<Operation> applied;
  const Failure failure = run(operations, nullptr, 0, applied);
  return failure.any() ? failure.category + ": " + failure.detail : "";
}

std::string OperationSequence::runSeed(unsigned int seed, const Options& options) {
  Generator generator(seed, options);
  std::vector<Operation> applied;
  const Failure failure = run({}, &generator, options.operations, applied);
  if (!failure.any())
    return "";
  const std::vector<Operation> shortest = shorten(applied, failure.category);
  std::vector<Operation> again;
  Failure shown = run(shortest, nullptr, 0, again);
  if (!shown.any())
    shown = Failure{failure.category, failure.detail + "; its replay holds"};
  std::ostringstream os;
  os << "seed " << seed << ": " << shown.category << " (" << shown.detail << ")\n  replay this seed alone with "
     << "KALDEN_OPSEQ_SEED=" << seed << "; " << shortest.size() << " of its " << applied.size()
     << " operations still fail:";
  for (const Operation& op : shortest)
    os << "\n    " << describe(op);
  return os.str();
}

} // namespace KALDEN
