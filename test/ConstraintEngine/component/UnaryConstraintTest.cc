#include "ConstraintEngine/component/Constraints.hh"
#include "support/Failure.hh"
#include "support/LibraryFixture.hh"

#include <gtest/gtest.h>

#include <list>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

class UnaryConstraintTest : public LibraryFixture {
protected:
  static void SetUpTestSuite() { SymbolDT::instance(); } // shared for the process: made before counting

  UnaryConstraint* direct(int lb, int ub, const Id<ConstrainedVariable>& var) {
    return new UnaryConstraint(IntervalIntDomain(lb, ub, IntDT::instance()), var);
  }
  UnaryConstraint* registered(const Id<ConstrainedVariable>& var) {
    return new UnaryConstraint("UNARY", "Default", engine(), makeScope(var));
  }
};

TEST_F(UnaryConstraintTest, ExecutionIntersectsWithTheSource) {
  const Id<ConstrainedVariable> x = intVar("x", 0, 10);
  const Id<ConstrainedVariable> y = intVar("y", 0, 10);
  UnaryConstraint* inside = direct(3, 5, x);
  UnaryConstraint* disjoint = direct(20, 30, y);
  EXPECT_EQ(inside->getName().toString(), "UNARY");
  EXPECT_EQ(inside->getPropagator()->getName().toString(), "Default");
  inside->handleExecute();
  disjoint->handleExecute();
  EXPECT_EQ(bounds(x), (std::vector<double>{3, 5}));
  EXPECT_TRUE(dom(y).isEmpty());
}

// A real variable under integers keeps the integers within both, also one its bound lies a
// hair beside.
TEST_F(UnaryConstraintTest, ARealUnderIntegersKeepsTheIntegersWithinBoth) {
  const Id<ConstrainedVariable> r = floatVar("r", 1.0 + 1e-9, 1.5), s = floatVar("s", 0.25, 0.75);
  direct(-1, 2, r)->handleExecute();
  direct(-1, 2, s)->handleExecute();
  EXPECT_TRUE(dom(r).isSingleton() && dom(r).isMember(1.0)) << dom(r);
  EXPECT_TRUE(dom(s).isEmpty());
}

// Narrowing within the source cannot call for work; a relaxation can.
TEST_F(UnaryConstraintTest, OnlyARelaxationSchedulesItAgain) {
  const Id<ConstrainedVariable> x = intVar("x", 0, 10);
  UnaryConstraint* unary = direct(3, 5, x);
  unary->handleExecute();
  m_propagator->clear();
  dom(x).intersect(4, 5);
  EXPECT_TRUE(m_propagator->agenda().empty());
  dom(x).relax(IntervalIntDomain(0, 10, IntDT::instance()));
  EXPECT_EQ(m_propagator->agenda().count(unary->getId()), 1u);
  unary->handleExecute();
  EXPECT_EQ(bounds(x), (std::vector<double>{3, 5}));
}

TEST_F(UnaryConstraintTest, OnlyWideningsScheduleItAgain) {
  const Id<ConstrainedVariable> x = intVar("x", 0, 10);
  UnaryConstraint* unary = direct(3, 5, x);
  for (int change = DomainListener::UPPER_BOUND_DECREASED; change <= DomainListener::OPENED; ++change) {
    const DomainListener::ChangeType kind = static_cast<DomainListener::ChangeType>(change);
    // Closing too: an open enumeration that held nothing may have taken members never judged.
    const bool schedules = kind == DomainListener::RESET || kind == DomainListener::RELAXED ||
                           kind == DomainListener::OPENED || kind == DomainListener::CLOSED;
    EXPECT_EQ(unary->canIgnore(x, 0, kind), !schedules) << DomainListener::toString(kind);
  }
  const Error failure = failureOf([&] { unary->canIgnore(x, 1, DomainListener::RESET); });
  EXPECT_EQ(failure.getCondition(), "argIndex == 0");
  EXPECT_EQ(failure.getMessage(), "Cannot have more than one variable in scope.");
}

// An interval keeps only an enumeration's bounds when intersected with it: under an enumerated
// source its ends go onto members, and any change may move an end between two members.
TEST_F(UnaryConstraintTest, AnIntervalUnderAnEnumeratedSourceEndsOnMembers) {
  const NumericDomain source(std::list<double>{-3, -1, 1}, IntDT::instance());
  const Id<ConstrainedVariable> between = intVar("between", 0, 0), around = intVar("around", -2, 2);
  UnaryConstraint* none = new UnaryConstraint(source, between);
  UnaryConstraint* some = new UnaryConstraint(source, around);
  none->handleExecute();
  some->handleExecute();
  EXPECT_TRUE(dom(between).isEmpty());
  EXPECT_EQ(bounds(around), (std::vector<double>{-1, 1}));
  EXPECT_FALSE(some->canIgnore(around, 0, DomainListener::LOWER_BOUND_INCREASED));
  dom(around).intersect(0, 1);
  some->handleExecute();
  EXPECT_EQ(bounds(around), (std::vector<double>{1, 1}));
}

TEST_F(UnaryConstraintTest, ARegisteredConstraintNeedsItsSourceOnce) {
  const Id<ConstrainedVariable> x = intVar("x", 0, 10);
  UnaryConstraint* unary = registered(x);
  unary->handleExecute(); // without a source it has nothing to enforce
  EXPECT_EQ(bounds(x), (std::vector<double>{0, 10}));

  UnaryConstraint* source = direct(2, 4, intVar("s", 0, 10));
  unary->setSource(source->getId());
  delete static_cast<Constraint*>(source); // the copy taken is the target's own
  unary->handleExecute();
  EXPECT_EQ(bounds(x), (std::vector<double>{2, 4}));

  UnaryConstraint* other = direct(3, 3, intVar("t", 0, 10));
  const Error twice = failureOf([&] { unary->setSource(other->getId()); });
  EXPECT_EQ(twice.getCondition(), "m_x == 0");
  EXPECT_EQ(twice.getMessage(), "Already set domain for " + unary->toString() + " and not using " + other->toString());
  EXPECT_CHECK_FAILS(other->setSource(unary->getId()), "m_x == 0"); // the direct form has its source
}

// Anything but a unary constraint with a source is refused, and the target keeps no source.
TEST_F(UnaryConstraintTest, AnUnfitSourceIsRefusedAndChangesNothing) {
  const Id<ConstrainedVariable> x = intVar("x", 0, 10);
  const Id<ConstrainedVariable> y = intVar("y", 0, 10);
  UnaryConstraint* unary = registered(x);
  LockConstraint* lock = new LockConstraint("lock", "Default", engine(), makeScope(x, y));
  UnaryConstraint* withoutSource = registered(y);
  Id<Constraint> stale = direct(1, 1, y)->getId();
  delete static_cast<Constraint*>(stale);

  EXPECT_CHECK_FAILS(unary->setSource(lock->getId()), "source != nullptr");
  EXPECT_CHECK_FAILS(unary->setSource(withoutSource->getId()), "source->m_x != nullptr");
  EXPECT_CHECK_FAILS(unary->setSource(stale), "sourceConstraint.isValid()");
  EXPECT_CHECK_FAILS(unary->setSource(unary->getId()), "source->m_x != nullptr");
  unary->handleExecute();
  EXPECT_EQ(bounds(x), (std::vector<double>{0, 10}));
}

// A source of another family than the variable's is refused when made or set, before anything changes.
TEST_F(UnaryConstraintTest, ASourceOfAnotherFamilyIsRefused) {
  const Id<ConstrainedVariable> x = enumVar("x", {1, 2});
  const SymbolDomain red(LabelStr("red"), SymbolDT::instance());
  EXPECT_CHECK_FAILS(new UnaryConstraint(red, x), "AbstractDomain::canBeCompared(dom, var)");
  EXPECT_TRUE(m_engine->getConstraints().empty());

  const Id<ConstrainedVariable> s = (new Variable<EnumeratedDomain>(engine(), red, false, true, "s", Id<Entity>::noId(),
                                                                    ConstrainedVariable::NO_INDEX))
                                        ->getId();
  UnaryConstraint* symbols = new UnaryConstraint(red, s);
  UnaryConstraint* unary = registered(x);
  EXPECT_CHECK_FAILS(unary->setSource(symbols->getId()), "AbstractDomain::canBeCompared(source, m_y)");
  unary->handleExecute(); // still without a source
  EXPECT_EQ(values(x), (std::vector<double>{1, 2}));
}

TEST_F(UnaryConstraintTest, TheDirectFormTestsItsVariableFirst) {
  Id<ConstrainedVariable> gone = intVar("gone", 0, 1);
  delete static_cast<ConstrainedVariable*>(gone);
  EXPECT_THROW(direct(0, 1, gone), Error);
  EXPECT_TRUE(m_engine->getConstraints().empty());
}

TEST_F(UnaryConstraintTest, DiscardFreesTheSourceOnce) {
  UnaryConstraint* unary = direct(3, 5, intVar("x", 0, 10));
  unary->discard(false);
  unary->handleExecute();                 // its source went with the discard
  delete static_cast<Constraint*>(unary); // no second free (sanitizer build)
}

class UnaryNetworkTest : public NetworkFixture {};

// Made by name over a decided variable, it is not retired while it waits for its source: the
// source it is given acts from the next propagation on.
TEST_F(UnaryNetworkTest, ASourceGivenLateActsOnADecidedVariable) {
  const Id<ConstrainedVariable> x = intVar("x", 5, 5), y = intVar("y", 0, 9);
  UnaryConstraint* unary = new UnaryConstraint("UNARY", "Default", engine(), makeScope(x));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_FALSE(unary->isRetired());
  unary->setSource((new UnaryConstraint(IntervalIntDomain(2, 2, IntDT::instance()), y))->getId());
  EXPECT_FALSE(m_engine->propagate());
  EXPECT_TRUE(x->lastDomain().isEmpty());
}

} // namespace
} // namespace KALDEN
