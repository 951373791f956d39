// Vector kernels over tables of residues mod P (see kernels.h). Residues below P keep each
// product under P^2 < 2^31, so the lanes stay 32 bits wide. Compiled once per instruction-set
// level, into that level's namespace (see levels.h): the lanes are as wide as its registers.
#include "kernels.h"

#if defined(__SSE2__)
#include <immintrin.h>  // the 16-bit high products and lane shifts below
#endif

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <utility>
#include <vector>

#include "dravok.h"

#ifndef DRAVOK_ISA  // set by the build: the level's namespace
#define DRAVOK_ISA base
#endif

namespace DRAVOK_ISA {

namespace {

// __builtin_shufflevector's lanes of a and b (index W or more: b's), where the compiler has it
// (clang, g++ 12 on); g++ 11's __builtin_shuffle otherwise, whose mask is a vector of lanes.
template <class V, int... I>
V Shuffle(V a, V b) {
#if defined(__clang__) || __GNUC__ >= 12
  return __builtin_shufflevector(a, b, I...);
#else
  using Lane = std::remove_cv_t<std::remove_reference_t<decltype(a[0])> >;
  return __builtin_shuffle(a, b, V{Lane(I)...});
#endif
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
  return Shuffle<Vec, (int(I) >= S ? int(I) - S : W)...>(x, Vec{});
}
template <int S>
Vec Up(Vec x) {
  return Up<S>(x, std::make_index_sequence<W>());
}
template <size_t... I>
Vec Top(Vec x, std::index_sequence<I...>) {
  return Shuffle<Vec, (int(I) * 0 + W - 1)...>(x, x);
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

namespace {

// 2W lanes of 16 bits; residues below P < 2^15 leave a bit for the sum of two.
constexpr int H = 2 * W;
typedef uint16_t Hec __attribute__((vector_size(2 * H)));
typedef uint32_t Hec2 __attribute__((vector_size(4 * H)));

// The high halves of the lanes' 32-bit products, and x moved up by S lanes inside each group of
// 8 (zeros shifted in): one instruction each where the target has it.
#if defined(__AVX512BW__)
Hec Hi(Hec a, Hec b) { return Hec(_mm512_mulhi_epu16(__m512i(a), __m512i(b))); }
template <int S>
Hec In(Hec x) {
  return Hec(_mm512_bslli_epi128(__m512i(x), 2 * S));
}
#elif defined(__AVX2__) && !defined(__AVX512F__)
Hec Hi(Hec a, Hec b) { return Hec(_mm256_mulhi_epu16(__m256i(a), __m256i(b))); }
template <int S>
Hec In(Hec x) {
  return Hec(_mm256_bslli_epi128(__m256i(x), 2 * S));
}
#elif defined(__SSE2__) && !defined(__AVX2__)
Hec Hi(Hec a, Hec b) { return Hec(_mm_mulhi_epu16(__m128i(a), __m128i(b))); }
template <int S>
Hec In(Hec x) {
  return Hec(_mm_bslli_si128(__m128i(x), 2 * S));
}
#else
Hec Hi(Hec a, Hec b) {
  return __builtin_convertvector(
      __builtin_convertvector(a, Hec2) * __builtin_convertvector(b, Hec2) >> 16, Hec);
}
template <int S, size_t... I>
Hec In(Hec x, std::index_sequence<I...>) {
  return Shuffle<Hec, (int(I) % 8 >= S ? int(I) - S : H)...>(x, Hec{});
}
template <int S>
Hec In(Hec x) {
  return In<S>(x, std::make_index_sequence<H>());
}
#endif

// x with each group of 8 lanes, from the G-th on, given the top lane of the group G before it.
template <int G, size_t... I>
Hec Over(Hec x, std::index_sequence<I...>) {
  return Shuffle<Hec, (int(I) >= 8 * G ? int(I) / 8 * 8 - 8 * G + 7 : H)...>(x, Hec{});
}
template <size_t... I>
Hec TopH(Hec x, std::index_sequence<I...>) {
  return Shuffle<Hec, (int(I) * 0 + H - 1)...>(x, x);
}

// x mod P for x < 2P, and x + y mod P for residues x and y: no wider lanes needed.
Hec Red(Hec x) { return x < Hec(x - P) ? x : Hec(x - P); }
Hec Add(Hec x, Hec y) { return Red(x + y); }

// Inclusive prefix sums of the lanes mod P: within groups of 8 by shifts, then across groups
// (a shift by H or more lanes is zero and compiles to nothing).
Hec ScanH(Hec x) {
  x = Add(x, In<1>(x));
  x = Add(x, In<2>(x));
  x = Add(x, In<4>(x));
  if constexpr (H > 8) x = Add(x, Over<1>(x, std::make_index_sequence<H>()));
  if constexpr (H > 16) x = Add(x, Over<2>(x, std::make_index_sequence<H>()));
  return x;
}

// 0, 1, ..., H - 1.
template <size_t... I>
Hec Lanes(std::index_sequence<I...>) {
  return Hec{uint16_t(I)...};
}

// Rows of a block of len entries.
int Height(int len) { return (len + H - 1) / H; }

}  // namespace

void ToRows(const uint32_t* a, int have, int len, uint16_t* w) {
  const int S = Height(len);
  for (int k = 0; k < H; k++)
    for (int i = 0, o = k * S; i < S; i++, o++) w[i * H + k] = o < have ? uint16_t(a[o]) : 0;
}

void FromRows(const uint16_t* w, int have, int len, uint32_t* a) {
  const int S = Height(len);
  for (int k = 0; k < H; k++)
    for (int i = 0, o = k * S; i < S && o < have; i++, o++) a[o] = w[i * H + k];
}

void Factor(const uint32_t* a, int G, uint16_t* g, uint16_t* gs) {
  uint32_t q[Blk];  // on the stack: a stage of a batch calls this, and must not fail
  for (int b = 0; b < G; b += Blk) {
    const int len = std::min(Blk, G - b);
    for (int i = 0; i < len; i++) q[i] = (a[b + i] << 16) / P;
    ToRows(a + b, len, len, g + b), ToRows(q, len, len, gs + b);
  }
}

// O(r len), in H lanes of 16 bits, one step after another over the block while it stays in the
// first-level cache. A lane sums its run down the rows; the lanes' totals, scanned across once
// per step, give each lane the offset to add, which is added as the next step reads the block.
// With gs = floor(g 2^16 / P) and q = floor(x gs / 2^16), x g - q P lies in [0, 2P) for x < 2^16
// (Shoup), so it is found from the low halves of both products and one conditional subtraction;
// a lane's offset is added unreduced before the product, every other sum of two residues is
// reduced at once, so all stays below 2P < 2^16.
void Steps(uint16_t* w, int len, int r, const uint16_t* const* g, const uint16_t* const* gs,
           uint16_t* c) {
  const size_t S = size_t(Height(len));
  const Hec ks = Lanes(std::make_index_sequence<H>()) * uint16_t(S);  // lane k's first entry
  Hec off{};
  for (int j = 0; j < r; j++) {
    Hec acc{};
    const uint16_t *gj = g[j], *gsj = gs[j];
    // Rows two at a time: the running sum, the one chain from row to row, takes one Add per
    // two rows (the pair's own sum is off the chain), which made the kernel 1.4x faster.
    auto run = [&](auto term) {
      size_t i = 0;
      for (; i + 2 <= S; i += 2) {
        const Hec x0 = term(i), x1 = term(i + 1), a1 = Add(acc, x0);
        std::memcpy(w + i * H, &acc, sizeof acc), std::memcpy(w + (i + 1) * H, &a1, sizeof a1);
        acc = Add(acc, Add(x0, x1));
      }
      if (i < S) {
        const Hec x = term(i);
        std::memcpy(w + i * H, &acc, sizeof acc);
        acc = Add(acc, x);
      }
    };
    if (gj) {
      run([&](size_t i) {
        Hec x, y, ys;
        std::memcpy(&x, w + i * H, sizeof x), std::memcpy(&y, gj + i * H, sizeof y);
        std::memcpy(&ys, gsj + i * H, sizeof ys);
        x += off;  // below 2P < 2^16, which the product takes as it is
        return Red(Hec(x * y - Hi(x, ys) * P));
      });
    } else if (len % H == 0) {  // no factor: the entries themselves
      run([&](size_t i) {
        Hec x;
        std::memcpy(&x, w + i * H, sizeof x);
        return Add(x, off);
      });
    } else {  // and the slots past len, which a factor would have cleared, cleared here
      run([&](size_t i) {
        Hec x;
        std::memcpy(&x, w + i * H, sizeof x);
        return Add(x, off) & Hec(Hec(ks + uint16_t(i)) < uint16_t(len));
      });
    }
    Hec in = ScanH(acc), e = in - acc;  // inclusive minus own entry, mod P
    off = Add(e < Hec(e + P) ? e : Hec(e + P), Hec{} + c[j]);
    const Hec top = Add(Hec{} + c[j], TopH(in, std::make_index_sequence<H>()));
    c[j] = top[0];
  }
  for (size_t i = 0; i < S; i++) {
    Hec x;
    std::memcpy(&x, w + i * H, sizeof x);
    x = Add(x, off);
    std::memcpy(w + i * H, &x, sizeof x);
  }
}

extern const KernelTable kernels{Mul, Pow, Prefix, ToRows, FromRows, Factor, Steps};

}  // namespace DRAVOK_ISA
