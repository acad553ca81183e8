#define KALDEN_SOURCE "ConstraintEngine/base/ConstrainedVariable"

// The links between a variable and the constraints over it, and the variable's listeners.

#include "ConstraintEngine/base/ConstrainedVariable.hh"

#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "Utils/base/Report.hh"

#include <algorithm>
#include <set>
#include <vector>

namespace KALDEN {

namespace {

// A link being told to a variable's listeners, innermost first: a listener told may remove the
// constraint, whose unlink then reaches exactly the listeners that heard the link.
struct LinkTelling {
  const ConstrainedVariable* variable;
  Id<Constraint> constraint;
  int argIndex;
  std::vector<Id<ConstrainedVariableListener> > told; // in the order told
  LinkTelling* outer;
};
LinkTelling* s_linkTelling = nullptr;

} // namespace

void ConstrainedVariable::addConstraint(const Id<Constraint>& constraint, int argIndex) {
  KALDEN_CHECK(!Entity::isPurging());
  KALDEN_CHECK(constraint.isValid());
  KALDEN_TRACE("ConstrainedVariable:addConstraint", "Adding " << constraint->toString() << " to " << toString());
  m_constraints.push_back(std::make_pair(constraint, argIndex));
  handleConstraintAdded(constraint);
  // A walk of every link: a variable shared by many constraints would make each creation cost them all.
  KALDEN_AUDIT(isConstrainedBy(constraint));
  tellListenersOfLink(constraint, argIndex, true);
}

void ConstrainedVariable::tellListenersOfLink(const Id<Constraint>& constraint, int argIndex, bool linked) {
  // A link whose notice waits is held even for a variable nobody listens to yet: a listener
  // attached when the variable is heard added hears it then.
  if (listeners().empty() &&
      (!linked || !m_constraintEngine.isValid() || !m_constraintEngine->holdsLinkNoticesForLateListeners()))
    return;
  // A constraint created by name is heard of once it stands, and not at all should it be refused;
  // a link made while held notices are told waits behind them. An unlink is told at once, but to
  // nobody when its link was not told yet.
  if (m_constraintEngine.isValid()) {
    if (!linked && m_constraintEngine->dropHeldLink(*this, constraint, argIndex))
      return;
    if (linked && m_constraintEngine->holdsLinkNotices()) {
      m_constraintEngine->holdLinkNotice(m_id, constraint, argIndex);
      return;
    }
  }
  tellListenersOfLinkNow(constraint, argIndex, linked);
}

void ConstrainedVariable::tellListenersOfLinkNow(const Id<Constraint>& constraint, int argIndex, bool linked) {
  // One scope: what a listener throws leaves once every listener was told.
  if (m_constraintEngine.isValid())
    m_constraintEngine->withinScope([&] { tellLinkToListeners(constraint, argIndex, linked); });
  else
    tellLinkToListeners(constraint, argIndex, linked);
}

void ConstrainedVariable::tellLinkToListeners(const Id<Constraint>& constraint, int argIndex, bool linked) {
  // Told last, each only while the variable is there: a listener may delete it. An unlink while
  // its link is being told reaches only those told the link; the others hear neither.
  const LinkTelling* linking = nullptr;
  for (linking = s_linkTelling; !linked && linking != nullptr; linking = linking->outer)
    if (linking->variable == this && linking->constraint == constraint && linking->argIndex == argIndex)
      break;
  // Those told the link, sorted once for the unlink to look each listener up in.
  std::vector<Id<ConstrainedVariableListener> > heardLink;
  if (linking != nullptr) {
    heardLink = linking->told;
    std::sort(heardLink.begin(), heardLink.end());
  }
  LinkTelling telling{this, constraint, argIndex, {}, s_linkTelling};
  if (linked)
    s_linkTelling = &telling;
  struct End {
    bool linked;
    LinkTelling* outer;
    ~End() {
      if (linked)
        s_linkTelling = outer;
    }
  } end{linked, telling.outer};
  const Id<Constraint> subject = constraint;
  const LifeWatch<ConstrainedVariable> watch(m_id);
  // One catching boundary for the whole telling (see heedListener()).
  const CatchingScope catching;
  const std::vector<Id<ConstrainedVariableListener> > snapshot(listeners().begin(), listeners().end());
  if (linked)
    telling.told.reserve(snapshot.size());
  for (const Id<ConstrainedVariableListener>& listener : snapshot) {
    if (watch.gone() || (linked && (!subject.isValid() || subject->isDiscarded())))
      return;
    if (!listener.isValid() || listeners().count(listener) == 0)
      continue;
    if (linked) {
      telling.told.push_back(listener);
      heedListener(subject->getKey(), [&] { listener->notifyConstraintAdded(subject, argIndex); });
    } else if (linking == nullptr || std::binary_search(heardLink.begin(), heardLink.end(), listener)) {
      heedListener(subject->getKey(), [&] { listener->notifyConstraintRemoved(subject, argIndex); });
    }
  }
}

void ConstrainedVariable::removeConstraint(const Id<Constraint>& constraint, int argIndex) {
  if (m_deleted)
    return;
  KALDEN_TRACE("ConstrainedVariable:removeConstraint",
               "Unlinking " << (constraint.isValid() ? constraint->toString() : std::string("an invalid constraint")));
  KALDEN_CHECK(!Entity::isPurging());
  KALDEN_CHECK(constraint.isValid());
  KALDEN_CHECK(isConstrainedBy(constraint));
  const ConstraintEntry entry(constraint, argIndex);
  m_constraints.erase(std::remove(m_constraints.begin(), m_constraints.end(), entry), m_constraints.end());
  handleConstraintRemoved(constraint);
  tellListenersOfLink(constraint, argIndex, false);
}

bool ConstrainedVariable::isConstrainedBy(const Id<Constraint>& constraint) {
  for (const ConstraintEntry& entry : m_constraints)
    if (entry.first == constraint)
      return true;
  return false;
}

const Id<Constraint>& ConstrainedVariable::getFirstConstraint() const {
  KALDEN_CHECK(!Entity::isPurging());
  if (m_constraints.empty())
    return Id<Constraint>::noId();
  return m_constraints.front().first;
}

bool ConstrainedVariable::hasActiveConstraint() const {
  for (const ConstraintEntry& entry : m_constraints) {
    if (entry.first->isActive()) {
      KALDEN_TRACE("ConstrainedVariable:hasActiveConstraint", entry.first->toString());
      return true;
    }
  }
  return false;
}

void ConstrainedVariable::constraints(std::set<Id<Constraint>, EntityComparator<Id<Constraint> > >& results) const {
  KALDEN_CHECK(!Entity::isPurging());
  for (const ConstraintEntry& entry : m_constraints)
    results.insert(entry.first);
}

void ConstrainedVariable::constraints(std::set<Id<Constraint> >& results) const {
  KALDEN_CHECK(!Entity::isPurging());
  for (const ConstraintEntry& entry : m_constraints)
    results.insert(entry.first);
}

PSList<PSConstraint*> ConstrainedVariable::getConstraints() const {
  KALDEN_CHECK(isValid());
  KALDEN_CHECK(!Entity::isPurging());
  PSList<PSConstraint*> result;
  for (const ConstraintEntry& entry : m_constraints)
    result.push_back(entry.first);
  return result;
}

void ConstrainedVariable::handleConstraintAdded(const Id<Constraint>&) {}

void ConstrainedVariable::handleConstraintRemoved(const Id<Constraint>&) {}

void ConstrainedVariable::notifyAdded(const Id<ConstrainedVariableListener>& listener) {
  // A discarded variable has dismissed its listeners already and would never tell this one.
  if (refusesDiscarded("add a listener to"))
    return;
  KALDEN_CHECK_TEXT(listeners().find(listener) == listeners().end(), "m_listeners.find(listener) == m_listeners.end()");
  extras().listeners.insert(listener);
}

void ConstrainedVariable::notifyRemoved(const Id<ConstrainedVariableListener>& listener) {
  KALDEN_CHECK_TEXT(listeners().find(listener) != listeners().end(), "m_listeners.find(listener) != m_listeners.end()");
  m_extras->listeners.erase(listener);
}

ConstrainedVariableListener::ConstrainedVariableListener(const Id<ConstrainedVariable>& variable)
    : m_id(this), m_variable(variable) {
  removeOnFailure(m_id, [this] {
    KALDEN_CHECK(m_variable.isValid());
    m_variable->notifyAdded(m_id);
  });
}

ConstrainedVariableListener::~ConstrainedVariableListener() {
  NoThrowScope guard;
  // A variable that is gone, or that dropped this listener when it was discarded, is left alone.
  if (m_variable.isValid())
    m_variable->notifyRemoved(m_id);
  if (m_id.isValid())
    m_id.remove();
}

void ConstrainedVariableListener::notifyDiscard() {}

void ConstrainedVariableListener::notifyConstraintAdded(const Id<Constraint>&, int) {}

void ConstrainedVariableListener::notifyConstraintRemoved(const Id<Constraint>&, int) {}

} // namespace KALDEN
