#include <gtest/gtest.h>

#include <sys/stat.h>

#include "cli.h"

namespace {

using cli::bytes;

const cli::Files files = {
    {"aa3", bytes({0xaa, 0xaa, 0xaa})},
    {"aa2ab", bytes({0xaa, 0xaa, 0xab})},
    {"aa3ab", bytes({0xaa, 0xaa, 0xaa, 0xab})},
    {"aaab2", bytes({0xaa, 0xab, 0xaa, 0xab})},
    {"gap", bytes({0x00, 0xde, 0x12, 0xef})},
    {"AB", "AB"},
    {"ABAB", "ABAB"},
    {"empty", ""},
    {"high", cli::hexbytes(0x80, 0xff)},
    {"dir/", ""},
};

// One forward pass per pattern: no overlap, no stepping back.
TEST(Search, SingleForwardPass) {
  const std::vector<cli::Case> cases = {
      {{"varnock-search", "aa3", "aa"}, "0 aa\n1 aa\n2 aa\n", 0},
      {{"varnock-search", "aa3", "aa aa"}, "0 aa aa\n", 0},
      {{"varnock-search", "aa2ab", "aa ab"}, "", 0},
      {{"varnock-search", "aa3ab", "aa aa ab"}, "", 0},
      {{"varnock-search", "aaab2", "aa ab"}, "0 aa ab\n2 aa ab\n", 0},
      {{"varnock-search", "AB", "41 42 43"}, "", 0},
      {{"varnock-search", "empty", "41"}, "", 0},
  };
  cli::expect_cases(files, cases);
}

// Wildcards match any byte and the line shows the byte found there.
TEST(Search, Wildcards) {
  const std::vector<cli::Case> cases = {
      {{"varnock-search", "gap", "de . ef"}, "1 de 12 ef\n", 0},
      {{"varnock-search", "AB", "."}, "0 41\n1 42\n", 0},
      {{"varnock-search", "high", ". ff"}, "126 fe ff\n", 0},
      {{"varnock-search", "high", "80 . 82"}, "0 80 81 82\n", 0},
      {{"varnock-search", "gap", "..."}, "0 00 de 12\n", 0},
  };
  cli::expect_cases(files, cases);
}

// Each pattern scans the whole file from its start, in argument order.
TEST(Search, SeveralPatterns) {
  const std::vector<cli::Case> cases = {
      {{"varnock-search", "ABAB", "41", "42"}, "0 41\n2 41\n1 42\n3 42\n", 0},
      {{"varnock-search", "AB", "41", "41"}, "0 41\n0 41\n", 0},
      {{"varnock-search", "AB", "", ",", "a", "42"}, "1 42\n", 0},
      {{"varnock-search", "AB"}, "", 0},
  };
  cli::expect_cases(files, cases);
}

// Nothing to search is trouble; so is a file that cannot be read.
TEST(Search, Failures) {
  const std::vector<cli::Case> cases = {
      {{"varnock-search"}, "", 2},
      {{"varnock-search", "missing", "41"}, "", 2},
      {{"varnock-search", "dir", "41"}, "", 2},
      {{"varnock-search", "dir", "41", "42"}, "", 2},
  };
  cli::expect_cases(files, cases);
}

// A FIFO serves its first pattern; a later one cannot rewind it and is trouble.
TEST(Search, Fifo) {
  cli::Folder dir;
  const std::vector<cli::Case> cases = {
      {{"varnock-search", "fifo", "41"}, "0 41\n2 41\n", 0},
      {{"varnock-search", "fifo", "41", "42"}, "0 41\n2 41\n", 2},
      {{"varnock-search", "fifo", "", "42"}, "1 42\n3 42\n", 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(cli::joined(c.argv));
    cli::expect(cli::runfed(c.argv, dir.path, {{"fifo", "ABAB"}}), c.out, c.status);
  }
}

} // namespace
