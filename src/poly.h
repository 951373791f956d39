// Polynomials mod P held as tables of their values at consecutive points m = 0, 1, ...: binomials
// by Lucas's theorem, one value far out by Lagrange interpolation, and lengthening a table to
// more points, by a vanishing finite difference or by one convolution.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

// C(a, b) mod P for 0 <= a, b, by Lucas's theorem. O(log_P a).
uint32_t Binom(long long a, long long b);

// The value at x > d of the degree-d polynomial with values h[0..d], mod P; or, given a range,
// the terms of Lagrange's formula for the values h[from..to) only (the value is their sum over
// any ranges that tile [0, d]). O((to - from) log_P x).
uint32_t Interp(const std::vector<uint32_t>& h, long long x, size_t from = 0, size_t to = SIZE_MAX);

// a[m] for from <= m < to, given a[from - (D + 1) s .. from - 1], on the rule that the (D + 1)-th
// difference of step s vanishes; a[0..zl-1] are known to be 0. O((to - from) (D + 1)).
void Recur(uint32_t* a, int from, int to, int D, int s, int zl);

// a[d + 1 .. T - 1] from a[0..d], the values of a polynomial of degree d, for d < T <= P, and
// the same for b of degree db < T if given. O(T log T) by one convolution.
void Lagrange(uint32_t* a, int d, int T, uint32_t* b = nullptr, int db = 0);

// The exact cyclic convolution of a and b, both of length L = 2^k <= 2^15 with entries in
// [-(P - 1) / 2, (P - 1) / 2], by the floating-point transform that Lagrange uses.
std::vector<long long> Cyclic(const std::vector<int>& a, const std::vector<int>& b);

// x[t] = sum_{s<=t} a[s] C(k - 1 + t - s, k - 1) mod P for t < R, k >= 1: k exclusive prefix
// sums of a table that is 0 before a[0], read from entry k on. Every a[s] is below P.
// O(R log P + R^2 / P), by convolutions of length 2^16 (O(R^2) directly for R <= 2048).
std::vector<uint32_t> Sums(const uint32_t* a, int R, long long k);

// Lengthens a, the table of a subtree of z nodes as the count holds it (or of a product of
// degree z < P), whose first zl entries are 0, to `to` entries; and b likewise, if given.
void Lengthen(std::vector<uint32_t>& a, int to, long long z, int zl,
              std::vector<uint32_t>* b = nullptr, long long zb = 0, int zlb = 0);

// into[m] = into[m] a(m) mod P for from <= m < to, a(m) the values of a, the table of a subtree
// of z >= P nodes as the count holds it, lengthened as Lengthen would, without making that table.
// Each pass over into holds guard, if given: several threads may multiply into one table.
void MulLengthened(uint32_t* into, int from, int to, const std::vector<uint32_t>& a, long long z,
                   std::mutex* guard = nullptr);

// One instruction-set level's copies of the functions above (see levels.h).
struct PolyTable {
  decltype(&Binom) binom;
  decltype(&Interp) interp;
  decltype(&Recur) recur;
  decltype(&Lagrange) lagrange;
  decltype(&Cyclic) cyclic;
  decltype(&Sums) sums;
  decltype(&Lengthen) lengthen;
  decltype(&MulLengthened) mulLengthened;
};
