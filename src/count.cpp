// Counting the labelings. For a node v let h_v(m) be the number of labelings of v's subtree
// with labels taken from m consecutive values. Giving v the i-th smallest value leaves m - 1 - i
// values above it for every child, so h_v(m) = sum_{i<m} prod_c h_c(i), a leaf has h(m) = m,
// and the answer is h_root(K). h_v is a polynomial of degree |subtree(v)| with integer
// coefficients in the binomial basis, which bounds how many values m must be tabulated.
#include <algorithm>
#include <atomic>
#include <map>
#include <thread>
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
// each block in 16 bits by rows in the first-level cache (see flush), and the table stays by
// rows for the next batch while its length holds. A run of k
// nodes with one child each is k prefix sums at once, one convolution (Sums), where that costs
// less than k passes. Time O(sum over tabulated nodes u of min(M, z_u + 1 + P [z_u >= P])) at
// worst for the passes, plus the lengthening of each table to its parent's: per table, the
// cheaper of new values times degree and a convolution of O(T log T), T = min(M, P, values).
namespace {

// A factor's entries from u on; none (a product by 1) stays none.
const uint16_t* At(const uint16_t* g, int u) { return g ? g + u : nullptr; }

}  // namespace

std::vector<uint32_t> Df(int v, int M) {
  // Steps that wait at most, and the entries their light products may hold (so that waiting
  // steps add O(M) per table alive); the slots of a factor by rows.
  constexpr int R = 64, Q = P + 64;
  constexpr size_t E = 1 << 18;
  const int lo = at[v], hi = lo + zs[lo];
  // Per index: its table under way (from its largest child) and its leaf children. Per table
  // b: buf[b] is 0 on [0, zl[b]) and a polynomial of degree dg[b]; it becomes node nd[b]'s table
  // once the steps st[b] (pairs: a light product's table or -1, leaf children) are run, lowest
  // node first; lp[b] holds the product of nd[b]'s parent's small light children, if any.
  std::vector<int> bid, L, spare, zl, dg, lp, nd;
  Huge(bid, size_t(hi - lo), -1), Huge(L, size_t(hi - lo), 0);
  std::vector<std::vector<uint32_t>> buf, pw(64);  // pw[l]: m^l for l < 64, at up to P values
  std::vector<uint32_t> pbig;                      // m^l for a larger l
  std::vector<std::vector<int>> st;
  std::vector<size_t> pe;  // pe[b]: entries that the light products in st[b] hold
  std::vector<int> tb;     // tb[b]: the values of st[b]'s first step
  // A table that steps ran over by rows stays so while the next batch has as many values
  // (rv[b] > 0, entries from rb[b] on; period p's blocks from slot p (G + 64) of rw[b]).
  std::vector<int> rv, rb;
  std::vector<std::vector<uint16_t>> rw;
  // For flush: factors in 16 bits kept by their first values (memo) and powers m^l by l (ph,
  // at pn[l] values), and room for the others.
  std::map<std::vector<uint32_t>, std::vector<uint16_t>> memo;
  std::vector<std::vector<uint16_t>> ph(64), hs;
  std::vector<int> pn(64, 0), sv;
  // And its scratch, kept from call to call: each step's factor and its key, its sum so far (c,
  // and c2 for the steps on the second core), its factor at the block under way (bv, bq; bv2,
  // bq2).
  std::vector<const uint16_t*> gv, gq, bv, bq, bv2, bq2;
  std::vector<std::vector<uint32_t>> key;
  std::vector<uint16_t> c, c2;
  // Kept from node to node, since many nodes have as many leaf children: lt is the table of a
  // node whose ll children are all leaves, the prefix sums of m^ll.
  std::vector<uint32_t> lt;
  int ll = -1, lz = 0, ut = hi;  // ut: the top of the run of one-child nodes last measured
  auto get = [&] {
    if (spare.empty()) {
      buf.emplace_back(), st.emplace_back();
      zl.push_back(0), dg.push_back(0), lp.push_back(-1), nd.push_back(-1), pe.push_back(0);
      tb.push_back(0), rv.push_back(0), rb.push_back(0), rw.emplace_back();
      spare.push_back(int(buf.size()) - 1);
    }
    int b = spare.back();
    spare.pop_back();
    return lp[b] = -1, rv[b] = 0, b;
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
  // m^l at G <= P values, kept for l < 64.
  auto power = [&](int l, int G) {
    std::vector<uint32_t>& p = l < 64 ? pw[l] : pbig;
    if (l >= 64 || int(p.size()) < G) p.resize(G), Pow(p.data(), G, l);
    return p.data();
  };
  // The blocks of a table of T values by rows: from entry m, len entries (have of them below T)
  // at slot o of rw; they lie within periods of G = min(T, P) values, as the factors' blocks do.
  auto blocks = [&](int m, int T, auto&& f) {
    const int G = std::min(T, P);
    for (int len; m < T; m += len) {
      const int u = m % G;
      len = std::min(Blk, G - u), f(m, u, std::min(len, T - m), len, m / G * (G + 64) + u);
    }
  };
  // buf[b] in entries again, if it was left by rows.
  auto plain = [&](int b) {
    if (!rv[b]) return;
    uint32_t* f = buf[b].data();
    blocks(rb[b], rv[b], [&](int m, int, int have, int len, int o) {
      FromRows(rw[b].data() + o, have, len, f + m);
    });
    rv[b] = 0;
  };
  // Runs the steps waiting on b: buf[b] becomes nd[b]'s table, at need(zs[nd[b]]) values, in
  // entries unless it may stay by rows (stay) for the next batch.
  auto flush = [&](int b, bool stay = false) {
    if (st[b].empty()) return stay ? void() : plain(b);
    std::vector<int>& s = sv;  // taken, as get() may move st's entries
    s.swap(st[b]), pe[b] = 0;
    const int T = need(zs[nd[b]]), G = std::min(T, P), r = int(s.size()) / 2, z0 = zl[b];
    // By rows the steps cost about a quarter of a pass each, but each block is laid out twice
    // and each factor not kept once (about five passes over its G values): else the steps run
    // one by one, in 32 bits. Factors that can be kept are counted as kept.
    int fresh = 0;
    for (size_t j = 0, seen = 0; j < size_t(r) && T - z0 >= 2 * Blk; j++) {
      const int x = s[2 * j], l = s[2 * j + 1];
      if (x < 0 && l && l < 64 && pn[l] != G && !(seen >> l & 1)) fresh++, seen |= 1ULL << l;
      fresh += x >= 0 ? G < P || dg[x] >= 16 : l >= 64;
    }
    const bool kept = rv[b] == T;  // by rows already: no layout to pay
    const bool rows = T - z0 >= 2 * Blk && r >= 4 &&
                      5LL * fresh * G + 2LL * (T - z0) * !kept < 3LL * r * (T - z0) / 4;
    if (!(rows && kept)) plain(b);

    // Each step's other factor at G values (beyond, its period): a light product lengthened
    // (two at a time), times m^l for l leaf children. By rows it is held in 16 bits with its
    // Shoup quotients (gv[j], gq[j]); small products repeat (a node over one leaf, over two,
    // ...), so at a whole period they are kept by their first values and l, as powers are by l.
    if (rows) gv.resize(size_t(r)), gq.resize(size_t(r)), key.resize(size_t(r));
    for (size_t j = 0; rows && j < size_t(r); j++) {
      const int x = s[2 * j];
      key[j].clear();
      if (x < 0 || G < P || dg[x] >= 16) continue;
      key[j].assign(buf[x].begin(), buf[x].begin() + dg[x] + 1), key[j].push_back(s[2 * j + 1]);
      if (auto it = memo.find(key[j]); it != memo.end())
        gv[j] = it->second.data(), gq[j] = gv[j] + Q, spare.push_back(x), s[2 * j] = -2;
    }
    int q = T <= P && !rv[b] ? b : -1;  // b is lengthened to T, the others to G: together if T = G
    if (q < 0 && !rv[b]) Lengthen(buf[b], T, dg[b], z0);
    for (size_t j = 0; j < size_t(r); j++) {
      int x = s[2 * j];
      if (x >= 0 && q < 0)
        q = x;
      else if (x >= 0)
        Lengthen(buf[q], G, dg[q], zl[q], &buf[x], dg[x], zl[x]), q = -1;
    }
    if (q >= 0) Lengthen(buf[q], G, dg[q], zl[q]);
    uint32_t* f = buf[b].data();
    if (rows && hs.size() < size_t(r)) hs.resize(size_t(r));
    int z = z0;
    for (size_t j = 0; j < size_t(r); j++) {
      const int x = s[2 * j], l = s[2 * j + 1], y = z;
      // A product vanishes where a factor does (every table at 0), a prefix sum one value on.
      z = std::max(z, x == -2 ? 1 : x >= 0 ? std::max(zl[x], int(l > 0)) : int(l > 0)) + 1;
      if (x == -2) continue;
      if (x >= 0 && l) Mul(buf[x].data(), power(l, G), G);
      const uint32_t* g = x >= 0 ? buf[x].data() : l ? power(l, G) : nullptr;
      if (!rows) {  // f *= g (of period P; none for a node with one child), prefix sums
        for (int m = y, e; g && m < T; m = e)
          e = std::min(T, (m / P + 1) * P), Mul(f + m, g + m % P, e - m);
        if (y < T) Prefix(f + y, T - y);
        continue;
      }
      if (!g) {  // a node with one child: a prefix sum, no product (half of a deep random tree's)
        gv[j] = gq[j] = nullptr;
        continue;
      }
      if (x < 0 && l < 64 && pn[l] != G)  // kept by l; the layout by rows depends on G
        ph[l].resize(2 * size_t(Q)), Factor(g, G, ph[l].data(), ph[l].data() + Q), pn[l] = G;
      std::vector<uint16_t>& h = x < 0 && l < 64 ? ph[l] : hs[j];
      if (&h == &hs[j]) h.resize(2 * size_t(Q)), Factor(g, G, h.data(), h.data() + Q);
      gv[j] = h.data(), gq[j] = gv[j] + Q;
      // The first 128 kept hold 99% of the lookups on a deep random tree of 4*10^5 nodes.
      if (!key[j].empty() && memo.size() < 128) memo.emplace(key[j], h);
    }
    // Block by block, each held by rows in 16 bits while every step runs over it in the
    // first-level cache. Entries below z0 are 0, and stay 0.
    if (rows) c.assign(size_t(r), 0), bv.resize(size_t(r)), bq.resize(size_t(r));
    if (rows && !kept)
      rw[b].resize(size_t((T + G - 1) / G) * (G + 64)), rv[b] = T, rb[b] = z0 - z0 % G % Blk;
    // A long batch runs on two cores at once: here the first r1 steps over each block, there
    // the others over the blocks done here, a block behind, with carries of their own.
    const int from = z0 - z0 % G % Blk;
    const int r1 = cores > 1 && rows && r >= 8 && 1LL * r * (T - from) >= 1LL << 22 ? r / 2 : r;
    std::atomic<int> done{0};
    auto rest = [&] {
      int i = 0;
      blocks(from, T, [&](int, int u, int, int len, int o) {
        while (done.load(std::memory_order_acquire) <= i) std::this_thread::yield();
        for (size_t j = 0; j < size_t(r - r1); j++)
          bv2[j] = At(gv[size_t(r1) + j], u), bq2[j] = At(gq[size_t(r1) + j], u);
        Steps(rw[b].data() + o, len, r - r1, bv2.data(), bq2.data(), c2.data()), i++;
      });
    };
    bool two = false;
    if (r1 < r) {
      c2.assign(size_t(r - r1), 0), bv2.resize(size_t(r - r1)), bq2.resize(size_t(r - r1));
      two = Aside(rest);
    }
    if (rows) {
      blocks(from, T, [&](int m, int u, int have, int len, int o) {
        uint16_t* w = rw[b].data() + o;
        if (!kept) ToRows(f + m, have, len, w);
        for (size_t j = 0; j < size_t(r1); j++) bv[j] = At(gv[j], u), bq[j] = At(gq[j], u);
        Steps(w, len, r1, bv.data(), bq.data(), c.data());
        done.fetch_add(1, std::memory_order_release);
      });
    }
    if (two) {
      Rejoin();
    } else if (r1 < r) {
      rest();  // no thread to be had: the other steps run here
    }
    if (!stay) plain(b);
    for (size_t j = 0; j < size_t(r); j++)
      if (s[2 * j] >= 0) spare.push_back(s[2 * j]);
    s.clear(), dg[b] = zs[nd[b]], zl[b] = std::min(z, T);
  };
  // Node i and the k - 1 nodes above it have one child each: the top's table is k prefix sums
  // of i's child's table b, by one convolution.
  auto run = [&](int b, int i, int k) {
    flush(b);
    const int top = i - k + 1, T = need(zs[top]), z0 = zl[b], x = T - z0 - k;
    if (x > 0) Lengthen(buf[b], T - k, dg[b], z0);
    std::vector<uint32_t> y = Sums(buf[b].data() + z0, x, k);
    buf[b].assign(T, 0), std::copy(y.begin(), y.end(), buf[b].begin() + std::min(T, z0 + k));
    zl[b] = std::min(T, z0 + k), dg[b] = zs[top];
  };
  // Whether that convolution costs less than the k passes, in units of a pass's entry: a
  // transform of 2^16 for every P values and one more, and the sums of rows that follow.
  auto cheaper = [&](int b, int i, int k) {
    const int z0 = zl[b] + int(st[b].size()) / 2, x = need(zs[i - k + 1]) - z0 - k;
    double rows = x > 0 ? (x + P - 1) / P : 0, conv = (rows + 1) * 4e6 + 2 * rows * rows * P;
    double pass = 0;
    for (int j = 0; j < k && pass <= conv; j++) pass += std::max(0, need(zs[i - j]) - z0 - j - 1);
    return pass > conv;
  };
  // Descending indices reach a node after all its subtree, and its largest child's first.
  for (int i = hi - 1; i >= lo; i--) {
    if (zs[i] == 1 && i > lo) {
      L[pp[i] - lo]++;
      continue;
    }
    int b = bid[i - lo], l = L[i - lo];
    if (b < 0) {  // only leaf children (or none): the table depends on l alone
      const int len = need(zs[i]);
      if (l != ll) {
        lt.resize(len), Pow(lt.data(), len, ll = l), Prefix(lt.data(), len);
        for (lz = 0; lz < len && !lt[lz];) lz++;
      }
      b = get();
      buf[b] = lt, zl[b] = lz, dg[b] = zs[i];
    } else {
      int k = 0;  // a run of one-child nodes from i up, measured once from its lowest node
      if (i < ut && zs[i] == zs[i + 1] + 1) {
        while (i - k >= lo && zs[i - k] == zs[i - k + 1] + 1) k++;
        ut = i - k + 1;
        if (!cheaper(b, i, k)) k = 0;
      }
      if (k) {
        run(b, i, k), i -= k - 1;
      } else {
        // A batch runs every step at its top's values: it grows while they stay within a
        // quarter of its first's (on a bushy tree a table doubles from node to node), and runs
        // as soon as the parent's step could not join it.
        if (st[b].empty()) tb[b] = need(zs[i]);
        if (lp[b] >= 0) pe[b] += buf[lp[b]].size();
        st[b].push_back(lp[b]), st[b].push_back(l), lp[b] = -1, nd[b] = i;
        if (int(st[b].size()) == 2 * R || pe[b] > E || i == lo ||
            4LL * need(zs[pp[i]]) > 5LL * tb[b])
          flush(b, true);
      }
    }
    nd[b] = i;
    if (i == lo) {
      flush(b), Lengthen(buf[b], M, zs[i], zl[b]);
      return std::move(buf[b]);
    }
    // The largest child comes first and its table becomes the parent's, steps and all. Small
    // light children are multiplied together at as many values as their product's degree
    // needs, so that the product is lengthened to the parent's values once, not each of them;
    // two tables that are lengthened to the same values are lengthened together.
    const int z = zs[i], pb = bid[pp[i] - lo], q = pb < 0 ? -1 : lp[pb];
    if (pb < 0) {
      bid[pp[i] - lo] = b;
    } else if (z < P && (q < 0 || dg[q] + z < P)) {
      flush(b);
      if (q < 0) {
        lp[pb] = b;
      } else {
        int len2 = need(dg[q] + z);
        Lengthen(buf[q], len2, dg[q], zl[q], &buf[b], z, zl[b]), fold(q, b, len2), dg[q] += z;
      }
    } else {  // a large light child: into the largest child's table at the parent's values
      flush(b), flush(pb);
      int plen = need(zs[pp[i]]);
      Lengthen(buf[pb], plen, dg[pb], zl[pb], &buf[b], z, zl[b]), fold(pb, b, plen), dg[pb] += z;
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
