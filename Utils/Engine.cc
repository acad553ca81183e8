#include "Utils/Engine.hh"

#include "Utils/Entity.hh"

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
  KALDEN_CHECK_MSG(!m_started, "Module " << module->getName() << " added to a running engine.");
  m_modules.emplace_back(module);
}

void Engine::start() {
  KALDEN_CHECK(!m_started);
  m_started = true;
  for (auto& module : m_modules)
    module->initialize(m_id);
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

} // namespace

void Engine::stop() {
  KALDEN_CHECK(m_started);
  m_started = false;
  ShutDownPurge purge;
  for (auto it = m_modules.rbegin(); it != m_modules.rend(); ++it)
    (*it)->uninitialize(m_id);
}

} // namespace KALDEN
