// Benchmark: runs dravok (and, where asked, the straightforward program) on generated trees and
// prints a table of wall time, cells (the table entries that filling each node's table one by
// one would take, see Tree), time per cell, and peak memory. Inputs are made
// from a fixed seed, so every run measures the same files. The last two rows write a file of
// about 1.8 GB in the temporary directory (they say so on standard error) and need about 4 GB
// of memory to make it.
//   usage: dravok_bench path/to/dravok [path/to/dravok_naive]
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr long long P = 30011;

// The pairs of a tree of the given shape on n nodes, numbered at random but for the root's 1;
// and the cells the count tabulates one by one: over the nodes that are not leaves, table length
// less leading zeros. A subtree of z nodes is tabulated at min(M, max(z + 1, 256)) values if
// z < P, P (z div P + 1) otherwise, and is 0 below its height (nodes on its longest path down).
std::string Tree(const std::string& shape, int n, long long K, double& cells) {
  std::mt19937 g(20261207);
  std::vector<int> par(size_t(n) + 1, 0), id(size_t(n) + 1), z(size_t(n) + 1, 1), ht = z;
  for (int v = 2; v <= n; v++) {
    if (shape == "random") par[v] = std::uniform_int_distribution<int>(1, v - 1)(g);
    if (shape == "chain") par[v] = v - 1;
    if (shape == "star") par[v] = 1;
    if (shape == "caterpillar") par[v] = v <= (n + 1) / 2 ? v - 1 : v - (n + 1) / 2;
    if (shape == "broom") par[v] = v <= n / 2 ? v - 1 : n / 2;  // a chain over a star
    if (shape == "deep") par[v] = std::max(1, v - 1 - int(g() % 3));
    if (shape == "binary") par[v] = v / 2;
    if (shape == "clumps")  // random trees of 2000 nodes under the root
      par[v] =
          (v - 2) % 2000 ? std::uniform_int_distribution<int>(v - (v - 2) % 2000, v - 1)(g) : 1;
  }
  const long long s = n, x = s < P ? K % P : K, M = x <= s ? x + 1 : s + 1;
  cells = 0;
  for (int v = n; v >= 1; v--) {  // every parent is numbered below its children
    if (v > 1) z[par[v]] += z[v], ht[par[v]] = std::max(ht[par[v]], ht[v] + 1);
    if (ht[v] == 1 && v > 1) continue;
    long long t = z[v] < P ? std::max(z[v] + 1, 256) : P * (z[v] / P + 1);
    cells += double(std::max(0LL, std::min(M, t) - ht[v]));
  }
  for (int v = 0; v <= n; v++) id[v] = v;
  std::shuffle(id.begin() + 2, id.end(), g);
  std::string out = std::to_string(n) + " " + std::to_string(K) + "\n";
  for (int v = 2; v <= n; v++)
    out += std::to_string(id[par[v]]) + " " + std::to_string(id[v]) + "\n";
  return out;
}

// Runs bin in dir, on one processor only if `one` (as taskset -c would: dravok then uses one
// core); returns seconds, sets the peak resident memory in MB and the answer.
double Time(const std::string& bin, const std::string& dir, double& mb, std::string& ans,
            bool one = false) {
  auto t0 = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    cpu_set_t set;
    if (one && sched_getaffinity(0, sizeof set, &set) == 0) {
      int first = 0;
      while (!CPU_ISSET(first, &set)) first++;
      CPU_ZERO(&set);
      CPU_SET(first, &set);
      sched_setaffinity(0, sizeof set, &set);
    }
    if (chdir(dir.c_str()) == 0) execl(bin.c_str(), bin.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int st = 0;
  rusage ru{};
  wait4(pid, &st, 0, &ru);
  double sec = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  mb = double(ru.ru_maxrss) / 1024;
  std::ifstream f(dir + "/dravok.out");
  std::getline(f, ans);
  if (!WIFEXITED(st) || WEXITSTATUS(st) != 0) ans = "failed";
  return sec;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return std::fprintf(stderr, "usage: %s dravok [dravok_naive]\n", argv[0]), 2;
  auto abs = [](const char* p) {  // the programs run in another directory
    char* r = realpath(p, nullptr);
    std::string s = r ? r : p;
    free(r);
    return s;
  };
  std::string bin = abs(argv[1]), naive = argc > 2 ? abs(argv[2]) : "";
  // shape, n, K, and whether to run the straightforward program too
  const std::tuple<const char*, int, long long, bool> cases[] = {
      {"random", 100000, 100, true},
      {"caterpillar", 50000, 50, true},
      {"binary", 10000, 10000, true},
      {"star", 200000, 1000, true},
      {"binary", 30000, 30000, false},
      {"random", 30000, 2147483647, false},
      {"random", 1000000, 50, false},
      {"random", 1000000, 1000000000, false},
      {"chain", 40000, 987654321, false},
      {"chain", 1000000, 50, false},
      {"star", 1000000, 10000, false},
      {"caterpillar", 1000000, 1000, false},
      {"chain", 1, 2147483647, false},
      {"random", 1000000, 20000, false},
      {"clumps", 1000001, 100000, false},
      {"random", 10000000, 20000, false},
      {"random", 10000000, 1000000000, false},
      {"random", 10000000, 50, false},
      {"chain", 10000000, 50, false},
      {"chain", 400000, 2147483647, false},
      {"caterpillar", 400000, 2147483647, false},
      {"broom", 400000, 2147483647, false},
      {"deep", 400000, 2147483647, false},
      {"chain", 1000000, 2147483647, false},
      {"caterpillar", 1000000, 2147483647, false},
      {"broom", 1000000, 2147483647, false},
      {"deep", 1000000, 2147483647, false},
      {"random", 100000000, 50, false},
      {"random", 100000000, 1000000000, false},  // beside the 10^7 row: how the cost grows
  };
  char tmpl[] = "/tmp/dravok_bench_XXXXXX";
  std::string dir = mkdtemp(tmpl);
  cpu_set_t set;
  const int cores = sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
  std::printf(
      "| shape | n | K | answer | cells | 1 core s | %d cores s | gain | ns/cell | peak MB | "
      "straightforward s | speed-up |\n",
      cores);
  std::printf("|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|\n");
  for (auto [shape, n, K, vs] : cases) {
    if (n >= 100000000)
      std::fprintf(stderr, "writing a file of about %.1f GB in %s for the next row\n", 1.8e-8 * n,
                   dir.c_str());
    double cells = 0;
    std::ofstream(dir + "/dravok.in") << Tree(shape, n, K, cells);
    double mb = 0, mb1 = 0, mb2 = 0, best = 1e30, one = 1e30;
    std::string ans, ans1, ans2;
    for (int rep = 0; rep < (n >= 100000000 ? 1 : 3); rep++) {  // one run of the largest
      one = std::min(one, Time(bin, dir, mb1, ans1, true));
      best = std::min(best, Time(bin, dir, mb, ans));
    }
    if (ans1 != ans) ans += " (one core: " + ans1 + "!)";
    char ns[32] = "-";  // per cell only where there are enough cells to say
    if (cells >= 1e6) std::snprintf(ns, sizeof ns, "%.3f", best * 1e9 / cells);
    std::printf("| %s | %d | %lld | %s | %.3g | %.3f | %.3f | %.2fx | %s | %.1f |", shape, n, K,
                ans.c_str(), cells, one, best, one / best, ns, mb);
    if (vs && !naive.empty()) {
      double sec = Time(naive, dir, mb2, ans2);
      std::printf(" %.3f | %.0fx%s |\n", sec, sec / best, ans == ans2 ? "" : " (answers differ!)");
    } else {
      std::printf(" | |\n");
    }
    std::fflush(stdout);
  }
  std::remove((dir + "/dravok.in").c_str());
  std::remove((dir + "/dravok.out").c_str());
  rmdir(dir.c_str());
}
