// Gathering the text of a stream that cannot be mapped (see Gather in dravok.h). What Parse
// reads of a stream is its first 2 max(n, 1) tokens; each token it reads whole, but of a wrong
// one an error shows only the first 24 bytes and whether more follow. So the text keeps every
// token up to the last one needed, and of the first wrong one 25 bytes, and reading stops
// there: /dev/zero fails at once (its first token is NUL bytes), `yes 1` answers at once.
// Positions stay exact: what is left out is counted in cuts, which Parse's error path adds
// back in. O(1) per byte; the text holds at most about 90 bytes per token.
#include <algorithm>

#include "dravok.h"

namespace {

constexpr size_t shown = 25;    // bytes of a token that an error can show: 24 and "..."
constexpr size_t keptRun = 64;  // bytes of a whitespace run kept in the text
constexpr int maxDigits = 10;   // significant digits of the largest value any field takes
constexpr long long big = 2147483647;

bool Space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

bool Gather::Add(char c) {
  if (Space(c)) {
    if (in && !Close()) return false;
    if (space < keptRun) {
      Flush(), text += c, space++, cr = c == '\r';
      return true;
    }
    // Past the kept part of the run: counted, with its line ends (a CR LF pair is one, also
    // when its CR was kept) and the bytes after the last of them, for the next column.
    cut.bytes++;
    const bool end = c == '\r' || (c == '\n' && !cr);
    cut.lines += end, cut.tail = c == '\r' || c == '\n' ? 0 : cut.tail + 1, cr = c == '\r';
    return true;
  }
  if (!in) in = true, sign = digit = wrong = false, kept = seen = 0, significant = 0, value = 0;
  space = 0, cr = false;
  const bool first = seen++ == 0;
  // Leading zeros past what an error shows change neither the value nor the error.
  if (!wrong && !significant && c == '0' && kept >= shown) {
    cut.bytes++, cut.tail++, digit = true;
    return true;
  }
  Flush(), text += c, kept++;
  if (first && (c == '+' || c == '-')) {
    sign = c == '-';
  } else if (c < '0' || c > '9') {
    wrong = true;
  } else {
    digit = true;
    if ((significant || c != '0') && ++significant > maxDigits) wrong = true;
    if (significant && !wrong) value = value * 10 + (c - '0');
  }
  return !(wrong && kept >= shown);
}

bool Gather::Close() {
  in = false;
  const long long hi = tokens < 2 ? big : nodes;
  const bool right = digit && !wrong && (!sign || value == 0) && value <= hi;
  if (++tokens == 1 && right) nodes = value, need = 2 * std::max(value, 1LL);
  return right && tokens < need;
}

void Gather::End() {
  if (in) Close();
  Flush();
}

void Gather::Flush() {
  if (!cut.bytes) return;
  cut.at = text.size(), cuts.push_back(cut);
  cut = Cut{0, 0, 0, 0};
}
