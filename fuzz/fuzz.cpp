// libFuzzer target over the in-memory pipeline: parse a buffer, count, format the answer.
// Traps when an error is not one line naming dravok.in, when an answer is out of range, and
// when a tiny tree's count differs from exhaustive enumeration or the table recursion.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "naive.h"

namespace {

void Check(bool ok, const char* what, const std::string& in) {
  if (ok) return;
  std::fprintf(stderr, "fuzz: %s on input [%s]\n", what, in.c_str());
  std::abort();
}

// The first mode: the bytes as a file. Large trees stop after parsing to keep runs fast.
void AsFile(const std::string& in) {
  std::string e = Parse(in);
  if (!e.empty()) {
    Check(e.rfind("dravok.in:", 0) == 0 && e.find('\n') == std::string::npos, "bad error line", in);
    return;
  }
  if (1LL * n * std::min(n, K) > 200000 || (n > 2000 && K > 0)) return;
  int want = n <= 300 && K <= 1000 ? Df_naive(root)[K] : -1;  // before Count releases sons
  int ans = Count();
  Check(ans >= 0 && ans < P, "answer out of range", in);
  Check(want < 0 || ans == want, "differs from the table recursion", in);
}

// The second mode: the bytes as a tiny tree, n and K up to 8 and pairs in 0..n, so that
// degenerate lists (repeats, cycles, self pairs, node 0) come up all the time.
void AsTree(const uint8_t* d, size_t size) {
  if (size < 2) return;
  int nn = d[0] % 9, KK = d[1] % 9;
  std::vector<std::pair<int, int>> ps;
  std::string in = std::to_string(nn) + " " + std::to_string(KK);
  for (size_t i = 2; int(ps.size()) < nn - 1; i += 2) {
    int p = i < size ? d[i] % (nn + 1) : 0, c = i + 1 < size ? d[i + 1] % (nn + 1) : 0;
    ps.push_back({p, c});
    in += " " + std::to_string(p) + " " + std::to_string(c);
  }
  Check(Parse(in).empty(), "tiny tree rejected", in);
  Check(Count() == count_naive(nn, KK, ps), "differs from enumeration", in);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  AsFile(std::string(reinterpret_cast<const char*>(data), size));
  AsTree(data, size);
  return 0;
}
