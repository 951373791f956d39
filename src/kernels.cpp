// Vector kernels over tables of residues mod P (see kernels.h). Residues below P keep each
// product under P^2 < 2^31, so the lanes stay 32 bits wide.
#include "kernels.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "dravok.h"

namespace {

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

}  // namespace

// O(M).
void Mul(uint32_t* __restrict a, const uint32_t* __restrict b, int M) {
  for (int m = 0; m < M; m++) a[m] = a[m] * b[m] % P;
}

// Square-and-multiply run as whole passes over the first period so that each pass vectorises;
// the rest repeats it. O(M + min(M, P) log L).
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

// O(M). Each group of W entries is scanned inside a register in log2 W shifted adds, so only one
// add per group is serial (the carry). Within a block of B entries nothing is reduced but the
// stored sums: the carry stays below P + B * P < 2^32.
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
