// Passes over tables of residues mod P, written so that g++ vectorises them at -O3: a pointwise
// product, powers m^L, and an exclusive prefix sum scanned inside vector registers. Every input
// and output entry is a residue in [0, P).
#pragma once

#include <cstdint>

#include "dravok.h"

// a[m] = a[m] * b[m] mod P for m < M.
void Mul(uint32_t* __restrict a, const uint32_t* __restrict b, int M);

// r[m] = (m mod P)^L mod P for m < M (0^0 = 1).
void Pow(uint32_t* r, int M, int L);

// a[m] = sum_{i<m} a[i] mod P for m < M (exclusive prefix sums).
void Prefix(uint32_t* a, int M);

// Blocks of up to Blk residues held in 16 bits by rows: entry o of a block of len entries sits
// in lane o / S of row o % S, S = ceil(len / lanes) rows, so that each lane holds a run of
// consecutive entries and prefix sums run down the lanes, not across them. Row i, lane k is
// w[i * lanes + k]; a block takes at most len + 64 slots.
constexpr int Blk = 2048;

// w = a[0..have) by rows as a block of len >= have entries (0 past have); and back.
void ToRows(const uint32_t* a, int have, int len, uint16_t* w);
void FromRows(const uint16_t* w, int have, int len, uint32_t* a);

// g = a[0..G) for G <= P by rows, in blocks of min(Blk, G - b) from b = 0, Blk, ..., and
// gs = floor(g 2^16 / P) likewise, which turns a product by g mod P into two 16-bit
// multiplications and a correction. g and gs take G + 64 slots each.
void Factor(const uint32_t* a, int G, uint16_t* g, uint16_t* gs);

// r steps up the tree over one block by rows: for j < r in turn, w[m] = c[j] + sum_{i<m}
// g[j][i] w[i] mod P (exclusive prefix sums of a pointwise product, carried on from the blocks
// before), and c[j] += sum_i g[j][i] w[i] mod P; g[j] and gs[j] null stand for g[j] = 1 (a
// plain prefix sum, which reads no factor). O(r len).
void Steps(uint16_t* w, int len, int r, const uint16_t* const* g, const uint16_t* const* gs,
           uint16_t* c);

// One instruction-set level's copies of the functions above (see levels.h).
struct KernelTable {
  decltype(&Mul) mul;
  decltype(&Pow) pow;
  decltype(&Prefix) prefix;
  decltype(&ToRows) toRows;
  decltype(&FromRows) fromRows;
  decltype(&Factor) factor;
  decltype(&Steps) steps;
};
