#define KALDEN_SOURCE "ConstraintEngine/component/Constraints"

// N-ary sums and products as trees of elementary constraints, and the comparisons against sums.

#include "ConstraintEngine/component/SumConstraints.hh"

#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/component/ArithmeticConstraints.hh"
#include "ConstraintEngine/component/BoundsArithmetic.hh"
#include "ConstraintEngine/component/ConstraintsBase.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "Utils/Error.hh"
#include "Utils/base/Report.hh"

#include <cmath>
#include <list>
#include <memory>
#include <type_traits>

namespace KALDEN {

typedef std::vector<Id<ConstrainedVariable> > Scope;

// What sets the sum's tree apart from the product's.
struct SumTree {
  typedef AddEqualConstraint Elementary;
  typedef EqualSumConstraint Half;
  static const LabelStr& elementaryName() {
    static const LabelStr sl_name("AddEqual");
    return sl_name;
  }
  static const LabelStr& halfName() {
    static const LabelStr sl_name("EqualSum");
    return sl_name;
  }
  static const LabelStr& interimName() {
    static const LabelStr sl_name("InternalEqSumVariable");
    return sl_name;
  }
};

struct ProductTree {
  typedef MultEqualConstraint Elementary;
  typedef EqualProductConstraint Half;
  static const LabelStr& elementaryName() {
    static const LabelStr sl_name("MultEqual");
    return sl_name;
  }
  static const LabelStr& halfName() {
    static const LabelStr sl_name("EqualProduct");
    return sl_name;
  }
  static const LabelStr& interimName() {
    static const LabelStr sl_name("InternalEqProductVariable");
    return sl_name;
  }
};

namespace {

// The arity condition of a sum or product tree: two operands at least besides the result.
const char* const SUM_ARITY_CONDITION = "ARG_COUNT > 2 && ARG_COUNT == (unsigned int)m_variables.size()";

// The scope size of a sum or product tree, once the scope is judged: at least three variables,
// each comparable with the result, and for a sum numbers. Runs first, so that a refused scope builds nothing; a member
// takes any domain and fails only when it runs, so a sum over a symbol would stay registered
// and fail every propagation.
unsigned int checkedTreeArity(const Constraint& constraint, bool isSum) {
  const Scope& scope = constraint.getScope();
  ConstraintShape::checkScopeSize(constraint, scope.size() > 2, SUM_ARITY_CONDITION, 3, true);
  for (std::size_t i = 1; i < scope.size(); ++i)
    ConstraintShape::checkComparable(Constraint::getCurrentDomain(scope[0]), Constraint::getCurrentDomain(scope[i]),
                                     "AbstractDomain::canBeCompared(getCurrentDomain(m_variables[0]), "
                                     "getCurrentDomain(m_variables[i]))");
  // Comparable symbols or strings would fail every run of an addition that reads their bounds
  // (a product's members refuse every enumeration).
  if (isSum)
    ConstraintShape::checkNumeric(constraint, 0, scope.size());
  return static_cast<unsigned int>(scope.size());
}

// A free real variable owned by `parent`, built in place by the caller's initialiser.
Variable<IntervalDomain> interimVariable(const Id<ConstraintEngine>& engine, const AbstractDomain& baseDomain,
                                         const LabelStr& name, const Id<Constraint>& parent) {
  return Variable<IntervalDomain>(engine, baseDomain, true, false, name, Id<Entity>(parent),
                                  ConstrainedVariable::NO_INDEX);
}

/**
 * Builds the tree over the scope a (a0 the result) into the handles c, each assigned as soon as
 * its constraint exists, in the order that fixes their keys and so the order they first run:
 * up to seven variables a flat row of elementary constraints over the interims s; beyond, one
 * elementary constraint a0 = s1 o s2 and two halves, the whole first one built before the second.
 */
template <class Tree>
void buildTree(Id<Constraint> (&c)[5], const Scope& a, Variable<IntervalDomain> (&s)[4], const LabelStr& propagatorName,
               const Id<ConstraintEngine>& engine) {
  auto elementary = [&](const Id<ConstrainedVariable>& x, const Id<ConstrainedVariable>& y,
                        const Id<ConstrainedVariable>& z) -> Id<Constraint> {
    return (new typename Tree::Elementary(Tree::elementaryName(), propagatorName, engine, makeScope(x, y, z)))->getId();
  };
  const Id<ConstrainedVariable>& s1 = s[0].getId();
  const Id<ConstrainedVariable>& s2 = s[1].getId();
  const Id<ConstrainedVariable>& s3 = s[2].getId();
  const Id<ConstrainedVariable>& s4 = s[3].getId();
  switch (a.size()) {
  case 3:
    c[0] = elementary(a[1], a[2], a[0]);
    return;
  case 4:
    c[0] = elementary(a[1], a[2], s1);
    c[1] = elementary(s1, a[3], a[0]);
    return;
  case 5:
    c[0] = elementary(a[1], a[2], s1);
    c[1] = elementary(s1, s2, a[0]);
    c[2] = elementary(a[3], a[4], s2);
    return;
  case 6:
    c[0] = elementary(a[1], a[2], s1);
    c[1] = elementary(s1, s2, a[0]);
    c[2] = elementary(a[3], a[4], s3);
    c[3] = elementary(s3, a[5], s2);
    return;
  case 7:
    c[0] = elementary(a[1], a[2], s1);
    c[1] = elementary(s1, s2, a[0]);
    c[2] = elementary(a[3], a[4], s3);
    c[3] = elementary(s3, s4, s2);
    c[4] = elementary(a[5], a[6], s4);
    return;
  default:
    break;
  }
  // Each half has at least four variables, so the recursion ends in the flat rows.
  const std::size_t h = a.size() / 2;
  c[0] = elementary(s1, s2, a[0]);
  Scope first(1, s1);
  first.insert(first.end(), a.begin() + 1, a.begin() + 1 + static_cast<std::ptrdiff_t>(h));
  c[1] = (new typename Tree::Half(Tree::halfName(), propagatorName, engine, first))->getId();
  Scope second(1, s2);
  second.insert(second.end(), a.begin() + 1 + static_cast<std::ptrdiff_t>(h), a.end());
  c[2] = (new typename Tree::Half(Tree::halfName(), propagatorName, engine, second))->getId();
}

// Retires what a tree composite made: the interims (which take the sub-constraints on them
// along, outside a purge) and then any sub-constraint still standing. A handle may be stale: a
// client may have deleted the sub-constraint, or a variable's discard retired it.
void discardTree(Variable<IntervalDomain> (&s)[4], Id<Constraint> (&c)[5]) {
  for (Variable<IntervalDomain>& var : s)
    ConstraintShape::discardMember(var);
  for (const Id<Constraint>& sub : c)
    ConstraintShape::discardMember(sub);
}

// Builds the tree, or, when a member refuses its arguments, retires what was built and fails.
template <class Tree>
void buildTreeOrRetire(Id<Constraint> (&c)[5], const Scope& a, Variable<IntervalDomain> (&s)[4],
                       const LabelStr& propagatorName, const Id<ConstraintEngine>& engine) {
  try {
    buildTree<Tree>(c, a, s, propagatorName, engine);
  } catch (...) {
    NoThrowScope guard;
    discardTree(s, c);
    throw;
  }
}

// ---------------------------------------------------------------- interim of a comparison

const LabelStr& comparisonInterimName() {
  static const LabelStr sl_name("InternalConstraintVariable");
  return sl_name;
}

// The unbounded real interval, for an interim that must hold any sum.
std::unique_ptr<AbstractDomain> realDomain() {
  return std::unique_ptr<AbstractDomain>(new IntervalDomain(FloatDT::instance()));
}

// Whether a variable can only ever take integers: an integer interval, or a closed enumeration
// of integers. Its base domain decides, as the current one may be relaxed back to it.
bool isIntegral(const Id<ConstrainedVariable>& var) {
  const AbstractDomain& dom = var->baseDomain();
  if (BoundsArithmetic::isIntegerInterval(dom))
    return true;
  if (!dom.isEnumerated() || !dom.isNumeric() || dom.isOpen())
    return false;
  std::list<double> values;
  dom.getValues(values);
  for (double v : values)
    if (std::floor(v) != v)
      return false;
  return true;
}

/**
 * The interim of a comparison against the sum of the scope from `firstSummand` on, typed by the
 * variable at `xPosition`: x's type lets a strict comparison step by whole units. That type is
 * kept only where it holds every possible sum, that is when every summand is integral and the
 * type is an interval holding every integer; otherwise (a real summand, a boolean or bounded
 * type) the interim is real, since a narrower one would lose solutions. x's type must be
 * registered in the schema either way.
 */
std::unique_ptr<AbstractDomain> typedDomain(const Constraint& constraint, const Id<ConstraintEngine>& engine,
                                            std::size_t xPosition, std::size_t firstSummand) {
  const Scope& scope = constraint.getScope();
  KALDEN_CHECK_TEXT_MSG(engine->getCESchema().isValid(), "m_schema.isValid()",
                        "The engine's schema " << engine->getCESchema()
                                               << " is gone: delete the engine before its schema.");
  const AbstractDomain& xType = engine->getCESchema()->baseDomain(scope[xPosition]->baseDomain().getTypeName().c_str());
  if (xType.isEnumerated() || xType.getLowerBound() > MINUS_INFINITY || xType.getUpperBound() < PLUS_INFINITY)
    return realDomain();
  for (std::size_t i = firstSummand; i < scope.size(); ++i)
    if (!isIntegral(scope[i]))
      return realDomain();
  return std::unique_ptr<AbstractDomain>(xType.copy());
}

// The owned sum over [interim, scope from firstSummand on].
Id<Constraint> ownedSum(const Scope& scope, std::size_t firstSummand, const Id<ConstrainedVariable>& interim,
                        const LabelStr& propagatorName, const Id<ConstraintEngine>& engine) {
  static const LabelStr sl_name("EqualSum");
  Scope sumScope(1, interim);
  sumScope.insert(sumScope.end(), scope.begin() + static_cast<std::ptrdiff_t>(firstSummand), scope.end());
  return (new EqualSumConstraint(sl_name, propagatorName, engine, sumScope))->getId();
}

} // namespace

// ---------------------------------------------------------------- the trees

template <class Tree>
NaryTreeConstraint<Tree>::NaryTreeConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                             const Id<ConstraintEngine>& constraintEngine,
                                             const std::vector<Id<ConstrainedVariable> >& variables)
    : CompositeConstraint(name, propagatorName, constraintEngine, variables),
      ARG_COUNT(checkedTreeArity(*this, std::is_same<Tree, SumTree>::value)), m_subConstraints(),
      m_interimVariables{
          interimVariable(constraintEngine, IntervalDomain(FloatDT::instance()), Tree::interimName(), getId()),
          interimVariable(constraintEngine, IntervalDomain(FloatDT::instance()), Tree::interimName(), getId()),
          interimVariable(constraintEngine, IntervalDomain(FloatDT::instance()), Tree::interimName(), getId()),
          interimVariable(constraintEngine, IntervalDomain(FloatDT::instance()), Tree::interimName(), getId())} {
  // The scope was judged by ARG_COUNT's initialiser, before the interim variables were built.
  buildTreeOrRetire<Tree>(m_subConstraints, m_variables, m_interimVariables, propagatorName, constraintEngine);
  membersBuilt();
}

template <class Tree>
NaryTreeConstraint<Tree>::~NaryTreeConstraint() {
  NoThrowScope guard;
  discardInDestructor();
}

template <class Tree>
CompositeConstraint::Members NaryTreeConstraint<Tree>::members() {
  Members owned;
  for (Variable<IntervalDomain>& interim : m_interimVariables)
    owned.variables.push_back(&interim);
  owned.constraints.assign(m_subConstraints, m_subConstraints + 5);
  return owned;
}

template class NaryTreeConstraint<SumTree>;
template class NaryTreeConstraint<ProductTree>;

EqualSumConstraint::EqualSumConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                       const Id<ConstraintEngine>& constraintEngine,
                                       const std::vector<Id<ConstrainedVariable> >& variables)
    : NaryTreeConstraint<SumTree>(name, propagatorName, constraintEngine, variables) {}

EqualProductConstraint::EqualProductConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                               const Id<ConstraintEngine>& constraintEngine,
                                               const std::vector<Id<ConstrainedVariable> >& variables)
    : NaryTreeConstraint<ProductTree>(name, propagatorName, constraintEngine, variables) {}

// ---------------------------------------------------------------- the comparisons

template <class Embedded>
SumComparison<Embedded>::SumComparison(const LabelStr& name, const LabelStr& propagatorName,
                                       const Id<ConstraintEngine>& constraintEngine,
                                       const std::vector<Id<ConstrainedVariable> >& variables, const Form& form)
    : CompositeConstraint(name, propagatorName, constraintEngine, variables),
      m_interimVariable(interimVariable(constraintEngine, *form.interimDomain(*this, constraintEngine),
                                        comparisonInterimName(), getId())),
      m_embeddedConstraint(form.embeddedName, propagatorName, constraintEngine,
                           form.embeddedScope(m_variables, m_interimVariable.getId())),
      m_eqSumConstraint() {
  // The arity was judged by form.interimDomain, before any member read the scope.
  m_eqSumConstraint =
      ownedSum(m_variables, form.firstSummand, m_interimVariable.getId(), propagatorName, constraintEngine);
  membersBuilt();
}

template <class Embedded>
SumComparison<Embedded>::~SumComparison() {
  NoThrowScope guard;
  discardInDestructor();
}

template <class Embedded>
CompositeConstraint::Members SumComparison<Embedded>::members() {
  return Members{{&m_interimVariable}, {m_embeddedConstraint.getId(), m_eqSumConstraint}};
}

template class SumComparison<LessThanConstraint>;
template class SumComparison<LessThanEqualConstraint>;
template class SumComparison<CondAllSameConstraint>;

namespace {

// The owned sum needs two summands. Judged where the client's scope and name are known, and
// before any member is built: the members read scope entries and would refuse their kinds
// first, hiding a short scope.
void checkComparisonArity(const Constraint& constraint, std::size_t firstSummand) {
  ConstraintShape::checkScopeSize(constraint, constraint.getScope().size() + 1 > firstSummand + 2,
                                  SUM_ARITY_CONDITION, firstSummand + 2, true);
}

std::unique_ptr<AbstractDomain> realInterim(const Constraint& constraint, const Id<ConstraintEngine>&) {
  checkComparisonArity(constraint, 1);
  return realDomain();
}

// x's type where it holds every sum, for a comparison whose x comes first.
std::unique_ptr<AbstractDomain> typedInterim(const Constraint& constraint, const Id<ConstraintEngine>& engine) {
  checkComparisonArity(constraint, 1);
  return typedDomain(constraint, engine, 0, 1);
}

// The conditional's interim, after the arity checks: b and x are read only once they exist.
std::unique_ptr<AbstractDomain> condInterim(const Constraint& constraint, const Id<ConstraintEngine>& engine) {
  ConstraintShape::checkScopeSize(constraint, constraint.getScope().size() > 2, "m_variables.size() > 2", 4, true);
  checkComparisonArity(constraint, 2);
  return typedDomain(constraint, engine, 1, 2);
}

Scope xThenInterim(const Scope& scope, const Id<ConstrainedVariable>& interim) { return makeScope(scope[0], interim); }
Scope interimThenX(const Scope& scope, const Id<ConstrainedVariable>& interim) { return makeScope(interim, scope[0]); }
Scope bXInterim(const Scope& scope, const Id<ConstrainedVariable>& interim) {
  return makeScope(scope[0], scope[1], interim);
}

} // namespace

LessThanSumConstraint::LessThanSumConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                             const Id<ConstraintEngine>& constraintEngine,
                                             const std::vector<Id<ConstrainedVariable> >& variables)
    : SumComparison(name, propagatorName, constraintEngine, variables, Form{realInterim, "LessThan", xThenInterim, 1}) {
}

LessOrEqThanSumConstraint::LessOrEqThanSumConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                                     const Id<ConstraintEngine>& constraintEngine,
                                                     const std::vector<Id<ConstrainedVariable> >& variables)
    : SumComparison(name, propagatorName, constraintEngine, variables,
                    Form{realInterim, "LessThanEq", xThenInterim, 1}) {}

GreaterThanSumConstraint::GreaterThanSumConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                                   const Id<ConstraintEngine>& constraintEngine,
                                                   const std::vector<Id<ConstrainedVariable> >& variables)
    : SumComparison(name, propagatorName, constraintEngine, variables,
                    Form{typedInterim, "LessThan", interimThenX, 1}) {}

GreaterOrEqThanSumConstraint::GreaterOrEqThanSumConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                                           const Id<ConstraintEngine>& constraintEngine,
                                                           const std::vector<Id<ConstrainedVariable> >& variables)
    : SumComparison(name, propagatorName, constraintEngine, variables,
                    Form{realInterim, "LessThanEqual", interimThenX, 1}) {}

CondEqualSumConstraint::CondEqualSumConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                               const Id<ConstraintEngine>& constraintEngine,
                                               const std::vector<Id<ConstrainedVariable> >& variables)
    : SumComparison(name, propagatorName, constraintEngine, variables, Form{condInterim, "CondAllSame", bXInterim, 2}) {
}

} // namespace KALDEN
