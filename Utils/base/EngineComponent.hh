#ifndef KALDEN_UTILS_BASE_ENGINECOMPONENT_HH
#define KALDEN_UTILS_BASE_ENGINECOMPONENT_HH

#include "Utils/base/Id.hh"

namespace KALDEN {

class Engine;

/// The base of what a module publishes to the host engine under a name; whoever takes it back deletes it.
class EngineComponent {
public:
  EngineComponent() = default;
  virtual ~EngineComponent() = default;

protected:
  Id<Engine> m_engine; ///< never set by the system
};

} // namespace KALDEN

#endif
