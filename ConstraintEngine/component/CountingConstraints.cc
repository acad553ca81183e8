#define KALDEN_SOURCE "ConstraintEngine/component/Constraints"

// Counting zeros and non-zeros, cardinality and disjunction.

#include "ConstraintEngine/component/CountingConstraints.hh"

#include "ConstraintEngine/component/ConstraintsBase.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/SubsetConstraints.hh"
#include "Utils/Error.hh"
#include "Utils/Globals.hh"
#include "Utils/base/Report.hh"

namespace KALDEN {

namespace {

// Whether x is 0 within the tolerance of a real domain.
bool isZero(double x) { return IntervalDomain(0.0, FloatDT::instance()).isMember(x); }

// Whether a domain that holds 0 holds nothing else: a real interval narrower than the tolerance
// may hold 0 and values beyond the tolerance of it.
bool holdsOnlyZero(const AbstractDomain& dom) {
  return ConstraintShape::isDecided(dom) ||
         (dom.isSingleton() && isZero(dom.getLowerBound()) && isZero(dom.getUpperBound()));
}

// Takes back a member made with new when a later step of its owner's construction fails: the
// owner is never built, so nothing would discard the member.
void dropMember(Id<Constraint>& member) {
  Constraint* constraint = member;
  member = Id<Constraint>();
  delete constraint;
}

// The scope with position 0 taken by an internal variable.
std::vector<Id<ConstrainedVariable> > withFirst(const Id<ConstrainedVariable>& first,
                                                const std::vector<Id<ConstrainedVariable> >& scope) {
  std::vector<Id<ConstrainedVariable> > result(scope);
  result[0] = first;
  return result;
}

} // namespace

// What every counted position must be (a boolean is a number).
const char* const COUNTED_CONDITION =
    "getCurrentDomain(m_variables[i]).isNumeric() || getCurrentDomain(m_variables[i]).isBool()";

// ---------------------------------------------------------------- CountZerosConstraint

CountZerosConstraint::CountZerosConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                           const Id<ConstraintEngine>& constraintEngine,
                                           const std::vector<Id<ConstrainedVariable> >& variables)
    : Constraint(name, propagatorName, constraintEngine, variables) {
  ConstraintShape::checkNumeric(*this, 0, m_variables.size(), COUNTED_CONDITION);
}

CountZerosConstraint::~CountZerosConstraint() {}

void CountZerosConstraint::handleExecute() {
  AbstractDomain& count = getCurrentDomain(m_variables[0]);
  // An open xi may still gain 0 or lose its last non-zero to a closing, and an open count cannot
  // be narrowed by bounds: nothing is counted until every domain is closed.
  if (ConstraintShape::anyOpen(m_variables))
    return;
  unsigned int possible = 0, definite = 0; // the xi that can be 0, and those that are
  for (std::size_t i = 1; i < m_variables.size(); ++i) {
    const AbstractDomain& dom = getCurrentDomain(m_variables[i]);
    if (dom.isMember(0.0)) {
      ++possible;
      if (holdsOnlyZero(dom))
        ++definite;
    }
  }
  const double possibleZeros = possible, definiteZeros = definite;

  // Every x that can be 0 must be, to reach the count's least value. A real count is read
  // within its tolerance, as its domain reads it.
  if (count.lt(definiteZeros, count.getLowerBound()) && count.eq(count.getLowerBound(), possibleZeros))
    for (std::size_t i = 1; i < m_variables.size(); ++i) {
      AbstractDomain& dom = getCurrentDomain(m_variables[i]);
      if (dom.isMember(0.0) && !holdsOnlyZero(dom))
        dom.intersect(0.0, 0.0);
    }

  // The count is reached already: no further x may be 0. An interval loses 0 only at an end.
  if (count.lt(count.getUpperBound(), possibleZeros) && count.eq(count.getUpperBound(), definiteZeros))
    for (std::size_t i = 1; i < m_variables.size(); ++i) {
      AbstractDomain& dom = getCurrentDomain(m_variables[i]);
      if (!dom.isMember(0.0) || holdsOnlyZero(dom))
        continue;
      if (dom.isEnumerated() || isZero(dom.getLowerBound()) || isZero(dom.getUpperBound()))
        dom.remove(0.0);
    }

  if (definiteZeros > count.getLowerBound() || count.getUpperBound() > possibleZeros)
    count.intersect(definiteZeros, possibleZeros);
}

// ---------------------------------------------------------------- CountNonZerosConstraint

CountNonZerosConstraint::CountNonZerosConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                                 const Id<ConstraintEngine>& constraintEngine,
                                                 const std::vector<Id<ConstrainedVariable> >& variables)
    : CompositeConstraint(name, propagatorName, constraintEngine, variables),
      // The scope is judged as the count of zeros judges it, before anything is built.
      m_zerosVariable(ConstraintShape::numericChecked(*this, 0, m_variables.size(), m_constraintEngine,
                                                      COUNTED_CONDITION),
                      IntervalDomain(FloatDT::instance()), true, false, "InternalCountNonZerosVar",
                      Id<Entity>(getId()), ConstrainedVariable::NO_INDEX),
      m_otherVariable(m_constraintEngine, IntervalDomain(FloatDT::instance()), true, false,
                      "InternalCountNonZerosOtherVars", Id<Entity>(getId()), ConstrainedVariable::NO_INDEX),
      m_supersetVariable(m_constraintEngine,
                         IntervalDomain(static_cast<double>(m_variables.size() - 1), FloatDT::instance()), true, false,
                         "InternalCountNonZerosSuperset", Id<Entity>(getId()), ConstrainedVariable::NO_INDEX),
      m_addEqualConstraint("AddEqual", propagatorName, m_constraintEngine,
                           makeScope(m_zerosVariable.getId(), m_variables[0], m_otherVariable.getId())),
      m_subsetOfConstraint(), m_countZerosConstraint() {
  m_subsetOfConstraint = (new SubsetOfConstraint("SubsetOf", propagatorName, m_constraintEngine,
                                                 makeScope(m_otherVariable.getId(), m_supersetVariable.getId())))
                             ->getId();
  try {
    const std::vector<Id<ConstrainedVariable> > cZCScope = withFirst(m_zerosVariable.getId(), m_variables);
    KALDEN_CHECK(m_variables.size() == cZCScope.size());
    m_countZerosConstraint =
        (new CountZerosConstraint("CountZeros", propagatorName, m_constraintEngine, cZCScope))->getId();
  } catch (...) {
    dropMember(m_subsetOfConstraint);
    throw;
  }
  membersBuilt();
}

CountNonZerosConstraint::~CountNonZerosConstraint() {
  NoThrowScope guard;
  discardInDestructor();
}

CompositeConstraint::Members CountNonZerosConstraint::members() {
  return Members{{&m_zerosVariable, &m_otherVariable, &m_supersetVariable},
                 {m_addEqualConstraint.getId(), m_countZerosConstraint, m_subsetOfConstraint}};
}

// ---------------------------------------------------------------- CardinalityConstraint

CardinalityConstraint::CardinalityConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                             const Id<ConstraintEngine>& constraintEngine,
                                             const std::vector<Id<ConstrainedVariable> >& variables)
    : CompositeConstraint(name, propagatorName, constraintEngine, variables),
      m_interimVariable(m_constraintEngine, IntervalIntDomain(0, g_infiniteTime(), IntDT::instance()), true, false,
                        "InternalCardinalityVar", Id<Entity>(getId()), ConstrainedVariable::NO_INDEX),
      m_lessThanEqualConstraint("LessThanEqual", propagatorName, m_constraintEngine,
                                makeScope(m_interimVariable.getId(), m_variables[0])),
      m_countNonZerosConstraint() {
  const std::vector<Id<ConstrainedVariable> > cCScope = withFirst(m_interimVariable.getId(), m_variables);
  KALDEN_CHECK(m_variables.size() == cCScope.size());
  // A refused scope fails in this constructor, which then leaves nothing registered.
  m_countNonZerosConstraint =
      (new CountNonZerosConstraint("CountNonZeros", propagatorName, m_constraintEngine, cCScope))->getId();
  membersBuilt();
}

CardinalityConstraint::~CardinalityConstraint() {
  NoThrowScope guard;
  discardInDestructor();
}

CompositeConstraint::Members CardinalityConstraint::members() {
  return Members{{&m_interimVariable}, {m_lessThanEqualConstraint.getId(), m_countNonZerosConstraint}};
}

// ---------------------------------------------------------------- OrConstraint

OrConstraint::OrConstraint(const LabelStr& name, const LabelStr& propagatorName,
                           const Id<ConstraintEngine>& constraintEngine,
                           const std::vector<Id<ConstrainedVariable> >& variables)
    : CompositeConstraint(name, propagatorName, constraintEngine, variables),
      m_nonZerosVariable(ConstraintShape::numericChecked(*this, 0, m_variables.size(), m_constraintEngine,
                                                         COUNTED_CONDITION),
                         IntervalIntDomain(1, g_infiniteTime(), IntDT::instance()), true, false,
                         "InternalVar:Or:nonZeros", Id<Entity>(getId()), ConstrainedVariable::NO_INDEX),
      m_supersetVariable(m_constraintEngine,
                         IntervalIntDomain(1, static_cast<int>(m_variables.size()), IntDT::instance()), true, false,
                         "InternalVar:Or:superset", Id<Entity>(getId()), ConstrainedVariable::NO_INDEX),
      m_subsetOfConstraint(), m_countNonZerosConstraint() {
  m_subsetOfConstraint = (new SubsetOfConstraint("SubsetOf", propagatorName, m_constraintEngine,
                                                 makeScope(m_nonZerosVariable.getId(), m_supersetVariable.getId())))
                             ->getId();
  try {
    std::vector<Id<ConstrainedVariable> > cNZCScope;
    cNZCScope.reserve(m_variables.size() + 1);
    cNZCScope.push_back(m_nonZerosVariable.getId());
    cNZCScope.insert(cNZCScope.end(), m_variables.begin(), m_variables.end());
    KALDEN_CHECK(m_variables.size() + 1 == cNZCScope.size());
    m_countNonZerosConstraint =
        (new CountNonZerosConstraint("CountNonZeros", propagatorName, m_constraintEngine, cNZCScope))->getId();
  } catch (...) {
    dropMember(m_subsetOfConstraint);
    throw;
  }
  membersBuilt();
}

OrConstraint::~OrConstraint() {
  NoThrowScope guard;
  discardInDestructor();
}

CompositeConstraint::Members OrConstraint::members() {
  return Members{{&m_nonZerosVariable, &m_supersetVariable}, {m_subsetOfConstraint, m_countNonZerosConstraint}};
}

} // namespace KALDEN
