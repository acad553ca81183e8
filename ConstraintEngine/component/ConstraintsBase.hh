#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_CONSTRAINTSBASE_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_CONSTRAINTSBASE_HH

// What every constraint of the library shares: the checks it makes on its
// scope and domains, the discard of the members a composite owns, and the
// infinity-guarded sums and differences.

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "Utils/Entity.hh"
#include "Utils/Globals.hh"
#include "Utils/LabelStr.hh"
#include "Utils/base/Id.hh"

#include <cmath>
#include <cstddef>
#include <vector>

namespace KALDEN {

/**
 * Sums and differences that give up near infinity: each answers a
 * caller-given default when an operand or the result reaches the infinity of
 * numeric domains (PLUS_INFINITY, read afresh on every call).
 */
class Infinity {
public:
  Infinity() = delete;

  /// a + b, or defaultValue when |a|, |b| or |a + b| is at least infinity.
  static double plus(double a, double b, double defaultValue) { return guarded(a, b, a + b, defaultValue); }
  /// a - b, or defaultValue when |a|, |b| or |a - b| is at least infinity.
  static double minus(double a, double b, double defaultValue) { return guarded(a, b, a - b, defaultValue); }

private:
  // The result, or defaultValue when an operand or the result lies at or beyond infinity on
  // either side; the infinity is read once per sum, as nothing can change it meanwhile.
  static double guarded(double a, double b, double result, double defaultValue) {
    const double infinity = static_cast<double>(g_infiniteTime());
    if (std::fabs(a) >= infinity || std::fabs(b) >= infinity || std::fabs(result) >= infinity)
      return defaultValue;
    return result;
  }
};

/**
 * The checks and member handling that every library constraint shares. Each
 * failure reports the library's source path, "ConstraintEngine/component/Constraints",
 * with the condition text the calling class gives.
 *
 * A class of fixed arity binds its cached domain references with domainAt()
 * in its member initialisers (the Constraint base, and so the scope copy,
 * exists by then): the scope size is checked before any entry is read, so a
 * short scope fails cleanly and the base destructor takes back the
 * registration. A class without references calls checkArity() first thing in
 * its constructor body.
 *
 * Every arity failure has the same message: the constraint's name as the
 * client wrote it (see DelegateCreation), how many variables it takes and how
 * many it was given, e.g. "leq takes 2 variables, given 3." or "sum takes at
 * least 3 variables, given 2.".
 */
class ConstraintShape {
public:
  ConstraintShape() = delete;

  /// Fails `conditionText` unless `constraint`'s scope has exactly `count` variables; reads no entry.
  static void checkArity(const Constraint& constraint, std::size_t count, const char* conditionText);
  /// Fails `conditionText` unless the scope has at least `count` variables; reads no entry.
  static void checkMinArity(const Constraint& constraint, std::size_t count, const char* conditionText);
  /// The arity check for a condition stated over another size than the scope's own (a member's
  /// scope, say): fails `conditionText` unless `holds`, saying that the constraint takes `count`
  /// variables (at least `count` when `atLeast`), then `note` if given. Answers `holds`.
  static bool checkScopeSize(const Constraint& constraint, bool holds, const char* conditionText, std::size_t count,
                             bool atLeast, const char* note = nullptr);

  /// The current domain at `position` of a scope that must have exactly `count` variables (checked first).
  static AbstractDomain& domainAt(const Constraint& constraint, std::size_t position, std::size_t count,
                                  const char* conditionText);

  /// Fails `conditionText` unless the two domains' types can be compared.
  static void checkComparable(const AbstractDomain& a, const AbstractDomain& b, const char* conditionText) {
    if (!AbstractDomain::canBeCompared(a, b))
      fail(conditionText);
  }
  /// As checkComparable(), with the message "Cannot compare <a> and <b>.".
  static void checkComparableWithMessage(const AbstractDomain& a, const AbstractDomain& b, const char* conditionText);
  /// Whether a domain is open and holds no value yet: it may still gain any, so a rule that reads
  /// its values has nothing to decide from it.
  static bool holdsNothingYet(const AbstractDomain& domain) { return domain.isOpen() && domain.isEmpty(); }
  /// Whether a domain is decided: closed and holding one value, an interval only when its ends
  /// coincide. An open domain may still gain values, and a real interval narrower than the
  /// tolerance still holds many: a rule that acts on a decided value waits on either.
  static bool isDecided(const AbstractDomain& domain) {
    return domain.isClosed() && domain.isSingleton() &&
           (domain.isEnumerated() || domain.getLowerBound() == domain.getUpperBound());
  }
  /// Whether one domain is an interval and the other open: they cannot be equated or intersected
  /// until the open one is closed, as it may still gain any value.
  static bool intervalMeetsOpen(const AbstractDomain& a, const AbstractDomain& b) {
    return (a.isOpen() && b.isInterval()) || (b.isOpen() && a.isInterval());
  }
  /// Whether a domain of the scope may still gain values: its bounds are not final, so a rule
  /// that narrows by bounds waits until it is closed (closing it runs the constraint again).
  static bool anyOpen(const std::vector<Id<ConstrainedVariable> >& scope) {
    for (const Id<ConstrainedVariable>& var : scope)
      if (Constraint::getCurrentDomain(var).isOpen())
        return true;
    return false;
  }
  /// Whether both domains hold a value; fails `conditionText` when a closed one holds none. An open
  /// one that holds none may still gain values: no failure, but the rule has nothing to do yet.
  static bool checkNonEmpty(const AbstractDomain& a, const AbstractDomain& b, const char* conditionText) {
    if (!a.isEmpty() && !b.isEmpty())
      return true;
    if ((a.isEmpty() && a.isClosed()) || (b.isEmpty() && b.isClosed()))
      fail(conditionText);
    return false;
  }

  /// The condition a scope position that a rule reads as a number fails with.
  static constexpr const char* NUMERIC_CONDITION = "getCurrentDomain(m_variables[i]).isNumeric()";
  /// Refuses, when made, a symbol or string domain at the scope positions from `first` up to
  /// `end` (excluded, and at most the scope's size), which the rule reads as numbers: its bounds
  /// or values would fail a check, or be read as labels' keys, in every run. Fails `conditionText`
  /// with a message naming the constraint and the variable.
  static void checkNumeric(const Constraint& constraint, std::size_t first, std::size_t end,
                           const char* conditionText = NUMERIC_CONDITION);
  /// As checkNumeric(), answering `engine`: for a composite's initialisers, which must judge the
  /// scope before they build anything.
  static const Id<ConstraintEngine>& numericChecked(const Constraint& constraint, std::size_t first, std::size_t end,
                                                    const Id<ConstraintEngine>& engine,
                                                    const char* conditionText = NUMERIC_CONDITION) {
    checkNumeric(constraint, first, end, conditionText);
    return engine;
  }
  /// Refuses, when made, two domains that a rule compares or equates but cannot be compared: the
  /// condition and message of a domain's own comparison ("canBeCompared(domA, domB)").
  static void checkSafeComparison(const AbstractDomain& a, const AbstractDomain& b) {
    if (!AbstractDomain::canBeCompared(a, b))
      AbstractDomain::assertSafeComparison(a, b);
  }

  /// The checks of a conditional scope [b, x1, ..., xn]: at least two xi, b a boolean, every xi
  /// comparable with x1.
  static void checkConditionalScope(const Constraint& constraint);

  /// Discards a sub-constraint made with new, unless its handle is stale or it is discarded already.
  static void discardMember(const Id<Constraint>& member);
  /// Discards a member held by value (an internal variable or sub-constraint), unless it is discarded already.
  /// The utility layer never pools such a member, so its owner's destructor remains the one that frees it.
  static void discardMember(Entity& member);

private:
  // Fails the check `conditionText`, whose condition was found false; kept out of line so the
  // inline checks above cost their callers only a test.
  static void fail(const char* conditionText);
};

/**
 * Marks, while a constraint that reorders its scope creates its delegate on this
 * thread, who asked for it: the delegate's arity failures then name the
 * constraint the client wrote ("addlt" rather than "GreaterThanSum"), and a
 * chain of delegates that comes back to a name being built can be refused.
 */
class DelegateCreation {
public:
  /// Marks `owner` as creating the constraint `delegateName` over `delegateScope` until destroyed.
  DelegateCreation(const Constraint& owner, const LabelStr& delegateName,
                   const std::vector<Id<ConstrainedVariable> >& delegateScope);
  /// Ends the mark.
  ~DelegateCreation();
  DelegateCreation(const DelegateCreation&) = delete;
  DelegateCreation& operator=(const DelegateCreation&) = delete;

  /// Whether a delegate named `name` is being created on this thread.
  static bool isCreating(const LabelStr& name);
  /// The name the client wrote for `constraint`: its own, or, while it is a delegate being created,
  /// the name of the constraint the client asked for.
  static const LabelStr& clientName(const Constraint& constraint);
};

/**
 * The base of the library's composite constraints: each builds members, internal variables and
 * sub-constraints, that the engine runs like any other constraint, and (but for WithinBounds)
 * narrows nothing itself. Nobody hears of a composite before its members are built and are its
 * parts (see membersBuilt()). A composite retires its members with itself and switches them off and on with
 * itself, so that nothing of it constrains while it is gone or off. It skips every change of its
 * scope but a reset or relaxation (which every library constraint hears): running it would only
 * walk its scope.
 */
class CompositeConstraint : public Constraint {
public:
  /// Unlinks the constraint, then discards its internal variables and its sub-constraints in order.
  void handleDiscard() override;
  /// Nothing: the members do the work.
  void handleExecute() override;
  /// True but for a reset or relaxation.
  bool canIgnore(const Id<ConstrainedVariable>& variable, int argIndex,
                 const DomainListener::ChangeType& changeType) override;

protected:
  /// What a composite owns.
  struct Members {
    std::vector<ConstrainedVariable*> variables; ///< internal variables, held by value
    std::vector<Id<Constraint> > constraints;    ///< sub-constraints; a stale handle is passed over
  };

  /// The base of a composite; the most-derived constructor ends with membersBuilt().
  CompositeConstraint(const LabelStr& name, const LabelStr& propagatorName,
                      const Id<ConstraintEngine>& constraintEngine,
                      const std::vector<Id<ConstrainedVariable> >& variables)
      : Constraint(name, propagatorName, constraintEngine, variables, true) {}
  /// One whose constructor failed before membersBuilt(): nobody hears of it.
  ~CompositeConstraint() override;

  /// The members, in the order they are discarded.
  virtual Members members() = 0;
  /// Ends construction: the members become parts of this constraint, deleted only with it, and a
  /// composite made over an inactive variable starts with its members off.
  void membersBuilt();
  /// Holds the sub-constraints off while this constraint is switched off, and gives each back
  /// the one deactivation it took once it is not. Retired, it leaves them to run on their own.
  void handleSwitching() override;

private:
  // Whether each live sub-constraint carries one deactivation of this constraint's.
  bool m_holdsMembers = false;
  // Set by membersBuilt(): the constraint is made.
  bool m_made = false;
};

} // namespace KALDEN

#endif
