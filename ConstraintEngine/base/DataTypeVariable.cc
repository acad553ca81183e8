#define KALDEN_SOURCE "ConstraintEngine/base/DataType"

// Creating variables of a data type; kept apart because it needs the variables.

#include "ConstraintEngine/base/DataType.hh"

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "Utils/Entity.hh"
#include "Utils/base/Report.hh"

namespace KALDEN {

namespace {

// Whether the type's own domain holds every value of `dom`: a bool variable over [-3, 7], or an
// int one over {1.5, 2.5}, would hold values its type has not. Open domains are still being
// filled and are judged by their values as they come.
bool holdsEveryValueOf(const AbstractDomain& typeDomain, const AbstractDomain& dom) {
  if (typeDomain.isOpen() || dom.isOpen() || dom.isEmpty() || !typeDomain.getDataType()->isNumeric())
    return true;
  if (!dom.isSubsetOf(typeDomain))
    return false;
  if (!dom.isInterval())
    return true;
  // Interval containment compares bounds only: a finite bound must itself be a value of the type.
  const double lb = dom.getLowerBound();
  const double ub = dom.getUpperBound();
  return (lb == MINUS_INFINITY || typeDomain.isMember(lb)) && (ub == PLUS_INFINITY || typeDomain.isMember(ub)) &&
         dom.minDelta() >= typeDomain.minDelta();
}

} // namespace

Id<ConstrainedVariable> DataType::createVariable(const Id<ConstraintEngine>& engine, const AbstractDomain& baseDomain,
                                                 bool internal, bool canBeSpecified, const char* name,
                                                 const Id<Entity>& parent, int index) const {
  // Through baseDomain(), which checks that this type has a base domain to compare with.
  KALDEN_CHECK_TEXT_MSG(AbstractDomain::canBeCompared(DataType::baseDomain(), baseDomain),
                        "AbstractDomain::canBeCompared(*m_baseDomain,baseDomain)",
                        "Tried to create a " << getName().toString()
                                             << " variable with a different kind of base domain:"
                                             << baseDomain.getTypeName().toString());
  KALDEN_CHECK_TEXT_MSG(holdsEveryValueOf(DataType::baseDomain(), baseDomain), "holdsEveryValueOf(baseDomain)",
                        "Tried to create a " << getName().toString() << " variable over " << baseDomain.toString()
                                             << ", which holds values the type does not have.");
  // The variable's constructor tells the engine's listeners that its domain closed, and one told
  // may delete or discard it there: whether it still stands is asked of its key, never of the
  // pointer, which may be freed already. The variable's entity part takes the next key.
  const int key = Entity::nextKey();
  ConstrainedVariable* variable =
      new Variable<AbstractDomain>(engine, baseDomain, internal, canBeSpecified, LabelStr(name), parent, index);
  const Id<Entity> made = Entity::getEntity(key);
  KALDEN_CHECK_TEXT_MSG(made.isValid() && !made->isDiscarded(), "made.isValid() && !made->isDiscarded()",
                        "The " << getName().toString() << " variable " << LabelStr(name).toString()
                               << " was deleted or discarded by a listener told of its making.");
  const Id<ConstrainedVariable> id = variable->getId();
  KALDEN_CHECK(id.isValid());
  KALDEN_TRACE("DataType::createVariable", "Created Variable : " << variable->toLongString());
  return id;
}

} // namespace KALDEN
