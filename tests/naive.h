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

// h_root(m) mod P for m < M by h_v(m) = sum_{i<m} prod_c h_c(i) over the globals: every node
// tabulated in full (leaves but for the root as h(m) = m), children before parents, each table
// dropped once its parent has used it.
// O(n M) time; memory O(M) per table alive, a few along the current path.
inline std::vector<uint32_t> h_naive(int M) {
  std::vector<std::vector<int>> kids(size_t(n) + 1);
  for (int j = 1; j <= n; j++) kids[t[j]].push_back(j);
  std::vector<int> ord, stk{root};
  while (!stk.empty()) {
    int v = stk.back();
    stk.pop_back();
    ord.push_back(v);
    for (int c : kids[v]) stk.push_back(c);
  }
  std::vector<std::vector<uint32_t>> h(size_t(n) + 1), used;  // used: dropped, for reuse
  std::vector<uint32_t> prod;
  for (size_t i = ord.size(); i-- > 0;) {
    int v = ord[i];
    if (v != root && kids[v].empty()) continue;  // a leaf's table is h(m) = m: not kept
    prod.assign(size_t(M), 1);
    for (int c : kids[v]) {
      if (kids[c].empty()) {
        for (int m = 0; m < M; m++) prod[m] = prod[m] * uint32_t(m % P) % P;
        continue;
      }
      for (int m = 0; m < M; m++) prod[m] = prod[m] * h[c][m] % P;
      used.push_back(std::move(h[c]));
    }
    if (!used.empty()) h[v] = std::move(used.back()), used.pop_back();
    h[v].assign(size_t(M), 0);
    for (int m = 1; m < M; m++) {
      h[v][m] = h[v][m - 1] + prod[m - 1];
      if (h[v][m] >= P) h[v][m] -= P;
    }
  }
  return h[root];
}
