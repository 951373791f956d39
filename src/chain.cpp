// Runs of one-child nodes. Node i and the k - 1 nodes above it have one child each, so the
// top's table is k exclusive prefix sums of i's child's table: one convolution (Sums in poly.h)
// where that costs less than k passes.
#include <algorithm>

#include "count.h"
#include "poly.h"
#include "tree.h"

// The one-child nodes from i up (i included), measured once from the lowest node of a run; 0
// if i is inside a run measured before or has not one child.
int Counter::RunLength(int i) {
  if (i >= runTop || zs[size_t(i)] != zs[size_t(i) + 1] + 1) return 0;
  int k = 0;
  while (i - k >= lo && zs[size_t(i - k)] == zs[size_t(i - k) + 1] + 1) k++;
  runTop = i - k + 1;
  return k;
}

// Whether the convolution costs less than the k passes, in units of a pass's entry: a
// transform of 2^16 for every P values and one more, and the sums of rows that follow.
bool Counter::Cheaper(int b, int i, int k) {
  const int z0 = pool[b].zeros + int(pool[b].steps.size()) / 2;
  const int x = Need(zs[size_t(i - k) + 1], M) - z0 - k;
  double rows = x > 0 ? (x + P - 1) / P : 0, conv = (rows + 1) * 4e6 + 2 * rows * rows * P;
  double pass = 0;
  for (int j = 0; j < k && pass <= conv; j++)
    pass += std::max(0, Need(zs[size_t(i - j)], M) - z0 - j - 1);
  return pass > conv;
}

// Table b (of i's child) becomes the table of i - k + 1, the run's top: the waiting steps run
// first; then the sums, by one convolution of O(R log P + R^2 / P) for R values.
void Counter::Chain(int b, int i, int k) {
  Flush(b);
  Table& tab = pool[b];
  const int top = i - k + 1, T = Need(zs[size_t(top)], M), z0 = tab.zeros, x = T - z0 - k;
  if (x > 0) Lengthen(tab.values, T - k, tab.degree, z0);
  std::vector<uint32_t> y = Sums(tab.values.data() + z0, x, k);
  tab.values.assign(size_t(T), 0);
  std::copy(y.begin(), y.end(), tab.values.begin() + std::min(T, z0 + k));
  tab.zeros = std::min(T, z0 + k), tab.degree = zs[size_t(top)];
}
