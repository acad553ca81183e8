#ifndef KALDEN_UTILS_BASE_MODULE_HH
#define KALDEN_UTILS_BASE_MODULE_HH

#include "Utils/base/Id.hh"

#include <string>

namespace KALDEN {

class Engine;

/// The base of a module that the host engine starts (initialize) and stops (uninitialize).
class Module {
public:
  /// Registers the module's handle and keeps its name.
  explicit Module(const std::string& name);
  /// Removes the module's handle, so another module may later live at this address.
  virtual ~Module();

  virtual void initialize() = 0;
  virtual void uninitialize() = 0;
  /// Starts the module within a host engine.
  virtual void initialize(Id<Engine> engine) = 0;
  /// Stops the module within a host engine.
  virtual void uninitialize(Id<Engine> engine) = 0;

  /// The module's name.
  const std::string& getName() const { return m_name; }
  /// The module's handle.
  const Id<Module>& getId() const { return m_id; }

private:
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  // The host that accepted the module, which owns and deletes it; null until then. A second
  // host, or the same one twice, would delete it again.
  friend class Engine;
  const Engine* m_host = nullptr;

  Id<Module> m_id;
  std::string m_name;
};

} // namespace KALDEN

#endif
