// A tiny scheduling network: three tasks in sequence with bounded durations.
// Shows start-up through the host engine, creation by registered name,
// propagation, a client decision, and relaxation after a constraint goes.

#include "ConstraintEngine/ModuleConstraintEngine.hh"
#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/ConstraintType.hh"
#include "ConstraintEngine/component/Constraints.hh"
#include "ConstraintEngine/component/IntervalDomains.hh"
#include "Utils/Engine.hh"

#include <iostream>
#include <vector>

using namespace KALDEN;

namespace {

void show(const char* title, const std::vector<Id<ConstrainedVariable> >& vars) {
  std::cout << title << "\n";
  for (const Id<ConstrainedVariable>& v : vars)
    std::cout << "  " << v->getName().toString() << " = " << v->lastDomain() << "\n";
}

} // namespace

int main() {
  Engine host;
  host.addModule(new ModuleConstraintEngine());
  host.start();

  CESchema* schema = dynamic_cast<CESchema*>(host.getComponent("CESchema"));
  ConstraintEngine* engine = dynamic_cast<ConstraintEngine*>(host.getComponent("ConstraintEngine"));
  schema->registerConstraintType((new ConcreteConstraintType<AddEqualConstraint>("addEq", "Default", false))->getId());
  schema->registerConstraintType(
      (new ConcreteConstraintType<LessThanEqualConstraint>("leq", "Default", false))->getId());

  // Task i starts at s_i and lasts d_i; s_{i+1} = s_i + d_i.
  const Id<DataType> intType = schema->getDataType("int");
  std::vector<Id<ConstrainedVariable> > starts, durations;
  for (int i = 0; i < 3; ++i) {
    std::string s = "start" + std::to_string(i), d = "duration" + std::to_string(i);
    starts.push_back(engine->createVariable("int", IntervalIntDomain(0, 100, intType), false, true, s.c_str(),
                                            Id<Entity>::noId(), -1));
    durations.push_back(engine->createVariable("int", IntervalIntDomain(5, 10, intType), false, true, d.c_str(),
                                               Id<Entity>::noId(), -1));
  }
  const Id<ConstrainedVariable> end =
      engine->createVariable("int", IntervalIntDomain(0, 100, intType), false, true, "end", Id<Entity>::noId(), -1);

  std::vector<Id<Constraint> > links;
  for (int i = 0; i < 3; ++i) {
    const Id<ConstrainedVariable>& next = i + 1 < 3 ? starts[i + 1] : end;
    links.push_back(engine->createConstraint("addEq", makeScope(starts[i], durations[i], next)));
  }
  std::vector<Id<ConstrainedVariable> > all = starts;
  all.insert(all.end(), durations.begin(), durations.end());
  all.push_back(end);
  show("After posting the sequence (creation propagates at once):", all);

  // A client decision: the whole plan must end by 20.
  end->restrictBaseDomain(IntervalIntDomain(0, 20, intType));
  std::cout << "\npropagate() -> " << (engine->propagate() ? "consistent" : "inconsistent") << "\n";
  show("After requiring end <= 20:", all);

  // Removing the middle link relaxes every variable reachable from it, then repropagates.
  engine->deleteConstraint(links[1]);
  show("\nAfter deleting the link between task 1 and task 2:", all);

  host.stop();
  return 0;
}
