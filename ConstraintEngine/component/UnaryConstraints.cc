#define KALDEN_SOURCE "ConstraintEngine/component/Constraints"

// The unary constraint: a variable held within a source domain.

#include "ConstraintEngine/component/UnaryConstraints.hh"

#include "ConstraintEngine/base/Propagator.hh"
#include "ConstraintEngine/component/BoundsArithmetic.hh"
#include "ConstraintEngine/component/ConstraintsBase.hh"
#include "Utils/Error.hh"
#include "Utils/base/Report.hh"

#include <algorithm>
#include <list>

namespace KALDEN {

namespace {

// The engine of the direct form's variable; its handle is tested before it is followed, and the
// source refused unless it compares with the variable, before anything is registered.
const Id<ConstraintEngine>& engineOf(const AbstractDomain& source, const Id<ConstrainedVariable>& var) {
  KALDEN_CHECK(var.isValid());
  KALDEN_CHECK_TEXT_MSG(AbstractDomain::canBeCompared(source, var->lastDomain()),
                        "AbstractDomain::canBeCompared(dom, var)",
                        "Cannot compare " << source.toString() << " and " << var->lastDomain().toString() << ".");
  return var->getConstraintEngine();
}

} // namespace

UnaryConstraint::UnaryConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                 const Id<ConstraintEngine>& constraintEngine,
                                 const std::vector<Id<ConstrainedVariable> >& variables)
    : Constraint(name, propagatorName, constraintEngine, variables), m_x(nullptr),
      m_y(ConstraintShape::domainAt(*this, 0, 1, "variables.size() == 1")) {}

UnaryConstraint::UnaryConstraint(const AbstractDomain& dom, const Id<ConstrainedVariable>& var)
    : Constraint("UNARY", "Default", engineOf(dom, var), makeScope(var)), m_x(nullptr),
      m_y(Constraint::getCurrentDomain(m_variables[0])) {
  m_x = dom.copy();
}

UnaryConstraint::~UnaryConstraint() {
  NoThrowScope guard;
  discardInDestructor();
}

void UnaryConstraint::handleExecute() {
  // Made by name it has no source until setSource(): nothing to enforce yet.
  if (m_x == nullptr || ConstraintShape::holdsNothingYet(m_y))
    return;
  // An open variable takes a closed enumeration's members, but no interval's: it waits until closed.
  if (m_y.isOpen() && waitsForClosing())
    return;
  if (narrowsToMembers())
    narrowToMembers();
  else if (narrowsToIntegers())
    // The integers within both, as an integer interval's intersection rounds a range inward.
    m_y.intersect(std::max(m_x->getLowerBound(), BoundsArithmetic::integerFrom(m_y.getLowerBound())),
                  std::min(m_x->getUpperBound(), BoundsArithmetic::integerTo(m_y.getUpperBound())));
  else
    m_y.intersect(*m_x);
}

bool UnaryConstraint::narrowsToIntegers() const {
  return m_x != nullptr && BoundsArithmetic::isIntegerInterval(*m_x) && BoundsArithmetic::isRealInterval(m_y);
}

void UnaryConstraint::narrowToMembers() {
  if (m_y.isOpen() || m_y.isEmpty())
    return;
  std::list<double> members;
  m_x->getValues(members);
  bool any = false;
  double least = 0.0, greatest = 0.0;
  for (double v : members) {
    if (!m_y.isMember(v))
      continue;
    least = any ? std::min(least, v) : v;
    greatest = any ? std::max(greatest, v) : v;
    any = true;
  }
  if (any)
    m_y.intersect(least, greatest);
  else
    m_y.empty();
}

bool UnaryConstraint::canIgnore(const Id<ConstrainedVariable>& variable, int argIndex,
                                const DomainListener::ChangeType& changeType) {
  (void)variable;
  KALDEN_CHECK_MSG(argIndex == 0, "Cannot have more than one variable in scope.");
  if (narrowsToMembers() || narrowsToIntegers() || waitsForClosing())
    return false;
  // An opened variable takes the source's members again; one closed may hold members the
  // constraint never judged (an open enumeration that held nothing took a closed one's).
  return changeType != DomainListener::RESET && changeType != DomainListener::RELAXED &&
         changeType != DomainListener::OPENED && changeType != DomainListener::CLOSED;
}

void UnaryConstraint::setSource(const Id<Constraint>& sourceConstraint) {
  // Only another unary constraint that has a source can give one; anything else leaves this one as it was.
  KALDEN_CHECK_TEXT_MSG_OR_RETURN(m_x == nullptr, "m_x == 0",
                                  "Already set domain for "
                                      << toString() << " and not using "
                                      << (sourceConstraint.isValid() ? sourceConstraint->toString()
                                                                     : std::string("an invalid constraint")));
  KALDEN_CHECK_OR_RETURN(sourceConstraint.isValid());
  const UnaryConstraint* source = dynamic_cast<const UnaryConstraint*>(static_cast<Constraint*>(sourceConstraint));
  KALDEN_CHECK_MSG_OR_RETURN(source != nullptr, "Cannot take a source for " << toString() << " from "
                                                                            << sourceConstraint->toString()
                                                                            << ", which is not a unary constraint");
  KALDEN_CHECK_MSG_OR_RETURN(source->m_x != nullptr, "Cannot take a source for " << toString() << " from "
                                                                                 << source->toString()
                                                                                 << ", which has none");
  KALDEN_CHECK_TEXT_MSG_OR_RETURN(AbstractDomain::canBeCompared(*source->m_x, m_y),
                                  "AbstractDomain::canBeCompared(source, m_y)",
                                  "Cannot compare " << source->m_x->toString() << " and " << m_y.toString() << ".");
  m_x = source->m_x->copy();
  // It waited without a source: it has its first work now, which the next propagation must find
  // (the touch tells the engine that there is work).
  if (isActive() && !isDiscarded()) {
    getPropagator()->handleConstraintActivated(getId());
    m_variables[0]->touch();
  }
}

bool UnaryConstraint::testIsRedundant(const Id<ConstrainedVariable>& variable) const {
  // Without a source it has yet to act: retired now, it would ignore the source it is given.
  return m_x != nullptr && Constraint::testIsRedundant(variable);
}

void UnaryConstraint::handleDiscard() {
  Constraint::handleDiscard();
  delete m_x;
  m_x = nullptr;
}

} // namespace KALDEN
