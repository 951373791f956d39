// The count against oracles: exhaustive enumeration on tiny trees, the straightforward table
// recursion on mid-size ones, closed forms (chains, stars, brooms, caterpillars) for huge K and
// s >= P.
#include "count.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <functional>
#include <random>
#include <sstream>
#include <tuple>

#include "at_level.h"
#include "blocks.h"
#include "naive.h"
#include "poly.h"
#include "tree.h"

namespace {

using Pairs = std::vector<std::pair<int, int>>;

std::string Text(int n_, long long K_, const Pairs& pairs) {
  std::ostringstream o;
  o << n_ << ' ' << K_ << '\n';
  for (auto [p, c] : pairs) o << p << ' ' << c << '\n';
  return o.str();
}

int Solve(const std::string& in) {
  std::string e = Parse(in);
  EXPECT_EQ(e, "") << in;
  return Count();
}

// A random tree on n nodes, relabelled at random; with `junk`, also repeated children, self
// pairs, parent or child 0 and cycles, the degenerate lists the reader accepts. With reach > 0
// each node's parent is one of the reach nodes before it: long runs of one-child nodes.
Pairs RandomPairs(std::mt19937& g, int n_, bool junk, int reach = 0) {
  std::vector<int> perm(size_t(n_) + 1);
  for (int i = 0; i <= n_; i++) perm[i] = i;
  std::shuffle(perm.begin() + 1, perm.end(), g);
  Pairs ps;
  for (int v = 2; v <= n_; v++) {
    int lo = reach ? std::max(1, v - reach) : 1;
    ps.push_back({perm[std::uniform_int_distribution<int>(lo, v - 1)(g)], perm[v]});
  }
  std::shuffle(ps.begin(), ps.end(), g);
  if (junk)
    for (auto& [p, c] : ps)
      if (g() % 3 == 0) p = int(g() % uint32_t(n_ + 1)), c = int(g() % uint32_t(n_ + 1));
  return ps;
}

long long PowMod(long long b, long long e) {
  long long r = 1;
  for (b %= P; e; e >>= 1, b = b * b % P)
    if (e & 1) r = r * b % P;
  return r;
}

// C(a, b) mod P by Lucas, each digit's binomial as a plain product over a quotient.
long long binom_naive(long long a, long long b) {
  long long r = 1;
  for (; b; a /= P, b /= P) {
    long long x = a % P, y = b % P, num = 1, den = 1;
    if (y > x) return 0;
    for (long long i = 0; i < y; i++) num = num * ((x - i) % P) % P, den = den * ((i + 1) % P) % P;
    r = r * num % P * PowMod(den, P - 2) % P;
  }
  return r;
}

// The stress tests and closed forms run at every instruction-set level that the processor runs.
class CountAtLevel : public AtLevel {};
DRAVOK_AT_EVERY_LEVEL(CountAtLevel);

// At start the program takes the best level that the processor runs.
TEST(Count, BestLevelAtStart) {
  ASSERT_FALSE(RunnableLevels().empty());
  EXPECT_EQ(Level(), RunnableLevels().back());
  EXPECT_FALSE(UseLevel("none"));
}

TEST(Count, KnownAnswers) {
  EXPECT_EQ(Solve("1 5"), 5);
  EXPECT_EQ(Solve("1 30011"), 0);
  EXPECT_EQ(Solve("1 30012"), 1);
  EXPECT_EQ(Solve("1 2147483647"), 2147483647 % P);
  EXPECT_EQ(Solve("3 0 1 2 2 3"), 0);
  EXPECT_EQ(Solve("3 4 1 2 2 3"), 4);
  EXPECT_EQ(Solve("3 3 1 2 1 3"), 5);
  EXPECT_EQ(Solve("0 7"), 7);                  // node 0 alone, a leaf
  EXPECT_EQ(Solve("3 9 2 3 3 2"), 9);          // an unreachable cycle: node 1 alone
  EXPECT_EQ(Solve("4 4 1 2 3 2 1 4"), 6);      // 2 goes to 3; root 1 with child 4
  EXPECT_EQ(Solve("3 5 3 1 3 2"), 30);         // root 3
  EXPECT_EQ(Solve("4 5 1 2 2 2 3 3 4 4"), 5);  // self pairs: all but 1 unreachable
  EXPECT_EQ(Solve("4 3 1 2 2 3 1 3"), 5);      // 2 named as a parent, but 3 went to 1
}

// The tables themselves: the labelings with the root's label at most x number
// h(K) - h(K - x), which the straightforward recursion tabulates directly.
TEST(Count, TablesMatchPrefixTables) {
  std::mt19937 g(7);
  for (int it = 0; it < 300; it++) {
    int nn = int(g() % 40) + 1, KK = int(g() % 30);
    Pairs ps = RandomPairs(g, nn, it % 2);
    std::string in = Text(nn, KK, ps);
    ASSERT_EQ(Parse(in), "");
    std::vector<int> tab = Df_naive(root);
    Tree();
    std::vector<uint32_t> h = Df(root, KK + 1);
    for (int x = 0; x <= KK; x++)
      ASSERT_EQ(tab[x], (int(h[KK]) - int(h[KK - x]) + P) % P) << in << "x=" << x;
  }
}

// Whether each node's parents lead up to root (not into a cycle or to node 0), by walks up that
// stop at a node already settled. O(n).
std::vector<bool> reachable_naive(const std::vector<int>& parent) {
  enum { unknown, yes, no, onPath };
  std::vector<int> state(parent.size(), unknown), path;
  state[0] = no, state[size_t(root)] = yes;  // node 0 is no parent, unless it is the root
  for (size_t v = 1; v < parent.size(); v++) {
    int x = int(v);
    while (state[x] == unknown) state[x] = onPath, path.push_back(x), x = parent[x];
    const int settled = state[x] == yes ? yes : no;  // onPath: the walk closed a cycle
    for (int y : path) state[y] = settled;
    path.clear();
  }
  std::vector<bool> r(parent.size());
  for (size_t v = 0; v < parent.size(); v++) r[v] = state[v] == yes;
  return r;
}

// The renumbering against its definition, on random trees with junk pairs (cycles, repeats,
// node 0): exactly the nodes below root get an index, one each; its parent's index is its
// parent's, its subtree is the block [i, i + zs[i]) with its children's blocks side by side in
// it, and the largest child's block comes last. The larger trees are chains and near-chains,
// whole or cut by a few junk pairs into pieces and cycles of one-child nodes, walked ahead in
// segments; the last two pass a million nodes, where passes and wide breadth-first levels are
// split between two cores. Each again without node indices, to the same pp and zs.
TEST(Count, RenumberingIsHeavyLastPreorder) {
  std::mt19937 g(77);
  const size_t group = groupFrom;
  for (int it = 0; it < 2402; it++) {
    int nn = int(g() % 60) + 1, reach = 0;
    if (it >= 2000) nn = int(g() % 3000) + 60, reach = int(g() % 4);
    if (it >= 2400) nn = (1 << 20) + 777, reach = it % 2 * 3;  // passes split between cores
    groupFrom = it % 3 ? group : 1;  // children placed by block of parents, or directly
    Pairs ps = RandomPairs(g, nn, it < 2000 && it % 2, reach);
    for (int j = 0; it >= 2000 && j < it % 4; j++)
      ps[g() % ps.size()] = {int(g() % uint32_t(nn + 1)), int(g() % uint32_t(nn + 1))};
    std::string in = Text(nn, 1, ps), what = nn < 5000 ? in : "iteration " + std::to_string(it);
    ASSERT_EQ(Parse(in), "");
    const std::vector<int> parent = t;  // Tree gives t back
    const int s = Tree();
    ASSERT_TRUE(t.empty() && sons.empty()) << what;
    std::vector<int> node(size_t(s), -1), end(size_t(s), 0);
    const std::vector<bool> below = reachable_naive(parent);
    for (int v = 0; v <= nn; v++) {
      ASSERT_EQ(at[v] >= 0, below[v]) << what << " node " << v;
      if (at[v] < 0) continue;
      ASSERT_EQ(node[at[v]], -1) << what;
      node[at[v]] = v;
    }
    ASSERT_EQ(at[root], 0) << what;
    for (int i = 0; i < s; i++) {
      ASSERT_GE(node[i], 0) << what;
      ASSERT_EQ(pp[i], i ? at[parent[node[i]]] : -1) << what;
      end[i] = i + 1;  // the children of i, in index order, must tile (i, i + zs[i])
      int last = 0;
      for (int c = i + 1; c < i + zs[i]; c += zs[c]) {
        ASSERT_EQ(pp[c], i) << what;
        last = c, end[i] = c + zs[c];
      }
      ASSERT_EQ(end[i], i + zs[i]) << what;
      for (int c = i + 1; last && c < last; c += zs[c]) ASSERT_LE(zs[c], zs[last]) << what;
    }
    ASSERT_EQ(zs[0], s) << what;
    // Without node indices, as the count asks: the runs' list then sits in an array of its own
    // length where it is short, and pp in the breadth-first order's memory.
    const std::vector<int> ppw = pp, zsw = zs;
    ASSERT_EQ(Parse(in), "");
    ASSERT_EQ(Tree(false), s) << what;
    ASSERT_TRUE(pp == ppw && zs == zsw && at.empty()) << what;
  }
  groupFrom = group;
}

// The renumbering on 1, 2, 3, 4 and 8 threads: its passes and its wide breadth-first levels are
// split among them, and every array must be the one of one thread. Random trees past 2^20 nodes
// (levels of about 10^5 positions) and bushier ones (a parent among the first 1000: levels of
// hundreds of thousands), with junk pairs, each time on fresh arrays (paged in by as many
// threads). Without node indices (as the count asks) the same.
TEST(Count, SameRenumberingOnEveryThreadCount) {
  std::mt19937 g(4242);
  const int was = cores;
  for (int it = 0; it < 2; it++) {
    const int nn = (1 << 20) + 4321;
    Pairs ps = RandomPairs(g, nn, false);
    if (it == 1)
      for (auto& [p, c] : ps) p = int(g() % 1000) + 1;  // cycles among them cut some off
    for (int j = 0; j < 50; j++) ps[g() % ps.size()].first = int(g() % uint32_t(nn + 1));
    ASSERT_EQ(Parse(Text(nn, 1, ps)), "");
    const std::vector<int> tw = t, sw = sons;
    cores = 1;
    Tree();
    const std::vector<int> ppw = pp, zsw = zs, atw = at;
    for (int threads : {2, 3, 4, 8}) {
      cores = threads, t = tw, sons = sw;
      DropSpares();
      Tree();
      ASSERT_TRUE(pp == ppw && zs == zsw && at == atw) << "tree " << it << ", " << threads;
    }
    t = tw, sons = sw;
    Tree(false);
    ASSERT_TRUE(pp == ppw && zs == zsw && at.empty()) << "tree " << it << " without indices";
  }
  cores = was;
}

TEST_P(CountAtLevel, StressTinyAgainstEnumeration) {
  std::mt19937 g(12345);
  for (int it = 0; it < 20000; it++) {
    int nn = int(g() % 8), KK = int(g() % 7);
    Pairs ps = RandomPairs(g, std::max(nn, 1), it % 3 == 0);
    if (nn == 0) ps.clear();
    std::string in = Text(nn, KK, ps);
    ASSERT_EQ(Solve(in), count_naive(nn, KK, ps)) << in;
  }
}

// Light subtrees counted apart on other cores, with as many threads as a machine may give (more
// than this one has): whole root tables against the straightforward recursion on random trees
// and trees over stars (so that light subtrees pass P nodes and are lengthened where they are
// counted), forking from 2 to 64 nodes on, nested and often; and K past the tree, where the
// answer of one thread is the reference.
TEST(Count, SameTablesOnEveryThreadCount) {
  std::mt19937 g(1717);
  const int was = cores, apartWas = Counter::apartFrom;
  for (int it = 0; it < 600; it++) {
    const int nn = it < 500 ? int(g() % 400) + 2 : int(g() % 3000) + 2;
    Pairs ps = RandomPairs(g, nn, it % 4 == 0, it % 3 ? 0 : int(g() % 5) + 1);
    const int M = int(g() % 600) + 1;
    ASSERT_EQ(Parse(Text(nn, M, ps)), "");
    const std::vector<uint32_t> want = h_naive(M);
    Tree();
    for (int threads : {1, 2, 3, 4, 8}) {
      cores = threads, Counter::apartFrom = 2 << (it % 6);
      const std::vector<uint32_t> got = Df(root, M);
      ASSERT_EQ(got, want) << Text(nn, M, ps) << threads << " threads";
    }
  }
  for (int it = 0; it < 12; it++) {  // light subtrees of P nodes and more, K past the tree
    Pairs ps;
    int nn = 1;
    std::function<void(int, int)> grow = [&](int v, int depth) {  // stars, and stars of stars
      for (int c = int(g() % 4) + 1; c--;) {
        const int u = ++nn;
        ps.push_back({v, u});
        if (depth < 2 && g() % 2) grow(u, depth + 1);
        for (int l = int(g() % (it % 2 ? 40000 : 3000)); l--;) ps.push_back({u, ++nn});
      }
    };
    grow(1, 0);
    const std::string in = Text(nn, it % 3 ? 2147483647 : 1000000007, ps);
    cores = 1, Counter::apartFrom = 1 << 13;
    const int one = Solve(in);
    for (int threads : {2, 3, 4, 8}) {
      cores = threads, Counter::apartFrom = it % 2 ? 1 << 13 : 64;
      ASSERT_EQ(Solve(in), one) << "iteration " << it << ", " << nn << " nodes, " << threads
                                << " threads";
    }
  }
  // A heavy path of 200 nodes with a leaf each over a star of 70001: its batches of 64 steps
  // over some 70000 values run as a pipeline of a stage per thread (5: shares of 12 and 13
  // steps), each two blocks behind the one before, and each batch follows the one before
  // block by block. Half-way up hangs a light chain of 5000 nodes, whose zeros move the next
  // batches' first block two blocks on from the batch before's.
  Pairs ps;
  for (int v = 2; v <= 200; v++) ps.push_back({v - 1, v}), ps.push_back({v - 1, 70200 + v});
  for (int v = 201; v <= 70201; v++) ps.push_back({200, v});
  for (int v = 70401; v <= 75400; v++) ps.push_back({v == 70401 ? 100 : v - 1, v});
  const std::string in = Text(75400, 2147483647, ps);
  cores = 1;
  const int one = Solve(in);
  for (int threads : {2, 3, 5, 8}) {
    cores = threads;
    EXPECT_EQ(Solve(in), one) << threads << " threads";
  }
  cores = was, Counter::apartFrom = apartWas;
}

// Counts leave their tables, kept factors and batches to the next count on the thread: a count
// after others, of other trees at other M, on 1 to 4 threads forking from 64 nodes on, gives
// what the straightforward recursion gives, and the first tree counted again gives its answer
// again. The large tree (a heavy path of 1000 nodes over up to 63 leaves and small light subtrees
// each, K past a period) fills the kept factors at a whole period.
TEST(Count, CountsAfterOtherCountsOnTheSameThreads) {
  std::mt19937 g(4242);
  Pairs big;
  int nb = 1;
  for (int v = 0, up = 1; v < 1000; v++) {
    const int hub = ++nb;
    big.push_back({up, hub}), up = hub;
    for (int l = int(g() % 63) + 1; l--;) big.push_back({hub, ++nb});
    for (int k = int(g() % 3); k--;) {  // small light subtrees: a node over 1 to 3 leaves
      const int u = ++nb;
      big.push_back({hub, u});
      for (int l = int(g() % 3) + 1; l--;) big.push_back({u, ++nb});
    }
  }
  ASSERT_GT(nb, P);  // so that M is a whole period or more
  const std::string first = Text(nb, 1000000007, big);
  const int was = cores, apartWas = Counter::apartFrom;
  cores = 2, Counter::apartFrom = 64;
  const int want = Solve(first);
  for (int it = 0; it < 200; it++) {
    cores = 1 + it % 4, Counter::apartFrom = it % 2 ? 64 : 1 << 13;
    const int nn = int(g() % 300) + 2, M = int(g() % 700) + 1;
    const Pairs ps = RandomPairs(g, nn, false, it % 3 ? 0 : 3);
    ASSERT_EQ(Parse(Text(nn, M, ps)), "");
    const std::vector<uint32_t> want_h = h_naive(M);
    Tree();
    ASSERT_EQ(Df(root, M), want_h) << Text(nn, M, ps) << cores << " threads";
    if (it % 50 == 49) {
      ASSERT_EQ(Solve(first), want) << "after " << it + 1 << " counts";
    }
  }
  cores = was, Counter::apartFrom = apartWas;
}

// A root over stars (a star of z nodes has h(m) = sum_{i<m} i^(z-1)), some below a chain of one
// or two nodes (each a prefix sum, and one more leading 0): light children of P nodes and more,
// two of one octave of degree (multiplied as the second comes) and two of others (multiplied
// once all are in), at their own product's values, then joined to the root's, or at once at the
// root's values; against the sum taken directly. K below the tree: the larger children's tables
// are cut to K + 1 values.
TEST(Count, LightProductsAgainstStars) {
  struct Child {
    int z, chain;  // nodes in all; nodes above the star
  };
  const std::vector<Child> kids = {{6 * P, 0}, {P, 0}, {P + 3, 1}, {3 * P + 5, 0}, {5 * P + 1, 2}};
  Pairs ps;
  int nn = 1;
  for (auto [z, chain] : kids) {
    int c = 1;
    for (int k = 0; k <= chain; k++) ps.push_back({c, nn + 1}), c = ++nn;
    for (int l = chain + 1; l < z; l++) ps.push_back({c, ++nn});
  }
  const int was = cores;
  for (long long KK : {100000LL, nn - 1LL}) {
    // h[c][k]: the table at x of child c's node k levels above its star's centre.
    std::vector<std::vector<long long>> power(kids.size(), std::vector<long long>(P)), h;
    for (size_t c = 0; c < kids.size(); c++) {
      for (int r = 0; r < P; r++) power[c][size_t(r)] = PowMod(r, kids[c].z - kids[c].chain - 1);
      h.push_back(std::vector<long long>(size_t(kids[c].chain) + 1, 0));
    }
    long long want = 0;
    for (long long x = 0; x < KK; x++) {
      long long prod = 1;
      for (size_t c = 0; c < kids.size(); c++) prod = prod * h[c].back() % P;
      want = (want + prod) % P;
      for (size_t c = 0; c < kids.size(); c++) {
        for (size_t k = h[c].size() - 1; k > 0; k--) h[c][k] = (h[c][k] + h[c][k - 1]) % P;
        h[c][0] = (h[c][0] + power[c][size_t(x % P)]) % P;
      }
    }
    for (int threads : {1, 2, 3, 8})
      for (int octaves : {1 << 21, 1}) {  // the product at the root's values, or by octaves
        cores = threads, Counter::octavesFrom = octaves;
        EXPECT_EQ(Solve(Text(nn, KK, ps)), want)
            << "K=" << KK << ", " << threads << " threads, octaves from " << octaves;
      }
  }
  cores = was, Counter::octavesFrom = 1 << 21;
}

// Huge K on tiny trees: h(K) = sum_j c_j C(K, j) with c_j = (Δ^j h)(0) from enumeration, and
// C(K, j) = K (K-1) ... (K-j+1) / j! mod P, j! being invertible for j < P.
TEST_P(CountAtLevel, StressHugeKAgainstEnumeration) {
  std::mt19937 g(99);
  for (int it = 0; it < 3000; it++) {
    int nn = int(g() % 7) + 1;
    long long KK =
        it % 2 ? 30011 + g() % 100000 : std::uniform_int_distribution<long long>(P, 2147483647)(g);
    if (it < 20) KK = 2147483647 - it;
    Pairs ps = RandomPairs(g, nn, it % 3 == 0);
    std::vector<long long> h;
    for (int m = 0; m <= nn; m++) h.push_back(count_naive(nn, m, ps));
    long long want = 0, fj = 1;
    for (int j = 0; j <= nn; j++) {
      long long cj = h[0] % P, num = 1;
      for (int i = 0; i < j; i++) num = num * ((KK - i) % P) % P;
      if (j) fj = fj * j % P;
      want = (want + cj * num % P * PowMod(fj, P - 2)) % P;
      for (size_t i = 0; i + 1 < h.size(); i++) h[i] = h[i + 1] - h[i];
      h.pop_back();
    }
    ASSERT_EQ(Solve(Text(nn, KK, ps)), want) << Text(nn, KK, ps);
  }
}

TEST_P(CountAtLevel, StressMidSizeAgainstRecursion) {
  std::mt19937 g(2024);
  for (int it = 0; it < 400; it++) {
    int nn = int(g() % 300) + 1, KK = int(g() % 700);
    Pairs ps = RandomPairs(g, nn, it % 4 == 0);
    if (it % 5 == 1)  // stars and brooms: many leaf children under one node
      for (auto& [p, c] : ps) p = g() % 4 ? ps[0].first : p;
    std::string in = Text(nn, KK, ps);
    ASSERT_EQ(Parse(in), "");
    int want = Df_naive(root)[KK];
    ASSERT_EQ(Count(), want) << in;
  }
}

// Interpolation against direct tabulation on trees with s >= P, where P divides s! and K is
// not reduced: a random tree, a random caterpillar, and a random tree of 3P + 17 nodes (degree 3
// on each residue class). K just past the tree is read from the table; further out the answer,
// from the D + 1 values of K's residue class, is checked against Lagrange's formula over the
// whole table of s + 1 values, on the first and last classes and past P^2 (j = K div P >= P).
TEST(Count, InterpolationPastModulus) {
  std::mt19937 g(5);
  for (int it = 0; it < 3; it++) {
    const int nn = it < 2 ? 30100 : 3 * P + 17, KK = nn + 1 + int(g() % 400);
    Pairs ps = RandomPairs(g, nn, false);
    if (it == 1)
      for (int v = 2; v <= nn; v++) ps[v - 2] = {v % 2 ? v - 1 : std::max(1, v - 2), v};
    ASSERT_EQ(Parse(Text(nn, KK, ps)), "");
    Tree();
    const std::vector<uint32_t> whole = Df(root, nn + 1);
    const int near = int(Df(root, KK + 1)[KK]);
    ASSERT_EQ(Parse(Text(nn, KK, ps)), "");
    ASSERT_EQ(Count(), near) << "case " << it;
    const long long D = nn / P;
    for (long long far : {P * (D + 5), P * (D + 5) + P - 1, 1000000007LL, 2147483647LL,
                          std::uniform_int_distribution<long long>(P * (D + 1), 2147483647)(g)}) {
      ASSERT_EQ(Parse(Text(nn, far, ps)), "");
      ASSERT_EQ(Count(), int(Interp(whole, far))) << "case " << it << " K=" << far;
    }
  }
}

// Tables cut to z + 1 values for subtrees of z < P nodes and to P (z / P + 1) for larger ones,
// lengthened on demand, against full tables. Random and deep trees past P nodes, K below and
// above s, lengthen tables by degree and periodic ones; a root over two copies of a tree T of more
// than P nodes lengthens T's table as a polynomial of degree 1 on each residue class, checked
// against h(K) = sum_{i<K} h_T(i)^2.
TEST(Count, ShortTablesPastModulus) {
  std::mt19937 g(31);
  for (auto [nn, KK] : {std::pair{31000, 30990}, {35000, 35100}}) {
    ASSERT_EQ(Parse(Text(nn, KK, RandomPairs(g, nn, false))), "");
    const int want = int(h_naive(KK + 1)[KK]);  // before Count, which releases t
    ASSERT_EQ(Count(), want) << "n=" << nn << " K=" << KK;
  }
  // Deep shapes: a spine over a star of L leaves, its nodes read from the bottom up: u has the
  // spine as its one child, l carries a leaf too, c a node over two leaves (runs of one-child
  // nodes long enough to be summed at once, cut by leaves; steps with small light children);
  // and a deep random tree, each node's parent one of the three before it.
  auto spine = [](int L, const std::string& kinds) {
    Pairs ps;
    int top = 1, next = 2;
    for (int j = 0; j < L; j++) ps.push_back({top, next++});
    for (char c : kinds) {
      ps.push_back({next, top}), top = next++;
      if (c == 'l' || c == 'c') ps.push_back({top, next++});
      if (c == 'c') ps.push_back({next - 1, next}), ps.push_back({next - 1, next + 1}), next += 2;
    }
    for (auto& [p, c] : ps) p = next - p, c = next - c;  // the root is node 1
    return ps;
  };
  std::string u2000(2000, 'u'), mixed;
  for (int j = 0; j < 300; j++) mixed += j % 3 ? "u" : j % 2 ? "l" : "c";
  for (auto [L, kinds, KK] : std::vector<std::tuple<int, std::string, int>>{
           {5000, u2000 + "l" + u2000, 9500},
           {5000, "ulu" + std::string(2, 'u') + "l" + std::string(2500, 'u'), 8100},
           {4000, mixed + std::string(2400, 'l'), 7700},
           {P - 1, "uul" + mixed, P + 1000}}) {
    Pairs ps = spine(L, kinds);
    ASSERT_EQ(Parse(Text(int(ps.size()) + 1, KK, ps)), "");
    const int want = int(h_naive(KK + 1)[KK]);
    ASSERT_EQ(Count(), want) << "spine over " << L << " K=" << KK;
  }
  Pairs deep;
  for (int v = 2; v <= 31000; v++) deep.push_back({std::max(1, v - 1 - int(g() % 3)), v});
  ASSERT_EQ(Parse(Text(31000, 31050, deep)), "");
  const int deepWant = int(h_naive(31051)[31050]);
  ASSERT_EQ(Count(), deepWant) << "deep random";
  const int z = 30100, KK = 60150;
  Pairs one = RandomPairs(g, z, false), two;
  ASSERT_EQ(Parse(Text(z, KK, one)), "");
  std::vector<uint32_t> hT = h_naive(KK);
  long long want = 0;
  for (uint32_t x : hT) want = (want + x * x) % P;
  for (int k = 0; k < 2; k++) {  // node u of copy k is u + 1 + k z, under the new root 1
    two.push_back({1, root + 1 + k * z});
    for (auto [p, c] : one) two.push_back({p + 1 + k * z, c + 1 + k * z});
  }
  ASSERT_EQ(Parse(Text(2 * z + 1, KK, two)), "");
  EXPECT_EQ(Count(), want);
  // A random tree T of P - 1, P and P + 1 nodes (a table of values by degree, and of residue
  // classes) beside a leaf and a chain of two under the root, K below, at and above s = |T| + 4:
  // h(K) = sum_{i<K} h_T(i) i C(i, 2).
  for (int zt : {P - 1, P, P + 1}) {
    Pairs ps = RandomPairs(g, zt, false);
    ASSERT_EQ(Parse(Text(zt, 0, ps)), "");
    const int s = zt + 4;
    hT = h_naive(s + 8);
    Pairs all{{1, root + 1}, {1, zt + 2}, {1, zt + 3}, {zt + 3, zt + 4}};
    for (auto [p, c] : ps) all.push_back({p + 1, c + 1});
    for (int KB : {s - 1, s, s + 7}) {
      long long x = 0;
      for (long long i = 0; i < KB; i++) x = (x + hT[i] * (i * (i - 1) / 2 % P) % P * i) % P;
      ASSERT_EQ(Parse(Text(s, KB, all)), "");
      EXPECT_EQ(Count(), x) << "|T|=" << zt << " K=" << KB;
    }
  }
}

// C(a, b) mod P by Lucas over factorial tables, for columns of many binomials.
long long lucas_naive(long long a, long long b) {
  static std::vector<long long> f(P, 1), fi(P, 1);
  if (f[2] == 1) {
    for (int i = 1; i < P; i++) f[i] = f[i - 1] * i % P;
    for (int i = 0; i < P; i++) fi[i] = PowMod(f[i], P - 2);
  }
  long long r = 1;
  for (; b; a /= P, b /= P) {
    long long x = a % P, y = b % P;
    if (y > x) return 0;
    r = r * f[x] % P * fi[y] % P * fi[x - y] % P;
  }
  return r;
}

// e_k(0, 1, ..., K - 1) mod P, which counts a caterpillar of k spine nodes with a leaf each
// (the spine's labels x_1 < ... < x_k, each leaf any of the K - x_j larger values). As
// x (x + 1) ... (x + P - 1) = x^P - x mod P, prod_{i<P} (1 + i t) = 1 - t^(P-1), so for
// K = q P + r the product over i < K is (1 - t^(P-1))^q prod_{i<r} (1 + i t).
long long caterpillar_naive(long long k, long long K_) {
  const long long q = K_ / P, r = K_ % P;
  std::vector<long long> e(size_t(std::min(k, r)) + 1, 0);  // e_j(0..i-1), j <= min(k, r)
  e[0] = 1;
  for (long long i = 0; i < r; i++)
    for (size_t j = std::min<size_t>(e.size() - 1, size_t(i) + 1); j > 0; j--)
      e[j] = (e[j] + e[j - 1] * i) % P;
  long long x = 0;
  for (long long a = 0; a * (P - 1) <= k; a++) {
    long long j = k - a * (P - 1);
    if (j >= static_cast<long long>(e.size())) continue;
    long long term = lucas_naive(q, a) * e[size_t(j)] % P;
    x = (x + (a % 2 ? P - term : term)) % P;
  }
  return x;
}

// Closed forms for huge K and s >= P: chains C(K, n); stars; brooms (a unary run of every
// length around 1, 2, P and past it over a star, whose runs are cut into prefix sums at once);
// caterpillars e_k(0..K-1) (a heavy path of steps with a leaf each, past P nodes; the longest
// runs its batches of steps on one core and on two).
TEST_P(CountAtLevel, ClosedForms) {
  auto chain = [](int nn) {
    Pairs ps;
    for (int v = 2; v <= nn; v++) ps.push_back({v - 1, v});
    return ps;
  };
  auto star = [](int nn) {
    Pairs ps;
    for (int v = 2; v <= nn; v++) ps.push_back({1, v});
    return ps;
  };
  // A star's root takes i + 1 and each leaf any of the K - i - 1 larger values.
  auto star_naive = [](long long nn, long long KK) {
    long long per = 0, part = 0;
    for (long long i = 0; i < P; i++) {
      long long x = PowMod(i, nn - 1);
      if (i < KK % P) part = (part + x) % P;
      per = (per + x) % P;
    }
    return ((KK / P) % P * per + part) % P;
  };
  for (int nn : {30100, 70000})
    for (long long KK : {nn - 1LL, nn + 0LL, 1000000007LL, 2147483647LL}) {
      EXPECT_EQ(Solve(Text(nn, KK, chain(nn))), binom_naive(KK, nn)) << nn << " " << KK;
      EXPECT_EQ(Solve(Text(nn, KK, star(nn))), star_naive(nn, KK)) << nn << " " << KK;
    }
  for (long long KK : {5LL, 30010LL, 30011LL, 123456789LL}) {
    EXPECT_EQ(Solve(Text(200, KK, chain(200))), binom_naive(KK, 200)) << KK;
    EXPECT_EQ(Solve(Text(1000, KK, star(1000))), star_naive(1000, KK)) << KK;
  }
  // A run of k nodes 1..k over node k + 1 with L leaves: h(K) = sum_{i<K} C(K-1-i, k-1) g(i),
  // g(i) = sum_{j<i} j^L the star's table.
  for (auto [k, L, KK] : std::vector<std::tuple<int, int, long long>>{{1, 3000, 9000},
                                                                      {2, 3000, 40000},
                                                                      {3, 20000, 25000},
                                                                      {P - 1, 3000, 36000},
                                                                      {P, 3000, 33012},
                                                                      {P + 1, 4000, 90000},
                                                                      {2 * P + 5, 2000, 100000}}) {
    Pairs ps = chain(k + 1);
    for (int v = k + 2; v <= k + 1 + L; v++) ps.push_back({k + 1, v});
    long long want = 0, gi = 0;
    for (long long i = 0; i < KK; i++, gi = (gi + PowMod(i - 1, L)) % P)
      want = (want + lucas_naive(KK - 1 - i, k - 1) * gi) % P;
    EXPECT_EQ(Solve(Text(k + 1 + L, KK, ps)), want) << "run " << k << " over " << L << " K=" << KK;
  }
  for (auto [k, KK] : std::vector<std::pair<int, long long>>{{1, 7},
                                                             {2, 2147483647},
                                                             {40, 2147483647},
                                                             {P / 2, 5LL * P + 200},
                                                             {P - 1, 1000000007},
                                                             {P, 5LL * P + 200},
                                                             {P + 1, 1000000007},
                                                             {75000, 2147483647}}) {
    Pairs ps;  // spine 1..k, leaf k + j under spine node j
    for (int v = 2; v <= k; v++) ps.push_back({v - 1, v});
    for (int j = 1; j <= k; j++) ps.push_back({j, k + j});
    // The longest on one to three cores: its batches of steps run as a pipeline of two.
    const int was = cores;
    for (int threads : k > 2 * P ? std::vector<int>{1, 2, 3} : std::vector<int>{was}) {
      cores = threads;
      EXPECT_EQ(Solve(Text(2 * k, KK, ps)), caterpillar_naive(k, KK))
          << "caterpillar " << k << ", " << threads << " threads";
    }
    cores = was;
  }
  // With 0 to 3 leaves per spine node, and now and then a light child over a leaf, the steps'
  // factors differ (none, powers, light products), and each core must take its own: two cores
  // must give the answer of one.
  std::mt19937 g(31);
  const int k = 75000;
  Pairs ps;
  for (int v = 2; v <= k; v++) ps.push_back({v - 1, v});
  for (int j = 1, v = k + 1; j <= k; j++) {
    for (int l = int(g() % 4); l > 0; l--) ps.push_back({j, v++});
    if (g() % 16 == 0) ps.push_back({j, v}), ps.push_back({v, v + 1}), v += 2;
  }
  const std::string in = Text(int(ps.size()) + 1, 2147483647, ps);
  const int two = Solve(in), was = cores;
  cores = 1;
  EXPECT_EQ(Solve(in), two) << "mixed caterpillar";
  cores = was;
}

// The root's whole table at M values against the straightforward recursion, for a tree built
// to take one part of the count: the table must agree at every value, not only at K.
void ExpectWholeTable(int nn, const Pairs& ps, int M, const std::string& what) {
  ASSERT_EQ(Parse(Text(nn, M, ps)), "");
  const std::vector<uint32_t> want = h_naive(M);
  Tree();
  const std::vector<uint32_t> got = Df(root, M);
  ASSERT_EQ(got.size(), size_t(M)) << what;
  for (int m = 0; m < M; m++) ASSERT_EQ(got[m], want[m]) << what << " m=" << m;
}

// Batches of heavy-path steps (by rows over at least 4096 values, and then over residue
// classes past P, else by entries): a spine over a star, its nodes carrying 0 to 3 leaves
// (powers kept by their count, or a node with one child and no factor) and now and then a
// light child over one or two leaves (small products kept by their values). On one to eight
// threads: the factors of a batch are lengthened on every core at once, a long batch's steps
// run as a pipeline of two to four stages, and the next batch follows the last stage; with a
// light chain half-way up, from a block two on from the batch before's first.
TEST(Parts, BatchOfStepsAgainstPasses) {
  std::mt19937 g(31);
  const int was = cores;
  for (auto [star, M, threads, chain] : {std::tuple{100, 3000, 1, 0},
                                         {100, 3000, 4, 0},
                                         {5000, 9000, 2, 0},
                                         {30500, 37011, 3, 0},
                                         {30500, 37011, 8, 0},
                                         {30500, 37011, 2, 5000},
                                         {30500, 37011, 5, 5000}}) {
    cores = threads;
    const int spine = 200;
    Pairs ps;
    int nn = spine;
    for (int v = 2; v <= spine; v++) ps.push_back({v - 1, v});
    for (int l = 0; l < star; l++) ps.push_back({spine, ++nn});
    for (int v = 1; v < spine; v++) {
      for (int l = int(g() % 4); l--;) ps.push_back({v, ++nn});
      if (g() % 5 == 0) {
        const int light = ++nn;
        ps.push_back({v, light});
        for (int l = 1 + int(g() % 2); l--;) ps.push_back({light, ++nn});
      }
    }
    for (int k = 0; k < chain; k++, nn++) ps.push_back({k ? nn : spine / 2, nn + 1});
    ExpectWholeTable(nn, ps, M,
                     "spine over " + std::to_string(star) + ", M=" + std::to_string(M) + ", " +
                         std::to_string(threads) + " threads");
  }
  cores = was;
}

// A run of one-child nodes: as one convolution where its tables are long (a chain over a star
// of at least P nodes), else as passes.
TEST(Parts, RunOfOneChildNodesAgainstPasses) {
  for (auto [k, star, M] : {std::tuple{400, 30500, 40000}, {400, 300, 1500}}) {
    Pairs ps;
    for (int v = 2; v <= k; v++) ps.push_back({v - 1, v});
    int nn = k;
    for (int l = 0; l < star; l++) ps.push_back({k, ++nn});
    ExpectWholeTable(nn, ps, M, "chain of " + std::to_string(k) + " over " + std::to_string(star));
  }
}

// Light children joining their parent: small ones multiplied together while their product's
// degree stays below P, then one that would take it past P, and one of at least P nodes, each
// folded in at the parent's values. Stars keep the recursion that checks it cheap.
TEST(Parts, LightChildrenAgainstProducts) {
  auto stars = [](const std::vector<int>& sizes, int M, const std::string& what) {
    Pairs ps;
    int nn = 1;
    for (int z : sizes) {
      const int c = ++nn;
      ps.push_back({1, c});
      for (int l = 1; l < z; l++) ps.push_back({c, ++nn});
    }
    ExpectWholeTable(nn, ps, M, what);
  };
  stars({10004, 10004, 10004, 10005}, 5000, "three small, the third past P");
  stars({31000, 32000}, 4000, "one of at least P nodes");
  stars({5, 1, 300, 2, 7}, 2000, "small and single leaves");
}

// The values a table needs: z + 1 (at least 256) below P nodes, whole residue classes from P
// on, all M from P^2 on, never more than M.
TEST(Parts, ValuesNeeded) {
  EXPECT_EQ(Need(0, 1000), 256);
  EXPECT_EQ(Need(300, 1000), 301);
  EXPECT_EQ(Need(300, 100), 100);
  EXPECT_EQ(Need(P - 1, 1 << 30), P);
  EXPECT_EQ(Need(P, 1 << 30), 2 * P);
  EXPECT_EQ(Need(5LL * P + 7, 1 << 30), 6 * P);
  EXPECT_EQ(Need(5LL * P + 7, 4 * P), 4 * P);
  EXPECT_EQ(Need(1LL * P * P, 1 << 30), 1 << 30);
}

// Advise acts on the whole units inside its range and nowhere else: MADV_DONTNEED, which zeroes
// what it reaches, over ranges that start or end inside a page, and over whole pages.
TEST(Parts, AdviseOnlyWholeUnitsInside) {
  constexpr size_t page = 4096, all = 8 * page;
  for (auto [from, bytes] : {std::pair<size_t, size_t>{100, 3 * page},
                             {page, 2 * page},
                             {10, page},
                             {page - 1, 5 * page + 2}}) {
    void* m = mmap(nullptr, all, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(m, MAP_FAILED);
    auto* c = static_cast<unsigned char*>(m);
    std::fill(c, c + all, 1);
    Advise(c + from, bytes, page, MADV_DONTNEED);
    const size_t lo = (from + page - 1) / page * page,
                 hi = std::max(lo, (from + bytes) / page * page);
    for (size_t i = 0; i < all; i++)
      ASSERT_EQ(c[i], i >= lo && i < hi ? 0 : 1)
          << "from=" << from << " bytes=" << bytes << " i=" << i;
    munmap(m, all);
  }
}

// Spare tables keep their memory for the next use up to TablePool::kept entries; a larger one
// is handed back, and a table taken again has no light product and is not by rows. A pool reset
// for another count (whatever state the last one stopped in) has every table spare, none with
// waiting steps, none holding more than TablePool::reused entries.
TEST(Parts, PoolHandsBackLargeTables) {
  TablePool pool;
  const int small = pool.Get(), large = pool.Get();
  pool[small].values.resize(1000), pool[small].light = 3, pool[small].rowValues = 9;
  pool[large].values.resize(TablePool::kept + 1), pool[large].rows.resize(TablePool::kept + 1);
  pool.Free(small), pool.Free(large);
  const int a = pool.Get(), b = pool.Get();
  EXPECT_EQ(a, large);
  EXPECT_EQ(pool[a].values.capacity(), 0u);
  EXPECT_EQ(pool[a].rows.capacity(), 0u);
  EXPECT_EQ(b, small);
  EXPECT_GE(pool[b].values.capacity(), 1000u);
  EXPECT_EQ(pool[b].light, -1);
  EXPECT_EQ(pool[b].rowValues, 0);

  pool[a].values.resize(TablePool::reused + 1), pool[a].steps = {-1, 2}, pool[a].stepEntries = 7;
  pool[b].rows.resize(TablePool::reused + 1), pool.Reset();
  std::vector<int> taken;
  for (int k = 0; k < 3; k++) taken.push_back(pool.Get());
  std::sort(taken.begin(), taken.end());
  EXPECT_EQ(taken, (std::vector<int>{0, 1, 2}));  // the two in use, and one more made
  for (int x : taken) {
    EXPECT_TRUE(pool[x].steps.empty() && pool[x].stepEntries == 0) << x;
    EXPECT_LE(pool[x].values.capacity(), TablePool::reused) << x;
    EXPECT_LE(pool[x].rows.capacity(), TablePool::reused) << x;
  }
}

}  // namespace
