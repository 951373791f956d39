// The tree reachable from root, as Tree() renumbers it: indices 0..s-1 in a preorder that visits
// each node's largest child last, so index i's subtree is [i, i + zs[i]).
#pragma once

#include <cstddef>
#include <functional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

extern std::vector<int> at;  // at[v]: node v's index, -1 if v is not reachable
extern std::vector<int> pp;  // pp[i]: the parent's index, -1 for the root
extern std::vector<int> zs;  // zs[i]: nodes in index i's subtree

// v = count copies of x, in memory backed by huge pages where the system grants them: arrays of
// tens of megabytes read at random then miss the translation cache far less often, and take a
// page fault per 2 MiB instead of per 4 KiB.
// Arrays given back by Spare (the six largest are kept) serve first, so that memory the
// process already holds is used again rather than handed back and asked for anew.
void Huge(std::vector<int>& v, size_t count, int x);
void Spare(std::vector<int>& v);
// For a tree of count nodes, writes four arrays of count ints on the other core while the text
// is parsed, for the pool (from a megabyte each: the first write to a fresh page costs 5 to 10
// us on this kind of machine, a second or two per gigabyte, and a third of a run on a chain of
// 10^6 nodes; a page written once costs nothing more, whichever core wrote it). The next Huge or
// Spare waits for them.
void Prepare(size_t count);

// The cores that reading, renumbering and counting may use at once: 2 where the process may
// run on two processors or more, else 1. The answer does not depend on it (the tests compare
// the two).
extern int cores;

// Starts f on a thread of its own; where the system has no thread to give, returns none (not
// joinable) and f is left to the caller.
template <class F>
std::thread Spawn(F&& f) {
  try {
    return std::thread(std::forward<F>(f));
  } catch (const std::system_error&) {
    return std::thread();
  }
}

// Hands f to the other core's thread, which is started once and kept (it waits a millisecond for
// the next task, then sleeps), and returns at once: true if f runs there, false if it is left to
// the caller (one core, or no thread to be had). Rejoin waits until the task handed over is done.
// For work that comes in many short tasks: starting a thread costs tens of microseconds.
bool Aside(std::function<void()> f);
void Rejoin();

// Runs f(lo, mid) on the other core (Aside) and f(mid, hi) on this one, mid halfway, and waits for
// both; only f(lo, hi) here on one core or below a million. For passes of random accesses to
// distinct places: each core keeps its own cache misses in flight, which nearly halves the pass.
template <class F>
void Halves(size_t lo, size_t hi, F f) {
  if (cores < 2 || hi - lo < size_t(1) << 20) return f(lo, hi);
  const size_t mid = lo + (hi - lo) / 2;
  if (!Aside([&] { f(lo, mid); })) f(lo, mid);
  f(mid, hi);
  Rejoin();
}
