#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_CONSTRAINTS_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_CONSTRAINTS_HH

// The constraint library: include this to use any of its classes.
// One line per family header.

#include "ConstraintEngine/component/ConstraintsBase.hh"
#include "ConstraintEngine/component/UnaryConstraints.hh"
#include "ConstraintEngine/component/EqualityConstraints.hh"
#include "ConstraintEngine/component/SubsetConstraints.hh"
#include "ConstraintEngine/component/TestConstraints.hh"
#include "ConstraintEngine/component/OrderingConstraints.hh"
#include "ConstraintEngine/component/ArithmeticConstraints.hh"
#include "ConstraintEngine/component/SignConstraints.hh"
#include "ConstraintEngine/component/ScopeTransformConstraints.hh"
#include "ConstraintEngine/component/FunctionConstraints.hh"

#endif
