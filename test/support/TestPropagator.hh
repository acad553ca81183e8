#ifndef KALDEN_TEST_SUPPORT_TESTPROPAGATOR_HH
#define KALDEN_TEST_SUPPORT_TESTPROPAGATOR_HH

#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/Propagator.hh"
#include "Utils/base/EntityComparator.hh"

#include <set>
#include <string>
#include <vector>

namespace KALDEN {

/**
 * A propagator for tests: records, in order, every call the engine makes on
 * it (as text naming the constraint or variable), and keeps an agenda of the
 * constraints that have work: those added, activated or offered a change,
 * until they are removed, deactivated or executed. execute() takes the
 * lowest-keyed constraint off the agenda and hands it to runConstraint(),
 * which subclasses may override to run it.
 */
class TestPropagator : public Propagator {
public:
  /// One change offered by the engine.
  struct Notification {
    Id<ConstrainedVariable> variable;
    int argIndex;
    Id<Constraint> constraint;
    DomainListener::ChangeType change;
  };

  using Propagator::execute;

  /// Registers with the engine (which owns it from then on when it is heap-allocated).
  TestPropagator(const LabelStr& name, const Id<ConstraintEngine>& engine) : Propagator(name, engine) {}

  void handleNotification(const Id<ConstrainedVariable>& variable, int argIndex, const Id<Constraint>& constraint,
                          const DomainListener::ChangeType& change) override {
    m_notifications.push_back(Notification{variable, argIndex, constraint, change});
    record("notify " + constraint->getName().toString() + "[" + std::to_string(argIndex) + "] " +
           variable->getName().toString() + " " + DomainListener::toString(change));
    m_agenda.insert(constraint);
  }
  void execute() override {
    if (m_agenda.empty())
      return;
    const Id<Constraint> constraint = *m_agenda.begin();
    m_agenda.erase(m_agenda.begin());
    record("execute " + constraint->getName().toString());
    runConstraint(constraint);
  }
  bool updateRequired() const override { return !m_agenda.empty(); }
  void handleConstraintAdded(const Id<Constraint>& constraint) override {
    record("added " + constraint->getName().toString());
    m_agenda.insert(constraint);
  }
  void handleConstraintRemoved(const Id<Constraint>& constraint) override {
    record("removed " + constraint->getName().toString());
    m_agenda.erase(constraint);
  }
  void handleConstraintDeactivated(const Id<Constraint>& constraint) override {
    record("deactivated " + constraint->getName().toString());
    m_agenda.erase(constraint);
  }
  void handleConstraintActivated(const Id<Constraint>& constraint) override {
    record("activated " + constraint->getName().toString());
    m_agenda.insert(constraint);
  }

  /// Everything the engine told this propagator, in order.
  const std::vector<std::string>& events() const { return m_events; }
  /// The changes offered, in order.
  const std::vector<Notification>& notifications() const { return m_notifications; }
  /// Forgets the events and changes recorded so far, and empties the agenda.
  void clear() {
    m_events.clear();
    m_notifications.clear();
    m_agenda.clear();
  }
  /// The constraints with work, in key order.
  const std::set<Id<Constraint>, EntityComparator<Id<Constraint> > >& agenda() const { return m_agenda; }

protected:
  /// Runs a constraint taken off the agenda; nothing here.
  virtual void runConstraint(const Id<Constraint>& constraint) { (void)constraint; }

private:
  void record(const std::string& event) { m_events.push_back(event); }

  std::vector<std::string> m_events;
  std::vector<Notification> m_notifications;
  std::set<Id<Constraint>, EntityComparator<Id<Constraint> > > m_agenda;
};

} // namespace KALDEN

#endif
