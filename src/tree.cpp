// Renumbering the tree reachable from root into the order the count works in. Every pass runs
// over arrays in a fixed order and touches each node a bounded number of times; the random
// reads of one pass are independent of each other, so the processor keeps many cache misses in
// flight instead of waiting on each (the prefetches reach further ahead than it would).
#include "tree.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>

#include "dravok.h"

std::vector<int> at, pp, zs;

namespace {

std::vector<std::vector<int>> pool;  // arrays no longer needed, kept for the next Huge

}  // namespace

void Huge(std::vector<int>& v, size_t count, int x) {
  constexpr size_t big = size_t(1) << 21;
  for (auto& p : pool)
    if (v.capacity() < count && p.capacity() >= count) v.swap(p);
  if (count * sizeof(int) >= 2 * big && v.capacity() < count) {
    std::vector<int>().swap(v), v.reserve(count + 16);  // not yet touched; room to serve again
    char* p = reinterpret_cast<char*>(v.data());
    size_t skip = (big - reinterpret_cast<uintptr_t>(p) % big) % big;
    size_t len = (count * sizeof(int) - skip) / big * big;
    if (len) madvise(p + skip, len, MADV_HUGEPAGE);
  }
  v.assign(count, x);
}

void Spare(std::vector<int>& v) {
  if (pool.size() < 4) pool.emplace_back();
  auto small = std::min_element(pool.begin(), pool.end(),
                                [](auto& x, auto& y) { return x.capacity() < y.capacity(); });
  if (small->capacity() < v.capacity()) small->swap(v);
  std::vector<int>().swap(v);
}

// Renumbers the nodes reachable from root in a preorder that visits each node's largest child
// subtree last: index i's subtree is [i, i + zs[i]) and its parent is pp[i] < i. Children come
// from t, so only nodes 1..n are children and each has one parent: from root (no parent) the
// walk meets every reachable node once and never enters a cycle of t. O(n) time, no recursion,
// so any depth works; at most 20 bytes per node at once besides t.
int Tree() {
  const size_t N = size_t(n) + 1;
  // Children by a counting sort on the parent: those of v are ch[off[v] .. off[v + 1]), in
  // increasing order, and fc[v] is the first of them. Node 0 collects the nodes without a
  // parent; it is never reached as a child, and when it is the root no node lacks a parent.
  std::vector<int> off, ch, fc, q, pq, sz, ix;
  Huge(off, N + 2, 0), Huge(ch, N, 0);
  for (int j = 1; j <= n; j++) off[size_t(t[j]) + 2]++;
  for (size_t v = 2; v < N + 2; v++) off[v] += off[v - 1];
  for (int j = 1; j <= n; j++) ch[size_t(off[size_t(t[j]) + 1]++)] = j;
  Huge(fc, N, 0);
  for (size_t v = 0; v < N; v++) fc[v] = off[v] < off[v + 1] ? ch[size_t(off[v])] : 0;
  // Breadth first from root: q[h] is the h-th node reached and pq[h] its parent's position.
  // A node's offsets and its first child are read at once (both addresses are known from the
  // node), so the walk down a randomly numbered chain, which must wait for each node before it
  // knows the next, waits for one cache miss per node, not two in a row. The children of q[h]
  // stand together in q, after those of q[h - 1]: from here on every pass runs over positions,
  // all but sequentially.
  Huge(q, N, 0), Huge(pq, N, -1);
  size_t s = 1;
  q[0] = root;
  for (size_t h = 0; h < s; h++) {
    if (h + 16 < s) __builtin_prefetch(&off[size_t(q[h + 16])]);
    const size_t v = size_t(q[h]);
    const int b = off[v], e = off[v + 1];
    if (e - b == 1) {
      q[s] = fc[v], pq[s++] = int(h);
    } else {
      for (int k = b; k < e; k++) q[s] = ch[size_t(k)], pq[s++] = int(h);
    }
  }
  pp = std::move(fc);
  // Subtree sizes, children before parents. Dead arrays lend their memory to new ones: fresh
  // memory costs a page fault and the kernel's zeroing per page.
  sz = std::move(off), ix = std::move(ch);
  sz.assign(s, 1);
  for (size_t h = s; h-- > 1;) sz[size_t(pq[h])] += sz[h];
  // Top-down, each child's block starts after its parent and its lighter siblings' blocks;
  // ix[h] is the index of q[h]. The children of position h are the positions c.. with pq = h.
  ix.assign(s, 0);
  for (size_t h = 0, c = 1; h < s; h++) {
    size_t b = c, heavy = 0;
    for (; c < s && size_t(pq[c]) == h; c++)
      if (!heavy || sz[c] > sz[heavy]) heavy = c;
    int k = ix[h] + 1;
    for (size_t j = b; j < c; j++)
      if (j != heavy) ix[j] = k, k += sz[j];
    if (heavy) ix[heavy] = k;
  }
  pp.assign(s, -1);
  for (size_t h = 1; h < s; h++) pp[size_t(ix[h])] = ix[size_t(pq[h])];
  zs = std::move(pq);
  for (size_t h = 0; h < s; h++) zs[size_t(ix[h])] = sz[h];
  zs.resize(s);
  at = std::move(sz);
  at.assign(N, -1);
  for (size_t h = 0; h < s; h++) at[size_t(q[h])] = ix[h];
  Spare(q), Spare(ix);  // for the count's arrays of one entry per index
  return int(s);
}
