#define KALDEN_SOURCE "ConstraintEngine/base/VariableChangeListener"
#include "ConstraintEngine/base/VariableChangeListener.hh"

#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"

#include <cstddef>
#include <unordered_map>

namespace KALDEN {

namespace {

// What a listener that does not lie inside its variable reports with.
struct Binding {
  Id<ConstrainedVariable> variable;
  const Id<ConstraintEngine>* constraintEngine;
};

// The bindings of such listeners, by listener. They are rare (a variable's own listener lies
// inside it), so a side table costs less than a binding in every listener.
std::unordered_map<const VariableChangeListener*, Binding>& bindings() {
  static auto* const sl_bindings = new std::unordered_map<const VariableChangeListener*, Binding>(); // never destroyed
  return *sl_bindings;
}

} // namespace

VariableChangeListener::VariableChangeListener(const Id<ConstrainedVariable>& variable,
                                               const Id<ConstraintEngine>& constraintEngine)
    : DomainListener() {
  // Should the table not take the binding, the base destructor takes the handle back.
  bindings().emplace(this, Binding{variable, &constraintEngine});
}

VariableChangeListener::VariableChangeListener() : DomainListener() {}

VariableChangeListener::~VariableChangeListener() {
  std::unordered_map<const VariableChangeListener*, Binding>& table = bindings();
  if (!table.empty())
    table.erase(this);
}

void VariableChangeListener::notifyChange(const DomainListener::ChangeType& changeType) {
  // Only listeners made with a binding get here: a variable's own listener has its own class.
  const auto it = bindings().find(this);
  if (it != bindings().end())
    (*it->second.constraintEngine)->notify(it->second.variable, changeType);
}

// Inline: every change of a variable passes here, and this file alone uses it.
inline ConstrainedVariable& ConstrainedVariable::HousedChangeListener::variable() {
  // The room lies at a fixed place of the ConstrainedVariable part, wherever a derived class puts
  // that part (it is not a virtual base).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
  constexpr std::size_t ROOM_OFFSET = offsetof(ConstrainedVariable, m_listenerRoom);
#pragma GCC diagnostic pop
  return *reinterpret_cast<ConstrainedVariable*>(reinterpret_cast<char*>(this) - ROOM_OFFSET);
}

void ConstrainedVariable::HousedChangeListener::notifyChange(const DomainListener::ChangeType& changeType) {
  ConstrainedVariable& owner = variable();
  owner.m_constraintEngine->notify(owner.m_id, changeType);
}

} // namespace KALDEN
