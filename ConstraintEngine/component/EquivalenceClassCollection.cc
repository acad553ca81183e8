#define KALDEN_SOURCE "ConstraintEngine/component/EquivalenceClassCollection"
#include "ConstraintEngine/component/EquivalenceClassCollection.hh"

#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "Utils/Error.hh"
#include "Utils/base/Report.hh"

#include <utility>
#include <vector>

namespace KALDEN {

// ConstraintNode

ConstraintNode::ConstraintNode(const Id<ConstrainedVariable>& variable)
    : m_variable(variable), m_graph(0), m_lastUpdated(0), m_parent(this), m_size(1) {}

ConstraintNode::~ConstraintNode() = default;

ConstraintNode* ConstraintNode::root() const {
  ConstraintNode* node = m_parent;
  while (node != node->m_parent) {
    node->m_parent = node->m_parent->m_parent;
    node = node->m_parent;
  }
  m_parent = node;
  return node;
}

bool ConstraintNode::hasBeenUpdated(int nextCycle) const {
  KALDEN_CHECK(nextCycle >= m_lastUpdated);
  return m_lastUpdated == nextCycle;
}

bool ConstraintNode::isNeighbour(const Id<ConstraintNode>& node) const {
  return m_neighbours.find(node) != m_neighbours.end();
}

void ConstraintNode::addNeighbour(const Id<ConstraintNode>& node) { ++m_neighbours[node]; }

void ConstraintNode::removeNeighbour(const Id<ConstraintNode>& node) {
  std::map<Id<ConstraintNode>, unsigned int>::iterator it = m_neighbours.find(node);
  KALDEN_CHECK_TEXT(it != m_neighbours.end(), "m_neighbours.find(node) != m_neighbours.end()");
  if (--it->second == 0)
    m_neighbours.erase(it);
}

void ConstraintNode::update(int nextCycle, std::set<Id<ConstrainedVariable> >& variables, int graphKey) {
  KALDEN_CHECK(nextCycle > m_lastUpdated);
  // A node is marked when it is first reached, so cycles in the graph end the walk and no
  // node waits on the stack twice. The stack replaces recursion: a class can be very long.
  m_lastUpdated = nextCycle;
  m_graph = graphKey;
  m_size = 0;
  std::vector<ConstraintNode*> pending(1, this);
  while (!pending.empty()) {
    ConstraintNode* node = pending.back();
    pending.pop_back();
    // Members are reached in no particular order (the set orders them): the hint only helps a
    // long run of them.
    variables.insert(variables.end(), node->m_variable);
    node->m_parent = this;
    ++m_size;
    for (const std::pair<const Id<ConstraintNode>, unsigned int>& neighbour : node->m_neighbours) {
      ConstraintNode* next = neighbour.first;
      if (!next->hasBeenUpdated(nextCycle)) {
        next->m_lastUpdated = nextCycle;
        pending.push_back(next);
      }
    }
  }
}

// EquivalenceClassCollection

int EquivalenceClassCollection::s_nextGraph = 0;
int EquivalenceClassCollection::s_nextCycle = 0;

EquivalenceClassCollection::EquivalenceClassCollection() : m_requiresRecompute(false) {}

EquivalenceClassCollection::~EquivalenceClassCollection() {
  NoThrowScope guard;
  for (std::pair<const Id<ConstrainedVariable>, Id<ConstraintNode> >& entry : m_nodesByVar)
    entry.second.release();
  for (Id<ConstraintNode>& node : m_retired)
    node.release();
}
const Id<ConstraintNode>& EquivalenceClassCollection::getNode(const Id<ConstrainedVariable>& var) {
  std::map<Id<ConstrainedVariable>, Id<ConstraintNode> >::iterator it = m_nodesByVar.find(var);
  if (it == m_nodesByVar.end())
    it = m_nodesByVar.insert(std::make_pair(var, Id<ConstraintNode>(new ConstraintNode(var)))).first;
  KALDEN_CHECK(it != m_nodesByVar.end());
  KALDEN_CHECK(it->second.isValid());
  return it->second;
}

Id<ConstraintNode> EquivalenceClassCollection::findNode(const Id<ConstrainedVariable>& var) const {
  std::map<Id<ConstrainedVariable>, Id<ConstraintNode> >::const_iterator it = m_nodesByVar.find(var);
  return it == m_nodesByVar.end() ? Id<ConstraintNode>() : it->second;
}

void EquivalenceClassCollection::removeNode(const Id<ConstrainedVariable>& variable) {
  std::map<Id<ConstrainedVariable>, Id<ConstraintNode> >::iterator it = m_nodesByVar.find(variable);
  KALDEN_CHECK(it != m_nodesByVar.end());
  m_retired.push_back(it->second);
  m_nodesByVar.erase(it);
}

void EquivalenceClassCollection::recomputeSingleGraph(const Id<ConstraintNode>& node) {
  ++s_nextGraph;
  // Keys only grow, so the new class goes last.
  std::map<int, std::set<Id<ConstrainedVariable> > >::iterator newGraphEntry =
      m_graphs.emplace_hint(m_graphs.end(), s_nextGraph, std::set<Id<ConstrainedVariable> >());
  KALDEN_CHECK(newGraphEntry->first == s_nextGraph);
  node->update(s_nextCycle, newGraphEntry->second, s_nextGraph);
}

bool EquivalenceClassCollection::recomputeIfNecessary() {
  if (!m_requiresRecompute)
    return false;
  m_requiresRecompute = false;
  // Every class is renumbered, so every old key goes.
  m_graphs.clear();
  ++s_nextCycle;
  // In the order the variables were made, so classes are numbered by their oldest member.
  for (const std::pair<const Id<ConstrainedVariable>, Id<ConstraintNode> >& entry : m_nodesByVar) {
    const Id<ConstraintNode>& node = entry.second;
    KALDEN_CHECK(node.isValid());
    if (!node->hasBeenUpdated(s_nextCycle))
      recomputeSingleGraph(node);
  }
  // No live node leads to a forgotten one any more.
  for (Id<ConstraintNode>& node : m_retired)
    node.release();
  m_retired.clear();
  return true;
}

void EquivalenceClassCollection::merge(ConstraintNode* first, ConstraintNode* second) {
  // The larger class keeps its member set and its root; the smaller one's members move in.
  if (first->m_size < second->m_size)
    std::swap(first, second);
  std::set<Id<ConstrainedVariable> > variables;
  std::map<int, std::set<Id<ConstrainedVariable> > >::iterator it = m_graphs.find(first->m_graph);
  if (it != m_graphs.end()) {
    variables.swap(it->second);
    m_graphs.erase(it);
  } else {
    variables.insert(first->m_variable); // a node in no class yet
  }
  if (second != first) {
    it = m_graphs.find(second->m_graph);
    if (it != m_graphs.end()) {
      variables.insert(it->second.begin(), it->second.end());
      m_graphs.erase(it);
    } else {
      variables.insert(second->m_variable);
    }
    second->m_parent = first;
    first->m_size += second->m_size;
  }
  first->m_graph = ++s_nextGraph;
  m_graphs.emplace_hint(m_graphs.end(), first->m_graph, std::move(variables));
}

void EquivalenceClassCollection::addConnection(const Id<ConstrainedVariable>& first,
                                               const Id<ConstrainedVariable>& second) {
  // A variable equals itself without a connection, and a connection to itself would join nothing.
  KALDEN_CHECK(first.isValid() && second.isValid());
  KALDEN_CHECK(first != second);
  const Id<ConstraintNode> n1 = getNode(first);
  const Id<ConstraintNode> n2 = getNode(second);
  n1->addNeighbour(n2);
  n2->addNeighbour(n1);
  // A renumbering already counts the new connection.
  if (!recomputeIfNecessary())
    merge(n1->root(), n2->root());
}

void EquivalenceClassCollection::removeConnection(const Id<ConstrainedVariable>& first,
                                                  const Id<ConstrainedVariable>& second) {
  // Everything is checked before anything changes, and no node is made for a variable
  // that has none: a refused removal leaves the collection as it was.
  const Id<ConstraintNode> n1 = findNode(first);
  const Id<ConstraintNode> n2 = findNode(second);
  const int graph1 = n1.isNoId() ? 0 : n1->getGraph();
  const int graph2 = n2.isNoId() ? 0 : n2->getGraph();
  KALDEN_CHECK_TEXT(graph1 == graph2, "n1->getGraph() == n2->getGraph()");
  KALDEN_CHECK_TEXT(!n1.isNoId() && !n2.isNoId() && n1->isNeighbour(n2),
                    "m_neighbours.find(node) != m_neighbours.end()");

  n1->removeNeighbour(n2);
  n2->removeNeighbour(n1);
  if (n1->isNeighbour(n2))
    return; // another connection still joins the pair: the classes stand as they are

  m_graphs.erase(graph1);
  if (n1->isAlone())
    removeNode(first);
  if (n2->isAlone())
    removeNode(second);
  m_requiresRecompute = true;
}

int EquivalenceClassCollection::getGraphKey(const Id<ConstrainedVariable>& var) {
  recomputeIfNecessary();
  return getNode(var)->getGraph();
}

void EquivalenceClassCollection::getGraphKeys(std::set<int>& keys) {
  keys.clear();
  recomputeIfNecessary();
  for (const std::pair<const int, std::set<Id<ConstrainedVariable> > >& entry : m_graphs)
    keys.insert(entry.first);
}

int EquivalenceClassCollection::getGraphCount() {
  recomputeIfNecessary();
  return static_cast<int>(m_graphs.size());
}

const std::set<Id<ConstrainedVariable> >& EquivalenceClassCollection::getGraphVariables(int graphKey) const {
  static const std::set<Id<ConstrainedVariable> > sl_noVariables;
  std::map<int, std::set<Id<ConstrainedVariable> > >::const_iterator it = m_graphs.find(graphKey);
  return it == m_graphs.end() ? sl_noVariables : it->second;
}

} // namespace KALDEN
