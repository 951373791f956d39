// Passes over tables of residues mod P, written so that g++ vectorises them at -O3: a pointwise
// product, powers m^L, and an exclusive prefix sum scanned inside vector registers. Every input
// and output entry is a residue in [0, P).
#pragma once

#include <cstdint>

// a[m] = a[m] * b[m] mod P for m < M.
void Mul(uint32_t* __restrict a, const uint32_t* __restrict b, int M);

// r[m] = (m mod P)^L mod P for m < M (0^0 = 1).
void Pow(uint32_t* r, int M, int L);

// a[m] = sum_{i<m} a[i] mod P for m < M (exclusive prefix sums).
void Prefix(uint32_t* a, int M);

// A step up the tree on residues held in 16 bits: a[m] = c + sum_{i<m} g[i] a[i] mod P for
// m < M, and c += sum_{i<M} g[i] a[i] mod P (exclusive prefix sums of a pointwise product,
// carried on from the entries before a[0]). gs[i] = Shoup(g[i]), see below. O(M).
void Step(uint16_t* __restrict a, const uint16_t* __restrict g, const uint16_t* __restrict gs,
          int M, uint16_t& c);

// g[i] = a[i] for i < len, and gs[i] = floor(g[i] 2^16 / P), which turns a product by g[i] mod P
// into two 16-bit multiplications and a correction.
void Shoup(const uint32_t* a, uint16_t* g, uint16_t* gs, int len);
