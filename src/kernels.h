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
