// Light children joining their parent. The largest child's table becomes the parent's, steps
// and all (see batch.cpp); the others multiply into it. Small light children (z < P nodes) are
// multiplied together at as many values as their product's degree needs, so that the product
// is lengthened to the parent's values once, not each of them, and joins the parent's step as
// its factor; the large ones, multiplied together first (see Counter::Product), are folded into
// the largest child's table at the parent's values.
#include <algorithm>

#include "count.h"
#include "kernels.h"
#include "poly.h"
#include "tree.h"

// into *= b on [0, len), zeros where either has them; b is then spare. O(len). A table b of P
// nodes or more that holds fewer values is lengthened on the way, not first.
void Counter::Fold(int into, int b, int len) {
  Table &tab = pool[into], &u = pool[b];
  const int z = std::max(tab.zeros, u.zeros);
  std::fill(tab.values.begin() + tab.zeros, tab.values.begin() + z, 0), tab.zeros = z;
  if (int(u.values.size()) < len) {
    MulLengthened(tab.values.data(), z, len, u.values, u.degree);
  } else {
    Mul(tab.values.data() + z, u.values.data() + z, len - z);
  }
  pool.Free(b);
}

// Table b, of a light child of z nodes (its steps run) or a product of degree z of such, joins
// parent's: into the product of the parent's small light children while its degree stays below
// P (lengthened together with it to the product's values), else into the table under way at
// the parent's own values.
void Counter::JoinLight(int b, int z, int parent) {
  const int pb = underWay.back().second, q = pool[pb].light;  // parent's, on top
  if (z < P && (q < 0 || pool[q].degree + z < P)) {
    Flush(b);
    if (q < 0) return void(pool[pb].light = b);
    Table &tab = pool[q], &u = pool[b];
    const int len = Need(tab.degree + z, M);
    Lengthen(tab.values, len, tab.degree, tab.zeros, &u.values, z, u.zeros), Fold(q, b, len);
    pool[q].degree += z;
    return;
  }
  Flush(b), Flush(pb);
  Table &tab = pool[pb], &u = pool[b];
  const int len = Need(zs[size_t(parent)], M);
  // A light child of P nodes or more is lengthened as it is folded in (no table of len made).
  Lengthen(tab.values, len, tab.degree, tab.zeros, z < P ? &u.values : nullptr, z, u.zeros);
  Fold(pb, b, len), pool[pb].degree += z;
}
