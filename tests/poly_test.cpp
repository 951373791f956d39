// Polynomials mod P: the transform against the schoolbook product at its largest length, and
// lengthening a table (by the recurrence and by the convolution) against direct evaluation.
#include "poly.h"

#include <gtest/gtest.h>

#include <random>

#include "dravok.h"

namespace {

// sum_j a[j] b[(i - j) mod L], exactly.
std::vector<long long> cyclic_naive(const std::vector<int>& a, const std::vector<int>& b) {
  size_t L = a.size();
  std::vector<long long> r(L, 0);
  for (size_t i = 0; i < L; i++)
    for (size_t j = 0; j < L; j++) r[(i + j) % L] += 1LL * a[i] * b[j];
  return r;
}

TEST(Poly, CyclicIsExact) {
  std::mt19937 g(3);
  const int h = (P - 1) / 2;
  for (int L : {1, 2, 8, 64, 1024, 1 << 15}) {
    for (int kind = 0; kind < 3; kind++) {  // extremes of one sign, of random signs, random
      std::vector<int> a(L), b(L);
      for (int j = 0; j < L; j++) {
        a[j] = kind == 0 ? h : kind == 1 ? (g() % 2 ? h : -h) : int(g() % P) - h;
        b[j] = kind == 0 ? -h : kind == 1 ? (g() % 2 ? h : -h) : int(g() % P) - h;
      }
      if (L <= 1024) {
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

// Tables of degree 0 to P - 1 whose first values are 0, lengthened by Lengthen's choice, by the
// recurrence and by the convolution (alone, and sharing it with a second table) to at most P
// values, then by the period; checked against
// Lagrange's formula evaluated at each value on its own (Interp), at the first and last 60 new
// values and every 97th between.
TEST(Poly, LengthenAgainstEvaluation) {
  std::mt19937 g(11);
  struct Case {
    int d, zeros, to;
  };
  for (Case cs : std::vector<Case>{{0, 0, 5},
                                   {1, 1, 40},
                                   {3, 0, 4},
                                   {5, 2, 100},
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

}  // namespace
