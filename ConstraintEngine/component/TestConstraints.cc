#define KALDEN_SOURCE "ConstraintEngine/component/Constraints"

// Reified equality, less-than and less-or-equal tests.

#include "ConstraintEngine/component/TestConstraints.hh"

#include "ConstraintEngine/component/BoundsArithmetic.hh"
#include "ConstraintEngine/component/ConstraintsBase.hh"
#include "Utils/base/Report.hh"

#include <list>

namespace KALDEN {

namespace {

// The test variable's truth values; a test is decided by removing the opposite one.
constexpr double FALSE_VALUE = 0.0;
constexpr double TRUE_VALUE = 1.0;

void decide(AbstractDomain& test, bool truth) { test.remove(truth ? FALSE_VALUE : TRUE_VALUE); }

bool isTrue(const AbstractDomain& test) { return test.isSingleton() && test.getSingletonValue() == TRUE_VALUE; }

// Whether a test variable's domain holds no value but 0 and 1: deciding removes one of them,
// which an interval can do only at a bound, and any other value would be left undecided.
bool holdsOnlyTruthValues(const AbstractDomain& test) {
  if (test.isOpen())
    return false;
  if (test.isEmpty())
    return true;
  if (test.isInterval())
    return test.minDelta() == 1.0 && test.getLowerBound() >= FALSE_VALUE && test.getUpperBound() <= TRUE_VALUE;
  std::list<double> values;
  test.getValues(values);
  for (double value : values)
    if (value != FALSE_VALUE && value != TRUE_VALUE)
      return false;
  return true;
}

// Refuses a test variable's base that may hold other values than 0 and 1: when the test is made
// and, for as long as it stands, before the base changes (an opening, say) so that it would.
bool admitsTestBase(const Constraint& constraint, int argIndex, const AbstractDomain& base) {
  KALDEN_CHECK_TEXT_MSG_OR_RETURN(argIndex != 0 || holdsOnlyTruthValues(base), "holdsOnlyTruthValues(m_test)",
                                  "The test variable of " << constraint.getName().toString()
                                                          << " may hold only 0 and 1, not " << base.toString(),
                                  false);
  return true;
}

// Refuses a test variable that may hold other values than 0 and 1 (the base destructor then
// takes back the registration). Judged by its base, all it may come to hold again: a current
// domain narrowed or emptied by other constraints widens back when they go.
void checkTestDomain(const Constraint& constraint) {
  admitsTestBase(constraint, 0, constraint.getScope()[0]->baseDomain());
}

// Refuses arguments that the comparison cannot read: numbers to order, when made.
void checkOrderedArguments(const Constraint& constraint) { ConstraintShape::checkNumeric(constraint, 1, 3); }

const char* const ARITY_CONDITION = "variables.size() == ARG_COUNT";

} // namespace

// TestEQ

TestEQ::TestEQ(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& constraintEngine,
               const std::vector<Id<ConstrainedVariable> >& variables)
    : Constraint(name, propagatorName, constraintEngine, variables),
      m_test(ConstraintShape::domainAt(*this, 0, ARG_COUNT, ARITY_CONDITION)),
      m_arg1(ConstraintShape::domainAt(*this, 1, ARG_COUNT, ARITY_CONDITION)),
      m_arg2(ConstraintShape::domainAt(*this, 2, ARG_COUNT, ARITY_CONDITION)) {
  checkTestDomain(*this);
  // A true test equates the arguments.
  ConstraintShape::checkSafeComparison(m_arg1, m_arg2);
}

TestEQ::~TestEQ() = default;

bool TestEQ::judgesBase(int argIndex) const { return argIndex == 0; }

bool TestEQ::admitsBase(int argIndex, const AbstractDomain& base) const {
  return admitsTestBase(*this, argIndex, base);
}

void TestEQ::handleExecute() {
  // An open argument may still gain or be closed without a value the other holds: whether they
  // meet is not known, and a true test could not equate an interval with it.
  if (m_arg1.isOpen() || m_arg2.isOpen())
    return;
  KALDEN_TRACE("TestEQ:handleExecute", "comparing " << m_arg1.toString() << " with " << m_arg2.toString());
  // Across kinds an integer interval meets a real one only at an integer.
  const bool meet = BoundsArithmetic::shareValue(m_arg1, m_arg2);
  // Equal only when every value of one equals every value of the other: a real interval narrower
  // than the tolerance holds more than one value.
  if (m_arg1.isSingleton() && m_arg2.isSingleton() && BoundsArithmetic::singletonsEqual(m_arg1, m_arg2))
    decide(m_test, true);
  else if (!meet)
    decide(m_test, false);

  if (!isTrue(m_test))
    return;
  const bool changed = m_arg1.intersect(m_arg2);
  if (!(changed && m_arg1.isEmpty()))
    m_arg2.intersect(m_arg1);
}

// TestLessThan

TestLessThan::TestLessThan(const LabelStr& name, const LabelStr& propagatorName,
                           const Id<ConstraintEngine>& constraintEngine,
                           const std::vector<Id<ConstrainedVariable> >& variables)
    : Constraint(name, propagatorName, constraintEngine, variables),
      m_test(ConstraintShape::domainAt(*this, 0, ARG_COUNT, ARITY_CONDITION)),
      m_arg1(ConstraintShape::domainAt(*this, 1, ARG_COUNT, ARITY_CONDITION)),
      m_arg2(ConstraintShape::domainAt(*this, 2, ARG_COUNT, ARITY_CONDITION)) {
  checkTestDomain(*this);
  checkOrderedArguments(*this);
}

TestLessThan::~TestLessThan() = default;

bool TestLessThan::judgesBase(int argIndex) const { return argIndex == 0; }

bool TestLessThan::admitsBase(int argIndex, const AbstractDomain& base) const {
  return admitsTestBase(*this, argIndex, base);
}

void TestLessThan::handleExecute() {
  // An open argument may still gain or lose members: its values so far decide nothing.
  if (m_arg1.isOpen() || m_arg2.isOpen())
    return;
  // True only where every pair differs by the tolerance: 0.3 and a computed 0.30000000000000004
  // are the same number, and neither is less than the other; false where no pair is apart so.
  // The spans cover a real singleton whose bounds lie reversed within the tolerance.
  typedef BoundsArithmetic BA;
  if (BA::lessThan(m_arg1, BA::spanHigh(m_arg1), m_arg2, BA::spanLow(m_arg2)))
    decide(m_test, true);
  else if (!BA::lessThan(m_arg1, BA::spanLow(m_arg1), m_arg2, BA::spanHigh(m_arg2)))
    decide(m_test, false);
}

// TestLEQ

TestLEQ::TestLEQ(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& constraintEngine,
                 const std::vector<Id<ConstrainedVariable> >& variables)
    : Constraint(name, propagatorName, constraintEngine, variables),
      m_test(ConstraintShape::domainAt(*this, 0, ARG_COUNT, ARITY_CONDITION)),
      m_arg1(ConstraintShape::domainAt(*this, 1, ARG_COUNT, ARITY_CONDITION)),
      m_arg2(ConstraintShape::domainAt(*this, 2, ARG_COUNT, ARITY_CONDITION)) {
  checkTestDomain(*this);
  checkOrderedArguments(*this);
}

TestLEQ::~TestLEQ() = default;

bool TestLEQ::judgesBase(int argIndex) const { return argIndex == 0; }

bool TestLEQ::admitsBase(int argIndex, const AbstractDomain& base) const {
  return admitsTestBase(*this, argIndex, base);
}

void TestLEQ::handleExecute() {
  // An open argument may still gain or lose members: its values so far decide nothing.
  if (m_arg1.isOpen() || m_arg2.isOpen())
    return;
  KALDEN_TRACE("TestLEQ:handleExecute", "BEFORE:" << toString());
  // False only where every pair differs by the tolerance, as for TestLessThan's true; true
  // where every pair is within it or ordered.
  typedef BoundsArithmetic BA;
  if (BA::lessOrEqual(m_arg1, BA::spanHigh(m_arg1), m_arg2, BA::spanLow(m_arg2)))
    decide(m_test, true);
  else if (BA::lessThan(m_arg2, BA::spanHigh(m_arg2), m_arg1, BA::spanLow(m_arg1)))
    decide(m_test, false);
  KALDEN_TRACE("TestLEQ:handleExecute", "AFTER:" << toString());
}

} // namespace KALDEN
