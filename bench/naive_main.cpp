// The straightforward program, for the benchmark to measure against: stream input, the table
// recursion with a scan of t per node, tables of K + 1 entries.
#include <fstream>

#include "naive.h"

int main() {
  std::ifstream fin("dravok.in");
  fin >> n >> K;
  t.assign(size_t(n) + 1, 0), sons.assign(size_t(n) + 1, 0);
  for (int i = 1, p = 0, c = 0; i < n && fin >> p >> c; i++) t[c] = p, sons[p]++;
  for (int v = 1; v <= n && !root; v++)
    if (t[v] == 0) root = v;
  std::ofstream("dravok.out") << Df_naive(root)[K] << '\n';
}
