#define KALDEN_SOURCE "ConstraintEngine/component/Constraints"

// Addition, multiplication and the combined add-multiply constraint.

#include "ConstraintEngine/component/ArithmeticConstraints.hh"

#include "ConstraintEngine/component/BoundsArithmetic.hh"
#include "ConstraintEngine/component/ConstraintsBase.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "Utils/Error.hh"
#include "Utils/base/Report.hh"

#include <algorithm>

namespace KALDEN {

namespace {

typedef BoundsArithmetic BA;

// With two of x, y, z integer intervals, x + y = z forces the third to an integer: answers
// that third domain when it is a real interval, which may then hold none; else null. Only
// the domains' classes and kinds decide, and those never change.
const AbstractDomain* realThatMustHoldInteger(const AbstractDomain& x, const AbstractDomain& y,
                                              const AbstractDomain& z) {
  const AbstractDomain* real = nullptr;
  int integers = 0;
  for (const AbstractDomain* dom : {&x, &y, &z}) {
    if (BA::isIntegerInterval(*dom))
      ++integers;
    else if (BA::isRealInterval(*dom))
      real = dom;
  }
  return integers == 2 ? real : nullptr;
}

// BA::lowerMax and BA::raiseMin that also note when an integer interval's new bound lies inside
// the wanted one: it rounded inward, which moves the bound by at least 1.
double lowerMaxNoting(const AbstractDomain& dom, double current, double wanted, bool& rounded) {
  const double bound = BA::lowerMax(dom, current, wanted);
  rounded = rounded || (current > wanted && bound < wanted && BA::isIntegerInterval(dom));
  return bound;
}

double raiseMinNoting(const AbstractDomain& dom, double current, double wanted, bool& rounded) {
  const double bound = BA::raiseMin(dom, current, wanted);
  rounded = rounded || (current < wanted && bound > wanted && BA::isIntegerInterval(dom));
  return bound;
}

} // namespace

// ---------------------------------------------------------------- AddEqualConstraint

AddEqualConstraint::AddEqualConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                       const Id<ConstraintEngine>& constraintEngine,
                                       const std::vector<Id<ConstrainedVariable> >& variables)
    : Constraint(name, propagatorName, constraintEngine, variables),
      m_x(ConstraintShape::domainAt(*this, 0, ARG_COUNT, "variables.size() == (unsigned int) ARG_COUNT")),
      m_y(getCurrentDomain(m_variables[1])), m_z(getCurrentDomain(m_variables[2])),
      m_mustHoldInteger(realThatMustHoldInteger(m_x, m_y, m_z)) {
  // Judged when made: every run reads the three as numbers of one kind.
  ConstraintShape::checkComparable(m_x, m_y, "AbstractDomain::canBeCompared(m_x, m_y)");
  ConstraintShape::checkComparable(m_x, m_z, "AbstractDomain::canBeCompared(m_x, m_z)");
  ConstraintShape::checkComparable(m_z, m_y, "AbstractDomain::canBeCompared(m_z, m_y)");
  ConstraintShape::checkNumeric(*this, 0, ARG_COUNT);
}

AddEqualConstraint::~AddEqualConstraint() {}

bool AddEqualConstraint::isIdempotent() const {
  return m_x.isInterval() && m_y.isInterval() && m_z.isInterval();
}

void AddEqualConstraint::handleExecute() {
  static unsigned int sl_counter = 0; // executions of every addition constraint, for the trace
  ++sl_counter;
  KALDEN_TRACE("AddEqualConstraint:handleExecute", toString() << " counter == " << sl_counter);
  if (m_x.isOpen() || m_y.isOpen() || m_z.isOpen())
    return;
  if (narrowRepeatedSum())
    return;
  // Tested before any pass: rounding toward an integer that is not there would creep one unit a round.
  if (m_mustHoldInteger != nullptr && !BA::holdsInteger(*m_mustHoldInteger)) {
    m_z.empty();
    return;
  }
  // A bound of x or y rounded inward may let z narrow further: that calls for another round.
  bool rounded = false;
  if (!narrowOnce(rounded) && rounded)
    requestRound();
}

bool AddEqualConstraint::narrowRepeatedSum() {
  // x + y = x holds for y = 0 alone, and x + x = x for x = 0 alone (y's domain is then x's):
  // decided at once, where bounds would creep by one unit a round over a wide domain.
  const Id<ConstrainedVariable>& z = m_variables[2];
  if (m_variables[0] == z)
    m_y.intersect(0.0, 0.0);
  else if (m_variables[1] == z)
    m_x.intersect(0.0, 0.0);
  else
    return false;
  return true;
}

bool AddEqualConstraint::narrowOnce(bool& rounded) {
  double xMin, xMax, yMin, yMax, zMin, zMax;
  m_x.getBounds(xMin, xMax);
  m_y.getBounds(yMin, yMax);
  m_z.getBounds(zMin, zMax);

  // Each bound's default is itself: a sum or difference that meets infinity leaves it alone.
  zMax = BA::lowerMax(m_z, zMax, Infinity::plus(xMax, yMax, zMax));
  zMin = BA::raiseMin(m_z, zMin, Infinity::plus(xMin, yMin, zMin));
  if (BA::narrowEmpties(m_z, zMin, zMax))
    return true;

  // z's own rounding only narrows what x and y are computed from next; theirs may narrow z.
  xMax = lowerMaxNoting(m_x, xMax, Infinity::minus(zMax, yMin, xMax), rounded);
  xMin = raiseMinNoting(m_x, xMin, Infinity::minus(zMin, yMax, xMin), rounded);
  if (BA::narrowEmpties(m_x, xMin, xMax))
    return true;

  yMax = lowerMaxNoting(m_y, yMax, Infinity::minus(zMax, xMin, yMax), rounded);
  yMin = raiseMinNoting(m_y, yMin, Infinity::minus(zMin, xMax, yMin), rounded);
  return BA::narrowEmpties(m_y, yMin, yMax);
}

// ---------------------------------------------------------------- MultEqualConstraint

MultEqualConstraint::MultEqualConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                         const Id<ConstraintEngine>& constraintEngine,
                                         const std::vector<Id<ConstrainedVariable> >& variables)
    : Constraint(name, propagatorName, constraintEngine, variables) {
  ConstraintShape::checkArity(*this, ARG_COUNT, "variables.size() == (unsigned int) ARG_COUNT");
  for (int i = 0; i < ARG_COUNT; ++i)
    KALDEN_CHECK(!getCurrentDomain(m_variables[i]).isEnumerated());
  const AbstractDomain& domx = getCurrentDomain(m_variables[0]);
  const AbstractDomain& domy = getCurrentDomain(m_variables[1]);
  const AbstractDomain& domz = getCurrentDomain(m_variables[2]);
  ConstraintShape::checkComparable(domx, domy, "AbstractDomain::canBeCompared(domx, domy)");
  ConstraintShape::checkComparable(domx, domz, "AbstractDomain::canBeCompared(domx, domz)");
  ConstraintShape::checkComparable(domz, domy, "AbstractDomain::canBeCompared(domz, domy)");
  ConstraintShape::checkNumeric(*this, 0, ARG_COUNT);
}

MultEqualConstraint::~MultEqualConstraint() {}

void MultEqualConstraint::handleExecute() {
  // Every domain is an interval: the constructor refused enumerations.
  IntervalDomain& domx = static_cast<IntervalDomain&>(getCurrentDomain(m_variables[0]));
  IntervalDomain& domy = static_cast<IntervalDomain&>(getCurrentDomain(m_variables[1]));
  IntervalDomain& domz = static_cast<IntervalDomain&>(getCurrentDomain(m_variables[2]));
  if (domx.isOpen() || domy.isOpen() || domz.isOpen())
    return;
  KALDEN_CHECK(!domx.isEmpty() && !domy.isEmpty() && !domz.isEmpty());

  // One pass: the engine runs it again while it narrows (the rule is not idempotent).
  double xMin, xMax, yMin, yMax, zMin, zMax;
  domx.getBounds(xMin, xMax);
  domy.getBounds(yMin, yMax);
  domz.getBounds(zMin, zMax);

  double lo, hi;
  BA::productRange(xMin, xMax, yMin, yMax, lo, hi);
  zMax = BA::lowerMax(domz, zMax, hi);
  zMin = BA::raiseMin(domz, zMin, lo);
  if (BA::narrowEmpties(domz, zMin, zMax))
    return;
  // A real narrowed to a singleton may hold its bounds reversed by less than the tolerance
  // ([1e-7, 0] after x * y = 0): as a divisor it is ordered first, so that one holding zero
  // narrows nothing.
  if (updateMinAndMax(domx, std::min(yMin, yMax), std::max(yMin, yMax), zMin, zMax) && domx.isEmpty())
    return;
  // y is divided by x's bounds as they were at the start of the pass.
  updateMinAndMax(domy, std::min(xMin, xMax), std::max(xMin, xMax), zMin, zMax);
}

bool MultEqualConstraint::updateMinAndMax(IntervalDomain& dom, double denomMin, double denomMax, double numMin,
                                          double numMax) {
  double max = dom.getUpperBound();
  double min = dom.getLowerBound();
  // The divisor may be zero, or within the real tolerance of it: any quotient is possible.
  if (denomMin < g_epsilon() && denomMax > -g_epsilon())
    return false;
  KALDEN_CHECK(denomMin != 0.0 && denomMax != 0.0);
  double newMin, newMax;
  BA::quotientRange(numMin, numMax, denomMin, denomMax, newMin, newMax);
  max = BA::lowerMax(dom, max, newMax);
  min = BA::raiseMin(dom, min, newMin);
  return dom.intersect(min, max);
}

// ---------------------------------------------------------------- AddMultEqualConstraint

// The arity is checked in the first member's initialiser, before the internal variable
// registers and before any scope entry is read.
AddMultEqualConstraint::AddMultEqualConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                               const Id<ConstraintEngine>& constraintEngine,
                                               const std::vector<Id<ConstrainedVariable> >& variables)
    : CompositeConstraint(name, propagatorName, constraintEngine, variables),
      m_interimVariable(checkedEngine(constraintEngine), IntervalDomain(FloatDT::instance()), true, false,
                        "InternalConstraintVariable", Id<Entity>(getId()), ConstrainedVariable::NO_INDEX),
      m_multEqualConstraint("MultEqual", propagatorName, constraintEngine,
                            makeScope(m_variables[1], m_variables[2], m_interimVariable.getId())),
      m_addEqualConstraint("AddEqual", propagatorName, constraintEngine,
                           makeScope(m_interimVariable.getId(), m_variables[0], m_variables[3])) {
  membersBuilt();
}

const Id<ConstraintEngine>& AddMultEqualConstraint::checkedEngine(const Id<ConstraintEngine>& constraintEngine) const {
  ConstraintShape::checkArity(*this, ARG_COUNT, "m_variables.size() == (unsigned int) ARG_COUNT");
  // Judged before any member is built: b and c are a product's (intervals), a and d a sum's.
  for (int i = 1; i < 3; ++i)
    KALDEN_CHECK_TEXT(!getCurrentDomain(m_variables[i]).isEnumerated(),
                      "!getCurrentDomain(m_variables[i]).isEnumerated()");
  ConstraintShape::checkNumeric(*this, 0, ARG_COUNT);
  return constraintEngine;
}

AddMultEqualConstraint::~AddMultEqualConstraint() {
  NoThrowScope guard;
  discardInDestructor();
}

CompositeConstraint::Members AddMultEqualConstraint::members() {
  return Members{{&m_interimVariable}, {m_multEqualConstraint.getId(), m_addEqualConstraint.getId()}};
}

} // namespace KALDEN
