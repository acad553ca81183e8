#define KALDEN_SOURCE "ConstraintEngine/base/Constraint"

// Building a constraint's scope from single variable handles.

#include "ConstraintEngine/base/Constraint.hh"

#include "Utils/base/Report.hh"

namespace KALDEN {

// Each form returns a fresh vector: a scope held by a caller is never overwritten by a later call.

std::vector<Id<ConstrainedVariable> > makeScope(const Id<ConstrainedVariable>& arg1) {
  KALDEN_CHECK(arg1.isValid());
  return std::vector<Id<ConstrainedVariable> >(1, arg1);
}

std::vector<Id<ConstrainedVariable> > makeScope(const Id<ConstrainedVariable>& arg1,
                                                const Id<ConstrainedVariable>& arg2) {
  KALDEN_CHECK(arg1.isValid());
  KALDEN_CHECK(arg2.isValid());
  std::vector<Id<ConstrainedVariable> > scope = makeScope(arg1);
  scope.push_back(arg2);
  return scope;
}

std::vector<Id<ConstrainedVariable> > makeScope(const Id<ConstrainedVariable>& arg1,
                                                const Id<ConstrainedVariable>& arg2,
                                                const Id<ConstrainedVariable>& arg3) {
  KALDEN_CHECK(arg3.isValid());
  std::vector<Id<ConstrainedVariable> > scope = makeScope(arg1, arg2);
  scope.push_back(arg3);
  return scope;
}

std::vector<Id<ConstrainedVariable> > makeScope(const Id<ConstrainedVariable>& arg1,
                                                const Id<ConstrainedVariable>& arg2,
                                                const Id<ConstrainedVariable>& arg3,
                                                const Id<ConstrainedVariable>& arg4) {
  KALDEN_CHECK(arg4.isValid());
  std::vector<Id<ConstrainedVariable> > scope = makeScope(arg1, arg2, arg3);
  scope.push_back(arg4);
  return scope;
}

std::vector<Id<ConstrainedVariable> >
makeScope(const Id<ConstrainedVariable>& arg1, const Id<ConstrainedVariable>& arg2, const Id<ConstrainedVariable>& arg3,
          const Id<ConstrainedVariable>& arg4, const Id<ConstrainedVariable>& arg5) {
  KALDEN_CHECK(arg5.isValid());
  std::vector<Id<ConstrainedVariable> > scope = makeScope(arg1, arg2, arg3, arg4);
  scope.push_back(arg5);
  return scope;
}

std::vector<Id<ConstrainedVariable> >
makeScope(const Id<ConstrainedVariable>& arg1, const Id<ConstrainedVariable>& arg2, const Id<ConstrainedVariable>& arg3,
          const Id<ConstrainedVariable>& arg4, const Id<ConstrainedVariable>& arg5,
          const Id<ConstrainedVariable>& arg6) {
  KALDEN_CHECK(arg6.isValid());
  std::vector<Id<ConstrainedVariable> > scope = makeScope(arg1, arg2, arg3, arg4, arg5);
  scope.push_back(arg6);
  return scope;
}

std::vector<Id<ConstrainedVariable> >
makeScope(const Id<ConstrainedVariable>& arg1, const Id<ConstrainedVariable>& arg2, const Id<ConstrainedVariable>& arg3,
          const Id<ConstrainedVariable>& arg4, const Id<ConstrainedVariable>& arg5, const Id<ConstrainedVariable>& arg6,
          const Id<ConstrainedVariable>& arg7) {
  KALDEN_CHECK(arg7.isValid());
  std::vector<Id<ConstrainedVariable> > scope = makeScope(arg1, arg2, arg3, arg4, arg5, arg6);
  scope.push_back(arg7);
  return scope;
}

std::vector<Id<ConstrainedVariable> >
makeScope(const Id<ConstrainedVariable>& arg1, const Id<ConstrainedVariable>& arg2, const Id<ConstrainedVariable>& arg3,
          const Id<ConstrainedVariable>& arg4, const Id<ConstrainedVariable>& arg5, const Id<ConstrainedVariable>& arg6,
          const Id<ConstrainedVariable>& arg7, const Id<ConstrainedVariable>& arg8) {
  KALDEN_CHECK(arg8.isValid());
  std::vector<Id<ConstrainedVariable> > scope = makeScope(arg1, arg2, arg3, arg4, arg5, arg6, arg7);
  scope.push_back(arg8);
  return scope;
}

std::vector<Id<ConstrainedVariable> >
makeScope(const Id<ConstrainedVariable>& arg1, const Id<ConstrainedVariable>& arg2, const Id<ConstrainedVariable>& arg3,
          const Id<ConstrainedVariable>& arg4, const Id<ConstrainedVariable>& arg5, const Id<ConstrainedVariable>& arg6,
          const Id<ConstrainedVariable>& arg7, const Id<ConstrainedVariable>& arg8, const Id<ConstrainedVariable>& arg9,
          const Id<ConstrainedVariable>& arg10, const Id<ConstrainedVariable>& arg11,
          const Id<ConstrainedVariable>& arg12, const Id<ConstrainedVariable>& arg13) {
  KALDEN_CHECK(arg9.isValid());
  KALDEN_CHECK(arg10.isValid());
  KALDEN_CHECK(arg11.isValid());
  KALDEN_CHECK(arg12.isValid());
  KALDEN_CHECK(arg13.isValid());
  std::vector<Id<ConstrainedVariable> > scope = makeScope(arg1, arg2, arg3, arg4, arg5, arg6, arg7, arg8);
  scope.push_back(arg9);
  scope.push_back(arg10);
  scope.push_back(arg11);
  scope.push_back(arg12);
  scope.push_back(arg13);
  return scope;
}

} // namespace KALDEN
