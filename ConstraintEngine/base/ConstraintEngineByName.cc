#define KALDEN_SOURCE "ConstraintEngine/base/ConstraintEngine"

// Creation of values, variables and constraints by the names the schema registered, and deletion of constraints.

#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
#include "ConstraintEngine/base/ConstraintType.hh"
#include "ConstraintEngine/base/DataType.hh"
#include "Utils/base/Report.hh"

#include <algorithm>
#include <cstddef>
#include <exception>
#include <functional>
#include <iterator>
#include <tuple>
#include <vector>

namespace KALDEN {

namespace {

// The engine's schema, refused when it went before the engine.
const Id<CESchema>& liveSchema(const Id<CESchema>& schema) {
  KALDEN_CHECK_TEXT_MSG(schema.isValid(), "m_schema.isValid()",
                        "The engine's schema " << schema << " is gone: delete the engine before its schema.");
  return schema;
}

// The data type registered under the name; an unknown name fails in the schema's lookup.
Id<DataType> lookUpDataType(const Id<CESchema>& schema, const char* typeName) {
  const Id<DataType> dt = liveSchema(schema)->getDataType(typeName);
  KALDEN_CHECK_MSG(dt.isValid(), "no DataType found for type '" << LabelStr(typeName).toString() << "'");
  return dt;
}

// Refuses, before anything is built, a scope variable that is gone, discarded or another
// engine's: a constraint over it would be linked where its changes never reach. Whether it passed.
bool checkScope(const LabelStr& name, const std::vector<Id<ConstrainedVariable> >& scope,
                const Id<ConstraintEngine>& engine) {
  for (std::size_t i = 0; i < scope.size(); ++i) {
    const Id<ConstrainedVariable>& var = scope[i];
    KALDEN_CHECK_TEXT_MSG_OR_RETURN(var.isValid(), "scope[i].isValid()",
                                    "Cannot create constraint " << name.toString() << ": the variable " << var
                                                                << " at argIndex " << i << " is gone.",
                                    false);
    KALDEN_CHECK_TEXT_MSG_OR_RETURN(!var->isDiscarded(), "!scope[i]->isDiscarded()",
                                    "Cannot create constraint " << name.toString() << ": the variable "
                                                                << var->getName().toString() << " (" << var
                                                                << ") at argIndex " << i << " is discarded.",
                                    false);
    KALDEN_CHECK_TEXT_MSG_OR_RETURN(var->getConstraintEngine() == engine, "scope[i]->getConstraintEngine() == getId()",
                                    "Cannot create constraint "
                                        << name.toString() << ": the variable " << var->getName().toString() << " ("
                                        << var << ") at argIndex " << i << " belongs to another engine.",
                                    false);
  }
  return true;
}

} // namespace

double ConstraintEngine::createValue(const char* typeName, const std::string& text) {
  const Id<DataType> dt = lookUpDataType(getCESchema(), typeName);
  return dt->createValue(text);
}

Id<ConstrainedVariable> ConstraintEngine::createVariable(const char* typeName, const AbstractDomain& baseDomain,
                                                         bool internal, bool canBeSpecified, const char* name,
                                                         const Id<Entity>& parent, int index) {
  const Id<DataType> dt = lookUpDataType(getCESchema(), typeName);
  Id<ConstrainedVariable> variable;
  {
    const EngineCall call(m_id, CHANGE);
    if (!call)
      return Id<ConstrainedVariable>::noId();
    // Its notices wait until it is made: a listener told from its constructor could delete it there.
    const int firstKey = holdWhileMaking(
        [&] { variable = dt->createVariable(getId(), baseDomain, internal, canBeSpecified, name, parent, index); });
    KALDEN_CHECK(variable.isValid());
    standOrTakeBack(variable, firstKey, false);
  }
  // Judged once the run its listeners' deeds owe is over: a listener may discard it there too.
  KALDEN_CHECK_TEXT_MSG(stands(variable), "made.isValid() && !made->isDiscarded()",
                        "The " << dt->getName().toString() << " variable " << LabelStr(name).toString()
                               << " was deleted or discarded by a listener told of its making.");
  return variable;
}

Id<ConstrainedVariable> ConstraintEngine::createVariable(const char* typeName, bool internal, bool canBeSpecified,
                                                         const char* name, const Id<Entity>& parent, int index) {
  const Id<DataType> dt = lookUpDataType(getCESchema(), typeName);
  return createVariable(typeName, dt->baseDomain(), internal, canBeSpecified, name, parent, index);
}

Id<Constraint> ConstraintEngine::createConstraint(const LabelStr& name,
                                                  const std::vector<Id<ConstrainedVariable> >& scope) {
  const Id<ConstraintType> factory = liveSchema(getCESchema())->getConstraintType(name);
  KALDEN_CHECK(factory.isValid());
  if (!checkScope(name, scope, getId()))
    return Id<Constraint>::noId();
  const EngineCall call(m_id, CHANGE);
  if (!call)
    return Id<Constraint>::noId();
  Id<Constraint> constraint;
  const int firstKey = holdWhileMaking([&] { constraint = factory->createConstraint(getId(), scope); });
  standOrTakeBack(constraint, firstKey, true);
  return constraint;
}

int ConstraintEngine::holdWhileMaking(const std::function<void()>& make) {
  // Notices a propagator's turn holds (a listener may create constraints) stay held, and those
  // of the creation wait until it stands (see beginMaking()).
  const int firstKey = Entity::nextKey();
  // A refused making leaves nothing to propagate: what it registered has gone again.
  const bool dirtyBefore = m_dirty;
  const unsigned long changesBefore = m_changes;
  beginMaking(firstKey);
  try {
    make();
  } catch (...) {
    endMaking(firstKey, true, true);
    m_dirty = dirtyBefore;
    m_changes = changesBefore;
    throw;
  }
  endMaking(firstKey, false, false);
  return firstKey;
}

void ConstraintEngine::beginMaking(int firstKey) {
  // Every notice the making causes waits, executions of a delegate's run included, so that no
  // listener acts on a half-made object; nothing is told before the outermost making ends.
  m_makings.push_back(Making{firstKey, m_heldNotices.size(), cleanMark()});
  ++m_holdingNotices;
}

void ConstraintEngine::endMaking(int firstKey, bool refused, bool tell) {
  if (m_makings.empty() || m_makings.back().firstKey != firstKey)
    return;
  const Making making = m_makings.back();
  m_makings.pop_back();
  --m_holdingNotices;
  if (refused)
    dropHeldSince(making);
  else
    noteModelChange();
  if (!tell || isHoldingNotices())
    return;
  // Until its notices are told the object is still being made: a listener's deleteConstraint
  // discards it, and its constructor refuses it.
  m_toldWhileMade.push_back(firstKey);
  struct Told {
    std::vector<int>& keys;
    ~Told() { keys.pop_back(); }
  } told{m_toldWhileMade};
  // What a listener throws leaves the constructor once every listener was told, unless an outer
  // call keeps it.
  withinScope([this] { releaseHeldNotices(); });
}

void ConstraintEngine::dropHeldSince(const Making& making) {
  // Refused: it never stood, so nobody hears of it (nor of its members and delegates). What a
  // delegate's run and the take-back did to the objects already there is heard all the same.
  // Nothing is told while an object is made, so the notices from heldBefore on are untold.
  const int firstKey = making.firstKey;
  m_heldNotices.erase(std::remove_if(m_heldNotices.begin() + static_cast<std::ptrdiff_t>(making.heldBefore),
                                     m_heldNotices.end(),
                                     [firstKey](const HeldNotice& notice) { return notice.key >= firstKey; }),
                      m_heldNotices.end());
  // What it made and left standing is heard of by nobody, whatever comes of it.
  for (auto it = m_unheardAdded.lower_bound(firstKey); it != m_unheardAdded.end(); ++it)
    m_partlyHeard[*it];
  m_unheardAdded.erase(m_unheardAdded.lower_bound(firstKey), m_unheardAdded.end());
  // Its links stay unheard: their unlinks, as the take-back unwinds, are told to nobody.
}

ConstraintEngine::CleanMark ConstraintEngine::makingMark(int firstKey) const {
  if (m_makings.empty() || m_makings.back().firstKey != firstKey)
    return CleanMark{true, 0, 0, 0};
  CleanMark mark = m_makings.back().before;
  mark.calls = m_callCount;
  return mark;
}

void ConstraintEngine::noteMadeOnClean(int key, const CleanMark& before, bool takenBack) {
  // Only its own making happened: no listener's deed, no narrowing.
  const bool alone = before.calls == m_callCount && before.narrowings == m_narrowingCount;
  m_madeLast = MadeLast{key,          alone,          m_callCount, m_narrowingCount, std::uncaught_exceptions(),
                        before.dirty, before.changes, takenBack};
}

void ConstraintEngine::forgetRefusedMaking(int key) {
  if (m_madeLast.key != key)
    return;
  m_madeLast.key = 0;
  // Only its own discard (one call) came after it stood: the engine is as it was, as after a
  // refused creation by name (see holdWhileMaking()).
  if (m_madeLast.onClean && m_callCount == m_madeLast.calls + 1 && m_narrowingCount == m_madeLast.narrowings) {
    m_dirty = m_madeLast.dirty;
    m_changes = m_madeLast.changes;
  }
}

bool ConstraintEngine::isBeingMade(int key) const {
  for (const Making& making : m_makings)
    if (making.firstKey == key)
      return true;
  return std::find(m_toldWhileMade.begin(), m_toldWhileMade.end(), key) != m_toldWhileMade.end();
}

template <class T>
void ConstraintEngine::standOrTakeBack(const Id<T>& made, int firstKey, bool propagating) {
  registerCreation(made, firstKey, propagating);
  if (!isHoldingNotices())
    releaseHeldNotices();
  if (propagating)
    oweRun();
}

template <class T>
void ConstraintEngine::registerCreation(const Id<T>& made, int firstKey, bool propagating) {
  // The outermost call's own creation is the one made while no other call or telling is open
  // around the creation's own call.
  const bool own = m_scopeDepth == 1;
  m_creations.push_back(Creation{firstKey, Entity::nextKey(), propagating && m_autoPropagate, own, false, [made] {
                                   if (!stands(made))
                                     return;
                                   // A part goes only with what it is part of (taken back whole, or
                                   // made otherwise and kept).
                                   if (made->standingOwner().isId())
                                     return;
                                   delete static_cast<T*>(made);
                                 }});
}

void ConstraintEngine::takeBackFailedCreations(bool runFailed) {
  // The outermost first: a part or interim variable made by name inside a composite goes with it.
  // Each take-back may tell listeners, who may make and fail again: go on until none is left.
  for (;;) {
    Creation* next = nullptr;
    for (Creation& creation : m_creations) {
      if (creation.takenBack || creation.firstKey >= m_failureKey)
        continue;
      bool concerned = creation.own || (runFailed && creation.owesRun && creation.endKey <= m_runStartKey);
      for (const int key : m_failedKeys)
        concerned = concerned || (key >= creation.firstKey && key < creation.endKey);
      if (concerned && (next == nullptr || creation.firstKey < next->firstKey))
        next = &creation;
    }
    if (next == nullptr)
      return;
    // Whatever it made inside goes with it.
    const int firstKey = next->firstKey, endKey = next->endKey;
    for (Creation& creation : m_creations)
      if (creation.firstKey >= firstKey && creation.endKey <= endKey)
        creation.takenBack = true;
    const std::function<void()> takeBack = next->takeBack;
    takeBack();
  }
}

void ConstraintEngine::releaseHeldNotices() {
  // Each once, in order; a listener told may cause more, held behind the others. A listener's
  // failure is kept (see heed()): the others are still told everything, and no notice waits for
  // a later call.
  const bool outermost = !m_releasing;
  m_releasing = true;
  struct End {
    ConstraintEngine& engine;
    bool outermost;
    ~End() {
      if (!outermost)
        return;
      engine.m_releasing = false;
      if (std::uncaught_exceptions() > 0) {
        // Objects whose addition is dropped are heard of by nobody, whatever comes of them.
        for (const int key : engine.m_unheardAdded)
          engine.m_partlyHeard[key];
        engine.m_unheardAdded.clear();
      }
      engine.m_heldNotices.clear();
      engine.m_nextHeld = 0;
    }
  } end{*this, outermost};
  while (m_nextHeld < m_heldNotices.size()) {
    const int key = m_heldNotices[m_nextHeld].key;
    const std::function<void()> notice = std::move(m_heldNotices[m_nextHeld++].tell);
    heed(key, notice);
  }
}

bool ConstraintEngine::heardAdditionOf(const Id<ConstraintEngineListener>& listener, int key) const {
  const auto it = m_partlyHeard.find(key);
  return it == m_partlyHeard.end() || it->second.count(listener) != 0;
}

void ConstraintEngine::holdLinkNotice(const Id<ConstrainedVariable>& variable, const Id<Constraint>& constraint,
                                      int argIndex) {
  const std::tuple<int, int, int> link(variable->getKey(), constraint->getKey(), argIndex);
  m_unheardLinks.insert(link);
  const Id<ConstrainedVariable> self = variable;
  const Id<Constraint> subject = constraint;
  hold(std::get<1>(link), [this, self, subject, link] {
    if (m_unheardLinks.erase(link) != 0 && stands(self) && stands(subject))
      self->tellListenersOfLinkNow(subject, std::get<2>(link), true);
  });
}

bool ConstraintEngine::dropHeldLink(const ConstrainedVariable& variable, const Id<Constraint>& constraint,
                                    int argIndex) {
  return !m_unheardLinks.empty() &&
         m_unheardLinks.erase(std::make_tuple(variable.getKey(), constraint->getKey(), argIndex)) != 0;
}

void ConstraintEngine::deleteConstraint(const Id<Constraint>& c) {
  // All before anything goes: only this engine's live constraint may go, never during
  // propagation, and a refused deletion must leave it in place.
  KALDEN_CHECK_MSG_OR_RETURN(c.isValid(), "Cannot delete constraint " << c << ": it is gone.");
  KALDEN_CHECK_MSG_OR_RETURN(!c->isDiscarded(), "Cannot delete constraint " << c->getName().toString() << " (" << c
                                                                            << "): it is discarded.");
  KALDEN_CHECK_TEXT_MSG_OR_RETURN(c->m_constraintEngine == m_id, "c->m_constraintEngine == m_id",
                                  "Cannot delete constraint " << c->getName().toString() << " (" << c
                                                              << "): it belongs to another engine.");
  const EngineCall call(m_id, DELETE_BY_NAME);
  if (!call)
    return;
  // A part goes only with what it is part of, even while that is being discarded: one held by
  // value was never allocated on its own.
  if (Constraint::refusesPartDeletion(*static_cast<Constraint*>(c), c->m_ownerKey, false))
    return;
  // One still being made is discarded: its constructor then refuses it, and the failing `new`
  // frees it. Freed now, the constructor would go on in freed memory.
  if (isBeingMade(c->getKey())) {
    c->discard();
    return;
  }
  // `c` may be the constraint's own handle, which goes with it.
  Constraint* constraint = c;
  delete constraint;
  // Inside the tear-down bracket nothing runs: the network is being cleared.
  if (!Entity::isPurging())
    oweRun();
}

} // namespace KALDEN
