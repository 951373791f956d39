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

// Asks for the block at entry m of the rows of a table of T values, period G, to be brought
// into this core's cache, for writing.
void Fetch(const uint16_t* rows, int m, int T, int G) {
  if (m >= T) return;
  const uint16_t* w = rows + size_t(m / G) * size_t(G + 64) + size_t(m % G);
  for (int k = 0; k < std::min(Blk, G - m % G); k += 32) __builtin_prefetch(w + k, 1);
}

// Waits until `done` (the blocks a stage is done with, counted in order) passes block i.
void Await(const std::atomic<int>& done, int i) {
  while (done.load(std::memory_order_acquire) <= i) std::this_thread::yield();
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
// T values (a quarter of that by rows), plus the factors' lengthening. A batch left by rows
// may still run on other cores when this returns: the walk goes on, and the next batch of the
// table, if by rows at as many values, follows it block by block (see StepsByRows); else it
// waits for it (Settle).
void Counter::Flush(int b, bool stay) {
  if (pool[b].steps.empty()) {
    if (const size_t k = UnderWay(b); k < running.size()) Settle(k);
    return stay ? void() : Plain(b);
  }
  while (running.size() >= 2) Settle(0);
  // Under way from here, so that its stages are waited for whatever is thrown.
  if (spareBatches.empty()) spareBatches.push_back(std::make_unique<Batch>());
  running.push_back(std::move(spareBatches.back())), spareBatches.pop_back();
  Batch& c = *running.back();
  const size_t k = UnderWay(b);  // found before c takes b's steps
  c.steps.swap(pool[b].steps), pool[b].stepEntries = 0, c.table = b;
  const int node = pool[b].node, T = Need(zs[size_t(node)], M);
  const bool rows = c.byRows = ByRows(b, c.steps, T), laid = rows && pool[b].rowValues == T;
  if (k < running.size() && !(laid && Follows(*running[k]))) Settle(k);
  if (!laid) Plain(b);
  if (rows) FindKept(c, std::min(T, P));
  LengthenFactors(b, c.steps, T);
  const int z = rows ? Factors(c, T) : StepsByEntries(b, c.steps, T);
  if (rows) StepsByRows(c, laid);
  pool[b].degree = zs[size_t(node)], pool[b].zeros = std::min(z, T);
  if (!stay || c.later.empty()) Settle(running.size() - 1);
  if (!stay) Plain(b);
}

// The oldest batch under way of table b (the one before, while a new one is made), or
// running.size() if none.
size_t Counter::UnderWay(int b) const {
  auto it = std::find_if(running.begin(), running.end(),
                         [&](const auto& x) { return x->table == b && !x->steps.empty(); });
  return size_t(it - running.begin());
}

// Whether the next batch of c's table may follow c block by block: every later stage of c is
// on a core (so that it finishes without this thread).
bool Counter::Follows(const Batch& c) {
  return int(c.later.size()) == c.stages - 1 &&
         std::all_of(c.later.begin(), c.later.end(),
                     [](const TaskRef& task) { return Taken(task); });
}

// Finishes batch running[k]: waits for the stages of its pipeline still running (running here
// those no core took), keeps the light products it laid out that may be kept and hands back
// the others.
void Counter::Settle(size_t k) {
  std::unique_ptr<Batch> batch = std::move(running[k]);
  running.erase(running.begin() + std::ptrdiff_t(k));
  Batch& c = *batch;
  for (const TaskRef& task : c.later) Join(task);  // a stage throws nothing (see StepsByRows)
  for (int i = int(c.later.size()) + 1; i < c.stages; i++) Stage(c, i);
  c.later.clear(), c.stages = 1;
  for (size_t j = 0; j < c.steps.size() / 2; j++) {
    const int x = c.steps[2 * j];
    if (c.byRows && x >= 0 && !c.key[j].empty()) keptFactors.Keep(c.key[j], c.laidOut[j]);
    if (x >= 0) pool.Free(x);
  }
  for (auto& rows : c.laidOut)
    if (rows) spareRows.push_back(std::move(rows));
  c.steps.clear(), spareBatches.push_back(std::move(batch));
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
void Counter::FindKept(Batch& c, int G) {
  const size_t r = c.steps.size() / 2;
  c.factor.resize(r), c.key.resize(r);
  for (size_t j = 0; j < r; j++) {
    const int x = c.steps[2 * j];
    std::vector<uint32_t>& key = c.key[j];
    key.clear();
    if (x < 0 || G < P || pool[x].degree >= 16) continue;
    const std::vector<uint32_t>& v = pool[x].values;
    key.assign(v.begin(), v.begin() + pool[x].degree + 1),
        key.push_back(uint32_t(c.steps[2 * j + 1]));
    if (keptFactors.Find(key, c.factor[j])) pool.Free(x), c.steps[2 * j] = -2;
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
// (Settle) if it is small and at a whole period. Returns the zeros the table starts with.
int Counter::Factors(Batch& c, int T) {
  const int G = std::min(T, P);
  const size_t r = c.steps.size() / 2;
  if (c.laidOut.size() < r) c.laidOut.resize(r);
  c.layOut.assign(r, nullptr);
  int z = pool[c.table].zeros;
  for (size_t j = 0; j < r; j++) {
    const int x = c.steps[2 * j], l = c.steps[2 * j + 1];
    z = After(z, x == -2 ? 1 : x >= 0 ? pool[x].zeros : -1, l);  // -2: kept, zeros unknown
    if (x == -2) continue;
    // Power may make m^l anew (l >= 64, in one array for every such l): used at once.
    if (x >= 0 && l) Mul(pool[x].values.data(), keptFactors.Power(l, G), G);
    std::unique_ptr<uint16_t[]>& h = c.laidOut[j];
    if (x < 0 && !l) {  // a node with one child: a prefix sum, no product
      c.factor[j] = {nullptr, nullptr};
    } else if (x < 0 && l < 64) {
      // m^l laid out anew for another period: the batches under way may read it.
      if (keptFactors.Fresh(l, G))
        while (running.size() > 1) Settle(0);
      c.factor[j] = keptFactors.PowerRows(l, G);
    } else {
      // Made here, not by the stage that lays it out, which must not fail (see StepsByRows).
      if (!h && !spareRows.empty()) h = std::move(spareRows.back()), spareRows.pop_back();
      if (!h) h.reset(new uint16_t[2 * size_t(KeptFactors::Q)]);
      c.factor[j] = {h.get(), h.get() + KeptFactors::Q};
      if (x >= 0) c.layOut[j] = pool[x].values.data();
      if (x < 0) Factor(keptFactors.Power(l, G), G, h.get(), h.get() + KeptFactors::Q);
    }
  }
  return z;
}

// Lays out the light products of steps [from, to) that Factors marked. O(G) each. Each stage
// lays out its own steps' as it starts: it touches nothing the others use.
void Counter::LayOut(Batch& c, int from, int to) {
  for (size_t j = size_t(from); j < size_t(to); j++)
    if (c.layOut[j])
      Factor(c.layOut[j], c.G, c.laidOut[j].get(), c.laidOut[j].get() + KeptFactors::Q);
}

// Stage k's steps over the block of len entries at slot o of the rows, u its place in the
// period.
void Counter::StageBlock(Batch& c, int k, int u, int len, int o) {
  const int first = c.Cut(k), steps = c.Cut(k + 1) - first;
  Batch::Scratch& mine = c.own[size_t(k)];
  for (size_t j = 0; j < size_t(steps); j++) {
    const Rows& g = c.factor[size_t(first) + j];
    mine.gv[j] = At(g.values, u), mine.gq[j] = At(g.quotients, u);
  }
  Steps(c.rows + o, len, steps, mine.gv.data(), mine.gq.data(), mine.carry.data());
}

// A later stage k: lays out its steps' light products, then runs its steps over each block once
// stage k - 1 is done with the block after it, asking for that one meanwhile.
void Counter::Stage(Batch& c, int k) {
  int i = 0;
  LayOut(c, c.Cut(k), c.Cut(k + 1));
  Blocks(c.from, c.T, [&](int m, int u, int, int len, int o) {
    Await(c.done[size_t(k - 1)], std::min(i + 1, c.blocks - 1));
    Fetch(c.rows, m + len, c.T, c.G);
    StageBlock(c, k, u, len, o), i++;
    c.done[size_t(k)].fetch_add(1, std::memory_order_release);
  });
}

// The batch's steps block by block by rows. The entries below the table's zeros are 0 and stay
// 0. A long batch runs on several cores at once, as a pipeline: stage k runs its share of the
// steps over each block once stage k - 1 is done with it, with sums carried of its own. A
// block another core wrote last is in that core's cache, and fetching it line by line as the
// steps reach it cost each core about a third of its time on a caterpillar of 5*10^5 nodes: so
// each stage asks for its next block while it runs the steps over this one, and stays a block
// further behind the stage before, so that the block it asks for is done. The first stage runs
// here, the later ones on other cores, left running when this returns (see Flush).
void Counter::StepsByRows(Batch& c, bool laid) {
  Table& tab = pool[c.table];
  c.r = int(c.steps.size()) / 2, c.T = Need(zs[size_t(tab.node)], M), c.G = std::min(c.T, P);
  const int z0 = tab.zeros, T = c.T, G = c.G;
  c.from = z0 - z0 % G % Blk;
  // The batch before of the table, if still under way: its last stage's blocks are awaited.
  // It starts at the same block or earlier (the zeros only grow), on the same grid of blocks:
  // its block i + skip is this one's block i.
  const Batch* prev = running[UnderWay(c.table)].get();  // c itself if none
  if (prev == &c) prev = nullptr;
  if (prev && prev->from > c.from) Settle(UnderWay(c.table)), prev = nullptr;
  int skip = 0;
  if (prev) Blocks(prev->from, c.from, [&](int, int, int, int, int) { skip++; });
  if (!laid)
    tab.rows.resize(size_t((T + G - 1) / G) * (G + 64)), tab.rowValues = T, tab.rowFrom = c.from;
  c.rows = tab.rows.data();
  // All a stage uses is made before any starts, and a stage allocates nothing: a stage cannot
  // fail, so every stage after it is sure to be let through.
  c.stages = Stages(c.r, T - c.from), c.blocks = 0;
  Blocks(c.from, T, [&](int, int, int, int, int) { c.blocks++; });
  c.done = std::vector<std::atomic<int>>(size_t(c.stages));
  c.own.resize(size_t(c.stages));
  for (int k = 0; k < c.stages; k++) {
    const size_t steps = size_t(c.Cut(k + 1) - c.Cut(k));
    Batch::Scratch& mine = c.own[size_t(k)];
    mine.gv.resize(steps), mine.gq.resize(steps), mine.carry.assign(steps, 0);
  }
  // The later stages on other cores if free, else by Settle, in order (a stage waits only for
  // the one before it, so whoever runs it finishes it). A stage that cannot be forked (no
  // memory for the task) is left to Settle too, with those after it.
  c.later.reserve(size_t(c.stages));
  try {
    for (int k = 1; k < c.stages; k++) c.later.push_back(Fork([this, &c, k] { Stage(c, k); }));
  } catch (const std::bad_alloc&) {
  }
  const uint32_t* f = tab.values.data();
  LayOut(c, 0, c.Cut(1));
  int i = 0;
  Blocks(c.from, T, [&](int m, int u, int have, int len, int o) {
    if (prev) Await(prev->done[size_t(prev->stages - 1)], std::min(i + skip + 1, prev->blocks - 1));
    i++;
    if (!laid) ToRows(f + m, have, len, c.rows + o);
    if (c.stages > 1) Fetch(c.rows, m + len, T, G);  // last written on the last stage's core
    StageBlock(c, 0, u, len, o);
    c.done[0].fetch_add(1, std::memory_order_release);
  });
  if (prev) Settle(UnderWay(c.table));  // done with every block by now
}
