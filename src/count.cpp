// Counting the labelings. For a node v let h_v(m) be the number of labelings of v's subtree
// with labels taken from m consecutive values. Giving v the i-th smallest value leaves m - 1 - i
// values above it for every child, so h_v(m) = sum_{i<m} prod_c h_c(i), a leaf has h(m) = m,
// and the answer is h_root(K). h_v is a polynomial of degree |subtree(v)| with integer
// coefficients in the binomial basis, which bounds how many values m must be tabulated.
#include <algorithm>
#include <utility>

#include "dravok.h"
#include "kernels.h"
#include "poly.h"
#include "tree.h"

// Tables for the nodes of v's subtree, children before parents, the largest child first. A
// node's table starts as its largest child's (in place) and the others are multiplied into it;
// a node holds its table and the product of its small light children only while it waits for
// a light child, which holds at most half its subtree, so at most 2 log2(size) + 4 tables live
// at once (with the two kept below): memory O(M log n). Leaf children are not tabulated: L of
// them multiply the product by m^L.
// Two facts shorten the tables. h_u(m) = 0 while m values cannot cover a path down from u, and
// no loop runs over the zeros a table starts with. And a subtree of z nodes needs only z + 1
// values if z < P, P (z div P + 1) otherwise (see Lengthen); a table grows only when its parent
// needs more. Time O(sum over tabulated nodes u of min(M, z_u + 1 + P [z_u >= P])) for the
// passes, plus the lengthening of each child's table to its parent's: per child, the cheaper of
// new values times degree and a convolution of O(T log T) for T = min(M, P, parent's values).
std::vector<uint32_t> Df(int v, int M) {
  const int lo = at[v], hi = lo + zs[lo];
  // Per index: its table under way (from its largest child) and its leaf children. Per table
  // b: buf[b] is 0 on [0, zl[b]), a polynomial of degree dg[b] (a subtree's size, or the sum of
  // a product's), and lp[b] holds the product of its node's small light children, if any.
  std::vector<int> bid, L, spare, zl, dg, lp;
  Huge(bid, size_t(hi - lo), -1), Huge(L, size_t(hi - lo), 0);
  std::vector<std::vector<uint32_t>> buf;
  // Kept from node to node, since many nodes have as many leaf children: pw is m^pl, and lt is
  // the table of a node whose ll children are all leaves, the prefix sums of m^ll.
  std::vector<uint32_t> pw, lt;
  int pl = -1, ll = -1, lz = 0;
  auto get = [&] {
    if (spare.empty()) {
      buf.emplace_back(), zl.push_back(0), dg.push_back(0), lp.push_back(-1);
      spare.push_back(int(buf.size()) - 1);
    }
    int b = spare.back();
    spare.pop_back();
    return lp[b] = -1, b;
  };
  // The entries that fix a table of a subtree of z nodes (or a product of degree z), up to M;
  // at least 256, as passes over so few cost less than lengthening the table later (measured:
  // 64 and 1024 were slower on random trees of 10^6 nodes).
  auto need = [&](long long z) {
    z = z < P ? std::max(z + 1, 256LL) : z < 1LL * P * P ? P * (z / P + 1) : M;
    return int(std::min<long long>(M, z));
  };
  auto fold = [&](int into, int b, int len) {  // buf[into] *= buf[b] on [0, len); b is spare
    int z = std::max(zl[into], zl[b]);
    std::fill(buf[into].begin() + zl[into], buf[into].begin() + z, 0), zl[into] = z;
    Mul(buf[into].data() + z, buf[b].data() + z, len - z);
    spare.push_back(b);
  };
  // Descending indices reach a node after all its subtree, and its largest child's first.
  for (int i = hi - 1; i >= lo; i--) {
    if (zs[i] == 1 && i > lo) {
      L[pp[i] - lo]++;
      continue;
    }
    int b = bid[i - lo], l = L[i - lo], len = need(zs[i]);
    if (b < 0) {  // only leaf children (or none): len depends on l alone
      if (l != ll) {
        lt.resize(len), Pow(lt.data(), len, ll = l), Prefix(lt.data(), len);
        for (lz = 0; lz < len && !lt[lz];) lz++;
      }
      b = get();
      buf[b] = lt, zl[b] = lz;
    } else {  // the largest child's table, lengthened here with the light product
      int q = lp[b];
      if (q < 0) Lengthen(buf[b], len, dg[b], zl[b]);
      if (q >= 0) Lengthen(buf[b], len, dg[b], zl[b], &buf[q], dg[q], zl[q]), fold(b, q, len);
      lp[b] = -1;
      int z = zl[b];  // >= 1: every table starts with h(0) = 0
      if (l && (l != pl || int(pw.size()) < len)) pw.resize(len), Pow(pw.data(), len, pl = l);
      if (l) Mul(buf[b].data() + z, pw.data() + z, len - z);
      // Products vanish below z, so their prefix sums do up to z.
      Prefix(buf[b].data() + z, len - z), zl[b] = std::min(z + 1, len);
    }
    dg[b] = zs[i];
    if (i == lo) {
      Lengthen(buf[b], M, zs[i], zl[b]);
      return std::move(buf[b]);
    }
    // The largest child comes first and its table becomes the parent's. Small light children
    // are multiplied together at as many values as their product's degree needs, so that the
    // product is lengthened to the parent's values once, not each of them; two tables that are
    // lengthened to the same values are lengthened together.
    const int z = zs[i], pb = bid[pp[i] - lo], q = pb < 0 ? -1 : lp[pb];
    if (pb < 0) {
      bid[pp[i] - lo] = b;
    } else if (z < P && (q < 0 || dg[q] + z < P)) {
      if (q < 0) {
        lp[pb] = b;
      } else {
        int len2 = need(dg[q] + z);
        Lengthen(buf[q], len2, dg[q], zl[q], &buf[b], z, zl[b]), fold(q, b, len2), dg[q] += z;
      }
    } else {
      int plen = need(zs[pp[i]]);
      Lengthen(buf[pb], plen, dg[pb], zl[pb], &buf[b], z, zl[b]), fold(pb, b, plen);
    }
  }
  return {};  // not reached: v, at index lo, returns
}

// h_root(K) mod P for the s nodes reachable from root. When s < P, K is first reduced mod P:
// h_root = sum_{j<=s} c_j C(m, j) and C(K, j) = C(K mod P, j) mod P for j < P (Lucas). If the
// reduced K' is at most s, h_root is tabulated up to K'; otherwise up to s and interpolated.
// Time O(n + s * min(K', s)) at worst; Df says what the tables really cost.
int Count() {
  int s = Tree();
  long long x = s < P ? K % P : K;
  if (x <= s) return int(Df(root, int(x) + 1)[x]);
  return int(Interp(Df(root, s + 1), x));
}
