#include "support/OperationSequence.hh"

#include "ConstraintEngine/component/DataTypes.hh"
#include "Utils/Entity.hh"
#include "Utils/IdTable.hh"
#include "support/ConstraintCatalogue.hh"
#include "support/ListenerDraws.hh"
#include "support/OperationSession.hh"
#include "support/TenthsDomains.hh"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <vector>

namespace KALDEN {

namespace {

typedef OperationSequence::Operation Operation;
typedef OperationSequence::Type Type;

const int LEAST = DrawnDomain::LEAST;
const int GREATEST = DrawnDomain::GREATEST;
const std::size_t MAX_VARIABLES = 7;
const std::size_t MAX_CONSTRAINTS = 7;
// Counts what the utility layer holds, to find what a session left behind.
struct Census {
  std::size_t entities;
  std::size_t handles;
  static Census now() {
    // The shared data types live for the whole process: make them before counting.
    FloatDT::instance();
    IntDT::instance();
    BoolDT::instance();
    StringDT::instance();
    SymbolDT::instance();
    return Census{Entity::liveCount(), IdTable::size()};
  }
};

// Draws from a seeded generator; the same seed gives the same session on every platform.
class Draw {
public:
  explicit Draw(unsigned int seed) : m_rng(seed) {}
  int between(int lo, int hi) { return lo + static_cast<int>(m_rng() % static_cast<unsigned int>(hi - lo + 1)); }
  bool chance(int inN) { return between(1, inN) == 1; }
  template <class T>
  const T& pick(const std::vector<T>& from) {
    return from[static_cast<std::size_t>(between(0, static_cast<int>(from.size()) - 1))];
  }

private:
  std::mt19937 m_rng;
};

// Draws legal operations for a session. It keeps a hidden solution, a witness value per
// variable, and draws most constraints, specifications and restrictions to agree with it, so
// that most networks stay solvable and the checks of a true answer get to run.
class Generator {
public:
  Generator(unsigned int seed, bool equality)
      : m_draw(seed), m_equality(equality), m_listenerDraws(seed), m_hairDraw(seed * 2246822519u + 7u) {}

  // Whether the session ends clearing what the engine lists inside the tear-down bracket.
  bool clearsInTearDown() const { return m_equality; }

  // The next operation, or a refused call; the deleting listener armed on some.
  Operation draw(const OperationSession& s) {
    Operation op;
    if (m_listenerDraws.refusal(s, op))
      return op;
    op = next(s);
    m_listenerDraws.armListener(op);
    return op;
  }

  // The opening variables; the first operations drawn then add constraints over them.
  void initial(std::vector<Operation>& out) {
    if (m_equality) {
      equalityInitial(out);
      return;
    }
    const int variables = m_draw.between(3, 5);
    for (int i = 0; i < variables; ++i)
      out.push_back(newVariable(KIND_ANY | KIND_LABELS));
    // Half the sessions open by switching violations or setting a limit; later operations do so rarely.
    if (m_draw.chance(2))
      out.push_back(violations());
  }

  // The next operation; a constraint whose position nothing fits first asks for a variable.
  Operation next(const OperationSession& s) {
    // Now and then a few operations drawn together, each legal or skipped when its turn comes.
    if (m_following.empty() && m_opening == 0 && m_draw.chance(40)) {
      if (m_draw.chance(3))
        gainBesideWithinBounds(s);
      else
        emptyThenSwitch(s);
    }
    if (!m_following.empty()) {
      const Operation op = m_following.front();
      m_following.pop_front();
      return op;
    }
    if (m_equality)
      return equalityNext(s);
    // The network starts with a few constraints.
    if (m_opening > 0) {
      --m_opening;
      return newConstraint(s);
    }
    const int roll = m_draw.between(0, 109);
    if (roll < 20)
      return Operation();
    if (roll < 30)
      return onVariable(s, Type::SPECIFY);
    if (roll < 36)
      return onVariable(s, Type::RESET);
    if (roll < 40)
      return onVariable(s, Type::RELAX);
    if (roll < 47)
      return onVariable(s, Type::RESTRICT_BASE);
    if (roll < 51)
      return onConstraint(s, Type::DEACTIVATE_CONSTRAINT);
    if (roll < 55)
      return onConstraint(s, Type::ACTIVATE_CONSTRAINT);
    if (roll < 58)
      return onVariable(s, Type::DEACTIVATE_VARIABLE);
    if (roll < 61)
      return onVariable(s, Type::ACTIVATE_VARIABLE);
    if (roll < 76)
      return newConstraint(s);
    if (roll < 82)
      return onConstraint(s, Type::DELETE_CONSTRAINT);
    if (roll < 86)
      return onVariable(s, Type::DELETE_VARIABLE);
    if (roll < 91)
      return liveCount(s.variables()) < MAX_VARIABLES ? newVariable(KIND_ANY | KIND_LABELS) : Operation();
    if (roll < 93)
      return onOpenVariable(s, Type::INSERT_VALUE);
    if (roll < 94)
      return onOpenVariable(s, Type::CLOSE_VARIABLE);
    if (roll >= 104)
      return dynamicDomain(s, roll);
    if (roll >= 100)
      return violations();
    Operation op;
    op.type = Type::AUTO_PROPAGATION;
    op.flag = m_draw.chance(2);
    return op;
  }

private:
  template <class M>
  static std::size_t liveCount(const M& records) {
    std::size_t n = 0;
    for (const auto& r : records)
      n += r.second.alive ? 1 : 0;
    return n;
  }

  static bool isRange(int kind) { return kind == KIND_INTERVAL || kind == KIND_REAL; }
  static bool isOpen(int kind) { return kind == KIND_OPEN || kind == KIND_STRING_OPEN; }
  static bool isEnumeration(int kind) { return kind == KIND_ENUMERATION || kind == KIND_STRING || isOpen(kind); }

  // A domain of the kind: intervals mostly wider than one value, enumerations of about half
  // the values, booleans mostly undecided.
  std::vector<int> drawValues(int kind) {
    if (kind == KIND_BOOLEAN) {
      const int which = m_draw.between(0, 5);
      return which < 4 ? std::vector<int>{0, 1} : std::vector<int>{which - 4};
    }
    if (isRange(kind)) {
      const int lb = m_draw.between(LEAST, GREATEST);
      return {lb, std::min(GREATEST, lb + (m_draw.chance(6) ? 0 : m_draw.between(1, 4)))};
    }
    std::vector<int> values;
    // An open enumeration holding one value or none decides nothing, and gains from all it meets.
    if (isOpen(kind) && m_draw.chance(3))
      return m_draw.chance(2) ? values : std::vector<int>{m_draw.between(LEAST, GREATEST)};
    for (int v = LEAST; v <= GREATEST; ++v)
      if (m_draw.chance(2))
        values.push_back(v);
    if (values.empty() && !isOpen(kind))
      values.push_back(m_draw.between(LEAST, GREATEST));
    return values;
  }

  // A domain of the kind that holds `value`.
  std::vector<int> drawHolding(int kind, int value) {
    if (kind == KIND_BOOLEAN)
      return m_draw.chance(3) ? std::vector<int>{value != 0 ? 1 : 0} : std::vector<int>{0, 1};
    if (isRange(kind))
      return {value - m_draw.between(0, 2), value + m_draw.between(0, 2)};
    std::vector<int> values = drawValues(kind);
    if (std::find(values.begin(), values.end(), value) == values.end()) {
      values.push_back(value);
      std::sort(values.begin(), values.end());
    }
    return values;
  }

  // The variable's witness, drawn again from its base domain when that lost it.
  int witness(const OperationSession& s, int v) {
    int& w = m_witness[v];
    const std::set<int>& base = s.variables().at(v).base;
    if (!base.empty() && base.count(w) == 0)
      w = m_draw.pick(std::vector<int>(base.begin(), base.end()));
    return w;
  }

  Operation newVariable(unsigned int kinds, bool fixed = false) {
    // Weighted: the integer kinds most, an open enumeration least (strings only where asked).
    std::vector<int> choices;
    for (int k : {KIND_INTERVAL, KIND_INTERVAL, KIND_INTERVAL, KIND_ENUMERATION, KIND_ENUMERATION, KIND_ENUMERATION,
                  KIND_BOOLEAN, KIND_BOOLEAN, KIND_REAL, KIND_REAL, KIND_OPEN, KIND_STRING, KIND_STRING_OPEN})
      if (kinds & static_cast<unsigned int>(k))
        choices.push_back(k);
    Operation op;
    op.type = Type::CREATE_VARIABLE;
    op.target = m_nextVariable++;
    op.kind = m_draw.pick(choices);
    op.values = drawValues(op.kind);
    op.flag = m_draw.chance(3);
    if (fixed)
      op.values = isRange(op.kind) ? std::vector<int>{op.values[0], op.values[0]} : std::vector<int>{op.values[0]};
    else if (op.kind != KIND_BOOLEAN && !isOpen(op.kind) && m_draw.chance(25))
      op.values = isRange(op.kind) ? std::vector<int>{1, 0} : std::vector<int>();
    else
      drawTenths(op, op.values.empty() ? 0 : op.values[0]);
    const std::set<int> members = DrawnDomain::members(op.kind, op.values);
    m_witness[op.target] = members.empty() ? m_draw.between(LEAST, GREATEST)
                                           : m_draw.pick(std::vector<int>(members.begin(), members.end()));
    return op;
  }

  // Now and then a real interval whose bounds lie a few tenths beyond its integers, or a closed
  // enumeration of reals with a few tenths among its integers (see TenthsDomains). Such an
  // enumeration is made by class: its type is no longer "int". Those whose first tenth is odd
  // hold their values as sums of tenths compute them, a hair beside those other variables hold as
  // written; told by the tenths already drawn, so that every seed draws what it drew before.
  // A real interval may instead be narrower than the tolerance, beside `near`.
  void drawTenths(Operation& op, int near) {
    if (drawNarrow(op, near))
      return;
    if (op.kind == KIND_REAL && op.values[0] <= op.values[1] && m_draw.chance(3)) {
      op.data = {m_draw.between(1, 9), m_draw.between(1, 9)};
    } else if (op.kind == KIND_ENUMERATION && !op.values.empty() && m_draw.chance(4)) {
      for (int k = m_draw.between(1, 2); k > 0; --k) {
        const int tenths = 10 * m_draw.between(LEAST, GREATEST - 1) + m_draw.between(1, 9);
        if (std::find(op.data.begin(), op.data.end(), tenths) == op.data.end())
          op.data.push_back(tenths);
      }
      op.flag = false;
    }
    if (!op.data.empty())
      op.variant = op.data.front() % 2 != 0 ? 1 : 0;
  }

  // One real interval in ten narrower than the tolerance, beside `n` (see TenthsDomains). Its
  // drawn bounds are the integer it holds, or an empty range.
  bool drawNarrow(Operation& op, int n) {
    if (op.kind != KIND_REAL || !m_draw.chance(10))
      return false;
    op.data = narrowBeside(n, false);
    op.values = TenthsDomains::narrowBounds(op.data);
    op.variant = 0;
    return true;
  }

  // A narrow interval's data beside `n`: across it (half of them), or just above or below it,
  // its nearer end within the tolerance of `n` or further; with `clear`, at least the tolerance
  // away, for a unary source, whose meaning the model judges by exact containment: the engine may
  // rightly take `n` for a value within the tolerance of the source.
  std::vector<int> narrowBeside(int n, bool clear) {
    const int width = m_draw.between(1, 99);
    const int where = m_draw.between(0, 3);
    int nearer = m_draw.between(clear ? 101 : 1, 150);
    nearer += nearer == 100 ? 1 : 0; // exactly the tolerance away, rounding would decide
    const int lower = where < 2 ? -m_draw.between(0, width) : where == 2 ? nearer : -width - nearer;
    return {n, lower, lower + width};
  }

  // Violations switched on (mostly) or off, or a limit of 0, 1 or 2 on them. While violations
  // are held the engine refuses any of these: the session expects that refusal.
  Operation violations() {
    Operation op;
    if (m_draw.chance(2)) {
      op.type = Type::ALLOW_VIOLATIONS;
      op.flag = !m_draw.chance(3);
    } else {
      op.type = Type::VIOLATION_LIMIT;
      op.values = {m_draw.between(0, 2)};
    }
    return op;
  }

  // An operation of `type` on a live variable (an open one, when asked; for switching, one the
  // session may switch); a propagation when there is none.
  Operation onLiveVariable(const OperationSession& s, Type type, bool openOnly) {
    std::vector<int> candidates;
    for (const auto& v : s.variables())
      if (v.second.alive && (!openOnly || v.second.open) && s.maySwitch(type, v.first))
        candidates.push_back(v.first);
    Operation op;
    if (candidates.empty())
      return op;
    op.type = type;
    op.target = m_draw.pick(deeperFirst(candidates, type, [&](int v) { return s.variables().at(v).deactivations; }));
    return op;
  }

  // Now and then a deactivation goes to what is off already, so that undoing one leaves it off.
  std::vector<int> deeperFirst(const std::vector<int>& candidates, Type type, std::function<int(int)> deactivations) {
    if ((type != Type::DEACTIVATE_VARIABLE && type != Type::DEACTIVATE_CONSTRAINT) || !m_draw.chance(3))
      return candidates;
    std::vector<int> off;
    std::copy_if(candidates.begin(), candidates.end(), std::back_inserter(off),
                 [&](int x) { return deactivations(x) > 0; });
    return off.empty() ? candidates : off;
  }

  Operation onVariable(const OperationSession& s, Type type) {
    Operation op = onLiveVariable(s, type, false);
    if (op.target < 0)
      return op;
    const ModelVariable& var = s.variables().at(op.target);
    if (type == Type::SPECIFY) {
      // Mostly the witness, else a value the engine left, else any of the base domain.
      const std::set<int> base = DrawnDomain::membersOf(var.id->baseDomain());
      const std::set<int> current = DrawnDomain::membersOf(var.id->lastDomain());
      const int w = witness(s, op.target);
      const int roll = m_draw.between(0, 3);
      if (roll < 2 && base.count(w))
        op.values = {w};
      else if (roll < 3 && !current.empty())
        op.values = {m_draw.pick(std::vector<int>(current.begin(), current.end()))};
      else if (!base.empty())
        op.values = {m_draw.pick(std::vector<int>(base.begin(), base.end()))};
      else
        return Operation();
      drawHair(s, op);
    } else if (type == Type::RESTRICT_BASE) {
      // An open base meets a closed enumeration, and takes its members.
      if (var.open) {
        op.kind = DrawnDomain::labels(var.kind) ? KIND_STRING : KIND_ENUMERATION;
        op.values = m_draw.chance(3) ? drawValues(op.kind) : drawHolding(op.kind, witness(s, op.target));
        return op;
      }
      op.kind = var.kindNow();
      // Now and then across kinds: an interval restricted by an enumeration, or the reverse.
      if (op.kind != KIND_BOOLEAN && op.kind != KIND_STRING && m_draw.chance(4))
        op.kind = isRange(op.kind) ? KIND_ENUMERATION : KIND_INTERVAL;
      op.values = m_draw.chance(3) ? drawValues(op.kind) : drawHolding(op.kind, witness(s, op.target));
      drawNarrow(op, witness(s, op.target));
    }
    return op;
  }

  // Now and then a real is specified a hair (less than the tolerance) beside the value drawn,
  // mostly one an all-different, a CondAllDiff, a test or an equality reads: the value may move
  // by less than the tolerance, outward of what the domain held, and a reset moves it back.
  // Drawn apart, so that the rest of the seed draws what it drew before.
  void drawHair(const OperationSession& s, Operation& op) {
    const AbstractDomain& base = s.variables().at(op.target).id->baseDomain();
    if (base.getTypeName().toString() != "float")
      return;
    const bool compared = std::any_of(s.constraints().begin(), s.constraints().end(), [&](const auto& c) {
      const std::string& name = constraintCatalogue().at(static_cast<std::size_t>(c.second.entry)).className;
      return c.second.alive && std::count(c.second.scope.begin(), c.second.scope.end(), op.target) != 0 &&
             (name.find("AllDiff") != std::string::npos || name.compare(0, 4, "Test") == 0 ||
              name == "EqualConstraint");
    });
    if (m_hairDraw.between(1, compared ? 2 : 5) != 1)
      return;
    const int hair = m_hairDraw.between(1, 99);
    op.values.push_back(m_hairDraw.chance(2) ? hair : -hair);
  }

  Operation onOpenVariable(const OperationSession& s, Type type) {
    Operation op = onLiveVariable(s, type, true);
    if (op.target >= 0 && type == Type::INSERT_VALUE)
      op.values = {m_draw.chance(2) ? witness(s, op.target) : m_draw.between(LEAST, GREATEST)};
    return op;
  }

  // Grows, shrinks, closes or opens an enumeration's base domain; a roll of 104..109 picks which.
  Operation dynamicDomain(const OperationSession& s, int roll) {
    if (roll >= 108)
      return onOpenVariable(s, roll == 108 ? Type::INSERT_VALUE : Type::CLOSE_VARIABLE);
    std::vector<int> candidates;
    for (const auto& v : s.variables()) {
      const int kind = v.second.kindNow();
      if (roll < 106 ? v.second.alive && (isEnumeration(kind) || isRange(kind)) : s.mayOpen(v.first))
        candidates.push_back(v.first);
    }
    if (candidates.empty())
      return Operation();
    Operation op;
    op.type = roll < 106 ? Type::REMOVE_VALUE : Type::OPEN_VARIABLE;
    op.target = m_draw.pick(candidates);
    // An interval loses an end of its base, or the end of its current domain that lies within the
    // tolerance of one (see OperationSession::removeEnd): 0 and 1 the base's lower and upper, 2
    // and 3 the current domain's.
    if (op.type == Type::REMOVE_VALUE && isRange(s.variables().at(op.target).kindNow())) {
      op.kind = s.variables().at(op.target).kindNow();
      op.values = {m_draw.between(0, 3)};
      return op;
    }
    if (op.type == Type::REMOVE_VALUE) {
      // Mostly a member other than the witness, so that most networks stay solvable.
      const std::set<int>& base = s.variables().at(op.target).base;
      std::vector<int> others;
      for (int v : base)
        if (v != witness(s, op.target))
          others.push_back(v);
      op.values = {others.empty() || m_draw.chance(4) ? m_draw.between(LEAST, GREATEST) : m_draw.pick(others)};
    }
    return op;
  }

  // A client empties an active variable, as its kind allows: every member of its base removed
  // (an open one closed after, now and then a reset over what is left), or its base restricted to
  // values its current domain lacks. Then it is switched off and propagated, and half the time on
  // again and propagated: however it emptied, a variable switched off makes no answer false, and
  // is judged once it is on.
  void emptyThenSwitch(const OperationSession& s) {
    std::vector<int> candidates;
    for (const auto& v : s.variables())
      if (s.activeVariable(v.first))
        candidates.push_back(v.first);
    if (candidates.empty())
      return;
    Operation op;
    op.target = m_draw.pick(candidates);
    const ModelVariable& var = s.variables().at(op.target);
    const int kind = var.kindNow();
    if (isEnumeration(kind) && !m_draw.chance(3)) {
      op.type = Type::REMOVE_VALUE;
      for (int value : var.base) {
        op.values = {value};
        m_following.push_back(op);
      }
      op.values.clear();
      if (isOpen(kind)) {
        op.type = Type::CLOSE_VARIABLE;
        m_following.push_back(op);
      }
      if (m_draw.chance(2)) {
        op.type = Type::RESET;
        m_following.push_back(op);
      }
    } else if (!isOpen(kind)) {
      const std::set<int> current = DrawnDomain::membersOf(var.id->lastDomain());
      std::vector<int> outside;
      for (int value : var.base)
        if (current.count(value) == 0 && (!isRange(kind) || current.empty() || value < *current.begin()))
          outside.push_back(value);
      if (outside.empty())
        return;
      op.type = Type::RESTRICT_BASE;
      op.kind = kind;
      op.values = isRange(kind) ? std::vector<int>{outside.front(), outside.back()} : outside;
      m_following.push_back(op);
    }
    op.values.clear();
    op.type = Type::DEACTIVATE_VARIABLE;
    m_following.push_back(op);
    m_following.push_back(Operation());
    if (m_draw.chance(2)) {
      op.type = Type::ACTIVATE_VARIABLE;
      m_following.push_back(op);
      m_following.push_back(Operation());
    }
  }

  // withinBounds over a new open enumeration as its upper bound, which takes a new closed one's
  // members through an equality made before or after it, mostly with violations allowed: a run
  // meeting the gain may set the composite aside, and must end as over a fresh network.
  void gainBesideWithinBounds(const OperationSession& s) {
    const std::vector<ConstraintEntry>& catalogue = constraintCatalogue();
    const auto index = [&catalogue](const char* className) {
      return static_cast<int>(std::find_if(catalogue.begin(), catalogue.end(),
                                           [className](const ConstraintEntry& e) { return e.className == className; }) -
                              catalogue.begin());
    };
    std::vector<int> candidates;
    for (const auto& v : s.variables())
      if (s.activeVariable(v.first))
        candidates.push_back(v.first);
    if (candidates.empty() || liveCount(s.variables()) + 2 > MAX_VARIABLES ||
        liveCount(s.constraints()) + 2 > MAX_CONSTRAINTS)
      return;
    if (!m_draw.chance(5)) {
      Operation allow;
      allow.type = Type::ALLOW_VIOLATIONS;
      allow.flag = true;
      m_following.push_back(allow);
    }
    Operation bound = newVariable(KIND_OPEN);
    Operation giver = newVariable(KIND_ENUMERATION);
    m_following.push_back(bound);
    m_following.push_back(giver);
    std::vector<Operation> made(2);
    made[0].kind = index("WithinBounds");
    made[0].variant = m_draw.between(0, 2);
    made[0].scope = {m_draw.pick(candidates), m_draw.pick(candidates), bound.target};
    made[1].kind = index("EqualConstraint");
    made[1].variant = m_draw.between(0, 1);
    made[1].scope = {bound.target, giver.target};
    if (m_draw.chance(2))
      std::swap(made[0], made[1]);
    for (Operation& op : made) {
      op.type = Type::CREATE_CONSTRAINT;
      op.target = m_nextConstraint++;
      m_following.push_back(op);
    }
    m_following.push_back(Operation());
  }

  Operation onConstraint(const OperationSession& s, Type type) {
    std::vector<int> candidates;
    for (const auto& c : s.constraints())
      if (c.second.alive && s.maySwitch(type, c.first))
        candidates.push_back(c.first);
    if (candidates.empty())
      return Operation();
    Operation op;
    op.type = type;
    op.target = m_draw.pick(deeperFirst(candidates, type, [&](int c) { return s.constraints().at(c).deactivations; }));
    op.flag = m_draw.chance(2);
    return op;
  }

  // Whether the constraint drawn holds for the witnesses of its scope.
  bool holdsForWitnesses(const OperationSession& s, const Operation& op) {
    std::vector<double> values;
    for (int v : op.scope)
      values.push_back(witness(s, v));
    return constraintCatalogue().at(static_cast<std::size_t>(op.kind)).meaning(values, op.data);
  }

  // Mostly a constraint that the witnesses satisfy, among a few drawn; now and then any.
  Operation newConstraint(const OperationSession& s) {
    if (liveCount(s.constraints()) >= MAX_CONSTRAINTS)
      return Operation();
    const bool agreeing = !m_draw.chance(5);
    Operation first;
    for (int attempt = 0; attempt < 8; ++attempt) {
      Operation op = drawConstraint(s, agreeing);
      if (op.type != Type::CREATE_CONSTRAINT)
        return op;
      if (attempt == 0)
        first = op;
      if (!agreeing || holdsForWitnesses(s, op)) {
        first = op;
        break;
      }
    }
    first.target = m_nextConstraint++;
    return first;
  }

  // Half the time, what found faults before: the bounds of a withinBounds, and the variable an
  // equality or a subset takes members into, open enumerations (which gain); a product's
  // positions real intervals, narrower than the tolerance when there are such. The candidates
  // as they are when the draw or the session offers none.
  std::vector<int> preferred(const OperationSession& s, const ConstraintEntry& entry, unsigned int position,
                             const std::vector<int>& candidates) {
    const std::string& name = entry.className;
    const bool gains = (name == "WithinBounds" && position > 0) ||
                       ((name == "EqualConstraint" || name == "SubsetOfConstraint") && position == 0);
    const bool product = name == "MultEqualConstraint" || name == "EqualProductConstraint" ||
                         name == "AddMultEqualConstraint";
    if ((!gains && !product) || !m_draw.chance(2))
      return candidates;
    auto narrow = [&](int v) {
      const AbstractDomain& base = s.variables().at(v).id->baseDomain();
      return !base.isEmpty() && base.getUpperBound() - base.getLowerBound() < base.minDelta();
    };
    std::vector<int> chosen;
    for (int v : candidates)
      if (gains ? isOpen(s.variables().at(v).kindNow()) : s.variables().at(v).kind == KIND_REAL)
        chosen.push_back(v);
    std::vector<int> narrower;
    std::copy_if(chosen.begin(), chosen.end(), std::back_inserter(narrower), narrow);
    if (product && !narrower.empty())
      return narrower;
    return chosen.empty() ? candidates : chosen;
  }

  // A constraint of a random class over fitting variables; when a position finds none (or now
  // and then), a new variable for it instead. Its source, if it has one, holds the witness
  // when `agreeing`.
  Operation drawConstraint(const OperationSession& s, bool agreeing) {
    const std::vector<ConstraintEntry>& catalogue = constraintCatalogue();
    Operation op;
    op.type = Type::CREATE_CONSTRAINT;
    op.kind = m_draw.between(0, static_cast<int>(catalogue.size()) - 1);
    const ConstraintEntry& entry = catalogue[static_cast<std::size_t>(op.kind)];
    const int arity = m_draw.between(static_cast<int>(entry.minArity), static_cast<int>(entry.maxArity));
    for (int i = 0; i < arity; ++i) {
      const ConstraintEntry::Position p =
          entry.position ? entry.position(static_cast<unsigned int>(i)) : ConstraintEntry::Position();
      std::vector<int> candidates;
      for (const auto& v : s.variables())
        if (s.fits(v.first, entry, static_cast<unsigned int>(i), op.scope))
          candidates.push_back(v.first);
      candidates = preferred(s, entry, static_cast<unsigned int>(i), candidates);
      if (candidates.empty() || m_draw.chance(8)) {
        if (liveCount(s.variables()) >= MAX_VARIABLES)
          return Operation();
        return newVariable(p.kinds, p.fixed);
      }
      op.scope.push_back(m_draw.pick(candidates));
    }
    if (!entry.names.empty() && m_draw.chance(2))
      op.variant = m_draw.between(1, static_cast<int>(entry.names.size()));
    else
      op.flag = entry.equalityPropagated && m_draw.chance(2);
    if (entry.hasData) {
      const int kind = s.variables().at(op.scope[0]).kind == KIND_BOOLEAN
                           ? static_cast<int>(KIND_BOOLEAN)
                           : (m_draw.chance(2) ? static_cast<int>(KIND_INTERVAL) : static_cast<int>(KIND_ENUMERATION));
      // One interval source in ten is a real one narrower than the tolerance.
      const bool narrow = kind == KIND_INTERVAL && m_draw.chance(10);
      op.data.push_back(narrow ? static_cast<int>(KIND_REAL) : kind);
      const std::vector<int> values =
          narrow ? narrowBeside(agreeing ? witness(s, op.scope[0]) : m_draw.between(LEAST, GREATEST), true)
                 : (agreeing ? drawHolding(kind, witness(s, op.scope[0])) : drawValues(kind));
      op.data.insert(op.data.end(), values.begin(), values.end());
    }
    return op;
  }

  // Sessions on the equality propagator. Each variable's witness is one of two values, which
  // most of its domain holds, so that equalities drawn within a group of one witness agree, and
  // classes join integer intervals, real intervals and enumerations with gaps.
  void equalityInitial(std::vector<Operation>& out) {
    m_groupWitness = {m_draw.between(LEAST, GREATEST), m_draw.between(LEAST, GREATEST)};
    // Sparse classes, which a removal splits.
    m_opening = 3;
    for (int i = m_draw.between(4, 6); i > 0; --i)
      out.push_back(newGroupedVariable());
    if (m_draw.chance(4))
      out.push_back(violations());
  }

  Operation equalityNext(const OperationSession& s) {
    if (m_opening > 0) {
      --m_opening;
      return newEquality(s);
    }
    // Removals and switching off come often, and specifications rarely: a decided class keeps
    // no gap that a removal must give back.
    const int roll = m_draw.between(0, 105);
    if (roll < 16)
      return Operation();
    if (roll < 21)
      return onVariable(s, Type::SPECIFY);
    if (roll < 26)
      return onVariable(s, Type::RESET);
    if (roll < 30)
      return onVariable(s, Type::RELAX);
    if (roll < 35)
      return onVariable(s, Type::RESTRICT_BASE);
    if (roll < 41)
      return onConstraint(s, Type::DEACTIVATE_CONSTRAINT);
    if (roll < 45)
      return onConstraint(s, Type::ACTIVATE_CONSTRAINT);
    if (roll < 47)
      return onVariable(s, Type::DEACTIVATE_VARIABLE);
    if (roll < 49)
      return onVariable(s, Type::ACTIVATE_VARIABLE);
    if (roll < 69)
      return newEquality(s);
    if (roll < 82)
      return onConstraint(s, Type::DELETE_CONSTRAINT);
    if (roll < 90)
      return onVariable(s, Type::DELETE_VARIABLE);
    if (roll < 97)
      return liveCount(s.variables()) < MAX_VARIABLES ? newGroupedVariable() : Operation();
    if (roll < 98) {
      Operation op;
      op.type = Type::AUTO_PROPAGATION;
      op.flag = m_draw.chance(2);
      return op;
    }
    // Open enumerations in classes: grown, shrunk, closed and opened again.
    if (roll >= 100)
      return dynamicDomain(s, roll + 4);
    return violations();
  }

  Operation newGroupedVariable() {
    static const std::vector<int> sl_kinds = {KIND_INTERVAL, KIND_INTERVAL, KIND_INTERVAL, KIND_ENUMERATION,
                                              KIND_ENUMERATION, KIND_ENUMERATION, KIND_ENUMERATION, KIND_REAL,
                                              KIND_REAL};
    Operation op;
    op.type = Type::CREATE_VARIABLE;
    op.target = m_nextVariable++;
    // Now and then an open enumeration, which a class leaves out of its narrowing while it is open.
    op.kind = m_draw.chance(10) ? static_cast<int>(KIND_OPEN) : m_draw.pick(sl_kinds);
    op.flag = m_draw.chance(3);
    const int w = m_draw.pick(m_groupWitness);
    const int roll = m_draw.between(0, 5);
    op.values = roll == 0 ? drawValues(op.kind) : roll == 1 ? drawHolding(op.kind, w) : drawAround(op.kind, w);
    if (isRange(op.kind))
      op.values = {std::max(LEAST, op.values[0]), std::min(GREATEST, op.values[1])};
    drawTenths(op, w);
    const std::set<int> members = DrawnDomain::members(op.kind, op.values);
    m_witness[op.target] =
        members.empty() || members.count(w) != 0 ? w : m_draw.pick(std::vector<int>(members.begin(), members.end()));
    return op;
  }

  // A few values around `value`: a range, or an enumeration that holds its ends and may miss
  // values between them, gaps that a class carries past the intervals of the same range.
  std::vector<int> drawAround(int kind, int value) {
    const int lo = std::max(LEAST, value - m_draw.between(0, 2));
    const int hi = std::min(GREATEST, value + m_draw.between(0, 2));
    if (isRange(kind))
      return {lo, hi};
    std::vector<int> values;
    for (int v = lo; v <= hi; ++v)
      if (v == value || v == lo || v == hi || m_draw.chance(2))
        values.push_back(v);
    return values;
  }

  // Mostly an equality of two or three distinct variables on the equality propagator, agreeing
  // with their witnesses; now and then any constraint of the catalogue.
  Operation newEquality(const OperationSession& s) {
    if (liveCount(s.constraints()) >= MAX_CONSTRAINTS)
      return Operation();
    if (m_draw.chance(5))
      return newConstraint(s);
    const std::vector<ConstraintEntry>& catalogue = constraintCatalogue();
    const auto found = std::find_if(catalogue.begin(), catalogue.end(),
                                    [](const ConstraintEntry& e) { return e.className == "EqualConstraint"; });
    Operation op;
    op.type = Type::CREATE_CONSTRAINT;
    op.kind = static_cast<int>(found - catalogue.begin());
    op.flag = true;
    std::vector<int> candidates;
    for (const auto& v : s.variables())
      if (s.fits(v.first, *found, 0))
        candidates.push_back(v.first);
    if (candidates.size() < 2)
      return liveCount(s.variables()) < MAX_VARIABLES ? newGroupedVariable() : Operation();
    const bool agreeing = !m_draw.chance(6);
    op.scope.push_back(m_draw.pick(candidates));
    for (int arity = m_draw.between(2, 3); static_cast<int>(op.scope.size()) < arity;) {
      std::vector<int> pool;
      for (int v : candidates)
        if (std::find(op.scope.begin(), op.scope.end(), v) == op.scope.end() && s.fits(v, *found, 1, op.scope) &&
            (!agreeing || witness(s, v) == witness(s, op.scope[0])))
          pool.push_back(v);
      if (pool.empty())
        break;
      op.scope.push_back(m_draw.pick(pool));
    }
    if (op.scope.size() < 2)
      return Operation();
    op.target = m_nextConstraint++;
    return op;
  }

  Draw m_draw;
  bool m_equality; // sessions on the equality propagator
  std::vector<int> m_groupWitness;
  std::map<int, int> m_witness;
  int m_nextVariable = 0;
  int m_nextConstraint = 0;
  int m_opening = 6;
  std::deque<Operation> m_following; // drawn together with one drawn before (see next())
  ListenerDraws m_listenerDraws;
  Draw m_hairDraw; // the hairs beside specified values (see drawHair())
};

// What each listener of a session heard, in the order they registered, with its name.
struct Heard {
  std::vector<std::vector<long long> > notices;
  std::vector<std::string> names;
};

// Runs operations in a fresh session whose listeners stand as the layout draws, then tears it
// down; what failed, the operations applied and, when asked, what each listener heard.
SessionFailure run(const std::vector<Operation>& given, Generator* generator, unsigned int extra,
                   std::vector<Operation>& applied, OperationSequence::Tally* tally = nullptr,
                   const OperationSequence::Layout& layout = OperationSequence::Layout(), Heard* heard = nullptr) {
  const Census before = Census::now();
  SessionFailure failure;
  {
    OperationSession session(layout);
    std::vector<Operation> pending = given;
    if (generator)
      generator->initial(pending);
    std::size_t next = 0;
    unsigned int drawn = 0;
    while (!session.failure().any()) {
      Operation op;
      if (next < pending.size())
        op = pending[next++];
      else if (generator && drawn < extra) {
        op = generator->draw(session);
        ++drawn;
      } else if (generator && drawn == extra && generator->clearsInTearDown()) {
        op.type = Type::CLEAR_IN_TEAR_DOWN;
        ++drawn;
      } else
        break;
      // A crash cannot be shortened: KALDEN_OPSEQ_TRACE=1 prints each operation before it runs.
      // KALDEN_OPSEQ_RECORD=file writes it there too, for KALDEN_OPSEQ_REPLAY=file to run again.
      static const bool sl_trace = std::getenv("KALDEN_OPSEQ_TRACE") != nullptr;
      static std::FILE* sl_record =
          std::getenv("KALDEN_OPSEQ_RECORD") ? std::fopen(std::getenv("KALDEN_OPSEQ_RECORD"), "w") : nullptr;
      if (sl_trace)
        std::fprintf(stderr, "  %s\n", OperationSequence::describe(op).c_str());
      if (sl_record != nullptr && generator != nullptr) {
        if (drawn + next == 1)
          std::fprintf(sl_record, "layout %u %u\n", layout.order, layout.addresses);
        std::fprintf(sl_record, "%s\n", OperationSequence::toRecord(op).c_str());
        std::fflush(sl_record);
      }
      if (session.apply(op))
        applied.push_back(op);
    }
    failure = session.failure();
    if (heard != nullptr) {
      const std::vector<const Transcript*> transcripts = session.transcripts();
      for (std::size_t rank = 0; rank < transcripts.size(); ++rank) {
        heard->notices.push_back(transcripts[rank]->heard());
        heard->names.push_back(session.listenerName(rank));
      }
    }
    if (tally != nullptr) {
      tally->checked += session.tally().checked;
      tally->answeredFalse += session.tally().answeredFalse;
      tally->violated += session.tally().violated;
      tally->switched += session.tally().switched;
      tally->twoDeep += session.tally().twoDeep;
      tally->failedInRun += session.tally().failedInRun;
    }
  }
  const Census after = Census::now();
  if (!failure.any() && (after.entities != before.entities || after.handles != before.handles))
    failure = SessionFailure{"left objects behind",
                             std::to_string(after.entities - before.entities) + " entities and " +
                                 std::to_string(after.handles - before.handles) + " handles left behind"};
  return failure;
}

const char* const ELSEWHERE = "heard otherwise elsewhere in memory";

// As run(); with `elsewhere`, runs the operations applied once more with the listeners registered
// in the same order but lying elsewhere, and the session's objects too: each listener must hear
// the same again.
SessionFailure runChecked(const std::vector<Operation>& given, Generator* generator, unsigned int extra,
                          std::vector<Operation>& applied, OperationSequence::Tally* tally,
                          const OperationSequence::Layout& layout, bool elsewhere) {
  Heard first;
  const SessionFailure failure = run(given, generator, extra, applied, tally, layout, elsewhere ? &first : nullptr);
  if (failure.any() || !elsewhere)
    return failure;
  OperationSequence::Layout moved = layout;
  moved.addresses = layout.addresses * 2654435761u + 97u;
  std::vector<Operation> again;
  Heard second;
  const SessionFailure other = run(applied, nullptr, 0, again, nullptr, moved, &second);
  if (other.any())
    return SessionFailure{ELSEWHERE, "the same operations failed there: " + other.category + " (" + other.detail + ")"};
  for (std::size_t rank = 0; rank < first.notices.size(); ++rank) {
    const std::vector<long long>& a = first.notices[rank];
    const std::vector<long long>& b = second.notices[rank];
    std::size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i])
      ++i;
    if (i == a.size() && i == b.size())
      continue;
    return SessionFailure{ELSEWHERE, "the " + first.names[rank] + " listener (registered " + std::to_string(rank + 1) +
                                         ") heard, at its notice " + std::to_string(i) + ", " +
                                         (i < a.size() ? Transcript::describe(a[i]) : "nothing more") + " in one run, " +
                                         (i < b.size() ? Transcript::describe(b[i]) : "nothing more") + " in the other"};
  }
  return failure;
}

// Drops operations while the run still fails the same way; gives up after a bounded number of tries.
std::vector<Operation> shorten(std::vector<Operation> ops, const std::string& category,
                               const OperationSequence::Layout& layout) {
  const bool elsewhere = category == ELSEWHERE;
  unsigned int tries = 0;
  for (std::size_t chunk = ops.size() / 2; chunk >= 1 && tries < 400; chunk /= 2) {
    for (std::size_t at = 0; at + chunk <= ops.size() && tries < 400;) {
      std::vector<Operation> shorter(ops.begin(), ops.begin() + static_cast<std::ptrdiff_t>(at));
      shorter.insert(shorter.end(), ops.begin() + static_cast<std::ptrdiff_t>(at + chunk), ops.end());
      std::vector<Operation> applied;
      ++tries;
      if (runChecked(shorter, nullptr, 0, applied, nullptr, layout, elsewhere).category == category)
        ops = applied;
      else
        at += chunk;
    }
  }
  return ops;
}

} // namespace

std::string OperationSequence::describe(const Operation& op) {
  if (op.listenerNotice < 0)
    return describeCall(op);
  const std::string runEnd = DeletingListener::atRunEnd(op.listenerChoice) ? " and at a run's end" : "";
  if (DeletingListener::atRelaxation(op.listenerChoice))
    return describeCall(op) + " [a listener acts at relaxation " + std::to_string(op.listenerNotice % 2) + runEnd +
           ", choice " + std::to_string(op.listenerChoice) + "]";
  return describeCall(op) + " [a listener acts at notice " + std::to_string(op.listenerNotice) + runEnd + ", choice " +
         std::to_string(op.listenerChoice) + "]";
}

std::string OperationSequence::describeCall(const Operation& op) {
  std::ostringstream os;
  const std::string v = "v" + std::to_string(op.target);
  const std::string c = "c" + std::to_string(op.target);
  switch (op.type) {
  case Type::PROPAGATE:
    return "propagate()";
  case Type::SPECIFY:
    os << v << ".specify(" << (op.values.empty() ? 0 : op.values[0]);
    if (op.values.size() > 1)
      os << (op.values[1] < 0 ? " less " : " and ") << std::abs(op.values[1]) << " ten-millionths";
    os << ")";
    break;
  case Type::RESET:
    return v + ".reset()";
  case Type::RELAX:
    return v + ".relax()";
  case Type::RESTRICT_BASE:
    os << v << ".restrictBaseDomain(" << DrawnDomain::kindName(op.kind) << " "
       << (op.data.empty() ? DrawnDomain::text(DrawnDomain::members(op.kind, op.values))
                           : TenthsDomains::text(op.kind, op.values, op.data))
       << ")";
    break;
  case Type::DEACTIVATE_CONSTRAINT:
    return c + ".deactivate()";
  case Type::ACTIVATE_CONSTRAINT:
    return c + ".undoDeactivation()";
  case Type::DEACTIVATE_VARIABLE:
    return v + ".deactivate()";
  case Type::ACTIVATE_VARIABLE:
    return v + ".undoDeactivation()";
  case Type::CREATE_VARIABLE:
    os << v << " = " << (op.flag ? "createVariable " : "new ") << DrawnDomain::kindName(op.kind) << " ";
    if (!op.data.empty())
      os << TenthsDomains::text(op.kind, op.values, op.data, op.variant == 1);
    else if (op.kind == KIND_INTERVAL || op.kind == KIND_REAL)
      os << "[" << op.values[0] << ", " << op.values[1] << "]";
    else
      os << DrawnDomain::text(DrawnDomain::members(op.kind, op.values));
    break;
  case Type::DELETE_VARIABLE:
    return "delete " + v;
  case Type::CREATE_CONSTRAINT: {
    const ConstraintEntry& entry = constraintCatalogue().at(static_cast<std::size_t>(op.kind));
    os << c << " = ";
    if (op.variant > 0)
      os << "createConstraint(\"" << entry.names.at(static_cast<std::size_t>(op.variant - 1)) << "\"";
    else
      os << "new " << entry.className << "(" << (op.flag ? "\"Equal\"" : "\"Default\"");
    for (int s : op.scope)
      os << ", v" << s;
    if (!op.data.empty()) {
      const std::vector<int> source(op.data.begin() + 1, op.data.end());
      os << ", source " << DrawnDomain::kindName(op.data[0]) << " "
         << (TenthsDomains::isNarrow(op.data[0], source) ? TenthsDomains::text(op.data[0], {}, source)
                                                         : DrawnDomain::text(DrawnDomain::members(op.data[0], source)));
    }
    os << ")";
    break;
  }
  case Type::DELETE_CONSTRAINT:
    return (op.flag ? "deleteConstraint(" : "delete(") + c + ")";
  case Type::AUTO_PROPAGATION:
    return std::string("setAutoPropagation(") + (op.flag ? "true" : "false") + ")";
  case Type::INSERT_VALUE:
    os << v << ".insert(" << (op.values.empty() ? 0 : op.values[0]) << ")";
    break;
  case Type::CLOSE_VARIABLE:
    return v + ".close()";
  case Type::ALLOW_VIOLATIONS:
    return std::string("setAllowViolations(") + (op.flag ? "true" : "false") + ")";
  case Type::VIOLATION_LIMIT:
    os << "getViolationMgr().setMaxViolationsAllowed(" << (op.values.empty() ? 0 : op.values[0]) << ")";
    break;
  case Type::REMOVE_VALUE:
    if (op.kind != 0 && !op.values.empty()) {
      static const char* const sl_ends[] = {"its base's lower end", "its base's upper end",
                                            "its current lower end, or the base's", "its current upper end, or the base's"};
      os << v << ".remove(" << sl_ends[op.values[0] & 3] << ")";
    } else
      os << v << ".remove(" << (op.values.empty() ? 0 : op.values[0]) << ")";
    break;
  case Type::OPEN_VARIABLE:
    return v + ".open()";
  case Type::REFUSED_CALL:
    return ListenerDraws::describe(op);
  case Type::CLEAR_IN_TEAR_DOWN:
    return "between purgeStart() and purgeEnd(): deleteConstraint or discard() of everything listed";
  }
  return os.str();
}

std::string OperationSequence::replay(const std::vector<Operation>& operations) {
  return replay(operations, Layout());
}

std::string OperationSequence::replay(const std::vector<Operation>& operations, const Layout& layout) {
  std::vector<Operation> applied;
  const SessionFailure failure = run(operations, nullptr, 0, applied, nullptr, layout);
  return failure.any() ? failure.category + ": " + failure.detail : "";
}

bool OperationSequence::layoutFromRecord(const std::string& line, Layout& layout) {
  std::istringstream is(line);
  std::string word;
  if (!(is >> word) || word != "layout")
    return false;
  is >> layout.order >> layout.addresses;
  return true;
}

std::string OperationSequence::runSeed(unsigned int seed, const Options& options, Tally* tally) {
  Generator generator(seed, options.equalityPropagator);
  // The listeners register in an order the seed draws, lying where it draws; every fourth seed
  // runs again with them (and what the session makes) lying elsewhere.
  Layout layout;
  layout.order = seed * 2246822519u + 1u;
  layout.addresses = seed * 3266489917u + 1u;
  const bool elsewhere = seed % 4 == 1;
  std::vector<Operation> applied;
  const SessionFailure failure = runChecked({}, &generator, options.operations, applied, tally, layout, elsewhere);
  if (!failure.any())
    return "";
  const std::vector<Operation> shortest = shorten(applied, failure.category, layout);
  std::vector<Operation> again;
  SessionFailure shown = runChecked(shortest, nullptr, 0, again, nullptr, layout, failure.category == ELSEWHERE);
  if (!shown.any())
    shown = SessionFailure{failure.category, failure.detail + "; its replay holds"};
  std::ostringstream os;
  os << "seed " << seed << ": " << shown.category << " (" << shown.detail << ")\n  replay this seed alone with "
     << "KALDEN_OPSEQ_SEED=" << seed << "; " << shortest.size() << " of its " << applied.size()
     << " operations still fail:";
  for (const Operation& op : shortest)
    os << "\n    " << describe(op);
  return os.str();
}

} // namespace KALDEN
