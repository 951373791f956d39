// The factors kept from batch to batch (see KeptFactors in count.h).
#include <algorithm>

#include "count.h"
#include "kernels.h"

// Kept for l < 64, at up to P values; a larger l is made anew each time. O(G log l) when made.
const uint32_t* KeptFactors::Power(int l, int G) {
  std::vector<uint32_t>& p = l < 64 ? powers[size_t(l)] : bigPower;
  if (l >= 64 || int(p.size()) < G) p.resize(size_t(G)), Pow(p.data(), G, l);
  return p.data();
}

// The layout by rows depends on G, so a power laid out for another G is laid out again.
bool KeptFactors::Fresh(int l, int G) const { return powerRowsAt[size_t(l)] != G; }

Rows KeptFactors::PowerRows(int l, int G) {
  std::vector<uint16_t>& h = powerRows[size_t(l)];
  if (Fresh(l, G)) h.resize(2 * size_t(Q)), Factor(Power(l, G), G, h.data(), h.data() + Q);
  powerRowsAt[size_t(l)] = G;
  return {h.data(), h.data() + Q};
}

bool KeptFactors::Find(const std::vector<uint32_t>& key, Rows& rows) const {
  auto it = products.find(key);
  if (it == products.end()) return false;
  rows = {it->second.get(), it->second.get() + Q};
  return true;
}

// The first 128 are kept; the map's nodes never move, so what Find gave stays valid.
void KeptFactors::Keep(const std::vector<uint32_t>& key, std::unique_ptr<uint16_t[]>& rows) {
  if (products.size() < 128 && !products.count(key)) products.emplace(key, std::move(rows));
}
