// Counting the labelings. For a node v let h_v(m) be the number of labelings of v's subtree
// with labels taken from m consecutive values. Giving v the i-th smallest value leaves m - 1 - i
// values above it for every child, so h_v(m) = sum_{i<m} prod_c h_c(i), a leaf has h(m) = m,
// and the answer is h_root(K). h_v is a polynomial of degree |subtree(v)| with integer
// coefficients in the binomial basis, which bounds how many values m must be tabulated.
#include <algorithm>

#include "dravok.h"

namespace {

std::vector<int> cs, ch;  // child lists: the children of v are ch[cs[v] .. cs[v + 1])
std::vector<int> sz;      // subtree sizes of the nodes reachable from root

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

// a[m] = sum_{i<m} a[i] mod P (exclusive prefix sums), O(M). Within a block of B entries the
// running sum stays below P + B * P < 2^32, so it is reduced only once per block, in a
// separate pass that vectorises.
void Prefix(uint32_t* a, int M) {
  constexpr int B = 4096;
  uint32_t acc = 0;
  for (int b = 0; b < M; b += B) {
    int e = std::min(M, b + B);
    for (int m = b; m < e; m++) {
      uint32_t x = a[m];
      a[m] = acc;
      acc += x;
    }
    for (int m = b; m < e; m++) a[m] %= P;
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
    if ((d - i) & 1) term = (P - term) % P;
    r = (r + term) % P;
  }
  return r;
}

}  // namespace

// Child lists from t (children in increasing number, as found by scanning t), then the sizes
// of the subtrees reachable from root, then each list reordered so its largest subtree comes
// first. O(n) time and memory; no recursion, so any depth works. Returns the reachable count.
int Tree() {
  cs.assign(size_t(n) + 2, 0);
  ch.assign(size_t(n), 0);
  for (int j = 1; j <= n; j++) cs[t[j] + 1]++;
  for (int v = 0; v <= n; v++) cs[v + 1] += cs[v];
  std::vector<int> at(cs.begin(), cs.end() - 1), ord, stk{root};
  for (int j = 1; j <= n; j++) ch[at[t[j]]++] = j;
  // Only nodes 1..n are children and each has one parent, so from root (no parent) the walk
  // meets every reachable node once and never enters a cycle of t.
  while (!stk.empty()) {
    int v = stk.back();
    stk.pop_back();
    ord.push_back(v);
    for (int i = cs[v]; i < cs[v + 1]; i++) stk.push_back(ch[i]);
  }
  sz.assign(size_t(n) + 1, 0);
  for (size_t i = ord.size(); i-- > 0;) {
    int v = ord[i];
    sz[v]++;
    if (i) sz[t[v]] += sz[v];
  }
  for (int v : ord) {
    auto b = ch.begin() + cs[v], e = ch.begin() + cs[v + 1];
    if (b != e)
      std::iter_swap(b, std::max_element(b, e, [](int x, int y) { return sz[x] < sz[y]; }));
  }
  return static_cast<int>(ord.size());
}

// Tables of M entries for the nodes of v's subtree, children before parents, the largest child
// first. A node's table starts as its largest child's (in place) and the others are multiplied
// into it; a table is held only while its node waits for a light child, so at most
// log2(size) + 2 tables live at once: memory O(M log n), time O(M) per non-leaf node and per
// light child. Leaf children are not tabulated: L of them multiply the product by m^L.
std::vector<uint32_t> Df(int v, int M) {
  std::vector<int> ord, stk{v}, bid(size_t(n) + 1, -1);
  while (!stk.empty()) {  // preorder with the largest child visited last
    int u = stk.back();
    stk.pop_back();
    ord.push_back(u);
    for (int i = cs[u]; i < cs[u + 1]; i++) stk.push_back(ch[i]);
  }
  std::vector<std::vector<uint32_t>> buf;
  std::vector<int> spare;
  auto get = [&] {
    if (spare.empty()) buf.emplace_back(size_t(M)), spare.push_back(int(buf.size()) - 1);
    int b = spare.back();
    spare.pop_back();
    return b;
  };
  // Reverse preorder reaches a node after all its subtree, and the largest child's subtree first.
  for (size_t i = ord.size(); i-- > 0;) {
    int u = ord[i], L = 0;
    if (u != v && cs[u] == cs[u + 1]) continue;
    for (int k = cs[u]; k < cs[u + 1]; k++) L += cs[ch[k]] == cs[ch[k] + 1];
    int b = bid[u];
    if (b < 0) {
      b = get();
      Pow(buf[b].data(), M, L);
    } else if (L) {
      int s = get();
      Pow(buf[s].data(), M, L);
      Mul(buf[b].data(), buf[s].data(), M);
      spare.push_back(s);
    }
    Prefix(buf[b].data(), M);
    if (u == v) return std::move(buf[b]);
    int& pb = bid[t[u]];
    if (pb < 0) {
      pb = b;
    } else {
      Mul(buf[pb].data(), buf[b].data(), M);
      spare.push_back(b);
    }
  }
  return {};  // not reached: v itself comes first in ord
}

// If K <= s tabulate up to K. Otherwise h_root (degree s) is interpolated from its s + 1 first
// values; and when s < P, C(K, j) = C(K mod P, j) mod P for every j <= s (Lucas), so K may be
// reduced first. Time O(n + s * min(K', s)), where K' is K so reduced.
int Count() {
  int s = Tree();
  long long x = s < P ? K % P : K;
  if (x <= s) return int(Df(root, int(x) + 1)[size_t(x)]);
  return int(Interp(Df(root, s + 1), x));
}
