// The numbers of "dravok.in": the whitespace between them, the reading of one, and the error
// for one that cannot be read. Shared by the reader on one core and the reader by pieces.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "dravok.h"

// The whitespace between numbers: space, \t, \n, \v, \f and \r.
inline bool Space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The exact path of Num, for a token at pos that the word path does not take.
inline bool Exact(std::string_view in, size_t& pos, long long lo, long long hi, int& x) {
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

// Reads the next whitespace-separated token at pos as an integer in [lo, hi] into x, in
// O(token length). On failure pos is left at the token's start, for Bad. Only digits are
// accumulated, in 64 bits, and the value stops growing past 2^32, so nothing overflows it.
// Inlined into the pair loop, so that pos stays in a register; the rare tokens go to Exact.
inline bool Num(std::string_view in, size_t& pos, long long lo, long long hi, int& x) {
  size_t p = pos;
  while (p < in.size() && Space(in[p])) p++;
  // The common case first, with no branch per byte: 1 to 8 digits and then whitespace, read as
  // one 8-byte word, its first byte the lowest (swapped so on a big-endian machine). A byte is a
  // digit when it is at least '0' and at most '9'; each test is done on all bytes at once with no
  // carry between them, as the sums stay below 0x100 in every byte.
  if (p + 8 <= in.size()) {
    constexpr uint64_t H = 0x8080808080808080ULL, ones = 0x0101010101010101ULL;
    uint64_t w;
    std::memcpy(&w, in.data() + p, 8);
    if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) w = __builtin_bswap64(w);
    uint64_t ge0 = ((w | H) - ones * '0') & ~w & H, gt9 = ((w & ~H) + ones * (0x80 - ':')) & H;
    uint64_t non = ~(ge0 & ~gt9) & H;  // the top bit of each byte that is not a digit
    const size_t k = size_t(non ? __builtin_ctzll(non) : 64) / 8;  // the leading digits
    if (k >= 1 && p + k < in.size() && Space(in[p + k])) {
      uint64_t v = (w - ones * '0') << (8 * (8 - k));  // the digits, behind leading zeros
      v = (v * 10 + (v >> 8)) & 0x00ff00ff00ff00ffULL;
      v = (v * 100 + (v >> 16)) & 0x0000ffff0000ffffULL;
      v = (v * 10000 + (v >> 32)) & 0xffffffffULL;
      if (static_cast<long long>(v) >= lo && static_cast<long long>(v) <= hi) {
        x = static_cast<int>(v), pos = p + k;
        return true;
      }
    }
  }
  pos = p;
  return Exact(in, pos, lo, hi, x);
}

// The error line for a failed Num at pos: where, what was expected, and what stood there.
std::string Bad(std::string_view in, size_t pos, const std::vector<Cut>* cuts,
                const std::string& what, long long lo, long long hi);
