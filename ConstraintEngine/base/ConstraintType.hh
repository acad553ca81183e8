#ifndef KALDEN_CONSTRAINTENGINE_BASE_CONSTRAINTTYPE_HH
#define KALDEN_CONSTRAINTENGINE_BASE_CONSTRAINTTYPE_HH

#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/DataType.hh"
#include "Utils/LabelStr.hh"
#include "Utils/base/Id.hh"
#include "Utils/base/Report.hh"

#include <type_traits>
#include <vector>

#pragma push_macro("KALDEN_SOURCE")
#undef KALDEN_SOURCE
#define KALDEN_SOURCE "ConstraintEngine/base/ConstraintType"

namespace KALDEN {

/**
 * The factory behind one registered constraint name: builds constraints that
 * bear that name and register with the named propagator. The schema owns the
 * factories registered in it and destroys them through Id::release(); the
 * constraints a factory built outlive it.
 */
class ConstraintType {
public:
  /// A factory for the given name and propagator name; makes the factory's own handle.
  ConstraintType(const LabelStr& name, const LabelStr& propagatorName, bool systemDefined);
  /// Removes the own handle only if nobody released it already.
  virtual ~ConstraintType();
  ConstraintType(const ConstraintType&) = delete;
  ConstraintType& operator=(const ConstraintType&) = delete;

  /// Builds a constraint of this type over the scope, registered with the engine; the base has no class to build.
  virtual Id<Constraint> createConstraint(Id<ConstraintEngine> constraintEngine,
                                          const std::vector<Id<ConstrainedVariable> >& scope);
  /// The declared argument types (none are declared).
  virtual const std::vector<Id<DataType> >& getArgTypes() const;
  /// Whether the argument types suit this type; every vector does.
  virtual bool checkArgTypes(const std::vector<Id<DataType> >& types) const;

  /// The factory's own handle.
  const Id<ConstraintType>& getId() const { return m_id; }
  /// The registered name, which every constraint built here bears.
  const LabelStr& getName() const { return m_name; }
  /// Whether the system registered this type (rather than a client).
  bool isSystemDefined() const { return m_systemDefined; }

protected:
  /// Checks what every factory checks, then hands over the handle of the constraint `build()` made.
  template <class BUILD>
  Id<Constraint> checkedBuild(const Id<ConstraintEngine>& constraintEngine,
                              const std::vector<Id<ConstrainedVariable> >& scope, BUILD build) const {
    KALDEN_CHECK(constraintEngine.isValid());
    // Refused before any class is built, so only the least every name takes can be said.
    KALDEN_CHECK_TEXT_MSG(scope.size() >= 1, "scope.size() >= 1",
                          m_name.toString() << " takes at least 1 variable, given 0.");
    Constraint* constraint = build();
    KALDEN_CHECK(constraint != 0);
    KALDEN_CHECK(constraint->getId().isValid());
    return constraint->getId();
  }

  Id<ConstraintType> m_id;
  LabelStr m_name;
  LabelStr m_propagatorName;
  bool m_systemDefined;
  std::vector<Id<DataType> > m_argTypes;
};

/// The factory of a constraint class built from the four standard arguments.
template <class ConstraintClass>
class ConcreteConstraintType : public ConstraintType {
public:
  /// A factory for the given name and propagator name.
  ConcreteConstraintType(const LabelStr& name, const LabelStr& propagatorName, bool systemDefined)
      : ConstraintType(name, propagatorName, systemDefined) {}

  /// A new ConstraintClass named after this type, over the scope.
  Id<Constraint> createConstraint(Id<ConstraintEngine> constraintEngine,
                                  const std::vector<Id<ConstrainedVariable> >& scope) override {
    return checkedBuild(constraintEngine, scope, [&]() -> Constraint* {
      return new ConstraintClass(m_name, m_propagatorName, constraintEngine, scope);
    });
  }
};

/// The factory of a constraint that creates another registered constraint over its scope rotated.
template <class ConstraintClass>
class RotatedNaryConstraintType : public ConstraintType {
public:
  /// A factory whose constraints create `otherName` with the scope rotated by `rotateCount`; a
  /// scope too short to rotate is refused as taking at least `minArity` variables, when that is more.
  RotatedNaryConstraintType(const LabelStr& name, const LabelStr& propagatorName, const LabelStr& otherName,
                            const int& rotateCount, unsigned int minArity = 0)
      : ConstraintType(name, propagatorName, false), m_otherName(otherName), m_rotateCount(rotateCount),
        m_minArity(minArity) {
    KALDEN_CHECK(name != otherName);
  }

  /// A new ConstraintClass named after this type, with the other name, the rotate count and the least arity.
  Id<Constraint> createConstraint(Id<ConstraintEngine> constraintEngine,
                                  const std::vector<Id<ConstrainedVariable> >& scope) override {
    return checkedBuild(constraintEngine, scope, [&]() -> Constraint* {
      // A class of the client's may take no least arity.
      if constexpr (std::is_constructible<ConstraintClass, const LabelStr&, const LabelStr&, Id<ConstraintEngine>&,
                                          const std::vector<Id<ConstrainedVariable> >&, const LabelStr&, const int&,
                                          unsigned int>::value)
        return new ConstraintClass(m_name, m_propagatorName, constraintEngine, scope, m_otherName, m_rotateCount,
                                   m_minArity);
      else
        return new ConstraintClass(m_name, m_propagatorName, constraintEngine, scope, m_otherName, m_rotateCount);
    });
  }

private:
  LabelStr m_otherName;
  int m_rotateCount;
  unsigned int m_minArity;
};

/// The factory of a constraint that creates another registered constraint with two scope positions swapped.
template <class ConstraintClass>
class SwapTwoVarsNaryConstraintType : public ConstraintType {
public:
  /// A factory whose constraints create `otherName` with positions `first` and `second` swapped; a
  /// scope too short for them is refused as taking at least `minArity` variables, when that is more.
  SwapTwoVarsNaryConstraintType(const LabelStr& name, const LabelStr& propagatorName, const LabelStr& otherName,
                                const int& first, const int& second, unsigned int minArity = 0)
      : ConstraintType(name, propagatorName, false), m_otherName(otherName), m_first(first), m_second(second),
        m_minArity(minArity) {
    KALDEN_CHECK(name != otherName);
    KALDEN_CHECK(first != second);
  }

  /// A new ConstraintClass named after this type, with the other name, the two positions and the least arity.
  Id<Constraint> createConstraint(Id<ConstraintEngine> constraintEngine,
                                  const std::vector<Id<ConstrainedVariable> >& scope) override {
    return checkedBuild(constraintEngine, scope, [&]() -> Constraint* {
      // A class of the client's may take no least arity.
      if constexpr (std::is_constructible<ConstraintClass, const LabelStr&, const LabelStr&, Id<ConstraintEngine>&,
                                          const std::vector<Id<ConstrainedVariable> >&, const LabelStr&, int, int,
                                          unsigned int>::value)
        return new ConstraintClass(m_name, m_propagatorName, constraintEngine, scope, m_otherName, m_first, m_second,
                                   m_minArity);
      else
        return new ConstraintClass(m_name, m_propagatorName, constraintEngine, scope, m_otherName, m_first, m_second);
    });
  }

private:
  LabelStr m_otherName;
  int m_first;
  int m_second;
  unsigned int m_minArity;
};

} // namespace KALDEN

#pragma pop_macro("KALDEN_SOURCE")

#endif
