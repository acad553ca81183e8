#include "ConstraintEngine/ModuleConstraintEngine.hh"
#include "ConstraintEngine/ModuleConstraintLibrary.hh"

#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/Domains.hh"
#include "ConstraintEngine/component/UnaryConstraints.hh"
#include "Utils/Engine.hh"
#include "Utils/Entity.hh"
#include "Utils/IdTable.hh"

#include "support/CapturedTraces.hh"
#include "support/ConstraintCatalogue.hh"
#include "support/Failure.hh"
#include "support/NetworkSnapshot.hh"

#include <gtest/gtest.h>

#include <cstddef>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <list>
#include <memory>
#include <string>
#include <vector>

namespace KALDEN {
namespace {

// Every registered name with a scope it accepts, written out here rather than read from the
// module, so that a name the module drops or misspells fails. A scope is one letter a
// variable: i an integer in [0, 5], b a boolean, e the integers {1, 2, 3}, f a real in [0, 5],
// s the symbols {blue, red}, t the strings {"a", "b"}, o an open enumeration of integers holding
// nothing yet.
struct Row {
  const char* name;
  const char* scope;
};

const Row LIBRARY[] = {
    {"UNARY", "i"},
    {"AddEqual", "iii"},
    {"MultEqual", "iii"},
    {"AddMultEqual", "iiii"},
    {"addMulEq", "iiii"},
    {"AllDiff", "eee"},
    {"Cardinality", "ibbb"},
    {"CondAllDiff", "biii"},
    {"CondAllSame", "bii"},
    {"CondEqualSum", "biii"},
    {"CountNonZeros", "iiii"},
    {"CountZeros", "iii"},
    {"Equal", "ii"},
    {"EqualMaximum", "iii"},
    {"EqualMinimum", "iii"},
    {"EqualProduct", "iiii"},
    {"EqualSum", "iiii"},
    {"GreaterThanSum", "iii"},
    {"GreaterOrEqThanSum", "iii"},
    {"LessOrEqThanSum", "iii"},
    {"LessThan", "ii"},
    {"LessThanEqual", "ii"},
    {"WithinBounds", "iii"},
    {"LessThanSum", "iii"},
    {"Lock", "ee"},
    {"MemberImply", "iiii"},
    {"NotEqual", "ii"},
    {"Or", "bbb"},
    {"SubsetOf", "ii"},
    {"subsetOf", "ie"},
    {"Singleton", "ii"},
    {"TestEqual", "bii"},
    {"TestLessThan", "bii"},
    {"testEQ", "bii"},
    {"testLEQ", "bii"},
    {"addeq", "iii"},
    {"addEq", "iii"},
    {"addmuleq", "iiii"},
    {"adiff", "iii"},
    {"fadiff", "eee"},
    {"fneq", "ii"},
    {"card", "ibb"},
    {"condEq", "bii"},
    {"condeq", "bii"},
    {"condasame", "biii"},
    {"condlt", "bii"},
    {"condleq", "bii"},
    {"cardeq", "iii"},
    {"asame", "ii"},
    {"eq", "iii"},
    {"fasame", "ee"},
    {"fallmax", "iii"},
    {"fallmin", "iii"},
    {"product", "iii"},
    {"sum", "iiiii"},
    {"leqsum", "iii"},
    {"lt", "ii"},
    {"lessThan", "ii"},
    {"leq", "ii"},
    {"withinBounds", "iii"},
    {"memberImply", "iiii"},
    {"mulEq", "iii"},
    {"multEq", "iii"},
    {"neg", "ii"},
    {"neq", "ii"},
    {"for", "bb"},
    {"or", "bbb"},
    {"absVal", "ii"},
    {"addleq", "iii"},
    {"addlt", "iii"},
    {"allmax", "iii"},
    {"max", "iii"},
    {"allmin", "iii"},
    {"min", "iii"},
    {"eqcondsum", "ibii"},
    {"addeqcond", "iiib"},
    {"diffSquare", "iii"},
    {"distanceSquares", "iii"},
    {"calcDistance", "fiiii"},
    {"sin", "ff"},
};

// A host running the engine module and the library module, as a client's host does.
class Host {
public:
  Host() : m_host(new Engine()) {
    m_host->addModule(new ModuleConstraintEngine());
    m_host->addModule(new ModuleConstraintLibrary());
    m_host->start();
  }
  ~Host() { m_host->stop(); }

  CESchema& schema() const { return *static_cast<CESchema*>(m_host->getComponent("CESchema")); }
  ConstraintEngine& engine() const { return *static_cast<ConstraintEngine*>(m_host->getComponent("ConstraintEngine")); }

  Id<ConstrainedVariable> variable(char kind, const std::string& name) const {
    ConstraintEngine& ce = engine();
    switch (kind) {
    case 'b':
      return ce.createVariable("bool", BoolDomain(BoolDT::instance()), false, true, name.c_str(), Id<Entity>::noId(),
                               -1);
    case 'e':
      return ce.createVariable("int", NumericDomain(std::list<double>{1, 2, 3}, IntDT::instance()), false, true,
                               name.c_str(), Id<Entity>::noId(), -1);
    case 'f':
      return ce.createVariable("float", IntervalDomain(0, 5, FloatDT::instance()), false, true, name.c_str(),
                               Id<Entity>::noId(), -1);
    case 's':
      return ce.createVariable("symbol",
                               SymbolDomain(std::list<double>{LabelStr("blue"), LabelStr("red")}, SymbolDT::instance()),
                               false, true, name.c_str(), Id<Entity>::noId(), -1);
    case 't':
      return ce.createVariable("string",
                               StringDomain(std::list<double>{LabelStr("a"), LabelStr("b")}, StringDT::instance()),
                               false, true, name.c_str(), Id<Entity>::noId(), -1);
    case 'o':
      return ce.createVariable("int", NumericDomain(IntDT::instance()), false, true, name.c_str(), Id<Entity>::noId(),
                               -1);
    default:
      return ce.createVariable("int", IntervalIntDomain(0, 5, IntDT::instance()), false, true, name.c_str(),
                               Id<Entity>::noId(), -1);
    }
  }

  std::vector<Id<ConstrainedVariable> > scope(const char* kinds) const {
    std::vector<Id<ConstrainedVariable> > result;
    for (const char* k = kinds; *k != '\0'; ++k)
      result.push_back(variable(*k, std::string("v") + std::to_string(result.size())));
    return result;
  }

private:
  std::unique_ptr<Engine> m_host;
};

class ModuleConstraintLibraryTest : public ::testing::Test {
protected:
  ModuleConstraintLibraryTest() {
    FloatDT::instance();
    IntDT::instance();
    BoolDT::instance();
    SymbolDT::instance();
    StringDT::instance();
    m_entities = Entity::liveCount();
    m_handles = IdTable::size();
  }
  ~ModuleConstraintLibraryTest() override {
    Entity::garbageCollect();
    EXPECT_EQ(Entity::liveCount(), m_entities) << "entities left behind";
    EXPECT_EQ(IdTable::size(), m_handles) << "handles left behind";
  }

private:
  std::size_t m_entities = 0;
  std::size_t m_handles = 0;
};

// Starting registers the 80 names in order and no other; names are case-sensitive.
TEST_F(ModuleConstraintLibraryTest, RegistersEveryNameInOrder) {
  CapturedTraces traces("CESchema:registerConstraintType");
  Host host;
  std::string expected;
  for (const Row& row : LIBRARY) {
    expected += std::string("[CESchema:registerConstraintType]Registered Constraint Type ") + row.name + "\n";
    EXPECT_TRUE(host.schema().isConstraintType(row.name)) << row.name;
  }
  EXPECT_EQ(traces.text(), expected);
  EXPECT_EQ(sizeof(LIBRARY) / sizeof(LIBRARY[0]), 80u);
  EXPECT_FALSE(host.schema().isConstraintType("EQ"));
  EXPECT_FALSE(host.schema().isConstraintType("Sum"));
}

// Each name builds its constraint over a scope of the right shape, with the registered name; the
// constraint propagates at once (auto-propagation) and deleting it leaves nothing of it behind.
TEST_F(ModuleConstraintLibraryTest, CreatesPropagatesAndDeletesEveryNameByName) {
  Host host;
  ConstraintEngine& engine = host.engine();
  for (const Row& row : LIBRARY) {
    SCOPED_TRACE(row.name);
    const std::vector<Id<ConstrainedVariable> > scope = host.scope(row.scope);
    const std::size_t constraintsBefore = engine.getConstraints().size();
    const std::size_t variablesBefore = engine.getVariables().size();
    Id<Constraint> constraint;
    if (std::string(row.name) == "UNARY") {
      // Made by name, a unary constraint takes its source from another one before it runs.
      engine.setAutoPropagation(false);
      constraint = engine.createConstraint(row.name, scope);
      UnaryConstraint source(IntervalIntDomain(1, 2, IntDT::instance()), scope[0]);
      constraint->setSource(source.getId());
      engine.setAutoPropagation(true);
      EXPECT_TRUE(engine.propagate());
    } else {
      constraint = engine.createConstraint(row.name, scope);
    }
    ASSERT_TRUE(constraint.isValid());
    EXPECT_EQ(constraint->getName().toString(), row.name);
    EXPECT_TRUE(engine.propagate());
    EXPECT_FALSE(engine.provenInconsistent());
    engine.deleteConstraint(constraint);
    Entity::garbageCollect();
    EXPECT_EQ(engine.getConstraints().size(), constraintsBefore) << "members left behind";
    EXPECT_EQ(engine.getVariables().size(), variablesBefore) << "internal variables left behind";
  }
}

// A scope of the wrong size is refused with the condition the class checks and a message that
// names the constraint as the client wrote it, with the number of variables it takes and was
// given: also when the check stands for a member (AllDiff's conditional counts a hidden boolean,
// a comparison's owned sum) or for the delegate of a reordering name, which checks the least
// arity of its delegate before creating it.
TEST_F(ModuleConstraintLibraryTest, ArityFailuresNameTheConstraintAndTheCounts) {
  Host host;
  const struct {
    const char* name;
    const char* scope;
    const char* condition;
    const char* message;
  } cases[] = {
      {"addEq", "ii", "variables.size() == (unsigned int) ARG_COUNT", "addEq takes 3 variables, given 2."},
      {"UNARY", "ii", "variables.size() == 1", "UNARY takes 1 variable, given 2."},
      {"sum", "ii", "ARG_COUNT > 2 && ARG_COUNT == (unsigned int)m_variables.size()",
       "sum takes at least 3 variables, given 2."},
      {"AllDiff", "i", "ARG_COUNT > 2",
       "AllDiff takes at least 2 variables, given 1. ARG_COUNT counts a hidden boolean besides them."},
      {"leqsum", "ii", "ARG_COUNT > 2 && ARG_COUNT == (unsigned int)m_variables.size()",
       "leqsum takes at least 3 variables, given 2."},
      {"CondEqualSum", "bii", "ARG_COUNT > 2 && ARG_COUNT == (unsigned int)m_variables.size()",
       "CondEqualSum takes at least 4 variables, given 3."},
      {"addlt", "ii", "m_variables.size() >= minArity", "addlt takes at least 3 variables, given 2."},
      {"addeqcond", "iib", "m_variables.size() >= minArity", "addeqcond takes at least 4 variables, given 3."},
      // Judged before the members that would refuse the kinds: a b that is no boolean, a symbol.
      {"CondEqualSum", "iii", "ARG_COUNT > 2 && ARG_COUNT == (unsigned int)m_variables.size()",
       "CondEqualSum takes at least 4 variables, given 3."},
      {"eqcondsum", "iii", "m_variables.size() >= minArity", "eqcondsum takes at least 4 variables, given 3."},
      {"addeqcond", "iii", "m_variables.size() >= minArity", "addeqcond takes at least 4 variables, given 3."},
      {"CondEqualSum", "ss", "m_variables.size() > 2", "CondEqualSum takes at least 4 variables, given 2."},
      {"leqsum", "s", "ARG_COUNT > 2 && ARG_COUNT == (unsigned int)m_variables.size()",
       "leqsum takes at least 3 variables, given 1."},
      {"GreaterThanSum", "si", "ARG_COUNT > 2 && ARG_COUNT == (unsigned int)m_variables.size()",
       "GreaterThanSum takes at least 3 variables, given 2."},
      // Too short to reorder: the reordering's own check, with what the name takes in all.
      {"max", "i", "(unsigned) abs(rotateCount) < m_variables.size()", "max takes at least 2 variables, given 1."},
      {"addlt", "i", "(unsigned) abs(rotateCount) < m_variables.size()", "addlt takes at least 3 variables, given 1."},
      {"addeqcond", "ib", "(unsigned) abs(rotateCount) < m_variables.size()",
       "addeqcond takes at least 4 variables, given 2."},
      {"eqcondsum", "i", "(unsigned) abs(secondIndex) < m_variables.size()",
       "eqcondsum takes at least 4 variables, given 1."},
      // An empty scope is refused before any class is built.
      {"leq", "", "scope.size() >= 1", "leq takes at least 1 variable, given 0."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<Id<ConstrainedVariable> > scope = host.scope(c.scope);
    const Error failure = failureOf([&] { host.engine().createConstraint(c.name, scope); });
    EXPECT_EQ(failure.getCondition(), c.condition);
    EXPECT_EQ(failure.getMessage(), c.message);
    EXPECT_TRUE(host.engine().getConstraints().empty());
  }
}

// The kinds a position of the kind table takes, one letter each: closed, i an integer in [0, 5],
// f a real in [-1, 1.5], b a boolean, e the integers {1, 2, 3}, n the integers {0, 1} (truth values
// that an opening would no longer confine), s the symbols {blue, red}, t the strings {"a", "b"};
// decided, d the integer 1, k the symbol blue (rules act on decided values); open, o the integers
// {1, 2}, y the symbols {blue}, u the strings {"a"}; emptied by a failed run before the constraint
// is made, x an integer in [0, 5], r a real in [-1, 1.5], z the symbols {blue, red}.
const std::string TABLE_KINDS = "ifbenstdkoyuxrz";

// One scope of the kind table, made afresh for each case so that a case sees only its own
// variables: each emptied one is emptied by a unary constraint and a failed run.
class KindCase {
public:
  KindCase(ConstraintEngine& engine, const std::string& kinds) : m_engine(engine) {
    for (char kind : kinds)
      m_scope.push_back(make(kind, "v" + std::to_string(m_scope.size())));
    for (std::size_t i = 0; i < kinds.size(); ++i) {
      std::unique_ptr<AbstractDomain> source;
      if (kinds[i] == 'x')
        source.reset(new IntervalIntDomain(7, 9, IntDT::instance()));
      else if (kinds[i] == 'r')
        source.reset(new IntervalDomain(3, 4, FloatDT::instance()));
      else if (kinds[i] == 'z')
        source.reset(new SymbolDomain(LabelStr("green"), SymbolDT::instance()));
      if (source != nullptr)
        m_emptiers.push_back((new UnaryConstraint(*source, m_scope[i]))->getId());
    }
    // Nothing is owed when the constraint is made, so that a refusal that leaves work shows.
    EXPECT_EQ(engine.propagate(), m_emptiers.empty()) << kinds;
  }
  ~KindCase() {
    // Its variables take every constraint on them along.
    for (const Id<ConstrainedVariable>& var : m_scope)
      var->discard();
    Entity::garbageCollect();
  }

  const std::vector<Id<ConstrainedVariable> >& scope() const { return m_scope; }

  // Gives the emptied variables back their values.
  void refill() {
    for (const Id<Constraint>& emptier : m_emptiers)
      m_engine.deleteConstraint(emptier);
    m_emptiers.clear();
  }

private:
  Id<ConstrainedVariable> make(char kind, const std::string& name) {
    const auto create = [&](const AbstractDomain& domain, const char* type) {
      return m_engine.createVariable(type, domain, false, true, name.c_str(), Id<Entity>::noId(), -1);
    };
    const std::list<double> symbols{LabelStr("blue"), LabelStr("red")};
    Id<ConstrainedVariable> var;
    switch (kind) {
    case 'f':
    case 'r':
      return create(IntervalDomain(-1, 1.5, FloatDT::instance()), "float");
    case 'b':
      return create(BoolDomain(BoolDT::instance()), "bool");
    case 'd':
      return create(IntervalIntDomain(1, 1, IntDT::instance()), "int");
    case 'k':
      return create(SymbolDomain(LabelStr("blue"), SymbolDT::instance()), "symbol");
    case 'e':
      return create(NumericDomain(std::list<double>{1, 2, 3}, IntDT::instance()), "int");
    case 'n':
      return create(NumericDomain(std::list<double>{0, 1}, IntDT::instance()), "int");
    case 's':
    case 'z':
      return create(SymbolDomain(symbols, SymbolDT::instance()), "symbol");
    case 't':
      return create(StringDomain(std::list<double>{LabelStr("a"), LabelStr("b")}, StringDT::instance()), "string");
    case 'o':
      var = create(NumericDomain(std::list<double>{1, 2}, IntDT::instance()), "int");
      break;
    case 'y':
      var = create(SymbolDomain(LabelStr("blue"), SymbolDT::instance()), "symbol");
      break;
    case 'u':
      var = create(StringDomain(LabelStr("a"), StringDT::instance()), "string");
      break;
    default:
      return create(IntervalIntDomain(0, 5, IntDT::instance()), "int");
    }
    var->open();
    return var;
  }

  ConstraintEngine& m_engine;
  std::vector<Id<ConstrainedVariable> > m_scope;
  std::vector<Id<Constraint> > m_emptiers;
};

// The scopes the kind table tries for a name whose accepted scope is `row`: every mix of kinds
// over up to two positions; over more, every mix at every two positions, the others as in `row`,
// and every scope of one kind throughout. A rule that cannot read a kind fails over it beside
// kinds it reads, and one whose kinds conflict fails over the two that conflict.
std::set<std::string> tableScopes(const std::string& row) {
  std::set<std::string> scopes;
  const std::size_t n = row.size();
  for (char kind : TABLE_KINDS) {
    scopes.insert(std::string(n, kind));
    for (std::size_t p = 0; p < n; ++p) {
      std::string kinds = row;
      kinds[p] = kind;
      scopes.insert(kinds);
      for (std::size_t q = p + 1; q < n; ++q)
        for (char other : TABLE_KINDS) {
          kinds[q] = other;
          scopes.insert(kinds);
          kinds[q] = row[q];
        }
    }
  }
  return scopes;
}

// The catalogue's entry for a registered name, when it can build the class with `new` over a
// scope alone; null otherwise (the unary constraint takes a source).
const ConstraintEntry* entryFor(const std::string& name) {
  for (const ConstraintEntry& e : constraintCatalogue())
    for (const char* registered : e.names)
      if (name == registered && !e.hasData)
        return &e;
  return nullptr;
}

// Every name, over every mix of kinds in its positions (numbers, booleans, symbols, strings; open
// and closed; emptied by a failed run), made by name and with `new` with auto-propagation off,
// is either refused when made, leaving the network as it was (domains, counts, registrations,
// pending work, what listeners heard), or runs cleanly: no check fails in the run after it, nor
// in the one after its emptied variables are given back their values, nor after its deletion.
// Both ways of making it give the same verdict. A scope refused when made is refused when reached
// later too, by opening, inserting into, restricting or closing a variable of an accepted one.
TEST_F(ModuleConstraintLibraryTest, EveryNameRefusesWhenMadeAScopeItCannotRead) {
  Host host;
  ConstraintEngine& engine = host.engine();
  engine.setAutoPropagation(false);
  const HeardCounter heard(engine.getId());
  // Per name, how many cases failed and the first of them.
  std::map<std::string, std::pair<std::size_t, std::string> > faults;
  std::string current;
  const auto fault = [&](const std::string& text) {
    std::pair<std::size_t, std::string>& f = faults[current];
    if (f.first++ == 0)
      f.second = text;
  };
  // Runs what is owed; a failed check is a fault of the case.
  const auto run = [&](const std::string& what, const char* when) {
    try {
      engine.propagate();
    } catch (const Error& e) {
      fault(what + ": " + when + " failed " + e.getCondition() + " \"" + e.getMessage() + "\"");
    }
  };
  // The later ways to another scope: each enumeration of an accepted one is opened, given a value
  // and closed again (a closed one), or given a value and restricted to a closed domain holding
  // one more (an open one). Each step is refused, leaving the network as it was, or reaches a
  // scope the name accepts when made, and the run after it fails no check. A lock opened again is
  // the exception: its rule waits until the lock is closed.
  const auto reachLater = [&](const std::string& name, const std::string& what, const KindCase& made) {
    for (std::size_t p = 0; p < made.scope().size(); ++p) {
      const Id<ConstrainedVariable> var = made.scope()[p];
      if (!var->baseDomain().isEnumerated() || (name == "Lock" && p == 1))
        continue;
      const bool numbers = var->baseDomain().isNumeric();
      const auto insert = [&var, numbers] { var->insert(numbers ? 5.0 : double(LabelStr("green"))); };
      const auto restrict = [&var, numbers] {
        std::unique_ptr<AbstractDomain> closed(var->baseDomain().copy());
        closed->insert(numbers ? 7.0 : double(LabelStr("plum")));
        closed->close();
        var->restrictBaseDomain(*closed);
      };
      typedef std::vector<std::pair<const char*, std::function<void()> > > Steps;
      const Steps steps =
          var->isClosed()
              ? Steps{{"open", [&var] { var->open(); }}, {"insert", insert}, {"close", [&var] { var->close(); }}}
              : Steps{{"insert", insert}, {"restrict", restrict}};
      for (const auto& step : steps) {
        const std::string at = what + ", " + step.first + " v" + std::to_string(p);
        const NetworkSnapshot before(engine, heard);
        try {
          step.second();
        } catch (const Error&) {
          Entity::garbageCollect();
          const std::string changed = before.differenceFrom(NetworkSnapshot(engine, heard));
          if (!changed.empty())
            fault(at + ": refused, but changed " + changed);
          break;
        }
        try {
          engine.deleteConstraint(engine.createConstraint(name, made.scope()));
        } catch (const Error& e) {
          fault(at + ": reached a scope refused when made, " + e.getCondition());
        }
        run(at, "the run after it");
      }
    }
  };
  // One case: whether it was refused.
  const auto attempt = [&](const std::string& name, const std::string& kinds, const ConstraintEntry* withNew) {
    const std::string what = name + (withNew != nullptr ? " (new)" : "") + " over " + kinds;
    KindCase made(engine, kinds);
    const NetworkSnapshot before(engine, heard);
    Id<Constraint> constraint;
    try {
      if (withNew != nullptr)
        constraint = withNew->build(engine.getId(), "Default", made.scope(), {})->getId();
      else
        constraint = engine.createConstraint(name, made.scope());
    } catch (const Error&) {
      Entity::garbageCollect();
      const std::string changed = before.differenceFrom(NetworkSnapshot(engine, heard), withNew != nullptr);
      if (!changed.empty())
        fault(what + ": refused, but changed " + changed);
      return true;
    }
    run(what, "its run");
    if (withNew == nullptr)
      reachLater(name, what, made);
    made.refill();
    run(what, "the run after the emptied were refilled");
    engine.deleteConstraint(constraint);
    run(what, "the run after its deletion");
    return false;
  };
  // Made with `new`, every scope refused by name is tried, and one accepted in eight: the class
  // judges alike whoever makes it, and a refusal must change nothing either way. Under the
  // address sanitizer, which checks how memory is used rather than the verdicts, one scope in four
  // of every name keeps the run short.
#if defined(__SANITIZE_ADDRESS__)
  const std::size_t stride = 4;
#else
  const std::size_t stride = 1;
#endif
  std::size_t cases = 0, drawn = 0;
  for (const Row& row : LIBRARY) {
    current = row.name;
    const ConstraintEntry* entry = entryFor(row.name);
    for (const std::string& kinds : tableScopes(row.scope)) {
      if (drawn++ % stride != 0)
        continue;
      const bool refused = attempt(row.name, kinds, nullptr);
      if (entry != nullptr && (refused || cases % 8 == 0) && attempt(row.name, kinds, entry) != refused)
        fault(std::string(row.name) + " over " + kinds + ": " + (refused ? "accepted" : "refused") +
              " with new, not by name");
      ++cases;
    }
  }
  EXPECT_GT(cases, 80u * TABLE_KINDS.size());
  for (const auto& f : faults)
    ADD_FAILURE() << f.first << ": " << f.second.first << " faults, the first " << f.second.second;
}

// Reads the reference page of constraint names: each name with its arity cell ("3" or "≥ 3").
void readReferencePage(std::map<std::string, std::string>& arityOf) {
  std::ifstream page(KALDEN_SOURCE_DIR "/docs/constraints.md");
  ASSERT_TRUE(page.good());
  std::string line;
  while (std::getline(page, line)) {
    if (line.rfind("| `", 0) != 0)
      continue;
    std::vector<std::string> cells; // names, class, arity
    std::size_t start = 2;
    for (int i = 0; i < 3; ++i) {
      const std::size_t end = line.find(" | ", start);
      ASSERT_NE(end, std::string::npos) << line;
      cells.push_back(line.substr(start, end - start));
      start = end + 3;
    }
    for (std::size_t open = cells[0].find('`'); open != std::string::npos; open = cells[0].find('`', open)) {
      const std::size_t close = cells[0].find('`', open + 1);
      const std::string name = cells[0].substr(open + 1, close - open - 1);
      EXPECT_TRUE(arityOf.emplace(name, cells[2]).second) << name << " is listed twice";
      open = close + 1;
    }
  }
}

// An arity cell read: whether it says "at least", and the count.
std::pair<bool, std::size_t> parseArity(const std::string& cell) {
  const std::string atLeast = "≥ ";
  const bool isAtLeast = cell.rfind(atLeast, 0) == 0;
  return {isAtLeast, std::stoul(isAtLeast ? cell.substr(atLeast.size()) : cell)};
}

// The message a scope of `given` variables is refused with; an empty scope is refused before
// the class is known.
std::string refusal(const std::string& name, bool isAtLeast, std::size_t arity, std::size_t given) {
  if (given == 0)
    return name + " takes at least 1 variable, given 0.";
  return name + " takes " + (isAtLeast ? "at least " : "") + std::to_string(arity) +
         (arity == 1 ? " variable" : " variables") + ", given " + std::to_string(given) + ".";
}

// The reference page of constraint names lists every registered name once, in a row whose arity
// ("3" or "≥ 3") admits the scope this file uses for it and refuses one variable fewer (one more
// too, for an exact arity) with the message that states that arity, building nothing: the
// network, the engine's flags and the listeners' picture stay as they were.
TEST_F(ModuleConstraintLibraryTest, ReferencePageListsEveryNameWithItsArity) {
  std::map<std::string, std::string> arityOf;
  ASSERT_NO_FATAL_FAILURE(readReferencePage(arityOf));
  EXPECT_EQ(arityOf.size(), sizeof(LIBRARY) / sizeof(LIBRARY[0]));
  Host host;
  const HeardCounter heard(host.engine().getId());
  for (const Row& row : LIBRARY) {
    SCOPED_TRACE(row.name);
    const auto it = arityOf.find(row.name);
    ASSERT_NE(it, arityOf.end()) << "not listed";
    const std::string scope(row.scope);
    const bool isAtLeast = parseArity(it->second).first;
    const std::size_t arity = parseArity(it->second).second;
    if (isAtLeast)
      EXPECT_GE(scope.size(), arity);
    else
      EXPECT_EQ(scope.size(), arity);
    // One variable fewer than the arity: summands go first, the booleans a conditional needs stay.
    std::string shorter = scope;
    while (shorter.size() >= arity) {
      const std::size_t last = shorter.find_last_not_of('b');
      shorter.erase(last == std::string::npos ? shorter.size() - 1 : last, 1);
    }
    std::vector<std::string> refused{shorter};
    if (!isAtLeast)
      refused.push_back(scope + scope.back());
    for (const std::string& kinds : refused) {
      const std::vector<Id<ConstrainedVariable> > variables = host.scope(kinds.c_str());
      const NetworkSnapshot before(host.engine(), heard);
      const int firstKey = Entity::nextKey();
      const std::string message =
          failureOf([&] { host.engine().createConstraint(row.name, variables); }).getMessage();
      // Nothing is built but the constraint refused: no interim variable, no member.
      EXPECT_LE(Entity::nextKey() - firstKey, 1) << kinds;
      const std::string expected = refusal(row.name, isAtLeast, arity, kinds.size());
      // The message may go on to explain its condition.
      EXPECT_EQ(message.substr(0, expected.size()), expected) << kinds;
      EXPECT_TRUE(host.engine().getConstraints().empty());
      Entity::garbageCollect();
      EXPECT_EQ(before.differenceFrom(NetworkSnapshot(host.engine(), heard)), "") << kinds;
    }
  }
}

// Every too-short scope of every name, with its variables of every kind in every order, is
// refused with the message that states the name's arity: the size is judged before any kind
// (a conditional's boolean, numbers to compare, a test's truth values), and nothing is built:
// no inner member or internal variable is registered or heard of, and the engine's flags, the
// pending work among them, stay as they were.
TEST_F(ModuleConstraintLibraryTest, EveryTooShortScopeOfAnyKindsStatesTheArity) {
  std::map<std::string, std::string> arityOf;
  ASSERT_NO_FATAL_FAILURE(readReferencePage(arityOf));
  Host host;
  ConstraintEngine& engine = host.engine();
  const HeardCounter heard(engine.getId());
  const std::string kinds = "ibefsto";
  // A variable of each kind for each position, so that no scope repeats one.
  std::map<std::pair<char, std::size_t>, Id<ConstrainedVariable> > pool;
  const auto variableAt = [&](char kind, std::size_t position) {
    Id<ConstrainedVariable>& var = pool[{kind, position}];
    if (var.isNoId())
      var = host.variable(kind, std::string(1, kind) + std::to_string(position));
    return var;
  };
  for (std::size_t position = 0; position < 4; ++position)
    for (char kind : kinds)
      variableAt(kind, position);
  const std::size_t variables = engine.getVariables().size();
  for (const auto& entry : arityOf) {
    const std::string& name = entry.first;
    const bool isAtLeast = parseArity(entry.second).first;
    const std::size_t arity = parseArity(entry.second).second;
    std::vector<std::string> wrong; // the kinds of each scope refused otherwise
    std::string firstWrong;
    for (std::size_t size = 1; size < arity; ++size) {
      // Every assignment of kinds to the positions, as the digits of a number in base kinds.size().
      std::vector<std::size_t> digits(size, 0);
      for (bool more = true; more;) {
        std::vector<Id<ConstrainedVariable> > scope;
        std::string written;
        for (std::size_t i = 0; i < size; ++i) {
          written += kinds[digits[i]];
          scope.push_back(variableAt(kinds[digits[i]], i));
        }
        const std::size_t handles = IdTable::size();
        const NetworkSnapshot before(engine, heard);
        const int firstKey = Entity::nextKey();
        const Error failure = failureOf([&] { engine.createConstraint(name, scope); });
        ASSERT_LE(Entity::nextKey() - firstKey, 1) << name << " over " << written << " built more than itself";
        const std::string expected = refusal(name, isAtLeast, arity, size);
        if (failure.getMessage().substr(0, expected.size()) != expected) {
          if (wrong.empty())
            firstWrong = failure.getCondition() + ": \"" + failure.getMessage() + "\"";
          wrong.push_back(written);
        }
        ASSERT_TRUE(engine.getConstraints().empty()) << name << " over " << written;
        ASSERT_EQ(engine.getVariables().size(), variables) << name << " over " << written;
        Entity::garbageCollect();
        ASSERT_EQ(IdTable::size(), handles) << name << " over " << written;
        ASSERT_EQ(before.differenceFrom(NetworkSnapshot(engine, heard)), "") << name << " over " << written;
        more = false;
        for (std::size_t i = 0; i < size && !more; ++i) {
          more = ++digits[i] < kinds.size();
          if (!more)
            digits[i] = 0;
        }
      }
    }
    EXPECT_TRUE(wrong.empty()) << name << ": " << wrong.size() << " scopes, the first " << wrong.front()
                               << ", refused with " << firstWrong;
  }
}


// Stopping the library removes every constraint type, including one a client registered, and the
// names are refused afterwards; starting twice leaves one factory per name.
TEST_F(ModuleConstraintLibraryTest, StopRemovesEveryTypeAndRestartReplaces) {
  std::unique_ptr<Engine> host(new Engine());
  host->addModule(new ModuleConstraintEngine());
  ModuleConstraintLibrary* library = new ModuleConstraintLibrary();
  EXPECT_EQ(library->getName(), "ConstraintLibrary");
  host->addModule(library);
  host->start();
  CESchema& schema = *static_cast<CESchema*>(host->getComponent("CESchema"));
  const Id<ConstraintType> first = schema.getConstraintType("leq");
  library->initialize(host->getId());
  EXPECT_FALSE(first.isValid()) << "the first start's factory was released";
  EXPECT_TRUE(schema.getConstraintType("leq").isValid());

  library->uninitialize(host->getId());
  ConstraintEngine& engine = *static_cast<ConstraintEngine*>(host->getComponent("ConstraintEngine"));
  for (const Row& row : LIBRARY)
    EXPECT_FALSE(schema.isConstraintType(row.name)) << row.name;
  const Id<ConstrainedVariable> x = engine.createVariable("int", false, true, "x", Id<Entity>::noId(), -1);
  const Id<ConstrainedVariable> y = engine.createVariable("int", false, true, "y", Id<Entity>::noId(), -1);
  EXPECT_EQ(failureOf([&] { engine.createConstraint("leq", makeScope(x, y)); }).getMessage(),
            "Factory for constraint 'leq' is not registered.");
  library->initialize(host->getId()); // so that stop finds what it expects
  host->stop();
}

// Starting the library in a host without a schema is the host's mistake: a clear failed check.
TEST_F(ModuleConstraintLibraryTest, StartWithoutSchemaFailsClearly) {
  Engine host;
  ModuleConstraintLibrary library;
  EXPECT_NE(failureOf([&] { library.initialize(host.getId()); }).getMessage().find("CESchema"), std::string::npos);
  EXPECT_NE(failureOf([&] { library.uninitialize(host.getId()); }).getMessage().find("CESchema"), std::string::npos);
}

// A module of the client's: logs its starts and stops, refuses to start while told to, and
// publishes a component under the name it is given, if any.
class ClientModule : public Module {
public:
  ClientModule(std::vector<std::string>& log, const bool& refuse, const char* publishes = nullptr)
      : Module("Client"), m_log(log), m_refuse(refuse), m_publishes(publishes) {}
  void initialize() override {}
  void uninitialize() override {}
  void initialize(Id<Engine> engine) override {
    if (m_refuse)
      throw Error("ready", "the client is not ready", "test", 0);
    if (m_publishes != nullptr)
      engine->addComponent(m_publishes, new EngineComponent());
    m_log.push_back("start");
  }
  void uninitialize(Id<Engine> engine) override {
    if (m_publishes != nullptr)
      delete engine->removeComponent(m_publishes);
    m_log.push_back("stop");
  }

private:
  std::vector<std::string>& m_log;
  const bool& m_refuse;
  const char* m_publishes;
};

// A start that fails stops again, in reverse order, what it started: the host has no component
// left, starting it again fails the same way, and destroying it reports nothing more.
TEST_F(ModuleConstraintLibraryTest, FailedStartLeavesTheHostAsItWas) {
  const std::string libraryFirst = "start the ConstraintEngine module before the ConstraintLibrary module";
  const struct {
    // c the client's module (p: one that publishes "ConstraintEngine"), E the engine module, L the library module
    const char* modules;
    std::string failure;
    std::vector<std::string> log;
  } cases[] = {
      {"LE", libraryFirst, {}},
      {"cLE", libraryFirst, {"start", "stop"}},
      {"cL", libraryFirst, {"start", "stop"}},
      {"EcLE", "A component named CESchema is already published.", {"start", "stop"}},
      // The engine module publishes its schema before its engine is refused: the schema goes too.
      {"pEL", "A component named ConstraintEngine is already published.", {"start", "stop"}},
  };
  const bool ready = false;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.modules);
    std::vector<std::string> log;
    const unsigned long printedBefore = Error::suppressedCount();
    {
      Engine host;
      for (const char* m = c.modules; *m != '\0'; ++m)
        host.addModule(*m == 'E'   ? static_cast<Module*>(new ModuleConstraintEngine())
                       : *m == 'L' ? static_cast<Module*>(new ModuleConstraintLibrary())
                                   : new ClientModule(log, ready, *m == 'p' ? "ConstraintEngine" : nullptr));
      for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_NE(failureOf([&] { host.start(); }).getMessage().find(c.failure), std::string::npos);
        EXPECT_FALSE(host.isStarted());
        EXPECT_EQ(host.getComponent("CESchema"), nullptr);
        EXPECT_EQ(host.getComponent("ConstraintEngine"), nullptr);
      }
    }
    EXPECT_EQ(Error::suppressedCount(), printedBefore) << "a failure was reported on the way out";
    std::vector<std::string> twice(c.log);
    twice.insert(twice.end(), c.log.begin(), c.log.end());
    EXPECT_EQ(log, twice);
  }
}

// Once what made the start fail is put right, the same host starts and works.
TEST_F(ModuleConstraintLibraryTest, StartsAgainAfterAFailedStart) {
  std::vector<std::string> log;
  bool refuse = true;
  Engine host;
  host.addModule(new ModuleConstraintEngine());
  host.addModule(new ModuleConstraintLibrary());
  host.addModule(new ClientModule(log, refuse));
  EXPECT_EQ(failureOf([&] { host.start(); }).getCondition(), "ready");
  EXPECT_EQ(host.getComponent("ConstraintEngine"), nullptr);

  refuse = false;
  host.start();
  ConstraintEngine& engine = *static_cast<ConstraintEngine*>(host.getComponent("ConstraintEngine"));
  const Id<ConstrainedVariable> x = engine.createVariable("int", IntervalIntDomain(0, 10, IntDT::instance()), false,
                                                          true, "x", Id<Entity>::noId(), -1);
  const Id<ConstrainedVariable> y = engine.createVariable("int", IntervalIntDomain(0, 4, IntDT::instance()), false,
                                                          true, "y", Id<Entity>::noId(), -1);
  engine.createConstraint("leq", makeScope(x, y));
  EXPECT_TRUE(engine.propagate());
  EXPECT_EQ(x->lastDomain().getUpperBound(), 4);
  host.stop();
  EXPECT_EQ(log, (std::vector<std::string>{"start", "stop"}));
}

} // namespace
} // namespace KALDEN
