#include "support/NetworkSnapshot.hh"

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/Propagator.hh"
#include "ConstraintEngine/base/ViolationMgr.hh"
#include "Utils/Entity.hh"
#include "Utils/IdTable.hh"

#include <algorithm>
#include <set>
#include <sstream>

namespace KALDEN {

std::string runPicture(const ConstraintEngine& engine) {
  std::ostringstream picture;
  for (const Id<ConstrainedVariable>& var : engine.getVariables())
    picture << var->getKey() << " " << var->lastDomain().toString() << (var->isActive() ? "" : " off")
            << (var->specifiedFlag() ? " specified" : "") << "\n";
  for (const Id<Constraint>& con : engine.getConstraints())
    picture << con->getKey() << (con->isActive() ? "" : " off") << (con->isRetired() ? " retired" : "")
            << (engine.isViolated(con) ? " violated" : "") << "\n";
  return picture.str();
}

std::string changeHeardSince(const HeardCounter& counter, std::size_t from) {
  for (std::size_t i = from; i < counter.heard().size(); ++i) {
    const std::string& kind = counter.heard()[i];
    if (kind != "commenced" && kind != "completed" && kind != "preempted" && kind != "executed")
      return kind;
  }
  return "";
}

NetworkSnapshot::NetworkSnapshot(const ConstraintEngine& engine, const HeardCounter& heard)
    : m_heard(heard.heard().size()), m_added(heard.added()), m_removed(heard.removed()) {
  for (const Id<ConstrainedVariable>& v : engine.getVariables()) {
    std::ostringstream os;
    os << v->getName().toString() << "#" << v->getKey() << " base " << v->baseDomain() << " current "
       << v->lastDomain() << (v->specifiedFlag() ? " specified " + v->toString(v->getSpecifiedValue()) : "")
       << (v->isActive() ? "" : " off " + std::to_string(v->refCount())) << " constraints " << v->constraintCount()
       << " relaxed " << v->lastRelaxed() << (v->isValid() ? "" : " INVALID");
    m_lines.push_back(os.str());
  }
  std::set<const Propagator*> propagators;
  for (const Id<Constraint>& c : engine.getConstraints()) {
    std::ostringstream os;
    os << c->getName().toString() << "#" << c->getKey() << (c->isActive() ? "" : " off ")
       << (c->isActive() ? "" : std::to_string(c->deactivationCount())) << (c->isRedundant() ? " redundant" : "")
       << (c->isRetired() ? " retired" : "") << (engine.isViolated(c) ? " violated" : "") << " over";
    for (const Id<ConstrainedVariable>& v : c->getScope())
      os << " " << (v.isValid() ? std::to_string(v->getKey()) : "gone");
    m_lines.push_back(os.str());
    if (c->getPropagator().isValid())
      propagators.insert(static_cast<const Propagator*>(c->getPropagator()));
  }
  for (const Propagator* p : propagators)
    m_lines.push_back("propagator " + p->getName().toString() + (p->updateRequired() ? " has work" : " idle"));
  std::ostringstream os;
  os << engine.getVariables().size() << " variables, " << engine.getConstraints().size() << " constraints"
     << (engine.pending() ? ", pending" : "") << (engine.constraintConsistent() ? ", consistent" : "")
     << (engine.provenInconsistent() ? ", proven inconsistent" : "") << (engine.isRelaxed() ? ", relaxed" : "")
     << ", violation " << engine.getViolation() << " of " << engine.getAllViolations().size() << " listed"
     << ", " << engine.getViolationMgr().getEmptyVariables().size() << " empty"
     << (engine.getAllowViolations() ? ", violations allowed" : "") << ", limit "
     << engine.getViolationMgr().getMaxViolationsAllowed() << (engine.getAutoPropagation() ? ", auto" : "")
     << ", narrowed " << engine.narrowingCount() << " times";
  m_lines.push_back(os.str());
  m_lines.push_back(std::to_string(Entity::liveCount()) + " entities, " + std::to_string(IdTable::size()) + " handles");
  // What was heard since, so that a difference names it.
  m_heardSince = &heard.heard();
}

std::string NetworkSnapshot::differenceFrom(const NetworkSnapshot& after, bool madeWithNew) const {
  std::ostringstream os;
  const std::size_t added = after.m_added - m_added;
  const std::size_t removed = after.m_removed - m_removed;
  if (madeWithNew ? added != removed : added + removed != 0)
    os << "listeners heard " << added << " additions and " << removed << " removals";
  if (after.m_heard != m_heard && !madeWithNew) {
    os << (os.str().empty() ? "" : "; ") << "listeners heard";
    for (std::size_t i = m_heard; i < after.m_heard; ++i)
      os << (i == m_heard ? " " : ", ") << (*after.m_heardSince)[i];
  }
  const std::size_t n = std::max(m_lines.size(), after.m_lines.size());
  unsigned int shown = os.str().empty() ? 0 : 1;
  for (std::size_t i = 0; i < n && shown < 3; ++i) {
    const std::string before = i < m_lines.size() ? m_lines[i] : "(nothing)";
    const std::string now = i < after.m_lines.size() ? after.m_lines[i] : "(nothing)";
    if (before == now)
      continue;
    os << (shown++ == 0 ? "" : "; ") << "was \"" << before << "\", now \"" << now << "\"";
  }
  return os.str();
}

} // namespace KALDEN
