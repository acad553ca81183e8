#include "ConstraintEngine/component/Variable.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/Domains.hh"
#include "support/CapturedTraces.hh"
#include "support/EngineFixture.hh"
#include "support/Failure.hh"
#include "support/RecordingEngineListener.hh"
#include "support/TestConstraints.hh"

#include <gtest/gtest.h>

#include <list>
#include <string>
#include <typeinfo>
#include <vector>

namespace KALDEN {
namespace {

using Events = std::vector<std::string>;

class VariableTest : public EngineFixture {};

TEST_F(VariableTest, OwnsTwoSeparateCopiesAndReportsClosedWhileBuilt) {
  RecordingEngineListener listener(engine());
  IntervalIntDomain given(0, 10, IntDT::instance());
  Variable<IntervalIntDomain> x(engine(), given, false, true, "x", Id<Entity>::noId(), ConstrainedVariable::NO_INDEX);
  EXPECT_EQ(listener.events(), (Events{"L addedVariable x", "L changed x CLOSED"}));
  given.intersect(2, 3);
  x.getCurrentDomain().intersect(4, 6);
  EXPECT_EQ(x.baseDomain().getUpperBound(), 10);
  EXPECT_EQ(x.lastDomain().getLowerBound(), 4);
  EXPECT_EQ(x.lastDomain().getListener(), x.getCurrentDomain().getListener());
  EXPECT_TRUE(x.baseDomain().getListener().isNoId());

  listener.clear();
  Variable<IntervalDomain> empty(engine(), IntervalDomain(1, 0, FloatDT::instance()), false, true, "e",
                                 Id<Entity>::noId(), ConstrainedVariable::NO_INDEX);
  EXPECT_EQ(listener.events(), (Events{"L addedVariable e", "L changed e CLOSED", "L changed e EMPTIED"}));
  EXPECT_TRUE(m_engine->pending());
}

// Whether a domain lies within the variable's own object, rather than in a block of its own.
template <class V>
bool liesInside(const V& variable, const AbstractDomain& domain) {
  const char* begin = reinterpret_cast<const char*>(&variable);
  const char* at = reinterpret_cast<const char*>(&domain);
  return at >= begin && at < begin + sizeof(V);
}

TEST_F(VariableTest, DomainsKeepTheirClassAndTheListenerWhereverTheyAreHeld) {
  Variable<IntervalIntDomain> exact(engine(), IntervalIntDomain(0, 10, IntDT::instance()), false, true, "x",
                                    Id<Entity>::noId(), ConstrainedVariable::NO_INDEX);
  Variable<IntervalDomain> derived(engine(), IntervalIntDomain(0, 10, IntDT::instance()), false, true, "d",
                                   Id<Entity>::noId(), ConstrainedVariable::NO_INDEX);
  Variable<AbstractDomain> abstract(engine(), IntervalDomain(0, 10, FloatDT::instance()), false, true, "a",
                                    Id<Entity>::noId(), ConstrainedVariable::NO_INDEX);
  EXPECT_TRUE(liesInside(exact, exact.baseDomain()) && liesInside(exact, exact.lastDomain()));
  EXPECT_FALSE(liesInside(derived, derived.baseDomain()) || liesInside(derived, derived.lastDomain()));
  EXPECT_FALSE(liesInside(abstract, abstract.baseDomain()) || liesInside(abstract, abstract.lastDomain()));
  const std::vector<ConstrainedVariable*> all{&exact, &derived, &abstract};
  const std::vector<const std::type_info*> classes{&typeid(IntervalIntDomain), &typeid(IntervalIntDomain),
                                                   &typeid(IntervalDomain)};
  for (std::size_t i = 0; i < all.size(); ++i) {
    ConstrainedVariable& v = *all[i];
    EXPECT_EQ(typeid(v.baseDomain()), *classes[i]);
    EXPECT_EQ(typeid(v.lastDomain()), *classes[i]);
    EXPECT_NE(&v.baseDomain(), &v.lastDomain());
    v.getCurrentDomain().intersect(2, 4);
    EXPECT_EQ(v.baseDomain().getUpperBound(), 10);
    EXPECT_EQ(v.lastDomain().getUpperBound(), 4);
    EXPECT_TRUE(v.baseDomain().getListener().isNoId());
    const Id<DomainListener> listener = v.lastDomain().getListener();
    EXPECT_TRUE(listener.isValid());
    EXPECT_TRUE(v.isValid());
    // Discarded, the variable drops its listener; the current domain keeps the now stale handle.
    v.discard(false);
    EXPECT_EQ(v.lastDomain().getListener(), listener);
    EXPECT_FALSE(listener.isValid());
    EXPECT_TRUE(v.isValid());
  }
}

TEST_F(VariableTest, RestrictingTheBaseNarrowsTheCurrentDomainOnlyWhenNeeded) {
  Variable<IntervalDomain> x(engine(), IntervalDomain(0, 10, FloatDT::instance()), false, true, "x", Id<Entity>::noId(),
                             ConstrainedVariable::NO_INDEX);
  TestConstraint c("c", "Default", engine(), makeScope(x.getId()));
  m_propagator->clear();
  x.handleRestrictBaseDomain(IntervalDomain(-5, 20, FloatDT::instance()));
  EXPECT_TRUE(m_propagator->events().empty());
  x.getCurrentDomain().intersect(2, 8);
  m_propagator->clear();
  x.handleRestrictBaseDomain(IntervalDomain(1, 9, FloatDT::instance())); // the current domain lies within
  EXPECT_TRUE(m_propagator->events().empty());
  x.handleRestrictBaseDomain(IntervalDomain(3, 9, FloatDT::instance()));
  EXPECT_EQ(m_propagator->events(), (Events{"notify c[0] x LOWER_BOUND_INCREASED"}));
  EXPECT_EQ(x.baseDomain().getLowerBound(), 3);
  EXPECT_EQ(x.lastDomain().getLowerBound(), 3);
}

TEST_F(VariableTest, DerivedDomainOfAnInconsistentEngineIsEmptyOfTheVariablesOwnKind) {
  const Id<ConstrainedVariable> i = IntDT::instance()->createVariable(
      engine(), IntervalIntDomain(0, 5, IntDT::instance()), false, true, "i", Id<Entity>::noId(), -1);
  const Id<ConstrainedVariable> s = FloatDT::instance()->createVariable(
      engine(), IntervalDomain(0, 5, FloatDT::instance()), false, true, "s", Id<Entity>::noId(), -1);
  EXPECT_EQ(&i->derivedDomain(), &i->lastDomain()); // nothing pending: no propagation
  // A failed run: a client's emptying alone would be refilled by the next run's relaxation.
  const Id<ConstrainedVariable> none = FloatDT::instance()->createVariable(
      engine(), NumericDomain(std::list<double>{}, FloatDT::instance()), false, true, "none", Id<Entity>::noId(), -1);
  ASSERT_FALSE(m_engine->propagate());
  ASSERT_TRUE(m_engine->provenInconsistent());
  const AbstractDomain& emptyInt = i->derivedDomain();
  const AbstractDomain& emptyFloat = s->derivedDomain();
  EXPECT_TRUE(emptyInt.isEmpty() && emptyInt.isClosed());
  EXPECT_EQ(emptyInt.getDataType(), IntDT::instance());
  EXPECT_EQ(emptyFloat.getDataType(), FloatDT::instance());
  EXPECT_EQ(emptyInt.minDelta(), 1.0);
  EXPECT_NE(&emptyInt, &emptyFloat);
  EXPECT_EQ(i->lastDomain().getUpperBound(), 5);
  delete static_cast<ConstrainedVariable*>(s);
  delete static_cast<ConstrainedVariable*>(none);
  EXPECT_FALSE(m_engine->provenInconsistent());
  EXPECT_EQ(&i->derivedDomain(), &i->lastDomain());
  delete static_cast<ConstrainedVariable*>(i);
}

TEST_F(VariableTest, RefusesADomainOfAnotherClassAndLeavesNothingBehind) {
  RecordingEngineListener listener(engine());
  const std::size_t handles = IdTable::size();
  const NumericDomain numbers(std::list<double>{1, 2}, FloatDT::instance());
  EXPECT_THROW(new Variable<IntervalDomain>(engine(), numbers, false, true, "x", Id<Entity>::noId(), -1), Error);
  EXPECT_EQ(IdTable::size(), handles);
  EXPECT_TRUE(m_engine->getVariables().empty());
  EXPECT_TRUE(listener.events().empty()) << "the refusal comes before the engine hears of the variable";
}

TEST_F(VariableTest, DataTypeCreatesRegisteredVariables) {
  CapturedTraces traces("DataType::createVariable");
  const Id<ConstrainedVariable> v = FloatDT::instance()->createVariable(
      engine(), IntervalIntDomain(1, 3, IntDT::instance()), true, false, "v", Id<Entity>::noId(), -1);
  EXPECT_EQ(m_engine->getVariableByName("v"), static_cast<PSVariable*>(v));
  EXPECT_EQ(v->toString(), "[1,3]");
  EXPECT_EQ(traces.text(), "[DataType::createVariable]Created Variable : " + v->toLongString() + "\n");

  const Error failure = failureOf([&] {
    FloatDT::instance()->createVariable(engine(), StringDomain(std::string("a"), StringDT::instance()), false, true,
                                        "w", Id<Entity>::noId(), -1);
  });
  EXPECT_EQ(failure.getCondition(), "AbstractDomain::canBeCompared(*m_baseDomain,baseDomain)");
  EXPECT_EQ(failure.getMessage(), "Tried to create a float variable with a different kind of base domain:string");
  EXPECT_EQ(m_engine->getVariables().size(), 1u);
  delete static_cast<ConstrainedVariable*>(v);
}

} // namespace
} // namespace KALDEN
