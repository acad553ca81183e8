#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/ConstraintEngineListener.hh"
#include "ConstraintEngine/base/ConstraintType.hh"
#include "ConstraintEngine/component/Constraints.hh"
#include "support/EngineFixture.hh"
#include "support/Failure.hh"
#include "support/RecordingEngineListener.hh"
#include "support/TestConstraints.hh"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

// A refused call leaves the engine as it was: domains, flags, registrations, pending work and
// what the listeners heard.
class RefusedCallTest : public NetworkFixture {
protected:
  RefusedCallTest() : heard(engine()) { m_engine->setAutoPropagation(false); }

  Id<ConstrainedVariable> symbolVar(const char* name) {
    return (new Variable<EnumeratedDomain>(engine(), SymbolDomain(LabelStr("a"), SymbolDT::instance()), false, true,
                                           name, Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
        ->getId();
  }
  // What a refusal must not change.
  std::vector<std::string> picture() const {
    std::vector<std::string> result;
    for (const Id<ConstrainedVariable>& v : m_engine->getVariables())
      result.push_back(v->getName().toString() + " " + v->baseDomain().toString() + " " + v->lastDomain().toString() +
                       (v->specifiedFlag() ? " specified" : "") + (v->isValid() ? "" : " INVALID"));
    result.push_back(std::to_string(m_engine->getConstraints().size()) + " constraints" +
                     (m_engine->pending() ? ", pending" : ""));
    return result;
  }
  // Expects `call` to be refused with `condition` and to leave the picture and the listener's log as they were.
  void expectRefused(const std::function<void()>& call, const std::string& condition) {
    const std::vector<std::string> before = picture();
    heard.clear();
    EXPECT_CHECK_FAILS(call(), condition);
    EXPECT_EQ(picture(), before);
    EXPECT_EQ(heard.events(), std::vector<std::string>());
  }

  RecordingEngineListener heard;
};

TEST_F(RefusedCallTest, VariableCallsRefuseBeforeAnythingChanges) {
  const Id<ConstrainedVariable> x = intVar("x", 0, 10);
  // A real range holding no integer meets nothing of an integer base domain.
  expectRefused([&] { x->restrictBaseDomain(IntervalDomain(0.5, 0.5, FloatDT::instance())); },
                "dom.intersects(baseDomain())");

  // An interval is only widened by a reset: a narrower domain than the current one is refused
  // while the variable is still specified.
  x->specify(5);
  ASSERT_TRUE(m_engine->propagate());
  expectRefused([&] { x->reset(IntervalIntDomain(0, 4, IntDT::instance())); },
                "isEmpty() || (leq(lb, m_lb) && leq(m_ub, ub))");
  EXPECT_TRUE(x->isSpecified());
  // An enumeration takes the narrower domain's members.
  const Id<ConstrainedVariable> e = enumVar("e", {1, 2, 3});
  e->specify(3);
  e->reset(NumericDomain(std::list<double>{1, 2}, FloatDT::instance()));
  EXPECT_FALSE(e->isSpecified());
  EXPECT_EQ(e->lastDomain().getSize(), 2u);
}

TEST_F(RefusedCallTest, OpeningDuringARunIsRefusedBeforeTheDomainsOpen) {
  const Id<ConstrainedVariable> x = enumVar("x", {1, 2, 3}), y = enumVar("y", {2, 3});
  new LessThanEqualConstraint("leq", "Default", engine(), makeScope(x, y));
  class Opener : public ConstraintEngineListener {
  public:
    Opener(const Id<ConstraintEngine>& engine, const Id<ConstrainedVariable>& x)
        : ConstraintEngineListener(engine), m_x(x) {}
    void notifyExecuted(const Id<Constraint>&) override {
      refusal = failureOf([this] { m_x->open(); }).getCondition();
      closed = m_x->baseDomain().isClosed() && m_x->lastDomain().isClosed();
    }
    std::string refusal;
    bool closed = false;

  private:
    Id<ConstrainedVariable> m_x;
  } opener(engine(), x);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(opener.refusal, "!m_propInProgress");
  EXPECT_TRUE(opener.closed);
}

// Acts once, inside a run: at the first execution, or at the first emptying when armed for that.
class ActsInARun : public ConstraintEngineListener {
public:
  ActsInARun(const Id<ConstraintEngine>& engine, std::function<void()> atExecuted, std::function<void()> atEmptied)
      : ConstraintEngineListener(engine), m_atExecuted(std::move(atExecuted)), m_atEmptied(std::move(atEmptied)) {}
  void notifyExecuted(const Id<Constraint>&) override { once(m_atExecuted); }
  void notifyChanged(const Id<ConstrainedVariable>&, const DomainListener::ChangeType& change) override {
    if (change == DomainListener::EMPTIED)
      once(m_atEmptied);
  }

private:
  static void once(std::function<void()>& act) {
    if (!act)
      return;
    const std::function<void()> now = std::move(act);
    act = nullptr;
    now();
  }
  std::function<void()> m_atExecuted;
  std::function<void()> m_atEmptied;
};

// relax() and reset() widen, or would refill an emptied variable: inside a run each is refused
// before anything changes, even where nothing would widen.
TEST_F(RefusedCallTest, WideningsInsideARunAreRefusedBeforeAnythingChanges) {
  // x is at its base domain; o is an open enumeration reset to a part of its base; z is emptied,
  // over a closed singleton base.
  const Id<ConstrainedVariable> x = enumVar("x", {5, 6}), y = enumVar("y", {5, 6, 7});
  const Id<ConstrainedVariable> o = openEnum("o", {1, 2, 3}), p = openEnum("p", {1, 2, 3});
  const Id<ConstrainedVariable> z = enumVar("z", {1}), w = enumVar("w", {3, 4});
  NumericDomain part(IntDT::instance());
  part.insert(std::list<double>{1, 3});
  o->reset(part);
  new EqualConstraint("xy", "Default", engine(), makeScope(x, y));
  new EqualConstraint("op", "Default", engine(), makeScope(o, p));
  new EqualConstraint("zw", "Default", engine(), makeScope(z, w));
  const auto refusedHere = [this](const std::function<void()>& call) {
    const std::vector<std::string> before = picture();
    EXPECT_CHECK_FAILS(call(), "!m_propInProgress");
    EXPECT_EQ(picture(), before);
  };
  ActsInARun acting(
      engine(),
      [&] {
        refusedHere([&] { x->relax(); });
        refusedHere([&] { o->reset(); });
        // A narrowing is still taken.
        x->specify(6);
      },
      [&] { refusedHere([&] { z->reset(); }); });
  EXPECT_FALSE(m_engine->propagate());
  EXPECT_TRUE(x->isSpecified());
  EXPECT_EQ(x->lastDomain().getSingletonValue(), 6);
  EXPECT_EQ(o->lastDomain().getSize(), 2u);
  EXPECT_TRUE(z->lastDomain().isEmpty());
  for (const Id<ConstrainedVariable>& v : m_engine->getVariables())
    EXPECT_TRUE(v->isValid()) << v->getName().toString();
  // Outside a run the same calls are taken.
  const std::vector<Id<Constraint> > listed(m_engine->getConstraints().begin(), m_engine->getConstraints().end());
  for (const Id<Constraint>& c : listed)
    m_engine->deleteConstraint(c);
  x->reset();
  o->reset();
  EXPECT_EQ(x->lastDomain().getSize(), 2u);
  EXPECT_EQ(o->lastDomain().getSize(), 3u);
}

// An interval is always closed, and only the engine withdraws a violation it holds.
TEST_F(RefusedCallTest, OpeningAnIntervalAndUndoingAViolationAreRefused) {
  const Id<ConstrainedVariable> i = intVar("i", 0, 1), r = floatVar("r", 0, 1);
  expectRefused([&] { i->open(); }, "internal_baseDomain().isEnumerated()");
  expectRefused([&] { r->open(); }, "internal_baseDomain().isEnumerated()");
  EXPECT_FALSE(i->lastDomain().isEmpty());

  m_engine->setAllowViolations(true);
  const Id<ConstrainedVariable> x = enumVar("x", {1}), y = enumVar("y", {2});
  const Id<Constraint> eq = (new EqualConstraint("eq", "Default", engine(), makeScope(x, y)))->getId();
  EXPECT_TRUE(m_engine->propagate());
  ASSERT_TRUE(m_engine->isViolated(eq));
  expectRefused([&] { eq->undoDeactivation(); }, "m_deactivationRefCount > 1 || !isViolated()");
  // A deactivation of the client's own on top is undone as usual; the violation's stays.
  eq->deactivate();
  eq->undoDeactivation();
  EXPECT_TRUE(m_engine->isViolated(eq));
  EXPECT_FALSE(eq->isActive());
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(m_engine->getViolation(), 1.0);
}

// Told of a removal while a destructor runs, a listener's refused calls are thrown to it as
// anywhere else, and change nothing (no nested run either); nothing is printed.
TEST_F(RefusedCallTest, RefusedCallsWhileADestructorTellsOfARemovalChangeNothing) {
  m_schema->registerDataType((new IntDT())->getId());
  const Id<ConstrainedVariable> x = intVar("x", 0, 10), lb = intVar("lb", 2, 5), ub = intVar("ub", 3, 8);
  new WithinBounds("withinBounds", "Default", engine(), makeScope(x, lb, ub));
  const Id<ConstrainedVariable> e = enumVar("e", {1, 2, 3}), d = intVar("d", 0, 10);
  e->specify(2);
  new LessThanEqualConstraint("leq", "Default", engine(), makeScope(d, x));
  Id<Constraint> ordering;
  for (const Id<Constraint>& c : m_engine->getConstraints())
    if (c->standingOwner().isId())
      ordering = c;
  ASSERT_TRUE(ordering.isId());
  struct Told : ConstraintEngineListener {
    explicit Told(const Id<ConstraintEngine>& engine) : ConstraintEngineListener(engine) {}
    void notifyPropagationCommenced() override { ++runs; }
    void notifyExecuted(const Id<Constraint>&) override {
      if (victim.isValid())
        delete static_cast<ConstrainedVariable*>(victim);
    }
    void notifyRemoved(const Id<ConstrainedVariable>& v) override {
      if (v == victim)
        atRemoval();
    }
    Id<ConstrainedVariable> victim;
    std::function<void()> atRemoval;
    int runs = 0;
  } told(engine());
  told.victim = d;
  std::vector<std::string> before, after;
  unsigned long printed = 0, refused = 0;
  told.atRemoval = [&] {
    before = picture();
    const unsigned long printedBefore = Error::suppressedCount();
    const std::vector<std::function<void()> > calls{
        [&] { m_engine->propagate(); },   [&] { ordering->discard(); }, [&] { ordering->decRefCount(); },
        [&] { e->specify(7); },           [&] { e->specify(3.5); },     [&] { x->relax(); },
        [&] { e->reset(); },              [&] { lb->open(); },          [&] { ordering->undoDeactivation(); }};
    for (const std::function<void()>& call : calls) {
      try {
        call();
      } catch (const Error&) {
        ++refused;
      }
    }
    printed = Error::suppressedCount() - printedBefore;
    after = picture();
  };
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(told.runs, 1);
  EXPECT_EQ(refused, 9u);
  EXPECT_EQ(printed, 0u);
  EXPECT_EQ(after, before);
  EXPECT_FALSE(ordering->isDiscarded());
  EXPECT_EQ(ordering->refCount(), 1u);
  EXPECT_TRUE(e->isSpecified());
  EXPECT_EQ(e->lastDomain().getSize(), 1u);
  EXPECT_TRUE(x->isValid() && e->isValid());
}

// Told of a removal that a run's deletion causes (inside the destructor), a listener's removal
// from an active open base would widen inside the run: refused before the base loses the value,
// thrown to the listener (nothing printed), and the next run goes. Switched off, the variable takes the removal, and what a
// rule decided from the value is given back, but only once the run has ended.
TEST_F(RefusedCallTest, ARemovalFromAnOpenBaseInsideARunIsRefusedUnlessTheVariableIsOff) {
  const Id<ConstrainedVariable> o = openEnum("o", {1, 2, 3}), d = intVar("d", 0, 10);
  new LessThanEqualConstraint("leq", "Default", engine(), makeScope(d, intVar("e", 0, 5)));
  RecordingEngineListener actor(engine(), nullptr, "A");
  unsigned long printed = 0;
  std::string text;
  actor.actAt("executed leq", [&] {
    actor.actAt("removedVariable d", [&] {
      const unsigned long before = Error::suppressedCount();
      testing::internal::CaptureStderr();
      try {
        o->remove(2);
      } catch (const Error& refusal) {
        text = refusal.what();
      }
      EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
      printed = Error::suppressedCount() - before;
    });
    delete static_cast<ConstrainedVariable*>(d);
  });
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_FALSE(actor.armed());
  EXPECT_EQ(printed, 0u);
  EXPECT_NE(text.find("!m_propInProgress"), std::string::npos) << text;
  EXPECT_EQ(o->baseDomain().toString(), "int:OPEN{1, 2, 3}");
  EXPECT_EQ(o->lastDomain().toString(), "int:OPEN{1, 2, 3}");
  EXPECT_TRUE(m_engine->propagate());

  // A rule reading a's one value took it from t; a is then switched off.
  const Id<ConstrainedVariable> t = intVar("t", 0, 1), a = openEnum("a", {1});
  new ValueRemovingTestConstraint("neq", "Default", engine(), makeScope(t, a));
  ASSERT_TRUE(m_engine->propagate());
  ASSERT_EQ(t->toString(), "0");
  a->deactivate();
  new LessThanEqualConstraint("run", "Default", engine(), makeScope(intVar("p", 0, 10), intVar("q", 0, 5)));
  std::string tInRun;
  actor.actAt("executed run", [&] {
    a->remove(1);
    tInRun = t->toString();
  });
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(tInRun, "0");
  EXPECT_EQ(a->baseDomain().toString(), "int:OPEN{}");
  EXPECT_EQ(t->toString(), "[0,1]");
  EXPECT_FALSE(m_engine->pending());
}

TEST_F(RefusedCallTest, AConstraintRefusedWhileBuiltLeavesNothingBehind) {
  m_schema->registerConstraintType((new ConcreteConstraintType<EqualSumConstraint>("sum", "Default", false))->getId());
  m_schema->registerConstraintType(
      (new ConcreteConstraintType<AllDiffConstraint>("allDiff", "Default", false))->getId());
  m_schema->registerConstraintType((new ConcreteConstraintType<AbsoluteValue>("absVal", "Default", false))->getId());
  const Id<ConstrainedVariable> x = intVar("x", 0, 10), y = intVar("y", 0, 5), z = intVar("z", 0, 10);
  const Id<ConstrainedVariable> s = symbolVar("s");
  const Id<ConstrainedVariable> b = (new Variable<BoolDomain>(engine(), BoolDomain(BoolDT::instance()), false, true,
                                                              "b", Id<Entity>::noId(), ConstrainedVariable::NO_INDEX))
                                        ->getId();
  new LessThanEqualConstraint("leq", "Default", engine(), makeScope(x, y));
  ASSERT_TRUE(m_engine->propagate());
  ASSERT_EQ(x->lastDomain().getUpperBound(), 5);
  const char* const sameTypes =
      "AbstractDomain::canBeCompared(getCurrentDomain(m_variables[1]), getCurrentDomain(m_variables[i]))";

  // Refused by name (inside the derived constructors, or by a composite's member): nobody hears
  // of the constraint, nothing of its making stays, and x keeps the narrowing of leq.
  m_engine->setAutoPropagation(true);
  expectRefused([&] { engine()->createConstraint("allDiff", makeScope(x, s)); }, sameTypes);
  const char* const sumTypes =
      "AbstractDomain::canBeCompared(getCurrentDomain(m_variables[0]), getCurrentDomain(m_variables[i]))";
  expectRefused([&] { engine()->createConstraint("sum", makeScope(x, s, z)); }, sumTypes);
  expectRefused(
      [&] {
        engine()->createConstraint("sum", std::vector<Id<ConstrainedVariable> >{x, z, y, y, y, y, y, y, s});
      },
      sumTypes);
  // A symbol's key read as a number would reach a bound no interval holds.
  expectRefused([&] { engine()->createConstraint("absVal", makeScope(s, s)); }, "m_x.isNumeric()");
  m_engine->setAutoPropagation(false);

  // Built directly, the constraint was registered before its class refused it: the listeners
  // hear it come and go, and nothing else.
  const auto refusedDirectly = [&](const std::function<void()>& call, const std::string& condition) {
    const std::vector<std::string> before = picture();
    heard.clear();
    EXPECT_CHECK_FAILS(call(), condition);
    EXPECT_EQ(picture(), before);
    for (const std::string& event : heard.events())
      EXPECT_TRUE(event.find("Constraint") != std::string::npos || event.find("Internal") != std::string::npos)
          << event;
  };
  refusedDirectly([&] { new AllDiffConstraint("allDiff", "Default", engine(), makeScope(x, s)); }, sameTypes);
  refusedDirectly([&] { new WithinBounds("within", "Default", engine(), makeScope(x, s, z)); }, "m_x.isNumeric()");
  refusedDirectly([&] { new AbsoluteValue("abs", "Default", engine(), makeScope(x, s)); }, "m_y.isNumeric()");
  refusedDirectly([&] { new CondAllSameConstraint("cas", "Default", engine(), makeScope(b, x, s)); }, sameTypes);
  // A client's own destructor that calls while an error unwinds past it gets the refusal too,
  // to catch there: printed instead, the constructor would go on over the symbols.
  struct Cleanup {
    std::function<void()> call;
    bool refused = false;
    ~Cleanup() {
      try {
        call();
      } catch (const Error&) {
        refused = true;
      }
    }
  };
  bool refusedWhileUnwinding = false;
  const std::vector<std::string> beforeUnwinding = picture();
  const unsigned long printedBefore = Error::suppressedCount();
  try {
    Cleanup cleanup{[&] {
      try {
        engine()->createConstraint("absVal", makeScope(s, s));
      } catch (const Error&) {
        refusedWhileUnwinding = true;
        throw;
      }
    }};
    throw std::runtime_error("the client's own failure");
  } catch (const std::runtime_error&) {
  }
  EXPECT_TRUE(refusedWhileUnwinding);
  EXPECT_EQ(Error::suppressedCount(), printedBefore);
  EXPECT_EQ(picture(), beforeUnwinding);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(x->lastDomain().getUpperBound(), 5);
}

// A constraint made, then deleted by a client's destructor while an unrelated error unwinds past
// it (a call made between): an ordinary deletion, which relaxes its scope, not a refusal by its class.
TEST_F(RefusedCallTest, AConstraintDeletedWhileAnUnrelatedErrorUnwindsGoesAsAnyDeletion) {
  m_engine->setAutoPropagation(false);
  const Id<ConstrainedVariable> x = intVar("x", 0, 10), y = intVar("y", 0, 5), z = intVar("z", 0, 10);
  new LessThanEqualConstraint("leq", "Default", engine(), makeScope(x, y));
  ASSERT_TRUE(m_engine->propagate());
  struct Deleter {
    Constraint* constraint;
    ~Deleter() { delete constraint; }
  };
  std::vector<std::string> pictures[2];
  for (int unwinding = 0; unwinding < 2; ++unwinding) {
    Constraint* const unrun = new LessThanEqualConstraint("unrun", "Default", engine(), makeScope(x, z));
    m_engine->setAllowViolations(false);
    if (unwinding == 0) {
      delete unrun;
    } else {
      try {
        const Deleter deleter{unrun};
        throw std::runtime_error("the client's own failure");
      } catch (const std::runtime_error&) {
      }
    }
    pictures[unwinding] = picture();
    EXPECT_EQ(x->lastDomain().getUpperBound(), 10) << "the scope was not relaxed";
    EXPECT_TRUE(m_engine->propagate());
    EXPECT_EQ(x->lastDomain().getUpperBound(), 5);
  }
  EXPECT_EQ(pictures[1], pictures[0]);
}

// With violations allowed, a value the current domain lacks is specified after a reset, which
// widens: inside a run it is refused at the entry, also where a base restriction to one value
// would specify it. A reset that widens nothing is taken there.
TEST_F(RefusedCallTest, InsideARunWhatWouldWidenIsRefusedBeforeAnythingChanges) {
  m_engine->setAllowViolations(true);
  const Id<ConstrainedVariable> z = intVar("z", 0, 10), w = intVar("w", 5, 9), o = openEnum("o", {1, 2});
  new EqualConstraint("zw", "Default", engine(), makeScope(z, w));
  ASSERT_TRUE(m_engine->propagate());
  ASSERT_EQ(z->lastDomain().getLowerBound(), 5);
  new LessThanEqualConstraint("leq", "Default", engine(), makeScope(intVar("p", 0, 10), intVar("q", 0, 5)));
  std::vector<std::string> before, after;
  ActsInARun acting(
      engine(),
      [&] {
        before = picture();
        EXPECT_CHECK_FAILS(z->restrictBaseDomain(IntervalIntDomain(2, 2, IntDT::instance())), "!m_propInProgress");
        EXPECT_CHECK_FAILS(z->specify(1), "!m_propInProgress");
        o->reset();
        after = picture();
        z->specify(6);
      },
      nullptr);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(after, before);
  EXPECT_TRUE(z->isSpecified());
  EXPECT_EQ(w->lastDomain().getSingletonValue(), 6);
  // Outside a run both are taken: the value is the client's, and the equality is set aside.
  z->specify(1);
  EXPECT_TRUE(m_engine->propagate());
  EXPECT_EQ(z->lastDomain().getSingletonValue(), 1);
  EXPECT_EQ(m_engine->getViolation(), 1.0);
}

} // namespace
} // namespace KALDEN
