#ifndef KALDEN_UTILS_BASE_ENTITYCOMPARATOR_HH
#define KALDEN_UTILS_BASE_ENTITYCOMPARATOR_HH

#include "Utils/base/Report.hh"

#pragma push_macro("KALDEN_SOURCE")
#undef KALDEN_SOURCE
#define KALDEN_SOURCE "Utils/base/Entity"

namespace KALDEN {

/**
 * Orders handles by entity key, so that sets of variables and constraints
 * iterate in creation order rather than address order. Both handles must be
 * valid: a set ordered by it must never hold a handle whose entity is gone.
 */
template <class T>
class EntityComparator {
public:
  bool operator()(const T& t1, const T& t2) const {
    KALDEN_CHECK_MSG(t1.isValid(), t1);
    KALDEN_CHECK_MSG(t2.isValid(), t2);
    return t1->getKey() < t2->getKey();
  }
};

} // namespace KALDEN

#pragma pop_macro("KALDEN_SOURCE")

#endif
