#include "support/FreshNetwork.hh"

#include "ConstraintEngine/component/Domains.hh"
#include "ConstraintEngine/component/EqualityConstraintPropagator.hh"
#include "ConstraintEngine/component/Propagators.hh"
#include "Utils/Entity.hh"
#include "support/ConstraintCatalogue.hh"
#include "support/OperationSession.hh"

#include <algorithm>
#include <cstddef>
#include <list>
#include <string>
#include <vector>

namespace KALDEN {

namespace {

// Records the constraints an engine adds, in order.
class AdditionRecorder : public ConstraintEngineListener {
public:
  AdditionRecorder(const Id<ConstraintEngine>& engine, std::vector<Id<Constraint> >& added)
      : ConstraintEngineListener(engine), m_added(added) {}
  void notifyAdded(const Id<Constraint>& constraint) override { m_added.push_back(constraint); }

private:
  std::vector<Id<Constraint> >& m_added;
};

// An all-different judges its variables alike in every order: the fresh engine takes them in an
// order each check draws anew (`draw`), so that over a session a scope is read in each of its
// orders. A conditional one keeps its condition first.
void permuteCompared(const ConstraintEntry& entry, std::vector<Id<ConstrainedVariable> >& scope, unsigned long draw) {
  const std::size_t first = entry.className == "CondAllDiffConstraint" ? 1 : 0;
  if ((first == 0 && entry.className != "AllDiffConstraint") || scope.size() < first + 2)
    return;
  for (unsigned long n = draw % 720; n > 0; --n)
    std::next_permutation(scope.begin() + static_cast<std::ptrdiff_t>(first), scope.end(),
                          [](const Id<ConstrainedVariable>& a, const Id<ConstrainedVariable>& b) {
                            return a->getKey() < b->getKey();
                          });
}

} // namespace

FreshNetwork::FreshNetwork(const OperationSession& session) : FreshNetwork(session, nullptr) {}

FreshNetwork::FreshNetwork(const OperationSession& session, const std::set<int>& variables)
    : FreshNetwork(session, &variables) {}

FreshNetwork::FreshNetwork(const OperationSession& session, const std::set<int>* only)
    : m_engine(new ConstraintEngine(session.schema())) {
  new DefaultPropagator("Default", m_engine->getId());          // owned by the engine
  new EqualityConstraintPropagator("Equal", m_engine->getId()); // likewise
  m_recorder.reset(new AdditionRecorder(m_engine->getId(), m_added));
  m_engine->setAutoPropagation(false);
  for (const auto& v : session.variables())
    if (v.second.alive && (only == nullptr || only->count(v.first) != 0))
      addVariable(v.first, session);
  auto built = [this](int v) { return m_variables.count(v) != 0; };
  for (const auto& c : session.constraints())
    if (session.inEffect(c.second) && std::all_of(c.second.scope.begin(), c.second.scope.end(), built)) {
      closeVariables(session, c.first);
      addConstraint(c.first, session);
    }
  closeVariables(session, -1);
}

FreshNetwork::~FreshNetwork() {
  m_recorder.reset();
  Entity::purgeStart();
  m_engine.reset();
  Entity::purgeEnd();
}

void FreshNetwork::addVariable(int number, const OperationSession& session) {
  const ModelVariable& live = session.variables().at(number);
  const AbstractDomain& liveBase = live.id->baseDomain();
  // A specified value that an enumeration's base lost since is given to it, specified and removed
  // again, as the client did: the variable keeps the value specified, and holds nothing.
  const bool specified = live.id->specifiedFlag();
  const double value = specified ? live.id->getSpecifiedValue() : 0.0;
  const bool lostValue = specified && liveBase.isEnumerated() && !liveBase.isMember(value);
  // Closed by the client since it was open (made open, or opened again): it is made open, and
  // closed between the same two constraints as the client closed it.
  const bool closedSince = live.closedBefore >= 0 && liveBase.isClosed();
  std::unique_ptr<AbstractDomain> reopened;
  if (closedSince || lostValue) {
    std::list<double> values;
    liveBase.getValues(values);
    if (lostValue)
      values.push_back(value);
    if (liveBase.isOpen() || closedSince) {
      reopened.reset(liveBase.isString() ? static_cast<AbstractDomain*>(new StringDomain(liveBase.getDataType()))
                                         : new NumericDomain(liveBase.getDataType()));
      reopened->insert(values);
    } else if (liveBase.isString())
      reopened.reset(new StringDomain(values, liveBase.getDataType()));
    else
      reopened.reset(new NumericDomain(values, liveBase.getDataType()));
  }
  const Id<ConstrainedVariable> var = DrawnDomain::newVariable(
      m_engine->getId(), live.kind, reopened ? *reopened : liveBase, live.byName, "v" + std::to_string(number));
  m_variables[number] = var;
  if (specified && var->baseDomain().isMember(value))
    var->specify(value);
  // Switched off before anything may empty it: the live engine does not hear of an inactive
  // variable emptied, and a fresh one must not either.
  if (live.deactivations > 0)
    var->deactivate();
  // A specified value the base domain has lost since leaves the variable empty.
  if (lostValue)
    var->remove(value);
  else if (specified && !var->baseDomain().isMember(value))
    var->getCurrentDomain().empty();
  // Emptied while switched off, unheard (a specified value removed and given back to the base, say).
  else if (live.deactivations > 0 && live.id->lastDomain().isClosed() && live.id->lastDomain().isEmpty() &&
           !var->lastDomain().isEmpty())
    var->getCurrentDomain().empty();
}

// Closes the variables the client closed before the constraint numbered `beforeConstraint` was
// made (all that the client closed, for -1).
void FreshNetwork::closeVariables(const OperationSession& session, int beforeConstraint) {
  for (const auto& v : session.variables()) {
    const int closedBefore = v.second.alive && m_variables.count(v.first) != 0 ? v.second.closedBefore : -1;
    if (closedBefore >= 0 && (beforeConstraint < 0 || closedBefore <= beforeConstraint) &&
        m_variables.at(v.first)->baseDomain().isOpen())
      m_variables.at(v.first)->close();
  }
}

void FreshNetwork::addConstraint(int number, const OperationSession& session) {
  const ModelConstraint& live = session.constraints().at(number);
  const ConstraintEntry& entry = constraintCatalogue().at(static_cast<std::size_t>(live.entry));
  std::vector<Id<ConstrainedVariable> > scope;
  for (int v : live.scope)
    scope.push_back(m_variables.at(v));
  permuteCompared(entry, scope, static_cast<unsigned long>(number) + session.tally().checked);
  m_added.clear();
  if (live.variant > 0)
    m_engine->createConstraint(entry.names.at(static_cast<std::size_t>(live.variant - 1)), scope);
  else
    entry.build(m_engine->getId(), live.equality ? "Equal" : "Default", scope, live.data); // owned by the engine
  // What the live engine holds violated is set aside here too: built alike, the members come in the same order.
  for (std::size_t i : session.violatedMembers(live))
    if (i < m_added.size() && m_added[i]->isActive())
      m_added[i]->deactivate();
}

} // namespace KALDEN
