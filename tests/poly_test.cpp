// Polynomials mod P: the transform against the schoolbook product at its largest length,
// lengthening a table (by the recurrence and by the convolution) against direct evaluation, k
// prefix sums at once against the binomial sum, and the steps up a heavy path against plain
// prefix sums. Each at every instruction-set level that the processor runs.
#include "poly.h"

#include <gtest/gtest.h>

#include <mutex>
#include <random>

#include "at_level.h"
#include "dravok.h"
#include "kernels.h"

namespace {

class Poly : public AtLevel {};
DRAVOK_AT_EVERY_LEVEL(Poly);

// sum_j a[j] b[(i - j) mod L], exactly.
std::vector<long long> cyclic_naive(const std::vector<int>& a, const std::vector<int>& b) {
  size_t L = a.size();
  std::vector<long long> r(L, 0);
  for (size_t i = 0; i < L; i++)
    for (size_t j = 0; j < L; j++) r[(i + j) % L] += 1LL * a[i] * b[j];
  return r;
}

// Every length up to 2^12 in full: the transform runs its stages one at a time, two at a time
// from 32 apart, and compiled for 4, 8 and 16 apart, in a mix that the length's parity and size
// decide; past 2^11 the stages farther apart than a block run over the whole array.
TEST_P(Poly, CyclicIsExact) {
  std::mt19937 g(3);
  const int h = (P - 1) / 2;
  for (int L : {1, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048, 4096, 1 << 15}) {
    for (int kind = 0; kind < 3; kind++) {  // extremes of one sign, of random signs, random
      std::vector<int> a(L), b(L);
      for (int j = 0; j < L; j++) {
        a[j] = kind == 0 ? h : kind == 1 ? (g() % 2 ? h : -h) : int(g() % P) - h;
        b[j] = kind == 0 ? -h : kind == 1 ? (g() % 2 ? h : -h) : int(g() % P) - h;
      }
      if (L <= 4096) {
        ASSERT_EQ(Cyclic(a, b), cyclic_naive(a, b)) << "L=" << L << " kind=" << kind;
        continue;
      }
      std::vector<long long> r = Cyclic(a, b);  // at 2^15, a sample of the outputs
      for (int i = 0; i < L; i += 97) {
        long long want = 0;
        for (int j = 0; j < L; j++) want += 1LL * a[j] * b[(i - j + L) % L];
        ASSERT_EQ(r[i], want) << "L=" << L << " kind=" << kind << " i=" << i;
      }
    }
  }
}

// Interpolation by ranges of terms (what the cores sum apart): any tiling of [0, d] gives the
// value at x, for tables below and past P values and x past 2^31.
TEST_P(Poly, InterpolationByRanges) {
  std::mt19937 g(5);
  for (int d : {0, 1, 7, 300, P - 1, P + 20, 70000}) {
    std::vector<uint32_t> h(size_t(d) + 1);
    for (auto& v : h) v = g() % 4 ? uint32_t(g() % P) : 0;
    for (long long x : {d + 1LL, 123456789LL, 2147483647LL, 5000000000LL}) {
      const uint32_t whole = Interp(h, x);
      uint32_t sum = 0;
      for (size_t a = 0; a < h.size();) {
        const size_t b = std::min(h.size(), a + 1 + g() % 20000);
        sum = (sum + Interp(h, x, a, b)) % P, a = b;
      }
      ASSERT_EQ(sum, whole) << "d=" << d << " x=" << x;
    }
  }
}

// Tables of degree 0 to P - 1 whose first values are 0, lengthened by Lengthen's choice, by the
// recurrence and by the convolution (alone, and sharing it with a second table) to at most P
// values, then by the period; checked against
// Lagrange's formula evaluated at each value on its own (Interp), at the first and last 60 new
// values and every 97th between.
TEST_P(Poly, LengthenAgainstEvaluation) {
  std::mt19937 g(11);
  struct Case {
    int d, zeros, to;
  };
  for (Case cs : std::vector<Case>{{0, 0, 5},
                                   {1, 1, 40},
                                   {2, 0, P},
                                   {3, 0, 4},
                                   {5, 2, 100},
                                   {9, 9, 3000},
                                   {31, 4, P},
                                   {32, 0, 5000},
                                   {40, 7, 2000},
                                   {300, 0, 302},
                                   {1000, 999, 30000},
                                   {2000, 10, P},
                                   {20000, 3, 20100},
                                   {20000, 0, P + 500},
                                   {P - 2, 5, P},
                                   {P - 1, 0, 2 * P + 7}}) {
    std::vector<uint32_t> given(size_t(cs.d) + 1, 0);
    for (int m = cs.zeros; m <= cs.d; m++) given[m] = uint32_t(g() % P);
    std::vector<std::pair<int, uint32_t>> want;
    for (int m = cs.d + 1; m < cs.to; m++)
      if (m <= cs.d + 60 || m >= cs.to - 60 || m % 97 == 0)
        want.push_back({m, m % P <= cs.d ? given[m % P] : Interp(given, m % P)});
    const int T = std::min(cs.to, P);
    // Method 3 lengthens a second table of half the degree in the same transforms.
    std::vector<uint32_t> half(given.begin(), given.begin() + cs.d / 2 + 1);
    for (int method = 0; method < 4; method++) {
      std::vector<uint32_t> a = given;
      if (method == 0) Lengthen(a, cs.to, cs.d, cs.zeros);
      a.resize(cs.to);
      if (method == 1) Recur(a.data(), cs.d + 1, T, cs.d, 1, cs.zeros);
      if (method == 2 && cs.d + 1 < T) Lagrange(a.data(), cs.d, T);
      if (method == 3 && cs.d + 1 < T) {
        std::vector<uint32_t> b = half;
        b.resize(T), Lagrange(a.data(), cs.d, T, b.data(), cs.d / 2);
        for (int m = cs.d / 2 + 1; m < T; m++)
          ASSERT_EQ(b[m], m <= cs.d / 2 + 60 || m % 97 == 0 ? Interp(half, m) : b[m])
              << "d=" << cs.d / 2 << " m=" << m;
      }
      if (method) Recur(a.data(), T, cs.to, 0, P, 0);
      ASSERT_EQ(std::vector<uint32_t>(a.begin(), a.begin() + cs.d + 1), given);
      for (auto [m, v] : want)
        ASSERT_EQ(a[m], v) << "d=" << cs.d << " to=" << cs.to << " method=" << method << " m=" << m;
    }
  }
}

// x[t] = sum_{s<=t} a[s] C(k - 1 + t - s, k - 1), at the first and last 40 t and every 61st:
// lengths from 1 to past 3P (rows of P, odd and even counts; up to 2048 without the transform),
// k with k - 1 below P, a multiple of P, and past P^2 (a third base-P digit).
TEST_P(Poly, SumsAgainstBinomialSum) {
  std::mt19937 g(17);
  for (auto [R, k] : std::vector<std::pair<int, long long>>{{1, 1},
                                                            {7, 1},
                                                            {300, 2},
                                                            {P - 1, 3},
                                                            {P, 5000},
                                                            {P + 1, P},
                                                            {2 * P + 5, P + 1},
                                                            {3 * P + 2, 2 * P + 7},
                                                            {700, 1LL * P * P + 12345},
                                                            {2048, P - 1},
                                                            {2049, 1LL * P * P + 12345},
                                                            {40000, 123456789}}) {
    std::vector<uint32_t> a(static_cast<size_t>(R));
    for (auto& x : a) x = g() % 5 ? uint32_t(g() % P) : P - 1;
    std::vector<uint32_t> x = Sums(a.data(), R, k),
                          w(static_cast<size_t>(R));  // C(k - 1 + u, k - 1)
    ASSERT_EQ(int(x.size()), R);
    for (int u = 0; u < R; u++) w[u] = Binom(k - 1 + u, k - 1);
    for (int t = 0; t < R; t++) {
      if (t >= 40 && t < R - 40 && t % 61) continue;
      uint64_t want = 0;
      for (int s = 0; s <= t; s++) want = (want + uint64_t(a[s]) * w[t - s]) % P;
      ASSERT_EQ(x[t], want) << "R=" << R << " k=" << k << " t=" << t;
    }
  }
}

// r steps over the blocks that factors of G = P values are cut into (a whole one and the
// period's last, shorter one) and of G = 700, 70 and 20 (one short block of an even, odd, and
// single row count), from a carry in to a carry out, against step_naive; and over blocks that a
// table's end cuts short (lanes partly or wholly empty), whose carry out is not used.
TEST_P(Poly, StepsAgainstPrefixSums) {
  auto step_naive = [](std::vector<uint32_t>& a, const uint32_t* f, uint32_t& c) {
    for (size_t m = 0; m < a.size(); m++) {
      uint32_t x = f ? a[m] * f[m] % P : a[m];
      a[m] = c, c = (c + x) % P;
    }
  };
  std::mt19937 g(23);
  const size_t slots = static_cast<size_t>(P) + 64;
  const int last = P / Blk * Blk;  // where the period's last block starts
  for (int G : {P, 700, 70, 20}) {
    std::vector<std::pair<int, int>> blocks{
        {0, G}, {0, 1}, {0, std::min(G, 33)}};  // (start, entries)
    if (G == P) blocks = {{0, Blk}, {last, P - last}, {0, 1}, {0, 2}, {0, 33}, {last, 700}};
    for (int r : {1, 2, 32}) {
      std::vector<std::vector<uint32_t>> f(static_cast<size_t>(r));
      std::vector<std::vector<uint16_t>> fv(f.size(), std::vector<uint16_t>(slots)), fq = fv;
      for (size_t j = 0; j < f.size(); j++) {
        f[j].resize(static_cast<size_t>(G));
        for (auto& y : f[j]) y = g() % 3 ? uint32_t(g() % P) : P - 1;
        Factor(f[j].data(), G, fv[j].data(), fq[j].data());
      }
      for (auto [u, have] : blocks) {
        const int len = std::min(Blk, G - u);
        std::vector<const uint16_t*> pv, pq;
        for (size_t j = 0; j < f.size(); j++) {  // every third step without a factor
          const bool one = j % 3 == 1;
          pv.push_back(one ? nullptr : &fv[j][u]), pq.push_back(one ? nullptr : &fq[j][u]);
        }
        std::vector<uint32_t> cn(f.size(), 7);
        std::vector<uint16_t> c(f.size(), 7), w(static_cast<size_t>(Blk) + 64);
        std::vector<uint32_t> a(static_cast<size_t>(have)), got(a.size());
        for (auto& y : a) y = g() % 3 ? uint32_t(g() % P) : P - 1;
        ToRows(a.data(), have, len, w.data());
        Steps(w.data(), len, r, pv.data(), pq.data(), c.data());
        FromRows(w.data(), have, len, got.data());
        for (size_t j = 0; j < f.size(); j++) step_naive(a, j % 3 == 1 ? nullptr : &f[j][u], cn[j]);
        ASSERT_EQ(got, a) << "G=" << G << " r=" << r << " block at " << u << " of " << have;
        if (have == len) {
          ASSERT_EQ(std::vector<uint32_t>(c.begin(), c.end()), cn) << "G=" << G << " r=" << r;
        }
      }
    }
  }
}

// Tables held by residue class (subtrees of at least P nodes): each class a polynomial of
// degree D in m div P, lengthened by the convolution on each class where that pays, which must
// give what the recurrence of step P gives, up to an end that is not a whole row. Multiplied
// into another table while lengthened (by either method, from anywhere, from a table that holds
// more than its rows, with a lock or none), they must give the product of the two. The last
// table, of 2^24 entries or more, has its classes lengthened on every core.
TEST_P(Poly, ByClassAgainstRecurrence) {
  std::mt19937 g(41);
  std::mutex guard;
  for (auto [D, Dn, cut, extra] : {std::tuple{0, 50, 0, 0},
                                   {1, 40, 0, 5},
                                   {3, 200, 17, 0},
                                   {40, 300, 5000, 0},
                                   {40, 45, 3, 700},
                                   {120, 160, 1, 0},
                                   {40, 560, 0, 0}}) {
    std::vector<uint32_t> a(size_t(P) * size_t(D + 1));
    for (uint32_t& x : a) x = uint32_t(g() % P);
    const int to = P * (Dn + 1) - cut;
    std::vector<uint32_t> want = a;
    want.resize(size_t(to)), Recur(want.data(), int(a.size()), to, D, P, 0);
    const long long z = 1LL * P * D + P / 2;
    std::vector<uint32_t> held(want.begin(), want.begin() + ptrdiff_t(a.size()) + extra);
    Lengthen(a, to, z, 0);
    ASSERT_EQ(a.size(), want.size());
    for (size_t m = 0; m < want.size(); m++) ASSERT_EQ(a[m], want[m]) << "D=" << D << " m=" << m;
    for (int from : {P * D + 7, int(held.size()) + 1, to - 2}) {
      std::vector<uint32_t> into(want.size());
      for (uint32_t& x : into) x = uint32_t(g() % P);
      const std::vector<uint32_t> before = into;
      MulLengthened(into.data(), from, to, held, z, from % 2 ? &guard : nullptr);
      for (size_t m = 0; m < want.size(); m++)
        ASSERT_EQ(into[m], m < size_t(from) ? before[m] : before[m] * want[m] % P)
            << "D=" << D << " to=" << to << " from=" << from << " m=" << m;
    }
  }
}

// Classes of degree P or more (a subtree of P^2 nodes, which no test can hold) take the
// recurrence, whose weights C(D + 1, k) come from Lucas's theorem: on one class, a polynomial
// of such a degree given in the binomial basis, against its values.
TEST_P(Poly, RecurrencePastDegreeP) {
  for (int D : {P - 1, P, P + 5}) {
    const std::vector<std::pair<int, uint32_t>> terms = {{D, 3}, {P - 1, 5}, {7, 11}, {0, 2}};
    auto value = [&](long long j) {
      uint64_t v = 0;
      for (auto [k, c] : terms) v += uint64_t(c) * Binom(j, k);
      return uint32_t(v % P);
    };
    std::vector<uint32_t> a(size_t(D) + 200);
    for (int j = 0; j <= D; j++) a[size_t(j)] = value(j);
    Recur(a.data(), D + 1, int(a.size()), D, 1, 0);
    for (int j = D + 1; j < int(a.size()); j++) ASSERT_EQ(a[size_t(j)], value(j)) << "D=" << D;
  }
}

}  // namespace
