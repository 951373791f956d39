// The tree reachable from root, as Tree() renumbers it: indices 0..s-1 in a preorder that visits
// each node's largest child last, so index i's subtree is [i, i + zs[i]).
#pragma once

#include <vector>

extern std::vector<int> at;  // at[v]: node v's index, -1 if v is not reachable
extern std::vector<int> pp;  // pp[i]: the parent's index, -1 for the root
extern std::vector<int> zs;  // zs[i]: nodes in index i's subtree
