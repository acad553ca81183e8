#include "support/ListenerDraws.hh"

#include "support/ConstraintCatalogue.hh"
#include "support/OperationSession.hh"

#include <iomanip>
#include <sstream>
#include <vector>

namespace KALDEN {

typedef OperationSequence::Operation Operation;
typedef OperationSequence::Type Type;
typedef OperationSequence::Refusal Refusal;

bool ListenerDraws::refusal(const OperationSession& session, Operation& op) {
  if (between(0, 9) != 0)
    return false;
  std::vector<int> variables;
  for (const auto& v : session.variables())
    if (v.second.alive)
      variables.push_back(v.first);
  std::vector<int> constraints;
  for (const auto& c : session.constraints())
    if (c.second.alive)
      constraints.push_back(c.first);
  op = Operation();
  op.type = Type::REFUSED_CALL;
  op.kind = between(0, static_cast<int>(Refusal::COUNT) - 1);
  const Refusal which = static_cast<Refusal>(op.kind);
  if (which == Refusal::DELETE_AS_LISTED) {
    // The position (taken modulo the listing's size) and the way: deleteConstraint, a
    // constraint's discard(), a variable's discard(), or a variable deleted unless a part.
    op.values = {between(0, 99), between(0, 3)};
    return true;
  }
  if (which == Refusal::ACTIVATE_ACTIVE_CONSTRAINT || which == Refusal::ACTIVATE_VIOLATED_CONSTRAINT) {
    if (constraints.empty())
      return false;
    op.target = constraints[static_cast<std::size_t>(between(0, static_cast<int>(constraints.size()) - 1))];
    return true;
  }
  if (which != Refusal::CREATE_WITH_WRONG_ARITY && which != Refusal::CREATE_OVER_SYMBOLS) {
    if (variables.empty())
      return false;
    op.target = variables[static_cast<std::size_t>(between(0, static_cast<int>(variables.size()) - 1))];
    // Halves: a value between two integers as often as an integer, within and beyond the drawn range.
    op.values = {between(2 * DrawnDomain::LEAST - 16, 2 * DrawnDomain::GREATEST + 16), 0};
    // One real interval in ten narrower than the tolerance: its width in ten-millionths.
    if ((which == Refusal::RESTRICT_BASE_DISJOINT || which == Refusal::RESET_NARROWER_INTERVAL) && between(0, 9) == 0)
      op.values[1] = between(1, 99);
    return true;
  }
  // A constraint of the catalogue over live variables (whether they fit is the engine's to judge).
  const std::vector<ConstraintEntry>& catalogue = constraintCatalogue();
  const int entry = between(0, static_cast<int>(catalogue.size()) - 1);
  const ConstraintEntry& e = catalogue[static_cast<std::size_t>(entry)];
  const int arity = which == Refusal::CREATE_WITH_WRONG_ARITY
                        ? between(0, std::max(0, static_cast<int>(e.minArity) - 1))
                        : between(static_cast<int>(e.minArity), static_cast<int>(e.maxArity));
  for (int i = 0; i < arity && !variables.empty(); ++i)
    op.scope.push_back(variables[static_cast<std::size_t>(between(0, static_cast<int>(variables.size()) - 1))]);
  op.values = {entry, between(0, 7)};
  op.variant = e.names.empty() || (which == Refusal::CREATE_OVER_SYMBOLS && between(0, 1) == 0)
                   ? 0
                   : between(1, static_cast<int>(e.names.size()));
  op.flag = op.variant == 0 && e.equalityPropagated && between(0, 1) == 0;
  if (e.hasData)
    op.data = {static_cast<int>(KIND_INTERVAL), DrawnDomain::LEAST, DrawnDomain::GREATEST};
  return true;
}

void ListenerDraws::armListener(Operation& op) {
  // While a variable is made: the listener deletes it (made by name) or another object.
  if (op.type == Type::CREATE_VARIABLE) {
    if (between(0, 3) == 0) {
      op.listenerNotice = between(0, 2);
      op.listenerChoice = between(0, 9999);
    }
    return;
  }
  // Creations by name or with new alike: their notices are told once they are made.
  if (op.type == Type::REFUSED_CALL || between(0, 3) != 0)
    return;
  op.listenerNotice = between(0, 6);
  op.listenerChoice = between(0, 9999);
}

double ListenerDraws::narrowEnd(const Operation& op, double from) {
  return op.values.size() > 1 ? from + op.values[1] / 1e7 : from;
}

std::string ListenerDraws::describe(const Operation& op) {
  std::ostringstream os;
  const std::string v = "v" + std::to_string(op.target);
  const double value = op.values.empty() ? 0.0 : op.values[0] / 2.0;
  switch (static_cast<Refusal>(op.kind)) {
  case Refusal::SPECIFY_OUTSIDE_BASE:
    os << v << ".specify(" << value << ")";
    break;
  case Refusal::RESTRICT_BASE_DISJOINT:
    os << v << ".restrictBaseDomain(float [" << value << ", " << std::setprecision(10) << narrowEnd(op, value) << "])";
    break;
  case Refusal::RESET_OUTSIDE_BASE:
    os << v << ".reset(a domain wider than its base)";
    break;
  case Refusal::RESET_NARROWER_INTERVAL:
    os << v
       << (op.values.size() > 1 && op.values[1] > 0
               ? ".reset(its base's least value, and " + std::to_string(op.values[1]) + " ten-millionths beyond)"
               : ".reset(its base's least value alone)");
    break;
  case Refusal::INSERT_INTO_CLOSED:
    os << v << ".insert(" << value << ")";
    break;
  case Refusal::CLOSE_CLOSED:
    os << v << ".close()";
    break;
  case Refusal::OPEN_OPEN:
    os << v << ".open()";
    break;
  case Refusal::ACTIVATE_ACTIVE_VARIABLE:
    os << v << ".undoDeactivation()";
    break;
  case Refusal::ACTIVATE_ACTIVE_CONSTRAINT:
  case Refusal::ACTIVATE_VIOLATED_CONSTRAINT:
    os << "c" << op.target << ".undoDeactivation()";
    break;
  case Refusal::OPEN_INTERVAL:
    os << v << ".open() of an interval";
    break;
  case Refusal::CREATE_WITH_WRONG_ARITY:
  case Refusal::CREATE_OVER_SYMBOLS: {
    const ConstraintEntry& entry = constraintCatalogue().at(static_cast<std::size_t>(op.values.at(0)));
    if (op.variant > 0)
      os << "createConstraint(\"" << entry.names.at(static_cast<std::size_t>(op.variant - 1)) << "\"";
    else
      os << "new " << entry.className << "(" << (op.flag ? "\"Equal\"" : "\"Default\"");
    for (std::size_t i = 0; i < op.scope.size(); ++i)
      os << ", "
         << (static_cast<Refusal>(op.kind) == Refusal::CREATE_OVER_SYMBOLS &&
                     i == static_cast<std::size_t>(op.values.at(1)) % op.scope.size()
                 ? std::string("a symbol")
                 : "v" + std::to_string(op.scope[i]));
    os << ")";
    break;
  }
  case Refusal::DELETE_AS_LISTED: {
    static const char* const ways[] = {"deleteConstraint(", "discard(constraint ", "discard(variable ",
                                       "delete unless a part(variable "};
    os << ways[op.values.at(1) % 4] << "listed at " << op.values.at(0) << ") (refused for a part)";
    return os.str();
  }
  default:
    os << "refused call " << op.kind;
  }
  os << " (refused)";
  return os.str();
}

} // namespace KALDEN
