// Reading "dravok.in" into the tree model, with an exact error for every malformed file.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "dravok.h"

int n, K, root;
std::vector<int> t, sons;

namespace {

// The whitespace between numbers: space, \t, \n, \v, \f and \r.
bool Space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// "dravok.in:LINE:COL: " for byte offset pos; lines count line feeds, columns count bytes.
// O(pos), paid only once, on the error path.
std::string Where(std::string_view in, size_t pos) {
  size_t line = 1, start = 0;
  for (size_t i = 0; i < pos; i++)
    if (in[i] == '\n') line++, start = i + 1;
  return "dravok.in:" + std::to_string(line) + ":" + std::to_string(pos - start + 1) + ": ";
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

// Reads the next whitespace-separated token at pos as an integer in [lo, hi] into x, in
// O(token length). On failure pos is left at the token's start, for Bad. Only digits are
// accumulated, in 64 bits, and the value stops growing past 2^32, so nothing overflows it.
bool Num(std::string_view in, size_t& pos, long long lo, long long hi, int& x) {
  while (pos < in.size() && Space(in[pos])) pos++;
  size_t b = pos, d = pos + (pos < in.size() && (in[pos] == '-' || in[pos] == '+'));
  long long v = 0;
  for (pos = d; pos < in.size() && in[pos] >= '0' && in[pos] <= '9'; pos++)
    if (v <= (1LL << 32)) v = v * 10 + (in[pos] - '0');
  if (d > b && in[b] == '-') v = -v;
  if (pos > d && (pos == in.size() || Space(in[pos])) && v >= lo && v <= hi) {
    x = static_cast<int>(v);
    return true;
  }
  pos = b;
  return false;
}

// The error line for a failed Num at pos: where, what was expected, and what stood there.
std::string Bad(std::string_view in, size_t pos, const std::string& what, long long lo,
                long long hi) {
  size_t e = pos;
  while (e < in.size() && !Space(in[e])) e++;
  return Where(in, pos) + "expected " + what + ", a whole number from " + std::to_string(lo) +
         " to " + std::to_string(hi) + ", found " +
         (e == pos ? std::string("the end of the file") : Show(in.substr(pos, e - pos)));
}

}  // namespace

// O(length of the text) time; memory O(n) only once the text has proved long enough to hold
// the n - 1 pairs it announces, so a huge n in a short file never allocates.
std::string Parse(std::string_view in) {
  n = K = root = 0;
  t = std::vector<int>(1, 0);  // fresh, so a failed parse holds no memory of an earlier one
  sons = std::vector<int>(1, 0);
  size_t pos = 0;
  while (pos < in.size() && Space(in[pos])) pos++;
  if (pos == in.size()) return "";  // no number at all: the empty problem
  const long long big = 2147483647;
  if (!Num(in, pos, 0, big, n)) return Bad(in, pos, "n", 0, big);
  if (!Num(in, pos, 0, big, K)) return Bad(in, pos, "K", 0, big);
  // Each of the 2(n - 1) numbers to come needs a digit and a whitespace byte before it; a
  // shorter rest of the text must fail inside the pair list, before any store is needed.
  bool fits = static_cast<long long>(in.size() - pos) >= 4LL * (n - 1);
  if (fits) t.assign(size_t(n) + 1, 0), sons.assign(size_t(n) + 1, 0);
  // Pairs are stored in batches: the stores to t and sons hit random places, and a tight
  // loop of them keeps many cache misses in flight where one store per parsed pair would wait
  // for each. Later pairs still overwrite earlier ones.
  constexpr int batch = 1024;
  int pc[2 * batch], k = 0;
  for (int i = 1; i < n; i++) {
    bool okp = Num(in, pos, 0, n, pc[k]);
    if (!okp || !Num(in, pos, 0, n, pc[k + 1])) {
      std::string what = okp ? "the child" : "the parent";
      return Bad(in, pos, what + " of pair " + std::to_string(i) + " of " + std::to_string(n - 1),
                 0, n);
    }
    if ((k += 2) == 2 * batch || i == n - 1) {
      for (int j = 0; fits && j < k; j += 2) t[pc[j + 1]] = pc[j], sons[pc[j]]++;
      k = 0;
    }
  }
  for (int v = 1; v <= n && !root; v++)
    if (t[v] == 0) root = v;
  return "";
}

std::string Read(std::string& note) {
  std::FILE* f = std::fopen("dravok.in", "rb");
  if (!f) {
    if (errno != ENOENT) return std::string("cannot open dravok.in: ") + std::strerror(errno);
    note = "dravok.in not found; answering 0 for the empty problem";
    return Parse("");
  }
  std::string in;
  char buf[1 << 16];
  size_t k;
  while ((k = std::fread(buf, 1, sizeof buf, f)) > 0) in.append(buf, k);
  bool bad = std::ferror(f);
  int err = errno;
  std::fclose(f);
  if (bad) return std::string("cannot read dravok.in: ") + std::strerror(err);
  std::string e = Parse(in);
  if (e.empty() && n == 0 && K == 0 && in.find_first_not_of(" \t\n\r\v\f") == std::string::npos)
    note = "dravok.in holds no numbers; answering 0 for the empty problem";
  return e;
}
