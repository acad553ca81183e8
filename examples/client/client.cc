// The smallest client: start the two modules, post x <= y by name, propagate. First, a host
// with the modules in the wrong order: its start fails and leaves it as it was.

#include "ConstraintEngine/ModuleConstraintEngine.hh"
#include "ConstraintEngine/ModuleConstraintLibrary.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/IntervalDomains.hh"
#include "Utils/Engine.hh"
#include "Utils/Error.hh"

#include <iostream>

using namespace KALDEN;

// Whether a host that starts the library before the engine refuses to start, and can still be destroyed.
bool wrongOrderRefused() {
  Engine host;
  host.addModule(new ModuleConstraintLibrary());
  host.addModule(new ModuleConstraintEngine());
  try {
    host.start();
  } catch (const Error& e) {
    std::cout << "refused: " << e.getMessage() << "\n";
    return !host.isStarted() && host.getComponent("CESchema") == nullptr;
  }
  return false;
}

int main() {
  if (!wrongOrderRefused())
    return 1;
  Engine host;
  host.addModule(new ModuleConstraintEngine());
  host.addModule(new ModuleConstraintLibrary());
  host.start();
  ConstraintEngine* engine = static_cast<ConstraintEngine*>(host.getComponent("ConstraintEngine"));
  Id<ConstrainedVariable> x = engine->createVariable("int", IntervalIntDomain(0, 10, IntDT::instance()), false, true,
                                                     "x", Id<Entity>::noId(), -1);
  Id<ConstrainedVariable> y = engine->createVariable("int", IntervalIntDomain(0, 4, IntDT::instance()), false, true,
                                                     "y", Id<Entity>::noId(), -1);
  engine->createConstraint("leq", makeScope(x, y));
  const bool narrowed = engine->propagate() && x->lastDomain().getUpperBound() == 4;
  std::cout << "x = " << x->lastDomain() << ", y = " << y->lastDomain() << "\n";
  host.stop();
  return narrowed ? 0 : 1;
}
