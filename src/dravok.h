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

// Parses the text of "dravok.in" into the tree model. Returns "" on success, otherwise one
// line "dravok.in:LINE:COL: what was expected". Text holding no number at all gives n = K = 0.
// If given, `consumed` is told now and then that the text before pos will not be read again
// unless an error is reported.
std::string Parse(std::string_view in, void (*consumed)(size_t pos) = nullptr);

// Reads "dravok.in" from the working directory and parses it. Returns "" on success or an
// error line naming the file. A missing file, or one holding no number, is the empty problem
// (n = K = 0, answer 0); `note` then says so, for standard error.
std::string Read(std::string& note);

// Renumbers the nodes reachable from root (through t, from parent to child) in the order Df
// works in. Returns how many there are, root included. Releases sons, which the count does
// not read (its memory serves the count's own arrays).
int Tree();

// h_v(m) mod P for m = 0..M-1, where h_v(m) counts the labelings of v's subtree with labels
// from m consecutive values. Tree() must have run and v be reachable from root.
std::vector<uint32_t> Df(int v, int M);

// The answer: labelings of the tree reachable from root with labels 1..K, mod P.
int Count();
