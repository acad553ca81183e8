#include "support/OperationSession.hh"

#include "ConstraintEngine/component/ConstraintsBase.hh"
#include "ConstraintEngine/component/DataTypes.hh"
#include "ConstraintEngine/component/Domains.hh"
#include "ConstraintEngine/component/EqualityConstraintPropagator.hh"
#include "ConstraintEngine/component/Propagators.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "Utils/Entity.hh"
#include "Utils/Error.hh"
#include "Utils/LabelStr.hh"
#include "Utils/base/FlagScope.hh"
#include "support/FreshNetwork.hh"
#include "support/TenthsDomains.hh"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <exception>
#include <functional>
#include <iterator>
#include <list>
#include <sstream>

namespace KALDEN {

typedef OperationSequence::Operation Operation;
typedef OperationSequence::Type Type;

namespace {

// Tells the session of every constraint added, and of every constraint marked violated.
class SessionListener : public ConstraintEngineListener {
public:
  typedef std::function<void(const Id<Constraint>&)> Told;
  SessionListener(const Id<ConstraintEngine>& engine, Told added, Told violated)
      : ConstraintEngineListener(engine), m_added(added), m_violated(violated) {}
  using ConstraintEngineListener::notifyAdded; // a variable's addition is heard as the base hears it
  void notifyAdded(const Id<Constraint>& constraint) override { m_added(constraint); }
  void notifyViolationAdded(const Id<Constraint>& constraint) override { m_violated(constraint); }

private:
  Told m_added;
  Told m_violated;
};

bool isRange(int kind) { return kind == KIND_INTERVAL || kind == KIND_REAL; }

// Whether the base holds the current domain: an open one value by value (it answers every closed
// domain a superset), an emptied one only an emptied domain.
bool baseHolds(const AbstractDomain& base, const AbstractDomain& current) {
  if (current.isEmpty())
    return true;
  if (base.isOpen()) {
    std::list<double> values;
    current.getValues(values);
    return std::all_of(values.begin(), values.end(), [&base](double value) { return base.isMember(value); });
  }
  return current.isClosed() && !base.isEmpty() && current.isSubsetOf(base);
}

// Whether restricting `base` to `domain` leaves it a value.
bool sharesValue(const AbstractDomain& base, const AbstractDomain& domain) {
  if (!domain.intersects(base))
    return false;
  const std::unique_ptr<AbstractDomain> left(base.copy());
  left->intersect(domain);
  return !left->isEmpty();
}

} // namespace

std::unique_ptr<AbstractDomain> DrawnDomain::make(int kind, const std::vector<int>& values) {
  switch (kind) {
  case KIND_INTERVAL:
    return std::unique_ptr<AbstractDomain>(new IntervalIntDomain(values[0], values[1], IntDT::instance()));
  case KIND_REAL:
    return std::unique_ptr<AbstractDomain>(new IntervalDomain(values[0], values[1], FloatDT::instance()));
  case KIND_BOOLEAN:
    if (values.size() == 1)
      return std::unique_ptr<AbstractDomain>(new BoolDomain(values[0] != 0, BoolDT::instance()));
    return std::unique_ptr<AbstractDomain>(new BoolDomain(BoolDT::instance()));
  case KIND_OPEN: {
    std::unique_ptr<AbstractDomain> open(new NumericDomain(IntDT::instance()));
    open->insert(std::list<double>(values.begin(), values.end()));
    return open;
  }
  case KIND_STRING:
  case KIND_STRING_OPEN: {
    std::list<double> keys;
    for (int v : values)
      keys.push_back(valueOf(kind, v));
    if (kind == KIND_STRING)
      return std::unique_ptr<AbstractDomain>(new StringDomain(keys, StringDT::instance()));
    std::unique_ptr<AbstractDomain> open(new StringDomain(StringDT::instance()));
    open->insert(keys);
    return open;
  }
  default:
    return std::unique_ptr<AbstractDomain>(
        new NumericDomain(std::list<double>(values.begin(), values.end()), IntDT::instance()));
  }
}

std::set<int> DrawnDomain::members(int kind, const std::vector<int>& values) {
  if (!isRange(kind))
    return std::set<int>(values.begin(), values.end());
  std::set<int> result;
  for (int v = values[0]; v <= values[1]; ++v)
    result.insert(v);
  return result;
}

std::set<int> DrawnDomain::membersOf(const AbstractDomain& domain) {
  std::set<int> result;
  if (domain.isEmpty())
    return result;
  // An open string domain answers every label a member: its own are listed.
  if (domain.isString()) {
    std::list<double> keys;
    domain.getValues(keys);
    for (double key : keys)
      result.insert(drawnOf(KIND_STRING, key));
    return result;
  }
  for (int v = LEAST - 8; v <= GREATEST + 8; ++v)
    if (domain.isMember(v))
      result.insert(v);
  return result;
}

double DrawnDomain::valueOf(int kind, int v) {
  if (!labels(kind))
    return v;
  // Interned once, in one order, so that the labels' keys, and so the members' order, are
  // the same in every session of the process.
  static const std::vector<double> sl_keys = [] {
    std::vector<double> keys;
    for (int drawn = LEAST - 8; drawn <= GREATEST + 8; ++drawn)
      keys.push_back(LabelStr("s" + std::to_string(drawn)).getKey());
    return keys;
  }();
  return sl_keys.at(static_cast<std::size_t>(v - (LEAST - 8)));
}

int DrawnDomain::drawnOf(int kind, double value) {
  if (!labels(kind))
    return static_cast<int>(std::lround(value));
  return std::stoi(LabelStr(value).toString().substr(1));
}

std::string DrawnDomain::text(const std::set<int>& values) {
  std::ostringstream os;
  os << "{";
  for (int v : values)
    os << (v == *values.begin() ? "" : ", ") << v;
  os << "}";
  return os.str();
}

std::string DrawnDomain::kindName(int kind) {
  switch (kind) {
  case KIND_INTERVAL:
    return "interval";
  case KIND_REAL:
    return "real";
  case KIND_BOOLEAN:
    return "bool";
  case KIND_OPEN:
    return "open";
  case KIND_STRING:
    return "string";
  case KIND_STRING_OPEN:
    return "open string";
  default:
    return "enum";
  }
}

Id<ConstrainedVariable> DrawnDomain::newVariable(const Id<ConstraintEngine>& engine, int kind,
                                                 const AbstractDomain& base, bool byName, const std::string& name) {
  if (byName)
    return engine->createVariable(kind == KIND_BOOLEAN ? "bool"
                                  : kind == KIND_REAL  ? "float"
                                  : labels(kind)       ? "string"
                                                       : "int",
                                  base, false, true, name.c_str(), Id<Entity>::noId(), ConstrainedVariable::NO_INDEX);
  ConstrainedVariable* var = nullptr;
  if (kind == KIND_INTERVAL)
    var = new Variable<IntervalIntDomain>(engine, base, false, true, name, Id<Entity>::noId(),
                                          ConstrainedVariable::NO_INDEX);
  else if (kind == KIND_REAL)
    var = new Variable<IntervalDomain>(engine, base, false, true, name, Id<Entity>::noId(),
                                       ConstrainedVariable::NO_INDEX);
  else if (kind == KIND_BOOLEAN)
    var = new Variable<BoolDomain>(engine, base, false, true, name, Id<Entity>::noId(), ConstrainedVariable::NO_INDEX);
  else if (labels(kind))
    var =
        new Variable<StringDomain>(engine, base, false, true, name, Id<Entity>::noId(), ConstrainedVariable::NO_INDEX);
  else
    var = new Variable<EnumeratedDomain>(engine, base, false, true, name, Id<Entity>::noId(),
                                         ConstrainedVariable::NO_INDEX);
  return var->getId();
}

OperationSession::OperationSession(const OperationSequence::Layout& layout)
    : m_schema(new CESchema()), m_engine(new ConstraintEngine(m_schema->getId())), m_pads(layout.addresses != 0),
      m_padDraw(layout.addresses) {
  m_schema->registerDataType((new IntDT())->getId());
  m_schema->registerDataType((new FloatDT())->getId());
  m_schema->registerDataType((new BoolDT())->getId());
  m_schema->registerDataType((new StringDT())->getId());
  registerCatalogue(*m_schema);
  // Owned by the engine; the first counts the keys the transcripts give.
  const int base = (new DefaultPropagator("Default", m_engine->getId()))->getKey();
  new EqualityConstraintPropagator("Equal", m_engine->getId());
  m_transcripts.assign(LISTENERS, Transcript(base));
  makeListeners(layout);
}

void OperationSession::makeListeners(const OperationSequence::Layout& layout) {
  std::vector<int> order;
  std::vector<std::size_t> slots;
  for (std::size_t i = 0; i < LISTENERS; ++i) {
    order.push_back(static_cast<int>(i));
    slots.push_back(i);
  }
  if (layout.order != 0) {
    std::mt19937 draw(layout.order);
    std::shuffle(order.begin(), order.end(), draw);
  }
  if (layout.addresses != 0)
    std::shuffle(slots.begin(), slots.end(), m_padDraw);
  const Id<ConstraintEngine>& engine = m_engine->getId();
  InSlot<DeletingListener> lateDeleter;
  InSlot<MirrorListener> lateMirror;
  for (std::size_t rank = 0; rank < LISTENERS; ++rank) {
    const int kind = order[rank];
    Transcript& transcript = m_transcripts[static_cast<std::size_t>(kind)];
    const std::size_t slot = slots[rank];
    m_registered.push_back(kind);
    switch (kind) {
    case 0:
      m_listener.reset(m_slots.make<Transcribed<SessionListener> >(
          slot, transcript, engine, [this](const Id<Constraint>& constraint) { m_added.push_back(constraint); },
          [this](const Id<Constraint>& constraint) { m_lastSetAside = constraint; }));
      break;
    case 1:
      m_heard.reset(m_slots.make<Transcribed<HeardCounter> >(slot, transcript, engine));
      break;
    case 2:
      m_deleter.reset(m_slots.make<Transcribed<DeletingListener> >(slot, transcript, engine, *this));
      break;
    case 3:
      m_mirror.reset(m_slots.make<Transcribed<MirrorListener> >(slot, transcript, engine));
      break;
    case 4:
      lateDeleter.reset(m_slots.make<Transcribed<DeletingListener> >(slot, transcript, engine, *this));
      break;
    default:
      lateMirror.reset(m_slots.make<Transcribed<MirrorListener> >(slot, transcript, engine));
      break;
    }
  }
  DeletingListener& deleter = *lateDeleter;
  MirrorListener& mirror = *lateMirror;
  m_late.reset(new LateListeners{std::move(lateDeleter), std::move(lateMirror), deleter, mirror});
}

void OperationSession::pad() {
  if (m_padding.size() > 3 && m_padDraw() % 3 == 0)
    m_padding.erase(m_padding.begin() + static_cast<std::ptrdiff_t>(m_padDraw() % m_padding.size()));
  m_padding.emplace_back(new char[1 + m_padDraw() % 700]);
}

std::vector<const Transcript*> OperationSession::transcripts() const {
  std::vector<const Transcript*> result;
  for (int kind : m_registered)
    result.push_back(&m_transcripts[static_cast<std::size_t>(kind)]);
  return result;
}

std::string OperationSession::listenerName(std::size_t rank) const {
  static const char* const sl_names[] = {"session", "counter", "deleter", "mirror", "late deleter", "late mirror"};
  return sl_names[m_registered.at(rank)];
}

OperationSession::~OperationSession() {
  m_listener.reset();
  m_deleter.reset();
  m_late.reset();
  m_unlinkActors.clear();
  m_heard.reset();
  m_mirror.reset();
  Entity::purgeStart();
  m_engine.reset();
  Entity::purgeEnd();
  m_schema.reset();
  Entity::garbageCollect();
}

bool OperationSession::apply(const Operation& op) {
  // Nothing is left to act on once the session cleared its engine inside the tear-down bracket.
  if (!m_engine)
    return false;
  if (op.type == Type::CLEAR_IN_TEAR_DOWN) {
    clearInTearDown();
    return true;
  }
  try {
    if (m_pads)
      pad();
    // The culprit of a false answer stands while the engine answers by it.
    if (!m_engine->provenInconsistent())
      m_lastSetAside = Id<Constraint>();
    m_added.clear();
    m_listenerMade.clear();
    const unsigned long checkedBefore = m_tally.checked;
    m_deleter->arm(op.listenerNotice, op.listenerChoice);
    // The second acts a few notices later, as another choice says, and only deletes: it may be
    // told inside the first one's deletion.
    m_late->deleter.arm(op.listenerNotice < 0 ? -1 : op.listenerNotice + 1 + op.listenerChoice % 4,
                        op.listenerChoice * 7 % 1000 * 10 + 2 + op.listenerChoice % 8);
    m_deleter->failsOrMakes = true;
    // A variable's listener acts at one of the first unlinks, on two operations in five armed.
    const bool actsAtUnlink = op.listenerNotice >= 0 && op.listenerChoice % 5 < 2;
    m_unlinkArming = UnlinkActor::Arming{actsAtUnlink ? op.listenerNotice % 3 : -1, op.listenerChoice};
    m_deleter->actsAtRunEnd = true;
    m_emptiedRefilled = false;
    m_answered = -1;
    m_creating = op.type == Type::CREATE_VARIABLE || op.type == Type::CREATE_CONSTRAINT;
    const bool applied = perform(op);
    m_creating = false;
    m_unlinkArming.countdown = -1;
    m_deleter->arm(-1, 0);
    m_late->deleter.arm(-1, 0);
    checkMirror(OperationSequence::describe(op));
    if (applied) {
      // The propagator's own hooks check the whole agenda in Debug builds only: it is checked here.
      const Id<Propagator>& propagator = m_engine->getPropagatorByName(LabelStr("Default"));
      dynamic_cast<const DefaultPropagator&>(*propagator.operator->()).isValid();
      checkDynamicDomains(OperationSequence::describe(op));
      checkSwitching(OperationSequence::describe(op), m_tally.checked != checkedBefore);
      countSwitching(op);
      const bool answered = m_answered == 1;
      checkNextRuns(OperationSequence::describe(op), m_answered < 0 ? nullptr : &answered);
    }
    return applied;
  } catch (const Error& e) {
    fail("failed check \"" + e.getCondition() + "\"", OperationSequence::describe(op) + " failed: " + e.what());
  } catch (const std::exception& e) {
    fail("threw", OperationSequence::describe(op) + " threw: " + e.what());
  }
  return true;
}

// The listeners are disarmed: what the engine forecasts of the next propagate() holds (proven
// inconsistent, it answers false; neither that nor pending, true, changing nothing, unheard), and
// a second propagate() right after answers alike, changing nothing and telling of no change.
// Made only where it cannot change the session's course when the engine is right: with nothing
// pending, or right after the operation's own propagate(). A listener's reset of what a failed
// run emptied leaves the refill to the next run.
void OperationSession::checkNextRuns(const std::string& what, const bool* answered) {
  const bool proven = m_engine->provenInconsistent(), pending = m_engine->pending();
  if (m_failure.any() || m_emptiedRefilled || (pending && answered == nullptr))
    return;
  const std::string forecast = std::string(proven ? "proven inconsistent" : "neither proven inconsistent") +
                               (pending ? ", pending," : " nor pending") + " after " + what + ", ";
  std::string picture = runPicture(*m_engine);
  std::size_t heard = m_heard->heard().size();
  const bool answer = m_engine->propagate();
  if (proven && answer)
    return fail("forecast", forecast + "the next propagate() answered true");
  if (!proven && !pending && (!answer || runPicture(*m_engine) != picture || m_heard->heard().size() != heard))
    return fail("forecast", forecast + "the next propagate() answered " + (answer ? "true" : "false") +
                                " and changed " + (runPicture(*m_engine) != picture ? "the network" : "nothing") +
                                ", heard " + std::to_string(m_heard->heard().size() - heard) + " notices");
  for (int run = answered == nullptr ? 1 : 0; run < 2; ++run) {
    const bool first = run == 0 ? *answered : answer;
    const bool again = run == 0 ? answer : m_engine->propagate();
    const std::string change = changeHeardSince(*m_heard, heard);
    const std::string second = std::string("a propagate() right after one that answered ") +
                               (first ? "true" : "false") + ", after " + what + ", ";
    if (again != first)
      return fail("answers differ", second + "answered the opposite");
    if (runPicture(*m_engine) != picture)
      return fail("second run changed", second + "changed the network");
    if (!change.empty())
      return fail("second run changed", second + "told of " + change);
    picture = runPicture(*m_engine);
    heard = m_heard->heard().size();
  }
}

void OperationSession::checkMirror(const std::string& what) {
  for (const MirrorListener* mirror : {m_mirror.get(), &m_late->mirror}) {
    if (!mirror->breach().empty())
      fail("listener protocol", what + ": a listener heard " + mirror->breach());
    const std::string difference = mirror->differenceFromEngine();
    if (!difference.empty())
      fail("listener picture", what + ": the picture drawn from the notices differs: " + difference);
  }
}

bool OperationSession::perform(const Operation& op) {
  const std::string what = OperationSequence::describe(op);
  switch (op.type) {
  case Type::PROPAGATE: {
    const bool answer = propagateThroughFailure(what);
    m_answered = answer ? 1 : 0;
    propagated(answer, what);
    return true;
  }
  case Type::SPECIFY: {
    if (!activeVariable(op.target) || op.values.empty() || op.values.size() > 2)
      return false;
    ModelVariable& var = m_variables[op.target];
    // An open string base answers every label a member: only its own are specified.
    if (!var.id->baseDomain().isMember(var.valueOf(op.values[0])) ||
        (DrawnDomain::labels(var.kind) && var.base.count(op.values[0]) == 0))
      return false;
    // A hair beside the value (see ModelVariable::hair).
    const int hair = op.values.size() > 1 ? op.values[1] : 0;
    const double value = var.valueOf(op.values[0]) + hair / 1e7;
    if (!var.id->baseDomain().isMember(value))
      return false;
    m_specifying = op.target;
    var.id->specify(value);
    m_specifying = -1;
    var.specified = true;
    var.value = op.values[0];
    var.hair = hair;
    return true;
  }
  case Type::RESET: {
    if (!liveVariable(op.target))
      return false;
    // Recorded first: a listener told of the reset, or in the run it owes, may specify it again.
    resetVariable(op.target);
    // A decided base gives back its very value, not the one within the tolerance of it that was
    // specified or that a rule left (or nothing, emptied since).
    const ModelVariable& var = m_variables.at(op.target);
    if (!var.alive || var.id->specifiedFlag())
      return true;
    const AbstractDomain& base = var.id->baseDomain();
    const AbstractDomain& current = var.id->lastDomain();
    if (ConstraintShape::isDecided(base) && current.isClosed() && !current.isEmpty() &&
        (current.getLowerBound() != base.getSingletonValue() || current.getUpperBound() != base.getSingletonValue()))
      fail("reset kept another value", what + ": v" + std::to_string(op.target) + " base " + base.toString() +
                                           ", current " + current.toString());
    return true;
  }
  case Type::RELAX:
    if (!liveVariable(op.target))
      return false;
    m_variables[op.target].id->relax();
    return true;
  case Type::RESTRICT_BASE: {
    if (!activeVariable(op.target))
      return false;
    ModelVariable& var = m_variables[op.target];
    const std::set<int> restriction = DrawnDomain::members(op.kind, op.values);
    const std::set<int> base = DrawnDomain::membersOf(var.id->baseDomain());
    // An open base takes a closed enumeration's members whole, and closes: the current domain
    // gains those its base lacked. A fresh engine builds it closed over them.
    if (var.open) {
      const int closedKind = DrawnDomain::labels(var.kind) ? KIND_STRING : KIND_ENUMERATION;
      if (op.kind != closedKind || restriction.empty() || var.id->lastDomain().isEmpty())
        return false;
      var.id->restrictBaseDomain(*DrawnDomain::make(op.kind, op.values));
      if (!var.alive)
        return true;
      var.open = false;
      var.base = restriction;
      if (var.id->specifiedFlag() && !var.specified) {
        var.specified = true;
        var.value = DrawnDomain::drawnOf(var.kind, var.id->getSpecifiedValue());
        var.hair = 0;
      }
      return true;
    }
    // Strings meet strings only.
    if (DrawnDomain::labels(var.kind) != DrawnDomain::labels(op.kind))
      return false;
    // Refusing these is the engine's right: no common value, or nothing current to narrow. A
    // narrow real interval may share values with the base beside every integer.
    const std::unique_ptr<AbstractDomain> restricting = TenthsDomains::make(op.kind, op.values, op.data);
    if (var.id->lastDomain().isEmpty() ||
        (op.data.empty() ? std::none_of(restriction.begin(), restriction.end(),
                                        [&](int v) { return base.count(v) != 0; })
                         : !sharesValue(var.id->baseDomain(), *restricting)))
      return false;
    var.id->restrictBaseDomain(*restricting);
    if (!var.alive) // a listener deleted it
      return true;
    // A base restricted to one value specifies the variable to it.
    if (var.id->specifiedFlag() && !var.specified) {
      var.specified = true;
      var.value = DrawnDomain::drawnOf(var.kind, var.id->getSpecifiedValue());
      var.hair = 0;
    }
    std::set<int> kept;
    for (int v : var.base)
      if (restriction.count(v))
        kept.insert(v);
    const std::set<int> now = DrawnDomain::membersOf(var.id->baseDomain());
    for (int v : kept)
      if (!now.count(v))
        fail("base domain lost a value", what + ": v" + std::to_string(op.target) + " base " + DrawnDomain::text(now) +
                                             " lost " + std::to_string(v));
    var.base = kept;
    return true;
  }
  case Type::DEACTIVATE_CONSTRAINT:
    if (!maySwitch(op.type, op.target))
      return false;
    m_constraints[op.target].id->deactivate();
    ++m_constraints[op.target].deactivations;
    return true;
  case Type::ACTIVATE_CONSTRAINT:
    if (!maySwitch(op.type, op.target))
      return false;
    m_constraints[op.target].id->undoDeactivation();
    --m_constraints[op.target].deactivations;
    return true;
  case Type::DEACTIVATE_VARIABLE: {
    if (!maySwitch(op.type, op.target))
      return false;
    m_variables[op.target].id->deactivate();
    ++m_variables[op.target].deactivations;
    return true;
  }
  case Type::ACTIVATE_VARIABLE: {
    if (!maySwitch(op.type, op.target))
      return false;
    m_variables[op.target].id->undoDeactivation();
    --m_variables[op.target].deactivations;
    return true;
  }
  case Type::CREATE_VARIABLE:
    return createTakenBack(op, &OperationSession::createVariable);
  case Type::DELETE_VARIABLE:
    if (!liveVariable(op.target))
      return false;
    // Its constraints go with it.
    dropVariable(op.target, false);
    return true;
  case Type::CREATE_CONSTRAINT:
    return createTakenBack(op, &OperationSession::createConstraint);
  case Type::DELETE_CONSTRAINT:
    if (!liveConstraint(op.target))
      return false;
    m_constraints[op.target].alive = false;
    if (op.flag) {
      m_engine->deleteConstraint(m_constraints[op.target].id);
      afterAutoPropagation(what);
    } else {
      delete static_cast<Constraint*>(m_constraints[op.target].id);
    }
    return true;
  case Type::AUTO_PROPAGATION: {
    // Only switching it on propagates.
    const bool switchedOn = op.flag && !m_engine->getAutoPropagation();
    m_engine->setAutoPropagation(op.flag);
    if (switchedOn)
      afterAutoPropagation(what);
    return true;
  }
  case Type::INSERT_VALUE:
    if (!liveVariable(op.target) || !m_variables[op.target].open || op.values.size() != 1)
      return false;
    m_variables[op.target].id->insert(m_variables[op.target].valueOf(op.values[0]));
    m_variables[op.target].base.insert(op.values[0]);
    return true;
  case Type::CLOSE_VARIABLE:
    if (!liveVariable(op.target) || !m_variables[op.target].open)
      return false;
    m_variables[op.target].id->close();
    m_variables[op.target].open = false;
    m_variables[op.target].closedBefore = nextClientConstraint();
    return true;
  case Type::ALLOW_VIOLATIONS:
  case Type::VIOLATION_LIMIT:
    return setViolationLimit(op);
  case Type::REMOVE_VALUE:
  case Type::OPEN_VARIABLE:
    return changeDynamicDomain(op);
  case Type::REFUSED_CALL:
    return refuseCall(op);
  case Type::CLEAR_IN_TEAR_DOWN:
    break; // applied before the checks (see apply())
  }
  return false;
}

// Removes a member of an enumeration's base domain, or opens a closed enumeration again.
bool OperationSession::changeDynamicDomain(const Operation& op) {
  if (!liveVariable(op.target))
    return false;
  ModelVariable& var = m_variables[op.target];
  if (op.type == Type::REMOVE_VALUE) {
    if (op.kind != 0)
      return removeEnd(op);
    if ((var.kindNow() != KIND_OPEN && var.kindNow() != KIND_ENUMERATION && !DrawnDomain::labels(var.kind)) ||
        op.values.size() != 1)
      return false;
    var.id->remove(var.valueOf(op.values[0]));
    var.base.erase(op.values[0]);
    return true;
  }
  if (!mayOpen(op.target))
    return false;
  var.id->open();
  if (!var.alive) // a listener deleted it
    return true;
  var.open = true;
  // A fresh engine builds it open: it is closed again only if the client closes it again.
  var.closedBefore = -1;
  return true;
}

// Removes an end of an interval's base: the base's own, or the current domain's where that lies
// within the tolerance of one of the base's (the value a rule left beside it). The base keeps
// the values the client left in it but what the removal takes.
bool OperationSession::removeEnd(const Operation& op) {
  ModelVariable& var = m_variables[op.target];
  const AbstractDomain& base = var.id->baseDomain();
  if (var.kindNow() != op.kind || op.values.size() != 1 || base.isEmpty())
    return false;
  const AbstractDomain& current = var.id->lastDomain();
  const bool upper = op.values[0] % 2 != 0;
  double value = upper ? base.getUpperBound() : base.getLowerBound();
  if (op.values[0] >= 2 && !current.isEmpty()) {
    const double end = upper ? current.getUpperBound() : current.getLowerBound();
    if (base.eq(end, base.getLowerBound()) || base.eq(end, base.getUpperBound()))
      value = end;
  }
  var.id->remove(value);
  if (!var.alive) // a listener deleted it
    return true;
  if (var.id->baseDomain().isMember(value))
    fail("base domain kept a removed value", OperationSequence::describe(op) + ": v" + std::to_string(op.target) +
                                                 " base " + var.id->baseDomain().toString() + " still holds " +
                                                 var.id->toString(value));
  // The client removed every integer the value stands for: a real end a sum of tenths left a hair
  // beside 3 steps the tolerance from that hair, and keeps 3 within the tolerance of the new end,
  // where no rule finds it equal to the hair any more (the README says so).
  const std::set<int> now = DrawnDomain::membersOf(var.id->baseDomain());
  std::set<int> kept;
  for (int v : var.base)
    if (now.count(v) != 0 && !var.id->baseDomain().compareEqual(value, v))
      kept.insert(v);
  var.base = kept;
  return true;
}

bool OperationSession::mayOpen(int v) const {
  const int kind = liveVariable(v) ? m_variables.at(v).kindNow() : 0;
  if (kind != KIND_ENUMERATION && kind != KIND_STRING)
    return false;
  const unsigned int openKind = kind == KIND_STRING ? KIND_STRING_OPEN : KIND_OPEN;
  const std::vector<ConstraintEntry>& catalogue = constraintCatalogue();
  for (const auto& c : m_constraints) {
    if (!c.second.alive)
      continue;
    const ConstraintEntry& entry = catalogue[static_cast<std::size_t>(c.second.entry)];
    for (unsigned int i = 0; i < c.second.scope.size(); ++i) {
      if (c.second.scope[i] != v)
        continue;
      const ConstraintEntry::Position p = entry.position ? entry.position(i) : ConstraintEntry::Position();
      if ((p.kinds & openKind) == 0)
        return false;
    }
  }
  return true;
}

void OperationSession::checkDynamicDomains(const std::string& what) {
  for (const auto& v : m_variables) {
    if (!v.second.alive)
      continue;
    const Id<ConstrainedVariable>& var = v.second.id;
    const AbstractDomain& base = var->baseDomain();
    const AbstractDomain& current = var->lastDomain();
    const std::string shown = "after " + what + ": v" + std::to_string(v.first) + " base " + base.toString() +
                              ", current " + current.toString();
    if (!var->isValid()) {
      fail("variable left invalid", shown);
      return;
    }
    if (!baseHolds(base, current)) {
      fail("base does not hold the current domain", shown);
      return;
    }
    // The value itself, not one within the tolerance of it.
    if (var->specifiedFlag()) {
      const double value = var->getSpecifiedValue();
      if (current.isOpen() ||
          (!current.isEmpty() && (current.getLowerBound() != value || current.getUpperBound() != value))) {
        fail("specified variable holds another value", shown + ", specified " + var->toString(value));
        return;
      }
    }
  }
}

// While a constraint is held violated the engine refuses any change of the limit: the session
// expects the refusal then, with the limit left as it was.
bool OperationSession::setViolationLimit(const Operation& op) {
  if (op.type == Type::VIOLATION_LIMIT && (op.values.size() != 1 || op.values[0] < 0))
    return false;
  ViolationMgr& manager = m_engine->getViolationMgr();
  const unsigned int before = manager.getMaxViolationsAllowed();
  const bool refusable = m_engine->getAllViolations().size() != 0;
  const std::string what = OperationSequence::describe(op);
  const NetworkSnapshot snapshot(*m_engine, *m_heard);
  try {
    if (op.type == Type::ALLOW_VIOLATIONS)
      m_engine->setAllowViolations(op.flag);
    else
      manager.setMaxViolationsAllowed(static_cast<unsigned int>(op.values[0]));
  } catch (const Error&) {
    if (!refusable)
      throw;
    if (manager.getMaxViolationsAllowed() != before)
      fail("refused limit changed", what + " was refused but changed the limit");
    const std::string changed = snapshot.differenceFrom(NetworkSnapshot(*m_engine, *m_heard));
    if (!changed.empty())
      fail("refused call changed the network", what + " was refused but changed the network: " + changed);
    return true;
  }
  if (refusable)
    fail("limit changed while violations are held", what + " was taken with violations held");
  return true;
}

bool OperationSession::createVariable(const Operation& op) {
  if (m_variables.count(op.target) != 0)
    return false;
  ModelVariable var;
  var.kind = op.kind;
  var.byName = op.flag;
  var.open = op.kind == KIND_OPEN || op.kind == KIND_STRING_OPEN;
  var.base = DrawnDomain::members(op.kind, op.values);
  // Made by name, the variable may be deleted by the listener told of its making: the creation
  // is then refused, and the variable was never the session's.
  m_makingByName = op.flag;
  m_madeName = "v" + std::to_string(op.target);
  m_madeDropped = false;
  try {
    const FlagAs makingWithNew(m_makingWithNew, !op.flag);
    var.id = DrawnDomain::newVariable(m_engine->getId(), op.kind,
                                      *TenthsDomains::make(op.kind, op.values, op.data, op.variant == 1), op.flag,
                                      m_madeName);
  } catch (const Error& e) {
    m_makingByName = false;
    if (!m_madeDropped || e.getCondition() != "made.isValid() && !made->isDiscarded()")
      throw;
    var.id = Id<ConstrainedVariable>();
    var.alive = false;
  }
  m_makingByName = false;
  if (m_madeDropped && var.alive)
    fail("creation not refused", OperationSequence::describe(op) + " stood although a listener deleted the variable");
  m_variables[op.target] = var;
  if (var.alive)
    m_unlinkActors.emplace_back(new UnlinkActor(var.id, m_unlinkArming, *this));
  return true;
}

bool OperationSession::createConstraint(const Operation& op) {
  const std::vector<ConstraintEntry>& catalogue = constraintCatalogue();
  if (m_constraints.count(op.target) != 0 || op.kind < 0 || op.kind >= static_cast<int>(catalogue.size()))
    return false;
  const ConstraintEntry& entry = catalogue[static_cast<std::size_t>(op.kind)];
  if (op.scope.size() < entry.minArity || op.scope.size() > entry.maxArity)
    return false;
  std::vector<Id<ConstrainedVariable> > scope;
  for (unsigned int i = 0; i < op.scope.size(); ++i) {
    if (!fits(op.scope[i], entry, i, std::vector<int>(op.scope.begin(), op.scope.begin() + i)))
      return false;
    scope.push_back(m_variables[op.scope[i]].id);
  }
  ModelConstraint c;
  c.entry = op.kind;
  c.variant = op.variant;
  c.equality = op.variant == 0 && op.flag;
  c.scope = op.scope;
  c.data = op.data;
  // A listener told of the creation may have deleted a variable of the scope, and so the constraint.
  const auto scopeLive = [this, &op] {
    return std::all_of(op.scope.begin(), op.scope.end(), [this](int v) { return liveVariable(v); });
  };
  if (op.variant > 0) {
    c.id = m_engine->createConstraint(entry.names.at(static_cast<std::size_t>(op.variant - 1)), scope);
    for (const Id<Constraint>& added : m_added)
      if (!madeByListener(added))
        c.members.push_back(added);
    c.alive = scopeLive();
    m_constraints[op.target] = c;
    afterAutoPropagation(OperationSequence::describe(op));
  } else {
    try {
      const FlagAs makingWithNew(m_makingWithNew, true);
      c.id = entry.build(m_engine->getId(), c.equality ? "Equal" : "Default", scope, op.data)->getId();
    } catch (const Error&) {
      // Refused because a listener told of it deleted a variable of its scope while it was built.
      if (scopeLive())
        throw;
      return true;
    }
    for (const Id<Constraint>& added : m_added)
      if (!madeByListener(added))
        c.members.push_back(added);
    c.alive = scopeLive();
    m_constraints[op.target] = c;
  }
  return true;
}

bool OperationSession::createTakenBack(const Operation& op, bool (OperationSession::*create)(const Operation&)) {
  m_takingBack = true;
  const std::size_t constraintsBefore = m_constraints.size();
  const std::size_t variablesBefore = m_variables.size();
  try {
    const bool applied = (this->*create)(op);
    m_takingBack = false;
    return applied;
  } catch (const ListenerFailure&) {
    m_takingBack = false;
    m_makingByName = false;
  }
  // Taken back before the failure left: the engine holds nothing the model does not know, but
  // what listeners made meanwhile.
  if (m_constraints.size() - m_listenerMade.size() != constraintsBefore || m_variables.size() != variablesBefore)
    fail("creation not taken back", OperationSequence::describe(op) + " was recorded although a listener failed");
  for (const Id<Constraint>& constraint : m_engine->getConstraints())
    if (constraintNumber(constraint) < 0)
      fail("creation not taken back",
           OperationSequence::describe(op) + ": a listener failed, yet the engine holds " +
               constraint->getName().toString() + " (key " + std::to_string(constraint->getKey()) + ")");
  return true;
}

bool OperationSession::madeByListener(const Id<Constraint>& constraint) const {
  if (m_listenerMade.empty() || !constraint.isValid())
    return false;
  const Id<Constraint> owner = constraint->standingOwner();
  return std::find(m_listenerMade.begin(), m_listenerMade.end(), constraint) != m_listenerMade.end() ||
         std::find(m_listenerMade.begin(), m_listenerMade.end(), owner) != m_listenerMade.end();
}

void OperationSession::makeFromListener(int choice) {
  std::vector<int> live;
  for (const auto& v : m_variables)
    if (v.second.alive)
      live.push_back(v.first);
  const std::vector<ConstraintEntry>& catalogue = constraintCatalogue();
  const int index = choice % static_cast<int>(catalogue.size());
  const ConstraintEntry& entry = catalogue[static_cast<std::size_t>(index)];
  if (entry.names.empty() || live.empty() || entry.hasData)
    return;
  const unsigned int arity = entry.minArity + static_cast<unsigned int>(choice / 7) % 2;
  if (arity > entry.maxArity)
    return;
  ModelConstraint c;
  c.entry = index;
  c.variant = 1 + (choice / 3) % static_cast<int>(entry.names.size());
  std::vector<Id<ConstrainedVariable> > scope;
  for (unsigned int i = 0; i < arity; ++i) {
    const int v = live[static_cast<std::size_t>(choice / 11 + 5 * i) % live.size()];
    if (!fits(v, entry, i, c.scope))
      return;
    c.scope.push_back(v);
    scope.push_back(m_variables.at(v).id);
  }
  // Its run waits until the notices being told are told; it is judged with the operation's.
  c.id = m_engine->createConstraint(entry.names.at(static_cast<std::size_t>(c.variant - 1)), scope);
  c.alive = c.id.isValid() && !c.id->isDiscarded();
  if (!c.alive)
    return;
  m_listenerMade.push_back(c.id);
  c.members.push_back(c.id);
  for (const Id<Constraint>& constraint : m_engine->getConstraints())
    if (constraint != c.id && constraint->standingOwner() == c.id)
      c.members.push_back(constraint);
  m_constraints[LISTENER_MADE_FIRST + m_listenerMadeCount++] = c;
}

// A fresh engine builds the client's constraints first: a close numbered after a listener's
// constraint would come after all of them there, and a constraint made once closed would meet
// the variable open.
int OperationSession::nextClientConstraint() const {
  const auto after = m_constraints.lower_bound(LISTENER_MADE_FIRST);
  return after == m_constraints.begin() ? 0 : std::prev(after)->first + 1;
}

// The network the engine answers for: the constraints in effect, without those it holds
// violated, whose narrowing a set-aside undoes. A composite (or a name's delegate) with only a
// member set aside stays whole: brute force knows its meaning only, and what remains of it may
// still narrow (a count stays at least 0), so the whole is what surely holds no more than the
// engine keeps. A false answer at the limit comes from a run that stopped as it set its last
// constraint aside: that run's narrowing stands, so that constraint still counts.
std::set<int> OperationSession::judgedNetwork(bool answer) const {
  const bool stopped = !answer && !m_engine->canContinuePropagation();
  std::set<int> network;
  for (const auto& c : m_constraints)
    if (inEffect(c.second) && ((stopped && c.second.id == m_lastSetAside) || !m_engine->isViolated(c.second.id)))
      network.insert(c.first);
  return network;
}

std::vector<OperationSession::Part> OperationSession::independentParts(const std::set<int>& network) const {
  std::map<int, int> part;
  for (const auto& v : m_variables)
    if (v.second.alive)
      part[v.first] = v.first;
  std::function<int(int)> root = [&](int v) { return part[v] == v ? v : part[v] = root(part[v]); };
  for (int c : network)
    for (int v : m_constraints.at(c).scope)
      part[root(v)] = root(m_constraints.at(c).scope[0]);
  std::map<int, Part> byRoot;
  auto join = [](std::vector<int>& vars, int v) {
    if (std::find(vars.begin(), vars.end(), v) == vars.end())
      vars.push_back(v);
  };
  // Variables in constraint order, so that brute force tests constraints early.
  for (int c : network) {
    const ModelConstraint& mc = m_constraints.at(c);
    Part& p = byRoot[root(mc.scope[0])];
    p.constraints.push_back(c);
    for (int v : mc.scope)
      join(p.variables, v);
  }
  for (const auto& v : part)
    join(byRoot[root(v.first)].variables, v.first);
  std::vector<Part> parts;
  for (const auto& p : byRoot)
    parts.push_back(p.second);
  return parts;
}

bool OperationSession::solve(const Part& part, std::map<int, std::set<int> >& support) const {
  std::map<int, std::size_t> positionOf;
  std::vector<std::vector<int> > candidates;
  for (int v : part.variables) {
    positionOf[v] = candidates.size();
    const std::set<int> allowed = m_variables.at(v).allowed();
    candidates.emplace_back(allowed.begin(), allowed.end());
  }
  std::vector<SearchedConstraint> searched;
  for (int c : part.constraints) {
    const ModelConstraint& mc = m_constraints.at(c);
    searched.push_back(SearchedConstraint{&constraintCatalogue().at(static_cast<std::size_t>(mc.entry)), {}, mc.data});
    for (int v : mc.scope)
      searched.back().scope.push_back(positionOf.at(v));
  }
  std::vector<std::set<int> > found;
  const bool anySolution = searchSolutions(candidates, searched, found);
  for (std::size_t i = 0; i < found.size(); ++i)
    support[part.variables[i]].insert(found[i].begin(), found[i].end());
  return anySolution;
}

bool OperationSession::propagateThroughFailure(const std::string& what) {
  // A listener's failure leaves once the call ended whole: every run heard ended, the mirrors
  // kept their pictures, and what is left is the next call's, which answers.
  try {
    const FlagAs failing(m_propagateOperation, true);
    return m_engine->propagate();
  } catch (const ListenerFailure&) {
    ++m_tally.failedInRun;
    if (m_mirror->inRun() || m_late->mirror.inRun())
      fail("a run never ended", what + ": a listener failed, and a run heard commenced was not heard to end");
    checkMirror(what + " (a listener failed)");
  }
  return m_engine->propagate();
}

void OperationSession::propagated(bool answer, const std::string& what) {
  ++m_tally.checked;
  if (!answer)
    ++m_tally.answeredFalse;
  if (m_engine->getAllViolations().size() != 0)
    ++m_tally.violated;
  const std::set<int> network = judgedNetwork(answer);
  const std::vector<Part> parts = independentParts(liveNetwork(answer));
  m_besideHair.clear();
  for (const Part& part : parts)
    if (std::any_of(part.variables.begin(), part.variables.end(),
                    [this](int v) { return m_variables.at(v).specified && m_variables.at(v).hair != 0; }))
      m_besideHair.insert(part.variables.begin(), part.variables.end());
  if (!keepsSolutions(parts, answer, what) || !countsViolations(what) || !keepsBrokenConstraintsSeen(what))
    return;
  if (!answer) {
    if (failsOverAnActiveVariable(what))
      failsAsFreshEngine(parts, what);
    return;
  }
  if (leavesNoEmptyDomain(what) && leavesNoPendingWork(what) && leavesNoDecidedViolation(network, what))
    matchesFreshEngine(parts, what);
}

// Propagation keeps every value of every solution of the live network, part by part (a part
// without solution does not excuse another), and answers true while every part has one; a
// switched-off variable is held to it once it is back on. Brute force works over the integers:
// a real variable takes its integer values, which shows the solutions it finds but proves no
// part without one. A part holding an open domain is not judged: such a domain may still gain
// any value.
bool OperationSession::keepsSolutions(const std::vector<Part>& parts, bool answer, const std::string& what) {
  bool allSolvable = true;
  for (const Part& part : parts) {
    if (std::any_of(part.variables.begin(), part.variables.end(), [&](int v) { return m_variables.at(v).open; })) {
      allSolvable = false;
      continue;
    }
    std::map<int, std::set<int> > support;
    if (!solve(part, support)) {
      allSolvable = false;
      continue;
    }
    for (const auto& s : support) {
      if (!activeVariable(s.first))
        continue;
      const AbstractDomain& domain = m_variables.at(s.first).id->lastDomain();
      for (int v : s.second)
        if (!domain.isMember(m_variables.at(s.first).valueOf(v))) {
          fail("lost a value of a solution", "after " + what + ": v" + std::to_string(s.first) + " = " +
                                                 domain.toString() + " lost " + std::to_string(v) +
                                                 ", which a solution uses");
          return false;
        }
    }
  }
  if (allSolvable && !answer) {
    fail("inconsistent although solvable", "after " + what + ": the network has a solution");
    return false;
  }
  return true;
}

// The violated constraints are live ones of the session (or their members), each inactive, no
// more of them than the limit allows, and getViolation() counts them (1.0 for none while a
// domain is recorded empty).
bool OperationSession::countsViolations(const std::string& what) {
  const PSList<PSConstraint*> listed = m_engine->getAllViolations();
  std::set<const PSConstraint*> held;
  for (int i = 0; i < listed.size(); ++i)
    held.insert(listed.get(i));
  std::size_t known = 0;
  for (const auto& c : m_constraints)
    for (std::size_t i : violatedMembers(c.second)) {
      ++known;
      const Id<Constraint>& member = c.second.members[i];
      const std::string name = "c" + std::to_string(c.first) + (i == 0 ? "" : " (member " + std::to_string(i) + ")");
      if (held.count(static_cast<const PSConstraint*>(static_cast<Constraint*>(member))) == 0) {
        fail("violated set differs", "after " + what + ": " + name + " is violated but not listed");
        return false;
      }
      if (member->isActive()) {
        fail("violated constraint left active", "after " + what + ": " + name + " is violated and active");
        return false;
      }
    }
  if (known != held.size()) {
    fail("violated set differs", "after " + what + ": " + std::to_string(held.size()) + " listed, " +
                                     std::to_string(known) + " of the session's constraints violated");
    return false;
  }
  const double expected = known > 0 ? static_cast<double>(known) : m_engine->hasEmptyVariables() ? 1.0 : 0.0;
  if (m_engine->getViolation() != expected) {
    fail("violation count differs", "after " + what + ": getViolation() is " +
                                        std::to_string(m_engine->getViolation()) + " with " + std::to_string(known) +
                                        " violated");
    return false;
  }
  if (known > m_engine->getViolationMgr().getMaxViolationsAllowed()) {
    fail("violations beyond the limit", "after " + what + ": " + std::to_string(known) + " violated, limit " +
                                            std::to_string(m_engine->getViolationMgr().getMaxViolationsAllowed()));
    return false;
  }
  return true;
}

// A constraint in effect that its decided values break is never dropped unseen: the engine
// still runs it or a part of it (active; a composite retired as redundant leaves its parts to
// run), or reports it (violated).
bool OperationSession::keepsBrokenConstraintsSeen(const std::string& what) {
  // A part a listener's deletion discarded runs no more, whatever it answers.
  auto anyPartActive = [](const ModelConstraint& mc) {
    return std::any_of(mc.members.begin(), mc.members.end(),
                       [](const Id<Constraint>& m) { return m.isValid() && !m->isDiscarded() && m->isActive(); });
  };
  for (const auto& c : m_constraints) {
    std::string shown;
    if (inEffect(c.second) && !anyPartActive(c.second) && !heldViolated(c.second) &&
        brokenByDecidedValues(c.second, shown)) {
      fail("broken constraint dropped unseen", "after " + what + ": c" + std::to_string(c.first) +
                                                   " is inactive and not violated, but does not hold for " + shown);
      return false;
    }
  }
  return true;
}

// A true answer leaves no active variable empty. The engine does not hear of an inactive
// variable's changes; an open domain without values is not empty, as it may still gain any.
bool OperationSession::leavesNoEmptyDomain(const std::string& what) {
  const Id<ConstrainedVariable> emptied = activeEmptied();
  if (emptied.isNoId())
    return true;
  fail("consistent with an empty domain", "after " + what + ": " + emptied->getName().toString() + " is empty");
  return false;
}

// A false answer rests on an active variable holding nothing for good: one switched off is judged
// once it is on, however it emptied.
bool OperationSession::failsOverAnActiveVariable(const std::string& what) {
  // Refilled by a listener told the run failed, the same model answers false with nothing empty.
  if (m_emptiedRefilled || !activeEmptied().isNoId())
    return true;
  fail("inconsistent over switched-off variables", "after " + what + ": no active variable is empty");
  return false;
}

Id<ConstrainedVariable> OperationSession::activeEmptied() const {
  for (const Id<ConstrainedVariable>& var : m_engine->getVariables())
    if (var->isActive() && var->lastDomain().isEmpty() && var->lastDomain().isClosed())
      return var;
  return Id<ConstrainedVariable>();
}

// A true answer leaves no work queued.
bool OperationSession::leavesNoPendingWork(const std::string& what) {
  if (!m_engine->pending())
    return true;
  fail("consistent with pending work", "after " + what + ": propagation has work left");
  return false;
}

// Meanings are judged over the integers: a real decided to a fraction leaves its constraint
// unjudged, and so does a real interval that is a singleton only within its tolerance: the
// relation may hold for another value it holds. So does a part holding a value specified a hair
// beside an integer: beside a value a rule left on the other side of one, the two may differ by
// more than the tolerance, where the integers read are equal. A fresh engine judges those.
bool OperationSession::brokenByDecidedValues(const ModelConstraint& c, std::string& shown) const {
  if (std::any_of(c.scope.begin(), c.scope.end(), [this](int v) { return m_besideHair.count(v) != 0; }))
    return false;
  std::vector<double> values;
  std::ostringstream os;
  for (int v : c.scope) {
    const AbstractDomain& domain = m_variables.at(v).id->lastDomain();
    if (domain.isOpen() || !domain.isSingleton() ||
        (domain.isInterval() && domain.getLowerBound() != domain.getUpperBound()))
      return false;
    const double value = domain.getSingletonValue();
    // A label stands for its drawn value.
    if (domain.isString()) {
      values.push_back(DrawnDomain::drawnOf(KIND_STRING, value));
      os << (values.size() == 1 ? "" : ", ") << "v" << v << " = " << domain.toString();
      continue;
    }
    // Judged by the domain's own equality: a real a whole tolerance from an integer is not it.
    const double integer = std::round(value);
    if (!domain.compareEqual(value, integer))
      return false;
    values.push_back(integer);
    os << (values.size() == 1 ? "" : ", ") << "v" << v << " = " << integer;
  }
  shown = os.str();
  return !constraintCatalogue().at(static_cast<std::size_t>(c.entry)).meaning(values, c.data);
}

// A true answer leaves no constraint of the judged network broken by decided values, but for a
// composite the engine holds a member of violated: where every variable of its scope is decided
// (a closed singleton), the catalogue's meaning holds.
bool OperationSession::leavesNoDecidedViolation(const std::set<int>& network, const std::string& what) {
  for (int c : network) {
    const ModelConstraint& mc = m_constraints.at(c);
    std::string shown;
    if (!heldViolated(mc) && brokenByDecidedValues(mc, shown)) {
      fail("violated by decided values", "after " + what + ": c" + std::to_string(c) + " (" +
                                             constraintCatalogue().at(static_cast<std::size_t>(mc.entry)).className +
                                             ") does not hold for " + shown);
      return false;
    }
  }
  return true;
}

// Real intervals whose bounds agree within their tolerance: narrowings applied in another order
// (a base restricted after a switched-off constraint's narrowing, or before it) may stop within
// the tolerance at different places.
bool OperationSession::sameRealBounds(const AbstractDomain& a, const AbstractDomain& b) {
  if (!a.isInterval() || !b.isInterval() || a.minDelta() >= 1.0 || a.isOpen() || b.isOpen() || a.isEmpty() ||
      b.isEmpty())
    return false;
  return a.compareEqual(a.getLowerBound(), b.getLowerBound()) && a.compareEqual(a.getUpperBound(), b.getUpperBound());
}

// The parts a fresh engine is held to. A part holding a constraint whose rule makes the fixpoint
// depend on the order of execution (ConstraintEntry::orderDependence) is not, as the README
// says. Nor is a part where a constraint holds a real variable (an interval, or an enumeration
// holding tenths) at two positions, or two real variables that equalities join: its rule may
// step by the tolerance, and the bounded rounds of each execution, or the tolerance of an
// equality's narrowing, cut that crawl short where the order of execution says. Nor is one with
// a strict comparison against a sum over reals, where the tolerance adds up (see
// strictAgainstRealSum), or a product over a real narrower than the tolerance. `allOn` tells which of the others have nothing switched off.
std::vector<const OperationSession::Part*> OperationSession::freshlyComparable(const std::vector<Part>& parts,
                                                                               std::vector<bool>& allOnToo) const {
  const std::vector<ConstraintEntry>& catalogue = constraintCatalogue();
  // Variables that equalities of the network join stand for one another: a real variable at two
  // positions may also be two real variables of one class.
  std::map<int, int> joinedTo;
  std::function<int(int)> classOf = [&](int v) {
    const auto it = joinedTo.find(v);
    return it == joinedTo.end() || it->second == v ? v : it->second = classOf(it->second);
  };
  for (const Part& part : parts)
    for (int c : part.constraints)
      if (catalogue[static_cast<std::size_t>(m_constraints.at(c).entry)].className == "EqualConstraint")
        for (int v : m_constraints.at(c).scope)
          joinedTo[classOf(v)] = classOf(m_constraints.at(c).scope[0]);
  // Real-valued: a real interval, or an enumeration holding a member that is not an integer
  // exactly (tenths, or integers held as sums of tenths).
  auto real = [&](int v) {
    if (m_variables.at(v).kind == KIND_REAL)
      return true;
    const AbstractDomain& base = m_variables.at(v).id->baseDomain();
    if (!base.isEnumerated())
      return false;
    std::list<double> values;
    base.getValues(values);
    return std::any_of(values.begin(), values.end(), [](double value) { return value != std::round(value); });
  };
  auto mayCrawl = [&](const ModelConstraint& mc) {
    for (std::size_t i = 0; i < mc.scope.size(); ++i)
      for (std::size_t j = i + 1; j < mc.scope.size(); ++j)
        if (real(mc.scope[i]) && real(mc.scope[j]) && classOf(mc.scope[i]) == classOf(mc.scope[j]))
          return true;
    return false;
  };
  // A strict comparison against a sum over reals: the tolerance adds up where the sum equals the
  // other side, and what is kept follows the order of execution, as the README says. So it does
  // over an enumeration made open, whose rules wait until it closes and then run in another
  // order than a fresh engine's (the sum between them is real).
  auto strictAgainstRealSum = [&](const ModelConstraint& mc) {
    const std::string& name = catalogue[static_cast<std::size_t>(mc.entry)].className;
    return (name.find("LessThanSum") != std::string::npos || name.find("GreaterThanSum") != std::string::npos ||
            name.find("addlt") != std::string::npos) &&
           std::any_of(mc.scope.begin(), mc.scope.end(),
                       [&](int v) { return real(v) || m_variables.at(v).kind == KIND_OPEN; });
  };
  // A product over a real interval narrower than the tolerance: which moves smaller than the
  // tolerance it skips follows the order of execution, as the README says.
  auto productOverNarrowReal = [&](const ModelConstraint& mc) {
    return catalogue[static_cast<std::size_t>(mc.entry)].className == "MultEqualConstraint" &&
           std::any_of(mc.scope.begin(), mc.scope.end(), [&](int v) {
             const AbstractDomain& base = m_variables.at(v).id->baseDomain();
             return m_variables.at(v).kind == KIND_REAL && base.isInterval() && !base.isEmpty() &&
                    base.getUpperBound() - base.getLowerBound() < base.minDelta();
           });
  };
  std::vector<const Part*> compared;
  allOnToo.clear();
  for (const Part& part : parts)
    if (std::none_of(part.constraints.begin(), part.constraints.end(), [&](int c) {
          const ModelConstraint& mc = m_constraints.at(c);
          return catalogue[static_cast<std::size_t>(mc.entry)].orderDependence != nullptr || mayCrawl(mc) ||
                 strictAgainstRealSum(mc) || productOverNarrowReal(mc);
        })) {
      compared.push_back(&part);
      allOnToo.push_back(allOn(part));
    }
  return compared;
}

// A true answer is the fixpoint of the live network without what it holds violated: a fresh
// engine built from it (see FreshNetwork, which sets the same constraints and members aside)
// answers true after one propagation, and holds the same current domain for every variable,
// printed alike, open enumerations included. Where something is switched off, what a
// switched-off constraint narrowed may stand (the README says so): there the live domains lie
// within the fresh engine's. The fresh engine is built over the compared parts alone (see
// freshlyComparable), so that a contradiction only a part left out may hold excuses no other.
// (The parts keep a composite with a member set aside whole, so they join at least what the
// engine joins.)
bool OperationSession::matchesFreshEngine(const std::vector<Part>& parts, const std::string& what) {
  std::vector<bool> allOnToo;
  const std::vector<const Part*> compared = freshlyComparable(parts, allOnToo);
  if (compared.empty())
    return true;
  std::set<int> comparedVariables;
  for (const Part* part : compared)
    comparedVariables.insert(part->variables.begin(), part->variables.end());
  FreshNetwork fresh(*this, comparedVariables);
  if (!fresh.propagate()) {
    fail("answer differs from a fresh engine", "after " + what + ": a fresh engine over " +
                                                   (compared.size() < parts.size() ? "the compared parts of " : "") +
                                                   "the live network answers false");
    return false;
  }
  for (std::size_t i = 0; i < compared.size(); ++i) {
    for (int v : compared[i]->variables) {
      const AbstractDomain& live = m_variables.at(v).id->lastDomain();
      const AbstractDomain& again = fresh.domainOf(v);
      if (!baseHolds(fresh.baseOf(v), again)) {
        fail("base does not hold the current domain", "after " + what + ": in a fresh engine, v" +
                                                                 std::to_string(v) + " base " +
                                                                 fresh.baseOf(v).toString() + ", current " +
                                                                 again.toString());
        return false;
      }
      const bool differs =
          allOnToo[i] ? live.toString() != again.toString() && !sameRealBounds(live, again) : !withinFresh(live, again);
      if (differs) {
        fail("domain differs from a fresh engine",
             "after " + what + ": v" + std::to_string(v) + " = " + live.toString() +
                 (allOnToo[i] ? ", a fresh engine over the live network gives "
                              : ", beyond what a fresh engine over the live network (something switched off) gives ") +
                 again.toString());
        return false;
      }
    }
  }
  return true;
}

// A false answer without violations allowed: a fresh engine over the compared parts that hold
// every emptied variable answers false as well (a true one there would be a lost widening).
bool OperationSession::failsAsFreshEngine(const std::vector<Part>& parts, const std::string& what) {
  if (m_engine->getViolationMgr().getMaxViolationsAllowed() != 0 || !m_engine->hasEmptyVariables())
    return true;
  std::vector<bool> allOnToo;
  const std::vector<const Part*> compared = freshlyComparable(parts, allOnToo);
  std::set<int> comparedVariables;
  for (std::size_t i = 0; i < compared.size(); ++i)
    if (allOnToo[i])
      comparedVariables.insert(compared[i]->variables.begin(), compared[i]->variables.end());
  for (const Id<ConstrainedVariable>& emptied : m_engine->getViolationMgr().getEmptyVariables()) {
    const int v = variableNumber(emptied);
    if (v < 0 || comparedVariables.count(v) == 0)
      return true;
    // Specified to a value its base has lost since: no variable can be made so (FreshNetwork
    // rebuilds an enumeration's only), and it holds nothing for good, as the README says.
    if (emptied->specifiedFlag() && !emptied->baseDomain().isMember(emptied->getSpecifiedValue()))
      return true;
  }
  FreshNetwork fresh(*this, comparedVariables);
  if (fresh.propagate()) {
    fail("answer differs from a fresh engine",
         "after " + what + ": a fresh engine over the parts holding the emptied variables answers true");
    return false;
  }
  return true;
}

// Whether a live domain lies within a fresh engine's (within the tolerance for reals): an open
// fresh domain holds the values it has so far.
bool OperationSession::withinFresh(const AbstractDomain& live, const AbstractDomain& again) {
  if (live.isOpen() && !again.isOpen())
    return false;
  if (live.isEmpty())
    return true;
  if (again.isEmpty())
    return false;
  if (live.isInterval() || again.isInterval()) {
    const double lb = live.getLowerBound(), ub = live.getUpperBound();
    return (again.getLowerBound() <= lb || again.compareEqual(again.getLowerBound(), lb)) &&
           (ub <= again.getUpperBound() || again.compareEqual(ub, again.getUpperBound()));
  }
  std::list<double> values;
  live.getValues(values);
  return std::all_of(values.begin(), values.end(), [&again](double value) { return again.isMember(value); });
}

} // namespace KALDEN
