// dravok: counts the labelings of a rooted tree with values 1..K in which every child's label
// is strictly larger than its parent's, modulo P. The counting is kept apart from file I/O so
// that tests and the fuzzer run the whole pipeline on a text buffer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr int P = 30011;  // prime; P * P < 2^31, so a product of two residues fits in 32 bits

// The tree model, written only by Parse. Node numbers run 1..n; 0 stands for "no node".
extern int n, K;               // node count and largest label
extern std::vector<int> t;     // t[v]: parent of v, 0 if no pair names one (n + 1 entries)
extern std::vector<int> sons;  // sons[v]: how many pairs named v as the parent (n + 1 entries)
extern int root;               // lowest-numbered node without a parent, 0 if none

// Bytes of a stream that were kept out of the text parsed (see Gather): `bytes` of them stood
// before byte `at` of the text, with `lines` line ends among them and `tail` bytes after the last
// \r or \n (all of them if there is none; a \n after a kept \r ends no line but starts one).
struct Cut {
  size_t at;
  long long bytes, lines, tail;
};

// Parses the text of "dravok.in" into the tree model. Returns "" on success, otherwise one
// line "dravok.in:LINE:COL: what was expected" (a line ends at a line feed, a carriage return,
// or the two together). Text holding no number at all gives n = K = 0. If given, `consumed` is
// told now and then that the text before pos will not be read again unless an error is
// reported, and `cuts` (in increasing order of `at`) put back, for the line and column of an
// error, the bytes that a stream's text left out.
std::string Parse(std::string_view in, void (*consumed)(size_t pos) = nullptr,
                  const std::vector<Cut>* cuts = nullptr);

// The part of a stream (a pipe, a device) that Parse needs, taken a byte at a time, so that
// an endless or huge stream costs memory by the tree, not by its length: reading stops after
// the last pair's child or within the first token that cannot be right (its first 25 bytes
// are kept, as much as an error shows). Whitespace past 64 bytes in a run, and leading zeros
// past 25 bytes in a token, are counted in cuts instead of kept. Parse(text, nullptr, &cuts)
// then gives what Parse gives on the whole stream, errors and their places included.
class Gather {
 public:
  bool Add(char c);  // takes the next byte; false once nothing more will be parsed
  void End();        // the stream ended (or no more is wanted)
  std::string text;
  std::vector<Cut> cuts;

 private:
  bool Close();  // a token ends: whether reading goes on
  void Flush();  // the bytes counted in `cut`, if any, go into cuts at the end of text
  Cut cut{0, 0, 0, 0};
  bool cr = false;  // the last byte was a carriage return
  long long tokens = 0, need = 2, nodes = 0;
  // The token under way: whether there is one, bytes of it kept and seen, its significant
  // digits and value (while they fit), and whether it has a sign, a digit, or cannot be right.
  bool in = false, sign = false, digit = false, wrong = false;
  size_t kept = 0, seen = 0, space = 0;  // space: bytes kept of the whitespace run under way
  int significant = 0;
  long long value = 0;
};

// Reads "dravok.in" from the working directory and parses it. Returns "" on success or an
// error line naming the file. A missing file, or one holding no number, is the empty problem
// (n = K = 0, answer 0); `note` then says so, for standard error.
std::string Read(std::string& note);

// Renumbers the nodes reachable from root (through t, from parent to child) in the order Df
// works in. Returns how many there are, root included. Releases sons and t, which the count
// does not read (their memory serves the renumbering's own arrays). Unless `indexed`, `at` (each
// node's index, which Df needs and the count does not) is left empty.
int Tree(bool indexed = true);

// h_v(m) mod P for m = 0..M-1, where h_v(m) counts the labelings of v's subtree with labels
// from m consecutive values. Tree() must have run and v be reachable from root.
std::vector<uint32_t> Df(int v, int M);

// The answer: labelings of the tree reachable from root with labels 1..K, mod P. Releases sons
// and t (through Tree); leaves at empty.
int Count();
