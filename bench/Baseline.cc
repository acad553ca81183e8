#include "Baseline.hh"

#include <algorithm>
#include <cmath>

namespace KALDEN {
namespace bench {

int BaselineNetwork::addVariable(double lb, double ub) {
  m_lb.push_back(lb);
  m_ub.push_back(ub);
  m_watchers.emplace_back();
  return static_cast<int>(m_lb.size()) - 1;
}

void BaselineNetwork::addAddEqual(int x, int y, int z) {
  const int c = static_cast<int>(m_constraints.size());
  m_constraints.push_back(Constraint{ADD_EQUAL, x, y, z});
  m_queue.push_back(0);
  m_queued.push_back(0);
  watch(x, c);
  watch(y, c);
  watch(z, c);
  enqueue(c);
}

void BaselineNetwork::addLessEqual(int x, int y) {
  const int c = static_cast<int>(m_constraints.size());
  m_constraints.push_back(Constraint{LESS_EQUAL, x, y, -1});
  m_queue.push_back(0);
  m_queued.push_back(0);
  watch(x, c);
  watch(y, c);
  enqueue(c);
}

void BaselineNetwork::watch(int var, int constraint) {
  std::vector<int>& watchers = m_watchers[var];
  if (std::find(watchers.begin(), watchers.end(), constraint) == watchers.end())
    watchers.push_back(constraint);
}

void BaselineNetwork::enqueue(int constraint) {
  if (m_queued[constraint])
    return;
  m_queued[constraint] = 1;
  std::size_t tail = m_head + m_size;
  if (tail >= m_queue.size())
    tail -= m_queue.size();
  m_queue[tail] = constraint;
  ++m_size;
}

bool BaselineNetwork::narrow(int var, double lb, double ub, int self) {
  // Integer bounds: round a computed range inward, as an integer domain does.
  lb = std::ceil(lb);
  ub = std::floor(ub);
  const bool lbMoved = lb > m_lb[var];
  const bool ubMoved = ub < m_ub[var];
  if (!lbMoved && !ubMoved)
    return true;
  if (lbMoved)
    m_lb[var] = lb;
  if (ubMoved)
    m_ub[var] = ub;
  if (m_lb[var] > m_ub[var])
    return false;
  for (int c : m_watchers[var]) {
    if (c == self)
      continue;
    const Constraint& con = m_constraints[c];
    // x <= y cannot gain work from a fall of x's upper or a rise of y's lower bound.
    if (con.kind == LESS_EQUAL && ((var == con.x && !lbMoved) || (var == con.y && !ubMoved)))
      continue;
    enqueue(c);
  }
  return true;
}

bool BaselineNetwork::execute(int c) {
  ++m_executions;
  const Constraint& con = m_constraints[c];
  if (con.kind == LESS_EQUAL)
    return narrow(con.x, m_lb[con.x], m_ub[con.y], c) && narrow(con.y, m_lb[con.x], m_ub[con.y], c);
  const int x = con.x, y = con.y, z = con.z;
  return narrow(z, m_lb[x] + m_lb[y], m_ub[x] + m_ub[y], c) && narrow(x, m_lb[z] - m_ub[y], m_ub[z] - m_lb[y], c) &&
         narrow(y, m_lb[z] - m_ub[x], m_ub[z] - m_lb[x], c);
}

bool BaselineNetwork::restrict(int var, double lb, double ub) { return narrow(var, lb, ub, -1); }

bool BaselineNetwork::propagate() {
  while (m_size > 0) {
    const int c = m_queue[m_head];
    if (++m_head == m_queue.size())
      m_head = 0;
    --m_size;
    m_queued[c] = 0;
    if (!execute(c)) {
      while (m_size > 0) {
        m_queued[m_queue[m_head]] = 0;
        if (++m_head == m_queue.size())
          m_head = 0;
        --m_size;
      }
      return false;
    }
  }
  return true;
}

} // namespace bench
} // namespace KALDEN
