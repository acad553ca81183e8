#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_EQUIVALENCECLASSCOLLECTION_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_EQUIVALENCECLASSCOLLECTION_HH

#include "Utils/base/Id.hh"

#include <cstddef>
#include <map>
#include <set>
#include <vector>

namespace KALDEN {

class ConstrainedVariable;

/**
 * One connected variable of an equivalence-class collection, with its
 * neighbours and how many connections join it to each. Nodes are made,
 * registered and deleted by their collection only.
 */
class ConstraintNode {
public:
  /// A node for `variable`, in no class yet (key 0) and never visited.
  explicit ConstraintNode(const Id<ConstrainedVariable>& variable);
  ~ConstraintNode();

  ConstraintNode(const ConstraintNode&) = delete;
  ConstraintNode& operator=(const ConstraintNode&) = delete;

  /// The key of the class the node was last assigned to; 0 before its first assignment.
  int getGraph() const { return root()->m_graph; }
  /// Whether no connection joins the node to another.
  bool isAlone() const { return m_neighbours.empty(); }
  /// Whether the node was already visited in flood-fill cycle `nextCycle`.
  bool hasBeenUpdated(int nextCycle) const;
  /// Whether at least one connection joins this node to `node`.
  bool isNeighbour(const Id<ConstraintNode>& node) const;
  /// Records one more connection to `node`.
  void addNeighbour(const Id<ConstraintNode>& node);
  /// Drops one connection to `node`; the neighbour goes with its last connection.
  void removeNeighbour(const Id<ConstraintNode>& node);
  /**
   * Flood fill from this node: every node reachable from it that was not yet
   * visited in `nextCycle` is marked visited, joins class `graphKey` (with this
   * node as its root) and adds its variable to `variables`. Walks with an
   * explicit stack, so a class of any size fits.
   */
  void update(int nextCycle, std::set<Id<ConstrainedVariable> >& variables, int graphKey);

private:
  friend class EquivalenceClassCollection;

  // The node that stands for the class and holds its key and size; halves the path on the
  // way, so that chains of merges stay short.
  ConstraintNode* root() const;

  Id<ConstrainedVariable> m_variable;
  int m_graph; // the class key, kept by the class's root only
  int m_lastUpdated;
  mutable ConstraintNode* m_parent;                        // towards the class's root; itself for a root
  std::size_t m_size;                                      // the number of nodes of the class, kept by the root only
  std::map<Id<ConstraintNode>, unsigned int> m_neighbours; // neighbour -> connections to it
};

/**
 * The classes of variables that equality connections join: an undirected
 * multigraph over variables whose connected components are numbered by keys
 * that are never reused in the process. A pair of variables may be connected
 * several times (once per equality over it); it stays joined until its last
 * connection goes.
 *
 * Adding a connection renumbers the class it touches at once, in time that
 * grows with the smaller of the two classes it joins (which joins the larger);
 * removing the last connection of a pair only drops that class's entry, and
 * the next
 * getGraphKey(), getGraphKeys(), getGraphCount() or addConnection()
 * renumbers every class. getGraphVariables() never renumbers.
 */
class EquivalenceClassCollection {
public:
  /// An empty collection.
  EquivalenceClassCollection();
  /// Deletes every node.
  ~EquivalenceClassCollection();

  EquivalenceClassCollection(const EquivalenceClassCollection&) = delete;
  EquivalenceClassCollection& operator=(const EquivalenceClassCollection&) = delete;

  /// Adds one connection between two distinct variables; their classes merge under a fresh key.
  void addConnection(const Id<ConstrainedVariable>& first, const Id<ConstrainedVariable>& second);
  /// Takes back one connection between the two; fails, changing nothing, when they are not connected.
  void removeConnection(const Id<ConstrainedVariable>& first, const Id<ConstrainedVariable>& second);
  /// The key of `var`'s class. A variable never connected gets a lone node (key 0 until the next renumbering).
  int getGraphKey(const Id<ConstrainedVariable>& var);
  /// Replaces the content of `keys` with the key of every class.
  void getGraphKeys(std::set<int>& keys);
  /// The number of classes.
  int getGraphCount();
  /// Whether a connection joins `var` to another variable; makes nothing.
  bool isJoined(const Id<ConstrainedVariable>& var) const { return findNode(var).isId(); }
  /// The variables of class `graphKey`, in the order they were made; an empty set for a key that names no class.
  const std::set<Id<ConstrainedVariable> >& getGraphVariables(int graphKey) const;
  /// Always true.
  bool isValid() const { return true; }

private:
  // The node of `var`, made when it has none. The reference points into the map: copy it
  // before anything may erase the entry.
  const Id<ConstraintNode>& getNode(const Id<ConstrainedVariable>& var);
  // The node of `var`, or the empty handle; makes nothing.
  Id<ConstraintNode> findNode(const Id<ConstrainedVariable>& var) const;
  // Forgets `variable`'s node, which is deleted at the next renumbering: until then nodes of its
  // former class may still lead to it on the way to their root.
  void removeNode(const Id<ConstrainedVariable>& variable);
  // Renumbers every class when a removal left them stale; true when it did.
  bool recomputeIfNecessary();
  // Gives the class of `node` a fresh key and drops the keys it replaces.
  void recomputeSingleGraph(const Id<ConstraintNode>& node);
  // Joins the classes of two roots (one class when they are the same) under a fresh key.
  void merge(ConstraintNode* first, ConstraintNode* second);

  std::map<Id<ConstrainedVariable>, Id<ConstraintNode> > m_nodesByVar;
  std::map<int, std::set<Id<ConstrainedVariable> > > m_graphs;
  std::vector<Id<ConstraintNode> > m_retired; // forgotten nodes, deleted at the next renumbering
  bool m_requiresRecompute;

  static int s_nextGraph; // the last class key handed out, by any collection
  static int s_nextCycle; // the last flood-fill cycle, of any collection
};

} // namespace KALDEN

#endif
