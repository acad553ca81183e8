#include "support/SoundnessHarness.hh"

#include "ConstraintEngine/ModuleConstraintLibrary.hh"
#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/Domains.hh"
#include "ConstraintEngine/component/Propagators.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "Utils/Engine.hh"
#include "Utils/Entity.hh"
#include "Utils/Error.hh"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <list>
#include <memory>
#include <random>
#include <set>
#include <sstream>

namespace KALDEN {

namespace {

// Draws from a seeded generator; the same seed gives the same case on every platform.
class Draw {
public:
  explicit Draw(unsigned int seed) : m_rng(seed) {}
  int between(int lo, int hi) { return lo + static_cast<int>(m_rng() % static_cast<unsigned int>(hi - lo + 1)); }
  // A number in 0..most, small ones more likely: tight domains are where propagation acts.
  int smallUpTo(int most) { return between(0, between(0, most)); }

private:
  std::mt19937 m_rng;
};

enum class Kind { INTERVAL, ENUMERATION, BOOLEAN, REAL_INTERVAL, REAL_ENUMERATION };

// The grid real domains are drawn on: quarter values, exact in binary, so sums and
// products of them compare exactly in the meanings.
const int STEPS_PER_UNIT = 4;

// The domain drawn for one position, and the values it holds.
struct Drawn {
  Kind kind;
  std::unique_ptr<AbstractDomain> domain;
  std::vector<double> values;
};

// Draws `size` distinct members of lo..hi (in steps), sorted.
std::list<double> drawMembers(Draw& draw, int lo, int hi, int size) {
  std::vector<int> pool;
  for (int v = lo; v <= hi; ++v)
    pool.push_back(v);
  std::list<double> members;
  for (int k = 0; k < size; ++k) {
    const std::size_t at = static_cast<std::size_t>(draw.between(0, static_cast<int>(pool.size()) - 1));
    members.push_back(pool[at]);
    pool.erase(pool.begin() + static_cast<std::ptrdiff_t>(at));
  }
  members.sort();
  return members;
}

// `realValues` caps the grid values a real domain holds, so that brute force stays small.
Drawn drawDomain(Draw& draw, const SoundnessHarness::Position& position, int realValues) {
  std::vector<Kind> kinds;
  if (position.intervals)
    kinds.push_back(Kind::INTERVAL);
  if (position.enumerations)
    kinds.push_back(Kind::ENUMERATION);
  if (position.booleans)
    kinds.push_back(Kind::BOOLEAN);
  if (position.reals && position.intervals)
    kinds.push_back(Kind::REAL_INTERVAL);
  if (position.reals && position.enumerations)
    kinds.push_back(Kind::REAL_ENUMERATION);
  Drawn drawn;
  drawn.kind = kinds[static_cast<std::size_t>(draw.between(0, static_cast<int>(kinds.size()) - 1))];
  switch (drawn.kind) {
  case Kind::INTERVAL: {
    const int lb = draw.between(position.lo, position.hi);
    const int ub = lb + draw.smallUpTo(position.hi - lb);
    drawn.domain.reset(new IntervalIntDomain(lb, ub, IntDT::instance()));
    for (int v = lb; v <= ub; ++v)
      drawn.values.push_back(v);
    break;
  }
  case Kind::ENUMERATION: {
    const std::list<double> members =
        drawMembers(draw, position.lo, position.hi, 1 + draw.smallUpTo(position.hi - position.lo));
    drawn.domain.reset(new NumericDomain(members, IntDT::instance()));
    drawn.values.assign(members.begin(), members.end());
    break;
  }
  case Kind::BOOLEAN: {
    const int which = draw.between(0, 2);
    if (which == 2) {
      drawn.domain.reset(new BoolDomain(BoolDT::instance()));
      drawn.values = {0.0, 1.0};
    } else {
      drawn.domain.reset(new BoolDomain(which == 1, BoolDT::instance()));
      drawn.values = {static_cast<double>(which)};
    }
    break;
  }
  case Kind::REAL_INTERVAL: {
    const int lo = position.lo * STEPS_PER_UNIT;
    const int hi = position.hi * STEPS_PER_UNIT;
    const int lb = draw.between(lo, hi);
    const int ub = lb + draw.smallUpTo(std::min(hi - lb, realValues - 1));
    drawn.domain.reset(new IntervalDomain(static_cast<double>(lb) / STEPS_PER_UNIT,
                                          static_cast<double>(ub) / STEPS_PER_UNIT, FloatDT::instance()));
    for (int v = lb; v <= ub; ++v)
      drawn.values.push_back(static_cast<double>(v) / STEPS_PER_UNIT);
    break;
  }
  case Kind::REAL_ENUMERATION: {
    const int lo = position.lo * STEPS_PER_UNIT;
    const int hi = position.hi * STEPS_PER_UNIT;
    std::list<double> members = drawMembers(draw, lo, hi, 1 + draw.smallUpTo(std::min(hi - lo, realValues - 1)));
    for (double& member : members)
      member /= STEPS_PER_UNIT;
    drawn.domain.reset(new NumericDomain(members, FloatDT::instance()));
    drawn.values.assign(members.begin(), members.end());
    break;
  }
  }
  return drawn;
}

Id<ConstrainedVariable> makeVariable(const Id<ConstraintEngine>& engine, const Drawn& drawn, const std::string& name) {
  switch (drawn.kind) {
  case Kind::INTERVAL:
    return (new Variable<IntervalIntDomain>(engine, *drawn.domain, false, true, name, Id<Entity>::noId(),
                                            ConstrainedVariable::NO_INDEX))
        ->getId();
  case Kind::REAL_INTERVAL:
    return (new Variable<IntervalDomain>(engine, *drawn.domain, false, true, name, Id<Entity>::noId(),
                                         ConstrainedVariable::NO_INDEX))
        ->getId();
  case Kind::ENUMERATION:
  case Kind::REAL_ENUMERATION:
    return (new Variable<EnumeratedDomain>(engine, *drawn.domain, false, true, name, Id<Entity>::noId(),
                                           ConstrainedVariable::NO_INDEX))
        ->getId();
  case Kind::BOOLEAN:
    break;
  }
  return (new Variable<BoolDomain>(engine, *drawn.domain, false, true, name, Id<Entity>::noId(),
                                   ConstrainedVariable::NO_INDEX))
      ->getId();
}

// Whether every variable of the scope is decided to a value of the grid; if so, writes their
// values. A value off the grid (a root, say) is left unjudged: the meanings compute exactly.
bool decidedValues(const std::vector<Id<ConstrainedVariable> >& scope, std::vector<double>& values) {
  for (const Id<ConstrainedVariable>& var : scope) {
    const AbstractDomain& dom = var->lastDomain();
    if (dom.isOpen() || dom.isEmpty() || !dom.isSingleton())
      return false;
    const double value = dom.getSingletonValue();
    if (std::floor(value * STEPS_PER_UNIT) != value * STEPS_PER_UNIT)
      return false;
    values.push_back(value);
  }
  return true;
}

// Marks in `supported` every value that takes part in some satisfying assignment.
void collectSupport(const std::vector<Drawn>& domains, const SoundnessHarness::Meaning& meaning,
                    std::vector<double>& assignment, std::vector<std::set<double> >& supported, bool& anySolution) {
  const std::size_t i = assignment.size();
  if (i == domains.size()) {
    if (!meaning(assignment))
      return;
    anySolution = true;
    for (std::size_t k = 0; k < assignment.size(); ++k)
      supported[k].insert(assignment[k]);
    return;
  }
  for (double v : domains[i].values) {
    assignment.push_back(v);
    collectSupport(domains, meaning, assignment, supported, anySolution);
    assignment.pop_back();
  }
}

// A schema and an engine with its default propagator; torn down as the host would.
class Network {
public:
  Network() : m_schema(new CESchema()), m_engine(new ConstraintEngine(m_schema->getId())) {
    new DefaultPropagator("Default", m_engine->getId()); // owned by the engine
  }
  ~Network() {
    Entity::purgeStart();
    m_engine.reset();
    Entity::purgeEnd();
    m_schema.reset();
    Entity::garbageCollect();
  }
  const Id<ConstraintEngine>& engine() const { return m_engine->getId(); }
  ConstraintEngine& operator*() { return *m_engine; }

private:
  std::unique_ptr<CESchema> m_schema;
  std::unique_ptr<ConstraintEngine> m_engine;
};

SoundnessHarness::Position defaultLayout(unsigned int, unsigned int) { return SoundnessHarness::Position(); }

const double REAL_BUDGET = 200000.0;

// The multiple of every check's cases that KALDEN_SOUNDNESS_SCALE asks for; 1 by default.
unsigned int caseScale() {
  const char* text = std::getenv("KALDEN_SOUNDNESS_SCALE");
  const int scale = text ? std::atoi(text) : 1;
  return scale > 0 ? static_cast<unsigned int>(scale) : 1u;
}

} // namespace

std::string SoundnessHarness::runCase(const Subject& subject, unsigned int seed) {
  Draw draw(seed);
  const unsigned int arity =
      static_cast<unsigned int>(draw.between(static_cast<int>(subject.minArity), static_cast<int>(subject.maxArity)));
  // About REAL_BUDGET assignments at most from the real positions, however wide the scope.
  const int realValues = std::max(2, static_cast<int>(std::pow(REAL_BUDGET, 1.0 / arity)));
  std::vector<Drawn> domains;
  for (unsigned int i = 0; i < arity; ++i)
    domains.push_back(
        drawDomain(draw, subject.layout ? subject.layout(i, arity) : defaultLayout(i, arity), realValues));

  std::vector<std::set<double> > supported(arity);
  std::vector<double> assignment;
  bool anySolution = false;
  Meaning meaning = subject.meaning;
  if (subject.meaningInDomains) {
    std::vector<std::vector<double> > drawnValues;
    for (const Drawn& drawn : domains)
      drawnValues.push_back(drawn.values);
    meaning = [&subject, drawnValues](const std::vector<double>& a) {
      return subject.meaningInDomains(a, drawnValues);
    };
  }
  collectSupport(domains, meaning, assignment, supported, anySolution);

  std::ostringstream report;
  report << subject.name << ", seed " << seed << ":";
  for (unsigned int i = 0; i < arity; ++i)
    report << " x" << i << "=" << domains[i].domain->toString();

  Network network;
  std::vector<Id<ConstrainedVariable> > scope;
  for (unsigned int i = 0; i < arity; ++i)
    scope.push_back(makeVariable(network.engine(), domains[i], "x" + std::to_string(i)));

  std::ostringstream problems;
  try {
    subject.build(network.engine(), scope);
    const bool consistent = (*network).propagate();
    if (anySolution && (!consistent || (*network).provenInconsistent()))
      problems << " inconsistency reported although a solution exists;";
    if (anySolution)
      for (unsigned int i = 0; i < arity; ++i)
        for (double v : supported[i])
          if (!scope[i]->lastDomain().isMember(v))
            problems << " x" << i << " lost supported value " << v << ";";
    std::vector<double> decided;
    if (subject.decidedChecked && consistent && decidedValues(scope, decided) && !meaning(decided))
      problems << " consistent with decided values that violate it;";
  } catch (const Error& e) {
    problems << " failed check: " << e.what() << ";";
  }
  if (problems.str().empty())
    return "";
  report << " ->";
  for (unsigned int i = 0; i < arity; ++i)
    report << " x" << i << "=" << scope[i]->lastDomain().toString();
  report << ";" << problems.str();
  return report.str();
}

SoundnessHarness::Builder SoundnessHarness::byLibraryName(const std::string& name) {
  return [name](const Id<ConstraintEngine>& engine, const std::vector<Id<ConstrainedVariable> >& scope) {
    CESchema* schema = engine->getCESchema().operator->();
    if (!schema->isDataType("int")) { // comparisons type their interim by x's type
      schema->registerDataType((new BoolDT())->getId());
      schema->registerDataType((new IntDT())->getId());
      schema->registerDataType((new FloatDT())->getId());
    }
    if (!schema->isConstraintType(LabelStr(name.c_str()))) {
      Engine host;
      host.addComponent("CESchema", schema);
      ModuleConstraintLibrary().initialize(host.getId());
      host.removeComponent("CESchema");
    }
    engine->createConstraint(LabelStr(name.c_str()), scope);
  };
}

void SoundnessHarness::check(const Subject& subject, unsigned int count, unsigned int firstSeed) {
  const unsigned int cases = count * caseScale();
  for (unsigned int seed = firstSeed; seed < firstSeed + cases; ++seed) {
    const std::string failure = runCase(subject, seed);
    if (!failure.empty())
      ADD_FAILURE() << failure;
  }
}

} // namespace KALDEN
