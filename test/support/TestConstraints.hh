#ifndef KALDEN_TEST_SUPPORT_TESTCONSTRAINTS_HH
#define KALDEN_TEST_SUPPORT_TESTCONSTRAINTS_HH

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "Utils/Error.hh"

#include <algorithm>
#include <functional>
#include <vector>

namespace KALDEN {

/**
 * A constraint for tests over any scope: its execution only counts, and
 * whether it ignores a change is up to a predicate the test sets.
 */
class TestConstraint : public Constraint {
public:
  /// Decides canIgnore(variable, argIndex, change).
  typedef std::function<bool(const Id<ConstrainedVariable>&, int, DomainListener::ChangeType)> IgnoreRule;

  TestConstraint(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& engine,
                 const std::vector<Id<ConstrainedVariable> >& scope)
      : Constraint(name, propagatorName, engine, scope) {}

  void handleExecute() override { ++m_executions; }
  bool canIgnore(const Id<ConstrainedVariable>& variable, int argIndex,
                 const DomainListener::ChangeType& change) override {
    return m_ignore && m_ignore(variable, argIndex, change);
  }

  /// Sets the rule canIgnore() follows (none: never ignore).
  void setIgnoreRule(IgnoreRule rule) { m_ignore = rule; }
  /// How often handleExecute() ran.
  int executions() const { return m_executions; }

private:
  IgnoreRule m_ignore;
  int m_executions = 0;
};

/**
 * A rule that gives up half-way through its run: narrows its first variable to
 * [2, 3], then fails a check (condition "false").
 */
class ThrowingTestConstraint : public Constraint {
public:
  ThrowingTestConstraint(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& engine,
                         const std::vector<Id<ConstrainedVariable> >& scope)
      : Constraint(name, propagatorName, engine, scope) {}

  void handleExecute() override {
    getCurrentDomain(m_variables[0]).intersect(2.0, 3.0);
    throw Error("false", "the rule gives up", __FILE__, __LINE__);
  }
};

/**
 * x <= y over two interval variables: narrows the upper bound of x to that of
 * y and the lower bound of y to that of x.
 */
class LessThanEqualTestConstraint : public Constraint {
public:
  LessThanEqualTestConstraint(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& engine,
                              const std::vector<Id<ConstrainedVariable> >& scope)
      : Constraint(name, propagatorName, engine, scope) {}

  void handleExecute() override {
    AbstractDomain& x = getCurrentDomain(m_variables[0]);
    AbstractDomain& y = getCurrentDomain(m_variables[1]);
    if (x.isEmpty() || y.isEmpty())
      return;
    x.intersect(x.getLowerBound(), std::min(x.getUpperBound(), y.getUpperBound()));
    if (!x.isEmpty())
      y.intersect(std::max(y.getLowerBound(), x.getLowerBound()), y.getUpperBound());
  }
};

/** x == y over two variables of any kind: narrows each to their intersection. */
class EqualTestConstraint : public Constraint {
public:
  EqualTestConstraint(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& engine,
                      const std::vector<Id<ConstrainedVariable> >& scope)
      : Constraint(name, propagatorName, engine, scope) {}

  void handleExecute() override {
    AbstractDomain& x = getCurrentDomain(m_variables[0]);
    AbstractDomain& y = getCurrentDomain(m_variables[1]);
    if (x.isEmpty() || y.isEmpty())
      return;
    x.intersect(y);
    if (!x.isEmpty())
      y.intersect(x);
  }
};

/**
 * x != y read from y's values so far: once y holds one value, open or not, removes it from x,
 * open or not. The library's rules wait on open domains; a client's rule may read them, and what
 * it took must come back when they gain or lose members.
 */
class ValueRemovingTestConstraint : public Constraint {
public:
  ValueRemovingTestConstraint(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& engine,
                              const std::vector<Id<ConstrainedVariable> >& scope)
      : Constraint(name, propagatorName, engine, scope) {}

  void handleExecute() override {
    AbstractDomain& x = getCurrentDomain(m_variables[0]);
    const AbstractDomain& y = getCurrentDomain(m_variables[1]);
    if (!x.isEmpty() && y.isSingleton() && x.isMember(y.getSingletonValue()))
      x.remove(y.getSingletonValue());
  }
};

/** A constraint no values satisfy: its execution empties every scope variable still holding values. */
class NeverTestConstraint : public Constraint {
public:
  NeverTestConstraint(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& engine,
                      const std::vector<Id<ConstrainedVariable> >& scope)
      : Constraint(name, propagatorName, engine, scope) {}

  void handleExecute() override {
    for (const Id<ConstrainedVariable>& var : m_variables)
      if (!getCurrentDomain(var).isEmpty())
        getCurrentDomain(var).empty();
  }
};

} // namespace KALDEN

#endif
