// Counting the labelings. For a node v let h_v(m) be the number of labelings of v's subtree
// with labels taken from m consecutive values. Giving v the i-th smallest value leaves m - 1 - i
// values above it for every child, so h_v(m) = sum_{i<m} prod_c h_c(i), a leaf has h(m) = m,
// and the answer is h_root(K). h_v is a polynomial of degree |subtree(v)| with integer
// coefficients in the binomial basis, which bounds how many values m must be tabulated.
#include "count.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <new>
#include <utility>

#include "dravok.h"
#include "kernels.h"
#include "poly.h"
#include "tree.h"

// Tables for the nodes of v's subtree, children before parents, the largest child first. A
// node's table starts as its largest child's (in place) and the others are multiplied into it;
// a node holds its table and the product of its small light children only while it waits for
// a light child, which holds at most half its subtree, so O(log n) tables live at once, each
// with at most 2^18 entries of light products that its steps wait on (below), and the kept
// factors, at most 128 of a period each: memory O(M log n + P). Leaf children are not
// tabulated: L of them multiply the product by m^L.
// Two facts shorten the tables. h_u(m) = 0 while m values cannot cover a path down from u, and
// no loop runs over the zeros a table starts with. And a subtree of z nodes needs only z + 1
// values if z < P, P (z div P + 1) otherwise (see Lengthen); a table grows only when its parent
// needs more.
// Going up a heavy path, a node's step h = S(g h') (S the exclusive prefix sum, g the product of
// its other children, periodic with period P) waits in a batch of up to R steps while the
// table's length stays within a quarter of the batch's first. A long batch runs block by block,
// each block in 16 bits by rows in the first-level cache (batch.cpp), and the table stays by
// rows for the next batch while its length holds. A run of k
// nodes with one child each is k prefix sums at once, one convolution (chain.cpp), where that costs
// less than k passes. Time O(sum over tabulated nodes u of min(M, z_u + 1 + P [z_u >= P])) at
// worst for the passes, plus the lengthening of each table to its parent's: per table, the
// cheaper of new values times degree and a convolution of O(T log T), T = min(M, P, values).
int Need(long long z, int M) {
  z = z < P ? std::max(z + 1, 256LL) : z < 1LL * P * P ? P * (z / P + 1) : M;
  return int(std::min<long long>(M, z));
}

int TablePool::Get() {
  if (spare.empty()) tables.emplace_back(), spare.push_back(int(tables.size()) - 1);
  const int b = spare.back();
  spare.pop_back();
  tables[size_t(b)].light = -1, tables[size_t(b)].rowValues = 0;
  return b;
}

namespace {

// Hands back the memory of tab's entries and rows where it holds more than `most`.
void HandBack(Table& tab, size_t most) {
  if (tab.values.capacity() > most) std::vector<uint32_t>().swap(tab.values);
  if (tab.rows.capacity() > most) std::vector<uint16_t>().swap(tab.rows);
}

}  // namespace

void TablePool::Free(int b) {
  HandBack(tables[size_t(b)], kept);
  spare.push_back(b);
}

void TablePool::Reset() {
  spare.clear();
  for (size_t b = tables.size(); b--;) {
    HandBack(tables[b], reused);
    tables[b].steps.clear(), tables[b].stepEntries = 0;
    spare.push_back(int(b));
  }
}

// At most two per thread: Counters nest on a thread only where one runs a light subtree it
// forked that no core took. Each holds about 1 MB on a random tree of 10^7 nodes (half tables cut
// to TablePool::reused entries, half kept factors), at most the kept factors' 16 MB and four
// spare rows; four per thread raised that tree's peak by 8 MiB.
thread_local std::vector<std::unique_ptr<Counter::Workspace>> Counter::spareWorkspaces;

std::unique_ptr<Counter::Workspace> Counter::TakeWorkspace() {
  if (spareWorkspaces.empty()) return std::make_unique<Workspace>();
  std::unique_ptr<Workspace> workspace = std::move(spareWorkspaces.back());
  spareWorkspaces.pop_back();
  return workspace;
}

// Leaves the workspace of a Counter that has ended, whatever state it stopped in (a count may
// have thrown): all its tables spare, its batches spare since none runs. Called from the
// destructor, so it throws nothing: without memory to keep it, the workspace is freed.
void Counter::LeaveWorkspace(std::unique_ptr<Workspace> workspace) noexcept {
  try {
    if (spareWorkspaces.size() >= 2) return;
    workspace->pool.Reset();
    if (workspace->spareRows.size() > 4) workspace->spareRows.resize(4);
    spareWorkspaces.push_back(std::move(workspace));
  } catch (const std::bad_alloc&) {
  }
}

int Counter::apartFrom = 1 << 13;
int Counter::octavesFrom = 1 << 21;

Counter::Counter(int i, int M_)
    : M(M_),
      lo(i),
      hi(lo + zs[size_t(lo)]),
      workspace(TakeWorkspace()),
      pool(workspace->pool),
      keptFactors(workspace->keptFactors),
      spareBatches(workspace->spareBatches),
      spareRows(workspace->spareRows),
      runTop(hi) {}

Counter::~Counter() {
  for (const auto& c : running) {
    for (const TaskRef& task : c->later) {
      try {
        Join(task);
      } catch (...) {  // a batch failed: the count fails with it
      }
    }
  }
  for (const auto& a : forked) {
    try {
      Join(a->task);
    } catch (...) {  // already thrown from Run, or to be lost with it
    }
  }
  LeaveWorkspace(std::move(workspace));
}

// The children of index i that are leaves. Its children's blocks tile (i, i + zs[i]), so they
// are found by jumps, one per child. O(children).
int Counter::LeafChildren(int i) const {
  int l = 0;
  for (int k = i + 1; k < i + zs[size_t(i)]; k += zs[size_t(k)]) l += zs[size_t(k)] == 1;
  return l;
}

// Descending indices reach a node after all its subtree, and its largest child's first. Each
// node is one of: a leaf (counted at its parent), a node over leaves only, the lowest of a run
// of one-child nodes taken at once, a step that joins its heavy path's batch, or a large light
// subtree counted apart (its block skipped here); then its table joins its parent's.
std::vector<uint32_t> Counter::Run(int* zeros) {
  FindApart(), ForkApart();
  for (int i = hi - 1; i >= lo; i--) {
    if (!forked.empty() && i == forked.front()->node + zs[size_t(forked.front()->node)] - 1) {
      const int node = forked.front()->node, b = JoinApart();
      if (b >= 0 && zs[size_t(node)] < P) JoinParent(b, node);
      if (b >= 0 && zs[size_t(node)] >= P) JoinLight(b, pool[b].degree, pp[size_t(node)]);
      i = node;
      continue;
    }
    if (zs[size_t(i)] == 1 && i > lo) continue;  // a leaf: its parent counts it
    // Only a node of more than 2P nodes has a light child of P or more (its largest is larger).
    if (auto it = zs[size_t(i)] > 2 * P ? products.find(i) : products.end();
        it != products.end() && !it->second.parts.empty()) {
      // i's light children of P nodes or more, walked on this core (see JoinParent), join at once.
      Part whole = it->second.Whole(Need(zs[size_t(i)], M));
      products.erase(it);
      const int w = pool.Get();
      pool[w].values.swap(whole.values), pool[w].zeros = whole.zeros;
      JoinLight(w, pool[w].degree = int(whole.degree), i);
    }
    int b = -1;
    if (!underWay.empty() && underWay.back().first == i)
      b = underWay.back().second, underWay.pop_back();
    const int l = LeafChildren(i);
    if (b < 0) {
      b = LeafOnly(i, l);
    } else if (const int k = RunLength(i); k && Cheaper(b, i, k)) {
      Chain(b, i, k), i -= k - 1;
    } else {
      JoinHeavyPath(b, i, l);
    }
    pool[b].node = i;
    // On lo's heavy path (the blocks that end where lo's ends) the table grows to M entries:
    // room for all of them at once, so that it never moves. Room by doubling moved the table of
    // a random tree of 10^8 nodes a dozen times, the last of 3 * 10^8 bytes on one core at the
    // run's end, and held both blocks meanwhile (the peak 2.2 GB against 1.96 without).
    if (i + zs[size_t(i)] == hi) Reserve(pool[b].values, size_t(M));
    if (i == lo) {
      Flush(b), Lengthen(pool[b].values, M, zs[size_t(i)], pool[b].zeros);
      if (zeros) *zeros = pool[b].zeros;
      return std::move(pool[b].values);
    }
    JoinParent(b, i);
  }
  return {};  // not reached: v, at index lo, returns
}

// The light children of the subtree's heavy paths, and of their heavy paths in turn, that hold
// apartFrom nodes or more and lie in no other such: they are independent of all else but their
// parent, so other cores count them meanwhile (none with one core). O(nodes of apartFrom or more).
void Counter::FindApart() {
  if (cores < 2) return;
  for (int i = lo + 1; i < hi;) {
    const int z = zs[size_t(i)], p = pp[size_t(i)];
    const bool light = i + z < p + zs[size_t(p)];  // the largest child's block ends its parent's
    if (z >= apartFrom && light) apart.push_back(i);
    if (z >= apartFrom && light && z >= P) products[p].waiting++;
    i += z < apartFrom || light ? z : 1;
  }
  std::reverse(apart.begin(), apart.end());
}

// Forks the next light subtrees to be counted apart, 4 per core ahead of the walk: enough to keep
// every core busy, few enough that the tables done early but not yet joined stay few. A table of
// P nodes or more joins its parent's product there, as its join would (the order of the factors
// does not change the product).
void Counter::ForkApart() {
  while (nextApart < apart.size() && forked.size() < 4 * size_t(cores.load())) {
    forked.push_back(std::make_unique<Apart>());
    Apart* a = forked.back().get();
    a->node = apart[nextApart++];
    const int z = zs[size_t(a->node)], parent = pp[size_t(a->node)];
    if (z >= P) a->product = &products.find(parent)->second;
    a->task = Fork([a, z, M = M, len = Need(zs[size_t(parent)], M)] {
      a->values = Counter(a->node, Need(z, M)).Run(&a->zeros);
      if (a->product) a->product->Join({std::move(a->values), a->zeros, z}, len);
    });
  }
}

namespace {

// The octave of a degree: floor(log2 d).
int Octave(long long d) { return 63 - __builtin_clzll(uint64_t(d)); }

}  // namespace

// a *= b at the values that their product's degree needs, at most len; b is then spare. The
// longer table is lengthened in place, the other as it is multiplied in (MulLengthened): O(the
// lengthening of both to that many values).
void Counter::Merge(Part& a, Part& b, int len) {
  if (a.values.size() < b.values.size()) std::swap(a, b);
  const int to = Need(a.degree + b.degree, len);
  Lengthen(a.values, to, a.degree, a.zeros);
  const int from = std::max(a.zeros, b.zeros);  // both are 0 below from
  std::fill(a.values.begin() + a.zeros, a.values.begin() + from, 0), a.zeros = from;
  MulLengthened(a.values.data(), from, to, b.values, b.degree);
  a.degree += b.degree, b = Part();
}

// Two parts of one octave make one of the next (or above), so each table is lengthened once
// per octave it climbs, whatever order the children come in; the lock is let go meanwhile, and
// children done at once are multiplied on their own cores. For a node of fewer than octavesFrom
// values (len) the product is made at len at once, as children come (see JoinAtLen).
void Counter::Product::Join(Part child, int len) {
  if (len < octavesFrom) return JoinAtLen(std::move(child), len);
  std::unique_lock<std::mutex> lock(mu);
  for (;;) {
    auto same = std::find_if(parts.begin(), parts.end(), [&](const Part& p) {
      return Octave(p.degree) == Octave(child.degree);
    });
    if (same == parts.end()) return parts.push_back(std::move(child));
    Part other = std::move(*same);
    parts.erase(same);
    lock.unlock(), Merge(child, other, len), lock.lock();
  }
}

// The product as one part at len values: the first child lengthened to len becomes it, a later
// one is lengthened as it is multiplied in (MulLengthened), the lock held for each pass over the
// product, so children of one node done at once are multiplied in at once. Every lengthening
// runs on the core of the child that asks for it, as it comes: at this size the lengthenings to
// len cost less than a tail of products on one core once the last child is done (multiplying
// them together first took a random tree of 10^6 nodes 1.08 of the time).
void Counter::Product::JoinAtLen(Part child, int len) {
  std::unique_lock<std::mutex> lock(mu);
  if (parts.empty()) {
    lock.unlock(), Lengthen(child.values, len, child.degree, child.zeros), lock.lock();
    // Another child may have become the product while the lock was let go.
    // cppcheck-suppress knownConditionTrueFalse
    if (parts.empty()) return parts.push_back(std::move(child));
  }
  Part& product = parts[0];                               // stays in place: no other part is added
  const int from = std::max(product.zeros, child.zeros);  // both are 0 below from
  std::fill(product.values.begin() + product.zeros, product.values.begin() + from, 0);
  product.zeros = from, product.degree += child.degree;
  uint32_t* into = product.values.data();
  lock.unlock();
  MulLengthened(into, from, len, child.values, child.degree, &mu);
}

// The parts multiplied smallest first (their degrees at least double from one to the next, so
// the lengthenings cost about twice the last), at most len values. Called once every child has
// joined, so no lock is needed.
Counter::Part Counter::Product::Whole(int len) {
  std::sort(parts.begin(), parts.end(),
            [](const Part& a, const Part& b) { return a.degree < b.degree; });
  Part whole = std::move(parts[0]);
  for (size_t k = 1; k < parts.size(); k++) Merge(whole, parts[k], len);
  parts.clear();
  return whole;
}

// The walk has reached a light subtree counted apart: once it is done, its table, or the
// product it joined once the last of that product's children is done; -1 while more are to come.
int Counter::JoinApart() {
  Apart& a = *forked.front();
  Join(a.task);
  int b = -1;
  if (!a.product || --a.product->waiting == 0) {
    b = pool.Get();
    Table& tab = pool[b];
    tab.node = a.node;
    if (a.product) {
      Part whole = a.product->Whole(Need(zs[size_t(pp[size_t(a.node)])], M));
      tab.values.swap(whole.values), tab.zeros = whole.zeros, tab.degree = int(whole.degree);
    } else {
      tab.values.swap(a.values), tab.zeros = a.zeros, tab.degree = zs[size_t(a.node)];
    }
  }
  forked.pop_front(), ForkApart();
  return b;
}

// The table of node i with l leaf children and no other: the prefix sums of m^l, kept from
// node to node, since many nodes have as many leaf children.
int Counter::LeafOnly(int i, int l) {
  const int len = Need(zs[size_t(i)], M);
  if (l != leafCount) {
    leafTable.resize(size_t(len)), Pow(leafTable.data(), len, leafCount = l);
    Prefix(leafTable.data(), len);
    for (leafZeros = 0; leafZeros < len && !leafTable[size_t(leafZeros)];) leafZeros++;
  }
  const int b = pool.Get();
  pool[b].values = leafTable, pool[b].zeros = leafZeros, pool[b].degree = zs[size_t(i)];
  return b;
}

// Node i's step (its light product, if any, and its l leaf children) waits on its largest
// child's table b. A batch runs every step at its top's values: it grows while they stay within
// a quarter of its first's (on a bushy tree a table doubles from node to node), and runs as
// soon as the parent's step could not join it, or holds R steps or light products of E entries
// (so that waiting steps add O(M) per table alive).
void Counter::JoinHeavyPath(int b, int i, int l) {
  constexpr size_t R = 64, E = size_t(1) << 18;
  Table& tab = pool[b];
  if (tab.steps.empty()) tab.batchValues = Need(zs[size_t(i)], M);
  if (tab.light >= 0) tab.stepEntries += pool[tab.light].values.size();
  tab.steps.push_back(tab.light), tab.steps.push_back(l), tab.light = -1, tab.node = i;
  if (tab.steps.size() == 2 * R || tab.stepEntries > E || i == lo ||
      4LL * Need(zs[size_t(pp[size_t(i)])], M) > 5LL * tab.batchValues)
    Flush(b, true);
}

// Node i's table b joins its parent's: as the largest child's it becomes the parent's table
// under way; a light child's is multiplied in (see light.cpp), but for one of P nodes or more
// of a parent of octavesFrom values or more (walked here on one core, else counted apart),
// which waits in the parent's product for its siblings of that size, joined once the walk
// reaches the parent (see Product).
void Counter::JoinParent(int b, int i) {
  const int parent = pp[size_t(i)], z = zs[size_t(i)];
  if (underWay.empty() || underWay.back().first != parent) {
    underWay.emplace_back(parent, b);
  } else if (z >= P && Need(zs[size_t(parent)], M) >= octavesFrom) {
    Flush(b);
    products[parent].Join({std::move(pool[b].values), pool[b].zeros, z},
                          Need(zs[size_t(parent)], M));
    pool.Free(b);
  } else {
    JoinLight(b, z, parent);
  }
}

std::vector<uint32_t> Df(int v, int M) { return Counter(at[size_t(v)], M).Run(); }

// h_root(K) mod P for the s nodes reachable from root. When s < P, K is first reduced mod P:
// h_root = sum_{j<=s} c_j C(m, j) and C(K, j) = C(K mod P, j) mod P for j < P (Lucas). If the
// reduced K' is at most s, h_root is tabulated up to K'; otherwise up to s and interpolated.
// When s >= P, h_root on the residue class of K is a polynomial in j of degree D = s div P, for
// C(r + jP, k) = C(r, k mod P) C(j, k div P) mod P (Lucas) with r = K mod P, k <= s: its values at
// j <= D, in the count's table of P (D + 1) entries, give h_root(K) by D + 1 terms of Lagrange's
// formula, not s + 1.
// Time O(n + s * min(K', s)) at worst; Df says what the tables really cost.
int Count() {
  int s = Tree(false);
  // The count reads pp and zs from the root's index 0 on, not the renumbering's spare arrays
  // (t among them): 16 bytes a node back, by another core while this one counts, or here where
  // memory counts (handing them back took 4% of a run on 10^7 nodes with K = 50 on one core).
  auto handBack = [] { DropSpares(); };
  struct Joined {  // the task, if any, is done before Count returns or throws
    TaskRef task;
    ~Joined() {
      if (task) Join(task);
    }
  } handing;
  if (cores > 1) handing.task = Fork(handBack);
  if (cores == 1 && n >= 1 << 25) handBack();
  long long x = s < P ? K % P : K;
  if (x <= s) return int(Counter(0, int(x) + 1).Run()[x]);
  if (const long long D = s / P, M = P * (D + 1); s >= P && M <= INT_MAX) {
    const std::vector<uint32_t> h = Counter(0, int(M)).Run();
    if (x < M) return int(h[size_t(x)]);
    std::vector<uint32_t> row(size_t(D) + 1);  // h_root on x's class, at j = 0..D
    for (size_t j = 0; j <= size_t(D); j++) row[j] = h[size_t(x % P) + j * P];
    return int(Interp(row, x / P));
  }
  // Only trees of 2^31 - P nodes or more, whose class tables would not fit int indices, and
  // s < P, where the table has at most P values, are interpolated from all of them.
  const std::vector<uint32_t> h = Counter(0, s + 1).Run();
  std::atomic<uint32_t> sum{0};  // the terms of Lagrange's formula, on every core
  Split(0, h.size(), [&](size_t from, size_t to) { sum += Interp(h, x, from, to); });
  return int(sum % P);
}
