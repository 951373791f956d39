// The pair list read on every core at once (see pieces.cpp).
#pragma once

#include <cstddef>
#include <string_view>

// Trees of readPiecesFrom nodes or more (2^20) are read in pieces of readPieceBytes bytes (2^20),
// when there is more than one core and the text is mapped whole. The tests lower both.
extern int readPiecesFrom;
extern size_t readPieceBytes;
// Trees of linkPiecesFrom nodes or more (2^24) keep their pairs in order while they are read,
// and link them into t after, by block of children: t of 64 MB or more is written at random far
// faster so. (Below, t fits the caches better and two arrays more, paged in before reading,
// cost more than they save: a star of 10^6 nodes took 1.2 times as long.) The tests lower it.
extern int linkPiecesFrom;

// What ReadPieces found: the index in the list of numbers where reading ended (2 (n - 1) when
// the list is whole), the position of the number that failed there, if one did (else the text
// ran out), and the pairs with parent 0.
struct PiecesResult {
  long long end = 0;
  bool failed = false;
  size_t failedAt = 0;
  long long zero = 0;
};

// Reads the n - 1 pairs from in[pos..]: pair i's parent into parents[i], its child into
// children[i] (arrays of n - 1 ints), for the pairs before reading ended. Without parents, each
// pair's parent goes to its child's entry of t, which must hold -1 for every node (t[c] stays
// -1 for a node c no pair names); where two pairs name one child, which of them wins is not
// fixed. consumed(p), if given, is told in text order that the text before p will not be read
// again. On every core: O(length / cores).
PiecesResult ReadPieces(std::string_view in, size_t pos, void (*consumed)(size_t), int* parents,
                        int* children);
