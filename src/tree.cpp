// Renumbering the tree reachable from root into the order the count works in.
#include "tree.h"

#include "dravok.h"

std::vector<int> at, pp, zs;

// Renumbers the nodes reachable from root in a preorder that visits each node's largest child
// subtree last: index i's subtree is [i, i + zs[i]) and its parent is pp[i] < i. Children come
// from t, so only nodes 1..n are children and each has one parent: from root (no parent) the
// walk meets every reachable node once and never enters a cycle of t. O(n) time and memory, no
// recursion, so any depth works; later passes run over indices, in cache order.
int Tree() {
  // Child lists as first child and next sibling (0 ends a list; node 0 is never a child),
  // side by side in lk so that the walk down a randomly numbered chain misses the cache once
  // per node, not twice.
  std::vector<int> lk(2 * size_t(n) + 2, 0), ord, sz(size_t(n) + 1, 0), stk{root};
  auto first = [&](int v) -> int& { return lk[2 * size_t(v)]; };
  auto next = [&](int c) -> int& { return lk[2 * size_t(c) + 1]; };
  for (int j = n; j >= 1; j--) next(j) = first(t[j]), first(t[j]) = j;
  while (!stk.empty()) {
    int v = stk.back();
    stk.pop_back();
    ord.push_back(v);
    for (int c = first(v); c; c = next(c)) stk.push_back(c);
  }
  for (size_t i = ord.size(); i-- > 0;) {
    sz[ord[i]]++;
    if (i) sz[t[ord[i]]] += sz[ord[i]];
  }
  // Top-down, each child's block starts after its parent and its lighter siblings' blocks.
  // Every node is placed by its parent, not by a walk, so these passes overlap their misses.
  at.assign(size_t(n) + 1, -1), at[root] = 0;
  for (int v : ord) {
    int heavy = 0, k = at[v] + 1;
    for (int c = first(v); c; c = next(c))
      if (sz[c] > sz[heavy]) heavy = c;  // sz[0] is 0: node 0 is never reached as a child
    for (int c = first(v); c; c = next(c))
      if (c != heavy) at[c] = k, k += sz[c];
    if (heavy) at[heavy] = k;
  }
  pp.assign(ord.size(), -1), zs.assign(ord.size(), 0);
  for (int v : ord) zs[at[v]] = sz[v], pp[at[v]] = v == root ? -1 : at[t[v]];
  return int(ord.size());
}
