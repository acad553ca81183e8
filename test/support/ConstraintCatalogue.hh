#ifndef KALDEN_TEST_SUPPORT_CONSTRAINTCATALOGUE_HH
#define KALDEN_TEST_SUPPORT_CONSTRAINTCATALOGUE_HH

#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "Utils/base/Id.hh"
#include "support/Decimal.hh"

#include <cstddef>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace KALDEN {

/// The kinds of variable a randomised network holds, as bits of a mask.
enum VariableKind : unsigned int {
  KIND_INTERVAL = 1u,    ///< an integer interval
  KIND_ENUMERATION = 2u, ///< a closed enumeration of integers
  KIND_BOOLEAN = 4u,     ///< a boolean domain
  KIND_REAL = 8u,        ///< a real interval ("float")
  KIND_OPEN = 16u,       ///< an enumeration of integers still open to insertion
  KIND_CLOSED = KIND_INTERVAL | KIND_ENUMERATION | KIND_BOOLEAN | KIND_REAL,
  KIND_ANY = KIND_CLOSED | KIND_OPEN,
  /// A closed enumeration of strings, drawn value v standing for the label "s<v>": only a
  /// position that says so takes one, and a scope holds strings at all such positions or at none.
  KIND_STRING = 32u,
  KIND_STRING_OPEN = 64u, ///< an enumeration of strings still open to insertion
  KIND_LABELS = KIND_STRING | KIND_STRING_OPEN,
};

/**
 * What the operation-sequence test knows of one constraint class: the names
 * it is registered under, the scopes it accepts, how to build it directly,
 * and its meaning as a predicate over a full assignment, which brute force
 * checks propagation against. Extend the catalogue with one entry per class.
 */
struct ConstraintEntry {
  /// What one scope position accepts.
  struct Position {
    unsigned int kinds = KIND_ANY; ///< mask of VariableKind
    bool fixed = false;               ///< the variable's base domain must be a single value
  };
  /// A full assignment in scope order, and the entry's own data (drawn with the constraint).
  typedef std::function<bool(const std::vector<double>& assignment, const std::vector<int>& data)> Meaning;
  /// Builds the constraint directly (by class) under the propagator name.
  typedef std::function<Constraint*(const Id<ConstraintEngine>& engine, const char* propagator,
                                    const std::vector<Id<ConstrainedVariable> >& scope, const std::vector<int>& data)>
      Build;
  /// Registers the class under a name in a schema, for creation by name.
  typedef std::function<void(CESchema& schema, const char* name)> Register;

  std::string className;                                   ///< printed in replays
  std::vector<const char*> names;                          ///< registered names; empty when it is built by class only
  unsigned int minArity = 2;                               ///< least scope size drawn
  unsigned int maxArity = 2;                               ///< greatest scope size drawn
  std::function<Position(unsigned int position)> position; ///< default: any kind, open enumerations too
  bool equalityPropagated = false;                         ///< whether the equality propagator may run it
  bool hasData = false;                                    ///< whether it draws data of its own (a unary source)
  /// Why its rule makes the fixpoint depend on the order constraints run in, if it does: a fresh
  /// engine may then reach another fixpoint than the live one.
  const char* orderDependence = nullptr;
  Meaning meaning;
  /// The same meaning over decimals, read exactly or within the tolerance as the values are
  /// marked (see Decimal); unset for an entry with data of its own.
  std::function<bool(const std::vector<Decimal>& assignment)> decimalMeaning;
  Build build;
  Register registerAs;
};

/// Every constraint class of the library, in a fixed order (replays name entries by index).
const std::vector<ConstraintEntry>& constraintCatalogue();

/// Registers every name of the catalogue in the schema, each under propagator "Default".
void registerCatalogue(CESchema& schema);

/// A constraint of a network searched by brute force: its entry's meaning over the variables at
/// these positions of the search, with the entry's own data.
struct SearchedConstraint {
  const ConstraintEntry* entry;
  std::vector<std::size_t> scope;
  std::vector<int> data;
};

/// Brute force over a small network, each variable given its candidate values: whether some
/// assignment holds every constraint, and in `support` (one set per variable) the values the
/// solutions use. It stops once every candidate is supported.
bool searchSolutions(const std::vector<std::vector<int> >& candidates,
                     const std::vector<SearchedConstraint>& constraints, std::vector<std::set<int> >& support);

} // namespace KALDEN

#endif
