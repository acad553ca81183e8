#define KALDEN_SOURCE "ConstraintEngine/ModuleConstraintEngine"

#include "ConstraintEngine/ModuleConstraintLibrary.hh"

#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstraintType.hh"
#include "ConstraintEngine/component/Constraints.hh"
#include "Utils/base/Report.hh"

#include <string>

namespace KALDEN {

namespace {

// The schema the engine module published. Starting or stopping this module without it is the
// host's mistake; say so rather than follow a null pointer.
CESchema& publishedSchema(const Id<Engine>& engine) {
  CESchema* schema = static_cast<CESchema*>(engine->getComponent(std::string("CESchema")));
  KALDEN_CHECK_MSG(schema != 0, "No \"CESchema\" component: start the ConstraintEngine module before the "
                                "ConstraintLibrary module, and stop it after.");
  return *schema;
}

// Registration of one row of the table, by factory kind. The schema owns each factory.
class Registrar {
public:
  explicit Registrar(CESchema& schema) : m_schema(schema), m_default("Default") {}

  template <class C>
  void plain(const char* name) {
    add(new ConcreteConstraintType<C>(LabelStr(name), m_default, false));
  }
  // A reordering name also gets the least arity of what it builds, which a scope too short to
  // reorder is refused with.
  template <class C>
  void rotating(const char* name, const char* otherName, int rotateCount, unsigned int minArity) {
    add(new RotatedNaryConstraintType<C>(LabelStr(name), m_default, LabelStr(otherName), rotateCount, minArity));
  }
  template <class C>
  void swapping(const char* name, const char* otherName, int first, int second, unsigned int minArity) {
    add(new SwapTwoVarsNaryConstraintType<C>(LabelStr(name), m_default, LabelStr(otherName), first, second,
                                             minArity));
  }

private:
  void add(ConstraintType* factory) { m_schema.registerConstraintType(factory->getId()); }

  CESchema& m_schema;
  const LabelStr m_default;
};

} // namespace

ModuleConstraintLibrary::ModuleConstraintLibrary() : Module("ConstraintLibrary") {}

ModuleConstraintLibrary::~ModuleConstraintLibrary() {}

void ModuleConstraintLibrary::initialize() {}

void ModuleConstraintLibrary::uninitialize() {}

void ModuleConstraintLibrary::initialize(Id<Engine> engine) {
  KALDEN_TRACE("ModuleConstraintLibrary:initialize", "Initializing the constraint library");
  Registrar r(publishedSchema(engine));
  // The library's vocabulary, in registration order. Names are case-sensitive: "addeq" and
  // "addEq", "Or" and "or" are separate registrations of one class.
  r.plain<UnaryConstraint>("UNARY");
  r.plain<AddEqualConstraint>("AddEqual");
  r.plain<MultEqualConstraint>("MultEqual");
  r.plain<AddMultEqualConstraint>("AddMultEqual");
  r.plain<AddMultEqualConstraint>("addMulEq");
  r.plain<AllDiffConstraint>("AllDiff");
  r.plain<CardinalityConstraint>("Cardinality");
  r.plain<CondAllDiffConstraint>("CondAllDiff");
  r.plain<CondAllSameConstraint>("CondAllSame");
  r.plain<CondEqualSumConstraint>("CondEqualSum");
  r.plain<CountNonZerosConstraint>("CountNonZeros");
  r.plain<CountZerosConstraint>("CountZeros");
  r.plain<EqualConstraint>("Equal");
  r.plain<EqualMaximumConstraint>("EqualMaximum");
  r.plain<EqualMinimumConstraint>("EqualMinimum");
  r.plain<EqualProductConstraint>("EqualProduct");
  r.plain<EqualSumConstraint>("EqualSum");
  r.plain<GreaterThanSumConstraint>("GreaterThanSum");
  r.plain<GreaterOrEqThanSumConstraint>("GreaterOrEqThanSum");
  r.plain<LessOrEqThanSumConstraint>("LessOrEqThanSum");
  r.plain<LessThanConstraint>("LessThan");
  r.plain<LessThanEqualConstraint>("LessThanEqual");
  r.plain<WithinBounds>("WithinBounds");
  r.plain<LessThanSumConstraint>("LessThanSum");
  r.plain<LockConstraint>("Lock");
  r.plain<MemberImplyConstraint>("MemberImply");
  r.plain<NotEqualConstraint>("NotEqual");
  r.plain<OrConstraint>("Or");
  r.plain<SubsetOfConstraint>("SubsetOf");
  r.plain<SubsetOfConstraint>("subsetOf");
  r.plain<SubsetOfConstraint>("Singleton");
  r.plain<TestEQ>("TestEqual");
  r.plain<TestLessThan>("TestLessThan");
  r.plain<TestEQ>("testEQ");
  r.plain<TestLEQ>("testLEQ");
  r.plain<AddEqualConstraint>("addeq");
  r.plain<AddEqualConstraint>("addEq");
  r.plain<AddMultEqualConstraint>("addmuleq");
  r.plain<AllDiffConstraint>("adiff");
  r.plain<AllDiffConstraint>("fadiff");
  r.plain<AllDiffConstraint>("fneq");
  r.plain<CardinalityConstraint>("card");
  r.plain<CondAllSameConstraint>("condEq");
  r.plain<CondAllSameConstraint>("condeq");
  r.plain<CondAllSameConstraint>("condasame");
  r.plain<TestLessThan>("condlt");
  r.plain<TestLEQ>("condleq");
  r.plain<CountNonZerosConstraint>("cardeq");
  r.plain<EqualConstraint>("asame");
  r.plain<EqualConstraint>("eq");
  r.plain<EqualConstraint>("fasame");
  r.plain<EqualMaximumConstraint>("fallmax");
  r.plain<EqualMinimumConstraint>("fallmin");
  r.plain<EqualProductConstraint>("product");
  r.plain<EqualSumConstraint>("sum");
  r.plain<LessOrEqThanSumConstraint>("leqsum");
  r.plain<LessThanConstraint>("lt");
  r.plain<LessThanConstraint>("lessThan");
  r.plain<LessThanEqualConstraint>("leq");
  r.plain<WithinBounds>("withinBounds");
  r.plain<MemberImplyConstraint>("memberImply");
  r.plain<MultEqualConstraint>("mulEq");
  r.plain<MultEqualConstraint>("multEq");
  r.plain<NegateConstraint>("neg");
  r.plain<NotEqualConstraint>("neq");
  r.plain<OrConstraint>("for");
  r.plain<OrConstraint>("or");
  r.plain<AbsoluteValue>("absVal");
  r.rotating<RotateScopeRightConstraint>("addleq", "GreaterOrEqThanSum", 1, 3);
  r.rotating<RotateScopeRightConstraint>("addlt", "GreaterThanSum", 1, 3);
  r.rotating<RotateScopeRightConstraint>("allmax", "EqualMaximum", 1, 2);
  r.rotating<RotateScopeRightConstraint>("max", "EqualMaximum", 1, 2);
  r.rotating<RotateScopeRightConstraint>("allmin", "EqualMinimum", 1, 2);
  r.rotating<RotateScopeRightConstraint>("min", "EqualMinimum", 1, 2);
  r.swapping<SwapTwoVarsConstraint>("eqcondsum", "CondEqualSum", 0, 1, 4);
  r.rotating<RotateScopeRightConstraint>("addeqcond", "eqcondsum", 2, 4);
  r.plain<SquareOfDifferenceConstraint>("diffSquare");
  r.plain<DistanceFromSquaresConstraint>("distanceSquares");
  r.plain<CalcDistanceConstraint>("calcDistance");
  r.plain<SineFunction>("sin");
}

void ModuleConstraintLibrary::uninitialize(Id<Engine> engine) { publishedSchema(engine).purgeConstraintTypes(); }

} // namespace KALDEN
