#include "support/ConstraintCatalogue.hh"

#include "ConstraintEngine/base/ConstraintType.hh"
#include "ConstraintEngine/component/Constraints.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/Domains.hh"

#include <algorithm>
#include <cmath>
#include <list>
#include <memory>

namespace KALDEN {

namespace {

typedef std::vector<double> Assignment;
typedef std::vector<int> Data;

double truth(bool b) { return b ? 1.0 : 0.0; }

template <class C>
ConstraintEntry entry(const char* className, std::vector<const char*> names, unsigned int minArity,
                      unsigned int maxArity, std::function<bool(const Assignment&)> meaning) {
  ConstraintEntry e;
  e.className = className;
  e.names = names;
  e.minArity = minArity;
  e.maxArity = maxArity;
  e.meaning = [meaning](const Assignment& a, const Data&) { return meaning(a); };
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

// The listed positions must not be enumerations.
std::function<ConstraintEntry::Position(unsigned int)> intervalsAt(std::vector<unsigned int> positions) {
  return [positions](unsigned int position) {
    ConstraintEntry::Position p;
    if (std::find(positions.begin(), positions.end(), position) != positions.end())
      p.kinds = KIND_INTERVAL | KIND_BOOLEAN;
    return p;
  };
}

// The unary source: data[0] says its kind (as VariableKind), the rest are its values (an interval's bounds).
std::unique_ptr<AbstractDomain> unarySource(const Data& data) {
  switch (data[0]) {
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

std::vector<ConstraintEntry> makeCatalogue() {
  std::vector<ConstraintEntry> c;
  c.push_back(unaryEntry());

  ConstraintEntry equal =
      entry<EqualConstraint>("EqualConstraint", {"Equal", "asame", "eq", "fasame"}, 2, 3, [](const Assignment& a) {
        return std::all_of(a.begin(), a.end(), [&](double v) { return v == a[0]; });
      });
  equal.equalityPropagated = true;
  c.push_back(equal);
  c.push_back(entry<NotEqualConstraint>("NotEqualConstraint", {"NotEqual", "neq"}, 2, 2,
                                        [](const Assignment& a) { return a[0] != a[1]; }));
  // Over full assignments every domain is a single value: a subset of a single value is that value.
  c.push_back(entry<SubsetOfConstraint>("SubsetOfConstraint", {"SubsetOf", "subsetOf", "Singleton"}, 2, 2,
                                        [](const Assignment& a) { return a[0] == a[1]; }));
  // A lock domain of one value, fixed for good, makes the lock an equality; a wider one is no value relation.
  ConstraintEntry lock =
      entry<LockConstraint>("LockConstraint", {"Lock"}, 2, 2, [](const Assignment& a) { return a[0] == a[1]; });
  lock.position = [](unsigned int position) {
    ConstraintEntry::Position p;
    p.kinds = KIND_INTERVAL | KIND_ENUMERATION;
    p.fixed = position == 1;
    return p;
  };
  c.push_back(lock);

  ConstraintEntry testEq = entry<TestEQ>("TestEQ", {"TestEqual", "testEQ"}, 3, 3,
                                         [](const Assignment& a) { return a[0] == truth(a[1] == a[2]); });
  testEq.position = booleanAt(0);
  c.push_back(testEq);
  ConstraintEntry testLt = entry<TestLessThan>("TestLessThan", {"TestLessThan", "condlt"}, 3, 3,
                                               [](const Assignment& a) { return a[0] == truth(a[1] < a[2]); });
  testLt.position = booleanAt(0);
  c.push_back(testLt);
  ConstraintEntry testLeq = entry<TestLEQ>("TestLEQ", {"testLEQ", "condleq"}, 3, 3,
                                           [](const Assignment& a) { return a[0] == truth(a[1] <= a[2]); });
  testLeq.position = booleanAt(0);
  c.push_back(testLeq);

  c.push_back(entry<LessThanEqualConstraint>("LessThanEqualConstraint", {"LessThanEqual", "leq"}, 2, 2,
                                             [](const Assignment& a) { return a[0] <= a[1]; }));
  c.push_back(entry<LessThanConstraint>("LessThanConstraint", {"LessThan", "lt", "lessThan"}, 2, 2,
                                        [](const Assignment& a) { return a[0] < a[1]; }));
  c.push_back(entry<WithinBounds>("WithinBounds", {"WithinBounds", "withinBounds"}, 3, 3,
                                  [](const Assignment& a) { return a[1] <= a[0] && a[0] <= a[2]; }));

  c.push_back(entry<AddEqualConstraint>("AddEqualConstraint", {"AddEqual", "addeq", "addEq"}, 3, 3,
                                        [](const Assignment& a) { return a[0] + a[1] == a[2]; }));
  ConstraintEntry mult = entry<MultEqualConstraint>("MultEqualConstraint", {"MultEqual", "mulEq", "multEq"}, 3, 3,
                                                    [](const Assignment& a) { return a[0] * a[1] == a[2]; });
  mult.position = intervalsAt({0, 1, 2});
  c.push_back(mult);
  ConstraintEntry addMult =
      entry<AddMultEqualConstraint>("AddMultEqualConstraint", {"AddMultEqual", "addMulEq", "addmuleq"}, 4, 4,
                                    [](const Assignment& a) { return a[0] + a[1] * a[2] == a[3]; });
  addMult.position = intervalsAt({1, 2});
  c.push_back(addMult);

  ConstraintEntry negate =
      entry<NegateConstraint>("NegateConstraint", {"neg"}, 2, 2, [](const Assignment& a) { return a[0] == -a[1]; });
  negate.position = intervalsAt({0, 1});
  c.push_back(negate);
  c.push_back(entry<AbsoluteValue>("AbsoluteValue", {"absVal"}, 2, 2,
                                   [](const Assignment& a) { return a[0] == std::fabs(a[1]); }));
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

} // namespace KALDEN
