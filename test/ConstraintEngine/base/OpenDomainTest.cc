#include "ConstraintEngine/base/ConstraintEngineListener.hh"
#include "ConstraintEngine/base/ConstraintType.hh"
#include "ConstraintEngine/base/ViolationMgr.hh"
#include "ConstraintEngine/component/Constraints.hh"
#include "Utils/Error.hh"

#include "support/ConstraintCatalogue.hh"
#include "support/EngineFixture.hh"
#include "support/RecordingEngineListener.hh"
#include "support/TestConstraints.hh"

#include <gtest/gtest.h>

#include <functional>
#include <list>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace KALDEN {
namespace {

// Runs a call the test gives, once, when it is executed.
class CallingTestConstraint : public Constraint {
public:
  CallingTestConstraint(const Id<ConstraintEngine>& engine, const std::vector<Id<ConstrainedVariable> >& scope,
                        std::function<void()> call)
      : Constraint("calling", "Default", engine, scope), m_call(call) {}
  void handleExecute() override {
    std::function<void()> call;
    call.swap(m_call);
    if (call)
      call();
  }

private:
  std::function<void()> m_call;
};

// A propagating engine whose schema knows the number types, the library's value constraints, the
// unary constraint and a failing test constraint by name.
class OpenDomainTest : public NetworkFixture {
protected:
  OpenDomainTest() {
    m_schema->registerDataType((new IntDT())->getId());
    m_schema->registerDataType((new FloatDT())->getId());
    m_schema->registerDataType((new BoolDT())->getId());
    registerCatalogue(*m_schema);
    m_schema->registerConstraintType((new ConcreteConstraintType<UnaryConstraint>("UNARY", "Default", false))->getId());
    m_schema->registerConstraintType(
        (new ConcreteConstraintType<ThrowingTestConstraint>("failing", "Default", false))->getId());
  }

  Id<ConstrainedVariable> intEnum(const char* name, const std::list<double>& values) {
    return (new Variable<EnumeratedDomain>(engine(), NumericDomain(values, IntDT::instance()), false, true, name,
                                           Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
        ->getId();
  }
  static std::string shown(const Id<ConstrainedVariable>& var) { return var->lastDomain().toString(); }
};

// Switching a variable off and on counts an emptied domain as a failure only when it is closed:
// an open enumeration holding nothing yet may still gain any value.
TEST_F(OpenDomainTest, AnOpenEmptyEnumerationSwitchedOffAndOnIsNoFailure) {
  const Id<ConstrainedVariable> x = openEnum("x", {}), y = intVar("y", 0, 10);
  new LessThanEqualConstraint("leq", "Default", engine(), makeScope(x, y));
  EXPECT_TRUE(m_engine->propagate());
  x->deactivate();
  x->undoDeactivation();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_FALSE(m_engine->provenInconsistent());
  EXPECT_TRUE(m_engine->getViolationMgr().getEmptyVariables().empty());

  // A closed one emptied while it was off still counts once it is back.
  const Id<ConstrainedVariable> z = intEnum("z", {4});
  z->deactivate();
  z->getCurrentDomain().remove(4);
  z->undoDeactivation();
  EXPECT_TRUE(m_engine->pending());
  EXPECT_EQ(m_engine->getViolationMgr().getEmptyVariables().size(), 1u);
}

// An insertion into an open base gives back all that constraints narrowed, whether the
// constraint or the variable is switched off, or neither; as relax() does.
TEST_F(OpenDomainTest, AnInsertionGivesBackWhatClosedTheCurrentDomain) {
  for (int off = 0; off < 3; ++off) {
    SCOPED_TRACE(off == 0 ? "constraint off" : off == 1 ? "variable off" : "both on");
    const Id<ConstrainedVariable> x = openEnum("x", {1, 2, 3, 7}), s = intEnum("s", {1, 2, 3});
    Constraint* c = new SubsetOfConstraint("subsetOf", "Default", engine(), makeScope(x, s));
    ASSERT_TRUE(m_engine->propagate());
    ASSERT_EQ(shown(x), "int:CLOSED{1, 2, 3}");
    if (off == 0)
      c->deactivate();
    else if (off == 1)
      x->deactivate();
    x->insert(9);
    EXPECT_EQ(x->baseDomain().toString(), "int:OPEN{1, 2, 3, 7, 9}");
    EXPECT_EQ(shown(x), "int:OPEN{1, 2, 3, 7, 9}");
    if (off == 2) { // the constraint in effect narrows it again
      EXPECT_TRUE(m_engine->propagate());
      EXPECT_EQ(shown(x), "int:CLOSED{1, 2, 3}");
    }
    // A value the current domain holds already widens nothing.
    x->insert(2);
    EXPECT_EQ(x->baseDomain().toString(), "int:OPEN{1, 2, 3, 7, 9}");
    delete c;
    delete static_cast<ConstrainedVariable*>(x);
    delete static_cast<ConstrainedVariable*>(s);
  }
}

// A widening insertion is refused inside a run, before the base gains the value.
TEST_F(OpenDomainTest, AWideningInsertionIsRefusedDuringPropagation) {
  const Id<ConstrainedVariable> x = openEnum("x", {1, 2, 3, 7}), s = intEnum("s", {1, 2, 3});
  new SubsetOfConstraint("subsetOf", "Default", engine(), makeScope(x, s));
  ASSERT_TRUE(m_engine->propagate());
  bool refused = false;
  new CallingTestConstraint(engine(), makeScope(s), [&] {
    try {
      x->insert(9);
    } catch (const Error& e) {
      refused = e.getCondition() == "!m_propInProgress";
    }
  });
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(refused);
  EXPECT_EQ(x->baseDomain().toString(), "int:OPEN{1, 2, 3, 7}");
}

// Made by name, a unary constraint has no source: it waits, with auto-propagation on too, and
// acts from the first run after it is given one.
TEST_F(OpenDomainTest, AUnaryConstraintWithoutASourceWaits) {
  const Id<ConstrainedVariable> x = intVar("x", 0, 10);
  UnaryConstraint source(IntervalIntDomain(2, 4, IntDT::instance()), intVar("s", 0, 10));
  const Id<Constraint> unary = m_engine->createConstraint("UNARY", makeScope(x));
  EXPECT_EQ(m_engine->getConstraints().size(), 2u);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(shown(x), "int:CLOSED[0, 10]");

  static_cast<UnaryConstraint*>(static_cast<Constraint*>(unary))->setSource(source.getId());
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(shown(x), "int:CLOSED[2, 4]");
}

// A creation by name whose propagation fails is taken back: the caller hears the failure, and
// the engine keeps neither the constraint nor what it narrowed.
TEST_F(OpenDomainTest, ACreationWhosePropagationFailsIsTakenBack) {
  const Id<ConstrainedVariable> x = intVar("x", 0, 10), y = intVar("y", 0, 10);
  m_engine->createConstraint("leq", makeScope(x, y));
  EXPECT_THROW(m_engine->createConstraint("failing", makeScope(x)), Error);
  EXPECT_EQ(m_engine->getConstraints().size(), 1u);
  EXPECT_EQ(x->constraintCount(), 1u);
  EXPECT_FALSE(m_engine->isPropagating());
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(shown(x), "int:CLOSED[0, 10]");

  // Without auto-propagation nothing runs at creation: the constraint stands, and fails later.
  m_engine->setAutoPropagation(false);
  const Id<Constraint> kept = m_engine->createConstraint("failing", makeScope(y));
  EXPECT_THROW(m_engine->propagate(), Error);
  EXPECT_TRUE(kept.isValid());
  delete static_cast<Constraint*>(kept);
}

// An open base that takes the members of a closed one gives back, like an insertion, what rules
// narrowed from its old members; a rule takes into the current domain only what the base holds,
// and gains nothing; one gaining and emptied in the same run fails it, once.
TEST_F(OpenDomainTest, AGainFromMeetingAClosedEnumerationGivesBackWhatTheOldMembersNarrowed) {
  for (int way = 0; way < 2; ++way) {
    SCOPED_TRACE(way == 0 ? "equated in a run" : "base restricted");
    const Id<ConstrainedVariable> x = intEnum("x", {1, 2, 3}), lb = openEnum("lb", {3});
    const Id<ConstrainedVariable> w = intEnum("w", {1, 3});
    new ValueRemovingTestConstraint("neq", "Default", engine(), makeScope(x, lb));
    ASSERT_TRUE(m_engine->propagate());
    ASSERT_EQ(shown(x), "int:CLOSED{1, 2}");
    if (way == 0)
      new EqualConstraint("eq", "Default", engine(), makeScope(lb, w));
    else
      lb->restrictBaseDomain(w->lastDomain());
    EXPECT_TRUE(m_engine->propagate());
    EXPECT_EQ(shown(lb), way == 0 ? "int:CLOSED{3}" : "int:CLOSED{1, 3}");
    EXPECT_EQ(shown(x), way == 0 ? "int:CLOSED{1, 2}" : "int:CLOSED{1, 2, 3}");
  }
  const Id<ConstrainedVariable> x = openEnum("x", {1}), y = intEnum("y", {1, 5}), w = intEnum("w", {1, 5});
  new NotEqualConstraint("neq", "Default", engine(), makeScope(x, y));
  ASSERT_TRUE(m_engine->propagate());
  ASSERT_EQ(shown(y), "int:CLOSED{1, 5}"); // an open x decides nothing, however few values it holds
  new EqualConstraint("eq", "Default", engine(), makeScope(x, w));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(shown(x), "int:CLOSED{1}");
  EXPECT_EQ(shown(y), "int:CLOSED{5}");
  x->specify(1);
  EXPECT_TRUE(m_engine->propagate());
  // Gaining and then emptied in the same run: the run fails, once.
  const Id<ConstrainedVariable> a = intEnum("a", {-2, -1}), b = openEnum("b", {-2}), c = intEnum("c", {0});
  new EqualConstraint("eq", "Default", engine(), makeScope(a, b, c));
  EXPECT_FALSE(m_engine->propagate());
}

// A gain goes with the constraint that caused it when the run sets that constraint aside; and a
// base that gains members gives them back to a current domain a rule closed without them.
TEST_F(OpenDomainTest, AGainGoesWithItsSetAsideCauseAndABaseGainReachesAClosedCurrentDomain) {
  m_engine->getViolationMgr().setMaxViolationsAllowed(2);
  const Id<ConstrainedVariable> open = openEnum("open", {-3, 0, 2}), x = intEnum("x", {-1, 0});
  const Id<ConstrainedVariable> y = intEnum("y", {1});
  new EqualConstraint("eq", "Default", engine(), makeScope(open, x, y));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(m_engine->getViolationMgr().getAllViolations().size(), 1u);
  EXPECT_EQ(shown(open), "int:OPEN{-3, 0, 2}");

  const Id<ConstrainedVariable> v = openEnum("v", {-1, 0, 1, 2}), w = intEnum("w", {-2, 0, 1, 2});
  const Id<ConstrainedVariable> all = intEnum("all", {-3, -2, -1, 0, 1, 2, 3});
  new EqualConstraint("eq", "Default", engine(), makeScope(v, w));
  ASSERT_TRUE(m_engine->propagate());
  ASSERT_EQ(shown(w), "int:CLOSED{0, 1, 2}");
  // Removed from the open base, 0 goes from w too, as over a variable made over the smaller base.
  v->remove(0);
  ASSERT_TRUE(m_engine->propagate());
  ASSERT_EQ(shown(w), "int:CLOSED{1, 2}");
  v->restrictBaseDomain(all->lastDomain());
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(shown(v), "int:CLOSED{-2, 0, 1, 2}");
  EXPECT_EQ(shown(w), "int:CLOSED{-2, 0, 1, 2}");
}

// An insertion into a current domain still open gives back, like one into a closed domain, all that
// was narrowed: a rule removed 3, and the same relaxation cycle must not skip it when the rule goes.
TEST_F(OpenDomainTest, AnInsertionIntoAnOpenCurrentDomainGivesBackWhatWasNarrowed) {
  const Id<ConstrainedVariable> v5 = intEnum("v5", {1, 2, 3}), v6 = intEnum("v6", {-1, 0, 1});
  v5->specify(3);
  v6->open();
  Constraint* neq = new ValueRemovingTestConstraint("neq", "Default", engine(), makeScope(v6, v5));
  v6->insert(3);
  ASSERT_TRUE(m_engine->propagate());
  ASSERT_EQ(shown(v6), "int:OPEN{-1, 0, 1}");
  v6->insert(-2);
  delete neq;
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(shown(v6), "int:OPEN{-2, -1, 0, 1, 3}");
}

// What rules took or decided from an open base's values is given back when the base loses one:
// the variable answers as a fresh one over the smaller open base would.
TEST_F(OpenDomainTest, ARemovalFromAnOpenBaseGivesBackWhatItsValuesCaused) {
  const Id<ConstrainedVariable> x = openEnum("x", {0, 5});
  Constraint* unary = new UnaryConstraint(NumericDomain({5, 7}, IntDT::instance()), x);
  ASSERT_TRUE(m_engine->propagate());
  ASSERT_EQ(shown(x), "int:CLOSED{5}");
  x->remove(5);
  EXPECT_FALSE(m_engine->propagate());
  EXPECT_EQ(x->baseDomain().toString(), "int:OPEN{0}");
  EXPECT_EQ(shown(x), "int:CLOSED{}");
  delete unary;
  m_engine->clearEmptyVariables();

  const Id<ConstrainedVariable> t = intVar("t", 0, 1), a = openEnum("a", {1});
  new ValueRemovingTestConstraint("neq", "Default", engine(), makeScope(t, a));
  ASSERT_TRUE(m_engine->propagate());
  ASSERT_EQ(t->toString(), "0");
  a->remove(1);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(t->toString(), "[0,1]");
}

// After a removal from an open base was propagated, a creation by name refused for its scope (too
// few variables, or an enumeration where none is taken) changes nothing and leaves no work.
TEST_F(OpenDomainTest, ACreationRefusedForItsScopeAfterARemovalLeavesNothingPending) {
  const Id<ConstrainedVariable> x = openEnum("x", {0, 5}), a = intVar("a", 0, 10), b = intVar("b", 0, 10);
  const Id<ConstrainedVariable> c = intVar("c", 0, 10);
  new NotEqualConstraint("neq", "Default", engine(), makeScope(x, intVar("five", 5, 5)));
  ASSERT_TRUE(m_engine->propagate());
  x->remove(5);
  ASSERT_TRUE(m_engine->propagate());
  ASSERT_FALSE(m_engine->pending());
  const auto picture = [this] {
    std::vector<std::string> lines;
    for (const Id<ConstrainedVariable>& v : m_engine->getVariables())
      lines.push_back(v->getName().toString() + " " + v->baseDomain().toString() + " " + shown(v));
    lines.push_back(std::to_string(m_engine->getConstraints().size()) + " constraints");
    return lines;
  };
  const std::vector<std::string> before = picture();
  const std::vector<std::pair<const char*, std::vector<Id<ConstrainedVariable> > > > refused = {
      {"EqualProduct", makeScope(a, b)},
      {"neg", makeScope(x, a)},
      {"EqualProduct", makeScope(a, b, x)},
      {"EqualProduct", {a, b, c, x}}};
  for (const auto& creation : refused) {
    SCOPED_TRACE(std::string(creation.first) + " over " + std::to_string(creation.second.size()));
    EXPECT_THROW(m_engine->createConstraint(creation.first, creation.second), Error);
    EXPECT_FALSE(m_engine->pending());
    EXPECT_EQ(picture(), before);
  }
  // Made with new, refused by its class once the base has registered and linked it: the same.
  EXPECT_THROW(new NegateConstraint("neg", "Default", engine(), makeScope(x, a)), Error);
  EXPECT_FALSE(m_engine->pending());
  EXPECT_EQ(picture(), before);
  const Id<ConstrainedVariable> flag = (new Variable<BoolDomain>(engine(), BoolDomain(BoolDT::instance()), false,
                                                                 true, "flag", Id<Entity>::noId(),
                                                                 ConstrainedVariable::NO_INDEX))
                                           ->getId();
  const auto over = [this](const char* name, const AbstractDomain& base) {
    return (new Variable<EnumeratedDomain>(engine(), base, false, true, name, Id<Entity>::noId(),
                                           ConstrainedVariable::NO_INDEX))
        ->getId();
  };
  const Id<ConstrainedVariable> s = over("s", StringDomain(LabelStr("a"), StringDT::instance()));
  const Id<ConstrainedVariable> t = over("t", StringDomain(LabelStr("b"), StringDT::instance()));
  const Id<ConstrainedVariable> y = over("y", SymbolDomain(LabelStr("c"), SymbolDT::instance()));
  ASSERT_TRUE(m_engine->propagate());
  // A removal from the open base of a value the current domain lacks changes no domain: nothing
  // is left to do, before the refusals as after them.
  const Id<ConstrainedVariable> lone = openEnum("lone", {1, 2, 3});
  lone->specify(1);
  ASSERT_TRUE(m_engine->propagate());
  lone->remove(2);
  ASSERT_TRUE(m_engine->propagate());
  const std::vector<std::string> made = picture();
  EXPECT_THROW(new NegateConstraint("neg", "Default", engine(), makeScope(x, flag)), Error);
  EXPECT_FALSE(m_engine->pending());
  EXPECT_THROW(new AllDiffConstraint("allDiff", "Default", engine(), makeScope(s, t, y)), Error);
  EXPECT_FALSE(m_engine->pending());
  EXPECT_EQ(picture(), made);
}

// Auto-propagating, after a run owed by a creation and a removal the open base lacked, a refused
// new leaves nothing pending.
TEST_F(OpenDomainTest, ARefusedNewAfterAnOwedRunAndARemovalLeavesNothingPending) {
  const auto over = [this](const char* name, const AbstractDomain& base) {
    return (new Variable<EnumeratedDomain>(engine(), base, false, true, name, Id<Entity>::noId(),
                                           ConstrainedVariable::NO_INDEX))
        ->getId();
  };
  m_engine->setAutoPropagation(true);
  m_schema->registerDataType((new StringDT())->getId());
  const Id<ConstrainedVariable> str =
      m_engine->createVariable("string", false, true, "str", Id<Entity>::noId(), ConstrainedVariable::NO_INDEX);
  const Id<ConstrainedVariable> fruit =
      over("fruit", SymbolDomain(std::list<double>{LabelStr("plum"), LabelStr("teal")}, SymbolDT::instance()));
  m_engine->createConstraint("leq", makeScope(intVar("x9", 0, 9), intVar("y4", 0, 4)));
  str->remove(LabelStr("blue"));
  ASSERT_FALSE(m_engine->pending());
  EXPECT_THROW(new AllDiffConstraint("allDiff", "Default", engine(), makeScope(str, str, fruit)), Error);
  EXPECT_FALSE(m_engine->pending());
}

// An emptied enumeration whose base is opened again may gain any value: it is no longer a failure.
TEST_F(OpenDomainTest, AnEmptiedEnumerationOpenedAgainIsNoFailure) {
  const Id<ConstrainedVariable> x = intEnum("x", {1, 2}), y = intVar("y", 0, 10);
  new LessThanEqualConstraint("leq", "Default", engine(), makeScope(x, y));
  x->remove(1);
  x->remove(2);
  EXPECT_FALSE(m_engine->propagate());
  x->open();
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(shown(x), "int:OPEN{}");
  x->insert(3);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(shown(x), "int:OPEN{3}");
}

// A base restricted by a listener in the run where its open enumeration gained the members of a
// closed one: what is given back of the gain stays within the base.
TEST_F(OpenDomainTest, AGainGivenBackAfterARunStaysWithinABaseRestrictedInIt) {
  struct Restricter : ConstraintEngineListener {
    Restricter(const Id<ConstraintEngine>& e, const Id<ConstrainedVariable>& v) : ConstraintEngineListener(e), var(v) {}
    void notifyChanged(const Id<ConstrainedVariable>& v, const DomainListener::ChangeType&) override {
      if (v != var || done)
        return;
      done = true;
      var->restrictBaseDomain(NumericDomain({2, 3}, IntDT::instance()));
    }
    Id<ConstrainedVariable> var;
    bool done = false;
  };
  const Id<ConstrainedVariable> o = openEnum("o", {2}), c = intEnum("c", {1, 2, 3});
  new EqualConstraint("eq", "Default", engine(), makeScope(o, c));
  Restricter restricter(engine(), o);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(restricter.done);
  EXPECT_EQ(o->baseDomain().toString(), "int:CLOSED{2, 3}");
  EXPECT_TRUE(o->lastDomain().isSubsetOf(o->baseDomain())) << shown(o);
  EXPECT_TRUE(o->isValid());
  EXPECT_EQ(shown(c), "int:CLOSED{2, 3}");
}

// A listener specifies, inside the run, an open enumeration that gains there: the gain given
// back keeps the value specified and stays within a base that lost a value before.
TEST_F(OpenDomainTest, AGainGivenBackKeepsAValueSpecifiedInTheRun) {
  struct Specifier : ConstraintEngineListener {
    Specifier(const Id<ConstraintEngine>& e, const Id<ConstrainedVariable>& v) : ConstraintEngineListener(e), var(v) {}
    void notifyChanged(const Id<ConstrainedVariable>& v, const DomainListener::ChangeType&) override {
      if (v != var || done || !var->lastDomain().isClosed())
        return;
      done = true;
      var->specify(3);
    }
    Id<ConstrainedVariable> var;
    bool done = false;
  };
  const Id<ConstrainedVariable> s = openEnum("s", {1, 2, 3});
  new UnaryConstraint(NumericDomain({1, 2, 3}, IntDT::instance()), s);
  s->remove(2);
  Specifier specifier(engine(), s);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_TRUE(specifier.done);
  EXPECT_EQ(shown(s), "int:CLOSED{3}");
}

// Specified inside a run that sets an equality aside, an open enumeration that took a closed
// one's members holds its value after the run gives back what the constraint set aside caused.
TEST_F(OpenDomainTest, AValueSpecifiedInsideARunOutlastsWhatASetAsideConstraintGivesBack) {
  struct Specifier : ConstraintEngineListener {
    Specifier(const Id<ConstraintEngine>& e, const Id<ConstrainedVariable>& v)
        : ConstraintEngineListener(e), ce(e), var(v) {}
    void notifyChanged(const Id<ConstrainedVariable>&, const DomainListener::ChangeType&) override {
      if (ce->isPropagating() && !done && ++heard == 2) {
        done = true;
        var->specify(5);
      }
    }
    Id<ConstraintEngine> ce;
    Id<ConstrainedVariable> var;
    int heard = 0;
    bool done = false;
  };
  m_engine->setAllowViolations(true);
  const Id<ConstrainedVariable> x = openEnum("x", {0, 1, 2, 4, 5}), y = intEnum("y", {0, 1, 2, 5}),
                                z = intEnum("z", {6});
  m_engine->createConstraint("Equal", makeScope(x, y));
  m_engine->createConstraint("Equal", makeScope(y, z));
  ASSERT_EQ(shown(x), "int:CLOSED{0, 1, 2, 5}");
  Specifier specifier(engine(), x);
  m_engine->createConstraint("Equal", makeScope(y, z));
  EXPECT_TRUE(specifier.done);
  EXPECT_EQ(shown(x), "int:CLOSED{5}");
}

// A listener told of a gain's relaxation deletes the constraint that caused the gain: nothing of
// it is taken again, and the variable answers as a fresh one without that constraint would.
TEST_F(OpenDomainTest, AGainWhoseCauseGoesWhileItIsGivenBackIsNotTakenAgain) {
  struct Deleter : ConstraintEngineListener {
    Deleter(const Id<ConstraintEngine>& e, Constraint* c) : ConstraintEngineListener(e), ce(e), cause(c) {}
    void notifyChanged(const Id<ConstrainedVariable>&, const DomainListener::ChangeType& change) override {
      if (change != DomainListener::RELAXED || cause == nullptr || ce->isPropagating())
        return;
      Constraint* going = cause;
      cause = nullptr;
      delete going;
    }
    Id<ConstraintEngine> ce;
    Constraint* cause;
  };
  // An open string base answers every label a member: the current domain takes labels it lacked.
  const auto labels = [](std::list<const char*> texts) {
    StringDomain dom(StringDT::instance());
    for (const char* text : texts)
      dom.insert(text);
    dom.close();
    return dom;
  };
  const Id<ConstrainedVariable> v = (new Variable<EnumeratedDomain>(engine(), labels({"b", "c", "d"}), false, true,
                                                                    "v", Id<Entity>::noId(),
                                                                    ConstrainedVariable::NO_INDEX))
                                        ->getId();
  v->open();
  Deleter deleter(engine(), new UnaryConstraint(labels({"a", "b", "d"}), v));
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(deleter.cause, nullptr);
  EXPECT_EQ(shown(v), "string:OPEN{b,c,d}");
}

// Two open enumerations take a closed one's members through one equality, while a unary
// constraint and a count hold what they may take: each gain given back is met again alike, and
// the run ends, false, as over a fresh network.
TEST_F(OpenDomainTest, ARunGivingBackGainsEnds) {
  struct Bound : ConstraintEngineListener {
    explicit Bound(const Id<ConstraintEngine>& e) : ConstraintEngineListener(e) {}
    void notifyExecuted(const Id<Constraint>&) override {
      if (++executions > 10000)
        throw std::runtime_error("the run does not end");
    }
    long executions = 0;
  } bound(engine());
  m_engine->setAutoPropagation(false);
  const Id<ConstrainedVariable> a = openEnum("a", {1, 3}), b = openEnum("b", {4}), c = intEnum("c", {0, 3}),
                                n = intVar("n", 0, 0);
  m_engine->createConstraint("card", makeScope(n, n, a));
  EXPECT_TRUE(m_engine->propagate());
  new UnaryConstraint(NumericDomain({1}, IntDT::instance()), b);
  m_engine->createConstraint("Equal", makeScope(c, a, b));
  EXPECT_FALSE(m_engine->propagate());
  a->insert(2);
  EXPECT_FALSE(m_engine->propagate());
  EXPECT_EQ(shown(b), "int:CLOSED{}");
}

// A listener told that a variable opens specifies it, outside any run: its value stands, closed,
// as one specified before the opening would, and the next run keeps it.
TEST_F(OpenDomainTest, AValueSpecifiedWhileAVariableOpensStands) {
  struct Specifier : ConstraintEngineListener {
    Specifier(const Id<ConstraintEngine>& e, const Id<ConstrainedVariable>& v) : ConstraintEngineListener(e), var(v) {}
    void notifyChanged(const Id<ConstrainedVariable>& changed, const DomainListener::ChangeType& change) override {
      if (changed == var && change == DomainListener::OPENED)
        var->specify(1);
    }
    Id<ConstrainedVariable> var;
  };
  const Id<ConstrainedVariable> v = intEnum("v", {0, 1, 4}), w = intVar("w", 0, 2);
  new LessThanEqualConstraint("leq", "Default", engine(), makeScope(v, w));
  ASSERT_TRUE(m_engine->propagate());
  Specifier specifier(engine(), v);
  v->open();
  EXPECT_TRUE(v->specifiedFlag());
  EXPECT_EQ(shown(v), "int:CLOSED{1}");
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(shown(v), "int:CLOSED{1}");
}

// A listener told, while a variable opens, that a retired constraint over it is back closes the
// base again, by a restriction to a closed domain (which gains 5.5) or by close(): the opening
// ends there, the current domain closed within the base, and the next run keeps both.
TEST_F(OpenDomainTest, ABaseClosedAgainWhileAVariableOpensHoldsItsCurrentDomain) {
  for (const bool restricts : {true, false}) {
    SCOPED_TRACE(restricts ? "restricted" : "closed");
    const Id<ConstrainedVariable> v = enumVar("v", {6});
    Constraint* unary = new UnaryConstraint(NumericDomain({5.5, 6}, FloatDT::instance()), v);
    ASSERT_TRUE(m_engine->propagate());
    ASSERT_TRUE(unary->isRetired());
    RecordingEngineListener listener(engine());
    listener.actAt("activatedConstraint UNARY", [&] {
      if (restricts)
        v->restrictBaseDomain(NumericDomain({5.5, 6}, FloatDT::instance()));
      else
        v->close();
    });
    v->open();
    EXPECT_FALSE(listener.armed());
    const std::string closed = restricts ? "float:CLOSED{5.5, 6}" : "float:CLOSED{6}";
    EXPECT_EQ(v->baseDomain().toString(), closed);
    EXPECT_EQ(shown(v), closed);
    EXPECT_TRUE(v->isValid());
    EXPECT_TRUE(m_engine->propagate());
    EXPECT_EQ(shown(v), closed);
    delete unary;
    delete static_cast<ConstrainedVariable*>(v);
  }
}

} // namespace
} // namespace KALDEN
