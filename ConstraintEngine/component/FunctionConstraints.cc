#define KALDEN_SOURCE "ConstraintEngine/component/Constraints"

// Distance, sine, square of a difference and root of a sum.

#include "ConstraintEngine/component/FunctionConstraints.hh"

#include "ConstraintEngine/component/BoundsArithmetic.hh"
#include "ConstraintEngine/component/ConstraintsBase.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/IntervalDomains.hh"
#include "Utils/Globals.hh"
#include "Utils/base/Report.hh"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <list>
#include <vector>

namespace KALDEN {

namespace {

// Degrees to radians with this short pi: the results stay within the domains' tolerance of
// the true sines, and callers see the same values on every platform.
const double PI_APPROX = 3.141592;

// The greatest |a - b| over a in u and b in v: the farthest pair of bounds.
double greatestSeparation(const AbstractDomain& u, const AbstractDomain& v) {
  const double uLb = u.getLowerBound(), uUb = u.getUpperBound(), vLb = v.getLowerBound(), vUb = v.getUpperBound();
  return std::max({std::fabs(uLb - vLb), std::fabs(uLb - vUb), std::fabs(uUb - vLb), std::fabs(uUb - vUb)});
}

// The pieces a domain's values fill, in ascending order: the interval itself, or each member.
struct Piece {
  double lo, hi;
};
std::vector<Piece> piecesOf(const AbstractDomain& dom) {
  if (!dom.isEnumerated())
    return {{dom.getLowerBound(), dom.getUpperBound()}};
  std::list<double> members;
  dom.getValues(members);
  std::vector<Piece> pieces;
  pieces.reserve(members.size());
  for (double m : members)
    pieces.push_back({m, m});
  return pieces;
}

// The least |a - b| over a in u and b in v. Between two intervals that is 0 where they meet and
// else the nearest pair of bounds; an enumeration's members are taken one by one, since a
// value between its bounds need not be a member.
double leastSeparation(const AbstractDomain& u, const AbstractDomain& v) {
  if (!u.isEnumerated() && !v.isEnumerated() && BoundsArithmetic::shareValue(u, v))
    return 0.0;
  const std::vector<Piece> p = piecesOf(u), q = piecesOf(v);
  double least = HUGE_VAL;
  // Both run in ascending order: after measuring a pair, the piece that ends first meets
  // nothing nearer further on.
  for (std::size_t i = 0, j = 0; i < p.size() && j < q.size();) {
    least = std::min(least, std::max({0.0, q[j].lo - p[i].hi, p[i].lo - q[j].hi}));
    if (p[i].hi < q[j].hi)
      ++i;
    else
      ++j;
  }
  return least;
}

// A bound computed for a numeric result, or `unnarrowed` when it lies beyond the infinities:
// no domain holds such a value, and the result's own bound stays as good as any.
double withinInfinities(double bound, double unnarrowed) {
  return bound > PLUS_INFINITY || bound < MINUS_INFINITY ? unnarrowed : bound;
}

// The decided operands at scope positions 0 and 1, when both domains are closed singletons: the
// bounds of each, since a real singleton may span up to the tolerance, and a result that grows
// faster than its operands (a root near zero) must cover every value it spans.
struct Operand {
  double lb, ub;
};
bool decidedOperands(const Constraint& constraint, Operand& a, Operand& b) {
  const AbstractDomain& domA = Constraint::getCurrentDomain(constraint.getScope()[0]);
  const AbstractDomain& domB = Constraint::getCurrentDomain(constraint.getScope()[1]);
  if (domA.isOpen() || domB.isOpen() || !domA.isSingleton() || !domB.isSingleton())
    return false;
  a = {std::min(domA.getLowerBound(), domA.getUpperBound()), std::max(domA.getLowerBound(), domA.getUpperBound())};
  b = {std::min(domB.getLowerBound(), domB.getUpperBound()), std::max(domB.getLowerBound(), domB.getUpperBound())};
  return true;
}

// A value closer to zero than the real tolerance, as zero itself: at the edge of a root's domain
// it stands for the edge, never for a point beyond it.
double onZeroWithinTolerance(double value) { return std::fabs(value) < g_epsilon() ? 0.0 : value; }

// Narrows r to [lo, hi]. Not a number means no real result exists, so r is emptied; a bound
// beyond the infinities is one no domain holds, so r is left alone, and so is an open r, which
// may still gain values until it is closed.
void narrowToRange(AbstractDomain& r, double lo, double hi) {
  if (r.isOpen())
    return;
  if (std::isnan(lo) || std::isnan(hi)) {
    if (!r.isEmpty())
      r.empty();
    return;
  }
  if (hi > PLUS_INFINITY || lo < MINUS_INFINITY)
    return;
  r.intersect(IntervalDomain(lo, hi, FloatDT::instance()));
}

} // namespace

// ---------------------------------------------------------------- CalcDistanceConstraint

CalcDistanceConstraint::CalcDistanceConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                               const Id<ConstraintEngine>& constraintEngine,
                                               const std::vector<Id<ConstrainedVariable> >& variables)
    : Constraint(name, propagatorName, constraintEngine, variables),
      m_distance(ConstraintShape::domainAt(*this, 0, ARG_COUNT, "variables.size() == ARG_COUNT")),
      m_x1(getCurrentDomain(m_variables[1])), m_y1(getCurrentDomain(m_variables[2])),
      m_x2(getCurrentDomain(m_variables[3])),
      m_y2(getCurrentDomain(m_variables[4])) {
  // Judged when made: every run reads coordinates and narrows the distance by bounds.
  ConstraintShape::checkNumeric(*this, 0, ARG_COUNT);
}

CalcDistanceConstraint::~CalcDistanceConstraint() {}

void CalcDistanceConstraint::handleExecute() {
  // An open distance cannot be narrowed by bounds until it is closed.
  if (m_distance.isOpen())
    return;
  if (!m_x1.areBoundsFinite() || !m_y1.areBoundsFinite() || !m_x2.areBoundsFinite() || !m_y2.areBoundsFinite())
    return;
  KALDEN_TRACE("CalcDistanceConstraint:handleExecute", "BEFORE:" << toString());
  const double least = compute(leastSeparation(m_x1, m_x2), leastSeparation(m_y1, m_y2));
  const double greatest = compute(greatestSeparation(m_x1, m_x2), greatestSeparation(m_y1, m_y2));
  m_distance.intersect(withinInfinities(least, MINUS_INFINITY), withinInfinities(greatest, PLUS_INFINITY));
  KALDEN_TRACE("CalcDistanceConstraint:handleExecute", "AFTER:" << toString());
}

double CalcDistanceConstraint::compute(double x, double y) { return std::pow(x * x + y * y, 0.5); }

double CalcDistanceConstraint::compute(double x1, double y1, double x2, double y2) {
  return std::pow(std::pow(x2 - x1, 2.0) + std::pow(y2 - y1, 2.0), 0.5);
}

// ---------------------------------------------------------------- SineFunction

SineFunction::SineFunction(const LabelStr& name, const LabelStr& propagatorName,
                           const Id<ConstraintEngine>& constraintEngine,
                           const std::vector<Id<ConstrainedVariable> >& variables)
    : Constraint(name, propagatorName, constraintEngine, variables),
      m_target(ConstraintShape::domainAt(*this, 0, ARG_COUNT, "variables.size() == ARG_COUNT")),
      m_source(getCurrentDomain(m_variables[1])) {
  // Judged when made: every run narrows both by bounds.
  ConstraintShape::checkNumeric(*this, 0, ARG_COUNT);
}

SineFunction::~SineFunction() {}

void SineFunction::handleExecute() {
  // Both are narrowed by bounds, which an open domain does not have for good yet.
  if (m_source.isOpen() || m_target.isOpen())
    return;
  m_source.intersect(-90.0, 90.0);
  if (m_source.isEmpty())
    return;
  // The short pi leaves sin(90) a little below 1, within the tolerance: an integer target keeps 1.
  const double s1 = std::sin(m_source.getLowerBound() * PI_APPROX / 180.0);
  const double s2 = std::sin(m_source.getUpperBound() * PI_APPROX / 180.0);
  m_target.intersect(std::min(s1, s2), std::max(s1, s2));
}

// ---------------------------------------------------------------- SquareOfDifferenceConstraint

SquareOfDifferenceConstraint::SquareOfDifferenceConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                                           const Id<ConstraintEngine>& constraintEngine,
                                                           const std::vector<Id<ConstrainedVariable> >& variables)
    : Constraint(name, propagatorName, constraintEngine, variables) {
  ConstraintShape::checkArity(*this, ARG_COUNT, "variables.size() == (unsigned int) ARG_COUNT");
  // Judged when made: a run over decided operands reads numbers and narrows r to a real range.
  ConstraintShape::checkNumeric(*this, 0, ARG_COUNT);
}

SquareOfDifferenceConstraint::~SquareOfDifferenceConstraint() {}

void SquareOfDifferenceConstraint::handleExecute() {
  Operand a, b;
  if (!decidedOperands(*this, a, b))
    return;
  // a - b ranges over [dLo, dHi]; its square is least at the end nearer zero, or 0 across it.
  const double dLo = a.lb - b.ub, dHi = a.ub - b.lb;
  const double least = dLo <= 0.0 && dHi >= 0.0 ? 0.0 : std::min(dLo * dLo, dHi * dHi);
  narrowToRange(getCurrentDomain(m_variables[2]), least, std::max(dLo * dLo, dHi * dHi));
}

// ---------------------------------------------------------------- DistanceFromSquaresConstraint

DistanceFromSquaresConstraint::DistanceFromSquaresConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                                             const Id<ConstraintEngine>& constraintEngine,
                                                             const std::vector<Id<ConstrainedVariable> >& variables)
    : Constraint(name, propagatorName, constraintEngine, variables) {
  ConstraintShape::checkArity(*this, ARG_COUNT, "variables.size() == (unsigned int) ARG_COUNT");
  // Judged when made, as for the square of a difference.
  ConstraintShape::checkNumeric(*this, 0, ARG_COUNT);
}

DistanceFromSquaresConstraint::~DistanceFromSquaresConstraint() {}

void DistanceFromSquaresConstraint::handleExecute() {
  Operand a, b;
  if (!decidedOperands(*this, a, b))
    return;
  // A sum below zero everywhere has no real root; one reaching zero has the root 0, and so has
  // one closer to zero than the tolerance (0.3 - (0.1 + 0.2) is zero to a user).
  const double sumLo = onZeroWithinTolerance(a.lb + b.lb), sumHi = onZeroWithinTolerance(a.ub + b.ub);
  narrowToRange(getCurrentDomain(m_variables[2]), std::sqrt(std::max(0.0, sumLo)), std::sqrt(sumHi));
}

} // namespace KALDEN
