#define KALDEN_SOURCE "ConstraintEngine/base/ConstraintEngineListener"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"

#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "Utils/base/Report.hh"

namespace KALDEN {

ConstraintEngineListener::ConstraintEngineListener() : m_id(this) {}

ConstraintEngineListener::ConstraintEngineListener(const Id<ConstraintEngine>& engine)
    : m_id(this), m_constraintEngine(engine) {
  removeOnFailure(m_id, [this] {
    KALDEN_CHECK(m_constraintEngine.isValid());
    m_constraintEngine->add(m_id);
  });
}

ConstraintEngineListener::~ConstraintEngineListener() {
  NoThrowScope guard;
  KALDEN_CHECK(m_id.isValid());
  // An engine that is gone (or was never given) has nothing to unregister from.
  if (m_constraintEngine.isValid())
    m_constraintEngine->remove(m_id);
  if (m_id.isValid())
    m_id.remove();
}

void ConstraintEngineListener::setConstraintEngine(const Id<ConstraintEngine>& engine) {
  KALDEN_CHECK_TEXT(engine.isValid(), "m_constraintEngine.isValid()");
  const Id<ConstraintEngine> previous = m_constraintEngine;
  // Registering first: a refusal leaves the listener where it was.
  engine->add(m_id);
  if (previous.isValid() && previous != engine)
    previous->remove(m_id);
  m_constraintEngine = engine;
}

void PSConstraintEngineListener::notifyChanged(const Id<ConstrainedVariable>& variable,
                                               const DomainListener::ChangeType& changeType) {
  notifyChanged(static_cast<PSVariable*>(variable), static_cast<PSChangeType>(changeType));
}

void PSConstraintEngineListener::notifyViolationAdded(const Id<Constraint>& constraint) {
  notifyViolationAdded(static_cast<PSConstraint*>(constraint));
}

void PSConstraintEngineListener::notifyViolationRemoved(const Id<Constraint>& constraint) {
  notifyViolationRemoved(static_cast<PSConstraint*>(constraint));
}

} // namespace KALDEN
