#include "ConstraintEngine/ModuleConstraintLibrary.hh"

#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "Utils/Engine.hh"

#include "support/SoundnessHarness.hh"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

typedef std::vector<double> Assignment;
typedef std::vector<Id<ConstrainedVariable> > Scope;

const unsigned int CASES = 100;

// Creates the constraint by its registered name, in an engine whose schema holds the library's
// names as the library module registers them.
SoundnessHarness::Builder byName(const std::string& name) {
  return [name](const Id<ConstraintEngine>& engine, const Scope& scope) {
    CESchema* schema = engine->getCESchema().operator->();
    if (!schema->isDataType("int")) // comparisons type their interim by x's type
      schema->registerDataType((new IntDT())->getId());
    if (!schema->isConstraintType(LabelStr(name.c_str()))) {
      Engine host;
      host.addComponent("CESchema", schema);
      ModuleConstraintLibrary().initialize(host.getId());
      host.removeComponent("CESchema");
    }
    engine->createConstraint(LabelStr(name.c_str()), scope);
  };
}

double truth(bool b) { return b ? 1.0 : 0.0; }
double sumOf(const Assignment& a, std::size_t from, std::size_t to) {
  double s = 0;
  for (std::size_t i = from; i < to; ++i)
    s += a[i];
  return s;
}
bool allEqual(const Assignment& a, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to; ++i)
    if (a[i] != a[from])
      return false;
  return true;
}
bool allDifferent(const Assignment& a, std::size_t from, std::size_t to) {
  return std::set<double>(a.begin() + from, a.begin() + to).size() == to - from;
}
double nonZeros(const Assignment& a, std::size_t from) {
  return static_cast<double>(std::count_if(a.begin() + from, a.end(), [](double v) { return v != 0.0; }));
}

// Where a position's domain is drawn from: any kind over a small range, a truth value, or an
// interval only (for classes that refuse enumerations).
enum Shape { ANY, TRUTH, INTERVAL };
typedef std::function<Shape(unsigned int position, unsigned int arity)> Shapes;

Shapes all(Shape s) {
  return [s](unsigned int, unsigned int) { return s; };
}
Shapes truthAt(int position) { // a negative position counts from the end
  return [position](unsigned int p, unsigned int arity) {
    const int at = position < 0 ? static_cast<int>(arity) + position : position;
    return static_cast<int>(p) == at ? TRUTH : ANY;
  };
}
Shapes intervalsAt(std::vector<unsigned int> positions) {
  return [positions](unsigned int p, unsigned int) {
    return std::find(positions.begin(), positions.end(), p) != positions.end() ? INTERVAL : ANY;
  };
}

struct Relation {
  std::vector<const char*> names;
  unsigned int minArity;
  unsigned int maxArity;
  SoundnessHarness::Meaning meaning;
  Shapes shapes;
};

void checkByName(const Relation& relation) {
  for (const char* name : relation.names) {
    SoundnessHarness::Subject subject;
    subject.name = name;
    subject.minArity = relation.minArity;
    subject.maxArity = relation.maxArity;
    subject.meaning = relation.meaning;
    subject.build = byName(name);
    const Shapes shapes = relation.shapes;
    // Wider scopes draw from a narrower range, so that brute force stays small.
    subject.layout = [shapes](unsigned int position, unsigned int arity) {
      SoundnessHarness::Position p;
      if (arity > 3) {
        p.lo = -2;
        p.hi = 3;
      }
      switch (shapes ? shapes(position, arity) : ANY) {
      case TRUTH: // the conditional classes refuse anything but a boolean there
        p.lo = 0;
        p.hi = 1;
        p.booleans = true;
        p.intervals = p.enumerations = false;
        break;
      case INTERVAL:
        p.enumerations = false;
        break;
      case ANY:
        break;
      }
      return p;
    };
    SoundnessHarness::check(subject, CASES);
  }
}

TEST(LibrarySoundnessTest, OrderingAndEquality) {
  checkByName({{"LessThan", "lt", "lessThan"}, 2, 2, [](const Assignment& a) { return a[0] < a[1]; }, nullptr});
  checkByName({{"LessThanEqual", "leq"}, 2, 2, [](const Assignment& a) { return a[0] <= a[1]; }, nullptr});
  checkByName({{"WithinBounds", "withinBounds"}, 3, 3,
               [](const Assignment& a) { return a[1] <= a[0] && a[0] <= a[2]; }, nullptr});
  checkByName({{"Equal", "asame", "eq", "fasame"}, 2, 4,
               [](const Assignment& a) { return allEqual(a, 0, a.size()); }, nullptr});
  checkByName({{"NotEqual", "neq"}, 2, 2, [](const Assignment& a) { return a[0] != a[1]; }, nullptr});
  checkByName({{"AllDiff", "adiff", "fadiff", "fneq"}, 2, 4,
               [](const Assignment& a) { return allDifferent(a, 0, a.size()); }, nullptr});
}

TEST(LibrarySoundnessTest, Tests) {
  checkByName({{"TestEqual", "testEQ"}, 3, 3, [](const Assignment& a) { return a[0] == truth(a[1] == a[2]); },
               truthAt(0)});
  checkByName({{"TestLessThan", "condlt"}, 3, 3, [](const Assignment& a) { return a[0] == truth(a[1] < a[2]); },
               truthAt(0)});
  checkByName({{"testLEQ", "condleq"}, 3, 3, [](const Assignment& a) { return a[0] == truth(a[1] <= a[2]); },
               truthAt(0)});
  checkByName({{"CondAllSame", "condEq", "condeq", "condasame"}, 3, 4,
               [](const Assignment& a) { return a[0] == truth(allEqual(a, 1, a.size())); }, truthAt(0)});
  checkByName({{"CondAllDiff"}, 3, 4, [](const Assignment& a) { return a[0] == truth(allDifferent(a, 1, a.size())); },
               truthAt(0)});
}

TEST(LibrarySoundnessTest, Arithmetic) {
  checkByName({{"AddEqual", "addeq", "addEq"}, 3, 3, [](const Assignment& a) { return a[0] + a[1] == a[2]; },
               nullptr});
  checkByName({{"MultEqual", "mulEq", "multEq"}, 3, 3, [](const Assignment& a) { return a[0] * a[1] == a[2]; },
               all(INTERVAL)});
  checkByName({{"AddMultEqual", "addMulEq", "addmuleq"}, 4, 4,
               [](const Assignment& a) { return a[0] + a[1] * a[2] == a[3]; }, intervalsAt({1, 2})});
  checkByName({{"EqualSum", "sum"}, 3, 5, [](const Assignment& a) { return a[0] == sumOf(a, 1, a.size()); }, nullptr});
  checkByName({{"EqualProduct", "product"}, 3, 4,
               [](const Assignment& a) {
                 double p = 1;
                 for (std::size_t i = 1; i < a.size(); ++i)
                   p *= a[i];
                 return a[0] == p;
               },
               all(INTERVAL)});
  checkByName({{"neg"}, 2, 2, [](const Assignment& a) { return a[0] == -a[1]; }, all(INTERVAL)});
  checkByName({{"absVal"}, 2, 2, [](const Assignment& a) { return a[0] == std::fabs(a[1]); }, nullptr});
}

TEST(LibrarySoundnessTest, ComparisonsAgainstSums) {
  checkByName({{"LessThanSum"}, 3, 4, [](const Assignment& a) { return a[0] < sumOf(a, 1, a.size()); }, nullptr});
  checkByName({{"LessOrEqThanSum", "leqsum"}, 3, 4, [](const Assignment& a) { return a[0] <= sumOf(a, 1, a.size()); },
               nullptr});
  checkByName({{"GreaterThanSum"}, 3, 4, [](const Assignment& a) { return a[0] > sumOf(a, 1, a.size()); }, nullptr});
  checkByName({{"GreaterOrEqThanSum"}, 3, 4, [](const Assignment& a) { return a[0] >= sumOf(a, 1, a.size()); },
               nullptr});
  checkByName({{"CondEqualSum"}, 4, 5, [](const Assignment& a) { return a[0] == truth(a[1] == sumOf(a, 2, a.size())); },
               truthAt(0)});
}

TEST(LibrarySoundnessTest, Counting) {
  checkByName({{"CountZeros"}, 2, 4,
               [](const Assignment& a) { return a[0] == static_cast<double>(a.size() - 1) - nonZeros(a, 1); },
               nullptr});
  checkByName({{"CountNonZeros", "cardeq"}, 2, 4, [](const Assignment& a) { return a[0] == nonZeros(a, 1); },
               nullptr});
  checkByName({{"Cardinality", "card"}, 2, 4, [](const Assignment& a) { return nonZeros(a, 1) <= a[0]; }, nullptr});
  checkByName({{"Or", "or", "for"}, 1, 3, [](const Assignment& a) { return nonZeros(a, 0) > 0; }, nullptr});
  checkByName({{"EqualMaximum", "fallmax"}, 2, 4,
               [](const Assignment& a) { return a[0] == *std::max_element(a.begin() + 1, a.end()); }, nullptr});
  checkByName({{"EqualMinimum", "fallmin"}, 2, 4,
               [](const Assignment& a) { return a[0] == *std::min_element(a.begin() + 1, a.end()); }, nullptr});
}

// The transforms state their delegate's relation over a rotated or swapped scope.
TEST(LibrarySoundnessTest, ScopeTransforms) {
  checkByName({{"addleq"}, 3, 4, [](const Assignment& a) { return a.back() >= sumOf(a, 0, a.size() - 1); }, nullptr});
  checkByName({{"addlt"}, 3, 4, [](const Assignment& a) { return a.back() > sumOf(a, 0, a.size() - 1); }, nullptr});
  checkByName({{"allmax", "max"}, 2, 4,
               [](const Assignment& a) { return a.back() == *std::max_element(a.begin(), a.end() - 1); }, nullptr});
  checkByName({{"allmin", "min"}, 2, 4,
               [](const Assignment& a) { return a.back() == *std::min_element(a.begin(), a.end() - 1); }, nullptr});
  checkByName({{"eqcondsum"}, 4, 5, [](const Assignment& a) { return a[1] == truth(a[0] == sumOf(a, 2, a.size())); },
               truthAt(1)});
  // Rotated right by two, then swapped: [y1 .. yn, x, b] means b == (x == y1 + .. + yn).
  checkByName({{"addeqcond"}, 4, 5,
               [](const Assignment& a) {
                 const std::size_t n = a.size();
                 return a[n - 1] == truth(a[n - 2] == sumOf(a, 0, n - 2));
               },
               truthAt(-1)});
}

TEST(LibrarySoundnessTest, Functions) {
  checkByName({{"diffSquare"}, 3, 3, [](const Assignment& a) { return a[2] == (a[0] - a[1]) * (a[0] - a[1]); },
               nullptr});
  checkByName({{"distanceSquares"}, 3, 3, [](const Assignment& a) { return a[2] >= 0 && a[2] * a[2] == a[0] + a[1]; },
               nullptr});
  checkByName({{"calcDistance"}, 5, 5,
               [](const Assignment& a) {
                 const double dx = a[3] - a[1], dy = a[4] - a[2];
                 return a[0] >= 0 && a[0] * a[0] == dx * dx + dy * dy;
               },
               nullptr});
  checkByName({{"sin"}, 2, 2, [](const Assignment& a) { return a[0] == std::sin(a[1] * 3.141592 / 180.0); }, nullptr});
}

} // namespace
} // namespace KALDEN
