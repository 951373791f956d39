// Reading "dravok.in" into the tree model, with an exact error for every malformed file.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>

#include "blocks.h"
#include "dravok.h"
#include "pieces.h"
#include "tokens.h"
#include "tree.h"

int n, K, root;
std::vector<int> t, sons;

namespace {

// "dravok.in:LINE:COL: " for byte offset pos: a line ends at \n, at \r, or at both together;
// columns count bytes. The bytes that cuts put back count as if they stood in the text. O(pos),
// paid only once, on the error path.
std::string Where(std::string_view in, size_t pos, const std::vector<Cut>* cuts) {
  long long line = 1, col = 1;
  size_t k = 0;
  for (size_t i = 0;; i++) {
    for (; cuts && k < cuts->size() && (*cuts)[k].at == i; k++) {
      const Cut& c = (*cuts)[k];
      line += c.lines, col = c.tail < c.bytes ? c.tail + 1 : col + c.bytes;
    }
    if (i == pos) break;
    if (in[i] == '\r' || in[i] == '\n') {
      line += in[i] == '\r' || i == 0 || in[i - 1] != '\r', col = 1;
    } else {
      col++;
    }
  }
  return "dravok.in:" + std::to_string(line) + ":" + std::to_string(col) + ": ";
}

// The token as it may stand on one line of an error: printable ASCII kept, other bytes as
// \xHH, cut after 24 bytes.
std::string Show(std::string_view tok) {
  std::string s = "\"";
  for (size_t i = 0; i < tok.size() && i < 24; i++) {
    unsigned char c = static_cast<unsigned char>(tok[i]);
    if (c == '"' || c == '\\') s += '\\';
    if (c >= 0x20 && c < 0x7f) {
      s += static_cast<char>(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      s += hex;
    }
  }
  return s + (tok.size() > 24 ? "\"..." : "\"");
}

// The k / 2 pairs (parent, child) at pc go into t, in order. The stores hit random places: a
// loop that only prefetches a thousand of them, then one that stores, keeps many cache misses
// in flight where one store per pair would wait for each. Counted for sons, which is counted
// from t once all are stored: pairs with parent 0 in z, and at once a parent whose pair a later
// pair for the same child takes the place of (rare: the miss is the one the store takes).
void Store(const int* pc, int k, long long& z) {
  for (int b = 0; b < k; b += 2048) {
    const int e = std::min(k, b + 2048);
    for (int j = b; j < e; j += 2) __builtin_prefetch(&t[size_t(pc[j + 1])], 1);
    for (int j = b; j < e; j += 2) {
      int& x = t[size_t(pc[j + 1])];
      if (x) sons[size_t(x)]++;
      x = pc[j], z += pc[j] == 0;
    }
  }
}

}  // namespace

// The error line for a failed Num at pos: where, what was expected, and what stood there.
std::string Bad(std::string_view in, size_t pos, const std::vector<Cut>* cuts,
                const std::string& what, long long lo, long long hi) {
  size_t e = pos;
  while (e < in.size() && !Space(in[e])) e++;
  return Where(in, pos, cuts) + "expected " + what + ", a whole number from " + std::to_string(lo) +
         " to " + std::to_string(hi) + ", found " +
         (e == pos ? std::string("the end of the file") : Show(in.substr(pos, e - pos)));
}

namespace {

// The pairs parsed, handed to Store in batches: here, or for a large tree on the other core
// while this one parses on. Batches pass through a ring of `slots`, written here and stored
// there in the order they were parsed, so later pairs still overwrite earlier ones.
class PairStore {
 public:
  static constexpr int batch = 1 << 13;  // ints of pairs in a batch
  PairStore(bool store, bool apart);
  ~PairStore() { Finish(); }
  int* Slot() { return &ring[size_t(made.load(std::memory_order_relaxed) % slots) * 2 * batch]; }
  void Hand(int k);    // the k ints at Slot() are pairs to store
  long long Finish();  // waits for every store; the pairs with parent 0

 private:
  static constexpr int slots = 8;
  void Serve();  // the other core's loop
  const bool store;
  std::vector<int> ring, len = std::vector<int>(slots);
  std::atomic<long> made{0}, used{0};  // batches handed over, batches stored
  std::atomic<bool> fin{false};
  long long zero = 0;
  std::thread stores;
};

PairStore::PairStore(bool store_, bool apart) : store(store_) {
  ring.resize(size_t(apart ? slots : 1) * 2 * batch);
  if (apart) stores = Spawn([this] { Serve(); });  // none to be had: stores made here
}

void PairStore::Serve() {
  for (long b = 0;; b++) {
    while (made.load(std::memory_order_acquire) <= b && !fin.load(std::memory_order_acquire))
      std::this_thread::yield();
    if (made.load(std::memory_order_acquire) <= b) return;
    Store(&ring[size_t(b % slots) * 2 * batch], len[size_t(b % slots)], zero);
    used.store(b + 1, std::memory_order_release);
  }
}

void PairStore::Hand(int k) {
  if (!stores.joinable()) {
    if (store) Store(ring.data(), k, zero);
    return;
  }
  const long b = made.load(std::memory_order_relaxed);
  len[size_t(b % slots)] = k;
  made.store(b + 1, std::memory_order_release);
  while (b + 1 - used.load(std::memory_order_acquire) >= slots) std::this_thread::yield();
}

long long PairStore::Finish() {
  fin.store(true, std::memory_order_release);
  if (stores.joinable()) stores.join();
  return zero;
}

// sons[v], v >= 1, adds the nodes (0 among them) that t gives v as their parent to the pairs
// that named v but lost their child to a later pair. Counted by parent block (see ByBlocks), in
// a spare array that the renumbering takes next. O(n).
void CountSons() {
  std::vector<int> parents;
  if (size_t(n) + 1 >= groupFrom) Borrow(parents, size_t(n) + 1);
  ByBlocks<1>(
      0, size_t(n) + 1, size_t(n) + 1, parents, [](size_t j) { return t[j]; },
      [](int* parent, size_t j) { *parent = t[j]; },
      [](const int* parent) { sons[size_t(*parent)] += *parent != 0; });
  Spare(parents);
}

// The error for number `index` of the pair list (from 0), which failed at pos.
std::string ListError(std::string_view in, size_t pos, const std::vector<Cut>* cuts,
                      long long index) {
  const std::string what = std::string(index % 2 ? "the child" : "the parent") + " of pair " +
                           std::to_string(index / 2 + 1) + " of " + std::to_string(n - 1);
  return Bad(in, pos, cuts, what, 0, n);
}

// The pair list from pos on, in order on one core (the stores on another for a large tree),
// into t and sons (when the text fits it, else it must fail), and the pairs with parent 0 in z.
// "" or the error.
std::string InOrder(std::string_view in, size_t pos, bool fits, void (*consumed)(size_t pos),
                    const std::vector<Cut>* cuts, long long& z) {
  PairStore store(fits, cores > 1 && fits && n >= 1 << 20);
  int* pc = store.Slot();
  int k = 0, bad = 0;  // bad: the pair that failed, if any
  bool okp = true;
  for (int i = 1; i < n && !bad; i++) {
    okp = Num(in, pos, 0, n, pc[k]);
    if (!okp || !Num(in, pos, 0, n, pc[k + 1])) bad = i;
    if (!bad && ((k += 2) == 2 * PairStore::batch || i == n - 1)) {
      store.Hand(k), pc = store.Slot(), k = 0;
      if (consumed) consumed(pos);
    }
  }
  z = store.Finish();
  return bad ? ListError(in, pos, cuts, 2LL * (bad - 1) + okp) : "";
}

// After ReadPieces: t[c] = p for each pair (p, c) in order, grouped by the child's block so that
// the stores to t stay in the cache, in sons as room (emptied again after). O(n).
void Link(const std::vector<int>& parents, const std::vector<int>& children) {
  ByBlocks<2>(
      0, size_t(n) - 1, size_t(n) + 1, sons, [&](size_t i) { return children[i]; },
      [&](int* pair, size_t i) { pair[0] = parents[i], pair[1] = children[i]; },
      [](const int* pair) { t[size_t(pair[1])] = pair[0]; });
  Split(0, sons.size(), [](size_t lo, size_t hi) {
    std::fill(sons.begin() + long(lo), sons.begin() + long(hi), 0);
  });
}

// After ReadPieces: the nodes that no pair names as a child get parent 0. Returns how many
// there are: 2 unless a child was named twice (n + 1 entries, n - 1 pairs). O(n), on every core.
long long Settle() {
  std::atomic<long long> unnamed{0};
  Split(0, t.size(), [&](size_t lo, size_t hi) {
    long long u = 0;
    for (size_t v = lo; v < hi; v++)
      if (t[v] < 0) t[v] = 0, u++;
    unnamed += u;
  });
  return unnamed;
}

}  // namespace

// O(length of the text) time; memory O(n) only once the text has proved long enough to hold
// the n - 1 pairs it announces, so a huge n in a short file never allocates.
std::string Parse(std::string_view in, void (*consumed)(size_t pos), const std::vector<Cut>* cuts) {
  n = K = root = 0;
  t = std::vector<int>(1, 0);  // fresh, so a failed parse holds no memory of an earlier one
  sons = std::vector<int>(1, 0);
  size_t pos = 0;
  while (pos < in.size() && Space(in[pos])) pos++;
  if (pos == in.size()) return "";  // no number at all: the empty problem
  const long long big = 2147483647;
  if (!Num(in, pos, 0, big, n)) return Bad(in, pos, cuts, "n", 0, big);
  if (!Num(in, pos, 0, big, K)) return Bad(in, pos, cuts, "K", 0, big);
  // Each of the 2(n - 1) numbers to come needs a digit and a whitespace byte before it; a
  // shorter rest of the text must fail inside the pair list, before any store is needed.
  const bool fits = static_cast<long long>(in.size() - pos) >= 4LL * (n - 1);
  const bool pieces = fits && cores > 1 && n >= readPiecesFrom && !cuts;
  const bool linked = pieces && n >= linkPiecesFrom;
  if (fits) {
    Huge(t, size_t(n) + 1, pieces ? -1 : 0), Huge(sons, size_t(n) + 1, 0);
    if (!linked) Prepare(size_t(n) + 2);  // else the pairs' two arrays serve the renumbering
  }
  long long z = 0;
  if (pieces) {
    std::vector<int> parents, children;
    if (linked) Borrow(parents, size_t(n) - 1), Borrow(children, size_t(n) - 1);
    const PiecesResult r = ReadPieces(in, pos, consumed, linked ? parents.data() : nullptr,
                                      linked ? children.data() : nullptr);
    if (r.end < 2LL * (n - 1)) return ListError(in, r.failed ? r.failedAt : in.size(), cuts, r.end);
    z = r.zero;
    if (linked) Link(parents, children), Spare(parents), Spare(children);
    if (Settle() != 2) {  // a child named twice: the last pair naming it wins, found on one core
      std::fill(t.begin(), t.end(), 0), z = 0;
      if (std::string e = InOrder(in, pos, true, nullptr, cuts, z); !e.empty()) return e;
    }
  } else if (std::string e = InOrder(in, pos, fits, consumed, cuts, z); !e.empty()) {
    return e;
  }
  if (fits) CountSons();
  sons[0] = int(z);
  for (int v = 1; v <= n && !root; v++)
    if (t[v] == 0) root = v;
  return "";
}

namespace {

// The mapping of "dravok.in" while it is parsed, and how much of it has been handed back.
const char* base;
size_t given;

// Hands back the pages of the mapping that the parser has passed, every 4 MiB, so a file of
// gigabytes never stays resident as a whole. Read again (the error path looks back for the
// line number), they are paged in anew from the file.
void Release(size_t pos) {
  const size_t page = 4096, step = size_t(4) << 20;
  size_t upto = pos / page * page;
  if (upto < given + step) return;
  madvise(const_cast<char*>(base) + given, upto - given, MADV_DONTNEED);
  given = upto;
}

// A mapped file that shrinks while it is read faults on the pages it lost (SIGBUS). That is
// reported like any failed read, with the one call a signal handler may make, and ends the
// run with status 1; "dravok.out" was emptied at the start and stays empty.
void Shrunk(int) {
  static const char msg[] = "dravok: cannot read dravok.in: it shrank while it was read\n";
  if (write(2, msg, sizeof msg - 1) < 0) _exit(1);
  _exit(1);
}

}  // namespace

namespace {

// The stream on fd, gathered (see Gather) in pieces of 64 KiB. "" or the error.
std::string Take(int fd, Gather& g) {
  std::vector<char> piece(size_t(1) << 16);
  for (bool more = true; more;) {
    const ssize_t k = read(fd, piece.data(), piece.size());
    if (k < 0 && errno == EINTR) continue;
    if (k < 0) return std::string("cannot read dravok.in: ") + std::strerror(errno);
    more = k > 0;
    for (ssize_t i = 0; i < k && more; i++) more = g.Add(piece[size_t(i)]);
  }
  g.End();
  return "";
}

}  // namespace

// A regular file is mapped and parsed in place; anything else (a pipe, a device, a /proc file,
// or a file that cannot be mapped) is read as a stream, only as far as the problem reaches.
std::string Read(std::string& note) {
  int fd = open("dravok.in", O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT) return std::string("cannot open dravok.in: ") + std::strerror(errno);
    note = "dravok.in not found; answering 0 for the empty problem";
    return Parse("");
  }
  struct stat st {};
  void* map = MAP_FAILED;
  size_t size = 0;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    size = size_t(st.st_size);
    map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  }
  Gather g;
  std::string e;
  std::string_view in;
  struct sigaction bus = {}, old = {};
  bus.sa_handler = Shrunk;
  if (map != MAP_FAILED) {
    madvise(map, size, MADV_SEQUENTIAL);
    base = static_cast<const char*>(map), given = 0;
    in = std::string_view(base, size);
    sigaction(SIGBUS, &bus, &old);
    e = Parse(in, Release);
  } else {
    e = Take(fd, g);
    if (!e.empty()) return close(fd), e;
    in = g.text;
    e = Parse(in, nullptr, &g.cuts);
  }
  if (e.empty() && n == 0 && K == 0 && in.find_first_not_of(" \t\n\r\v\f") == std::string::npos)
    note = "dravok.in holds no numbers; answering 0 for the empty problem";
  if (map != MAP_FAILED) munmap(map, size), sigaction(SIGBUS, &old, nullptr);
  close(fd);
  return e;
}
