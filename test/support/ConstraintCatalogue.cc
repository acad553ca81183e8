#include "support/ConstraintCatalogue.hh"

#include "ConstraintEngine/base/ConstraintType.hh"
#include "ConstraintEngine/component/Constraints.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/Domains.hh"
#include "support/TenthsDomains.hh"

#include <algorithm>
#include <cmath>
#include <list>
#include <numeric>
#include <memory>

namespace KALDEN {

namespace {

typedef std::vector<double> Assignment;
typedef std::vector<int> Data;

// The conditional all-same rule finds two closed xi without a common value only while neither is
// decided: a decided xi is compared with x1 alone, and only while every xi before it is decided
// too. So x1 in [0, 3] against [-3, -1] makes b false, but against -1 it does not: whether b is
// decided depends on whether the rule ran before or after the other xi came down to one value.
const char* const CONDITIONAL_SAME = "conditional all-same compares a decided xi only with a decided x1";

// The absolute value bounds y by x's upper bound only while x may still be 0: with x in [0, 1],
// y in {-3, ..., 3} comes down to [-1, 1], but with x = 1 it keeps its bounds (both signs stay
// possible). Whether y is narrowed depends on whether the rule ran before x lost 0.
const char* const ABSOLUTE_VALUE = "absolute value bounds y by x only while x may be 0";

int truth(bool b) { return b ? 1 : 0; }

// Gives the entry both readings of a meaning written once, generically, over doubles and decimals.
template <class F> void setMeaning(ConstraintEntry& e, F meaning) {
  e.meaning = [meaning](const Assignment& a, const Data&) { return meaning(a); };
  e.decimalMeaning = [meaning](const std::vector<Decimal>& a) { return meaning(a); };
}

template <class C, class F>
ConstraintEntry entry(const char* className, std::vector<const char*> names, unsigned int minArity,
                      unsigned int maxArity, F meaning) {
  ConstraintEntry e;
  e.className = className;
  e.names = names;
  e.minArity = minArity;
  e.maxArity = maxArity;
  setMeaning(e, meaning);
  e.build = [className](const Id<ConstraintEngine>& engine, const char* propagator,
                        const std::vector<Id<ConstrainedVariable> >& scope,
                        const Data&) -> Constraint* { return new C(className, propagator, engine, scope); };
  e.registerAs = [](CESchema& schema, const char* name) {
    schema.registerConstraintType((new ConcreteConstraintType<C>(name, "Default", false))->getId());
  };
  return e;
}

// Position `test` holds a truth value; every other position takes any kind.
std::function<ConstraintEntry::Position(unsigned int)> booleanAt(unsigned int test) {
  return [test](unsigned int position) {
    ConstraintEntry::Position p;
    if (position == test)
      p.kinds = KIND_BOOLEAN;
    return p;
  };
}

// Positions that take any kind, strings too, as the position rule (default: any number) says.
std::function<ConstraintEntry::Position(unsigned int)>
stringsToo(std::function<ConstraintEntry::Position(unsigned int)> rule = nullptr) {
  return [rule](unsigned int position) {
    ConstraintEntry::Position p = rule ? rule(position) : ConstraintEntry::Position();
    if (p.kinds == KIND_ANY)
      p.kinds |= KIND_LABELS;
    return p;
  };
}

// The listed positions must be intervals (integer, real or boolean).
std::function<ConstraintEntry::Position(unsigned int)> intervalsAt(std::vector<unsigned int> positions) {
  return [positions](unsigned int position) {
    ConstraintEntry::Position p;
    if (std::find(positions.begin(), positions.end(), position) != positions.end())
      p.kinds = KIND_INTERVAL | KIND_REAL | KIND_BOOLEAN;
    return p;
  };
}

// The unary source: data[0] says its kind (as VariableKind), the rest are its values (an interval's
// bounds; a real interval's are narrower than the tolerance, as TenthsDomains draws them).
std::unique_ptr<AbstractDomain> unarySource(const Data& data) {
  switch (data[0]) {
  case KIND_REAL:
    return TenthsDomains::narrowInterval(std::vector<int>(data.begin() + 1, data.end()));
  case KIND_INTERVAL:
    return std::unique_ptr<AbstractDomain>(new IntervalIntDomain(data[1], data[2], IntDT::instance()));
  case KIND_BOOLEAN:
    if (data.size() == 2)
      return std::unique_ptr<AbstractDomain>(new BoolDomain(data[1] != 0, BoolDT::instance()));
    return std::unique_ptr<AbstractDomain>(new BoolDomain(BoolDT::instance()));
  default:
    return std::unique_ptr<AbstractDomain>(
        new NumericDomain(std::list<double>(data.begin() + 1, data.end()), IntDT::instance()));
  }
}

bool inUnarySource(double value, const Data& data) {
  if (data[0] == KIND_REAL) {
    const std::vector<int> bounds = TenthsDomains::narrowBounds(std::vector<int>(data.begin() + 1, data.end()));
    return value >= bounds[0] && value <= bounds[1];
  }
  if (data[0] == KIND_INTERVAL)
    return value >= data[1] && value <= data[2];
  return std::find(data.begin() + 1, data.end(), static_cast<int>(value)) != data.end();
}

ConstraintEntry unaryEntry() {
  ConstraintEntry e;
  e.className = "UnaryConstraint";
  // Its registered name builds it without a source, which only another unary constraint can give.
  e.minArity = e.maxArity = 1;
  e.hasData = true;
  e.meaning = [](const Assignment& a, const Data& data) { return inUnarySource(a[0], data); };
  e.build = [](const Id<ConstraintEngine>&, const char*, const std::vector<Id<ConstrainedVariable> >& scope,
               const Data& data) -> Constraint* { return new UnaryConstraint(*unarySource(data), scope[0]); };
  return e;
}

// The helpers below serve both readings of a meaning: A is a vector of doubles or of decimals.
template <class A> typename A::value_type sumOf(const A& a, std::size_t from, std::size_t to) {
  typename A::value_type sum = 0;
  for (std::size_t i = from; i < to; ++i)
    sum = sum + a[i];
  return sum;
}

template <class A> typename A::value_type productOf(const A& a, std::size_t from) {
  typename A::value_type product = 1;
  for (std::size_t i = from; i < a.size(); ++i)
    product = product * a[i];
  return product;
}

template <class T> T magnitude(const T& v) { return v < 0 ? -v : v; }

double toDouble(double v) { return v; }
double toDouble(const Decimal& v) { return v.toDouble(); }
bool isTolerant(double) { return false; }
bool isTolerant(const Decimal& v) { return v.isTolerant(); }

// A decided decimal is read at its nearest billionth, so a value the engine computed (a root, a
// sine) lies within half a billionth of its reading: sqrt(3.2) reads as 1.788854382. Doubles are
// judged on the quarter grid only, exactly.
double readingSlack(double) { return 0.0; }
double readingSlack(const Decimal&) { return 5e-10; }

// y == fx for a function computed in doubles: within the reading's slack, or within the tolerance
// for a tolerant decimal, as the engine compares a computed bound with a domain.
template <class T> bool equalsComputed(const T& y, double fx) {
  return isTolerant(y) ? std::fabs(toDouble(y) - fx) < Decimal::tolerance().toDouble()
                       : std::fabs(toDouble(y) - fx) <= readingSlack(y);
}

// r * r == s, exactly in doubles; in decimals s's root lies within the reading's slack of r.
bool squareIs(double r, double s) { return r * r == s; }
bool squareIs(const Decimal& r, const Decimal& s) {
  const Decimal half(5, 10), below = r - half, above = r + half;
  return (below <= 0 || below * below <= s) && s <= above * above;
}

// r >= 0 and r * r == s; a tolerant reading compares r with the root, as the engine does.
template <class T> bool isRootOf(const T& r, const T& s) {
  if (isTolerant(r))
    return r >= 0 && s >= 0 && equalsComputed(r, std::sqrt(std::max(0.0, toDouble(s))));
  return r >= 0 && s >= 0 && squareIs(r, s);
}

template <class A> bool allEqual(const A& a, std::size_t from) {
  return std::all_of(a.begin() + static_cast<std::ptrdiff_t>(from), a.end(),
                     [&](const typename A::value_type& v) { return v == a[from]; });
}

// A constraint that creates `otherName` over its scope rotated right by `count`, by class.
template <class F>
ConstraintEntry rotating(std::vector<const char*> names, const char* otherName, int count, unsigned int minArity,
                         unsigned int maxArity, F meaning) {
  const char* name = names.front();
  ConstraintEntry e;
  e.className = std::string("RotateScopeRightConstraint ") + name;
  e.names = names;
  e.minArity = minArity;
  e.maxArity = maxArity;
  setMeaning(e, meaning);
  e.build = [name, otherName, count](const Id<ConstraintEngine>& engine, const char* propagator,
                                     const std::vector<Id<ConstrainedVariable> >& scope, const Data&) -> Constraint* {
    return new RotateScopeRightConstraint(name, propagator, engine, scope, otherName, count);
  };
  e.registerAs = [otherName, count](CESchema& schema, const char* n) {
    schema.registerConstraintType(
        (new RotatedNaryConstraintType<RotateScopeRightConstraint>(n, "Default", otherName, count))->getId());
  };
  return e;
}

// A constraint that creates `otherName` over its scope with two positions swapped, by class.
template <class F>
ConstraintEntry swapping(const char* name, const char* otherName, int first, int second, unsigned int minArity,
                         unsigned int maxArity, F meaning) {
  ConstraintEntry e;
  e.className = std::string("SwapTwoVarsConstraint ") + name;
  e.names = {name};
  e.minArity = minArity;
  e.maxArity = maxArity;
  setMeaning(e, meaning);
  e.build = [name, otherName, first, second](const Id<ConstraintEngine>& engine, const char* propagator,
                                             const std::vector<Id<ConstrainedVariable> >& scope,
                                             const Data&) -> Constraint* {
    return new SwapTwoVarsConstraint(name, propagator, engine, scope, otherName, first, second);
  };
  e.registerAs = [otherName, first, second](CESchema& schema, const char* n) {
    schema.registerConstraintType(
        (new SwapTwoVarsNaryConstraintType<SwapTwoVarsConstraint>(n, "Default", otherName, first, second))->getId());
  };
  return e;
}

template <class A> int nonZeros(const A& a, std::size_t from) {
  return static_cast<int>(std::count_if(a.begin() + static_cast<std::ptrdiff_t>(from), a.end(),
                                        [](const typename A::value_type& v) { return v != 0; }));
}

template <class A> bool allDifferent(const A& a, std::size_t from) {
  for (std::size_t i = from; i < a.size(); ++i)
    for (std::size_t j = i + 1; j < a.size(); ++j)
      if (a[i] == a[j])
        return false;
  return true;
}

std::vector<ConstraintEntry> makeCatalogue() {
  std::vector<ConstraintEntry> c;
  c.push_back(unaryEntry());

  ConstraintEntry equal =
      entry<EqualConstraint>("EqualConstraint", {"Equal", "asame", "eq", "fasame"}, 2, 3, [](const auto& a) {
        return allEqual(a, 0);
      });
  equal.equalityPropagated = true;
  equal.position = stringsToo();
  c.push_back(equal);
  ConstraintEntry neq = entry<NotEqualConstraint>("NotEqualConstraint", {"NotEqual", "neq"}, 2, 2,
                                                  [](const auto& a) { return a[0] != a[1]; });
  neq.position = stringsToo();
  c.push_back(neq);
  // Over full assignments every domain is a single value: a subset of a single value is that value.
  ConstraintEntry subset = entry<SubsetOfConstraint>("SubsetOfConstraint", {"SubsetOf", "subsetOf", "Singleton"}, 2, 2,
                                                     [](const auto& a) { return a[0] == a[1]; });
  subset.position = stringsToo();
  c.push_back(subset);
  // A lock domain of one value, fixed for good, makes the lock an equality; a wider one is no value relation.
  ConstraintEntry lock =
      entry<LockConstraint>("LockConstraint", {"Lock"}, 2, 2, [](const auto& a) { return a[0] == a[1]; });
  lock.position = [](unsigned int position) {
    ConstraintEntry::Position p;
    // The lock domain is fixed for good: an open one could still gain values.
    p.kinds = position == 1 ? KIND_INTERVAL | KIND_ENUMERATION | KIND_REAL : KIND_ANY & ~KIND_BOOLEAN;
    p.fixed = position == 1;
    return p;
  };
  c.push_back(lock);

  ConstraintEntry testEq = entry<TestEQ>("TestEQ", {"TestEqual", "testEQ"}, 3, 3,
                                         [](const auto& a) { return a[0] == truth(a[1] == a[2]); });
  testEq.position = stringsToo(booleanAt(0));
  c.push_back(testEq);
  ConstraintEntry testLt = entry<TestLessThan>("TestLessThan", {"TestLessThan", "condlt"}, 3, 3,
                                               [](const auto& a) { return a[0] == truth(a[1] < a[2]); });
  testLt.position = booleanAt(0);
  c.push_back(testLt);
  ConstraintEntry testLeq = entry<TestLEQ>("TestLEQ", {"testLEQ", "condleq"}, 3, 3,
                                           [](const auto& a) { return a[0] == truth(a[1] <= a[2]); });
  testLeq.position = booleanAt(0);
  c.push_back(testLeq);

  ConstraintEntry leq = entry<LessThanEqualConstraint>("LessThanEqualConstraint", {"LessThanEqual", "leq"}, 2, 2,
                                                       [](const auto& a) { return a[0] <= a[1]; });
  c.push_back(leq);
  ConstraintEntry lt = entry<LessThanConstraint>("LessThanConstraint", {"LessThan", "lt", "lessThan"}, 2, 2,
                                                 [](const auto& a) { return a[0] < a[1]; });
  c.push_back(lt);
  c.push_back(entry<WithinBounds>("WithinBounds", {"WithinBounds", "withinBounds"}, 3, 3,
                                  [](const auto& a) { return a[1] <= a[0] && a[0] <= a[2]; }));

  ConstraintEntry add = entry<AddEqualConstraint>("AddEqualConstraint", {"AddEqual", "addeq", "addEq"}, 3, 3,
                                                  [](const auto& a) { return a[0] + a[1] == a[2]; });
  c.push_back(add);
  ConstraintEntry mult = entry<MultEqualConstraint>("MultEqualConstraint", {"MultEqual", "mulEq", "multEq"}, 3, 3,
                                                    [](const auto& a) { return a[0] * a[1] == a[2]; });
  mult.position = intervalsAt({0, 1, 2});
  c.push_back(mult);
  ConstraintEntry addMult =
      entry<AddMultEqualConstraint>("AddMultEqualConstraint", {"AddMultEqual", "addMulEq", "addmuleq"}, 4, 4,
                                    [](const auto& a) { return a[0] + a[1] * a[2] == a[3]; });
  addMult.position = intervalsAt({1, 2});
  c.push_back(addMult);

  ConstraintEntry negate =
      entry<NegateConstraint>("NegateConstraint", {"neg"}, 2, 2, [](const auto& a) { return a[0] == -a[1]; });
  negate.position = intervalsAt({0, 1});
  c.push_back(negate);
  ConstraintEntry abs = entry<AbsoluteValue>("AbsoluteValue", {"absVal"}, 2, 2,
                                             [](const auto& a) { return a[0] == magnitude(a[1]); });
  abs.orderDependence = ABSOLUTE_VALUE;
  c.push_back(abs);
  ConstraintEntry sum = entry<EqualSumConstraint>("EqualSumConstraint", {"EqualSum", "sum"}, 3, 5,
                                                  [](const auto& a) { return a[0] == sumOf(a, 1, a.size()); });
  c.push_back(sum);
  ConstraintEntry product = entry<EqualProductConstraint>("EqualProductConstraint", {"EqualProduct", "product"}, 3, 4,
                                                          [](const auto& a) { return a[0] == productOf(a, 1); });
  product.position = [](unsigned int) {
    ConstraintEntry::Position p;
    p.kinds = KIND_INTERVAL | KIND_REAL | KIND_BOOLEAN;
    return p;
  };
  c.push_back(product);
  // The comparisons against sums are an ordering and a sum: both leave an open domain alone.
  std::vector<ConstraintEntry> comparisons = {
      entry<LessThanSumConstraint>("LessThanSumConstraint", {"LessThanSum"}, 3, 4,
                                   [](const auto& a) { return a[0] < sumOf(a, 1, a.size()); }),
      entry<LessOrEqThanSumConstraint>("LessOrEqThanSumConstraint", {"LessOrEqThanSum", "leqsum"}, 3, 4,
                                       [](const auto& a) { return a[0] <= sumOf(a, 1, a.size()); }),
      entry<GreaterThanSumConstraint>("GreaterThanSumConstraint", {"GreaterThanSum"}, 3, 4,
                                      [](const auto& a) { return a[0] > sumOf(a, 1, a.size()); }),
      entry<GreaterOrEqThanSumConstraint>("GreaterOrEqThanSumConstraint", {"GreaterOrEqThanSum"}, 3, 4,
                                          [](const auto& a) { return a[0] >= sumOf(a, 1, a.size()); })};
  for (ConstraintEntry& comparison : comparisons) {
    c.push_back(comparison);
  }
  ConstraintEntry condSum =
      entry<CondEqualSumConstraint>("CondEqualSumConstraint", {"CondEqualSum"}, 4, 4,
                                    [](const auto& a) { return a[0] == truth(a[1] == sumOf(a, 2, a.size())); });
  condSum.position = booleanAt(0);
  condSum.orderDependence = CONDITIONAL_SAME;
  c.push_back(condSum);
  ConstraintEntry condSame =
      entry<CondAllSameConstraint>("CondAllSameConstraint", {"CondAllSame", "condEq", "condeq", "condasame"}, 3, 4,
                                   [](const auto& a) { return a[0] == truth(allEqual(a, 1)); });
  condSame.position = booleanAt(0);
  condSame.orderDependence = CONDITIONAL_SAME;
  c.push_back(condSame);

  // The scope transforms, each over the delegate it names; the delegates' names are registered above.
  ConstraintEntry addLeq = rotating({"addleq"}, "GreaterOrEqThanSum", 1, 3, 4,
                                    [](const auto& a) { return a.back() >= sumOf(a, 0, a.size() - 1); });
  c.push_back(addLeq);
  ConstraintEntry addLt = rotating({"addlt"}, "GreaterThanSum", 1, 3, 3,
                                   [](const auto& a) { return a.back() > sumOf(a, 0, a.size() - 1); });
  c.push_back(addLt);

  // An open variable proves nothing different, and nothing is pruned while one is present.
  ConstraintEntry allDiff = entry<AllDiffConstraint>("AllDiffConstraint", {"AllDiff", "adiff", "fadiff", "fneq"}, 2, 3,
                                                     [](const auto& a) { return allDifferent(a, 0); });
  allDiff.position = stringsToo();
  c.push_back(allDiff);
  ConstraintEntry condDiff =
      entry<CondAllDiffConstraint>("CondAllDiffConstraint", {"CondAllDiff"}, 3, 4,
                                   [](const auto& a) { return a[0] == truth(allDifferent(a, 1)); });
  condDiff.position = stringsToo(booleanAt(0));
  c.push_back(condDiff);
  c.push_back(entry<EqualMaximumConstraint>(
      "EqualMaximumConstraint", {"EqualMaximum", "fallmax"}, 2, 4,
      [](const auto& a) { return a[0] == *std::max_element(a.begin() + 1, a.end()); }));
  c.push_back(entry<EqualMinimumConstraint>(
      "EqualMinimumConstraint", {"EqualMinimum", "fallmin"}, 2, 4,
      [](const auto& a) { return a[0] == *std::min_element(a.begin() + 1, a.end()); }));
  c.push_back(entry<CountZerosConstraint>("CountZerosConstraint", {"CountZeros"}, 2, 4, [](const auto& a) {
    return a[0] == static_cast<int>(a.size() - 1) - nonZeros(a, 1);
  }));
  c.push_back(entry<CountNonZerosConstraint>("CountNonZerosConstraint", {"CountNonZeros", "cardeq"}, 2, 4,
                                             [](const auto& a) { return a[0] == nonZeros(a, 1); }));
  c.push_back(entry<CardinalityConstraint>("CardinalityConstraint", {"Cardinality", "card"}, 2, 4,
                                           [](const auto& a) { return nonZeros(a, 1) <= a[0]; }));
  c.push_back(entry<OrConstraint>("OrConstraint", {"Or", "or", "for"}, 1, 3,
                                  [](const auto& a) { return nonZeros(a, 0) > 0; }));
  // Member implication relates domains, not values: brute force over assignments cannot judge it.
  c.push_back(rotating({"max", "allmax"}, "EqualMaximum", 1, 2, 3, [](const auto& a) {
    return a.back() == *std::max_element(a.begin(), a.end() - 1);
  }));
  c.push_back(rotating({"min", "allmin"}, "EqualMinimum", 1, 2, 3, [](const auto& a) {
    return a.back() == *std::min_element(a.begin(), a.end() - 1);
  }));
  ConstraintEntry eqCondSum = swapping("eqcondsum", "CondEqualSum", 0, 1, 4, 4, [](const auto& a) {
    return a[1] == truth(a[0] == sumOf(a, 2, a.size()));
  });
  eqCondSum.position = booleanAt(1);
  eqCondSum.orderDependence = CONDITIONAL_SAME;
  c.push_back(eqCondSum);
  // Rotated right by two, then swapped: [y1, y2, x, b] means b == (x == y1 + y2).
  ConstraintEntry addEqCond = rotating({"addeqcond"}, "eqcondsum", 2, 4, 4,
                                       [](const auto& a) { return a[3] == truth(a[2] == a[0] + a[1]); });
  addEqCond.position = booleanAt(3);
  addEqCond.orderDependence = CONDITIONAL_SAME;
  c.push_back(addEqCond);

  // The functions read their operands only once those are decided and closed; the result is narrowed.
  ConstraintEntry square =
      entry<SquareOfDifferenceConstraint>("SquareOfDifferenceConstraint", {"diffSquare"}, 3, 3,
                                          [](const auto& a) { return a[2] == (a[0] - a[1]) * (a[0] - a[1]); });
  c.push_back(square);
  ConstraintEntry root =
      entry<DistanceFromSquaresConstraint>("DistanceFromSquaresConstraint", {"distanceSquares"}, 3, 3,
                                           [](const auto& a) { return isRootOf(a[2], a[0] + a[1]); });
  c.push_back(root);
  ConstraintEntry distance =
      entry<CalcDistanceConstraint>("CalcDistanceConstraint", {"calcDistance"}, 5, 5, [](const auto& a) {
        const auto dx = a[3] - a[1], dy = a[4] - a[2];
        return isRootOf(a[0], dx * dx + dy * dy);
      });
  c.push_back(distance);
  c.push_back(entry<SineFunction>("SineFunction", {"sin"}, 2, 2,
                                  [](const auto& a) { return equalsComputed(a[0], std::sin(toDouble(a[1]) * 3.141592 / 180.0)); }));
  return c;
}

} // namespace

const std::vector<ConstraintEntry>& constraintCatalogue() {
  static const std::vector<ConstraintEntry> sl_catalogue = makeCatalogue();
  return sl_catalogue;
}

void registerCatalogue(CESchema& schema) {
  for (const ConstraintEntry& e : constraintCatalogue())
    for (const char* name : e.names)
      e.registerAs(schema, name);
}

bool searchSolutions(const std::vector<std::vector<int> >& candidates,
                     const std::vector<SearchedConstraint>& constraints, std::vector<std::set<int> >& support) {
  // The fewest candidates first, each constraint tested as soon as its whole scope has a value:
  // the search prunes early.
  std::vector<std::size_t> order(candidates.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return candidates[a].size() < candidates[b].size(); });
  std::vector<std::size_t> depthOf(candidates.size());
  for (std::size_t depth = 0; depth < order.size(); ++depth)
    depthOf[order[depth]] = depth;
  std::vector<std::vector<const SearchedConstraint*> > readyAt(order.size());
  for (const SearchedConstraint& c : constraints) {
    std::size_t deepest = 0;
    for (std::size_t v : c.scope)
      deepest = std::max(deepest, depthOf[v]);
    readyAt[deepest].push_back(&c);
  }
  support.assign(candidates.size(), std::set<int>());
  std::size_t unsupported = 0;
  for (const std::vector<int>& values : candidates)
    unsupported += std::set<int>(values.begin(), values.end()).size();
  std::vector<int> value(candidates.size());
  std::vector<double> assignment;
  bool anySolution = false;
  std::function<void(std::size_t)> assign = [&](std::size_t depth) {
    if (unsupported == 0 && anySolution)
      return;
    if (depth == order.size()) {
      anySolution = true;
      for (std::size_t i = 0; i < value.size(); ++i)
        if (support[i].insert(value[i]).second)
          --unsupported;
      return;
    }
    const std::size_t at = order[depth];
    for (int v : candidates[at]) {
      value[at] = v;
      const bool holds = std::all_of(readyAt[depth].begin(), readyAt[depth].end(), [&](const SearchedConstraint* c) {
        assignment.clear();
        for (std::size_t s : c->scope)
          assignment.push_back(value[s]);
        return c->entry->meaning(assignment, c->data);
      });
      if (holds)
        assign(depth + 1);
    }
  };
  assign(0);
  return anySolution;
}

} // namespace KALDEN
