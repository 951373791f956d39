// Oracles for the tests, the fuzzer and the benchmark: slow, obviously right.
#pragma once

#include <functional>
#include <utility>
#include <vector>

#include "dravok.h"

// The labelings of the tree that n nodes and these pairs describe (a later pair naming the same
// child wins; the root is the lowest node without a parent; unreachable nodes do not count),
// enumerated one by one with labels 1..K. Exact; mod P only at the end. Use n <= 8, K <= 8.
inline long long count_naive(int n_, int K_, const std::vector<std::pair<int, int>>& pairs) {
  std::vector<int> par(size_t(n_) + 1, 0), lab(size_t(n_) + 1, 0), ord;
  for (auto [p, c] : pairs) par[c] = p;
  int r = 0;
  for (int v = n_; v >= 1; v--)
    if (par[v] == 0) r = v;
  std::function<void(int)> walk = [&](int v) {
    ord.push_back(v);
    for (int j = 1; j <= n_; j++)
      if (par[j] == v) walk(j);
  };
  walk(r);
  long long cnt = 0;
  std::function<void(size_t)> go = [&](size_t i) {
    if (i == ord.size()) return void(cnt++);
    int v = ord[i], lo = i ? lab[par[v]] + 1 : 1;
    for (int x = lo; x <= K_; x++) lab[v] = x, go(i + 1);
  };
  go(0);
  return cnt % P;
}

// The straightforward recursion over the globals: v's table of K + 1 prefix counts (entry x:
// labelings of v's subtree with v's label at most x), children found by scanning t. Memory
// O(K * depth), time O(n) per inner node plus O(K) per node.
inline std::vector<int> Df_naive(int v) {
  std::vector<int> prod(size_t(K) + 1, 1), res(size_t(K) + 1, 0);
  if (sons[v])
    for (int j = 1; j <= n; j++)
      if (t[j] == v) {
        std::vector<int> c = Df_naive(j);
        for (int l = 1; l <= K; l++) {
          int a = c[K] - c[l];
          if (a < 0) a += P;
          prod[l] = prod[l] * a % P;
        }
      }
  for (int r = 1; r <= K; r++) res[r] = (res[r - 1] + prod[r]) % P;
  return res;
}
