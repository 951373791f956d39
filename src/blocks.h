// Passes of random accesses made local. A pass that, for each item j, reads or writes arrays at
// a key of j's (a node's parent) misses the cache at nearly every item once the arrays outgrow
// it. Grouped by the key's block first (a stable counting sort by the key's top bits, into a
// buffer), the items of one block touch only that block's stretch of the arrays, which stays in
// the cache (and in the translation cache) while they are visited. On a random tree of 10^8
// nodes, placing the children by parent took 0.55 s instead of 1.2 to 1.9 s (10^7: 0.045 s
// instead of 0.14). It pays where the items are many for their keys' range: a breadth-first
// level expanded so, by blocks of the nodes' offsets, was slower at both sizes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "threads.h"

// Keys from this many on are grouped (2^20): below, the arrays they index fit the caches, and
// grouping cost more than it saved (a star of 10^6 nodes, all in one block, took 1.05 times as
// long). The tests lower it.
inline size_t groupFrom = size_t(1) << 20;

// Visits the items j of [lo, hi), whose keys key(j) are below `keys`, ordered by block of keys
// (2^11 blocks at most), items of one block in increasing j. put(slot, j) writes the W ints that
// visit(slot) reads back. The buffer holds the items of a chunk of j (buf.size() / W of them, at
// least one), chunk after chunk; each block of a chunk is visited on one core, the blocks shared
// among the cores by their items, so visits to distinct blocks may run at once and those to one
// block run in order. O(hi - lo + chunks * blocks * cores), sequential passes but the visits.
// Below groupFrom keys each core visits, in increasing j, the items of its range of keys
// instead, in no buffer: O((hi - lo) * cores).
template <int W, class Key, class Put, class Visit>
void ByBlocks(size_t lo, size_t hi, size_t keys, std::vector<int>& buf, Key key, Put put,
              Visit visit) {
  if (keys < groupFrom) {
    return Split(0, keys, [&](size_t from, size_t to) {
      int slot[W];
      for (size_t j = lo; j < hi; j++)
        if (size_t(key(j)) - from < to - from) put(slot, j), visit(slot);
    });
  }
  int shift = 0;
  while (((keys - 1) >> shift) >= size_t(1) << 11) shift++;
  const size_t blocks = ((keys - 1) >> shift) + 1, room = std::max<size_t>(buf.size() / W, 1);
  if (buf.size() < W) buf.resize(W);
  for (size_t a = lo; a < hi; a += room) {
    const size_t b = std::min(hi, a + room);
    const size_t parts = std::clamp<size_t>((b - a) >> 16, 1, size_t(cores.load()));
    const auto from = [&](size_t k) { return a + (b - a) * k / parts; };
    // start[block * parts + k]: where part k's items of the block start in buf, then its cursor
    std::vector<size_t> start(blocks * parts + 1, 0);
    Split(
        0, parts,
        [&](size_t k0, size_t k1) {
          for (size_t k = k0; k < k1; k++) {
            std::vector<size_t> count(blocks, 0);
            for (size_t j = from(k); j < from(k + 1); j++) count[size_t(key(j)) >> shift]++;
            for (size_t x = 0; x < blocks; x++) start[x * parts + k] = count[x];
          }
        },
        1);
    size_t sum = 0;
    for (size_t& x : start) sum += x, x = sum - x;
    Split(
        0, parts,
        [&](size_t k0, size_t k1) {
          for (size_t k = k0; k < k1; k++) {
            std::vector<size_t> next(blocks);
            for (size_t x = 0; x < blocks; x++) next[x] = start[x * parts + k];
            for (size_t j = from(k); j < from(k + 1); j++)
              put(&buf[W * next[size_t(key(j)) >> shift]++], j);
          }
        },
        1);
    // Part k visits the blocks from cut[k] on: those whose items start before its share's end.
    std::vector<size_t> cut(parts + 1, blocks);
    for (size_t k = 0, x = 0; k < parts; k++) {
      while (x < blocks && start[x * parts] < (b - a) * k / parts) x++;
      cut[k] = x;
    }
    cut[0] = 0;
    Split(
        0, parts,
        [&](size_t k0, size_t k1) {
          for (size_t k = k0; k < k1; k++)
            for (size_t e = start[cut[k] * parts]; e < start[cut[k + 1] * parts]; e++)
              visit(&buf[W * e]);
        },
        1);
  }
}
