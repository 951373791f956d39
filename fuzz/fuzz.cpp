// libFuzzer target over the in-memory pipeline: parse a buffer (whole and as a stream), count.
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
  int want = n <= 300 && K <= 1000 ? Df_naive(root)[K] : -1;  // before Count releases t, sons
  int ans = Count();
  Check(ans >= 0 && ans < P, "answer out of range", in);
  Check(want < 0 || ans == want, "differs from the table recursion", in);
}

// The third mode: the bytes as a stream, which must give what the whole text gives.
void AsStream(const std::string& in) {
  Gather g;
  for (size_t i = 0; i < in.size() && g.Add(in[i]);) i++;
  g.End();
  const std::string got = Parse(g.text, nullptr, &g.cuts);
  const std::vector<int> gt = t, gs = sons;
  const int gn = n, gk = K, gr = root;
  const std::string want = Parse(in);
  Check(got == want, "a stream parses otherwise", in);
  Check(!want.empty() || (gt == t && gs == sons && gn == n && gk == K && gr == root),
        "a stream gives another tree", in);
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
  AsStream(std::string(reinterpret_cast<const char*>(data), size));
  AsFile(std::string(reinterpret_cast<const char*>(data), size));
  AsTree(data, size);
  return 0;
}
