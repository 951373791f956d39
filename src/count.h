// The count's machinery (see count.cpp for the method): a table under way as one record, the
// pool of tables, the factors kept from batch to batch, and Counter, which owns all the state
// of one call of Df. Two Counters share nothing mutable but what they are given: they read the
// renumbering (at, pp, zs) and draw on Huge's spare arrays and the kept second thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "dravok.h"
#include "threads.h"

// The entries that fix a table of a subtree of z nodes (or a product of degree z), up to M:
// z + 1 for z < P, P (z div P + 1) for z < P^2 (see Lengthen), M beyond; at least 256, as passes
// over so few cost less than lengthening the table later (measured: 64 and 1024 were slower on
// random trees of 10^6 nodes).
int Need(long long z, int M);

// A table under way: values is 0 on [0, zeros) and a polynomial of degree `degree` (see poly.h).
// It becomes the table of index `node` once the steps that wait on it are run, lowest node
// first: pairs (the table of the product of that node's light children, -1 for none or -2 for
// a factor found among the kept ones; its leaf children). `light` holds the product of node's
// parent's small light children, while it waits for more.
struct Table {
  std::vector<uint32_t> values;
  int zeros = 0, degree = 0, node = -1, light = -1;
  std::vector<int> steps;
  size_t stepEntries = 0;  // entries that the light products in steps hold
  int batchValues = 0;     // the values of the waiting batch's first step
  // Left by rows after a batch while the next has as many values (rowValues > 0): entries from
  // rowFrom on, period p's blocks from slot p (G + 64) of rows (see Counter::Blocks).
  int rowValues = 0, rowFrom = 0;
  std::vector<uint16_t> rows;
};

// Tables by number; the spare ones keep their memory for the next use, up to `kept` entries
// (a larger one is handed back: on a tree of 10^8 nodes they would hold gigabytes). A number
// stays valid, a reference only until the next Get.
class TablePool {
 public:
  static constexpr size_t kept = size_t(1) << 22;
  int Get();  // a spare table or a new one, with no light product and not by rows
  void Free(int b);
  // Every table spare again, for another count: each keeps the memory of at most `reused`
  // entries (32 KiB: the tables that grow most often are smaller), so a pool left for later
  // holds O(tables * reused).
  static constexpr size_t reused = size_t(1) << 13;
  void Reset();
  Table& operator[](int b) { return tables[size_t(b)]; }

 private:
  std::vector<Table> tables;
  std::vector<int> spare;
};

// A factor of a step in 16 bits by rows with its Shoup quotients (see Factor in kernels.h), at
// values and quotients; null values for a factor 1 (a node with one child).
struct Rows {
  const uint16_t* values;
  const uint16_t* quotients;
};

// Factors kept from batch to batch, since they repeat: powers m^l (a node over l leaves) in
// 32 bits for l < 64, and by rows at the G values they were laid out for; small light products
// at a whole period, by rows, keyed by their first values and l (at most 128: they hold 99% of
// the lookups on a deep random tree of 4*10^5 nodes).
class KeptFactors {
 public:
  static constexpr int Q = P + 64;      // slots of a factor by rows, and as many of its quotients
  const uint32_t* Power(int l, int G);  // m^l at G <= P values
  bool Fresh(int l, int G) const;       // whether PowerRows(l, G) would lay it out anew
  Rows PowerRows(int l, int G);         // m^l by rows, l < 64
  bool Find(const std::vector<uint32_t>& key, Rows& rows) const;
  // Rows of 2Q slots, taken (left null) if kept.
  void Keep(const std::vector<uint32_t>& key, std::unique_ptr<uint16_t[]>& rows);

 private:
  std::vector<std::vector<uint32_t>> powers = std::vector<std::vector<uint32_t>>(64);
  std::vector<uint32_t> bigPower;  // m^l for the last l >= 64 asked for
  std::vector<std::vector<uint16_t>> powerRows = std::vector<std::vector<uint16_t>>(64);
  std::vector<int> powerRowsAt = std::vector<int>(64, 0);  // the G each was laid out for
  std::map<std::vector<uint32_t>, std::unique_ptr<uint16_t[]>> products;
};

// One call of Df: the tables of v's subtree, children before parents (see count.cpp).
class Counter {
 public:
  Counter(int i, int M);  // for the subtree of index i (see tree.h)
  ~Counter();             // waits for the light subtrees forked, if Run did not
  Counter(const Counter&) = delete;
  Counter& operator=(const Counter&) = delete;
  std::vector<uint32_t> Run(int* zeros = nullptr);  // its table at M values, and its leading 0s

  // Light subtrees of at least this many nodes are counted apart, on any core (see Run); 2^13
  // (the tests lower it, to fork on small trees).
  static int apartFrom;
  // The large light children of a node of at least this many values are multiplied together
  // by octaves of degree, of a smaller one at its values at once (see Product); 2^21 (the tests
  // lower it).
  static int octavesFrom;

 private:
  // A light subtree counted apart: its table (below P nodes), or the product it joins.
  struct Product;
  struct Apart {
    int node;
    TaskRef task;
    std::vector<uint32_t> values;
    int zeros = 0;
    Product* product = nullptr;
  };
  // A table of a light child of P nodes or more, or a product of such: values at Need(degree)
  // (its own, not its parent's), 0 on [0, zeros).
  struct Part {
    std::vector<uint32_t> values;
    int zeros = 0;
    long long degree = 0;
  };
  // The product of a node's light children of P nodes or more (counted apart, or on one core
  // by the walk). Lengthening each child to the node's values cost the most of a random tree of
  // 10^8 nodes (a node there has a dozen such children, of halving sizes), so the children are
  // multiplied together at the values their own product needs: one of like degree as each
  // comes, the rest smallest first once all are in (Whole), and the product is lengthened to the
  // node's values once, as it joins the node's table.
  struct Product {
    std::mutex mu;            // guards parts
    std::vector<Part> parts;  // at most one of each octave of degree while children come
    int waiting = 0;          // children the walk has not reached
    // Multiplies child in with any part of its octave, at most len values (the node's).
    void Join(Part child, int len);
    // Below octavesFrom values: multiplies child into the one part, made at len values.
    void JoinAtLen(Part child, int len);
    Part Whole(int len);  // the product of the parts, once every child has joined
  };
  static void Merge(Part& a, Part& b, int len);
  void FindApart();
  void ForkApart();
  int JoinApart();

  // The walk's steps (count.cpp).
  int LeafChildren(int i) const;
  int LeafOnly(int i, int l);
  void JoinHeavyPath(int b, int i, int l);
  void JoinParent(int b, int i);
  // Light children joining their parent (light.cpp).
  void Fold(int into, int b, int len);
  void JoinLight(int b, int z, int parent);
  // Runs of one-child nodes (chain.cpp).
  int RunLength(int i);
  bool Cheaper(int b, int i, int k);
  void Chain(int b, int i, int k);
  // Batches of heavy-path steps (batch.cpp). A batch under way: its table, its steps (pairs, as
  // in Table::steps), each step's factor by rows, its key if it may be kept, and the rows it is
  // laid out in with the light product to lay out there; and for a batch by rows, what the
  // stages of its pipeline share: stage k runs steps [Cut(k), Cut(k + 1)) over each block.
  struct Batch {
    int table = -1;
    bool byRows = false;
    std::vector<int> steps;
    std::vector<Rows> factor;
    std::vector<std::vector<uint32_t>> key;
    std::vector<std::unique_ptr<uint16_t[]>> laidOut;  // 2Q slots each, or none
    std::vector<const uint32_t*> layOut;
    int from = 0, T = 0, G = 0, r = 0, stages = 1, blocks = 0;
    uint16_t* rows = nullptr;
    std::vector<std::atomic<int>> done;  // the blocks each stage is done with
    struct Scratch {
      std::vector<const uint16_t*> gv, gq;  // its steps' factors at the block
      std::vector<uint16_t> carry;          // its steps' sums so far
    };
    std::vector<Scratch> own;
    std::vector<TaskRef> later;  // the stages forked
    int Cut(int k) const { return int(1LL * r * k / stages); }
  };
  // What a Counter leaves for the next one on its thread: its tables' memory, the factors it
  // kept (they are the same for any subtree) and its spare batches. The light subtrees counted
  // one after another would otherwise allocate them anew: tens of thousands of blocks of 1 to
  // 32 KiB on a random tree of 10^7 nodes, each taking the heap's lock that the other core may
  // hold (one heap for every thread: see main.cpp).
  struct Workspace {
    TablePool pool;
    KeptFactors keptFactors;
    std::vector<std::unique_ptr<Batch>> spareBatches;
    std::vector<std::unique_ptr<uint16_t[]>> spareRows;  // laid-out rows not in use (2Q slots)
  };
  static thread_local std::vector<std::unique_ptr<Workspace>> spareWorkspaces;  // left here
  static std::unique_ptr<Workspace> TakeWorkspace();
  static void LeaveWorkspace(std::unique_ptr<Workspace> workspace) noexcept;
  void Flush(int b, bool stay = false);
  void Settle(size_t k);
  size_t UnderWay(int b) const;
  bool Follows(const Batch& c);
  bool ByRows(int b, const std::vector<int>& s, int T);
  void FindKept(Batch& c, int G);
  void LengthenFactors(int b, const std::vector<int>& s, int T);
  int StepsByEntries(int b, const std::vector<int>& s, int T);
  int Factors(Batch& c, int T);
  void LayOut(Batch& c, int from, int to);
  void StepsByRows(Batch& c, bool laid);
  void StageBlock(Batch& c, int k, int u, int len, int o);
  void Stage(Batch& c, int k);
  void Plain(int b);
  template <class F>
  void Blocks(int m, int T, F&& f);

  const int M, lo, hi;
  std::unique_ptr<Workspace> workspace;  // taken from this thread's, left there at the end
  TablePool& pool;
  KeptFactors& keptFactors;
  std::vector<std::unique_ptr<Batch>>& spareBatches;
  std::vector<std::unique_ptr<uint16_t[]>>& spareRows;
  // The nodes whose table is under way (their largest child is done, they are not) with that
  // table: all ancestors of the walk's position, so a stack, the deepest on top; O(log n) deep.
  std::vector<std::pair<int, int>> underWay;
  std::vector<uint32_t> leafTable;  // the table of a node over leafCount leaves only
  int leafCount = -1, leafZeros = 0;
  int runTop;              // the top of the run of one-child nodes last measured
  std::vector<int> apart;  // the light subtrees to count apart, in the order the walk meets them
  size_t nextApart = 0;    // apart[nextApart] is the next to fork
  std::deque<std::unique_ptr<Apart>> forked;  // forked and not yet joined, in the same order
  std::map<int, Product> products;            // by the index of the node they belong to
  // The batches under way, oldest first: at most two, the later stages of one finishing on
  // other cores while the walk goes on (see Settle).
  std::deque<std::unique_ptr<Batch>> running;
};
