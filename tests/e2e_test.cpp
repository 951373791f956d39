// The real binary, run the way users run it: in a fresh directory holding "dravok.in".
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <tuple>

namespace {

// Exit status, "dravok.out" ("<none>" if absent) and standard error of one run.
using Outcome = std::tuple<int, std::string, std::string>;

std::string Slurp(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return "<none>";
  if (!S_ISREG(st.st_mode)) return "<not a file>";
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// A fresh directory; `prepare` may lay files in it before dravok runs there with `args`.
// Standard output and error are kept beside the directory, so that it holds only what dravok
// and `prepare` left; `after` may look at it once dravok has run.
// What runs the binary: DRAVOK_RUNNER, if set, before its path (an emulator, say
// "qemu-x86_64 -cpu Nehalem", for the runs on other processors).
std::string Runner() {
  const char* r = std::getenv("DRAVOK_RUNNER");
  return r && *r ? std::string(r) + " " : "";
}

// A fresh directory under $TMPDIR (or /tmp).
std::string Fresh() {
  const char* tmp = std::getenv("TMPDIR");
  std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/dravok_e2e_XXXXXX";
  if (!mkdtemp(tmpl.data())) ADD_FAILURE() << "cannot make " << tmpl;
  return tmpl;
}

Outcome Dravok(const std::string* in, const std::string& prepare = "", const std::string& args = "",
               std::string* out = nullptr, const std::string& after = "true") {
  std::string dir = Fresh();
  if (in) std::ofstream(dir + "/dravok.in", std::ios::binary) << *in;
  std::string cmd = "cd '" + dir + "' && " + prepare + (prepare.empty() ? "" : " && ") + Runner() +
                    "'" DRAVOK_BIN "' " + args + " > '" + dir + ".std' 2> '" + dir +
                    ".err'; s=$? && " + after + " && exit $s";
  int st = std::system(cmd.c_str());
  Outcome r{WIFEXITED(st) ? WEXITSTATUS(st) : -1, Slurp(dir + "/dravok.out"), Slurp(dir + ".err")};
  if (out) *out = Slurp(dir + ".std");
  std::system(("chmod -R u+rwx '" + dir + "'; rm -rf '" + dir + "'*").c_str());
  return r;
}

// Runs a shell script in a fresh directory, with $D the binary, and returns all that it printed
// on standard output and error: for faults that take more than one run, or a shell's hand.
std::string Script(const std::string& script) {
  std::string dir = Fresh(), all;
  std::FILE* p = popen(
      ("cd '" + dir + "' && D='" + Runner() + DRAVOK_BIN "' && { " + script + "\n} 2>&1").c_str(),
      "r");
  char buf[4096];
  for (size_t k; p && (k = std::fread(buf, 1, sizeof buf, p)) > 0;) all.append(buf, k);
  if (p) pclose(p);
  std::system(("rm -rf '" + dir + "'").c_str());
  return all;
}

Outcome Dravok(const std::string& in, const std::string& prepare = "") {
  return Dravok(&in, prepare);
}

void ExpectAnswer(const std::string& in, const std::string& out) {
  EXPECT_EQ(Dravok(in), Outcome(0, std::string(out), "")) << in;
}

// One line on standard error naming the file and the place, exit 1, nothing in "dravok.out".
void ExpectError(const std::string& in, const std::string& err) {
  EXPECT_EQ(Dravok(in, "printf '5\\n' > dravok.out"),
            Outcome(1, std::string(""), "dravok: " + err + "\n"))
      << in;
}

TEST(EndToEnd, Answers) {
  ExpectAnswer("3 4\n1 2\n2 3\n", "4\n");
  ExpectAnswer("3 3 1 2 1 3", "5\n");
  ExpectAnswer("1 5", "5\n");
  ExpectAnswer("1 30011", "0\n");
  ExpectAnswer("1 30012", "1\n");
  ExpectAnswer("3 0 1 2 2 3", "0\n");
  ExpectAnswer("2 2147483647 1 2", "18643\n");  // C(2^31 - 1, 2) mod 30011
}

TEST(EndToEnd, DegeneratePairLists) {
  ExpectAnswer("3 5 3 1 3 2", "30\n");         // root 3, two leaves
  ExpectAnswer("4 4 1 2 3 2 1 4", "6\n");      // later pair wins; 2 and 3 unreachable
  ExpectAnswer("3 9 2 3 3 2", "9\n");          // a cycle, unreachable: node 1 alone
  ExpectAnswer("4 5 1 2 2 2 3 4 4 3", "5\n");  // self pair and a 2-cycle, unreachable
  ExpectAnswer("0 7", "7\n");                  // no nodes: node 0 alone
  ExpectAnswer("4 4 0 1 1 2 2 3", "4\n");      // parent 0 is "no parent"
  ExpectAnswer("4 4 1 2 2 0 2 3", "4\n");      // child 0 changes nothing that is counted
}

TEST(EndToEnd, WhitespaceAndTrailingData) {
  ExpectAnswer("\r\n3\t4\r\n1\v2\f2 3\r\n", "4\n");
  ExpectAnswer("3 4 1 2 2 3 and then some words 1 2 3", "4\n");
  ExpectAnswer("3 4 1 2 2 3 -7 99999999999999", "4\n");
}

TEST(EndToEnd, MissingOrEmptyInput) {
  EXPECT_EQ(Dravok(nullptr),
            Outcome(0, std::string("0\n"),
                    "dravok: dravok.in not found; answering 0 for the empty problem\n"));
  for (std::string in : {"", "  \n\t\r\n"})
    EXPECT_EQ(Dravok(in),
              Outcome(0, std::string("0\n"),
                      "dravok: dravok.in holds no numbers; answering 0 for the empty problem\n"));
}

TEST(EndToEnd, MalformedInput) {
  const std::string num = ", a whole number from 0 to 2147483647, found ";
  ExpectError("x 4", "dravok.in:1:1: expected n" + num + "\"x\"");
  ExpectError("3 4.5", "dravok.in:1:3: expected K" + num + "\"4.5\"");
  ExpectError("3 2147483648", "dravok.in:1:3: expected K" + num + "\"2147483648\"");
  ExpectError("-3 4", "dravok.in:1:1: expected n" + num + "\"-3\"");
  ExpectError("3 -4", "dravok.in:1:3: expected K" + num + "\"-4\"");
  ExpectError("3", "dravok.in:1:2: expected K" + num + "the end of the file");
  ExpectError(
      "3 4\n1 2\n2 7\n",
      "dravok.in:3:3: expected the child of pair 2 of 2, a whole number from 0 to 3, found \"7\"");
  ExpectError("3 4\n1 2\n",
              "dravok.in:3:1: expected the parent of pair 2 of 2, a whole number from 0 to 3, "
              "found the end of the file");
  ExpectError("2000000000 4 1 2",
              "dravok.in:1:17: expected the parent of pair 2 of 1999999999, a whole number from 0 "
              "to 2000000000, found the end of the file");
  EXPECT_EQ(Dravok("1 1", "rm dravok.in && mkdir dravok.in"),
            Outcome(1, std::string(""), "dravok: cannot read dravok.in: Is a directory\n"));
}

TEST(EndToEnd, OutputFailures) {
  EXPECT_EQ(Dravok("1 5", "mkdir dravok.out"),
            Outcome(1, std::string("<not a file>"),
                    "dravok: cannot create dravok.out: Is a directory\n"));
  EXPECT_EQ(Dravok("1 5", "ln -s /dev/full dravok.out"),
            Outcome(1, std::string("<not a file>"),
                    "dravok: cannot write dravok.out: No space left on device\n"));
}

TEST(EndToEnd, StaleOutputIsEmptied) {
  EXPECT_EQ(std::get<1>(Dravok("3 4 1 2 9 9", "printf '123\\n' > dravok.out")), "");
  EXPECT_EQ(std::get<1>(Dravok(nullptr, "printf '123\\n' > dravok.out")), "0\n");
  EXPECT_EQ(std::get<1>(Dravok("1 6", "printf '123456789\\n' > dravok.out")), "6\n");
}

// An error far into a file of 30 MB: the reader has handed back the pages it passed, and the
// line and column must still come out right.
TEST(EndToEnd, ErrorDeepInLargeFile) {
  const int nn = 2000000;
  std::string in = std::to_string(nn) + " 5\n";
  for (int v = 2; v < nn; v++) in += std::to_string(v - 1) + " " + std::to_string(v) + "\n";
  in += std::to_string(nn - 1) + " x";
  ExpectError(in,
              "dravok.in:2000000:9: expected the child of pair 1999999 of 1999999, a whole "
              "number from 0 to 2000000, found \"x\"");
}

// Depth a call stack could not take: a chain of 10^6 nodes, numbered both ways.
TEST(EndToEnd, MillionNodeChain) {
  std::string in = "1000000 7\n";
  for (int v = 2; v <= 1000000; v++) in += std::to_string(v - 1) + " " + std::to_string(v) + "\n";
  ExpectAnswer(in, "0\n");
  in = "1000000 5\n";
  for (int v = 2; v <= 1000000; v++) in += std::to_string(v) + " " + std::to_string(v - 1) + "\n";
  ExpectAnswer(in, "0\n");
}

// A heavy path long enough for its batches of steps to run on two cores, the second core's
// thread kept for the whole run: the answer, and an exit that does not wait on that thread. A
// caterpillar of 70000 spine nodes with a leaf each counts e_70000(0, ..., K - 1) = 7558 mod P
// for K = 2^31 - 1 (the closed form that the count's tests check).
TEST(EndToEnd, LongHeavyPathOnTwoCores) {
  const int k = 70000;
  std::string in = std::to_string(2 * k) + " 2147483647\n";
  for (int v = 2; v <= k; v++) in += std::to_string(v - 1) + " " + std::to_string(v) + "\n";
  for (int j = 1; j <= k; j++) in += std::to_string(j) + " " + std::to_string(k + j) + "\n";
  ExpectAnswer(in, "7558\n");
}

// Arguments: help and version on standard output, exit 0; anything else exit 2. None of them
// reads, creates, empties or writes a file: the directory stays byte-for-byte as it was.
TEST(EndToEnd, CommandLine) {
  // The directory's listing (names, sizes, times) is kept beside it and compared afterwards.
  const std::string in = "3 3 1 2 1 3\n", side = "../$(basename \"$PWD\")",
                    list = "ls -lA --time-style=full-iso | md5sum",
                    unchanged = "printf 'stale\\n' > dravok.out && " + list + " > " + side + ".ls",
                    same = list + " | cmp -s - " + side + ".ls";
  const std::string bad = "; see 'dravok --help'\n";
  for (std::string args :
       {"--help", "-h", "--version", "--verbose", "x", "--help --version", "''"}) {
    std::string out;
    Outcome r = Dravok(&in, unchanged, args, &out, same);
    int want = args == "--help" || args == "-h" || args == "--version" ? 0 : 2;
    EXPECT_EQ(std::get<0>(r), want) << args;
    EXPECT_EQ(std::get<1>(r), "stale\n") << args;
    if (want == 0) {
      EXPECT_EQ(std::get<2>(r), "") << args;
      EXPECT_EQ(out.rfind(args == "--version" ? "dravok 1." : "Usage: dravok", 0), 0u) << out;
    } else {
      EXPECT_EQ(out, "") << args;
      std::string name = args == "''" ? "" : args.substr(args.rfind(' ') + 1);
      EXPECT_EQ(std::get<2>(r), "dravok: unexpected argument \"" + name + "\"" + bad) << args;
    }
  }
  EXPECT_EQ(Dravok(nullptr, "", "--help"), Outcome(0, std::string("<none>"), ""));
  EXPECT_EQ(Dravok(nullptr, "ln -s /dev/full " + side + ".std", "--help"),
            Outcome(1, std::string("<none>"),
                    "dravok: cannot write standard output: No space left on device\n"));
}

// Two runs in one directory: the first waits on a pipe for its input while the input is
// replaced and a second run answers; the first then answers too. The run that finishes last
// leaves its whole answer, whether it is longer or shorter than the other's. (The first has
// opened the pipe once it holds dravok.out, which it opens before the input, and dravok.in:
// until it execs, the shell that starts it holds the pipe too, on 3 and on a copy of 3 it
// makes above 9, and a run that opened the input only after it was replaced would answer
// the second's problem.)
TEST(EndToEnd, TwoRunsInOneDirectory) {
  for (auto [first, second] : {std::pair{"1 3835", "1 52"}, {"1 52", "1 3835"}}) {
    const std::string script = std::string(R"(mkfifo dravok.in && exec 3<>dravok.in
$D 3>&- & a=$!
fds="ls -l /proc/$a/fd"; w=0
until $fds 2>/dev/null | grep -q '/dravok\.out$' && $fds 2>/dev/null | grep -q '/dravok\.in$'
do sleep 0.01; w=$((w + 1)); [ $w -lt 3000 ] || break; done
mv dravok.in pipe && echo ')") +
                               second + R"(' > dravok.in && $D 3>&-; echo "second $?"
echo ')" + first + R"(' >&3; exec 3>&-; wait $a; echo "first $?"; cat dravok.out)";
    EXPECT_EQ(Script(script), "second 0\nfirst 0\n" + std::string(first).substr(2) + "\n")
        << first << " then " << second;
  }
}

// Input that cannot be mapped is read only as far as the problem reaches: an endless device
// fails at once, an endless pipe answers at once, and a finite pipe answers as a file would.
TEST(EndToEnd, EndlessAndStreamedInput) {
  std::string nul;
  for (int i = 0; i < 24; i++) nul += "\\x00";
  EXPECT_EQ(Script("ln -s /dev/zero dravok.in && timeout 20 $D; echo $?; cat dravok.out"),
            "dravok: dravok.in:1:1: expected n, a whole number from 0 to 2147483647, found \"" +
                nul + "\"...\n1\n");
  const std::string pipe = "mkfifo dravok.in && { ", run =
                                                         " > dravok.in 2>/dev/null & } && "
                                                         "timeout 20 $D; echo $?; cat dravok.out";
  EXPECT_EQ(Script(pipe + "yes 1" + run), "0\n1\n");
  EXPECT_EQ(Script(pipe + "{ printf '3 4 1 2 2 3 '; yes ''; }" + run), "0\n4\n");
  EXPECT_EQ(Script(pipe + "yes" + run),
            "dravok: dravok.in:1:1: expected n, a whole number from 0 to 2147483647, found "
            "\"y\"\n1\n");
  EXPECT_EQ(Script(pipe + "printf '3 4\\r1 2\\r\\n2 x'" + run),
            "dravok: dravok.in:3:3: expected the child of pair 2 of 2, a whole number from 0 to 3, "
            "found \"x\"\n1\n");
  EXPECT_EQ(Script("ln -s /dev/null dravok.in && $D; echo $?; cat dravok.out"),
            "dravok: dravok.in holds no numbers; answering 0 for the empty problem\n0\n0\n");
}

// Closed standard streams, a file-size limit, a small stack, and "dravok.out" a link to
// "dravok.in" (which must survive whole).
TEST(EndToEnd, HostileSurroundings) {
  EXPECT_EQ(Script("$D 2>&-; echo $?; cat dravok.out"), "0\n0\n");
  EXPECT_EQ(Script("echo 3 4 1 2 2 3 > dravok.in && $D <&- >&- 2>&-; echo $?; cat dravok.out"),
            "0\n4\n");
  EXPECT_EQ(Script("echo 1 5 > dravok.in && (ulimit -f 0; exec $D); echo $?; wc -c < dravok.out"),
            "dravok: cannot write dravok.out: File too large\n1\n0\n");
  EXPECT_EQ(
      Script("echo 3 4 1 2 2 3 > dravok.in && (ulimit -s 64; exec $D); echo $?; cat dravok.out"),
      "0\n4\n");
  for (std::string link : {"ln -s dravok.in", "ln dravok.in", "ln -s \"$PWD/dravok.in\""})
    EXPECT_EQ(Script("echo 3 4 1 2 2 3 > dravok.in && " + link +
                     " dravok.out && $D; "
                     "echo $?; cat dravok.in"),
              "dravok: dravok.out is dravok.in through a link; both files are left as they were\n"
              "1\n3 4 1 2 2 3\n")
        << link;
}

}  // namespace
