#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_TESTCONSTRAINTS_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_TESTCONSTRAINTS_HH

// Reified comparisons over [test, arg1, arg2]: test holds the truth of a
// relation between arg1 and arg2, 1.0 for true and 0.0 for false. They decide
// test by removing the opposite value, so a contradiction empties it. A false
// test never narrows the arguments.

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/Constraint.hh"

#include <vector>

namespace KALDEN {

/// test == (arg1 == arg2); once test is true the two arguments are equated.
class TestEQ : public Constraint {
public:
  /// The required scope size.
  static constexpr unsigned int ARG_COUNT = 3;

  /// Over [test, arg1, arg2].
  TestEQ(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& constraintEngine,
         const std::vector<Id<ConstrainedVariable> >& variables);
  /// Unregisters through the base destructor.
  ~TestEQ() override;

  /// The test variable's base (position 0), judged for as long as the test stands.
  bool judgesBase(int argIndex) const override;
  /// Refuses a test variable's base that may hold a value other than 0 and 1.
  bool admitsBase(int argIndex, const AbstractDomain& base) const override;

  /// Decides test from the arguments; equates the arguments once test is true.
  void handleExecute() override;

private:
  AbstractDomain& m_test;
  AbstractDomain& m_arg1;
  AbstractDomain& m_arg2;
};

/// test == (arg1 < arg2), decided from the bounds once both are closed; the arguments are never changed.
class TestLessThan : public Constraint {
public:
  /// The required scope size.
  static constexpr unsigned int ARG_COUNT = 3;

  /// Over [test, arg1, arg2].
  TestLessThan(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& constraintEngine,
               const std::vector<Id<ConstrainedVariable> >& variables);
  /// Unregisters through the base destructor.
  ~TestLessThan() override;

  /// The test variable's base (position 0), judged for as long as the test stands.
  bool judgesBase(int argIndex) const override;
  /// Refuses a test variable's base that may hold a value other than 0 and 1.
  bool admitsBase(int argIndex, const AbstractDomain& base) const override;

  /// Decides test once the bounds settle the comparison.
  void handleExecute() override;

private:
  AbstractDomain& m_test;
  AbstractDomain& m_arg1;
  AbstractDomain& m_arg2;
};

/// test == (arg1 <= arg2), decided from the bounds once both are closed; the arguments are never changed.
class TestLEQ : public Constraint {
public:
  /// The required scope size.
  static constexpr unsigned int ARG_COUNT = 3;

  /// Over [test, arg1, arg2].
  TestLEQ(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& constraintEngine,
          const std::vector<Id<ConstrainedVariable> >& variables);
  /// Unregisters through the base destructor.
  ~TestLEQ() override;

  /// The test variable's base (position 0), judged for as long as the test stands.
  bool judgesBase(int argIndex) const override;
  /// Refuses a test variable's base that may hold a value other than 0 and 1.
  bool admitsBase(int argIndex, const AbstractDomain& base) const override;

  /// Decides test once the bounds settle the comparison.
  void handleExecute() override;

private:
  AbstractDomain& m_test;
  AbstractDomain& m_arg1;
  AbstractDomain& m_arg2;
};

} // namespace KALDEN

#endif
