#include "support/SoundnessHarness.hh"

#include "ConstraintEngine/ModuleConstraintLibrary.hh"
#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
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
#include <functional>
#include <iomanip>
#include <list>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>

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

enum class Kind { INTERVAL, ENUMERATION, BOOLEAN, REAL_INTERVAL, REAL_ENUMERATION, OPEN_ENUMERATION };

// The grids real domains are drawn on. Quarters are exact in binary; tenths are how users write
// reals, and binary holds only the halves among them exactly; hairs lie closer to an integer than
// the engine's tolerance, where it may read them as that integer.
enum class Grid { QUARTERS, TENTHS, HAIRS };

// Offsets of the hair grid from each integer, in billionths: hairs within the tolerance, and one
// just beyond it on each side, which the engine must tell apart from the integer.
const long long HAIR_OFFSETS[] = {-15000, -3000, -100, -1, 0, 1, 100, 3000, 15000};
const int HAIRS_PER_INTEGER = sizeof(HAIR_OFFSETS) / sizeof(HAIR_OFFSETS[0]);

// Widths of a real interval narrower than the tolerance, in billionths: it holds more than one
// value, and its ends may differ from a third value on different sides of the tolerance.
const long long NARROW_WIDTHS[] = {1, 3000, 9000};
const int NARROW_KINDS = sizeof(NARROW_WIDTHS) / sizeof(NARROW_WIDTHS[0]);

Decimal hairBeside(long long integer, int offset) { return Decimal(integer * 1000000000 + HAIR_OFFSETS[offset], 9); }

// The grid's points from lo to hi, in order; hairs lie on both sides of each integer, so a
// hair may lie beyond lo or hi.
std::vector<Decimal> gridPoints(Grid grid, int lo, int hi) {
  std::vector<Decimal> points;
  if (grid == Grid::HAIRS) {
    for (int k = lo; k <= hi; ++k)
      for (int offset = 0; offset < HAIRS_PER_INTEGER; ++offset)
        points.push_back(hairBeside(k, offset));
    return points;
  }
  const int perUnit = grid == Grid::QUARTERS ? 4 : 10;
  for (int step = lo * perUnit; step <= hi * perUnit; ++step)
    points.push_back(grid == Grid::QUARTERS ? Decimal(25 * step, 2) : Decimal(step, 1));
  return points;
}

// The domain drawn for one position, and the values it holds: as the user writes them, and as
// the engine holds them.
struct Drawn {
  Kind kind;
  std::unique_ptr<AbstractDomain> domain;
  std::vector<Decimal> values;
  std::vector<double> doubles;
  bool computed = false; // tenths held as the sum of the tenth below and 0.1
  bool narrow = false;   // a real interval narrower than the tolerance, whose ends are hair values

  void hold(const Decimal& value) {
    values.push_back(value);
    doubles.push_back(computed ? (value - Decimal(1, 1)).toDouble() + 0.1 : value.toDouble());
  }
  std::list<double> members() const { return std::list<double>(doubles.begin(), doubles.end()); }
  // The drawn domain in the user's decimals.
  std::string text() const {
    const bool range = kind == Kind::INTERVAL || kind == Kind::REAL_INTERVAL;
    std::string t = kind == Kind::REAL_INTERVAL || kind == Kind::REAL_ENUMERATION ? "real"
                    : kind == Kind::BOOLEAN                                       ? "bool"
                                                                                  : "int";
    t += kind == Kind::OPEN_ENUMERATION ? " open" : computed ? " sums" : "";
    t += range ? "[" + values.front().text() + ", " + values.back().text() + "]" : "{";
    for (std::size_t k = 0; !range && k < values.size(); ++k)
      t += (k == 0 ? "" : ", ") + values[k].text();
    return range ? t : t + "}";
  }
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

// A real enumeration on the grid. Hair members beside one integer would lie within the
// tolerance of each other, which an enumeration holds as one: one member per integer.
void drawRealMembers(Draw& draw, Grid grid, int lo, int hi, int realValues, Drawn& drawn) {
  if (grid == Grid::HAIRS) {
    for (double k : drawMembers(draw, lo, hi, 1 + draw.smallUpTo(std::min(hi - lo, realValues - 1))))
      drawn.hold(hairBeside(static_cast<long long>(k), draw.between(0, HAIRS_PER_INTEGER - 1)));
    return;
  }
  const std::vector<Decimal> points = gridPoints(grid, lo, hi);
  const int last = static_cast<int>(points.size()) - 1;
  for (double at : drawMembers(draw, 0, last, 1 + draw.smallUpTo(std::min(last, realValues - 1))))
    drawn.hold(points[static_cast<std::size_t>(at)]);
}

// `realValues` caps the grid values a real domain holds, so that brute force stays small;
// `narrowReals` lets a real interval be narrower than the tolerance (a decimal meaning judges it).
Drawn drawDomain(Draw& draw, const SoundnessHarness::Position& position, Grid grid, int realValues, bool narrowReals) {
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
  if (drawn.kind == Kind::ENUMERATION && position.open && draw.between(0, 2) == 0)
    drawn.kind = Kind::OPEN_ENUMERATION;
  drawn.computed = position.sums && grid == Grid::TENTHS && draw.between(0, 2) == 0 &&
                   (drawn.kind == Kind::REAL_INTERVAL || drawn.kind == Kind::REAL_ENUMERATION);
  switch (drawn.kind) {
  case Kind::INTERVAL: {
    const int lb = draw.between(position.lo, position.hi);
    const int ub = lb + draw.smallUpTo(position.hi - lb);
    drawn.domain.reset(new IntervalIntDomain(lb, ub, IntDT::instance()));
    for (int v = lb; v <= ub; ++v)
      drawn.hold(v);
    break;
  }
  case Kind::ENUMERATION:
  case Kind::OPEN_ENUMERATION: {
    // An open one often holds one value or none: it is decided by nothing it holds so far.
    const int size = drawn.kind == Kind::OPEN_ENUMERATION && draw.between(0, 1) == 0
                         ? draw.between(0, 1)
                         : 1 + draw.smallUpTo(position.hi - position.lo);
    for (double v : drawMembers(draw, position.lo, position.hi, size))
      drawn.hold(static_cast<long long>(v));
    if (drawn.kind == Kind::ENUMERATION) {
      drawn.domain.reset(new NumericDomain(drawn.members(), IntDT::instance()));
      break;
    }
    NumericDomain* open = new NumericDomain(IntDT::instance());
    drawn.domain.reset(open);
    open->insert(drawn.members());
    break;
  }
  case Kind::BOOLEAN: {
    const int which = draw.between(0, 2);
    if (which == 2) {
      drawn.domain.reset(new BoolDomain(BoolDT::instance()));
      drawn.hold(0);
      drawn.hold(1);
    } else {
      drawn.domain.reset(new BoolDomain(which == 1, BoolDT::instance()));
      drawn.hold(which);
    }
    break;
  }
  case Kind::REAL_INTERVAL: {
    const std::vector<Decimal> points = gridPoints(grid, position.lo, position.hi);
    const int lb = draw.between(0, static_cast<int>(points.size()) - 1);
    if (narrowReals && !drawn.computed && draw.between(0, 3) == 0) {
      // Its two ends stand for the values it holds: any other lies within the tolerance of both.
      const Decimal from = points[static_cast<std::size_t>(lb)];
      drawn.hold(from);
      drawn.hold(from + Decimal(NARROW_WIDTHS[draw.between(0, NARROW_KINDS - 1)], 9));
      drawn.narrow = true;
      drawn.domain.reset(new IntervalDomain(drawn.doubles.front(), drawn.doubles.back(), FloatDT::instance()));
      break;
    }
    const int ub = lb + draw.smallUpTo(std::min(static_cast<int>(points.size()) - 1 - lb, realValues - 1));
    for (int at = lb; at <= ub; ++at)
      drawn.hold(points[static_cast<std::size_t>(at)]);
    drawn.domain.reset(new IntervalDomain(drawn.doubles.front(), drawn.doubles.back(), FloatDT::instance()));
    break;
  }
  case Kind::REAL_ENUMERATION:
    drawRealMembers(draw, grid, position.lo, position.hi, realValues, drawn);
    drawn.domain.reset(new NumericDomain(drawn.members(), FloatDT::instance()));
    break;
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
  case Kind::OPEN_ENUMERATION:
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

// What propagation left of a domain, with digits enough to tell a hair value from its integer.
std::string shown(const AbstractDomain& dom) {
  std::ostringstream os;
  os << std::setprecision(15);
  if (dom.isEmpty())
    os << "empty";
  else if (dom.isEnumerated()) {
    std::list<double> values;
    dom.getValues(values);
    os << "{";
    for (double v : values)
      os << (v == values.front() ? "" : ", ") << v;
    os << "}";
  } else
    os << "[" << dom.getLowerBound() << ", " << dom.getUpperBound() << "]";
  return os.str();
}

// Whether every variable of the scope is decided to a closed single value; if so, writes them.
bool decidedDoubles(const std::vector<Id<ConstrainedVariable> >& scope, std::vector<double>& values) {
  for (const Id<ConstrainedVariable>& var : scope) {
    const AbstractDomain& dom = var->lastDomain();
    if (dom.isOpen() || dom.isEmpty() || !dom.isSingleton())
      return false;
    values.push_back(dom.getSingletonValue());
  }
  return true;
}

// The decided values on the quarter grid, or false. A value off the grid (a root, say) is left
// unjudged: the meanings in doubles compute exactly only on it.
bool decidedQuarters(const std::vector<Id<ConstrainedVariable> >& scope, std::vector<double>& values) {
  return decidedDoubles(scope, values) &&
         std::all_of(values.begin(), values.end(), [](double v) { return std::floor(v * 4) == v * 4; });
}

// The decided values as the user reads them, each at its nearest billionth, where every grid
// point lies; false when one lies farther from it than rounding explains (a root, say). A computed
// value that happens to lie that near (sqrt(3.2), 1.788854382) is read so too: the meanings judge
// what they compute within half a billionth. A real interval narrower than the tolerance counts
// as decided: it is, when both its ends read alike.
bool decidedDecimals(const std::vector<Id<ConstrainedVariable> >& scope, std::vector<Decimal>& values) {
  std::vector<double> doubles;
  if (!decidedDoubles(scope, doubles))
    return false;
  for (std::size_t i = 0; i < scope.size(); ++i) {
    const AbstractDomain& dom = scope[i]->lastDomain();
    const long long billionths = std::llround(doubles[i] * 1e9);
    for (double end : {dom.getLowerBound(), dom.getUpperBound()})
      if (std::fabs(end - static_cast<double>(billionths) / 1e9) > 1e-12)
        return false;
    values.push_back(Decimal(billionths, 9));
  }
  return true;
}

// Whether a consistent answer that decides every position satisfies the meaning, as far as
// its values can be judged. Among hair values they cannot be: the engine's tolerance acts on
// the bounds it computes (a quotient, a root) as well as on the relation, so 1.999985 = 1 * x * 2
// may decide x = 1, the quotient being within the tolerance of it, and no reading of the
// relation alone says which decided answers the engine may give.
bool decidedSatisfies(const SoundnessHarness::Subject& subject, const SoundnessHarness::Meaning& meaning, bool hairs,
                      const std::vector<Id<ConstrainedVariable> >& scope) {
  if (!subject.decimalMeaning) {
    std::vector<double> values;
    return !decidedQuarters(scope, values) || meaning(values);
  }
  std::vector<Decimal> values;
  return hairs || !decidedDecimals(scope, values) || subject.decimalMeaning(values);
}

// What brute force found: whether a solution exists that the engine must not deny, and by
// position the values (indices into the drawn values) it must keep.
struct Support {
  bool solvable = false;
  std::vector<std::set<std::size_t> > kept;
};

// Runs `visit` over every assignment of drawn values, as indices; `at` holds the indices so far.
void everyAssignment(const std::vector<Drawn>& domains, std::vector<std::size_t>& at,
                     const std::function<void(const std::vector<std::size_t>&)>& visit) {
  if (at.size() == domains.size()) {
    visit(at);
    return;
  }
  for (std::size_t k = 0; k < domains[at.size()].values.size(); ++k) {
    at.push_back(k);
    everyAssignment(domains, at, visit);
    at.pop_back();
  }
}

void keep(Support& support, const std::vector<std::size_t>& at) {
  support.solvable = true;
  for (std::size_t i = 0; i < at.size(); ++i)
    support.kept[i].insert(at[i]);
}

// The support under a meaning in doubles.
Support supportInDoubles(const std::vector<Drawn>& domains, const SoundnessHarness::Meaning& meaning) {
  Support support;
  support.kept.resize(domains.size());
  std::vector<double> assignment(domains.size());
  std::vector<std::size_t> at;
  everyAssignment(domains, at, [&](const std::vector<std::size_t>& a) {
    for (std::size_t i = 0; i < a.size(); ++i)
      assignment[i] = domains[i].doubles[a[i]];
    if (meaning(assignment))
      keep(support, a);
  });
  return support;
}

// The support under both readings of a decimal meaning (see the class comment); `tolerantToo`
// is false where the readings coincide, which halves the work.
Support supportInDecimals(const std::vector<Drawn>& domains, const SoundnessHarness::DecimalMeaning& meaning,
                          bool tolerantToo) {
  Support support;
  support.kept.resize(domains.size());
  bool exactSolution = false, tolerantSolution = false;
  std::vector<Decimal> exact(domains.size()), tolerant(domains.size());
  std::vector<std::size_t> at;
  everyAssignment(domains, at, [&](const std::vector<std::size_t>& a) {
    for (std::size_t i = 0; i < a.size(); ++i) {
      exact[i] = domains[i].values[a[i]];
      tolerant[i] = exact[i].tolerant();
    }
    const bool exactly = meaning(exact);
    const bool tolerantly = tolerantToo ? meaning(tolerant) : exactly;
    exactSolution = exactSolution || exactly;
    tolerantSolution = tolerantSolution || tolerantly;
    if (exactly && tolerantly)
      keep(support, a);
  });
  support.solvable = exactSolution && tolerantSolution;
  return support;
}

// Ends a propagation that executes its constraints without end with an exception, so that the
// case is reported by its seed instead of hanging the whole run.
class ExecutionBudget : public ConstraintEngineListener {
public:
  explicit ExecutionBudget(const Id<ConstraintEngine>& engine) : ConstraintEngineListener(engine) {}
  void notifyExecuted(const Id<Constraint>&) override {
    if (++m_executions > LIMIT)
      throw std::runtime_error("propagation does not end: a hundred thousand executions");
  }

private:
  static const unsigned long LIMIT = 100000; // a case needs under a thousand
  unsigned long m_executions = 0;
};

// A schema and an engine with its default propagator and an execution budget; torn down as the host would.
class Network {
public:
  Network() : m_schema(new CESchema()), m_engine(new ConstraintEngine(m_schema->getId())) {
    new DefaultPropagator("Default", m_engine->getId()); // owned by the engine
    m_budget.reset(new ExecutionBudget(m_engine->getId()));
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
  std::unique_ptr<ExecutionBudget> m_budget; // may outlive the engine
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
  // Only a decimal meaning judges reals off the quarters exactly.
  const Grid grid = subject.decimalMeaning ? static_cast<Grid>(draw.between(0, 2)) : Grid::QUARTERS;
  // About REAL_BUDGET assignments at most from the real positions, however wide the scope.
  const int realValues = std::max(2, static_cast<int>(std::pow(REAL_BUDGET, 1.0 / arity)));
  std::vector<Drawn> domains;
  for (unsigned int i = 0; i < arity; ++i)
    domains.push_back(drawDomain(draw, subject.layout ? subject.layout(i, arity) : defaultLayout(i, arity), grid,
                                 realValues, static_cast<bool>(subject.decimalMeaning)));
  // Where hair values are drawn the exact and the tolerant readings may differ.
  const bool hairs =
      grid == Grid::HAIRS || std::any_of(domains.begin(), domains.end(), [](const Drawn& d) { return d.narrow; });

  Meaning meaning = subject.meaning;
  if (subject.meaningInDomains) {
    std::vector<std::vector<double> > drawnValues;
    for (const Drawn& drawn : domains)
      drawnValues.push_back(drawn.doubles);
    meaning = [&subject, drawnValues](const std::vector<double>& a) {
      return subject.meaningInDomains(a, drawnValues);
    };
  }
  const Support support = subject.decimalMeaning ? supportInDecimals(domains, subject.decimalMeaning, hairs)
                                                 : supportInDoubles(domains, meaning);

  std::ostringstream report;
  report << subject.name << ", seed " << seed << ":";
  for (unsigned int i = 0; i < arity; ++i)
    report << " x" << i << "=" << domains[i].text();

  Network network;
  std::vector<Id<ConstrainedVariable> > scope;
  for (unsigned int i = 0; i < arity; ++i)
    scope.push_back(makeVariable(network.engine(), domains[i], "x" + std::to_string(i)));

  std::ostringstream problems;
  // The checks after one propagation; `when` names it in the failure.
  auto judge = [&](const char* when) {
    const bool consistent = (*network).propagate();
    if (support.solvable && (!consistent || (*network).provenInconsistent()))
      problems << when << " inconsistency reported although a solution exists;";
    for (unsigned int i = 0; i < arity; ++i)
      for (std::size_t k : support.kept[i])
        if (!scope[i]->lastDomain().isMember(domains[i].doubles[k]))
          problems << when << " x" << i << " lost supported value " << domains[i].values[k].text() << ";";
    if (subject.decidedChecked && consistent && !decidedSatisfies(subject, meaning, hairs, scope))
      problems << when << " consistent with decided values that violate it;";
  };
  const bool anyOpen =
      std::any_of(domains.begin(), domains.end(), [](const Drawn& d) { return d.kind == Kind::OPEN_ENUMERATION; });
  try {
    subject.build(network.engine(), scope);
    judge(anyOpen ? " while open:" : "");
    for (unsigned int i = 0; i < arity; ++i)
      if (domains[i].kind == Kind::OPEN_ENUMERATION && problems.str().empty())
        scope[i]->close();
    if (anyOpen && problems.str().empty())
      judge(" once closed:");
  } catch (const Error& e) {
    problems << " failed check: " << e.what() << ";";
  } catch (const std::exception& e) {
    problems << " " << e.what() << ";";
  }
  if (problems.str().empty())
    return "";
  report << " ->";
  for (unsigned int i = 0; i < arity; ++i)
    report << " x" << i << "=" << shown(scope[i]->lastDomain());
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
