// Polynomials mod P as tables of values (see poly.h). The count's tables are polynomials in m:
// a subtree of z < P nodes gives one of degree z, fixed by z + 1 values and, mod P, periodic
// with period P; a larger subtree gives, on each residue class of m mod P, one of degree z div P
// in m div P. Compiled once per instruction-set level, into that level's namespace (see
// levels.h).
#include "poly.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>

#include "dravok.h"
#include "threads.h"
#include "tree.h"

#ifndef DRAVOK_ISA  // set by the build: the level's namespace
#define DRAVOK_ISA base
#endif

namespace DRAVOK_ISA {

// a *= b pointwise mod P: this level's copy (kernels.cpp).
void Mul(uint32_t* __restrict a, const uint32_t* __restrict b, int M);

namespace {

// The tables below are plain arrays, zero before they are made: a namespace-scope vector would
// be constructed at start by code of this level's instruction set, which the processor may not
// have (only the level in use ever runs).
uint32_t f[P], fi[P], rfi[P];  // i!, 1 / i! and 1 / (P - 1 - i)! mod P, for i < P

std::mutex making;  // guards the making of the tables below; their flags say when they are made
std::atomic<bool> factsMade{false};

void Facts() {
  if (factsMade.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> lock(making);
  if (factsMade.load(std::memory_order_relaxed)) return;
  std::fill(f, f + P, 1), std::fill(fi, fi + P, 1);
  for (int i = 1; i < P; i++) f[i] = f[i - 1] * uint32_t(i) % P;
  uint32_t x = f[P - 1], y = 1;  // fi[P - 1] = f[P - 1]^(P - 2) by Fermat
  for (int e = P - 2; e; e >>= 1, x = x * x % P)
    if (e & 1) y = y * x % P;
  fi[P - 1] = y;
  for (int i = P - 1; i > 0; i--) fi[i - 1] = fi[i] * uint32_t(i) % P;
  std::reverse_copy(fi, fi + P, rfi);
  factsMade.store(true, std::memory_order_release);
}

// A residue as the nearest integer to 0: |result| <= (P - 1) / 2.
int Bal(uint32_t x) { return x > P / 2 ? int(x) - P : int(x); }

// Complex transforms of length L = 2^k <= 2^16 on split real and imaginary parts. The twiddles
// of the stage that pairs entries h apart are co[h + j] + i si[h + j] = exp(-i pi j / h), j < h,
// each from the library's cos and sin (within an ulp), never by recurrence.
constexpr int maxL = 1 << 16;
double co[maxL], si[maxL];
std::atomic<int> twiddled{0};  // made for lengths up to this

// The twiddles for transforms of length up to L, made as first needed (each is a libm call).
// A longer length only adds stages, which no shorter transform under way reads.
void Twiddles(int L) {
  if (twiddled.load(std::memory_order_acquire) >= L) return;
  std::lock_guard<std::mutex> lock(making);
  const int h0 =
      std::max(1, twiddled.load(std::memory_order_relaxed));  // the stages below are made
  if (h0 >= L) return;
  const double pi = std::acos(-1.0);
  for (int h = h0; h < L; h *= 2)
    for (int j = 0; j < h; j++) co[h + j] = std::cos(pi * j / h), si[h + j] = -std::sin(pi * j / h);
  twiddled.store(L, std::memory_order_release);
}

// One stage of either transform over [0, len): butterflies on the entries h apart; H, if not
// 0, is h known when compiled (see At).
template <int H = 0>
void Down(double* __restrict re, double* __restrict im, int h, int len) {
  if (H) h = H;
  const double *wr = co + h, *wi = si + h;
  for (int b = 0; b < len; b += 2 * h) {
    double *xr = re + b, *xi = im + b, *yr = xr + h, *yi = xi + h;
    for (int j = 0; j < h; j++) {
      double dr = xr[j] - yr[j], di = xi[j] - yi[j];
      xr[j] += yr[j], xi[j] += yi[j];
      yr[j] = dr * wr[j] - di * wi[j], yi[j] = dr * wi[j] + di * wr[j];
    }
  }
}
template <int H = 0>
void Up(double* __restrict re, double* __restrict im, int h, int len) {
  if (H) h = H;
  const double *wr = co + h, *wi = si + h;
  for (int b = 0; b < len; b += 2 * h) {
    double *xr = re + b, *xi = im + b, *yr = xr + h, *yi = xi + h;
    for (int j = 0; j < h; j++) {
      double vr = yr[j] * wr[j] + yi[j] * wi[j], vi = yi[j] * wr[j] - yr[j] * wi[j];
      yr[j] = xr[j] - vr, yi[j] = xi[j] - vi;
      xr[j] += vr, xi[j] += vi;
    }
  }
}

// Stage h of Down (Up if up), the stages h = 4, 8 and 16 compiled for their h: the inner loop is
// then a vector operation or two, where the loop for any h ran mostly in its scalar remainder
// (a forward and inverse transform pair took 0.56 to 0.72 of the time with AVX-512, from length
// 64 to 2^15, 0.71 to 0.90 with AVX2, 0.84 to 0.95 with SSE2 alone).
void At(bool up, double* re, double* im, int h, int len) {
  if (h == 4) return up ? Up<4>(re, im, h, len) : Down<4>(re, im, h, len);
  if (h == 8) return up ? Up<8>(re, im, h, len) : Down<8>(re, im, h, len);
  if (h == 16) return up ? Up<16>(re, im, h, len) : Down<16>(re, im, h, len);
  up ? Up(re, im, h, len) : Down(re, im, h, len);
}

// Stages h = 2q and q of Down on one block of 4q entries, given as its quarters a, b, c, d: the
// operations of the two stages in their order (bit for bit the same results), in one pass over
// the block instead of two. The quarters are restrict pointers of their own, so that the loop
// vectorises (a pair of stages took 0.72 to 0.83 of the time from length 256 to 2^15 with
// AVX-512, 0.79 to 0.92 with less).
void Down2(double* __restrict ar, double* __restrict ai, double* __restrict br,
           double* __restrict bi, double* __restrict cr, double* __restrict ci,
           double* __restrict dr, double* __restrict di, int q) {
  const ptrdiff_t h = 2 * ptrdiff_t(q);
  const double *ur = co + h, *ui = si + h, *vr = co + q, *vi = si + q;
  for (int j = 0; j < q; j++) {
    const double xr = ar[j] - cr[j], xi = ai[j] - ci[j], yr = br[j] - dr[j], yi = bi[j] - di[j];
    const double a1r = ar[j] + cr[j], a1i = ai[j] + ci[j], b1r = br[j] + dr[j], b1i = bi[j] + di[j];
    const double c1r = xr * ur[j] - xi * ui[j], c1i = xr * ui[j] + xi * ur[j];
    const double d1r = yr * ur[j + q] - yi * ui[j + q], d1i = yr * ui[j + q] + yi * ur[j + q];
    const double er = a1r - b1r, ei = a1i - b1i, gr = c1r - d1r, gi = c1i - d1i;
    ar[j] = a1r + b1r, ai[j] = a1i + b1i;
    br[j] = er * vr[j] - ei * vi[j], bi[j] = er * vi[j] + ei * vr[j];
    cr[j] = c1r + d1r, ci[j] = c1i + d1i;
    dr[j] = gr * vr[j] - gi * vi[j], di[j] = gr * vi[j] + gi * vr[j];
  }
}

// Stages q and 2q of Up on one block of 4q entries, likewise.
void Up2(double* __restrict ar, double* __restrict ai, double* __restrict br, double* __restrict bi,
         double* __restrict cr, double* __restrict ci, double* __restrict dr, double* __restrict di,
         int q) {
  const ptrdiff_t h = 2 * ptrdiff_t(q);
  const double *ur = co + q, *ui = si + q, *vr = co + h, *vi = si + h;
  for (int j = 0; j < q; j++) {
    const double t1r = br[j] * ur[j] + bi[j] * ui[j], t1i = bi[j] * ur[j] - br[j] * ui[j];
    const double t2r = dr[j] * ur[j] + di[j] * ui[j], t2i = di[j] * ur[j] - dr[j] * ui[j];
    const double a1r = ar[j] + t1r, a1i = ai[j] + t1i, b1r = ar[j] - t1r, b1i = ai[j] - t1i;
    const double c1r = cr[j] + t2r, c1i = ci[j] + t2i, d1r = cr[j] - t2r, d1i = ci[j] - t2i;
    const double s1r = c1r * vr[j] + c1i * vi[j], s1i = c1i * vr[j] - c1r * vi[j];
    const double s2r = d1r * vr[j + q] + d1i * vi[j + q], s2i = d1i * vr[j + q] - d1r * vi[j + q];
    ar[j] = a1r + s1r, ai[j] = a1i + s1i, cr[j] = a1r - s1r, ci[j] = a1i - s1i;
    br[j] = b1r + s2r, bi[j] = b1i + s2i, dr[j] = b1r - s2r, di[j] = b1i - s2i;
  }
}

// Down's stages 2q and q (Up's q and 2q if up) over [0, len), block by block.
void At2(bool up, double* re, double* im, int q, int len) {
  const ptrdiff_t Q = q;
  for (int b = 0; b < len; b += 4 * q) {
    double *r = re + b, *i = im + b;
    (up ? Up2 : Down2)(r, i, r + Q, i + Q, r + 2 * Q, i + 2 * Q, r + 3 * Q, i + 3 * Q, q);
  }
}

// The stages h = 2 and h = 1 of Down on each group of 4 entries, whose twiddles are 1 and -i:
// (x0, x1, x2, x3) -> (x0 + x1 + x2 + x3, x0 - x1 + x2 - x3, (x0 - x2) - i (x1 - x3), ...), in
// the bit-reversed order Down leaves them.
void Last4(double* __restrict re, double* __restrict im, int len) {
  for (int b = 0; b < len; b += 4) {
    double ar = re[b] + re[b + 2], ai = im[b] + im[b + 2], br = re[b + 1] + re[b + 3],
           bi = im[b + 1] + im[b + 3], cr = re[b] - re[b + 2], ci = im[b] - im[b + 2],
           dr = im[b + 1] - im[b + 3], di = re[b + 3] - re[b + 1];  // d = -i (x1 - x3)
    re[b] = ar + br, im[b] = ai + bi, re[b + 1] = ar - br, im[b + 1] = ai - bi;
    re[b + 2] = cr + dr, im[b + 2] = ci + di, re[b + 3] = cr - dr, im[b + 3] = ci - di;
  }
}

// The stages h = 1 and h = 2 of Up on each group of 4 entries (twiddles 1 and +i), undoing
// Last4 but for the factor 4.
void First4(double* __restrict re, double* __restrict im, int len) {
  for (int b = 0; b < len; b += 4) {
    double ar = re[b] + re[b + 1], ai = im[b] + im[b + 1], br = re[b] - re[b + 1],
           bi = im[b] - im[b + 1], cr = re[b + 2] + re[b + 3], ci = im[b + 2] + im[b + 3],
           dr = im[b + 3] - im[b + 2], di = re[b + 2] - re[b + 3];  // d = i (x2 - x3)
    re[b] = ar + cr, im[b] = ai + ci, re[b + 2] = ar - cr, im[b + 2] = ai - ci;
    re[b + 1] = br + dr, im[b + 1] = bi + di, re[b + 3] = br - dr, im[b + 3] = bi - di;
  }
}

// Stages that pair entries less than B apart stay inside blocks of B entries (32 KiB of
// doubles), so they run block by block in the first-level cache instead of streaming the whole
// array once per stage.
constexpr int B = 1 << 11;

// The forward transform, decimation in frequency: natural order in, bit-reversed order out.
// O(L log L).
void Fft(double* re, double* im, int L) {
  if (L == 1) return;
  int h = L / 2;
  for (; h >= B; h /= 2) Down(re, im, h, L);
  for (int b = 0; b < L; b += 2 * h) {
    int g = h;
    for (; g >= 64; g /= 4) At2(false, re + b, im + b, g / 2, 2 * h);
    for (; g >= 4; g /= 2) At(false, re + b, im + b, g, 2 * h);
    if (g == 2) Last4(re + b, im + b, 2 * h);
    if (g == 1) Down(re + b, im + b, 1, 2 * h);
  }
}

// The inverse transform without the factor 1 / L, decimation in time: bit-reversed order in,
// natural order out. O(L log L).
void Ifft(double* re, double* im, int L) {
  if (L == 1) return;
  const int top = std::min(L, B) / 2;
  for (int b = 0; b < L; b += 2 * top) {
    int g = 1;
    if (top >= 2) First4(re + b, im + b, 2 * top), g = 4;
    for (; g <= 16 && g <= top; g *= 2) At(true, re + b, im + b, g, 2 * top);
    for (; 2 * g <= top; g *= 4) At2(true, re + b, im + b, g, 2 * top);
    for (; g <= top; g *= 2) At(true, re + b, im + b, g, 2 * top);
  }
  for (int h = 2 * top; h < L; h *= 2) Up(re, im, h, L);
}

// x = x * y / L entrywise (complex), L a power of two so that the division is exact.
void Times(double* xr, double* xi, const double* yr, const double* yi, int L) {
  const double inv = 1.0 / L;
  for (int j = 0; j < L; j++) {
    double r = xr[j] * yr[j] - xi[j] * yi[j], i = xr[j] * yi[j] + xi[j] * yr[j];
    xr[j] = r * inv, xi[j] = i * inv;
  }
}

// x[i] = u_i = (-1)^(d-i) a[i] / (i! (d-i)!) as the residue nearest 0, for i <= d; 0 up to L.
// The reversed inverse factorials make every access ascending, so the passes vectorise.
void Load(const uint32_t* a, int d, double* x, int L) {
  thread_local std::vector<uint32_t> u;
  u.resize(size_t(d) + 1);
  const uint32_t* r = rfi + (P - 1 - d);  // r[i] = 1 / (d - i)!
  for (int i = 0; i <= d; i++) u[i] = a[i] * fi[i] % P;
  for (int i = 0; i <= d; i++) u[i] = u[i] * r[i] % P;
  for (int i = 0; i <= d; i++) {
    int w = (d - i) % 2 ? P - int(u[i]) : int(u[i]);  // in [0, P]
    x[i] = double(w - P * (w > P / 2));
  }
  std::fill(x + d + 1, x + L, 0.0);
}

// r[j] = the nearest integer to y[j], mod P, for j < len. Rounding adds and takes away
// 1.5 * 2^52, which leaves an integer for |y| < 2^51; the remainder by P is taken in doubles,
// exact for integers below 2^53, and set right by one P where q / P was rounded across an
// integer.
void Round(const double* y, uint32_t* r, int len) {
  const double big = 6755399441055744.0, inv = 1.0 / P;
  for (int j = 0; j < len; j++) {
    double q = (y[j] + big) - big, x = q - P * std::floor(q * inv);
    x = x < 0 ? x + P : x >= P ? x - P : x;
    r[j] = uint32_t(int(x));
  }
}

// x[j] = a[j] as the residue nearest 0, for j < len; 0 up to L.
void Balance(const uint32_t* a, int len, double* x, int L) {
  for (int j = 0; j < len; j++) x[j] = double(Bal(a[j]));
  std::fill(x + len, x + L, 0.0);
}

// a[x] = x! / (x-d-1)! * (the nearest integer to y[x], mod P), for d < x < T.
void Store(const double* y, uint32_t* a, int d, int T) {
  Round(y + d + 1, a + d + 1, T - d - 1);
  for (int x = d + 1; x < T; x++) a[x] = a[x] * f[x] % P * fi[x - d - 1] % P;
}

}  // namespace

uint32_t Binom(long long a, long long b) {
  Facts();
  uint32_t r = 1;
  for (; a || b; a /= P, b /= P) {
    int x = int(a % P), y = int(b % P);
    if (y > x) return 0;
    r = r * f[x] % P * fi[y] % P * fi[x - y] % P;
  }
  return r;
}

// Lagrange's basis at the nodes 0..d is l_i(x) = (-1)^(d-i) C(x, i) C(x-i-1, d-i): integers, so
// the sum needs no division and holds even when P divides d! (d >= P).
uint32_t Interp(const std::vector<uint32_t>& h, long long x, size_t from, size_t to) {
  long long d = static_cast<long long>(h.size()) - 1;
  uint32_t r = 0;
  const long long end = static_cast<long long>(std::min(to, h.size()));
  for (long long i = static_cast<long long>(from); i < end; i++) {
    if (!h[i]) continue;  // a deep tree's table is 0 up to its height
    uint32_t term = h[i] * Binom(x, i) % P * Binom(x - i - 1, d - i) % P;
    if ((d - i) & 1 && term) term = P - term;
    r += term;
    if (r >= P) r -= P;
  }
  return r;
}

namespace {

// Recur's step 1 for a low degree D < 32: with x0 = from - D - 1 and b_k = (k-th forward
// difference at x0) / k!, a[x0 + t] = sum_k b_k t (t-1)...(t-k+1) (Newton's form), evaluated by
// Horner's rule for a block of t at once, so that no value waits on the one before. A factor
// (t - j) mod P is taken as t mod P + P - j < 2P, so products stay below 2P^2 < 2^31.
// O((to - from) D), each term a lane of a vector operation.
void Newton(uint32_t* a, int from, int to, int D) {
  Facts();
  const int x0 = from - D - 1;
  uint32_t b[32];
  std::copy(a + x0, a + from, b);
  for (int k = 1; k <= D; k++)
    for (int i = D; i >= k; i--) b[i] = (b[i] + P - b[i - 1]) % P;
  for (int k = 2; k <= D; k++) b[k] = b[k] * fi[k] % P;
  constexpr int Bm = 256;
  uint32_t x[Bm], u[Bm];
  for (int m0 = from; m0 < to; m0 += Bm) {
    const int e = std::min(Bm, to - m0);
    for (int k = 0; k < e; k++) u[k] = uint32_t((m0 + k - x0) % P + P), x[k] = b[D];
    for (int j = D - 1; j >= 0; j--)
      for (int k = 0; k < e; k++) x[k] = (x[k] * (u[k] - uint32_t(j)) + b[j]) % P;
    std::copy(x, x + e, a + m0);
  }
}

}  // namespace

// a[m] = sum_{k=1..D+1} (-1)^(k+1) C(D + 1, k) a[m - k s]. Sums of D + 1 products stay below
// (D + 1) P^2 < 2^64. With s = 1 the weights are stored reversed, so the sum is a dot product
// of two ascending runs, which vectorises, and it starts at the first entry that is not a
// leading zero: on a table of z + 1 values that are 0 up to the height, a new value costs
// z + 1 - height, not z + 1.
void Recur(uint32_t* a, int from, int to, int D, int s, int zl) {
  if (D == 0) {  // a[m] = a[m - s]
    for (int m = from; m < to; m++) a[m] = a[m - s];
    return;
  }
  if (s == 1 && D < 32) return Newton(a, from, to, D);
  const int j0 = s == 1 ? std::max(0, zl - (to - D - 2)) : 0;  // no weight below j0 is read
  thread_local std::vector<uint32_t> w;  // w[D + 1 - k] is the weight of a[m - k s]
  w.resize(size_t(D) + 1);
  if (D + 1 < P) {  // C(D + 1, k) from the factorial tables, in passes that vectorise
    Facts();
    const uint32_t top = f[D + 1], *r = rfi + (P - 2 - D);  // r[k] = 1 / (D + 1 - k)!
    for (int k = 1; k <= D + 1 - j0; k++) w[size_t(D + 1 - k)] = top * fi[k] % P * r[k] % P;
    for (int k = 2; k <= D + 1 - j0; k += 2)
      if (uint32_t& b = w[size_t(D + 1 - k)]; b) b = P - b;
  } else {
    for (int k = 1; k <= D + 1 - j0; k++) {
      uint32_t b = Binom(D + 1, k);
      w[size_t(D + 1 - k)] = k % 2 || !b ? b : P - b;
    }
  }
  if (s == 1) {
    for (int m = from; m < to; m++) {
      const uint32_t* q = a + m - size_t(D + 1);
      uint64_t x = 0;
      for (int j = std::max(0, zl - (m - D - 1)); j <= D; j++) x += uint64_t(w[j]) * q[j];
      a[m] = uint32_t(x % P);
    }
    return;
  }
  // With a step s >= 256 no value of a block of 256 reads another of the same block: the sums
  // run term by term over the whole block, each term a contiguous run that vectorises.
  constexpr int Bm = 256;
  uint64_t x[Bm];
  for (int m0 = from; m0 < to; m0 += Bm) {
    const int e = std::min(Bm, to - m0);
    std::fill(x, x + e, 0);
    for (int j = 0; j <= D; j++) {
      const uint32_t* q = a + m0 - size_t(D + 1 - j) * s;
      const uint64_t wj = w[j];
      for (int k = 0; k < e; k++) x[k] += wj * q[k];
    }
    for (int k = 0; k < e; k++) a[m0 + k] = uint32_t(x[k] % P);
  }
}

// For x > d, prod_{j<=d, j!=i} (x - j) / (i - j) = x! / (x-d-1)! * (-1)^(d-i) / (i! (d-i)! (x-i)),
// so a[x] = x! / (x-d-1)! * sum_i u_i v_{x-i} with u_i = (-1)^(d-i) a[i] / (i! (d-i)!) and
// v_k = 1 / k: a convolution, with every factorial and k below P and so invertible. It is taken
// cyclically at length L >= T, where the terms that wrap around land on indices below d + 1,
// which are not read; v_k for k >= P is never needed and set to 0, so v's transform depends on L
// alone and is made once per L.
//
// Exactness (this and Sums below): every transform input is a residue held nearest 0,
// |entry| <= h = 15005, with at most P nonzero entries in v and in each of the two tables that
// ride in u's real and imaginary parts. So each exact result is an integer of at most P h^2 < 2^43,
// whose double is exact, and |u|_2 |v|_2 <= sqrt(2) P h^2 < 9.6e12. By Percival's bound for the
// radix-2 transform ("Rapid multiplication modulo the sum and difference of highly composite
// numbers", Math. Comp. 2003), the computed convolution is within |u|_2 |v|_2 ((1 + e)^(3n)
// (1 + e sqrt 5)^(3n + 1) (1 + b)^(3n) - 1) of it, e = 2^-53, n = log2 L <= 16 and twiddle error
// b <= e: at most 9.6e12 * 2.3e-14 < 0.23, so rounding to the nearest integer gives the exact
// value.
void Lagrange(uint32_t* a, int d, int T, uint32_t* b = nullptr, int db = 0) {
  thread_local std::vector<std::vector<double>> vr(17), vi(17);  // v's transform for L = 2^k
  thread_local std::vector<double> xr, xi;
  int k = 0, L = 1;
  while (L < T) L *= 2, k++;
  Facts(), Twiddles(L);
  if (vr[k].empty()) {
    vr[k].assign(L, 0), vi[k].assign(L, 0);
    for (int j = 1; j < L && j < P; j++) vr[k][j] = Bal(f[j - 1] * fi[j] % P);  // 1 / j
    Fft(vr[k].data(), vi[k].data(), L);
  }
  // v is real, so (u + i u') * v = u * v + i (u' * v): a second table rides in the imaginary
  // part of the same transforms.
  xr.resize(L), xi.resize(L);
  Load(a, d, xr.data(), L);
  if (b) Load(b, db, xi.data(), L);
  if (!b) std::fill(xi.begin(), xi.end(), 0.0);
  Fft(xr.data(), xi.data(), L);
  Times(xr.data(), xi.data(), vr[k].data(), vi[k].data(), L);
  Ifft(xr.data(), xi.data(), L);
  Store(xr.data(), a, d, T);
  if (b) Store(xi.data(), b, db, T);
}

std::vector<long long> Cyclic(const std::vector<int>& a, const std::vector<int>& b) {
  int L = int(a.size());
  Twiddles(L);
  std::vector<double> ar(a.begin(), a.end()), ai(L), br(b.begin(), b.end()), bi(L);
  Fft(ar.data(), ai.data(), L), Fft(br.data(), bi.data(), L);
  Times(ar.data(), ai.data(), br.data(), bi.data(), L);
  Ifft(ar.data(), ai.data(), L);
  std::vector<long long> r(L);
  for (int j = 0; j < L; j++) r[j] = std::llround(ar[j]);
  return r;
}

// Lucas's theorem splits the kernel: for j = j0 + P j1 and k - 1 = k0 + P k1 (j0, k0 < P),
// C(j, k - 1) = c0(j0) c1(j1) with c0(j0) = C(j0, k0) and c1(j1) = C(j1, k1) mod P. So a, cut into
// rows of P entries, is convolved with the row c0 alone, one transform of length 2^16 >= 2P - 1
// per two rows (exact: see Lagrange), and the rows of the result are summed with the weights c1:
// row i of a times c0 lands on the rows i + j1 and i + j1 + 1 of the product. With R = r P,
// O(r (2^16 log 2^16 + r P)) and 8 R bytes of products.
std::vector<uint32_t> Sums(const uint32_t* a, int R, long long k) {
  if (R <= 0) return {};
  if (R <= 2048) {  // few entries (a long chain asks for one or two): the sum as it stands, O(R^2)
    std::vector<uint32_t> w(R), x(R);  // w[u] = C(k - 1 + u, k - 1); sums of at most 2^11
    for (int u = 0; u < R; u++) w[u] = Binom(k - 1 + u, k - 1);  // terms below P^2 fit in 64 bits
    for (int i = 0; i < R; i++) {
      uint64_t acc = 0;
      for (int u = 0; u <= i; u++) acc += uint64_t(a[i - u]) * w[u];
      x[i] = uint32_t(acc % P);
    }
    return x;
  }
  constexpr int L = 1 << 16;
  Facts(), Twiddles(L);
  const long long c = k - 1, k1 = c / P;
  const int k0 = int(c % P), r = (R + P - 1) / P, w = 2 * P;  // a row of products: 2P - 1 and a 0
  std::vector<double> cr(L, 0), ci(L, 0), xr(L), xi(L);
  for (int j = k0; j < P; j++) cr[j] = Bal(f[j] * fi[k0] % P * fi[j - k0] % P);
  Fft(cr.data(), ci.data(), L);
  std::vector<uint32_t> g(size_t(r) * w);  // g[i w + y]: row i of a times c0, at y < 2P
  for (int i = 0; i < r; i += 2) {
    Balance(a + size_t(i) * P, std::min(P, R - i * P), xr.data(), L);
    Balance(a + size_t(i + 1) * P, i + 1 < r ? std::min(P, R - (i + 1) * P) : 0, xi.data(), L);
    Fft(xr.data(), xi.data(), L), Times(xr.data(), xi.data(), cr.data(), ci.data(), L);
    Ifft(xr.data(), xi.data(), L);
    Round(xr.data(), &g[size_t(i) * w], w);
    if (i + 1 < r) Round(xi.data(), &g[size_t(i + 1) * w], w);
  }
  // x[t] is entry c + t of the product; its row Y gets row i's first half with weight c1(Y - i)
  // and its second half with c1(Y - 1 - i). Sums of 2r terms below P^2 fit in 64 bits.
  std::vector<uint32_t> x(R);
  std::vector<uint64_t> acc(P);
  for (long long Y = c / P; Y * P < c + R; Y++) {
    std::fill(acc.begin(), acc.end(), 0);
    for (int i = 0; i < r && i <= Y; i++) {
      const uint64_t lo = Binom(Y - i, k1), hi = Y - i >= 1 ? Binom(Y - i - 1, k1) : 0;
      const uint32_t* gi = &g[size_t(i) * w];
      if (lo)
        for (int y = 0; y < P; y++) acc[y] += lo * gi[y];
      if (hi)
        for (int y = 0; y < P; y++) acc[y] += hi * gi[P + y];
    }
    const long long b = std::max(Y * P, c), e = std::min(Y * P + P, c + R);
    for (long long y = b; y < e; y++) x[size_t(y - c)] = uint32_t(acc[size_t(y - Y * P)] % P);
  }
  return x;
}

namespace {

// Whether Lagrange's convolution gives `values` new values of a polynomial, at `terms`
// products each by the recurrence, for less: a transform of L >= T values costs about
// 4 L log2 L products.
bool ByConvolution(long long values, long long terms, int T) {
  long long L = 1, lg = 0;
  while (L < T) L *= 2, lg++;
  return values * terms > 4 * L * lg + 64;
}

// The values of a table held by residue class past its first P (D + 1), up to `to`: on class r
// its values a[r + jP] are a polynomial of degree D in j, known for j <= D and wanted for
// r + jP < to, that is up to T - 1 = (to - 1) div P. Each class is one convolution when
// `convolution` (then T <= P, so every factorial below T is invertible and Lagrange's formula
// holds, exact as Lagrange says; two classes ride in one transform), else the recurrence. The
// classes go G = 16 at a time, gathered from whole rows of P entries (16 entries are one cache
// line), and are handed back the same way: put(r0, v, T) takes v[j G + q] = class r0 + q at j
// for D < j < T and q < min(G, P - r0), from any core, for groups at once. O(P L log L) for L >= T,
// or P (T - D - 1) (D + 1) by the recurrence.
constexpr int G = 16;

// Rows ahead that a pass over a class group asks the memory for: each row's line is P entries
// from the last, a stride the processor's own prefetching does not follow.
constexpr size_t Ahead = 8;

template <class Put>
void ByClass(const uint32_t* a, int D, int to, bool convolution, Put&& put) {
  const size_t T = size_t(to - 1) / P + 1;
  auto group = [&](int r0) {
    // Class r0 + q at j: rows[q T + j] (as the lengthening wants it), cols[j G + q] (as put does).
    thread_local std::vector<uint32_t> rows, cols;
    rows.resize(G * T), cols.resize(G * T);
    const int g = std::min(G, P - r0);
    for (size_t j = 0; j <= size_t(D); j++)
      for (int q = 0; q < g; q++) rows[size_t(q) * T + j] = a[size_t(r0 + q) + j * P];
    for (int q = 0; q < g; q += convolution ? 2 : 1) {
      uint32_t* row = &rows[size_t(q) * T];
      if (!convolution) Recur(row, D + 1, int(T), D, 1, 0);
      if (convolution) Lagrange(row, D, int(T), q + 1 < g ? row + T : nullptr, D);
    }
    // Turned by tiles of G x G, so that both sides stay in the first-level cache.
    for (size_t j0 = size_t(D) + 1; j0 < T; j0 += G)
      for (int q = 0; q < g; q++)
        for (size_t j = j0; j < std::min(j0 + G, T); j++) cols[j * G + size_t(q)] = rows[q * T + j];
    put(r0, cols.data(), T);
  };
  // The groups are independent: on every core for a table of 2^24 entries or more (a few dozen
  // groups a piece, put called from each). At 10^7 nodes and below the walk's core keeps them:
  // there the other cores have subtrees of their own to count, and a join that waits may take
  // one of them up. On a random tree of 10^8 nodes the run took 0.93 of the time.
  const size_t groups = (P + G - 1) / G;
  Split(
      0, groups,
      [&](size_t lo, size_t hi) {
        for (size_t k = lo; k < hi; k++) group(int(k) * G);
      },
      to >= 1 << 24 ? 32 : groups + 1);
}

// Whether a table held by residue class of degree D in j is lengthened to T rows by the
// convolution rather than the recurrence. Two classes ride in one transform: each pays half.
bool ClassesByConvolution(int D, long long T) {
  return T <= P && ByConvolution(2 * (T - D - 1), D + 1, int(T));
}

// Room for `to` entries in a. A table that moves takes twice its entries or more (as resize
// would), and one of 4 MiB or more is marked for huge pages before it is first written: the
// lengthening by class reads it P entries apart, a small page apart, so that every read would
// miss the translation cache (on a random tree of 10^8 nodes the run took 0.95 of the time).
void Room(std::vector<uint32_t>& a, size_t to) {
  if (to > a.capacity()) Reserve(a, std::max(to, 2 * a.size()));
}

// Lengthens a (see Lengthen) to `to` entries, but for values that the convolution should give:
// returns T when a[from..T) is left for Lagrange (and a[T..to) for the period after it), else 0.
// A table by residue class whose classes would reach degree P or more (a subtree of P^2 nodes)
// is lengthened by the recurrence, whose weights C(D + 1, k) Lucas's theorem gives at any D.
int Start(std::vector<uint32_t>& a, int to, long long z, int zl) {
  int from = int(a.size());
  if (from >= to) return 0;
  Room(a, size_t(to)), a.resize(to);
  if (z >= P) {
    const int D = from / P - 1;
    if (!ClassesByConvolution(D, (to - 1) / P + 1)) return Recur(a.data(), from, to, D, P, 0), 0;
    uint32_t* out = a.data();
    ByClass(out, D, to, true, [&](int r0, const uint32_t* v, size_t T) {
      for (size_t j = size_t(D) + 1; j < T; j++) {
        const size_t m = size_t(r0) + j * P, e = std::min({m + G, size_t(to), (j + 1) * P});
        if (m < e) std::copy(v + j * G, v + j * G + (e - m), out + m);
      }
    });
    return 0;
  }
  int d = int(z), T = std::min(to, P);
  if (T > from) {
    if (ByConvolution(T - from, d + 1 - std::min(zl, d), T)) return T;
    Recur(a.data(), from, T, d, 1, zl);
  }
  Recur(a.data(), T, to, 0, P, 0);
  return 0;
}

}  // namespace

// A table of z >= P nodes holds P (z div P + 1) values and is lengthened on each residue class
// (step P). One of z < P nodes holds at least z + 1 values (fewer only when no more are ever
// asked for): it is lengthened to min(to, P) values, by the recurrence where that costs less than
// the convolution, and beyond P by its period. Two tables that both take the convolution share it.
void Lengthen(std::vector<uint32_t>& a, int to, long long z, int zl, std::vector<uint32_t>* b,
              long long zb, int zlb) {
  int ta = Start(a, to, z, zl), tb = b ? Start(*b, to, zb, zlb) : 0;  // both min(to, P) if set
  if (ta) Lagrange(a.data(), int(z), ta, tb ? b->data() : nullptr, int(zb));
  if (!ta && tb) Lagrange(b->data(), int(zb), tb);
  if (ta) Recur(a.data(), ta, to, 0, P, 0);
  if (tb) Recur(b->data(), tb, to, 0, P, 0);
}

// into *= a's values on [from, to), those past a's own computed a class group at a time and
// multiplied in at once, so that no table of `to` entries is made: a light child joins a table
// of its parent's length without a copy of that length. Every pass over into holds guard, if
// given, so that other threads may multiply into it meanwhile (the order of the factors does not
// change the product). O(to - from) plus what lengthening a costs.
void MulLengthened(uint32_t* into, int from, int to, const std::vector<uint32_t>& a, long long z,
                   std::mutex* guard) {
  auto held = [guard](auto&& pass) {
    if (!guard) return pass();
    std::lock_guard<std::mutex> lock(*guard);
    pass();
  };
  const int have = int(std::min<size_t>(a.size(), size_t(to)));
  constexpr int Run = 1 << 20;  // entries per pass over the known values, so guard is let go
  for (int m0 = from; m0 < have; m0 += Run)
    held([&] { Mul(into + m0, a.data() + m0, std::min(have, m0 + Run) - m0); });
  if (have == to) return;
  // Past its own values a is a table of z >= P nodes, held by residue class at P (D + 1) values
  // (or more): each class a polynomial of degree D = z div P (see Lengthen).
  const int D = int(z / P), T = (to - 1) / P + 1, first = std::max(from, have);
  ByClass(a.data(), D, to, ClassesByConvolution(D, T), [&](int r0, const uint32_t* v, size_t Tr) {
    held([&] {
      for (size_t j = std::max(size_t(D) + 1, size_t(first) / P); j < Tr; j++) {
        const size_t m = size_t(r0) + j * P, e = std::min({m + G, size_t(to), (j + 1) * P});
        const size_t b = std::max(m, size_t(first));
        if (j + Ahead < Tr) __builtin_prefetch(into + m + Ahead * P, 1);
        if (b < e) Mul(into + b, v + j * G + (b - m), int(e - b));
      }
    });
  });
}

extern const PolyTable poly{Binom, Interp, Recur, Lagrange, Cyclic, Sums, Lengthen, MulLengthened};

}  // namespace DRAVOK_ISA
