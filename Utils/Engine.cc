#include "Utils/Engine.hh"

#include "Utils/Entity.hh"

#include <cstddef>

#define KALDEN_SOURCE "Utils/Engine"
#include "Utils/base/Report.hh"

namespace KALDEN {

Engine::Engine() : m_id(this), m_started(false) {}

Engine::~Engine() {
  NoThrowScope guard;
  if (m_started)
    stop();
  m_modules.clear();
  m_id.remove();
}

void Engine::addComponent(const std::string& name, EngineComponent* component) {
  KALDEN_CHECK_MSG(component != nullptr, "No component given for " << name << ".");
  KALDEN_CHECK_MSG(m_components.find(name) == m_components.end(),
                   "A component named " << name << " is already published.");
  m_components.emplace(name, component);
}

EngineComponent* Engine::removeComponent(const std::string& name) {
  auto it = m_components.find(name);
  if (it == m_components.end())
    return nullptr;
  EngineComponent* component = it->second;
  m_components.erase(it);
  return component;
}

EngineComponent* Engine::getComponent(const std::string& name) const {
  auto it = m_components.find(name);
  return it == m_components.end() ? nullptr : it->second;
}

void Engine::addModule(Module* module) {
  KALDEN_CHECK(module != nullptr);
  // A module is owned and deleted by the one host that accepted it.
  KALDEN_CHECK_TEXT_MSG_OR_RETURN(module->m_host != this, "module->m_host == nullptr",
                                  "Module " << module->getName() << " is already held by this host.");
  KALDEN_CHECK_TEXT_MSG_OR_RETURN(module->m_host == nullptr, "module->m_host == nullptr",
                                  "Module " << module->getName() << " is already held by another host.");
  KALDEN_CHECK_MSG(!m_started, "Module " << module->getName() << " added to a running engine.");
  m_modules.emplace_back(module);
  module->m_host = this;
}

namespace {

// Shut-down retires every entity at once: while it runs, the entities that go
// only keep the registries consistent, and those discarded on the way are
// collected when it ends.
class ShutDownPurge {
public:
  ShutDownPurge() : m_started(!Entity::isPurging()) {
    if (m_started)
      Entity::purgeStart();
  }
  ~ShutDownPurge() {
    if (m_started)
      Entity::purgeEnd();
    Entity::garbageCollect();
  }
  ShutDownPurge(const ShutDownPurge&) = delete;
  ShutDownPurge& operator=(const ShutDownPurge&) = delete;

private:
  bool m_started;
};

// Runs an undo step when the scope ends, unless told the work it guards was finished.
template <class Undo>
class UndoUnlessFinished {
public:
  explicit UndoUnlessFinished(Undo undo) : m_undo(undo), m_finished(false) {}
  ~UndoUnlessFinished() {
    if (m_finished)
      return;
    NoThrowScope guard;
    m_undo();
  }
  UndoUnlessFinished(const UndoUnlessFinished&) = delete;
  UndoUnlessFinished& operator=(const UndoUnlessFinished&) = delete;

  /// The guarded work is done: nothing to undo.
  void finished() { m_finished = true; }

private:
  Undo m_undo;
  bool m_finished;
};

} // namespace

void Engine::start() {
  KALDEN_CHECK(!m_started);
  // A start that fails part way stops again, in reverse order, the modules it initialized, so
  // that the host is as it was: it can be destroyed or started again.
  std::size_t initialized = 0;
  UndoUnlessFinished rollback([this, &initialized] { stopModules(initialized); });
  for (auto& module : m_modules) {
    module->initialize(m_id);
    ++initialized;
  }
  rollback.finished();
  m_started = true;
}

void Engine::stop() {
  KALDEN_CHECK(m_started);
  m_started = false;
  stopModules(m_modules.size());
}

void Engine::stopModules(std::size_t count) {
  ShutDownPurge purge;
  for (std::size_t i = count; i > 0; --i)
    m_modules[i - 1]->uninitialize(m_id);
}

} // namespace KALDEN
