#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_DOMAINS_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_DOMAINS_HH

// Every concrete domain: include this to use any of them.

#include "ConstraintEngine/component/IntervalDomains.hh"
#include "ConstraintEngine/component/EnumeratedDomains.hh"

#endif
