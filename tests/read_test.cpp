// The reader: the tree model it builds, and the exact error for each kind of malformed text.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>

#include "blocks.h"
#include "dravok.h"
#include "pieces.h"
#include "threads.h"
#include "tokens.h"

namespace {

using V = std::vector<int>;

TEST(Read, BuildsTheModel) {
  ASSERT_EQ(Parse("1 5"), "");
  EXPECT_EQ(t, V({0, 0}));
  EXPECT_EQ(root, 1);
  ASSERT_EQ(Parse("3 7\n3 1\n3 2\n"), "");
  EXPECT_EQ(t, V({0, 3, 3, 0}));
  EXPECT_EQ(sons, V({0, 0, 0, 2}));
  EXPECT_EQ(root, 3);
  ASSERT_EQ(Parse("4 2  1 2  3 2  1 4"), "");  // the later pair naming 2 wins
  EXPECT_EQ(t, V({0, 0, 3, 0, 1}));
  EXPECT_EQ(sons, V({0, 2, 0, 1, 0}));
  EXPECT_EQ(root, 1);
  ASSERT_EQ(Parse("3 4 1 2 2 3 this is 9 ignored -1 99999999999"), "");
  EXPECT_EQ(t, V({0, 0, 1, 2}));
  EXPECT_EQ(K, 4);
  ASSERT_EQ(Parse("3 1 0 1 2 0"), "");  // parent 0 and child 0 are valid numbers
  EXPECT_EQ(t, V({2, 0, 0, 0}));
  EXPECT_EQ(sons, V({1, 0, 1, 0}));
  EXPECT_EQ(root, 1);
  ASSERT_EQ(Parse("2 1 1 2"), "");
  EXPECT_EQ(Parse("2 1 2 1"), "");
  EXPECT_EQ(root, 2);
}

TEST(Read, WhitespaceAndSigns) {
  ASSERT_EQ(Parse("\t\v\f\r\n 3\r\n+4\t1\v2\f2 \r3\n\n"), "");
  EXPECT_EQ(n, 3);
  EXPECT_EQ(K, 4);
  EXPECT_EQ(t, V({0, 0, 1, 2}));
  ASSERT_EQ(Parse("0002 -0 +01 002"), "");
  EXPECT_EQ(K, 0);
  EXPECT_EQ(t, V({0, 0, 1}));
  for (const char* empty : {"", " ", "\n\t\r\v\f "}) {
    ASSERT_EQ(Parse(empty), "");
    EXPECT_EQ(n, 0);
    EXPECT_EQ(K, 0);
    EXPECT_EQ(root, 0);
  }
}

TEST(Read, MalformedNumbers) {
  EXPECT_EQ(Parse("abc"),
            "dravok.in:1:1: expected n, a whole number from 0 to 2147483647, found \"abc\"");
  EXPECT_EQ(Parse("3\n 4x"),
            "dravok.in:2:2: expected K, a whole number from 0 to 2147483647, found \"4x\"");
  EXPECT_EQ(Parse("-1 5"),
            "dravok.in:1:1: expected n, a whole number from 0 to 2147483647, found \"-1\"");
  EXPECT_EQ(Parse("1 -5"),
            "dravok.in:1:3: expected K, a whole number from 0 to 2147483647, found \"-5\"");
  EXPECT_EQ(Parse("1 2147483648"),
            "dravok.in:1:3: expected K, a whole number from 0 to 2147483647, found \"2147483648\"");
  EXPECT_EQ(Parse("1 99999999999999999999999999999"),
            "dravok.in:1:3: expected K, a whole number from 0 to 2147483647, found "
            "\"999999999999999999999999\"...");
  EXPECT_EQ(Parse("1 - 2"),
            "dravok.in:1:3: expected K, a whole number from 0 to 2147483647, found \"-\"");
  EXPECT_EQ(Parse("1 +-2"),
            "dravok.in:1:3: expected K, a whole number from 0 to 2147483647, found \"+-2\"");
  EXPECT_EQ(Parse("1 3.0"),
            "dravok.in:1:3: expected K, a whole number from 0 to 2147483647, found \"3.0\"");
  EXPECT_EQ(Parse(std::string("1 7\0", 4)),
            "dravok.in:1:3: expected K, a whole number from 0 to 2147483647, found \"7\\x00\"");
  // Found by fuzzing: bytes that are not digits once fed the accumulator and overflowed it.
  std::string ff;
  for (int i = 0; i < 23; i++) ff += "\\xff";
  EXPECT_EQ(
      Parse("1 0" + std::string(30, '\xff')),
      "dravok.in:1:3: expected K, a whole number from 0 to 2147483647, found \"0" + ff + "\"...");
  EXPECT_EQ(Parse("3 4 1 2 99999999999999999999\xff 3"),
            "dravok.in:1:9: expected the parent of pair 2 of 2, a whole number from 0 to 3, found "
            "\"99999999999999999999\\xff\"");
  EXPECT_EQ(
      Parse("1 \"\xff\""),
      "dravok.in:1:3: expected K, a whole number from 0 to 2147483647, found \"\\\"\\xff\\\"\"");
}

TEST(Read, MalformedPairs) {
  EXPECT_EQ(
      Parse("3"),
      "dravok.in:1:2: expected K, a whole number from 0 to 2147483647, found the end of the file");
  EXPECT_EQ(Parse("3 4\n1 2\n"),
            "dravok.in:3:1: expected the parent of pair 2 of 2, a whole number from 0 to 3, found "
            "the end of the file");
  EXPECT_EQ(Parse("3 4\n1 2\n2"),
            "dravok.in:3:2: expected the child of pair 2 of 2, a whole number from 0 to 3, found "
            "the end of the file");
  EXPECT_EQ(
      Parse("3 4\n1 2\n2 4"),
      "dravok.in:3:3: expected the child of pair 2 of 2, a whole number from 0 to 3, found \"4\"");
  EXPECT_EQ(Parse("3 4\n-1 2"),
            "dravok.in:2:1: expected the parent of pair 1 of 2, a whole number from 0 to 3, found "
            "\"-1\"");
  EXPECT_EQ(
      Parse("3 4\n1 x 2 3"),
      "dravok.in:2:3: expected the child of pair 1 of 2, a whole number from 0 to 3, found \"x\"");
  EXPECT_EQ(Parse("0 4 1 1"), "");  // no pairs to read: the rest is never looked at
}

// A count that the text cannot back up fails without allocating for it.
TEST(Read, HugeCountInShortFile) {
  EXPECT_EQ(Parse("2000000000 5 1 2"),
            "dravok.in:1:17: expected the parent of pair 2 of 1999999999, a whole number from 0 to "
            "2000000000, found the end of the file");
  EXPECT_LT(t.capacity(), 1000u);
  EXPECT_EQ(Parse("2000000000 5 1 2 x"),
            "dravok.in:1:18: expected the parent of pair 2 of 1999999999, a whole number from 0 to "
            "2000000000, found \"x\"");
  ASSERT_EQ(Parse("3 1  1 2  2 3"), "");  // the tightest text that holds its pairs
  EXPECT_EQ(t, V({0, 0, 1, 2}));
  ASSERT_EQ(Parse("3 1 1 2 2 3"), "");
  EXPECT_EQ(t, V({0, 0, 1, 2}));
}

// Plain numbers of up to 8 digits are read 8 bytes at a time. Wherever a token falls against
// those 8 bytes and against the end of the text, the outcome must be the same: each text is
// parsed after 0 to 15 spaces (and a line feed, so that the columns of the rest stay put) and
// before 0 to 9 more bytes of whitespace, which the last pair never reaches.
TEST(Read, NumbersAgainstWordAndEndOfText) {
  const char* texts[] = {"3 4 1 2 2 3",
                         "3 4 1 2 2 3\n",
                         "8 1 1 2 1 3 1 4 1 5 1 6 1 7 1 8",
                         "9999999 1 9999999 1",  // 7 digits: the word path, and a long n cut short
                         "12345678 1",           // 8 digits: the whole word
                         "123456789 1",          // 9 digits: not the word path
                         "3 4 1 2 2 00000003",
                         "3 4 1 2 2 00000003x",
                         "3 4 1 2 2 12345678",
                         "3 4 1 2 2 000000003",
                         "3 0001234567 1 2 2 3",
                         "3 0000000000004 1 2 2 3",
                         "3 4 +1 2 -0 3",
                         "3 4 1 2 2 +",
                         "3 4 1 2 2 -",
                         "3 4 1 2 2 3x",
                         "3 4 1 2 2 1234567x",
                         "3 4 1 2 2 1234567",
                         "3 4 1 2 2 4",
                         "3 4 1 2 2\x80",
                         "3 4 1 2 2 3\x00",
                         "2 2147483647 1 2",
                         "2 2147483648 1 2",
                         "1 0 0",
                         "0"};
  for (const char* text : texts) {
    std::string base = "\n" + std::string(text);
    const std::string want = Parse(base);
    const V wt = t, ws = sons;
    for (int k = 0; k < 16; k++)
      for (const char* tail : {"", " ", "\n", "\t\t\t\t\t\t\t\t\t"}) {
        std::string in = std::string(size_t(k), ' ') + base;
        bool ends_short = want.find("the end of the file") != std::string::npos;
        if (!ends_short) in += tail;
        ASSERT_EQ(Parse(in), want) << "[" << in << "]";
        if (!want.empty()) continue;  // after an error the model is not defined
        ASSERT_EQ(t, wt) << "[" << in << "]";
        ASSERT_EQ(sons, ws) << "[" << in << "]";
      }
  }
  EXPECT_EQ(Parse("3 4 1 2 2 +"),
            "dravok.in:1:11: expected the child of pair 2 of 2, a whole number from 0 to 3, "
            "found \"+\"");
  EXPECT_EQ(Parse("2 1234567 1 2"), "");
  EXPECT_EQ(K, 1234567);
}

// Past a million nodes the pairs are stored on another core while the parse goes on, and sons
// is counted from t afterwards. The model must still be the one the pairs give one at a time:
// children named again after a parent or after 0, child 0, parent 0, a last batch of any fill.
// An error in the last pair or the first is reported as in a short text.
TEST(Read, LargeTextsAgainstPairByPair) {
  std::mt19937 g(9);
  for (int nn : {(1 << 20) + 1, (1 << 20) + 12345}) {
    std::vector<std::pair<int, int>> ps;
    for (int v = 2; v <= nn; v++) ps.push_back({int(g() % uint32_t(v - 1)) + 1, v});
    std::shuffle(ps.begin(), ps.end(), g);
    for (int i = 0; i < 3000; i++) {
      auto& [p, c] = ps[g() % ps.size()];
      if (i % 3 == 0) c = int(g() % uint32_t(nn + 1));  // a child again, or 0
      if (i % 3 == 1) p = 0;
      if (i % 3 == 2) c = ps[g() % ps.size()].second, p = int(g() % uint32_t(nn + 1));
    }
    std::string in = std::to_string(nn) + " 5\n";
    V wt(size_t(nn) + 1, 0), ws(size_t(nn) + 1, 0);
    for (auto [p, c] : ps) in += std::to_string(p) + ' ' + std::to_string(c) + '\n';
    for (auto [p, c] : ps) wt[size_t(c)] = p, ws[size_t(p)]++;
    ASSERT_EQ(Parse(in), "") << nn;
    EXPECT_TRUE(t == wt) << nn;
    EXPECT_TRUE(sons == ws) << nn;
    EXPECT_EQ(root, int(std::find(wt.begin() + 1, wt.end(), 0) - wt.begin())) << nn;
    const size_t last = in.rfind(' ', in.size() - 2) + 1;
    const std::string head = "expected the child of pair ", range = ", a whole number from 0 to ";
    EXPECT_EQ(Parse(in.substr(0, last) + "x\n"), "dravok.in:" + std::to_string(nn) + ":" +
                                                     std::to_string(last - in.rfind('\n', last)) +
                                                     ": " + head + std::to_string(nn - 1) + " of " +
                                                     std::to_string(nn - 1) + range +
                                                     std::to_string(nn) + ", found \"x\"");
    const size_t first = in.find(' ', in.find('\n')) + 1;
    EXPECT_EQ(Parse(in.substr(0, first) + "x" + in.substr(first)),
              "dravok.in:2:" + std::to_string(first - in.find('\n')) + ": " + head + "1 of " +
                  std::to_string(nn - 1) + range + std::to_string(nn) + ", found \"x" +
                  std::to_string(ps[0].second) + "\"");
  }
}

// The text a stream leaves for Parse (see Gather), fed a byte at a time until it wants no more.
std::string Streamed(const std::string& in) {
  Gather g;
  for (size_t i = 0; i < in.size() && g.Add(in[i]);) i++;
  g.End();
  return Parse(g.text, nullptr, &g.cuts);
}

// A lone carriage return ends a line, and so does CR LF, once.
TEST(Read, LineEnds) {
  const std::string tail = ", a whole number from 0 to 3, found \"x\"";
  for (auto [in, at] : {std::pair{"3 4\r1 2\r2 x", "3:3"},
                        {"3 4\r\n1 2\r\n2 x", "3:3"},
                        {"3 4\n\r1 2\n\r2 x", "5:3"},
                        {"3 4\r\r\n\n1 2 2 x", "4:7"}}) {
    EXPECT_EQ(Parse(in),
              std::string("dravok.in:") + at + ": expected the child of pair 2 of 2" + tail);
    EXPECT_EQ(Streamed(in), Parse(in)) << in;
  }
}

// Streams against the whole text: the same model, or the same error at the same place, for
// texts full of what a stream's text leaves out (long whitespace runs with every kind of line
// end, long leading zeros, long wrong tokens) and cut off anywhere.
TEST(Read, StreamsAgainstWholeText) {
  std::mt19937 g(17);
  auto pick = [&](int k) { return int(g() % uint32_t(k)); };
  auto gap = [&] {
    std::string s;
    for (int k = pick(4) ? 1 + pick(3) : 60 + pick(140); k--;) s += " \t\n\r\v\f\r\n"[pick(8)];
    return s;
  };
  auto token = [&](int hi) {
    std::string s = pick(6) ? "" : pick(2) ? "+" : "-";
    if (pick(5) == 0) s += std::string(size_t(pick(3) ? 1 + pick(30) : 20 + pick(60)), '0');
    s += std::to_string(pick(8) ? pick(hi + 2) : int(g() >> 1));
    if (pick(12) == 0)
      s += "x\0\xff"
           "9"[pick(4)];
    if (pick(40) == 0) s = std::string(size_t(1 + pick(60)), "9z\0"[pick(3)]);
    return s;
  };
  for (int it = 0; it < 20000; it++) {
    const int nn = pick(7);
    std::string in = gap() + token(nn + 1);
    for (int i = 0; i < 2 * nn + 1; i++) in += gap() + token(nn);
    if (pick(3) == 0) in.resize(size_t(pick(int(in.size()) + 1)));
    if (pick(2)) in += gap();
    const std::string want = Parse(in);
    const V wt = t, ws = sons;
    const int wn = n, wk = K, wr = root;
    ASSERT_EQ(Streamed(in), want) << "[" << in << "]";
    if (!want.empty()) continue;
    ASSERT_TRUE(t == wt && sons == ws && n == wn && K == wk && root == wr) << "[" << in << "]";
  }
}

// Reading in pieces on several cores against reading in order on one: the same model, or the
// same error at the same place, whatever the pieces (1 to 40 bytes, on 2 to 8 threads), for
// random texts with junk, wrong tokens, children named twice (which the pieces leave to one core),
// parent and child 0, the text cut anywhere, and anything after the last pair.
TEST(Read, PiecesAgainstOneCore) {
  std::mt19937 g(23);
  auto pick = [&](int k) { return int(g() % uint32_t(k)); };
  const int was = cores, from = readPiecesFrom, link = linkPiecesFrom;
  const size_t bytes = readPieceBytes, group = groupFrom;
  readPiecesFrom = 2;
  for (int it = 0; it < 4000; it++) {
    linkPiecesFrom = it % 2 ? 2 : link;   // pairs linked into t after, or stored there at once
    groupFrom = it % 4 == 1 ? 1 : group;  // linked by block, or directly
    const int nn = 2 + pick(40);
    std::string in = std::to_string(nn) + (pick(2) ? " 5\n" : "\r\n7 ");
    std::vector<int> child(size_t(nn) + 1);
    for (int v = 0; v <= nn; v++) child[size_t(v)] = v;
    std::shuffle(child.begin(), child.end(), g);
    for (int i = 0; i < nn - 1; i++) {
      const int p = pick(nn + 1), c = pick(8) ? child[size_t(i)] : pick(nn + 1);
      in += std::to_string(p) + " \n\t"[pick(3)] + std::to_string(c) + (pick(4) ? " " : "\r\n  ");
    }
    if (pick(3) == 0) in += pick(2) ? "junk 99999 -1" : "7 8";
    if (pick(4) == 0) in[size_t(pick(int(in.size())))] = "x9 +-"[pick(5)];
    if (pick(4) == 0) in.resize(size_t(pick(int(in.size())) + 1));
    cores = 1;
    const std::string want = Parse(in);
    const V wt = t, ws = sons;
    const int wr = root;
    for (int threads : {2, 3, 4, 8}) {
      cores = threads, readPieceBytes = size_t(1 + pick(40));
      const std::string what = "[" + in + "] in pieces of " + std::to_string(readPieceBytes) +
                               " on " + std::to_string(threads);
      ASSERT_EQ(Parse(in), want) << what;
      if (want.empty()) {
        ASSERT_TRUE(t == wt && sons == ws && root == wr) << what;
      }
    }
  }
  // A larger text, pieces of 4 KiB: a wrong token at every power-of-two offset and next to cuts.
  std::string in = "200000 9\n";
  for (int v = 2; v <= 200000; v++)
    in += std::to_string(pick(v - 1) + 1) + ' ' + std::to_string(v) + '\n';
  std::vector<size_t> at;
  for (size_t o = 1; o < in.size(); o *= 2) at.push_back(o);
  for (size_t o = 9 + 4096; o < in.size(); o += 4096 * 37) at.insert(at.end(), {o - 1, o, o + 1});
  readPieceBytes = 4096;
  // Whole, stored at once and linked after (many blocks, two chunks), and with a child named
  // again by a later pair (the last pair naming it counts): as one core reads them. Then the
  // errors, linked.
  const std::string again = in.substr(0, in.rfind('\n', in.size() - 2) + 1) + "5 777\n";
  for (int k = 0; k < 3; k++) {
    const std::string& text = k == 2 ? again : in;
    linkPiecesFrom = k ? 2 : link, groupFrom = 1;
    cores = 1;
    ASSERT_EQ(Parse(text), "");
    const V wt = t, ws = sons;
    for (int threads : {2, 3, 4, 8}) {
      cores = threads;
      ASSERT_EQ(Parse(text), "");
      ASSERT_TRUE(t == wt && sons == ws) << "whole text on " << threads << ", " << text.size();
    }
  }
  for (size_t o : at) {
    std::string bad = in;
    bad[o] = Space(bad[o]) ? 'x' : bad[o] == '1' ? '-' : 'z';
    cores = 1;
    const std::string want = Parse(bad);
    ASSERT_NE(want, "") << o;
    for (int threads : {2, 3, 4, 8}) {
      cores = threads;
      ASSERT_EQ(Parse(bad), want) << o << " on " << threads;
    }
  }
  cores = was, readPiecesFrom = from, readPieceBytes = bytes, linkPiecesFrom = link;
  groupFrom = group;
}

// What a stream costs: reading stops within the first wrong token or after the last pair, and
// runs that never end (whitespace, leading zeros) are counted, not kept.
TEST(Read, EndlessStreams) {
  // The bytes taken of `times` copies of unit, -1 if all were.
  auto feed = [](Gather& g, const std::string& unit, long long times) {
    for (long long i = 0; i < times * (long long)unit.size(); i++)
      if (!g.Add(unit[size_t(i) % unit.size()])) return i + 1;
    return -1LL;
  };
  Gather zero, yes, blank, zeros;
  EXPECT_EQ(feed(zero, std::string(1, '\0'), 1000), 25);  // /dev/zero: 25 bytes for the error
  EXPECT_EQ(feed(yes, "1\n", 1000), 4);                   // yes 1: n = 1, K = 1
  yes.End();
  EXPECT_EQ(Parse(yes.text, nullptr, &yes.cuts), "");
  EXPECT_EQ(K, 1);
  EXPECT_EQ(feed(blank, "3 4 1 2 2 3", 1), -1);  // the last token ends at what follows
  EXPECT_EQ(feed(blank, " \r\n", 1), 1);
  EXPECT_EQ(feed(zeros, "3 4 \r\n\r\r", 1), -1);
  EXPECT_EQ(feed(zeros, "0", 30000000), -1);
  EXPECT_EQ(feed(zeros, " \r\n", 10000000), -1);
  EXPECT_LT(zeros.text.size() + zeros.cuts.size() * sizeof(Cut), 200u);
  zeros.End();
  EXPECT_EQ(Parse(zeros.text, nullptr, &zeros.cuts),
            "dravok.in:10000004:1: expected the child of pair 1 of 2, a whole number from 0 to "
            "3, found the end of the file");
}

}  // namespace
