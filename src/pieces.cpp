// The pair list read on every core at once. The text is cut at whitespace into pieces, taken in
// order by whichever core is free: each piece is parsed into its numbers, then learns from the
// piece before it where they stand in the list (the index of its first number, and the parent
// of a pair that straddles the cut), then stores its pairs. Pieces publish in text order, so the
// first number that fails in text order is the one reported, exactly as on one core.
#include "pieces.h"

#include <algorithm>
#include <atomic>
#include <memory>

#include "threads.h"
#include "tokens.h"

int readPiecesFrom = 1 << 16, linkPiecesFrom = 1 << 24;
size_t readPieceBytes = size_t(1) << 20;

namespace {

// What a piece tells the next, once published: the index of the number after its last (or
// after the last before it), that number's value (the parent of a straddling pair), and whether
// reading stops here: a number failed within the list, or the list is complete.
struct Edge {
  std::atomic<bool> ready{false};
  long long end = 0;
  int last = 0;
  bool stop = false;
};

class Reader {
 public:
  Reader(std::string_view in_, size_t from_, void (*consumed_)(size_t), int* parents_,
         int* children_)
      : in(in_),
        from(from_),
        consumed(consumed_),
        parents(parents_),
        children(children_),
        need(2LL * (n - 1)),
        piece(readPieceBytes),
        count((in.size() - from + piece - 1) / piece),
        edges(new Edge[count]) {}
  void Work();  // takes pieces until none is left or reading stops; on any core
  // Set once all Work is done: where the list ended (need if whole), the failed number's
  // position if one failed, and the pairs with parent 0.
  long long end = 0;
  size_t failedAt = 0;
  bool failed = false;
  std::atomic<long long> zero{0};

 private:
  size_t Cut(size_t j) const;  // where piece j begins: at whitespace or the end
  void Store(const int* pc, long long k, size_t pair);

  const std::string_view in;
  const size_t from;
  void (*const consumed)(size_t);
  int *const parents, *const children;
  const long long need;  // numbers in the list
  const size_t piece;    // bytes of a piece, before it is cut at whitespace
  const size_t count;    // pieces
  std::unique_ptr<Edge[]> edges;
  std::atomic<size_t> next{0};
  std::atomic<bool> stopped{false};
  Signal published;  // a piece is published
};

size_t Reader::Cut(size_t j) const {
  size_t p = std::min(in.size(), from + j * piece);
  while (j && p < in.size() && !Space(in[p])) p++;
  return p;
}

// The k / 2 pairs at pc, pairs number `pair` on of the list, into parents and children if
// given. Else into t, with relaxed atomic stores (two pieces that name one child race, and the
// caller then reads the list again on one core), prefetched as the single-core Store is, so
// that many misses are in flight.
void Reader::Store(const int* pc, long long k, size_t pair) {
  long long z = 0;
  if (parents) {
    for (long long j = 0; j < k; j += 2, pair++)
      parents[pair] = pc[j], children[pair] = pc[j + 1], z += pc[j] == 0;
  } else {
    for (long long b = 0; b < k; b += 2048) {
      const long long e = std::min(k, b + 2048);
      for (long long j = b; j < e; j += 2) __builtin_prefetch(&t[size_t(pc[j + 1])], 1);
      for (long long j = b; j < e; j += 2) {
        __atomic_store_n(&t[size_t(pc[j + 1])], pc[j], __ATOMIC_RELAXED);
        z += pc[j] == 0;
      }
    }
  }
  zero += z;
}

// Each piece: parse (stopping at a number that fails), wait for the piece before, publish, hand
// back the text, store. The wait is short: pieces are taken in order and parse alike.
void Reader::Work() {
  std::vector<int> nums;
  nums.reserve(piece / 2 + 2);  // the numbers of a piece: no allocation once a piece is taken,
                                // so every piece taken is published (the next one waits for it)
  for (size_t j; !stopped.load(std::memory_order_relaxed) && (j = next++) < count;) {
    const size_t b = Cut(j), e = Cut(j + 1);
    nums.assign(1, 0);  // a slot for the parent of a straddling pair
    size_t pos = b, bad = 0;
    bool fail = false;
    for (int x;;) {
      while (pos < e && Space(in[pos])) pos++;
      if (pos >= e) break;
      if (!Num(in, pos, 0, n, x)) {
        fail = true, bad = pos;
        break;
      }
      nums.push_back(x);
    }
    const long long have = static_cast<long long>(nums.size()) - 1;
    long long start = 0;
    int carry = 0;
    if (j) {
      published.Wait([&] { return edges[j - 1].ready.load(std::memory_order_acquire); });
      if (edges[j - 1].stop) {  // reading ended before this piece: the rest need not be read
        edges[j].stop = true, edges[j].ready.store(true, std::memory_order_release);
        stopped = true, published.Wake();
        continue;
      }
      start = edges[j - 1].end, carry = edges[j - 1].last;
    }
    Edge& out = edges[j];
    out.end = std::min(need, start + have), out.last = have ? nums.back() : carry;
    out.stop = (fail && start + have < need) || start + have >= need || j + 1 == count;
    if (out.stop) end = out.end, failed = fail && start + have < need, failedAt = bad;
    if (consumed) consumed(e);  // in text order: every piece before this one is published
    out.ready.store(true, std::memory_order_release);
    published.Wake();
    // This piece's numbers are list entries start.. start + have - 1 (those below need); an
    // odd start makes the first a child, whose parent ended the piece before.
    const long long first = start % 2 ? 0 : 1, upto = std::min(have, need - start);
    nums[0] = carry;
    if (upto > 0) Store(&nums[size_t(first)], (upto + 1 - first) / 2 * 2, size_t(start / 2));
  }
}

}  // namespace

PiecesResult ReadPieces(std::string_view in, size_t pos, void (*consumed)(size_t), int* parents,
                        int* children) {
  Reader reader(in, pos, consumed, parents, children);
  // Every core works the same way, this one too: Split hands out the workers (pieces of one).
  const auto work = [&reader](size_t, size_t) { reader.Work(); };
  Split(0, size_t(cores.load()), work, 1);
  PiecesResult r;
  r.end = reader.end, r.failed = reader.failed, r.failedAt = reader.failedAt;
  r.zero = reader.zero;
  return r;
}
