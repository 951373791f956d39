// The choice of instruction-set level (see levels.h), and the functions of kernels.h and poly.h,
// which forward to the chosen level's copies: one indirect call per whole pass over a table.
#include "levels.h"

#include <algorithm>
#include <iterator>

#include "kernels.h"
#include "poly.h"

namespace {

// A level as built: its name, whether the processor runs it, and its copies.
struct Built {
  const char* name;
  bool (*runs)();
  const KernelTable* kernels;
  const PolyTable* poly;
};

// __builtin_cpu_supports asks cpuid, and for AVX and AVX-512 also whether the operating system
// saves the wide registers.
#if defined(__x86_64__)
[[maybe_unused]] bool V2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("sse3") && __builtin_cpu_supports("ssse3") &&
         __builtin_cpu_supports("sse4.1") && __builtin_cpu_supports("sse4.2") &&
         __builtin_cpu_supports("popcnt");
}
[[maybe_unused]] bool V3() {
  return V2() && __builtin_cpu_supports("avx") && __builtin_cpu_supports("avx2") &&
         __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") &&
         __builtin_cpu_supports("fma");
}
[[maybe_unused]] bool V4() {
  return V3() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512cd") && __builtin_cpu_supports("avx512dq") &&
         __builtin_cpu_supports("avx512vl");
}
#endif
bool Always() { return true; }

}  // namespace

// Each level built (DRAVOK_HAS_<level>, set by the build) has its copies in its own build of
// kernels.cpp and poly.cpp.
#define DRAVOK_LEVEL(ns)            \
  namespace ns {                    \
  extern const KernelTable kernels; \
  extern const PolyTable poly;      \
  }
#if defined(DRAVOK_HAS_native)
DRAVOK_LEVEL(native)
#endif
#if defined(DRAVOK_HAS_base)
DRAVOK_LEVEL(base)
#endif
#if defined(DRAVOK_HAS_v2)
DRAVOK_LEVEL(v2)
#endif
#if defined(DRAVOK_HAS_v3)
DRAVOK_LEVEL(v3)
#endif
#if defined(DRAVOK_HAS_v4)
DRAVOK_LEVEL(v4)
#endif
#undef DRAVOK_LEVEL

namespace {

const Built built[] = {
#if defined(DRAVOK_HAS_native)
    {"native", Always, &native::kernels, &native::poly},
#endif
#if defined(DRAVOK_HAS_base)
    {"base", Always, &base::kernels, &base::poly},
#endif
#if defined(DRAVOK_HAS_v2)
    {"v2", V2, &v2::kernels, &v2::poly},
#endif
#if defined(DRAVOK_HAS_v3)
    {"v3", V3, &v3::kernels, &v3::poly},
#endif
#if defined(DRAVOK_HAS_v4)
    {"v4", V4, &v4::kernels, &v4::poly},
#endif
};

// The last level built that the processor runs; the first if none does (a build without the
// baseline, for a processor known to run its lowest level).
const Built* Best() {
  const Built* b = &built[0];
  for (const Built& l : built)
    if (l.runs()) b = &l;
  return b;
}

// Chosen during static initialisation; nothing calls the hot code before main.
const Built* use = Best();

// The level built under that name, if any.
const Built* Find(const std::string& level) {
  const auto* l = std::find_if(std::begin(built), std::end(built),
                               [&](const Built& b) { return level == b.name; });
  return l == std::end(built) ? nullptr : l;
}

}  // namespace

std::vector<std::string> Levels() {
  std::vector<std::string> r(std::size(built));
  std::transform(std::begin(built), std::end(built), r.begin(),
                 [](const Built& l) { return std::string(l.name); });
  return r;
}

bool Runs(const std::string& level) {
  const Built* l = Find(level);
  return l && l->runs();
}

std::string Level() { return (use ? use : Best())->name; }  // also before use is set

bool UseLevel(const std::string& level) {
  if (!Runs(level)) return false;
  use = Find(level);
  return true;
}

void Mul(uint32_t* __restrict a, const uint32_t* __restrict b, int M) {
  use->kernels->mul(a, b, M);
}
void Pow(uint32_t* r, int M, int L) { use->kernels->pow(r, M, L); }
void Prefix(uint32_t* a, int M) { use->kernels->prefix(a, M); }
void ToRows(const uint32_t* a, int have, int len, uint16_t* w) {
  use->kernels->toRows(a, have, len, w);
}
void FromRows(const uint16_t* w, int have, int len, uint32_t* a) {
  use->kernels->fromRows(w, have, len, a);
}
void Factor(const uint32_t* a, int G, uint16_t* g, uint16_t* gs) {
  use->kernels->factor(a, G, g, gs);
}
void Steps(uint16_t* w, int len, int r, const uint16_t* const* g, const uint16_t* const* gs,
           uint16_t* c) {
  use->kernels->steps(w, len, r, g, gs, c);
}

uint32_t Binom(long long a, long long b) { return use->poly->binom(a, b); }
uint32_t Interp(const std::vector<uint32_t>& h, long long x, size_t from, size_t to) {
  return use->poly->interp(h, x, from, to);
}
void Recur(uint32_t* a, int from, int to, int D, int s, int zl) {
  use->poly->recur(a, from, to, D, s, zl);
}
void Lagrange(uint32_t* a, int d, int T, uint32_t* b, int db) {
  use->poly->lagrange(a, d, T, b, db);
}
std::vector<long long> Cyclic(const std::vector<int>& a, const std::vector<int>& b) {
  return use->poly->cyclic(a, b);
}
std::vector<uint32_t> Sums(const uint32_t* a, int R, long long k) {
  return use->poly->sums(a, R, k);
}
void Lengthen(std::vector<uint32_t>& a, int to, long long z, int zl, std::vector<uint32_t>* b,
              long long zb, int zlb) {
  use->poly->lengthen(a, to, z, zl, b, zb, zlb);
}
void MulLengthened(uint32_t* into, int from, int to, const std::vector<uint32_t>& a, long long z,
                   std::mutex* guard) {
  use->poly->mulLengthened(into, from, to, a, z, guard);
}
