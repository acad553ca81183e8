#include "ConstraintEngine/component/SumConstraints.hh"

#include "ConstraintEngine/base/CESchema.hh"
#include "support/BoundsFixture.hh"
#include "support/Failure.hh"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

typedef BoundsFixture::Bounds Bounds;
typedef std::vector<Id<ConstrainedVariable> > Scope;

class SumConstraintsTest : public BoundsFixture {
protected:
  // n real variables a0..a(n-1) over [lb, ub].
  Scope reals(unsigned int n, double lb, double ub) {
    Scope scope;
    for (unsigned int i = 0; i < n; ++i)
      scope.push_back(floatVar(("a" + std::to_string(i)).c_str(), lb, ub));
    return scope;
  }

  // Everything the engine learnt of after the entity `after`, in creation (key) order: internal
  // variables as i1, i2, ... and constraints as Name(scope), client variables by their names.
  std::string creationLog(int after) {
    std::map<int, std::string> byKey;
    std::map<int, std::string> labels;
    int internal = 0;
    for (const Id<ConstrainedVariable>& v : m_engine->getVariables()) {
      const bool fresh = v->parent().isValid() && v->getKey() > after;
      labels[v->getKey()] = fresh ? "i" + std::to_string(++internal) : v->getName().toString();
      if (v->getKey() > after)
        byKey[v->getKey()] = labels[v->getKey()];
    }
    for (const Id<Constraint>& c : m_engine->getConstraints()) {
      if (c->getKey() <= after)
        continue;
      std::string text = c->getName().toString() + "(";
      for (const Id<ConstrainedVariable>& v : c->getScope())
        text += (text.back() == '(' ? "" : ",") + labels[v->getKey()];
      byKey[c->getKey()] = text + ")";
    }
    std::string log;
    for (const auto& entry : byKey)
      log += (log.empty() ? "" : " ") + entry.second;
    return log;
  }

  // Registers the data types the comparisons typed by x look up.
  void registerNumericTypes() {
    m_schema->registerDataType((new IntDT())->getId());
    m_schema->registerDataType((new FloatDT())->getId());
    m_schema->registerDataType((new BoolDT())->getId());
  }

  std::size_t constraintCount() const { return m_engine->getConstraints().size(); }
  std::size_t variableCount() const { return m_engine->getVariables().size(); }
};

TEST_F(SumConstraintsTest, SumDecomposesInCreationOrder) {
  const char* const interims = "i1 i2 i3 i4";
  const std::map<unsigned int, std::string> expected = {
      {3, "AddEqual(a1,a2,a0)"},
      {4, "AddEqual(a1,a2,i1) AddEqual(i1,a3,a0)"},
      {5, "AddEqual(a1,a2,i1) AddEqual(i1,i2,a0) AddEqual(a3,a4,i2)"},
      {6, "AddEqual(a1,a2,i1) AddEqual(i1,i2,a0) AddEqual(a3,a4,i3) AddEqual(i3,a5,i2)"},
      {7, "AddEqual(a1,a2,i1) AddEqual(i1,i2,a0) AddEqual(a3,a4,i3) AddEqual(i3,i4,i2) AddEqual(a5,a6,i4)"},
      {8, "AddEqual(i1,i2,a0) EqualSum(i1,a1,a2,a3,a4) i5 i6 i7 i8 AddEqual(a1,a2,i5) AddEqual(i5,i6,i1) "
          "AddEqual(a3,a4,i6) EqualSum(i2,a5,a6,a7) i9 i10 i11 i12 AddEqual(a5,a6,i9) AddEqual(i9,a7,i2)"},
      {9, "AddEqual(i1,i2,a0) EqualSum(i1,a1,a2,a3,a4) i5 i6 i7 i8 AddEqual(a1,a2,i5) AddEqual(i5,i6,i1) "
          "AddEqual(a3,a4,i6) EqualSum(i2,a5,a6,a7,a8) i9 i10 i11 i12 AddEqual(a5,a6,i9) AddEqual(i9,i10,i2) "
          "AddEqual(a7,a8,i10)"},
  };
  for (const auto& entry : expected) {
    const Scope scope = reals(entry.first, 0, 10);
    std::string names;
    for (const Id<ConstrainedVariable>& v : scope)
      names += (names.empty() ? "" : ",") + v->getName().toString();
    EqualSumConstraint sum("EqualSum", "Default", engine(), scope);
    EXPECT_EQ(creationLog(scope.back()->getKey()), "EqualSum(" + names + ") " + interims + " " + entry.second)
        << "n = " << entry.first;
    for (const Id<Constraint>& c : m_engine->getConstraints())
      EXPECT_EQ(c->getPropagator()->getName(), LabelStr("Default"));
    for (const Id<ConstrainedVariable>& v : m_engine->getVariables())
      EXPECT_TRUE(!v->parent().isValid() || v->getName() == LabelStr("InternalEqSumVariable"));
    sum.discard(false);
  }
}

TEST_F(SumConstraintsTest, SixteenSplitsTwiceAndProductUsesMultiplications) {
  const Scope scope = reals(16, 1, 2);
  new EqualSumConstraint("sum", "Default", engine(), scope);
  std::vector<std::size_t> halves;
  for (const Id<Constraint>& c : m_engine->getConstraints())
    if (c->getName() == LabelStr("EqualSum"))
      halves.push_back(c->getScope().size());
  EXPECT_EQ(halves, std::vector<std::size_t>({9, 5, 5, 8, 5, 4}));

  const Scope factors = reals(3, 2, 3);
  const int before = factors.back()->getKey();
  new EqualProductConstraint("product", "Default", engine(), factors);
  EXPECT_EQ(creationLog(before), "product(a0,a1,a2) i1 i2 i3 i4 MultEqual(a1,a2,a0)");
}

TEST_F(SumConstraintsTest, TreesPropagateBothWaysAtEveryArity) {
  for (unsigned int n : {3u, 4u, 5u, 6u, 7u, 8u, 9u, 16u}) {
    Scope scope = reals(n, 1, 2);
    scope[0] = floatVar("total", 0, 100);
    EqualSumConstraint* sum = new EqualSumConstraint("sum", "Running", engine(), scope);
    ASSERT_TRUE(m_engine->propagate());
    EXPECT_EQ(bounds(scope[0]), Bounds({n - 1.0, 2.0 * (n - 1)})) << "n = " << n;
    // The total at its least forces every summand down to its least.
    dom(scope[0]).intersect(0, n - 1.0);
    ASSERT_TRUE(m_engine->propagate());
    for (unsigned int i = 1; i < n; ++i)
      EXPECT_EQ(bounds(scope[i]), Bounds({1, 1})) << "n = " << n << ", a" << i;
    m_engine->deleteConstraint(sum->getId());
  }
  Scope factors = reals(4, 2, 3);
  factors[0] = floatVar("product", 0, 100);
  new EqualProductConstraint("product", "Running", engine(), factors);
  ASSERT_TRUE(m_engine->propagate());
  EXPECT_EQ(bounds(factors[0]), Bounds({8, 27}));
}

TEST_F(SumConstraintsTest, DiscardDeleteAndPurgeLeaveNothingBehind) {
  for (unsigned int n : {3u, 4u, 7u, 8u, 16u}) {
    const Scope scope = reals(n, 0, 1);
    const std::size_t constraints = constraintCount(), variables = variableCount() - n;
    // Discarded, then deleted: the clean-up runs once.
    EqualSumConstraint* sum = new EqualSumConstraint("sum", "Default", engine(), scope);
    EXPECT_GT(constraintCount(), constraints + 1);
    sum->discard(false);
    EXPECT_EQ(constraintCount(), constraints) << "n = " << n;
    EXPECT_EQ(variableCount(), variables + n) << "n = " << n;
    delete sum;
    // Deleted through the engine.
    m_engine->deleteConstraint((new EqualProductConstraint("product", "Default", engine(), scope))->getId());
    EXPECT_EQ(constraintCount(), constraints) << "n = " << n;
    EXPECT_EQ(variableCount(), variables + n) << "n = " << n;
    // Left for the engine's purge at the end of the test.
    new EqualSumConstraint("sum", "Default", engine(), scope);
  }
  registerNumericTypes();
  const Scope operands = reals(4, 0, 1);
  const std::size_t constraints = constraintCount();
  const std::vector<Constraint*> comparisons = {
      new LessThanSumConstraint("LessThanSum", "Default", engine(), operands),
      new LessOrEqThanSumConstraint("leqsum", "Default", engine(), operands),
      new GreaterThanSumConstraint("GreaterThanSum", "Default", engine(), operands),
      new GreaterOrEqThanSumConstraint("GreaterOrEqThanSum", "Default", engine(), operands),
      new CondEqualSumConstraint("CondEqualSum", "Default", engine(),
                                 {boolVar("b"), operands[0], operands[1], operands[2]})};
  const std::size_t withComparisons = constraintCount();
  const std::size_t variablesWithComparisons = variableCount();
  std::size_t own = 0;
  for (Constraint* comparison : comparisons) {
    const std::size_t before = constraintCount();
    m_engine->deleteConstraint(comparison->getId());
    own += before - constraintCount();
  }
  // Each took its interim variable, embedded constraint and owned sum (with its tree) along.
  EXPECT_EQ(own, withComparisons - constraints);
  EXPECT_EQ(constraintCount(), constraints);
  EXPECT_EQ(variableCount(), variablesWithComparisons - 5 * 5);
}

TEST_F(SumConstraintsTest, StaleMemberHandlesAreNotFollowed) {
  const Scope scope = reals(4, 0, 1);
  const std::size_t constraints = constraintCount();
  // A client may not delete a sub-constraint of the tree on its own; the composite takes it along.
  EqualSumConstraint* sum = new EqualSumConstraint("sum", "Default", engine(), scope);
  Id<Constraint> member;
  for (const Id<Constraint>& c : m_engine->getConstraints())
    if (c->getName() == LabelStr("AddEqual"))
      member = c;
  EXPECT_CHECK_FAILS(m_engine->deleteConstraint(member), "standingOwner().isNoId()");
  EXPECT_CHECK_FAILS(member->discard(), "standingOwner().isNoId()");
  m_engine->deleteConstraint(sum->getId());
  EXPECT_EQ(constraintCount(), constraints);

  // A summand goes: the comparison, its owned sum and the sum's tree go with it.
  LessThanSumConstraint* less = new LessThanSumConstraint("LessThanSum", "Default", engine(), scope);
  delete static_cast<ConstrainedVariable*>(scope[3]);
  Entity::garbageCollect();
  EXPECT_EQ(constraintCount(), constraints);
  (void)less;

  // Nor the owned sum.
  registerNumericTypes();
  CondEqualSumConstraint* cond =
      new CondEqualSumConstraint("CondEqualSum", "Default", engine(), {boolVar("b"), scope[0], scope[1], scope[2]});
  for (const Id<Constraint>& c : m_engine->getConstraints())
    if (c->getName() == LabelStr("EqualSum"))
      member = c;
  EXPECT_CHECK_FAILS(m_engine->deleteConstraint(member), "standingOwner().isNoId()");
  delete cond;
  EXPECT_EQ(constraintCount(), constraints);
}

TEST_F(SumConstraintsTest, RefusedConstructionsLeaveNothingBehind) {
  const Scope scope = reals(8, 0, 1);
  // x's type is looked up in the schema before any member is built.
  EXPECT_CHECK_FAILS(GreaterThanSumConstraint("gt", "Default", engine(), scope), "it != m_dataTypes.end()");
  registerNumericTypes();
  Id<ConstrainedVariable> e = enumVar("e", {1, 2});
  const std::size_t variables = variableCount();
  EXPECT_CHECK_FAILS(EqualSumConstraint("sum", "Default", engine(), makeScope(scope[0], scope[1])),
                     "ARG_COUNT > 2 && ARG_COUNT == (unsigned int)m_variables.size()");
  // The first half and the top addition exist when the second half refuses the enumeration.
  Scope withEnumeration = scope;
  withEnumeration[6] = e;
  EXPECT_CHECK_FAILS(EqualProductConstraint("product", "Default", engine(), withEnumeration),
                     "!getCurrentDomain(m_variables[i]).isEnumerated()");
  EXPECT_CHECK_FAILS(LessThanSumConstraint("lt", "Default", engine(), makeScope(scope[0], scope[1])),
                     "ARG_COUNT > 2 && ARG_COUNT == (unsigned int)m_variables.size()");
  // b and x are not read before the arity check.
  EXPECT_CHECK_FAILS(CondEqualSumConstraint("c", "Default", engine(), makeScope(boolVar("b"))),
                     "m_variables.size() > 2");
  EXPECT_CHECK_FAILS(CondEqualSumConstraint("c", "Default", engine(), makeScope(boolVar("b"), scope[0], scope[1])),
                     "ARG_COUNT > 2 && ARG_COUNT == (unsigned int)m_variables.size()");
  EXPECT_CHECK_FAILS(
      CondEqualSumConstraint("c", "Default", engine(), makeScope(scope[0], scope[1], scope[2], scope[3])),
      "getCurrentDomain(m_variables[0]).isBool()");
  EXPECT_EQ(constraintCount(), 0u);
  EXPECT_EQ(variableCount(), variables + 2); // the two booleans
  Entity::garbageCollect();
  EXPECT_EQ(Entity::pooledCount(), 0u);
}

TEST_F(SumConstraintsTest, ComparisonsBoundXStrictlyOrNot) {
  registerNumericTypes();
  struct Case {
    const char* what;
    bool isInt;
    Bounds x, y, xAfter;
  };
  const double eps = dom(floatVar("probe", 0, 1)).minDelta();
  const Case less[] = {{"int", true, {0, 10}, {0, 2}, {0, 3}}, {"real", false, {0, 10}, {0, 1}, {0, 2 - eps}}};
  const Case lessEq[] = {{"int", true, {0, 10}, {0, 2}, {0, 4}}, {"real", false, {0, 10}, {0, 1}, {0, 2}}};
  const Case greater[] = {{"int", true, {0, 10}, {3, 5}, {7, 10}}, {"real", false, {0, 10}, {3, 4}, {6 + eps, 10}}};
  const Case greaterEq[] = {{"int", true, {0, 10}, {3, 5}, {6, 10}}, {"real", false, {0, 10}, {3, 4}, {6, 10}}};
  auto run = [&](const Case(&cases)[2], auto make) {
    for (const Case& c : cases) {
      Id<ConstrainedVariable> x = var("x", c.isInt, c.x), y1 = var("y1", c.isInt, c.y), y2 = var("y2", c.isInt, c.y);
      Constraint* comparison = make(makeScope(x, y1, y2));
      ASSERT_TRUE(m_engine->propagate()) << comparison->getName().toString() << " " << c.what;
      EXPECT_NEAR(dom(x).getLowerBound(), c.xAfter[0], eps / 10) << comparison->getName().toString() << " " << c.what;
      EXPECT_NEAR(dom(x).getUpperBound(), c.xAfter[1], eps / 10) << comparison->getName().toString() << " " << c.what;
      m_engine->deleteConstraint(comparison->getId());
    }
  };
  run(less, [&](const Scope& s) { return new LessThanSumConstraint("LessThanSum", "Running", engine(), s); });
  run(lessEq, [&](const Scope& s) { return new LessOrEqThanSumConstraint("leqsum", "Running", engine(), s); });
  run(greater, [&](const Scope& s) { return new GreaterThanSumConstraint("GreaterThanSum", "Running", engine(), s); });
  run(greaterEq,
      [&](const Scope& s) { return new GreaterOrEqThanSumConstraint("GreaterOrEqThanSum", "Running", engine(), s); });
}

TEST_F(SumConstraintsTest, TypedInterimStaysRealUnlessEverySumIsAnInteger) {
  registerNumericTypes();
  auto interimOf = [&](Constraint* c) {
    for (const Id<ConstrainedVariable>& v : m_engine->getVariables())
      if (v->getName() == LabelStr("InternalConstraintVariable") && v->parent()->getKey() == c->getKey())
        return v;
    return Id<ConstrainedVariable>::noId();
  };
  // Integral summands: the strict bound steps by one, as the integer interim allows.
  Id<ConstrainedVariable> x = intVar("x", -5, 5), n1 = intVar("n1", 0, 3), n2 = enumVar("n2", {0, 2});
  Constraint* integral = new GreaterThanSumConstraint("GreaterThanSum", "Running", engine(), makeScope(x, n1, n2));
  EXPECT_EQ(interimOf(integral)->baseDomain().getTypeName(), LabelStr("int"));
  Constraint* lessThan = new LessThanSumConstraint("LessThanSum", "Running", engine(), makeScope(x, n1, n2));
  EXPECT_EQ(interimOf(lessThan)->baseDomain().getTypeName(), LabelStr("float"));
  m_engine->deleteConstraint(lessThan->getId());
  ASSERT_TRUE(m_engine->propagate());
  EXPECT_EQ(bounds(x), Bounds({1, 5}));
  m_engine->deleteConstraint(integral->getId());

  // x = 1 > 0.3 + 0.3 holds: a real summand keeps the interim real, so the sum need not be an integer.
  Id<ConstrainedVariable> one = intVar("one", 1, 1), r1 = floatVar("r1", 0.3, 0.3), r2 = floatVar("r2", 0.3, 0.3);
  Constraint* real = new GreaterThanSumConstraint("GreaterThanSum", "Running", engine(), makeScope(one, r1, r2));
  EXPECT_EQ(interimOf(real)->baseDomain().getTypeName(), LabelStr("float"));
  EXPECT_TRUE(m_engine->propagate());
  Id<ConstrainedVariable> b = boolVar("b");
  new CondEqualSumConstraint("CondEqualSum", "Running", engine(), makeScope(b, one, r1, r2));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(values(b), std::vector<double>({0}));
}

TEST_F(SumConstraintsTest, CondEqualSumDecidesAndEnforces) {
  registerNumericTypes();
  // Decided from the operands: 5 = 2 + 3.
  Id<ConstrainedVariable> b = boolVar("b");
  new CondEqualSumConstraint("CondEqualSum", "Running", engine(),
                             makeScope(b, intVar("x", 5, 5), intVar("y1", 2, 2), intVar("y2", 3, 3)));
  ASSERT_TRUE(m_engine->propagate());
  EXPECT_EQ(values(b), std::vector<double>({1}));
  // b true narrows x to the sum's range.
  Id<ConstrainedVariable> x = intVar("x", 0, 10);
  new CondEqualSumConstraint("CondEqualSum", "Running", engine(),
                             makeScope(boolVar("t", true), x, intVar("y1", 1, 2), intVar("y2", 1, 2)));
  ASSERT_TRUE(m_engine->propagate());
  EXPECT_EQ(bounds(x), Bounds({2, 4}));
  // b false with x fixed to the fixed sum: no solution.
  new CondEqualSumConstraint("CondEqualSum", "Running", engine(),
                             makeScope(boolVar("f", false), intVar("x", 5, 5), intVar("y1", 2, 2), intVar("y2", 3, 3)));
  EXPECT_FALSE(m_engine->propagate());
}

} // namespace
} // namespace KALDEN
