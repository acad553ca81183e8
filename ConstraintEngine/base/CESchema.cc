#define KALDEN_SOURCE "ConstraintEngine/base/CESchema"
#include "ConstraintEngine/base/CESchema.hh"

#include "ConstraintEngine/base/ConstraintType.hh"
#include "ConstraintEngine/base/DataType.hh"
#include "Utils/base/Report.hh"

#include <iostream>

namespace KALDEN {

CESchema::CESchema() : m_id(this) {}

CESchema::~CESchema() {
  NoThrowScope guard;
  purgeAll();
  m_id.remove();
}

void CESchema::registerDataType(const Id<DataType>& dt) {
  KALDEN_CHECK(dt.isValid());
  const LabelStr& name = dt->getName();
  auto it = m_dataTypes.find(name.getKey());
  if (it != m_dataTypes.end()) {
    // Already registered as this very object: replacing it would delete what is being registered.
    if (it->second == dt)
      return;
    KALDEN_TRACE("CESchema::registerDataType", "Over-writing prior registration for " << name.toString());
    const Id<DataType> prior = it->second;
    m_dataTypes.erase(it);
    if (prior.isValid())
      delete static_cast<DataType*>(prior);
  }
  KALDEN_CHECK_MSG(m_dataTypes.find(dt->getName().getKey()) == m_dataTypes.end(),
                   "Already have '" << name.toString() << "' registered.");
  m_dataTypes.insert(std::make_pair(name.getKey(), dt));
  KALDEN_TRACE("CESchema::registerDataType", "Registered data type " << name.toString());
}

void CESchema::registerConstraintType(const Id<ConstraintType>& factory) {
  KALDEN_CHECK(factory.isValid());
  const LabelStr& name = factory->getName();
  if (isConstraintType(name)) {
    // Already registered as this very object: releasing it would destroy what is being registered.
    if (getConstraintType(name) == factory)
      return;
    KALDEN_TRACE("CESchema:registerConstraintType", "Over-riding prior registration for " << name.toString());
    Id<ConstraintType> prior = getConstraintType(name);
    m_constraintTypes.erase(name.getKey());
    if (prior.isValid())
      prior.release();
  }
  KALDEN_CHECK_MSG(!isConstraintType(name),
                   "Constraint Type '" << name.toString() << "' should not be registered, and yet it is....");
  m_constraintTypes.insert(std::make_pair(name.getKey(), factory));
  KALDEN_TRACE("CESchema:registerConstraintType", "Registered Constraint Type " << name.toString());
}

bool CESchema::isDataType(const char* name) const {
  return m_dataTypes.find(LabelStr(name).getKey()) != m_dataTypes.end();
}

bool CESchema::isConstraintType(const LabelStr& name, const bool& warn) {
  if (m_constraintTypes.find(name.getKey()) != m_constraintTypes.end())
    return true;
  if (warn)
    std::cerr << "\nConstraint Type <" << name.toString() << "> has not been registered\n";
  return false;
}

Id<DataType> CESchema::getDataType(const char* name) {
  const LabelStr label(name);
  auto it = m_dataTypes.find(label.getKey());
  if (it == m_dataTypes.end())
    KALDEN_TRACE("kalden:error", "no DataType found for type '" << label.toString() << "'");
  KALDEN_CHECK_MSG_OR_RETURN(it != m_dataTypes.end(), "no DataType found for type '" << label.toString() << "'",
                             Id<DataType>::noId());
  const Id<DataType> dt = it->second;
  KALDEN_CHECK(dt.isValid());
  return dt;
}

const AbstractDomain& CESchema::baseDomain(const char* name) {
  const Id<DataType> factory = getDataType(name);
  KALDEN_CHECK_MSG(factory.isValid(), "no DataType found for type '" << LabelStr(name).toString() << "'");
  return factory->baseDomain();
}

const Id<ConstraintType>& CESchema::getConstraintType(const LabelStr& name) {
  auto it = m_constraintTypes.find(name.getKey());
  if (it == m_constraintTypes.end())
    KALDEN_TRACE("kalden:error", "Factory for constraint '" << name.toString() << "' is not registered.");
  KALDEN_CHECK_MSG_OR_RETURN(it != m_constraintTypes.end(),
                             "Factory for constraint '" << name.toString() << "' is not registered.",
                             Id<ConstraintType>::noId());
  return it->second;
}

void CESchema::purgeDataTypes() {
  for (const auto& entry : m_dataTypes) {
    const Id<DataType> dt = entry.second;
    KALDEN_TRACE("DataType:purgeAll", "Removing data type " << LabelStr(entry.first).toString());
    // A type deleted behind the schema's back must not be deleted twice.
    if (dt.isValid())
      delete static_cast<DataType*>(dt);
  }
  m_dataTypes.clear();
}

void CESchema::purgeConstraintTypes() {
  while (!m_constraintTypes.empty()) {
    auto it = m_constraintTypes.begin();
    Id<ConstraintType> factory = it->second;
    const LabelStr name(it->first);
    KALDEN_CHECK(factory.isValid());
    KALDEN_TRACE("CESchema:purgeAll", "Removing constraint type " << name.toString());
    m_constraintTypes.erase(it);
    if (factory.isValid())
      factory.release();
  }
}

void CESchema::purgeAll() {
  purgeConstraintTypes();
  purgeDataTypes();
}

} // namespace KALDEN
