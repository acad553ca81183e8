#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_FUNCTIONCONSTRAINTS_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_FUNCTIONCONSTRAINTS_HH

// Numeric functions: each narrows its result variable from the others and
// never narrows its arguments (the sine only clamps its argument to the range
// it handles). A result that would lie beyond the infinities leaves that
// bound of the result alone.

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/Constraint.hh"

#include <vector>

namespace KALDEN {

/**
 * dist is the Euclidean distance between a point of the box x1 by y1 and a
 * point of the box x2 by y2, over the scope [dist, x1, y1, x2, y2]. Nothing is
 * narrowed while a coordinate is open or unbounded.
 */
class CalcDistanceConstraint : public Constraint {
public:
  /// The scope size.
  static constexpr int ARG_COUNT = 5;

  /// Checks the arity, naming the constraint in the message.
  CalcDistanceConstraint(const LabelStr& name, const LabelStr& propagatorName,
                         const Id<ConstraintEngine>& constraintEngine,
                         const std::vector<Id<ConstrainedVariable> >& variables);
  /// Nothing of its own: the base unlinks and unregisters it.
  ~CalcDistanceConstraint() override;

  /// Narrows dist to the least and greatest distance between the two boxes.
  void handleExecute() override;

  /// The length of the vector (x, y).
  static double compute(double x, double y);
  /// The distance between the points (x1, y1) and (x2, y2).
  static double compute(double x1, double y1, double x2, double y2);

private:
  AbstractDomain& m_distance;
  AbstractDomain& m_x1;
  AbstractDomain& m_y1;
  AbstractDomain& m_x2;
  AbstractDomain& m_y2;
};

/**
 * target = sine of source over the scope [target, source], source in degrees
 * within [-90, 90] (where the sine rises, so its bounds give the target's).
 * The source is clamped to that range; the target never narrows it further.
 */
class SineFunction : public Constraint {
public:
  /// The scope size.
  static constexpr int ARG_COUNT = 2;

  /// Checks the arity, naming the constraint in the message.
  SineFunction(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& constraintEngine,
               const std::vector<Id<ConstrainedVariable> >& variables);
  /// Nothing of its own: the base unlinks and unregisters it.
  ~SineFunction() override;

  /// Clamps the source, then narrows the target to the sines of its bounds.
  void handleExecute() override;

private:
  AbstractDomain& m_target;
  AbstractDomain& m_source;
};

/**
 * r = (a - b) squared over the scope [a, b, r]; r is narrowed once a and b
 * are both decided.
 */
class SquareOfDifferenceConstraint : public Constraint {
public:
  /// The scope size.
  static constexpr int ARG_COUNT = 3;

  /// Checks the arity.
  SquareOfDifferenceConstraint(const LabelStr& name, const LabelStr& propagatorName,
                               const Id<ConstraintEngine>& constraintEngine,
                               const std::vector<Id<ConstrainedVariable> >& variables);
  /// Nothing of its own: the base unlinks and unregisters it.
  ~SquareOfDifferenceConstraint() override;

  /// Sets r to the square of the difference once a and b are decided.
  void handleExecute() override;
};

/**
 * r = square root of (a + b) over the scope [a, b, r]; r is narrowed once a
 * and b are both decided, and emptied when a + b is negative.
 */
class DistanceFromSquaresConstraint : public Constraint {
public:
  /// The scope size.
  static constexpr int ARG_COUNT = 3;

  /// Checks the arity.
  DistanceFromSquaresConstraint(const LabelStr& name, const LabelStr& propagatorName,
                                const Id<ConstraintEngine>& constraintEngine,
                                const std::vector<Id<ConstrainedVariable> >& variables);
  /// Nothing of its own: the base unlinks and unregisters it.
  ~DistanceFromSquaresConstraint() override;

  /// Sets r to the root of the sum once a and b are decided.
  void handleExecute() override;
};

} // namespace KALDEN

#endif
