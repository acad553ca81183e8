#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_ALLDIFFCONSTRAINTS_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_ALLDIFFCONSTRAINTS_HH

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/component/ConstraintsBase.hh"
#include "ConstraintEngine/component/IntervalDomains.hh"
#include "ConstraintEngine/component/Variable.hh"

#include <vector>

namespace KALDEN {

/**
 * Widens the heap domain `*unionOfDomains` so that it holds every value of
 * `domToAdd`. Two lists of values (enumerations or singletons) merge into a
 * new enumeration; anything else gives the interval hull of both, of
 * integers when both hold integers only, else of reals. An enumeration
 * meeting an interval of several values always becomes that hull, so the
 * interval's inner values are never left out. The caller owns the result;
 * the domain it replaced is deleted. Neither domain may be empty or open.
 */
void addToUnion(AbstractDomain** unionOfDomains, const AbstractDomain& domToAdd);

/**
 * b is true exactly when x1 .. xn are pairwise different, over the scope
 * [b, x1, .. xn] (n at least 2). Each execution walks the domains: a union
 * that holds fewer values than the domains added to it makes b false,
 * pairwise disjoint closed domains make it true. A false b with every
 * domain closed and disjoint is a contradiction; a true b removes the value
 * of every decided xi from the others wherever that value can go.
 */
class CondAllDiffConstraint : public Constraint {
public:
  /// Checks that there are two xi at least, that b is boolean and that every xi compares with x1.
  CondAllDiffConstraint(const LabelStr& name, const LabelStr& propagatorName,
                        const Id<ConstraintEngine>& constraintEngine,
                        const std::vector<Id<ConstrainedVariable> >& variables);
  /// Nothing of its own: the base unlinks and unregisters it.
  ~CondAllDiffConstraint() override;

  /// Decides b where the domains allow, then checks or enforces it.
  void handleExecute() override;
  /// True: the removals repeat until no decided value is left to remove.
  bool isIdempotent() const override { return true; }

  /// The scope size, n + 1.
  const unsigned int ARG_COUNT;

private:
  // The current domains by scope position, fetched once per execution.
  typedef std::vector<AbstractDomain*> Domains;

  // The walk over the xi: decides b where the union of their domains, or their pairs, allow, and
  // records the first closed and the first open position (0 for none).
  static void decide(const Domains& doms, unsigned int& firstClosed, unsigned int& firstOpen);
  // The closed xi holding values, by least value, so that no verdict depends on the scope's order.
  static std::vector<const AbstractDomain*> byLeastValue(const Domains& doms);
  // Whether two of them are singletons equal by the tolerance.
  static bool twoMustBeEqual(const std::vector<const AbstractDomain*>& sorted);
  // Whether no two of them share a value.
  static bool pairwiseDisjoint(const std::vector<const AbstractDomain*>& sorted);
  // A true b: removes decided values from the other domains until nothing more moves.
  static void pruneDecidedValues(const Domains& doms, unsigned int firstClosed);
};

/**
 * x1 .. xn are pairwise different: a CondAllDiffConstraint over an internal
 * boolean fixed to true followed by the scope does all the work.
 */
class AllDiffConstraint : public CompositeConstraint {
public:
  /// Builds the internal boolean, then the conditional constraint over it and the scope.
  AllDiffConstraint(const LabelStr& name, const LabelStr& propagatorName, const Id<ConstraintEngine>& constraintEngine,
                    const std::vector<Id<ConstrainedVariable> >& variables);
  /// Discards itself (and so its members) while it is whole, then destroys the boolean.
  ~AllDiffConstraint() override;

private:
  /// Its internal variables and sub-constraints.
  Members members() override;

  Variable<BoolDomain> m_interimVariable;
  Id<Constraint> m_condAllDiffConstraint;
};

} // namespace KALDEN

#endif
