// A tiny scheduling network: three tasks in sequence with bounded durations,
// built the way a client builds one: the host starts the engine module and
// the constraint library, variables are created by type name and constraints
// by their registered names. It prints what each step did to the domains.

#include "ConstraintEngine/ModuleConstraintEngine.hh"
#include "ConstraintEngine/ModuleConstraintLibrary.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/IntervalDomains.hh"
#include "Utils/Engine.hh"

#include <iostream>
#include <string>
#include <vector>

using namespace KALDEN;

namespace {

typedef std::vector<Id<ConstrainedVariable> > Variables;

void show(const std::string& title, const Variables& vars) {
  std::cout << title << "\n";
  for (const Id<ConstrainedVariable>& v : vars)
    std::cout << "  " << v->getName().toString() << " can be " << v->lastDomain() << "\n";
}

Id<ConstrainedVariable> integer(ConstraintEngine& engine, const std::string& name, int lb, int ub) {
  return engine.createVariable("int", IntervalIntDomain(lb, ub, IntDT::instance()), false, true, name.c_str(),
                               Id<Entity>::noId(), -1);
}

} // namespace

int main() {
  // The host starts the engine first and the library second; it stops them in reverse.
  Engine host;
  host.addModule(new ModuleConstraintEngine());
  host.addModule(new ModuleConstraintLibrary());
  host.start();
  ConstraintEngine& engine = *static_cast<ConstraintEngine*>(host.getComponent("ConstraintEngine"));

  // Task i starts at start_i and lasts duration_i; the next task starts when it ends.
  Variables starts, durations, all;
  for (int i = 0; i < 3; ++i) {
    starts.push_back(integer(engine, "start" + std::to_string(i), 0, 100));
    durations.push_back(integer(engine, "duration" + std::to_string(i), 5, 10));
  }
  const Id<ConstrainedVariable> end = integer(engine, "end", 0, 100);
  all = starts;
  all.insert(all.end(), durations.begin(), durations.end());
  all.push_back(end);
  show("Before any constraint, every variable has its declared range:", all);

  // "addEq" over [a, b, c] means a + b = c. With auto-propagation on, creating a constraint
  // propagates at once.
  std::vector<Id<Constraint> > links;
  for (int i = 0; i < 3; ++i)
    links.push_back(engine.createConstraint("addEq", makeScope(starts[i], durations[i], i < 2 ? starts[i + 1] : end)));
  show("\nAfter posting start_i + duration_i = start_i+1 (and = end for the last task):", all);

  // A client decision: the whole plan must end by 20. Restricting a domain does not propagate
  // by itself; propagate() does.
  end->restrictBaseDomain(IntervalIntDomain(0, 20, IntDT::instance()));
  const bool consistent = engine.propagate();
  std::cout << "\nRequiring end <= 20, propagate() says the network is " << (consistent ? "consistent" : "inconsistent")
            << ":\n";
  show("the starts are squeezed so that all three tasks can finish by 20:", all);

  // Deleting a constraint undoes what it caused (relaxation) and propagates again.
  engine.deleteConstraint(links[1]);
  show("\nAfter deleting the link between task 1 and task 2, tasks 2 and the end no longer depend on tasks 0 and 1:",
       all);

  host.stop();
  return consistent ? 0 : 1;
}
