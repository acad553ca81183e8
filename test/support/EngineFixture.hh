#ifndef KALDEN_TEST_SUPPORT_ENGINEFIXTURE_HH
#define KALDEN_TEST_SUPPORT_ENGINEFIXTURE_HH

#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/EnumeratedDomains.hh"
#include "ConstraintEngine/component/IntervalDomains.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "Utils/Entity.hh"
#include "Utils/IdTable.hh"
#include "ConstraintEngine/component/Propagators.hh"
#include "support/TestPropagator.hh"

#include <gtest/gtest.h>

#include <cstddef>
#include <list>
#include <memory>
#include <string>
#include <vector>

namespace KALDEN {

/**
 * A schema, an engine on it and a propagator of the given class named
 * "Default" that the engine owns. Whatever a test leaves in the engine is
 * purged when the fixture ends, after which every entity and handle the test
 * made must be gone.
 */
template <class PropagatorType>
class EngineFixtureOf : public ::testing::Test {
protected:
  EngineFixtureOf()
      : m_liveEntities(liveEntitiesBefore()), m_liveHandles(IdTable::size()), m_schema(new CESchema()),
        m_engine(new ConstraintEngine(m_schema->getId())),
        m_propagator(new PropagatorType("Default", m_engine->getId())) {}

  ~EngineFixtureOf() override {
    destroyEngine();
    m_schema.reset();
    Entity::garbageCollect();
    EXPECT_EQ(Entity::liveCount(), m_liveEntities) << "entities left behind";
    EXPECT_EQ(IdTable::size(), m_liveHandles) << "handles left behind";
  }

  // The shared data types live for the whole process: make them before counting.
  static std::size_t liveEntitiesBefore() {
    FloatDT::instance();
    IntDT::instance();
    BoolDT::instance();
    StringDT::instance();
    SymbolDT::instance();
    return Entity::liveCount();
  }

  /// Deletes the engine under the utility layer's purge (what the host does at shut-down).
  void destroyEngine() {
    if (!m_engine)
      return;
    Entity::purgeStart();
    m_engine.reset();
    Entity::purgeEnd();
    m_propagator = nullptr;
  }

  /// The engine's handle.
  const Id<ConstraintEngine>& engine() const { return m_engine->getId(); }

  /// Every variable's current domain, in key order.
  std::vector<std::string> domains() const {
    std::vector<std::string> all;
    for (const Id<ConstrainedVariable>& var : m_engine->getVariables())
      all.push_back(var->lastDomain().toString());
    return all;
  }
  /// Propagates twice, expecting what the queries forecast: the answers alike, the second changing
  /// nothing; proven inconsistent, false at once; neither that nor pending, true at once. The answer.
  bool expectForecastHolds(const std::string& what) {
    const bool proven = m_engine->provenInconsistent(), pending = m_engine->pending();
    const std::vector<std::string> before = domains();
    const bool first = m_engine->propagate();
    if (proven || !pending) {
      EXPECT_EQ(first, !proven) << what;
      EXPECT_EQ(domains(), before) << what;
    }
    EXPECT_EQ(m_engine->provenInconsistent(), !first) << what;
    EXPECT_FALSE(m_engine->pending()) << what;
    const std::vector<std::string> after = domains();
    EXPECT_EQ(m_engine->propagate(), first) << what;
    EXPECT_EQ(domains(), after) << what;
    return first;
  }

  /// A new real interval variable [lb, ub] (deleted by the test or purged with the engine).
  Id<ConstrainedVariable> floatVar(const char* name, double lb, double ub) {
    return (new Variable<IntervalDomain>(engine(), IntervalDomain(lb, ub, FloatDT::instance()), false, true, name,
                                         Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
        ->getId();
  }
  /// A new integer interval variable [lb, ub].
  Id<ConstrainedVariable> intVar(const char* name, int lb, int ub) {
    return (new Variable<IntervalIntDomain>(engine(), IntervalIntDomain(lb, ub, IntDT::instance()), false, true, name,
                                            Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
        ->getId();
  }

  /// A new numeric enumeration variable over the given values (closed).
  Id<ConstrainedVariable> enumVar(const char* name, const std::list<double>& values) {
    return (new Variable<EnumeratedDomain>(engine(), NumericDomain(values, FloatDT::instance()), false, true, name,
                                           Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
        ->getId();
  }

  /// A new numeric enumeration variable over the given values, still open to insertion.
  Id<ConstrainedVariable> openEnum(const char* name, const std::list<double>& values,
                                   const Id<DataType>& dataType = IntDT::instance()) {
    NumericDomain open(dataType);
    open.insert(values);
    return (new Variable<EnumeratedDomain>(engine(), open, false, true, name, Id<Entity>::noId(),
                                           ConstrainedVariable::NO_INDEX))
        ->getId();
  }

  std::size_t m_liveEntities;
  std::size_t m_liveHandles;
  std::unique_ptr<CESchema> m_schema;
  std::unique_ptr<ConstraintEngine> m_engine;
  PropagatorType* m_propagator; ///< owned by the engine
};

/// An engine whose "Default" propagator records every call and runs nothing.
using EngineFixture = EngineFixtureOf<TestPropagator>;
/// An engine whose "Default" propagator is the system's own: networks propagate.
using NetworkFixture = EngineFixtureOf<DefaultPropagator>;

} // namespace KALDEN

#endif
