// The pool of threads: every forked task runs exactly once whoever takes it, nested forks and
// joins finish, what a task throws comes out of its Join, and Split's pieces tile the range; with
// as many threads as a machine may give (more than this one has) and with one.
#include "threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

namespace {

// A task tree of fan-out `fan` and `depth` levels: each task forks its children, joins them
// in a shuffled order, and counts itself in hits[id].
void Grow(std::vector<std::atomic<int>>& hits, int id, int depth, int fan) {
  hits[size_t(id)]++;
  if (!depth) return;
  std::vector<TaskRef> kids;
  for (int c = 0; c < fan; c++)
    kids.push_back(
        Fork([&hits, id, c, depth, fan] { Grow(hits, id * fan + c + 1, depth - 1, fan); }));
  for (int c = 0; c < fan; c++) Join(kids[size_t((c * 7 + id) % fan)]);
}

TEST(Threads, ForkJoinOnEveryThreadCount) {
  const int was = cores;
  for (int threads : {1, 2, 3, 4, 8}) {
    cores = threads;
    const int fan = 4, depth = 5;  // 1365 tasks
    std::vector<std::atomic<int>> hits(1365);
    Grow(hits, 0, depth, fan);
    for (size_t i = 0; i < hits.size(); i++) ASSERT_EQ(hits[i], 1) << i << ", " << threads;
    // A task that throws: Join rethrows it, the others still run.
    std::atomic<int> ran{0};
    TaskRef bad = Fork([&] { ran++, throw std::runtime_error("task failed"); });
    TaskRef good = Fork([&] { ran++; });
    EXPECT_THROW(Join(bad), std::runtime_error);
    Join(good);
    EXPECT_EQ(ran, 2);
  }
  cores = was;
}

TEST(Threads, SplitTilesTheRange) {
  const int was = cores;
  for (int threads : {1, 2, 3, 4, 8})
    for (size_t size : {size_t(0), size_t(1000), (size_t(1) << 20) + 3, (size_t(9) << 19) + 5}) {
      cores = threads;
      std::vector<std::atomic<char>> hit(size + 7);
      std::atomic<int> pieces{0};
      Split(7, size + 7, [&](size_t lo, size_t hi) {
        pieces++;
        for (size_t i = lo; i < hi; i++) hit[i]++;
      });
      for (size_t i = 0; i < hit.size(); i++) ASSERT_EQ(hit[i], i >= 7) << i << ", " << threads;
      EXPECT_LE(pieces, threads);
      EXPECT_LE(size_t(pieces - 1) << 16, size);  // pieces of at least 2^16
    }
  cores = was;
}

}  // namespace
