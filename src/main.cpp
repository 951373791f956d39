// dravok: reads "dravok.in" in the working directory and writes the number of labelings to
// "dravok.out". Exit status 0 with the answer, 1 with one line on standard error, 2 for a
// command line it does not take (then no file is touched).
#include <fcntl.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "dravok.h"
#include "tree.h"

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
    "no answer in dravok.out), 2 a wrong command line (no file read or written).\n";

// Prints text to standard output; exit 0, or 1 if it could not be written.
static int Print(const char* text) {
  if (std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0) return 0;
  return std::fprintf(stderr, "dravok: cannot write standard output: %s\n", std::strerror(errno)),
         1;
}

// Descriptors 0, 1 and 2 that the caller left closed are opened on /dev/null, before any file
// is opened: else "dravok.out" would take one of them and a note for standard error would
// land in it. A file-size limit then makes a write fail (EFBIG) rather than kill the process.
static void Guard() {
  for (int fd = 0; fd <= 2; fd++)
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF && open("/dev/null", O_RDWR) != fd) _exit(1);
  std::signal(SIGXFSZ, SIG_IGN);
}

// Memory the process frees stays with it for its next allocations instead of going back to the
// system. A large table that grows is moved to a new block, and fresh memory costs a page
// fault, the kernel's zeroing and, on a virtual machine, the host's backing for each page: on a
// random tree of 10^8 nodes the count's tables took 2.6 GB of fresh pages, and the renumbering
// frees 1.2 GB just before the count starts. (glibc maps each block above 32 MiB on its own and
// hands it back when it is freed; from the heap, a freed block serves the next.) All threads
// share the one heap: another thread's arena grows in heaps of at most 64 MiB that are unmapped
// once empty, and maps any larger block on its own whatever the settings above, so on a tree of
// 10^8 nodes the pool's thread took 44 fresh heaps and three maps of up to 98 MB for its tables,
// and the arrays paged in while the text is read went back to the system when freed (0.92 of
// the time with one heap). The price is the one lock: cores that allocate at once wait for each
// other, so the count keeps what it allocates often for its next use (see Counter::Workspace).
static void KeepMemory() {
#ifdef __GLIBC__
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, INT_MAX);
  mallopt(M_ARENA_MAX, 1);
#endif
}

// Opens "dravok.out", created or emptied, and returns its descriptor; -1 with err set if it
// cannot be had, or if it is "dravok.in" itself (a hard or symbolic link between the two),
// which is then left as it was: emptying it would destroy the input.
static int OpenOut(std::string& err) {
  int fd = open("dravok.out", O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return err = std::string("cannot create dravok.out: ") + std::strerror(errno), -1;
  struct stat out {
  }, in{};
  if (fstat(fd, &out) == 0 && stat("dravok.in", &in) == 0 && out.st_dev == in.st_dev &&
      out.st_ino == in.st_ino) {
    close(fd);
    return err = "dravok.out is dravok.in through a link; both files are left as they were", -1;
  }
  // Emptied at once, so that no stale answer survives a failed run. A device or pipe has no
  // length to set.
  if (S_ISREG(out.st_mode) && ftruncate(fd, 0) != 0) {
    err = std::string("cannot create dravok.out: ") + std::strerror(errno);
    return close(fd), -1;
  }
  return fd;
}

// Writes the answer and a line feed at the start of fout, then cuts the file to that length
// and closes it: whichever of two runs in one directory finishes last leaves its whole answer,
// not a shorter one over the tail of a longer. Returns "" or the error.
static std::string WriteOut(int fout, int ans) {
  char line[16];
  const int len = std::snprintf(line, sizeof line, "%d\n", ans);
  struct stat st {};
  const bool file = fstat(fout, &st) == 0 && S_ISREG(st.st_mode);
  int e = 0;
  for (int done = 0; done < len && !e;) {
    const ssize_t k = file ? pwrite(fout, line + done, size_t(len - done), done)
                           : write(fout, line + done, size_t(len - done));
    if (k > 0) done += int(k);
    if (k == 0) e = EIO;  // nothing taken, nothing said: not to be asked again
    if (k < 0 && errno != EINTR) e = errno;
  }
  if (!e && file && ftruncate(fout, len) != 0) e = errno;
  if (close(fout) != 0 && !e) e = errno;
  return e ? std::string("cannot write dravok.out: ") + std::strerror(e) : "";
}

int main(int argc, char** argv) {
  Guard(), KeepMemory();
  if (argc > 1) {
    std::string_view a = argv[1];
    bool help = a == "--help" || a == "-h", version = a == "--version";
    if (argc == 2 && (help || version)) return Print(help ? usage : "dravok " DRAVOK_VERSION "\n");
    const char* bad = help || version ? argv[2] : argv[1];
    return std::fprintf(stderr, "dravok: unexpected argument \"%s\"; see 'dravok --help'\n", bad),
           2;
  }
  std::string note, err;
  const int fout = OpenOut(err);
  if (fout < 0) return std::fprintf(stderr, "dravok: %s\n", err.c_str()), 1;
  int ans = 0;
  try {
    err = Read(note);
    if (err.empty()) ans = Count();
  } catch (const std::bad_alloc&) {
    err = "out of memory for the tree in dravok.in";
  }
  if (!err.empty()) {
    close(fout);
    return std::fprintf(stderr, "dravok: %s\n", err.c_str()), 1;
  }
  if (!note.empty()) std::fprintf(stderr, "dravok: %s\n", note.c_str());
  err = WriteOut(fout, ans);
  if (!err.empty()) return std::fprintf(stderr, "dravok: %s\n", err.c_str()), 1;
  return 0;
}
