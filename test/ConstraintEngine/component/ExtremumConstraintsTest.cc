#include "ConstraintEngine/component/Constraints.hh"
#include "support/BoundsFixture.hh"
#include "support/Failure.hh"

#include <gtest/gtest.h>

#include <vector>

namespace KALDEN {
namespace {

typedef BoundsFixture::Bounds Bounds;
const Bounds EMPTIED;

class ExtremumConstraintsTest : public BoundsFixture {
protected:
  static void SetUpTestSuite() { StringDT::instance(); }

  // One execution over [extreme, x1, ..] of real intervals; the bounds each is left with.
  template <class C>
  std::vector<Bounds> run(const std::vector<Bounds>& before) {
    std::vector<Id<ConstrainedVariable> > scope;
    for (const Bounds& b : before)
      scope.push_back(floatVar("v", b[0], b[1]));
    (new C("c", "Default", engine(), scope))->handleExecute();
    std::vector<Bounds> result;
    for (const Id<ConstrainedVariable>& v : scope)
      result.push_back(after(v));
    return result;
  }
};

TEST_F(ExtremumConstraintsTest, MaximumNarrowsItselfAndItsCandidates) {
  struct Case {
    const char* what;
    std::vector<Bounds> before, after;
  };
  const Case cases[] = {
      {"one x: each takes the other's bounds", {{0, 10}, {3, 20}}, {{3, 10}, {3, 10}}},
      {"room above both", {{0, 100}, {1, 5}, {3, 8}}, {{3, 8}, {1, 5}, {3, 8}}},
      {"capped", {{0, 4}, {1, 5}, {3, 8}}, {{3, 4}, {1, 4}, {3, 4}}},
      {"a single candidate takes both bounds", {{6, 7}, {1, 2}, {5, 8}}, {{6, 7}, {1, 2}, {6, 7}}},
      {"no x can reach M", {{0, 1}, {5, 6}}, {EMPTIED, {5, 6}}},
      // An x that raises M's inner bound but cannot reach M's own is no candidate.
      {"a candidate judged against M as narrowed", {{2, 5}, {0, 3}, {1, 1}}, {{2, 3}, {2, 3}, {1, 1}}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(run<EqualMaximumConstraint>(c.before), c.after) << c.what;
}

TEST_F(ExtremumConstraintsTest, MinimumIsTheMirrorImage) {
  struct Case {
    const char* what;
    std::vector<Bounds> before, after;
  };
  const Case cases[] = {
      {"room below both", {{0, 100}, {4, 9}, {2, 6}}, {{2, 6}, {4, 9}, {2, 6}}},
      {"floored", {{5, 100}, {4, 9}, {2, 6}}, {{5, 6}, {5, 9}, {5, 6}}},
      {"a single candidate takes both bounds", {{2, 3}, {8, 9}, {1, 4}}, {{2, 3}, {8, 9}, {2, 3}}},
      {"no x can reach m", {{7, 8}, {1, 2}}, {EMPTIED, {1, 2}}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(run<EqualMinimumConstraint>(c.before), c.after) << c.what;
}

TEST_F(ExtremumConstraintsTest, OpenDomainsWaitUntilClosed) {
  // An open x bounds nothing yet; closed, it narrows M to max(x, y) in [3, 6].
  const Id<ConstrainedVariable> top = intVar("top", 0, 100), open = openVar("open", {2, 5});
  EqualMaximumConstraint upper("max", "Running", engine(), makeScope(top, open, intVar("z", 3, 6)));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(bounds(top), (Bounds{0, 100}));
  open->close();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(bounds(top), (Bounds{3, 6}));

  // An open M is left as it is, and so are the xi; closed, it holds neither extreme.
  const Id<ConstrainedVariable> m = openVar("m", {1, 9});
  const Id<ConstrainedVariable> x = intVar("x", 2, 4), y = intVar("y", 3, 6);
  EqualMaximumConstraint max("max", "Running", engine(), makeScope(m, x, y));
  EqualMinimumConstraint min("min", "Running", engine(), makeScope(m, x, y));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(dom(m).isOpen());
  EXPECT_EQ(values(m), (std::vector<double>{1, 9}));
  EXPECT_EQ(bounds(x), (Bounds{2, 4}));
  EXPECT_EQ(bounds(y), (Bounds{3, 6}));
  m->close();
  EXPECT_FALSE(m_engine->propagate());
}

TEST_F(ExtremumConstraintsTest, RefusesShortScopesAndNonNumbers) {
  const Id<ConstrainedVariable> x = intVar("x", 0, 1);
  const Id<ConstrainedVariable> s =
      (new Variable<EnumeratedDomain>(engine(), StringDomain(std::string("a"), StringDT::instance()), false, true, "s",
                                      Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
          ->getId();
  EXPECT_CHECK_FAILS(EqualMaximumConstraint("max", "Default", engine(), std::vector<Id<ConstrainedVariable> >{x}),
                     "m_variables.size() > 1");
  EXPECT_CHECK_FAILS(EqualMinimumConstraint("min", "Default", engine(), makeScope(s, x)),
                     "getCurrentDomain(m_variables[i]).isNumeric()");
  EXPECT_TRUE(m_engine->getConstraints().empty());
}

} // namespace
} // namespace KALDEN
