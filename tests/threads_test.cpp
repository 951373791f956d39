// The pool of threads: every forked task runs exactly once whoever takes it, nested forks and
// joins finish, what a task throws comes out of its Join, Split's pieces tile the range, and
// ByBlocks visits every item once, those of one key in order and never two at once; with as
// many threads as a machine may give (more than this one has) and with one.
#include "threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <stdexcept>
#include <vector>

#include "blocks.h"

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

// For every key, the items that have it, in increasing order: what ByBlocks must visit, key by key.
std::vector<std::vector<size_t>> ByKey_naive(const std::vector<int>& key, size_t keys) {
  std::vector<std::vector<size_t>> items(keys);
  for (size_t j = 0; j < key.size(); j++) items[size_t(key[j])].push_back(j);
  return items;
}

// Random keys (few, one block's worth, many; and one key for all, as a star's parents), in
// buffers of one item to all of them: each item is visited once with what put wrote, the items
// of a key in increasing order, and no key by two threads at once.
TEST(Threads, ByBlocksVisitsEachKeyInOrder) {
  const int was = cores;
  std::mt19937 g(77);
  const size_t from = groupFrom;
  for (int threads : {1, 2, 3, 4})
    for (size_t keys : {size_t(1), size_t(7), size_t(2048), size_t(2049), size_t(1) << 20})
      for (size_t size : {size_t(0), size_t(1), size_t(1000), (size_t(1) << 17) + 3})
        for (size_t room : {size_t(1), size_t(100), size + 1}) {
          if (room < size / 1000) continue;  // a chunk per item: a pass over the blocks each
          cores = threads, groupFrom = room == 100 ? from : 1;  // grouped, or visited directly
          std::vector<int> key(size);
          for (int& k : key) k = int(g() % keys);
          if (g() % 4 == 0) std::fill(key.begin(), key.end(), int(keys - 1));
          std::vector<int> buf(2 * room);
          std::vector<std::atomic<char>> busy(keys);
          std::vector<size_t> when(size, 0);  // 1 + the place of j's visit among all visits
          std::atomic<size_t> visits{0};
          std::atomic<bool> wrong{false};
          ByBlocks<2>(
              0, size, keys, buf, [&](size_t j) { return key[j]; },
              [&](int* slot, size_t j) { slot[0] = key[j], slot[1] = int(j); },
              [&](const int* slot) {
                const size_t k = size_t(slot[0]), j = size_t(slot[1]);
                if (busy[k].exchange(1) || key[j] != slot[0] || when[j]) wrong = true;
                when[j] = ++visits;
                busy[k] = 0;
              });
          const auto items = ByKey_naive(key, keys);
          bool ordered = !wrong;
          for (const auto& list : items)
            for (size_t i = 0; i < list.size() && ordered; i++)
              ordered = when[list[i]] && (i == 0 || when[list[i - 1]] < when[list[i]]);
          ASSERT_TRUE(ordered && visits == size)
              << threads << " threads, " << keys << " keys, " << size << " items, room " << room;
        }
  cores = was, groupFrom = from;
}

}  // namespace
