// Counting the labelings. For a node v let h_v(m) be the number of labelings of v's subtree
// with labels taken from m consecutive values. Giving v the i-th smallest value leaves m - 1 - i
// values above it for every child, so h_v(m) = sum_{i<m} prod_c h_c(i), a leaf has h(m) = m,
// and the answer is h_root(K). h_v is a polynomial of degree |subtree(v)| with integer
// coefficients in the binomial basis, which bounds how many values m must be tabulated.
#include <algorithm>
#include <cstring>
#include <utility>

#include "dravok.h"

namespace {

// The tree reachable from root, renumbered by Tree: at[v] is node v's index (-1 if v is not
// reachable); the node at index i has its parent at index pp[i] (-1 for the root) and zs[i]
// nodes in its subtree.
std::vector<int> at, pp, zs;

// a[m] = a[m] * b[m] mod P. Residues below P keep each product under P^2 < 2^31.
void Mul(uint32_t* __restrict a, const uint32_t* __restrict b, int M) {
  for (int m = 0; m < M; m++) a[m] = a[m] * b[m] % P;
}

// r[m] = (m mod P)^L mod P for m < M (0^0 = 1), by square-and-multiply run as whole passes over
// the first period so that each pass vectorises; the rest repeats it. O(min(M, P) log L).
void Pow(uint32_t* r, int M, int L) {
  int len = std::min(M, P);
  for (int j = 0; j < len; j++) r[j] = L ? uint32_t(j) : 1;
  for (int b = 30; b >= 0; b--) {
    if ((L >> b) <= 1) continue;  // the top bit set r[j] = j already
    for (int j = 0; j < len; j++) r[j] = r[j] * r[j] % P;
    if (L >> b & 1)
      for (int j = 0; j < len; j++) r[j] = r[j] * uint32_t(j) % P;
  }
  for (int m = len; m < M; m++) r[m] = r[m - len];
}

// W lanes of 32 bits, as wide as the target's vector registers.
#if defined(__AVX512F__)
constexpr int W = 16;
#elif defined(__AVX2__)
constexpr int W = 8;
#else
constexpr int W = 4;
#endif
typedef uint32_t Vec __attribute__((vector_size(4 * W)));

// x moved up by S lanes, zeros shifted in; and x's top lane in every lane.
template <int S, size_t... I>
Vec Up(Vec x, std::index_sequence<I...>) {
  return __builtin_shufflevector(x, Vec{}, (int(I) >= S ? int(I) - S : W)...);
}
template <int S>
Vec Up(Vec x) {
  return Up<S>(x, std::make_index_sequence<W>());
}
template <size_t... I>
Vec Top(Vec x, std::index_sequence<I...>) {
  return __builtin_shufflevector(x, x, (int(I) * 0 + W - 1)...);
}

// Inclusive prefix sums of the lanes of x (a shift by W or more is zero and compiles to
// nothing).
Vec Scan(Vec x) {
  x += Up<1>(x);
  x += Up<2>(x);
  x += Up<4>(x);
  return x + Up<8>(x);
}

// a[m] = sum_{i<m} a[i] mod P (exclusive prefix sums), O(M). Each group of W entries is
// scanned inside a register in log2 W shifted adds, so only one add per group is serial (the
// carry). Within a block of B entries nothing is reduced but the stored sums: the carry stays
// below P + B * P < 2^32.
void Prefix(uint32_t* a, int M) {
  constexpr int B = 1 << 16;
  uint32_t acc = 0;
  for (int b = 0; b < M; b += B) {
    int e = std::min(M, b + B), m = b;
    Vec carry = Vec{} + acc;
    for (; m + W <= e; m += W) {
      Vec x, s;
      std::memcpy(&x, a + m, sizeof x);
      s = Scan(x);
      Vec y = (s - x + carry) % P;  // inclusive minus own entry: exclusive
      std::memcpy(a + m, &y, sizeof y);
      carry += Top(s, std::make_index_sequence<W>());
    }
    acc = carry[0];
    for (; m < e; m++) {
      uint32_t x = a[m];
      a[m] = acc % P;
      acc += x;
    }
    acc %= P;
  }
}

// C(a, b) mod P for 0 <= a, b by Lucas's theorem over the base-P digits; O(log_P a).
uint32_t Binom(long long a, long long b) {
  static std::vector<uint32_t> f, fi;  // factorials and their inverses below P
  if (f.empty()) {
    f.assign(P, 1), fi.assign(P, 1);
    for (int i = 1; i < P; i++) f[i] = f[i - 1] * uint32_t(i) % P;
    uint32_t x = f[P - 1], y = 1;  // fi[P - 1] = f[P - 1]^(P - 2) by Fermat
    for (int e = P - 2; e; e >>= 1, x = x * x % P)
      if (e & 1) y = y * x % P;
    fi[P - 1] = y;
    for (int i = P - 1; i > 0; i--) fi[i - 1] = fi[i] * uint32_t(i) % P;
  }
  uint32_t r = 1;
  for (; a || b; a /= P, b /= P) {
    int x = int(a % P), y = int(b % P);
    if (y > x) return 0;
    r = r * f[x] % P * fi[y] % P * fi[x - y] % P;
  }
  return r;
}

// The value at x > d of the degree-d polynomial with values h[0..d], mod P, in O(d log_P x).
// Lagrange's basis at the nodes 0..d is l_i(x) = (-1)^(d-i) C(x, i) C(x-i-1, d-i): integers,
// so the sum needs no division and holds even when P divides d! (d >= P).
uint32_t Interp(const std::vector<uint32_t>& h, long long x) {
  long long d = static_cast<long long>(h.size()) - 1;
  uint32_t r = 0;
  for (long long i = 0; i <= d; i++) {
    uint32_t term = h[i] * Binom(x, i) % P * Binom(x - i - 1, d - i) % P;
    if ((d - i) & 1 && term) term = P - term;
    r += term;
    if (r >= P) r -= P;
  }
  return r;
}

// Lengthens the table a, a multiple of P long (P (D + 1) entries), to `to` entries. For m =
// r + P y with 0 <= r < P, Lucas's theorem gives C(m, j) = C(r, j mod P) C(y, j div P) mod P, so
// on each residue class r the table of a subtree of z < P^2 nodes is a polynomial in y of degree
// at most D = z div P, and its (D + 1)-th difference with step P vanishes:
// a[m] = sum_{k=1..D+1} (-1)^(k+1) C(D + 1, k) a[m - kP]. O((to - size) (D + 1)).
void Extend(std::vector<uint32_t>& a, int to) {
  int from = int(a.size()), D = from / P - 1;
  a.resize(to);
  if (D == 0) {  // periodic
    for (int m = from; m < to; m++) a[m] = a[m - P];
    return;
  }
  std::vector<uint64_t> w(size_t(D) + 2);
  for (int k = 1; k <= D + 1; k++) w[k] = k % 2 ? Binom(D + 1, k) : (P - Binom(D + 1, k)) % P;
  for (int m = from; m < to; m++) {
    uint64_t x = 0;  // below (D + 1) P^2 < 2^64
    for (int k = 1; k <= D + 1; k++) x += w[k] * a[m - k * P];
    a[m] = uint32_t(x % P);
  }
}

}  // namespace

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

// Tables for the nodes of v's subtree, children before parents, the largest child first. A
// node's table starts as its largest child's (in place) and the others are multiplied into it;
// a table is held only while its node waits for a light child, which holds at most half its
// subtree, so at most log2(size) + 4 tables live at once (with the two kept below): memory
// O(M log n). Leaf children are not tabulated: L of them multiply the product by m^L.
// Two facts shorten the tables. h_u(m) = 0 while m values cannot cover a path down from u, and
// no loop runs over the zeros a table starts with. And a subtree of z nodes needs no more than
// P (z / P + 1) entries (see Extend), so when the tree has P nodes or more, the many small
// subtrees cost P each, not M: time O(sum over tabulated nodes of min(M, size + P)).
std::vector<uint32_t> Df(int v, int M) {
  const int lo = at[v], hi = lo + zs[lo];
  std::vector<int> bid(size_t(hi - lo), -1), L(size_t(hi - lo), 0), spare, zl;
  std::vector<std::vector<uint32_t>> buf;  // zl[b]: entries [0, zl[b]) of buf[b] are 0
  // Kept from node to node, since many nodes have as many leaf children: pw is m^pl, and lt is
  // the table of a node whose ll children are all leaves, the prefix sums of m^ll.
  std::vector<uint32_t> pw, lt;
  int pl = -1, ll = -1, lz = 0;
  auto get = [&] {
    if (spare.empty()) buf.emplace_back(), zl.push_back(0), spare.push_back(int(buf.size()) - 1);
    int b = spare.back();
    spare.pop_back();
    return b;
  };
  auto need = [&](int i) {  // the entries that fix the table of index i, up to M
    long long z = zs[i];
    return z >= 1LL * P * P ? M : int(std::min<long long>(M, P * (z / P + 1)));
  };
  // Descending indices reach a node after all its subtree, and its largest child's first.
  for (int i = hi - 1; i >= lo; i--) {
    if (zs[i] == 1 && i > lo) {
      L[pp[i] - lo]++;
      continue;
    }
    int b = bid[i - lo], l = L[i - lo], len = need(i);
    if (b < 0) {  // only leaf children (or none): len depends on l alone
      if (l != ll) {
        lt.resize(len), Pow(lt.data(), len, ll = l), Prefix(lt.data(), len);
        for (lz = 0; lz < len && !lt[lz];) lz++;
      }
      b = get();
      buf[b] = lt, zl[b] = lz;
    } else {          // the largest child's table, already extended to len
      int z = zl[b];  // >= 1: every table starts with h(0) = 0
      if (l && (l != pl || int(pw.size()) < len)) pw.resize(len), Pow(pw.data(), len, pl = l);
      if (l) Mul(buf[b].data() + z, pw.data() + z, len - z);
      // Products vanish below z, so their prefix sums do up to z.
      Prefix(buf[b].data() + z, len - z), zl[b] = std::min(z + 1, len);
    }
    if (i == lo) {
      if (int(buf[b].size()) < M) Extend(buf[b], M);
      return std::move(buf[b]);
    }
    int plen = need(pp[i]), &pb = bid[pp[i] - lo];
    if (int(buf[b].size()) < plen) Extend(buf[b], plen);
    if (pb < 0) {
      pb = b;
    } else {
      int z = std::max(zl[pb], zl[b]);
      std::fill(buf[pb].begin() + zl[pb], buf[pb].begin() + z, 0), zl[pb] = z;
      Mul(buf[pb].data() + z, buf[b].data() + z, plen - z);
      spare.push_back(b);
    }
  }
  return {};  // not reached: v, at index lo, returns
}

// h_root(K) mod P for the s nodes reachable from root. When s < P, K is first reduced mod P:
// h_root = sum_{j<=s} c_j C(m, j) and C(K, j) = C(K mod P, j) mod P for j < P (Lucas). If the
// reduced K' is at most s, h_root is tabulated up to K'; otherwise up to s and interpolated.
// Time O(n + s * min(K', s)) at worst, O(n + s * min(K', P)) for trees of small subtrees.
int Count() {
  int s = Tree();
  long long x = s < P ? K % P : K;
  if (x <= s) return int(Df(root, int(x) + 1)[x]);
  return int(Interp(Df(root, s + 1), x));
}
