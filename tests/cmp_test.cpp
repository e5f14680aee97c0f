#include <gtest/gtest.h>

#include <sys/stat.h>

#include "cli.h"

namespace {

const cli::Files files = {
    {"A", "A"},
    {"AB", "AB"},
    {"AB2", "AB"},
    {"AC", "AC"},
    {"ABC", "ABC"},
    {"AXC", "AXC"},
    {"ABCD", "ABCD"},
    {"AXCY", "AXCY"},
    {"AXY", "AXY"},
    {"XYZ", "XYZ"},
    {"AXYZ", "AXYZ"},
    {"XY", "XY"},
    {"empty", ""},
    {"empty2", ""},
    {"dir/", ""},
    {"lo", "\x01\x7f\x80"},
    {"hi", "\x01\xff\x81"},
};

// Each difference run: the second file's bytes on "<" first, the first file's on ">".
TEST(Cmp, DifferenceRuns) {
  const std::vector<cli::Case> cases = {
      {{"varnock-cmp", "AB", "AB2"}, "", 0},
      {{"varnock-cmp", "empty", "empty2"}, "", 0},
      {{"varnock-cmp", "AB", "AC"}, "< 1 43\n> 1 42\n", 0},
      {{"varnock-cmp", "ABCD", "AXCY"}, "< 1 58\n> 1 42\n< 3 59\n> 3 44\n", 0},
      {{"varnock-cmp", "ABC", "AXC"}, "< 1 58\n> 1 42\n", 0},
      {{"varnock-cmp", "AB", "XY"}, "< 0 58 59\n> 0 41 42\n", 0},
      {{"varnock-cmp", "lo", "hi"}, "< 1 ff 81\n> 1 7f 80\n", 0},
  };
  cli::expect_cases(files, cases);
}

// The tail of the longer file joins the run open when the shorter one ends.
TEST(Cmp, Tails) {
  const std::vector<cli::Case> cases = {
      {{"varnock-cmp", "A", "AXY"}, "< 1 58 59\n", 0},
      {{"varnock-cmp", "AXY", "A"}, "> 1 58 59\n", 0},
      {{"varnock-cmp", "AB", "XYZ"}, "< 0 58 59 5a\n> 0 41 42\n", 0},
      {{"varnock-cmp", "AB", "AXYZ"}, "< 1 58 59 5a\n> 1 42\n", 0},
      {{"varnock-cmp", "empty", "AB"}, "< 0 41 42\n", 0},
      {{"varnock-cmp", "AB", "empty"}, "> 0 41 42\n", 0},
  };
  cli::expect_cases(files, cases);
}

// Runs as long as a rendering slice (16384 bytes) or a multiple of it keep both lines.
TEST(Cmp, LongRuns) {
  std::vector<cli::Case> cases;
  cli::Files files;
  for (std::size_t n : {16383, 16384, 16385, 32768}) {
    std::string a(n, 'A'), b(n, 'B'), name = std::to_string(n);
    files.push_back({"a" + name, "=" + a + "="});
    files.push_back({"b" + name, "=" + b + "="});
    cases.push_back({{"varnock-cmp", "a" + name, "b" + name},
                     "< 1" + cli::hextext(b) + "\n> 1" + cli::hextext(a) + "\n",
                     0});
  }
  cli::expect_cases(files, cases);
}

// Missing arguments or files are trouble, never read as empty files.
TEST(Cmp, Failures) {
  const std::vector<cli::Case> cases = {
      {{"varnock-cmp"}, "", 2},
      {{"varnock-cmp", "AB"}, "", 2},
      {{"varnock-cmp", "AB", "missing"}, "", 2},
      {{"varnock-cmp", "missing", "empty"}, "", 2},
      {{"varnock-cmp", "dir", "AB"}, "", 2},
      {{"varnock-cmp", "AB", "dir"}, "", 2},
      {{"varnock-cmp", "dir", "dir"}, "", 2},
  };
  cli::expect_cases(files, cases);
}

// No positioning is needed: FIFOs compare like files.
TEST(Cmp, Fifos) {
  cli::Folder dir;
  cli::expect(cli::runfed({"varnock-cmp", "a", "b"}, dir.path, {{"a", "AB"}, {"b", "AC"}}),
              "< 1 43\n> 1 42\n", 0);
}

} // namespace
