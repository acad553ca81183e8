#ifndef KALDEN_UTILS_ENGINE_HH
#define KALDEN_UTILS_ENGINE_HH

#include "Utils/base/EngineComponent.hh"
#include "Utils/base/Id.hh"
#include "Utils/base/Module.hh"

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace KALDEN {

/**
 * The host engine: a registry of named components that modules publish, and
 * the modules themselves, started in the order they were added and stopped
 * in reverse. The engine owns its modules; components belong to whoever
 * published them and are handed back by removeComponent().
 */
class Engine {
public:
  Engine();
  /// Stops the modules if they are running, then deletes them.
  ~Engine();

  /// The engine's handle, passed to modules.
  const Id<Engine>& getId() const { return m_id; }

  /// Publishes a component under a name; a name in use fails a check.
  void addComponent(const std::string& name, EngineComponent* component);
  /// Takes a component back (null when none); the caller deletes it.
  EngineComponent* removeComponent(const std::string& name);
  /// The component published under a name, null when none.
  EngineComponent* getComponent(const std::string& name) const;

  /// Adds a module that no host holds yet (owned from now on); it is started with the others.
  void addModule(Module* module);
  /// Initializes every module in the order added; should one fail, those already initialized are
  /// uninitialized again in reverse order and the failure goes on, leaving the engine stopped.
  void start();
  /// Uninitializes every module in reverse order, under an entity purge, then collects discarded entities.
  void stop();
  /// Whether start() ran and stop() has not.
  bool isStarted() const { return m_started; }

private:
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Uninitializes the first `count` modules in reverse order, under an entity purge, then
  // collects discarded entities.
  void stopModules(std::size_t count);

  Id<Engine> m_id;
  std::map<std::string, EngineComponent*> m_components;
  std::vector<std::unique_ptr<Module> > m_modules;
  bool m_started;
};

} // namespace KALDEN

#endif
