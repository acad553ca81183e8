#include "ConstraintEngine/component/EquivalenceClassCollection.hh"
#include "support/EngineFixture.hh"
#include "support/Failure.hh"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace KALDEN {
namespace {

using VarSet = std::set<Id<ConstrainedVariable> >;
using Partition = std::set<VarSet>;

class EquivalenceClassCollectionTest : public EngineFixture {
protected:
  std::vector<Id<ConstrainedVariable> > makeVars(std::size_t count) {
    std::vector<Id<ConstrainedVariable> > vars;
    for (std::size_t i = 0; i < count; ++i)
      vars.push_back(floatVar(("v" + std::to_string(i)).c_str(), 0, 1));
    return vars;
  }

  // The classes as the collection lists them, read without making nodes for unknown variables.
  static Partition classesOf(EquivalenceClassCollection& classes) {
    std::set<int> keys;
    classes.getGraphKeys(keys);
    Partition result;
    for (int key : keys) {
      EXPECT_NE(key, 0);
      result.insert(classes.getGraphVariables(key));
    }
    EXPECT_EQ(classes.getGraphCount(), static_cast<int>(keys.size()));
    return result;
  }

  // The connected components, of at least one connection, of a multiset of connections.
  static Partition componentsOf(const std::multiset<std::pair<int, int> >& edges,
                                const std::vector<Id<ConstrainedVariable> >& vars) {
    std::vector<int> parent(vars.size());
    for (std::size_t i = 0; i < parent.size(); ++i)
      parent[i] = static_cast<int>(i);
    auto root = [&](int i) {
      while (parent[i] != i)
        i = parent[i];
      return i;
    };
    std::set<int> touched;
    for (const std::pair<int, int>& e : edges) {
      parent[root(e.first)] = root(e.second);
      touched.insert(e.first);
      touched.insert(e.second);
    }
    std::map<int, VarSet> byRoot;
    for (int i : touched)
      byRoot[root(i)].insert(vars[i]);
    Partition result;
    for (const std::pair<const int, VarSet>& entry : byRoot)
      result.insert(entry.second);
    return result;
  }
};

TEST_F(EquivalenceClassCollectionTest, RandomAddsAndRemovesKeepTheComponents) {
  // Every step is checked against the components of the connections made so far; pairs are
  // often connected more than once, and removals of pairs that are not joined must change nothing.
  const std::vector<Id<ConstrainedVariable> > vars = makeVars(7);
  std::mt19937 random(20261207);
  for (int round = 0; round < 20; ++round) {
    EquivalenceClassCollection classes;
    std::multiset<std::pair<int, int> > edges;
    for (int step = 0; step < 60; ++step) {
      int a = static_cast<int>(random() % vars.size());
      int b = static_cast<int>(random() % vars.size());
      if (a == b)
        continue;
      if (a > b)
        std::swap(a, b);
      const bool add = random() % 5 < 3;
      const bool joined = edges.count(std::make_pair(a, b)) > 0;
      if (add) {
        classes.addConnection(vars[a], vars[b]);
        edges.insert(std::make_pair(a, b));
      } else if (joined) {
        // Either order of the pair takes back one connection.
        if (random() % 2 == 0)
          classes.removeConnection(vars[a], vars[b]);
        else
          classes.removeConnection(vars[b], vars[a]);
        edges.erase(edges.find(std::make_pair(a, b)));
      } else {
        EXPECT_THROW(classes.removeConnection(vars[a], vars[b]), Error);
      }
      // Queries in a random mix: sometimes none, so that removals pile up before a renumbering.
      if (random() % 3 != 0)
        continue;
      ASSERT_EQ(classesOf(classes), componentsOf(edges, vars)) << "round " << round << " step " << step;
      for (const VarSet& members : componentsOf(edges, vars)) {
        const int key = classes.getGraphKey(*members.begin());
        for (const Id<ConstrainedVariable>& v : members)
          EXPECT_EQ(classes.getGraphKey(v), key);
        EXPECT_EQ(classes.getGraphVariables(key), members);
      }
    }
  }
}

TEST_F(EquivalenceClassCollectionTest, ChainsJoinedInAnyOrderAgreeWithTheModel) {
  // Forward, backward and shuffled chains merge classes of every relative size; every key a
  // merge hands out is fresh and the merged class lists exactly the connected variables.
  const std::vector<Id<ConstrainedVariable> > v = makeVars(40);
  std::mt19937 random(7);
  for (int order = 0; order < 3; ++order) {
    std::vector<int> links;
    for (int i = 0; i + 1 < static_cast<int>(v.size()); ++i)
      links.push_back(i);
    if (order == 1)
      std::reverse(links.begin(), links.end());
    if (order == 2)
      std::shuffle(links.begin(), links.end(), random);
    EquivalenceClassCollection classes;
    std::multiset<std::pair<int, int> > edges;
    int lastKey = 0;
    for (int i : links) {
      classes.addConnection(v[i], v[i + 1]);
      edges.insert(std::make_pair(i, i + 1));
      const int key = classes.getGraphKey(v[i]);
      EXPECT_GT(key, lastKey);
      lastKey = key;
      EXPECT_EQ(classes.getGraphKey(v[i + 1]), key);
      ASSERT_EQ(classesOf(classes), componentsOf(edges, v)) << "order " << order << " link " << i;
    }
  }
}

TEST_F(EquivalenceClassCollectionTest, RemovalsBeforeARenumberingMayLeaveAClassWithoutItsFirstNode) {
  // v0 stands for the class of all three; taking back v0-v1 leaves v0 alone and forgotten while
  // v1 and v2 still lead to it, and a second removal must still find them in one class.
  const std::vector<Id<ConstrainedVariable> > v = makeVars(4);
  EquivalenceClassCollection classes;
  classes.addConnection(v[0], v[1]);
  classes.addConnection(v[1], v[2]);
  classes.removeConnection(v[0], v[1]);
  classes.removeConnection(v[2], v[1]);
  EXPECT_EQ(classes.getGraphCount(), 0);

  classes.addConnection(v[0], v[1]);
  classes.addConnection(v[2], v[3]);
  classes.addConnection(v[1], v[2]);
  classes.removeConnection(v[0], v[1]);
  classes.addConnection(v[0], v[3]); // renumbers first, then joins again
  EXPECT_EQ(classesOf(classes), (Partition{VarSet(v.begin(), v.end())}));
}

TEST_F(EquivalenceClassCollectionTest, AddMergesUnderAFreshKeyAndRetiresTheOldOnes) {
  const std::vector<Id<ConstrainedVariable> > v = makeVars(4);
  EquivalenceClassCollection classes;
  classes.addConnection(v[0], v[1]);
  classes.addConnection(v[2], v[3]);
  const int left = classes.getGraphKey(v[0]);
  const int right = classes.getGraphKey(v[3]);
  EXPECT_NE(left, right);
  EXPECT_EQ(classes.getGraphCount(), 2);

  classes.addConnection(v[1], v[2]);
  const int merged = classes.getGraphKey(v[0]);
  EXPECT_GT(merged, std::max(left, right));
  EXPECT_TRUE(classes.getGraphVariables(left).empty());
  EXPECT_TRUE(classes.getGraphVariables(right).empty());
  EXPECT_EQ(classes.getGraphVariables(merged), VarSet(v.begin(), v.end()));

  // Closing a cycle keeps one class.
  classes.addConnection(v[3], v[0]);
  EXPECT_EQ(classes.getGraphCount(), 1);
  EXPECT_EQ(classes.getGraphVariables(classes.getGraphKey(v[2])).size(), 4u);
}

TEST_F(EquivalenceClassCollectionTest, RemovalSplitsLazilyAndNumbersByLowestAddress) {
  const std::vector<Id<ConstrainedVariable> > v = makeVars(4);
  EquivalenceClassCollection classes;
  classes.addConnection(v[0], v[1]);
  classes.addConnection(v[1], v[2]);
  classes.addConnection(v[2], v[3]);
  const int chain = classes.getGraphKey(v[0]);

  classes.removeConnection(v[1], v[2]);
  EXPECT_TRUE(classes.getGraphVariables(chain).empty()); // dropped at once, renumbered on the next query
  std::set<int> keys;
  classes.getGraphKeys(keys);
  ASSERT_EQ(keys.size(), 2u);
  const VarSet low{v[0], v[1]};
  const VarSet high{v[2], v[3]};
  const Id<ConstrainedVariable> lowest = *VarSet(v.begin(), v.end()).begin();
  const VarSet& first = classes.getGraphVariables(*keys.begin());
  EXPECT_EQ(first, low.count(lowest) ? low : high);
  EXPECT_GT(*keys.begin(), chain);

  // Removing the last connection of a pair deletes the nodes it leaves alone.
  classes.removeConnection(v[0], v[1]);
  classes.removeConnection(v[3], v[2]);
  EXPECT_EQ(classes.getGraphCount(), 0);
}

TEST_F(EquivalenceClassCollectionTest, APairStaysJoinedUntilItsLastConnectionGoes) {
  const std::vector<Id<ConstrainedVariable> > v = makeVars(3);
  EquivalenceClassCollection classes;
  classes.addConnection(v[0], v[1]);
  classes.addConnection(v[1], v[0]);
  classes.addConnection(v[1], v[2]);
  const int key = classes.getGraphKey(v[0]);

  classes.removeConnection(v[0], v[1]);
  EXPECT_EQ(classes.getGraphKey(v[0]), key); // nothing split, nothing renumbered
  EXPECT_EQ(classes.getGraphVariables(key), VarSet(v.begin(), v.end()));

  classes.removeConnection(v[0], v[1]);
  EXPECT_EQ(classesOf(classes), (Partition{VarSet{v[1], v[2]}}));
  EXPECT_THROW(classes.removeConnection(v[0], v[1]), Error);
}

TEST_F(EquivalenceClassCollectionTest, RefusalsChangeNothing) {
  const std::vector<Id<ConstrainedVariable> > v = makeVars(6);
  EquivalenceClassCollection classes;
  classes.addConnection(v[0], v[1]);
  classes.addConnection(v[1], v[2]);
  classes.addConnection(v[3], v[4]);
  const Partition before = classesOf(classes);

  EXPECT_CHECK_FAILS(classes.addConnection(v[0], v[0]), "first != second");
  EXPECT_CHECK_FAILS(classes.addConnection(v[0], Id<ConstrainedVariable>::noId()),
                     "first.isValid() && second.isValid()");
  // One class, not neighbours; a variable with itself.
  EXPECT_CHECK_FAILS(classes.removeConnection(v[0], v[2]), "m_neighbours.find(node) != m_neighbours.end()");
  EXPECT_CHECK_FAILS(classes.removeConnection(v[1], v[1]), "m_neighbours.find(node) != m_neighbours.end()");
  // Two classes; a connected variable with one never seen; two never seen.
  EXPECT_CHECK_FAILS(classes.removeConnection(v[0], v[3]), "n1->getGraph() == n2->getGraph()");
  EXPECT_CHECK_FAILS(classes.removeConnection(v[0], v[5]), "n1->getGraph() == n2->getGraph()");
  EXPECT_CHECK_FAILS(classes.removeConnection(v[5], v[5]), "m_neighbours.find(node) != m_neighbours.end()");

  EXPECT_EQ(classesOf(classes), before);
}

TEST_F(EquivalenceClassCollectionTest, AVariableNeverConnectedBecomesAClassOfItsOwn) {
  const std::vector<Id<ConstrainedVariable> > v = makeVars(3);
  EquivalenceClassCollection classes;
  EXPECT_TRUE(classes.getGraphVariables(0).empty());
  classes.addConnection(v[0], v[1]);
  EXPECT_EQ(classes.getGraphKey(v[2]), 0);
  EXPECT_EQ(classes.getGraphCount(), 1);

  classes.addConnection(v[1], v[0]);
  classes.removeConnection(v[0], v[1]); // still joined, so no renumbering is due
  EXPECT_EQ(classes.getGraphCount(), 1);
  classes.removeConnection(v[0], v[1]);
  EXPECT_EQ(classesOf(classes), (Partition{VarSet{v[2]}}));
}

TEST_F(EquivalenceClassCollectionTest, AChainOfAHundredThousandIsOneClass) {
  // Deep enough that a recursive walk would overflow the call stack.
  const std::size_t n = 100000;
  const std::vector<Id<ConstrainedVariable> > v = makeVars(n);
  EquivalenceClassCollection classes;
  // Joins pairs, then pairs of pairs, and so on: every level renumbers each variable once.
  for (std::size_t step = 1; step < n; step *= 2)
    for (std::size_t i = step - 1; i + 1 < n; i += 2 * step)
      classes.addConnection(v[i], v[i + 1]);
  ASSERT_EQ(classes.getGraphCount(), 1);
  EXPECT_EQ(classes.getGraphVariables(classes.getGraphKey(v[0])).size(), n);

  classes.removeConnection(v[n / 2 - 1], v[n / 2]);
  ASSERT_EQ(classes.getGraphCount(), 2);
  EXPECT_EQ(classes.getGraphVariables(classes.getGraphKey(v[0])).size(), n / 2);
  EXPECT_EQ(classes.getGraphVariables(classes.getGraphKey(v[n - 1])).size(), n / 2);
  classes.addConnection(v[n - 1], v[0]);
  EXPECT_EQ(classes.getGraphVariables(classes.getGraphKey(v[n / 2])).size(), n);
}

} // namespace
} // namespace KALDEN
