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
#include "Utils/base/Id.hh"

#include <cmath>
#include <cstddef>
#include <initializer_list>
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
 */
class ConstraintShape {
public:
  ConstraintShape() = delete;

  /// Fails `conditionText` unless `constraint`'s scope has exactly `count` variables; reads no entry.
  static void checkArity(const Constraint& constraint, std::size_t count, const char* conditionText);
  /// As checkArity(), with the message `messagePrefix` followed by the constraint's printed form.
  static void checkArity(const Constraint& constraint, std::size_t count, const char* conditionText,
                         const char* messagePrefix);
  /// Fails `conditionText` unless the scope has at least `count` variables; reads no entry.
  static void checkMinArity(const Constraint& constraint, std::size_t count, const char* conditionText);

  /// The current domain at `position` of a scope that must have exactly `count` variables (checked first).
  static AbstractDomain& domainAt(const Constraint& constraint, std::size_t position, std::size_t count,
                                  const char* conditionText);
  /// As domainAt(), the arity failure carrying `messagePrefix` and the constraint's printed form.
  static AbstractDomain& domainAt(const Constraint& constraint, std::size_t position, std::size_t count,
                                  const char* conditionText, const char* messagePrefix);

  /// Fails `conditionText` unless the two domains' types can be compared.
  static void checkComparable(const AbstractDomain& a, const AbstractDomain& b, const char* conditionText) {
    if (!AbstractDomain::canBeCompared(a, b))
      fail(conditionText);
  }
  /// As checkComparable(), with the message "Cannot compare <a> and <b>.".
  static void checkComparableWithMessage(const AbstractDomain& a, const AbstractDomain& b, const char* conditionText);
  /// Fails `conditionText` unless both domains hold a value.
  static void checkNonEmpty(const AbstractDomain& a, const AbstractDomain& b, const char* conditionText) {
    if (a.isEmpty() || b.isEmpty())
      fail(conditionText);
  }

  /// Discards a sub-constraint made with new, unless its handle is stale or it is discarded already.
  static void discardMember(const Id<Constraint>& member);
  /// Discards a member held by value (an internal variable or sub-constraint), unless it is discarded already.
  /// The utility layer never pools such a member, so its owner's destructor remains the one that frees it.
  static void discardMember(Entity& member);

  /// Whether a composite, which narrows nothing itself, may ignore a change of its scope: running
  /// it would only walk its scope. Resets and relaxations are heard, as by every constraint.
  static bool compositeCanIgnore(const DomainListener::ChangeType& changeType) {
    return changeType != DomainListener::RESET && changeType != DomainListener::RELAXED;
  }

  /// Deactivates each live member of a composite that has just gone inactive, so that its members
  /// constrain nothing while it is off; activateMembers() undoes it when the composite comes back.
  static void deactivateMembers(std::initializer_list<Id<Constraint> > members);
  /// Undoes deactivateMembers() for a composite that has just become active again. Its internal
  /// variables are reset first: while the members were off, nothing relaxed them along with the
  /// variables they stand for, so what they held may be stale.
  static void activateMembers(std::initializer_list<Id<Constraint> > members,
                              std::initializer_list<ConstrainedVariable*> internals = {});

private:
  // Fails the check `conditionText`, whose condition was found false; kept out of line so the
  // inline checks above cost their callers only a test.
  static void fail(const char* conditionText);
};

} // namespace KALDEN

#endif
