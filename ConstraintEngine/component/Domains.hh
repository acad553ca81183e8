#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_DOMAINS_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_DOMAINS_HH

// Every concrete domain: include this to use any of them.

#include "ConstraintEngine/component/IntervalDomains.hh"
// The enumerated domains (EnumeratedDomains.hh) are included here once they exist.

#endif
