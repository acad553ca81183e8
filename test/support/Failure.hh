#ifndef KALDEN_TEST_SUPPORT_FAILURE_HH
#define KALDEN_TEST_SUPPORT_FAILURE_HH

#include "Utils/Error.hh"

#include <gtest/gtest.h>

#include <string>

namespace KALDEN {

/// The failed check that running `f` reports; a test failure if it reports none.
template <class F>
Error failureOf(F f) {
  try {
    f();
  } catch (const Error& e) {
    return e;
  }
  ADD_FAILURE() << "no failure reported";
  return Error("", "", 0);
}

} // namespace KALDEN

/// Expects the statement to fail a check with the given condition text.
#define EXPECT_CHECK_FAILS(statement, conditionText)                                                                   \
  EXPECT_EQ(::KALDEN::failureOf([&] { statement; }).getCondition(), std::string(conditionText))

#endif
