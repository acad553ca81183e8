#ifndef KALDEN_CONSTRAINTENGINE_COMPONENT_EQUIVALENCECLASSCOLLECTION_HH
#define KALDEN_CONSTRAINTENGINE_COMPONENT_EQUIVALENCECLASSCOLLECTION_HH

#include "Utils/base/Id.hh"

#include <map>
#include <set>

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
  int getGraph() const { return m_graph; }
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
   * visited in `nextCycle` is marked visited, joins class `graphKey`, adds its
   * variable to `variables` and its previous class key to `graphKeysToRemove`.
   * Walks with an explicit stack, so a class of any size fits.
   */
  void update(int nextCycle, std::set<Id<ConstrainedVariable> >& variables, int graphKey,
              std::set<int>& graphKeysToRemove);

private:
  Id<ConstrainedVariable> m_variable;
  int m_graph;
  int m_lastUpdated;
  std::map<Id<ConstraintNode>, unsigned int> m_neighbours; // neighbour -> connections to it
};

/**
 * The classes of variables that equality connections join: an undirected
 * multigraph over variables whose connected components are numbered by keys
 * that are never reused in the process. A pair of variables may be connected
 * several times (once per equality over it); it stays joined until its last
 * connection goes.
 *
 * Adding a connection renumbers the class it touches at once; removing the
 * last connection of a pair only drops that class's entry, and the next
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
  /// The variables of class `graphKey`; an empty set for a key that names no class.
  const std::set<Id<ConstrainedVariable> >& getGraphVariables(int graphKey) const;
  /// Always true.
  bool isValid() const { return true; }

private:
  // The node of `var`, made when it has none. The reference points into the map: copy it
  // before anything may erase the entry.
  const Id<ConstraintNode>& getNode(const Id<ConstrainedVariable>& var);
  // The node of `var`, or the empty handle; makes nothing.
  Id<ConstraintNode> findNode(const Id<ConstrainedVariable>& var) const;
  // Forgets `variable`'s node, which the caller deletes.
  void removeNode(const Id<ConstrainedVariable>& variable);
  // Renumbers every class when a removal left them stale; true when it did.
  bool recomputeIfNecessary();
  // Gives the class of `node` a fresh key and drops the keys it replaces.
  void recomputeSingleGraph(const Id<ConstraintNode>& node);

  std::map<Id<ConstrainedVariable>, Id<ConstraintNode> > m_nodesByVar;
  std::map<int, std::set<Id<ConstrainedVariable> > > m_graphs;
  bool m_requiresRecompute;

  static int s_nextGraph; // the last class key handed out, by any collection
  static int s_nextCycle; // the last flood-fill cycle, of any collection
};

} // namespace KALDEN

#endif
