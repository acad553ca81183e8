#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/EqualityConstraints.hh"
#include "ConstraintEngine/component/OrderingConstraints.hh"
#include "ConstraintEngine/component/SignConstraints.hh"
#include "ConstraintEngine/component/TestConstraints.hh"
#include "support/EngineFixture.hh"
#include "support/Failure.hh"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <list>
#include <memory>
#include <string>

namespace KALDEN {
namespace {

// What clients may hand the engine, legal or not: a network over what is legal must keep every
// solution, and what is not must be refused with a clear error, registering nothing.
class ClientInputTest : public NetworkFixture {
protected:
  ClientInputTest() {
    m_engine->setAutoPropagation(false);
    m_schema->registerDataType((new IntDT())->getId());
    m_schema->registerDataType((new FloatDT())->getId());
    m_schema->registerDataType((new BoolDT())->getId());
    m_schema->registerDataType((new VoidDT())->getId());
  }
  Id<ConstrainedVariable> boolVar(const char* name, const BoolDomain& dom = BoolDomain(BoolDT::instance())) {
    return (new Variable<BoolDomain>(engine(), dom, false, true, name, Id<Entity>::noId(),
                                     ConstrainedVariable::NO_INDEX))
        ->getId();
  }
  Id<ConstrainedVariable> intEnum(const char* name, const std::list<double>& values) {
    return (new Variable<EnumeratedDomain>(engine(), NumericDomain(values, IntDT::instance()), false, true, name,
                                           Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
        ->getId();
  }
  static std::list<double> values(const Id<ConstrainedVariable>& var) {
    std::list<double> result;
    var->lastDomain().getValues(result);
    return result;
  }
  std::size_t constraintCount() const { return m_engine->getConstraints().size(); }
};

TEST_F(ClientInputTest, BooleansKeepFalseAgainstNegativeBounds) {
  const Id<ConstrainedVariable> minusOne = intVar("minusOne", -1, -1), b = boolVar("b");
  new LessThanEqualConstraint("leq", "Default", engine(), makeScope(minusOne, b));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(values(b), (std::list<double>{0, 1}));

  const Id<ConstrainedVariable> p = boolVar("p"), q = boolVar("q");
  new NegateConstraint("neg", "Default", engine(), makeScope(p, q));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(values(p), (std::list<double>{0}));
  EXPECT_EQ(values(q), (std::list<double>{0}));

  const Id<ConstrainedVariable> e = intEnum("e", {-1, 0}), no = boolVar("no", BoolDomain(false, BoolDT::instance()));
  new EqualConstraint("eq", "Default", engine(), makeScope(e, no));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(values(e), (std::list<double>{0}));
}

TEST_F(ClientInputTest, BaseDomainRestrictionKeepsCurrentInsideBaseAndRefusesBeforeChanging) {
  // A specified value the base loses leaves the variable empty, and propagation says so.
  const Id<ConstrainedVariable> x = intEnum("x", {-4, -2});
  x->specify(-4);
  x->restrictBaseDomain(NumericDomain(-2, IntDT::instance()));
  EXPECT_FALSE(m_engine->propagate());
  EXPECT_TRUE(x->lastDomain().isEmpty());
  EXPECT_TRUE(x->isValid());
  x->reset();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(values(x), (std::list<double>{-2}));

  // An interval meets an enumeration only where a member lies, whichever side asks.
  const NumericDomain apart(std::list<double>{-3, 2}, IntDT::instance());
  const IntervalIntDomain unit(0, 1, IntDT::instance());
  EXPECT_FALSE(unit.intersects(apart));
  EXPECT_FALSE(apart.intersects(unit));
  EXPECT_TRUE(unit.intersects(NumericDomain(std::list<double>{-3, 1}, IntDT::instance())));
  const Id<ConstrainedVariable> y = intEnum("y", {-3, 2});
  EXPECT_CHECK_FAILS(y->restrictBaseDomain(unit), "dom.intersects(baseDomain())");
  EXPECT_EQ(y->baseDomain().getSize(), 2);
  // Likewise an interval lies within an enumeration only where each of its values is a member.
  const NumericDomain oneThree(std::list<double>{1, 3}, IntDT::instance());
  EXPECT_FALSE(IntervalIntDomain(1, 3, IntDT::instance()).isSubsetOf(oneThree));
  EXPECT_FALSE(IntervalIntDomain(2, 2, IntDT::instance()).isSubsetOf(oneThree));
  EXPECT_TRUE(IntervalIntDomain(3, 3, IntDT::instance()).isSubsetOf(oneThree));
  EXPECT_FALSE(IntervalDomain(1, 1.5, FloatDT::instance()).isSubsetOf(oneThree));
  EXPECT_TRUE(IntervalIntDomain(1, 2, IntDT::instance())
                  .isSubsetOf(NumericDomain(std::list<double>{0, 1, 2}, IntDT::instance())));

  // An emptied variable's base is refused before it narrows.
  const Id<ConstrainedVariable> emptied = intVar("emptied", 20, 30);
  emptied->getCurrentDomain().empty();
  const double ubBefore = emptied->baseDomain().getUpperBound();
  EXPECT_CHECK_FAILS(emptied->restrictBaseDomain(IntervalIntDomain(0, 25, IntDT::instance())),
                     "isOpen() || !isEmpty()");
  EXPECT_EQ(emptied->baseDomain().getUpperBound(), ubBefore);
}

TEST_F(ClientInputTest, AnEmptyIntervalMakesTheEngineInconsistentNotStuck) {
  const Id<ConstrainedVariable> inverted = intVar("inverted", 1, 0), x = intVar("x", 0, 10);
  new LessThanEqualConstraint("leq", "Default", engine(), makeScope(x, intVar("five", 5, 5)));
  EXPECT_FALSE(m_engine->propagate());
  EXPECT_FALSE(m_engine->propagate());
  delete static_cast<ConstrainedVariable*>(inverted);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(x->lastDomain().getUpperBound(), 5);
}

TEST_F(ClientInputTest, NothingOfAConstraintTakenWithItsVariableConstrainsAnyMore) {
  // lb <= ub fails through the member ordering; deleting x takes the whole WithinBounds away.
  const Id<ConstrainedVariable> x = intVar("x", 0, 10), lb = intVar("lb", 5, 5), ub = intVar("ub", 0, 3);
  new WithinBounds("within", "Default", engine(), makeScope(x, lb, ub));
  const Id<ConstrainedVariable> y = intVar("y", 0, 10);
  new NegateConstraint("neg", "Default", engine(), makeScope(ub, y));
  EXPECT_FALSE(m_engine->propagate());
  delete static_cast<ConstrainedVariable*>(x);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_FALSE(m_engine->pending());
  EXPECT_EQ(constraintCount(), 1u);
  EXPECT_EQ(lb->lastDomain().getUpperBound(), 5);
  EXPECT_EQ(ub->lastDomain().getLowerBound(), 0);
  EXPECT_TRUE(m_engine->propagate());
}

TEST_F(ClientInputTest, InputTheEngineCannotHonourIsRefusedRegisteringNothing) {
  // A variable of another engine.
  CESchema otherSchema;
  std::unique_ptr<ConstraintEngine> other(new ConstraintEngine(otherSchema.getId()));
  new DefaultPropagator("Default", other->getId());
  const Id<ConstrainedVariable> foreign =
      (new Variable<IntervalIntDomain>(other->getId(), IntervalIntDomain(0, 10, IntDT::instance()), false, true, "f",
                                       Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
          ->getId();
  const Id<ConstrainedVariable> x = intVar("x", 0, 10);
  EXPECT_CHECK_FAILS(LessThanEqualConstraint("leq", "Default", engine(), makeScope(x, foreign)),
                     "m_variables[i]->getConstraintEngine() == m_constraintEngine");
  EXPECT_EQ(constraintCount(), 0u);
  EXPECT_TRUE(x->getConstraints().size() == 0 && foreign->getConstraints().size() == 0);
  Entity::purgeStart();
  other.reset();
  Entity::purgeEnd();

  // A base domain with values its named type has not.
  const std::size_t variables = m_engine->getVariables().size();
  EXPECT_CHECK_FAILS(m_engine->createVariable("bool", IntervalIntDomain(-3, 7, IntDT::instance()), false, true, "b",
                                              Id<Entity>::noId(), ConstrainedVariable::NO_INDEX),
                     "holdsEveryValueOf(baseDomain)");
  EXPECT_CHECK_FAILS(m_engine->createVariable("int", NumericDomain(std::list<double>{1.5, 2.5}, FloatDT::instance()),
                                              false, true, "i", Id<Entity>::noId(), ConstrainedVariable::NO_INDEX),
                     "holdsEveryValueOf(baseDomain)");
  EXPECT_EQ(m_engine->getVariables().size(), variables);
  EXPECT_TRUE(m_engine
                  ->createVariable("float", IntervalIntDomain(0, 3, IntDT::instance()), false, true, "f",
                                   Id<Entity>::noId(), ConstrainedVariable::NO_INDEX)
                  .isValid());
  EXPECT_TRUE(m_engine
                  ->createVariable("bool", IntervalIntDomain(0, 1, IntDT::instance()), false, true, "b",
                                   Id<Entity>::noId(), ConstrainedVariable::NO_INDEX)
                  .isValid());

  // A test variable that can hold more than 0 and 1.
  const Id<ConstrainedVariable> test = intVar("test", 0, 5), a = intVar("a", 0, 3), c = intVar("c", 0, 3);
  const Error refusal = failureOf([&] { TestEQ("eq", "Default", engine(), makeScope(test, a, c)); });
  EXPECT_EQ(refusal.getCondition(), "holdsOnlyTruthValues(m_test)");
  EXPECT_EQ(refusal.getMessage(), "The test variable of eq may hold only 0 and 1, not int:CLOSED[0, 5]");
  EXPECT_EQ(constraintCount(), 0u);
  EXPECT_CHECK_FAILS(TestLEQ("leq", "Default", engine(), makeScope(intEnum("t", {0, 2}), a, c)),
                     "holdsOnlyTruthValues(m_test)");
  // Judged by its base: a variable specified to 1 widens back when reset.
  const Id<ConstrainedVariable> wide = intVar("wide", -3, 5);
  wide->specify(1);
  EXPECT_CHECK_FAILS(TestEQ("eq", "Default", engine(), makeScope(wide, a, c)), "holdsOnlyTruthValues(m_test)");
  new TestEQ("eq", "Default", engine(), makeScope(boolVar("t"), a, c));
  EXPECT_TRUE(m_engine->propagate());
}

TEST_F(ClientInputTest, RefusalsSayWhatIsWrong) {
  const double nan = std::nan("");
  EXPECT_EQ(failureOf([&] { IntervalDomain(nan, 1, FloatDT::instance()); }).getMessage(),
            "A bound that is not a number cannot reach a domain.");
  IntervalDomain real(0, 10, FloatDT::instance());
  EXPECT_CHECK_FAILS(real.intersect(nan, 5), "!std::isnan(lb) && !std::isnan(ub)");
  IntervalIntDomain integer(0, 10, IntDT::instance());
  EXPECT_CHECK_FAILS(integer.intersect(0, nan), "!std::isnan(lb) && !std::isnan(ub)");
  EXPECT_EQ(real.getUpperBound(), 10);
  EXPECT_EQ(failureOf([&] { NumericDomain(nan, FloatDT::instance()); }).getCondition(), "!std::isnan(value)");
  EXPECT_EQ(failureOf([] { NumericDomain(std::numeric_limits<double>::infinity(), FloatDT::instance()); }).getMessage(),
            "inf lies beyond the infinities of float values.");
  EXPECT_EQ(failureOf([] { IntervalIntDomain(INT_MIN, 0, IntDT::instance()); }).getMessage(),
            "Lower bound -2147483648 is too small.");
  EXPECT_EQ(IntervalIntDomain(-3, 7, IntDT::instance()).toString().find("-0"), std::string::npos);
  EXPECT_EQ(IntervalDomain(-0.0, 1, FloatDT::instance()).toString().find("-0"), std::string::npos);
  EXPECT_EQ(intVar("z", 0, 0)->toString(), "0");

  EXPECT_EQ(failureOf([this] {
              m_engine->createVariable("void", false, true, "v", Id<Entity>::noId(), ConstrainedVariable::NO_INDEX);
            }).getMessage(),
            "The data type void has no values: nothing can be made of it.");

  for (const char* text : {"1e999", "1e-400", "0x10", "3e9", "-3e9"})
    EXPECT_EQ(failureOf([&] { m_engine->createValue("float", text); }).getMessage(),
              std::string("'") + text + "' is not a value of type float");
  EXPECT_EQ(failureOf([&] { m_engine->createValue("int", "-2147483648"); }).getMessage(),
            "'-2147483648' is not a value of type int");
  EXPECT_EQ(m_engine->createValue("float", "2.5e3"), 2500);
  EXPECT_EQ(m_engine->createValue("int", "-2147483647"), MINUS_INFINITY);
}

} // namespace
} // namespace KALDEN
