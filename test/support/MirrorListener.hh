#ifndef KALDEN_TEST_SUPPORT_MIRRORLISTENER_HH
#define KALDEN_TEST_SUPPORT_MIRRORLISTENER_HH

#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"

#include <cstddef>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace KALDEN {

/**
 * An engine listener that keeps its own picture of the network from the
 * notices alone, as a client's timeline or view would, and records the first
 * breach of the protocol it sees: a notice about an object it does not hold
 * (never heard added, or heard removed), an object heard added twice, an
 * execution outside a run, a run commenced inside another or ended outside
 * one, an object heard switched off or on twice in a row. It reads an object
 * only while it is told of it, and then only its key. Each variable it hears
 * added gets a variable listener that pictures its links alike.
 */
class MirrorListener : public ConstraintEngineListener {
public:
  /// A listener on the engine, picturing what it already holds.
  explicit MirrorListener(const Id<ConstraintEngine>& engine);

  void notifyPropagationCommenced() override;
  void notifyPropagationCompleted() override { endRun("completed"); }
  void notifyPropagationPreempted() override { endRun("preempted"); }
  void notifyAdded(const Id<ConstrainedVariable>& variable) override {
    add(m_variables, variable, "variable");
    watchLinks(variable);
  }
  void notifyAdded(const Id<Constraint>& constraint) override { add(m_constraints, constraint, "constraint"); }
  void notifyRemoved(const Id<ConstrainedVariable>& variable) override {
    remove(m_variables, m_offVariables, variable, "variable");
  }
  void notifyRemoved(const Id<Constraint>& constraint) override;
  void notifyExecuted(const Id<Constraint>& constraint) override;
  void notifyChanged(const Id<ConstrainedVariable>& variable, const DomainListener::ChangeType&) override {
    expectHeld(m_variables, variable, "changed");
  }
  void notifyActivated(const Id<ConstrainedVariable>& variable) override {
    switched(m_variables, m_offVariables, variable, false);
  }
  void notifyDeactivated(const Id<ConstrainedVariable>& variable) override {
    switched(m_variables, m_offVariables, variable, true);
  }
  void notifyActivated(const Id<Constraint>& constraint) override {
    switched(m_constraints, m_offConstraints, constraint, false);
  }
  void notifyDeactivated(const Id<Constraint>& constraint) override {
    switched(m_constraints, m_offConstraints, constraint, true);
  }
  void notifyViolationAdded(const Id<Constraint>& constraint) override;
  void notifyViolationRemoved(const Id<Constraint>& constraint) override;

  /// The first breach heard, empty when none.
  const std::string& breach() const { return m_breach; }
  /// Where the picture differs from the engine's variables, constraints, inactive ones and violations, or a run is
  /// left open; empty when nowhere.
  std::string differenceFromEngine() const;
  /// How many variables and constraints the picture holds.
  std::size_t heldCount() const { return m_variables.size() + m_constraints.size(); }
  /// Whether a run has commenced and not ended.
  bool inRun() const { return m_inRun; }

private:
  // A variable listener attached when its variable is heard added, as a view of it would be: it
  // pictures the variable's links from its notices alone.
  struct LinkPicture : ConstrainedVariableListener {
    LinkPicture(const Id<ConstrainedVariable>& variable, MirrorListener& mirror)
        : ConstrainedVariableListener(variable), mirror(mirror), key(variable->getKey()) {}
    void notifyDiscard() override { gone = true; }
    const Id<ConstrainedVariable>& variable() const { return m_variable; }
    void notifyConstraintAdded(const Id<Constraint>& constraint, int argIndex) override;
    void notifyConstraintRemoved(const Id<Constraint>& constraint, int argIndex) override;
    MirrorListener& mirror;
    std::set<std::pair<int, int> > links;
    int key; // the variable's, read only while it is whole
    bool gone = false;
  };
  void watchLinks(const Id<ConstrainedVariable>& variable);

  template <class T>
  void add(std::map<int, Id<T> >& held, const Id<T>& object, const char* kind);
  template <class T>
  void remove(std::map<int, Id<T> >& held, std::set<int>& off, const Id<T>& object, const char* kind);
  template <class T>
  bool expectHeld(const std::map<int, Id<T> >& held, const Id<T>& object, const char* notice);
  template <class T>
  void switched(const std::map<int, Id<T> >& held, std::set<int>& off, const Id<T>& object, bool toOff);
  void endRun(const char* how);
  void breached(const std::string& what) {
    if (m_breach.empty())
      m_breach = what;
  }

  // By entity key, which is never reused: a handle at a reused address still differs.
  std::map<int, Id<ConstrainedVariable> > m_variables;
  std::map<int, Id<Constraint> > m_constraints;
  // The constraints heard marked violated and not heard withdrawn.
  std::set<int> m_violated;
  // The variables and constraints heard switched off (deactivated, retired or off with a variable
  // or an owner) and not heard switched on again.
  std::set<int> m_offVariables;
  std::set<int> m_offConstraints;
  bool m_inRun = false;
  std::string m_breach;
  std::vector<std::unique_ptr<LinkPicture> > m_links;
};

} // namespace KALDEN

#endif
