// The tree reachable from root, as Tree() renumbers it: indices 0..s-1 in a preorder that visits
// each node's largest child last, so index i's subtree is [i, i + zs[i]).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "threads.h"

extern std::vector<int> at;  // at[v]: node v's index, -1 if v is not reachable
extern std::vector<int> pp;  // pp[i]: the parent's index, -1 for the root
extern std::vector<int> zs;  // zs[i]: nodes in index i's subtree

// madvise(advice) over the whole units of `unit` bytes (a power of two) within [p, p + bytes).
void Advise(void* p, size_t bytes, size_t unit, int advice);

// v.reserve(count), the room marked for huge pages from 4 MiB on, before it is first written.
void Reserve(std::vector<uint32_t>& v, size_t count);

// v = count copies of x, in memory backed by huge pages where the system grants them: arrays of
// tens of megabytes read at random then miss the translation cache far less often, and take a
// page fault per 2 MiB instead of per 4 KiB. Fresh memory is paged in by every core at once.
// Arrays given back by Spare (the six largest are kept) serve first, so that memory the
// process already holds is used again rather than handed back and asked for anew.
void Huge(std::vector<int>& v, size_t count, int x);
void Spare(std::vector<int>& v);
// v = at least count ints of any value, for room a pass needs for a while (see ByBlocks): a
// spare array if one is large enough, else fresh memory. Given back with Spare.
void Borrow(std::vector<int>& v, size_t count);
// Frees the spare arrays: the count uses none of them, but its tables may take their memory
// (the program keeps freed memory for its next allocations; see main).
void DropSpares();
// For a tree of count nodes, writes two arrays of count ints on the other core while the text
// is parsed, for the pool: with sons and t, which the renumbering gives back, the four arrays it
// uses (a fifth, for a tree whose runs of one-child nodes hold many nodes, is paged in when it
// is needed). From a megabyte each: the first write to a fresh page costs 5 to 10 us on this
// kind of machine, a second or two per gigabyte, and a third of a run on a chain of 10^6 nodes;
// a page written once costs nothing more, whichever core wrote it. The next Huge or Spare waits
// for them.
void Prepare(size_t count);
