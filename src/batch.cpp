// Batches of steps up a heavy path. Going up, a node's step is h = S(g h'): h' its largest
// child's table, g the product of its other children (periodic with period P), S the exclusive
// prefix sum. Steps wait on their table (Table::steps) and run together at the values of the
// batch's top, either one after another over the whole table in 32 bits (entries), or block by
// block (rows): each block of Blk entries in 16 bits by rows in the first-level cache while
// every step runs over it (Steps in kernels.h), a long batch split among the cores.
#include <algorithm>
#include <atomic>
#include <new>
#include <numeric>
#include <thread>

#include "count.h"
#include "kernels.h"
#include "poly.h"
#include "tree.h"

namespace {

// A factor's entries from u on; none (a product by 1) stays none.
const uint16_t* At(const uint16_t* g, int u) { return g ? g + u : nullptr; }

// The zeros a table starts with after a step whose light product starts with zx zeros (-1: no
// light product) over l leaf children, from z before: a product vanishes where a factor does
// (every table at 0), a prefix sum one value further.
int After(int z, int zx, int l) {
  return std::max(z, zx >= 0 ? std::max(zx, int(l > 0)) : int(l > 0)) + 1;
}

// Asks for the rows of the block at entry m of a table of T values by rows, period G, to be
// brought into this core's cache, for writing.
void Fetch(const Table& tab, int m, int T, int G) {
  if (m >= T) return;
  const uint16_t* w = tab.rows.data() + size_t(m / G) * size_t(G + 64) + size_t(m % G);
  for (int k = 0; k < std::min(Blk, G - m % G); k += 32) __builtin_prefetch(w + k, 1);
}

// The pipeline's stages for r steps over `entries` values by rows: one per core, each with at
// least 4 steps (the kernel's rows) and 2^19 entry-steps (about 50 us on one core), else one. On
// two cores that is a split from 2^20 entry-steps on (on a deep random tree of 4*10^5 nodes 2^20
// took 0.97 of the time 2^22 did, 2^18 no less).
int Stages(int r, int entries) {
  const long long work = 1LL * r * entries >> 19;
  return int(std::max(1LL, std::min({static_cast<long long>(cores.load()), r / 4LL, work})));
}

}  // namespace

// The blocks of a table of T values by rows from entry m: f(m, u, have, len, o) for len
// entries (have of them below T) at slot o of the rows, u = m mod G. They lie within periods of
// G = min(T, P) values, as the factors' blocks do.
template <class F>
void Counter::Blocks(int m, int T, F&& f) {
  const int G = std::min(T, P);
  for (int len; m < T; m += len) {
    const int u = m % G;
    len = std::min(Blk, G - u), f(m, u, std::min(len, T - m), len, m / G * (G + 64) + u);
  }
}

// Table b in entries again, if it was left by rows; rows of a large table are handed back.
// O(its values).
void Counter::Plain(int b) {
  Table& tab = pool[b];
  if (!tab.rowValues) return;
  uint32_t* f = tab.values.data();
  Blocks(tab.rowFrom, tab.rowValues, [&](int m, int, int have, int len, int o) {
    FromRows(tab.rows.data() + o, have, len, f + m);
  });
  tab.rowValues = 0;
  if (tab.rows.capacity() > TablePool::kept) std::vector<uint16_t>().swap(tab.rows);
}

// Runs the steps waiting on b: its table becomes its node's, at Need(its subtree) values, in
// entries unless it may stay by rows (stay) for the next batch. Time O(r T) for r steps over
// T values (a quarter of that by rows), plus the factors' lengthening.
void Counter::Flush(int b, bool stay) {
  if (pool[b].steps.empty()) return stay ? void() : Plain(b);
  std::vector<int>& s = batch;
  s.swap(pool[b].steps), pool[b].stepEntries = 0;
  const int node = pool[b].node, T = Need(zs[size_t(node)], M), r = int(s.size()) / 2;
  const bool rows = ByRows(b, s, T), kept = rows && pool[b].rowValues == T;
  if (!kept) Plain(b);
  if (rows) FindKept(s, std::min(T, P));
  LengthenFactors(b, s, T);
  const int z = rows ? Factors(b, s, T) : StepsByEntries(b, s, T);
  if (rows) StepsByRows(b, r, T, kept);
  if (!stay) Plain(b);
  for (size_t j = 0; j < size_t(r); j++)
    if (s[2 * j] >= 0) pool.Free(s[2 * j]);
  s.clear(), pool[b].degree = zs[size_t(node)], pool[b].zeros = std::min(z, T);
}

// Whether the batch runs by rows. By rows the steps cost about a quarter of a pass each, but
// each block is laid out twice (not if the table is by rows already) and each factor not kept
// once (about five passes over its G values); factors that can be kept count as kept.
bool Counter::ByRows(int b, const std::vector<int>& s, int T) {
  const int G = std::min(T, P), r = int(s.size()) / 2, z0 = pool[b].zeros;
  if (T - z0 < 2 * Blk || r < 4) return false;
  int fresh = 0;
  for (size_t j = 0, seen = 0; j < size_t(r); j++) {
    const int x = s[2 * j], l = s[2 * j + 1];
    if (x < 0 && l && l < 64 && keptFactors.Fresh(l, G) && !(seen >> l & 1))
      fresh++, seen |= 1ULL << l;
    fresh += x >= 0 ? G < P || pool[x].degree >= 16 : l >= 64;
  }
  const bool laid = pool[b].rowValues == T;
  return 5LL * fresh * G + 2LL * (T - z0) * !laid < 3LL * r * (T - z0) / 4;
}

// Small light products repeat (a node over one leaf, over two, ...): at a whole period, one of
// degree below 16 is looked up among the kept factors by its first values and its leaf
// children; one found is given back and its step marked -2.
void Counter::FindKept(std::vector<int>& s, int G) {
  const size_t r = s.size() / 2;
  factor.resize(r), key.resize(r);
  for (size_t j = 0; j < r; j++) {
    const int x = s[2 * j];
    key[j].clear();
    if (x < 0 || G < P || pool[x].degree >= 16) continue;
    const std::vector<uint32_t>& v = pool[x].values;
    key[j].assign(v.begin(), v.begin() + pool[x].degree + 1),
        key[j].push_back(uint32_t(s[2 * j + 1]));
    if (keptFactors.Find(key[j], factor[j])) pool.Free(x), s[2 * j] = -2;
  }
}

// The table to T values and each light product to G = min(T, P) (beyond, its period), two at
// a time so that they share a convolution; the table takes part where T = G. The lengthenings
// are independent: from 2^15 new values times degree (some 10 us) they run on every core, each
// core taking the next, the costliest first (on a deep random tree of 4*10^5 nodes they were 7%
// of a run on one core, while the other core had nothing to do).
void Counter::LengthenFactors(int b, const std::vector<int>& s, int T) {
  const int G = std::min(T, P);
  struct Job {
    int a, b, to;  // tables a and b (-1: none) to `to` values
    long long cost;
  };
  std::vector<Job> jobs;
  const auto cost = [&](int x, int to) {
    const Table& tab = pool[x];
    return std::max(0LL, to - static_cast<long long>(tab.values.size())) *
           std::min(tab.degree + 1, 64);
  };
  int q = T <= P && !pool[b].rowValues ? b : -1;
  if (q < 0 && !pool[b].rowValues) jobs.push_back({b, -1, T, cost(b, T)});
  for (size_t j = 0; j < s.size() / 2; j++) {
    const int x = s[2 * j];
    if (x >= 0 && q < 0) {
      q = x;
    } else if (x >= 0) {
      jobs.push_back({q, x, G, cost(q, G) + cost(x, G)}), q = -1;
    }
  }
  if (q >= 0) jobs.push_back({q, -1, G, cost(q, G)});
  const long long total = std::accumulate(
      jobs.begin(), jobs.end(), 0LL, [](long long sum, const Job& job) { return sum + job.cost; });
  std::sort(jobs.begin(), jobs.end(), [](const Job& x, const Job& y) { return x.cost > y.cost; });
  std::atomic<size_t> next{0};
  const auto run = [&](size_t, size_t) {
    for (size_t k; (k = next.fetch_add(1)) < jobs.size();) {
      Table& u = pool[jobs[k].a];
      if (jobs[k].b < 0) {
        Lengthen(u.values, jobs[k].to, u.degree, u.zeros);
      } else {
        Table& w = pool[jobs[k].b];
        Lengthen(u.values, jobs[k].to, u.degree, u.zeros, &w.values, w.degree, w.zeros);
      }
    }
  };
  // One piece per core (Split's ranges only count them): each runs jobs until none are left.
  Split(0, total >= 1 << 15 ? jobs.size() : 1, run, 1);
}

// The steps one by one over the table in entries, in 32 bits: times each step's factor (none
// for a node with one child), then the prefix sum. Returns the zeros the table starts with.
int Counter::StepsByEntries(int b, const std::vector<int>& s, int T) {
  const int G = std::min(T, P);
  uint32_t* f = pool[b].values.data();
  int z = pool[b].zeros;
  for (size_t j = 0; j < s.size() / 2; j++) {
    const int x = s[2 * j], l = s[2 * j + 1], y = z;
    z = After(z, x >= 0 ? pool[x].zeros : -1, l);
    if (x >= 0 && l) Mul(pool[x].values.data(), keptFactors.Power(l, G), G);
    const uint32_t* g = x >= 0 ? pool[x].values.data() : l ? keptFactors.Power(l, G) : nullptr;
    for (int m = y, e; g && m < T; m = e)
      e = std::min(T, (m / P + 1) * P), Mul(f + m, g + m % P, e - m);
    if (y < T) Prefix(f + y, T - y);
  }
  return z;
}

// Each step's factor by rows: the light product times m^l (m^l alone kept by l), laid out in
// 16 bits with its quotients. A light product is only marked here (layOut), to be laid out by
// the stage whose steps read it (LayOut), and kept for later batches once they are done
// (KeepLaidOut) if it is small and at a whole period. Returns the zeros the table starts with.
int Counter::Factors(int b, const std::vector<int>& s, int T) {
  const int G = std::min(T, P);
  const size_t r = s.size() / 2;
  if (laidOut.size() < r) laidOut.resize(r);
  layOut.assign(r, nullptr);
  int z = pool[b].zeros;
  for (size_t j = 0; j < r; j++) {
    const int x = s[2 * j], l = s[2 * j + 1];
    z = After(z, x == -2 ? 1 : x >= 0 ? pool[x].zeros : -1, l);  // -2: kept, zeros unknown
    if (x == -2) continue;
    // Power may make m^l anew (l >= 64, in one array for every such l): used at once.
    if (x >= 0 && l) Mul(pool[x].values.data(), keptFactors.Power(l, G), G);
    if (x < 0 && !l) {  // a node with one child: a prefix sum, no product
      factor[j] = {nullptr, nullptr};
    } else if (x < 0 && l < 64) {
      factor[j] = keptFactors.PowerRows(l, G);
    } else if (x >= 0) {
      layOut[j] = pool[x].values.data();
    } else {
      std::vector<uint16_t>& h = laidOut[j];
      h.resize(2 * size_t(KeptFactors::Q)), factor[j] = {h.data(), h.data() + KeptFactors::Q};
      Factor(keptFactors.Power(l, G), G, h.data(), h.data() + KeptFactors::Q);
    }
  }
  return z;
}

// Lays out the light products of steps [from, to) that Factors marked, at G values. O(G)
// each. Each stage lays out its own steps' as it starts: it touches no state the others use.
void Counter::LayOut(int from, int to, int G) {
  for (size_t j = size_t(from); j < size_t(to); j++) {
    if (!layOut[j]) continue;
    std::vector<uint16_t>& h = laidOut[j];
    h.resize(2 * size_t(KeptFactors::Q)), factor[j] = {h.data(), h.data() + KeptFactors::Q};
    Factor(layOut[j], G, h.data(), h.data() + KeptFactors::Q);
  }
}

// Once the steps are done: the light products laid out that may be kept (see FindKept) are,
// their rows moved, not copied (a copy is memory the process has not touched, which on a deep
// random tree of 4*10^5 nodes cost as much as laying the products out).
void Counter::KeepLaidOut(int r) {
  for (size_t j = 0; j < size_t(r); j++)
    if (layOut[j] && !key[j].empty()) keptFactors.Keep(key[j], laidOut[j]);
}

// The r steps block by block by rows. The entries below the table's zeros are 0 and stay 0. A
// long batch runs on several cores at once, as a pipeline: stage k runs its share of the steps
// over each block once stage k - 1 is done with it, with sums carried of its own. A block
// another core wrote last is in that core's cache, and fetching it line by line as the steps
// reach it cost each core about a third of its time on a caterpillar of 5*10^5 nodes: so each
// stage asks for its next block while it runs the steps over this one, and stays a block
// further behind the stage before, so that the block it asks for is done.
void Counter::StepsByRows(int b, int r, int T, bool laid) {
  Table& tab = pool[b];
  const int G = std::min(T, P), z0 = tab.zeros, from = z0 - z0 % G % Blk;
  if (!laid)
    tab.rows.resize(size_t((T + G - 1) / G) * (G + 64)), tab.rowValues = T, tab.rowFrom = from;
  const int stages = Stages(r, T - from);
  const auto cut = [&](int k) { return int(1LL * r * k / stages); };  // stage k's first step
  int blocks = 0;
  Blocks(from, T, [&](int, int, int, int, int) { blocks++; });
  // The blocks each stage is done with, and each stage's own scratch (the carries change at
  // every step of every block), all made before any stage starts: a stage cannot fail, so
  // every stage after it is sure to be let through.
  std::vector<std::atomic<int>> done(static_cast<size_t>(stages));
  struct Scratch {
    std::vector<const uint16_t*> gv, gq;
    std::vector<uint16_t> carry;
  };
  std::vector<Scratch> own(static_cast<size_t>(stages));
  for (int k = 0; k < stages; k++) {
    const size_t steps = size_t(cut(k + 1) - cut(k));
    own[size_t(k)] = {std::vector<const uint16_t*>(steps), std::vector<const uint16_t*>(steps),
                      std::vector<uint16_t>(steps)};
  }
  // Stage k's steps over the block of len entries at slot o, u its place in the period.
  const auto run = [&](int k, int u, int len, int o) {
    const int first = cut(k), steps = cut(k + 1) - first;
    Scratch& mine = own[size_t(k)];
    for (size_t j = 0; j < size_t(steps); j++) {
      const Rows& g = factor[size_t(first) + j];
      mine.gv[j] = At(g.values, u), mine.gq[j] = At(g.quotients, u);
    }
    Steps(tab.rows.data() + o, len, steps, mine.gv.data(), mine.gq.data(), mine.carry.data());
  };
  auto stage = [&](int k) {
    int i = 0;
    LayOut(cut(k), cut(k + 1), G);
    Blocks(from, T, [&](int m, int u, int, int len, int o) {
      while (done[size_t(k - 1)].load(std::memory_order_acquire) <= std::min(i + 1, blocks - 1))
        std::this_thread::yield();
      Fetch(tab, m + len, T, G);
      run(k, u, len, o), i++;
      done[size_t(k)].fetch_add(1, std::memory_order_release);
    });
  };
  // The later stages on other cores if free, else here once the head is done, in order (a stage
  // waits only for the one before it, so whoever runs it finishes it). A stage that cannot be
  // forked (no memory for the task) runs here too, with those after it.
  std::vector<TaskRef> later;
  later.reserve(size_t(stages));
  try {
    for (int k = 1; k < stages; k++) later.push_back(Fork([&stage, k] { stage(k); }));
  } catch (const std::bad_alloc&) {
  }
  const uint32_t* f = tab.values.data();
  LayOut(0, cut(1), G);
  Blocks(from, T, [&](int m, int u, int have, int len, int o) {
    if (!laid) ToRows(f + m, have, len, tab.rows.data() + o);
    if (stages > 1) Fetch(tab, m + len, T, G);  // last written on the last stage's core
    run(0, u, len, o);
    done[0].fetch_add(1, std::memory_order_release);
  });
  for (const TaskRef& task : later) Join(task);
  for (int k = int(later.size()) + 1; k < stages; k++) stage(k);
  KeepLaidOut(r);
}
