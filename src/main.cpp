// dravok: reads "dravok.in" in the working directory and writes the number of labelings to
// "dravok.out". Exit status 0 with the answer, 1 with one line on standard error, 2 for a
// command line it does not take (then no file is touched).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>

#include "dravok.h"
#include "tree.h"

static std::FILE* fout;

static const char usage[] =
    "Usage: dravok [--help | --version]\n"
    "\n"
    "Counts the ways to label every node of a rooted tree with a value from 1 to K so that\n"
    "every child's label is strictly larger than its parent's, modulo 30011.\n"
    "\n"
    "Run without arguments in a directory holding dravok.in: whole numbers separated by\n"
    "whitespace, the node count n, the bound K, then n - 1 pairs, each a parent followed by\n"
    "its child (nodes 1 to n, 0 for no node). The count and a line feed go to dravok.out.\n"
    "\n"
    "  -h, --help     print this text and exit\n"
    "      --version  print the version and exit\n"
    "\n"
    "Exit status: 0 answered, 1 the input or output file failed (one line on standard error;\n"
    "dravok.out left empty), 2 a wrong command line (no file read or written).\n";

// Prints text to standard output; exit 0, or 1 if it could not be written.
static int Print(const char* text) {
  if (std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0) return 0;
  return std::fprintf(stderr, "dravok: cannot write standard output: %s\n", std::strerror(errno)),
         1;
}

int main(int argc, char** argv) {
  if (argc > 1) {
    std::string_view a = argv[1];
    bool help = a == "--help" || a == "-h", version = a == "--version";
    if (argc == 2 && (help || version)) return Print(help ? usage : "dravok " DRAVOK_VERSION "\n");
    const char* bad = help || version ? argv[2] : argv[1];
    return std::fprintf(stderr, "dravok: unexpected argument \"%s\"; see 'dravok --help'\n", bad),
           2;
  }
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
