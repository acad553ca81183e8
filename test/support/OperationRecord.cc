// Operations as lines of numbers: a seed that crashes is recorded, then replayed with lines dropped.

#include "support/OperationSequence.hh"

#include <cstddef>
#include <sstream>
#include <string>
#include <vector>

namespace KALDEN {

namespace {

void writeList(std::ostringstream& os, const std::vector<int>& values) {
  os << " " << values.size();
  for (int v : values)
    os << " " << v;
}

std::vector<int> readList(std::istringstream& is) {
  std::size_t n = 0;
  is >> n;
  std::vector<int> values(n);
  for (int& v : values)
    is >> v;
  return values;
}

} // namespace

std::string OperationSequence::toRecord(const Operation& op) {
  std::ostringstream os;
  os << static_cast<int>(op.type) << " " << op.target << " " << op.kind << " " << op.variant << " " << op.flag << " "
     << op.listenerNotice << " " << op.listenerChoice;
  writeList(os, op.values);
  writeList(os, op.scope);
  writeList(os, op.data);
  return os.str();
}

OperationSequence::Operation OperationSequence::fromRecord(const std::string& line) {
  std::istringstream is(line);
  Operation op;
  int type = 0;
  is >> type >> op.target >> op.kind >> op.variant >> op.flag >> op.listenerNotice >> op.listenerChoice;
  op.type = static_cast<Type>(type);
  op.values = readList(is);
  op.scope = readList(is);
  op.data = readList(is);
  return op;
}

} // namespace KALDEN
