#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "cli.h"

namespace {

const cli::Files files = {
    {"fw.bin", "ABCDEFG"},
    {"modfw.bin", "ABCDEFG"},
    {"moddir/", ""},
    {"modnull", "->/dev/null"},
};

// The lines every patch of a regular file opens with, after its file line.
const std::string atwrite = "note the kernel decides at write time: whether the file opens for "
                            "writing\n"
                            "note the kernel decides at write time: whether the file system has "
                            "room\n"
                            "note the kernel decides at write time: whether the write-back "
                            "succeeds\n";
const std::string patchhead = "tool varnock patch the file argument begins with mod\n"
                              "file 'modfw.bin' regular 7\n" +
                              atwrite;
const std::string dumphead = "tool varnock dump the file argument does not begin with mod\n"
                             "file 'fw.bin' regular 7\n";
const std::string nomatch = "note an occurrence is not found when the bytes just before it "
                            "begin the pattern, or when it overlaps a hit\n";

std::vector<std::string> explained(std::vector<std::string> argv) {
  argv.insert(argv.begin(), "varnock-explain");
  return argv;
}

// A patch: what the tool reads of every argument, the bytes before and after
// each pair, later pairs seeing earlier ones, and what refuses a pair.
TEST(Explain, Patch) {
  const std::vector<cli::Case> cases = {
      {explained({"varnock", "modfw.bin", "0x4", "d0", "0d", "fe", "ed"}),
       patchhead + "offset '0x4' 4 0x4 hex whole\npattern 'd0' 1\nposition 0 'd0' d0\n"
                   "before 4 45\nafter 4 d0\n"
                   "offset '0d' 0 0x0 octal stopped 1 'd'\npattern 'fe' 1\nposition 0 'fe' fe\n"
                   "before 0 41\nafter 0 fe\nleftover 'ed'\n",
       0},
      {explained({"varnock", "modfw.bin", "0", "de:ad:be:ef", "5", "61 . . 62"}),
       patchhead + "offset '0' 0 0x0 octal whole\npattern 'de:ad:be:ef' 5\n"
                   "position 0 'de' de\nposition 1 ':a' 00 not-hex\nposition 2 'd:' 0d not-hex\n"
                   "position 3 'be' be\nposition 4 ':e' 00 not-hex\ndropped 'f'\n"
                   "before 0 41 42 43 44 45\nafter 0 de 00 0d be 00\n"
                   "offset '5' 5 0x5 decimal whole\npattern '61 . . 62' 4\nposition 0 '61' 61\n"
                   "position 1 '.' .\nposition 2 '.' .\nposition 3 '62' 62\n"
                   "before 5 46 47 -- --\nafter 5 61 47 -- 62\n",
       0},
      // the gap before a pattern past the end reads as zeros afterwards
      {explained({"varnock", "modfw.bin", "9", "61", "7", ". .", "0", "62", "0", ". 4\t"}),
       patchhead + "offset '9' 9 0x9 decimal whole\npattern '61' 1\nposition 0 '61' 61\n"
                   "before 9 --\nafter 9 61\n"
                   "offset '7' 7 0x7 decimal whole\npattern '. .' 2\nposition 0 '.' .\n"
                   "position 1 '.' .\nbefore 7 00 00\nafter 7 00 00\n"
                   "offset '0' 0 0x0 octal whole\npattern '62' 1\nposition 0 '62' 62\n"
                   "before 0 41\nafter 0 62\n"
                   "offset '0' 0 0x0 octal whole\npattern '. 4\\x09' 2\nposition 0 '.' .\n"
                   "position 1 '4\\x09' 04 not-hex\nbefore 0 62 42\nafter 0 62 04\n",
       0},
      {explained({"varnock", "modfw.bin", "-1", "61", "0", ",,", "3", "a", "0x7fffffffffffffff",
                  "61", "1", "78"}),
       patchhead + "offset '-1' -1 -0x1 decimal whole\npattern '61' 1\nposition 0 '61' 61\n"
                   "skipped the offset is negative\n"
                   "offset '0' 0 0x0 octal whole\npattern ',,' 0\n"
                   "skipped the pattern has no positions\n"
                   "offset '3' 3 0x3 decimal whole\npattern 'a' 0\ndropped 'a'\n"
                   "skipped the pattern has no positions\n"
                   "offset '0x7fffffffffffffff' 9223372036854775807 0x7fffffffffffffff hex whole\n"
                   "pattern '61' 1\nposition 0 '61' 61\nbefore 9223372036854775807 --\n"
                   "refused its last byte would lie past the largest offset\n"
                   "offset '1' 1 0x1 decimal whole\npattern '78' 1\nposition 0 '78' 78\n"
                   "before 1 42\nafter 1 78\n",
       2},
      {explained({"varnock", "modfw.bin", "1020", "61 62 63 64 65 66"}),
       patchhead + "offset '1020' 1020 0x3fc decimal whole\npattern '61 62 63 64 65 66' 6\n"
                   "position 0 '61' 61\nposition 1 '62' 62\nposition 2 '63' 63\n"
                   "position 3 '64' 64\nposition 4 '65' 65\nposition 5 '66' 66\n"
                   "before 1020 -- -- -- -- -- --\n"
                   "refused it would end past the file size limit\n",
       2,
       {.fsize = 1024}},
      {explained({"varnock", "modnull", "0", "61 . 62"}),
       "tool varnock patch the file argument begins with mod\nfile 'modnull' character -\n"
       "note the kernel decides at write time: whether the file opens for writing\n"
       "note the kernel decides at write time: whether the write-back succeeds\n"
       "note not read here: its bytes are not shown, nor its wildcards read\n"
       "offset '0' 0 0x0 octal whole\npattern '61 . 62' 3\nposition 0 '61' 61\n"
       "position 1 '.' .\nposition 2 '62' 62\nbefore 0 -- -- --\nafter 0 61 -- 62\n",
       0},
      {explained({"varnock", "moddir", "0", "61"}),
       "tool varnock patch the file argument begins with mod\nfile 'moddir' directory -\n"
       "refused a directory cannot be written\n"
       "offset '0' 0 0x0 octal whole\npattern '61' 1\nposition 0 '61' 61\n",
       2},
      {explained({"varnock", "modmissing", "0", "61"}),
       "tool varnock patch the file argument begins with mod\nfile 'modmissing' missing -\n"
       "refused the path cannot be reached\n"
       "offset '0' 0 0x0 octal whole\npattern '61' 1\nposition 0 '61' 61\n",
       2},
  };
  cli::expect_cases(files, cases);
}

// A dump: what each pair would print, or what it asks of a file that is not
// read here; the other tools: their patterns and files.
TEST(Explain, DumpSearchCompare) {
  const std::vector<cli::Case> cases = {
      {explained({"varnock", "fw.bin", "0016384", "4", "2", "3", "0", "0", "-1", "2", "7"}),
       dumphead + "offset '0016384' 115 0x73 octal stopped 5 '84'\n"
                  "length '4' 4 0x4 decimal whole\n"
                  "silent the length is 0, or the offset at or past the end\n"
                  "offset '2' 2 0x2 decimal whole\nlength '3' 3 0x3 decimal whole\n"
                  "prints 2 43 44 45\n"
                  "offset '0' 0 0x0 octal whole\nlength '0' 0 0x0 octal whole\n"
                  "silent the length is 0, or the offset at or past the end\n"
                  "offset '-1' -1 -0x1 decimal whole\nlength '2' 2 0x2 decimal whole\n"
                  "skipped the offset is negative\nleftover '7'\n",
       0},
      {explained({"varnock", "/proc/version", "0", "8"}),
       "tool varnock dump the file argument does not begin with mod\n"
       "file '/proc/version' regular 0\n"
       "note not read here: the dump's reads are shown as what they ask for\n"
       "offset '0' 0 0x0 octal whole\nlength '8' 8 0x8 decimal whole\nasks 0 8\n",
       0},
      {explained({"varnock", "missing", "0", "4"}),
       "tool varnock dump the file argument does not begin with mod\n"
       "file 'missing' missing -\nrefused the path cannot be reached\n"
       "offset '0' 0 0x0 octal whole\nlength '4' 4 0x4 decimal whole\nprints 0\n"
       "refused this pair's read is trouble\n",
       2},
      {explained({"./bin/varnock-search", "fw.bin", "hsqs", "41", ""}),
       "tool varnock-search search the name varnock-search\nfile 'fw.bin' regular 7\n"
       "pattern 'hsqs' 2\nposition 0 'hs' 00 not-hex\nposition 1 'qs' 00 not-hex\n" +
           nomatch +
           "pattern '41' 1\nposition 0 '41' 41\npattern '' 0\n"
           "skipped the pattern has no positions\n",
       0},
      {explained({"varnock-search", "missing", "41"}),
       "tool varnock-search search the name varnock-search\nfile 'missing' missing -\n"
       "refused the file cannot be opened for reading\npattern '41' 1\nposition 0 '41' 41\n",
       2},
      {explained({"varnock-cmp", "fw.bin", "missing"}),
       "tool varnock-cmp compare the name varnock-cmp\nfile 'fw.bin' regular 7\n"
       "file 'missing' missing -\nrefused the file cannot be opened for reading\n",
       2},
      {explained({"varnock-cmp", "fw.bin"}),
       "tool varnock-cmp compare the name varnock-cmp\nrefused two files are needed\n", 2},
      {explained({"varnock"}),
       "tool varnock dump-or-patch any other name\nrefused no file argument\n", 2},
      {explained({"/usr/bin/varnock-explain", "x"}),
       "refused varnock-explain does not explain itself\n", 2},
      {{"varnock-explain"}, "", 2},
  };
  cli::expect_cases(files, cases);
}

// What the explanation must never do: disturb the file it explains. Under
// strace, with every path shown, no open for writing, no write, reservation,
// sync or ioctl reaches modfw.bin, and its bytes and times stay as they were;
// a FIFO is never opened, so that no run waits for a writer.
TEST(Explain, NeverWrites) {
  cli::Folder dir;
  cli::putfiles(dir, files);
  ASSERT_EQ(::mkfifo(dir.at("modfifo").c_str(), 0644), 0);
  struct stat before, after;
  ASSERT_EQ(::stat(dir.at("modfw.bin").c_str(), &before), 0);
  cli::expect(cli::run(explained({"varnock", "modfifo", "0", "61"}), dir.path, {.timeout = 10}),
              "tool varnock patch the file argument begins with mod\nfile 'modfifo' fifo -\n"
              "refused a FIFO has no positions\n"
              "offset '0' 0 0x0 octal whole\npattern '61' 1\nposition 0 '61' 61\n",
              2);
  if (*cli::unstraceable()) GTEST_SKIP() << cli::unstraceable();
  const std::string log = dir.at("trace");
  cli::Outcome got = cli::run(explained({"varnock", "modfw.bin", "0", "61 . 63", "9", "78"}),
                              dir.path, {.strace = {"-y", "-o", log}});
  EXPECT_EQ(got.status, 0);
  // Each line is "pid name(args) = result", descriptors shown as N<path>.
  std::stringstream calls;
  calls << std::ifstream(log).rdbuf();
  bool touched = false;
  for (std::string line; std::getline(calls, line);) {
    if (line.find("modfw.bin") == std::string::npos) continue;
    touched = true;
    std::size_t open = line.find('('), name = line.find_first_not_of(' ', line.find(' '));
    std::string call = line.substr(name, open - name), first = line.substr(open + 1);
    first = first.substr(0, first.find(','));
    bool writes =
        line.find("O_WRONLY") != std::string::npos || line.find("O_RDWR") != std::string::npos ||
        line.find("O_CREAT") != std::string::npos || line.find("O_TRUNC") != std::string::npos;
    for (const char *c :
         {"write", "pwrite64", "fallocate", "fdatasync", "fsync", "ftruncate", "ioctl"})
      writes |= call == c && first.find("modfw.bin") != std::string::npos;
    EXPECT_FALSE(writes) << line;
  }
  EXPECT_TRUE(touched) << "the trace shows no call on the file";
  ASSERT_EQ(::stat(dir.at("modfw.bin").c_str(), &after), 0);
  EXPECT_EQ(cli::get(dir.at("modfw.bin")), "ABCDEFG");
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

// The explanation's status and output: a device's end foreseen, and a
// standard output that cannot be written.
TEST(Explain, EndsAndOutput) {
  cli::Folder dir;
  cli::putfiles(dir, files);
  cli::expect(
      cli::run(explained({"varnock", "fw.bin", "0", "2"}), dir.path, {.mode = cli::Stdout::full}),
      "", 2);
  cli::put(dir.at("image"), std::string(8192, 'Z'));
  cli::Loop loop(dir.at("image"));
  if (loop.dev.empty()) GTEST_SKIP() << loop.why;
  cli::putfiles(dir, {{"modblk", "->" + loop.dev}});
  const std::string head = "tool varnock patch the file argument begins with mod\n"
                           "file 'modblk' block 8192\n"
                           "note the kernel decides at write time: whether the file opens for "
                           "writing\n"
                           "note the kernel decides at write time: whether the write-back "
                           "succeeds\n"
                           "offset '8191' 8191 0x1fff decimal whole\n";
  cli::expect_cases({{"modblk", "->" + loop.dev}},
                    {
                        {explained({"varnock", "modblk", "8191", "61 62"}),
                         head + "pattern '61 62' 2\nposition 0 '61' 61\nposition 1 '62' 62\n"
                                "before 8191 5a --\n"
                                "refused it would end past the end of the device or attribute\n",
                         2},
                        {explained({"varnock", "modblk", "8191", "61"}),
                         head + "pattern '61' 1\nposition 0 '61' 61\nbefore 8191 5a\n"
                                "after 8191 61\n",
                         0},
                    });
  EXPECT_EQ(cli::get(dir.at("image")), std::string(8192, 'Z'));
}

} // namespace

namespace {

// Every reason text that varnock-explain(1) lists in double quotes is one the
// tool has, word for word.
TEST(Explain, PageListsTheTexts) {
  std::string page = cli::get(cli::bindir() + "/man/varnock-explain.1");
  if (page.empty()) GTEST_SKIP() << "no manual page beside the tools";
  std::string binary = cli::get(cli::bindir() + "/varnock");
  // The prose, lines of macros left out, joined, with roff's \- as a dash.
  std::string text, line;
  for (std::stringstream lines(page); std::getline(lines, line);) {
    if (line.empty() || line[0] == '.') continue;
    for (std::size_t i = 0; i < line.size(); i++)
      text += line.compare(i, 2, "\\-") ? line[i] : line[++i];
    text += ' ';
  }
  int listed = 0;
  for (std::size_t at = text.find('"'); at != std::string::npos; at = text.find('"', at + 1)) {
    std::size_t end = text.find('"', at + 1);
    if (end == std::string::npos) break;
    std::string quoted = text.substr(at + 1, end - at - 1);
    at = end;
    if (quoted.find("varnock") == 0 || quoted.find("User Commands") != std::string::npos) continue;
    listed++;
    EXPECT_NE(binary.find(quoted), std::string::npos) << quoted;
  }
  EXPECT_GT(listed, 30);
}

} // namespace
