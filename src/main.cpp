// dravok: reads "dravok.in" in the working directory and writes the number of labelings to
// "dravok.out". Exit status 0 with the answer, or 1 with one line on standard error.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "dravok.h"

static std::FILE* fout;

int main() {
  // Created or emptied first, so no stale answer survives a failed run.
  fout = std::fopen("dravok.out", "w");
  if (!fout)
    return std::fprintf(stderr, "dravok: cannot create dravok.out: %s\n", std::strerror(errno)), 1;
  std::string note, err;
  int ans = 0;
  try {
    err = Read(note);
    if (err.empty()) ans = Count();
  } catch (const std::bad_alloc&) {
    err = "out of memory for the tree in dravok.in";
  }
  if (!err.empty()) {
    std::fclose(fout);
    return std::fprintf(stderr, "dravok: %s\n", err.c_str()), 1;
  }
  if (!note.empty()) std::fprintf(stderr, "dravok: %s\n", note.c_str());
  bool ok = std::fprintf(fout, "%d\n", ans) > 0 && std::fflush(fout) == 0;
  int e = errno;
  if (std::fclose(fout) != 0 && ok) ok = false, e = errno;
  if (!ok)
    return std::fprintf(stderr, "dravok: cannot write dravok.out: %s\n", std::strerror(e)), 1;
  return 0;
}
