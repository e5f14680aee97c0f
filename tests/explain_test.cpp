#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli.h"

namespace {

const cli::Files files = {
    {"fw.bin", "ABCDEFG"}, {"modfw.bin", "ABCDEFG"},     {"moddir/", ""},
    {"models/", ""},       {"models/fw.bin", "ABCDEFG"}, {"modnull", "->/dev/null"},
};

// The note of a patch whose bytes are read back from the medium: not where
// the tests' folders are in memory (tmpfs, as in the emulated ARM system).
std::string readback() {
  cli::Folder dir;
  return cli::inmemory(dir.path) ? ""
                                 : "note the bytes are read back from the medium after the sync\n";
}

// The lines every patch of a regular file opens with, after its file line.
const std::string atwrite = "note the kernel decides at write time: whether the file opens for "
                            "writing\n"
                            "note the kernel decides at write time: whether a quota leaves room\n"
                            "note the kernel decides at write time: whether the write-back "
                            "succeeds\n" +
                            readback();
const std::string patchhead = "tool varnock patch the file argument begins with mod\n"
                              "file 'modfw.bin' regular 7\n" +
                              atwrite;
const std::string dumphead = "tool varnock dump the file argument does not begin with mod\n"
                             "file 'fw.bin' regular 7\n";
const std::string nomatch = "note an occurrence is not found when the bytes just before it "
                            "begin the pattern, or when it overlaps a hit\n";

const char *lastpart(const std::string &path) {
  return path.c_str() + path.rfind('/') + 1;
}

std::vector<std::string> explained(std::vector<std::string> argv) {
  argv.insert(argv.begin(), "varnock-explain");
  return argv;
}

// What an explanation concludes: its warn, refused, trouble and after lines.
std::string verdict(const std::string &out) {
  std::string kept, line;
  for (std::stringstream lines(out); std::getline(lines, line);)
    for (const char *keyword : {"warn ", "refused ", "trouble ", "after "})
      if (line.rfind(keyword, 0) == 0) kept += line + "\n";
  return kept;
}

// A patch: what the tool reads of every argument, the bytes before and after
// each pair, later pairs seeing earlier ones, and what refuses a pair.
TEST(Explain, Patch) {
  const std::vector<cli::Case> cases = {
      {explained({"varnock", "modfw.bin", "0x4", "d0", "5", "fe"}),
       patchhead + "offset '0x4' 4 0x4 hex whole\npattern 'd0' 1 d0\nbefore 4 45\nafter 4 d0\n"
                   "offset '5' 5 0x5 decimal whole\npattern 'fe' 1 fe\nbefore 5 46\n"
                   "after 5 fe\nundo 'varnock' 'modfw.bin' '5' '46' '4' '45'\n",
       0},
      // the gap before a pattern past the end reads as zeros afterwards
      {explained({"varnock", "modfw.bin", "9", "61", "7", ". .", "0", "62", "0", ". 4\t"}),
       patchhead + "offset '9' 9 0x9 decimal whole\npattern '61' 1 61\nbefore 9 --\nafter 9 61\n"
                   "offset '7' 7 0x7 decimal whole\npattern '. .' 2 .. ..\nbefore 7 00 00\n"
                   "after 7 00 00\n"
                   "offset '0' 0 0x0 octal whole\npattern '62' 1 62\nbefore 0 41\nafter 0 62\n"
                   "offset '0' 0 0x0 octal whole\npattern '. 4\\x09' 2 .. 04\n"
                   "position 1 '4\\x09' 04 not-hex\n"
                   "warn pattern '. 4\\x09' holds '\\x09', which is no hex digit, space, comma or "
                   "full stop\n"
                   "before 0 62 42\nafter 0 62 04\n"
                   "warn file 'modfw.bin' grows from 7 to 10 bytes, which no patch takes back\n",
       1},
      // a wildcard with no byte to read lays nothing over the file
      {explained({"varnock", "modfw.bin", "6", "61 . .", "7", ". 62"}),
       patchhead + "offset '6' 6 0x6 decimal whole\npattern '61 . .' 3 61 .. ..\n"
                   "before 6 47 -- --\nafter 6 61 -- --\n"
                   "offset '7' 7 0x7 decimal whole\npattern '. 62' 2 .. 62\nbefore 7 -- --\n"
                   "after 7 -- 62\nwarn file 'modfw.bin' grows from 7 to 9 bytes, which no patch "
                   "takes back\n",
       1},
      {explained(
           {"varnock", "modfw.bin", "-1", "61", "1", ",,", "0x7fffffffffffffff", "61", "1", "78"}),
       patchhead + "offset '-1' -1 -0x1 decimal whole\npattern '61' 1 61\n"
                   "skipped the offset is negative\n"
                   "offset '1' 1 0x1 decimal whole\npattern ',,' 0\n"
                   "skipped the pattern has no positions\n"
                   "offset '0x7fffffffffffffff' 9223372036854775807 0x7fffffffffffffff hex whole\n"
                   "pattern '61' 1 61\nbefore 9223372036854775807 --\n"
                   "refused its last byte would lie past the largest offset\n"
                   "offset '1' 1 0x1 decimal whole\npattern '78' 1 78\nbefore 1 42\nafter 1 78\n",
       2},
      {explained({"varnock", "modfw.bin", "1018", "61 62 63 64 65 66", "1017", "61 . 62", "1022",
                  "ee ee ee"}),
       patchhead + "offset '1018' 1018 0x3fa decimal whole\n"
                   "pattern '61 62 63 64 65 66' 6 61 62 63 64 65 66\n"
                   "before 1018 -- -- -- -- -- --\nafter 1018 61 62 63 64 65 66\n"
                   "offset '1017' 1017 0x3f9 decimal whole\npattern '61 . 62' 3 61 .. 62\n"
                   "before 1017 00 61 62\nafter 1017 61 61 62\n"
                   "offset '1022' 1022 0x3fe decimal whole\npattern 'ee ee ee' 3 ee ee ee\n"
                   "before 1022 65 66 --\nrefused it would end past the file size limit\n"
                   "warn file 'modfw.bin' grows from 7 to 1024 bytes, which no patch takes back\n",
       2,
       {.fsize = 1024}},
      {explained({"varnock", "modnull", "0", "61 . 62"}),
       "tool varnock patch the file argument begins with mod\nfile 'modnull' memory -\n"
       "note the kernel decides at write time: whether the file opens for writing\n"
       "note the kernel decides at write time: whether the write-back succeeds\n"
       "offset '0' 0 0x0 octal whole\npattern '61 . 62' 3 61 .. 62\n"
       "before 0 -- -- --\nafter 0 61 -- 62\nundo 'varnock' 'modnull' '0' '. . .'\n",
       0},
      {explained({"varnock", "moddir", "0", "61"}),
       "tool varnock patch the file argument begins with mod\nfile 'moddir' directory -\n"
       "refused a directory cannot be written\noffset '0' 0 0x0 octal whole\npattern '61' 1 61\n",
       2},
      {explained({"varnock", "modmissing", "0", "61"}),
       "tool varnock patch the file argument begins with mod\nfile 'modmissing' missing -\n"
       "refused the path cannot be reached\noffset '0' 0 0x0 octal whole\npattern '61' 1 61\n",
       2},
  };
  cli::expect_cases(files, cases);
}

// A dump: what each pair would print, or what it asks of a file that is not
// read here; the other tools: their patterns and files.
TEST(Explain, DumpSearchCompare) {
  const std::vector<cli::Case> cases = {
      {explained({"varnock", "fw.bin", "2", "3", "7", "4", "0", "0", "-1", "2"}),
       dumphead + "offset '2' 2 0x2 decimal whole\nlength '3' 3 0x3 decimal whole\n"
                  "prints 2 43 44 45\n"
                  "offset '7' 7 0x7 decimal whole\nlength '4' 4 0x4 decimal whole\n"
                  "silent the length is 0, or the offset at or past the end\n"
                  "offset '0' 0 0x0 octal whole\nlength '0' 0 0x0 octal whole\n"
                  "silent the length is 0, or the offset at or past the end\n"
                  "offset '-1' -1 -0x1 decimal whole\nlength '2' 2 0x2 decimal whole\n"
                  "skipped the offset is negative\n",
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
      {explained({"./bin/varnock-search", "fw.bin", "41", "42 43", ""}),
       "tool varnock-search search the name varnock-search\nfile 'fw.bin' regular 7\n"
       "pattern '41' 1 41\npattern '42 43' 2 42 43\npattern '' 0\n"
       "skipped the pattern has no positions\nfinds 1 '41' prints 1 misses 0\n"
       "finds 2 '42 43' prints 1 misses 0\n",
       0},
      {explained({"varnock-search", "missing", "41"}),
       "tool varnock-search search the name varnock-search\nfile 'missing' missing -\n"
       "refused the file cannot be opened for reading\npattern '41' 1 41\n",
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

// Each trap of the arguments warns, status 1: a line that would not run as
// it reads. Numbers without digits, that stop early, that are clamped or
// octal; patterns with characters that are no hex digits or separators, 0x,
// a full stop inside a byte, a dropped digit; a leftover argument; a patch
// that grows a file, or that a folder's name chose.
TEST(Explain, Warnings) {
  const std::vector<cli::Case> cases = {
      {explained({"varnock", "modfw.bin", "", "61"}),
       "warn offset '' has no digits: it is 0\n"
       "after 0 61\n",
       1},
      {explained({"varnock", "fw.bin", "ff", "1", "1", "-"}),
       "warn offset 'ff' has no digits: it is 0\nwarn length '-' has no digits: it is 0\n", 1},
      {explained(
           {"varnock", "fw.bin", "64K", "1", "1e2", "1", "1_000", "1", "2", "12,34", "0", " 3 4"}),
       "warn offset '64K' stops at 'K': it is 64\nwarn offset '1e2' stops at 'e': it is 1\n"
       "warn offset '1_000' stops at '_': it is 1\nwarn length '12,34' stops at ',': it is 12\n"
       "warn length ' 3 4' stops at ' ': it is 3\n",
       1},
      {explained({"varnock", "fw.bin", "99999999999999999999", "1", "0", "-0x8000000000000001"}),
       "warn offset '99999999999999999999' is beyond the 64-bit range: it is "
       "9223372036854775807\n"
       "warn length '-0x8000000000000001' is beyond the 64-bit range: it is "
       "-9223372036854775808\n",
       1},
      {explained({"varnock", "fw.bin", "010", "1", "0000096", "1", "007", "1", "0", "00"}),
       "warn offset '010' is octal: it is 8\n"
       "warn offset '0000096' is octal and stops at '9': it is 0\n",
       1},
      {explained({"varnock", "modfw.bin", "0", "de:ad", "1", "0x4142", "2", "4.2", "3", "616"}),
       "warn pattern 'de:ad' drops its last character 'd'\n"
       "warn pattern 'de:ad' holds ':', which is no hex digit, space, comma or full stop\n"
       "after 0 de 00\n"
       "warn pattern '0x4142' holds 0x, which is no prefix in a pattern but two of its "
       "characters\n"
       "after 1 00 41 42\n"
       "warn pattern '4.2' has a full stop inside a byte: the wildcard comes first\n"
       "after 2 41 42\n"
       "warn pattern '616' drops its last character '6'\nafter 3 61\n",
       1},
      {explained({"varnock-search", "fw.bin", "55 aa ?? e9", "Ff,.", "hsqs"}),
       "warn pattern '55 aa ?? e9' holds '?', which is no hex digit, space, comma or full stop\n"
       "warn pattern 'hsqs' holds 'h', which is no hex digit, space, comma or full stop\n",
       1},
      {explained({"varnock", "fw.bin", "0", "1", "2"}),
       "warn leftover '2' follows the last pair: it is not used\n", 1},
      {explained({"varnock", "modfw.bin", "6", "61 62", "9", "."}),
       "after 6 61 62\nafter 9 --\nwarn file 'modfw.bin' grows from 7 to 8 bytes, which no patch "
       "takes back\n",
       1},
      {explained({"varnock", "models/fw.bin", "0", "16"}),
       "warn file 'models/fw.bin' begins with mod but its own name does not: it is patched\n"
       "after 0 16\n",
       1},
      {explained({"varnock", "./modfw.bin", "0", "2", "1"}),
       "warn leftover '1' follows the last pair: it is not used\n", 1},
      {explained({"varnock", "fw.bin", "0", "2", "0x10", "1", "-3", "1"}), "", 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(cli::joined(c.argv));
    cli::Folder dir;
    cli::putfiles(dir, files);
    cli::Outcome got = cli::run(c.argv, dir.path, c.opts);
    got.out = verdict(got.out);
    cli::expect(got, c.out, c.status);
  }
}

// A command line, explained and then run: the explanation's verdict and
// status, and the run's status.
struct Agree {
  std::vector<std::string> argv; // the run's command line
  std::string said;              // the explanation's warn, refused, trouble and after lines
  int status, ran;               // the explanation's status and the run's
  cli::Options opts = {};
};

// Runs each explanation and then its command line in dir, in turn; a FIFO
// named on a line is fed while it runs.
void expect_agreement(const std::string &dir, const std::vector<Agree> &cases) {
  for (const auto &c : cases) {
    SCOPED_TRACE(cli::joined(c.argv));
    cli::Outcome said = cli::run(explained(c.argv), dir, c.opts);
    said.out = verdict(said.out);
    cli::expect(said, c.said, c.status);
    cli::Files fifos;
    for (const auto &a : c.argv)
      if (a.find("fifo") != std::string::npos) fifos.push_back({a, "ABAB"});
    cli::Outcome ran = cli::runfed(c.argv, dir, fifos, c.opts);
    EXPECT_EQ(ran.status, c.ran);
    EXPECT_EQ(ran.err, "");
  }
}

// The explanation's status is the run's on files that are no regular files:
// the memory devices' reads and positions as the run meets them, FIFOs that
// refuse only a pattern with bytes to write, folders that cannot be read.
// Other character devices are never 0: only the device knows what it does.
TEST(Explain, AgreesOnOtherFiles) {
  cli::Folder dir;
  cli::putfiles(dir, {{"modzero", "->/dev/zero"},
                      {"modnull", "->/dev/null"},
                      {"modfull", "->/dev/full"},
                      {"modptmx", "->/dev/ptmx"},
                      {"modkmsg", "->/dev/kmsg"},
                      {"dir/", ""},
                      {"f", "AB"}});
  ASSERT_EQ(::mkfifo(dir.at("modfifo").c_str(), 0644), 0);
  const std::string max = "9223372036854775807";
  const std::string chr = " is a character device: whether it takes positions, and what its "
                          "reads return, only the device knows\n";
  std::vector<Agree> cases = {
      {{"varnock", "modzero", max, ". 00"}, "after " + max + " 00 00\n", 0, 0},
      {{"varnock", "modnull", max, ". 00"},
       "refused its last byte would lie past the largest offset\n",
       2,
       2},
      {{"varnock", "modzero", "0", "61 . . ."}, "after 0 61 00 00 00\n", 0, 0},
      {{"varnock", "modfull", "0", "61"}, "refused the device fails every write\n", 2, 2},
      {{"varnock", "modfull", "0", "."}, "refused the device fails every write\n", 2, 2},
      {{"varnock", "modptmx", "0", "61"},
       "warn file 'modptmx'" + chr +
           "after 0 61\nwarn file 'modptmx' has no undo line: it is not read here\n",
       1,
       2},
      {{"varnock", "modfifo", "-1", "41"}, "", 0, 0},
      {{"varnock", "modfifo"}, "", 0, 0},
      {{"varnock", "modfifo", "7"},
       "warn leftover '7' follows the last pair: it is not used\n",
       1,
       0},
      {{"varnock", "modfifo", "0", ". ."}, "after 0 -- --\n", 0, 0},
      {{"varnock", "modfifo", "0", "41"}, "refused a FIFO has no positions\n", 2, 2},
      {{"varnock-search", "dir", "41"}, "refused a directory cannot be read\n", 2, 2},
      {{"varnock-search", "dir", ""}, "", 0, 0},
      {{"varnock-cmp", "f", "dir"}, "refused a directory cannot be read\n", 2, 2},
  };
  // /dev/kmsg takes reads of whole records only: a one-byte read fails.
  int kmsg = ::open("/dev/kmsg", O_RDONLY);
  if (kmsg >= 0)
    cases.push_back(
        {{"varnock", "modkmsg", "0", "."}, "warn file 'modkmsg'" + chr + "after 0 --\n", 1, 2});
  ::close(kmsg);
  expect_agreement(dir.path, cases);
}

// The largest file a file system takes, found by asking it (ext4: 16 TiB
// less 4 KiB): ftruncate accepts every size up to it.
long long largest(const std::string &path) {
  int fd = ::open(path.c_str(), O_WRONLY);
  long long lo = 0;
  for (long long hi = LLONG_MAX; hi - lo > 1;) {
    long long mid = lo + (hi - lo) / 2;
    (::ftruncate(fd, mid) == 0 ? lo : hi) = mid;
  }
  EXPECT_EQ(::ftruncate(fd, 0), 0);
  ::close(fd);
  return lo;
}

// What the run meets only at its write open or its write, foreseen: a
// read-only mount or loop device, a file this user may not write, a full
// file system, the largest file it takes, a dump pair's memory.
TEST(Explain, AgreesAtTheLimits) {
  cli::Folder dir;
  cli::putfiles(dir, {{"modf", "ABCDEFG"}, {"image", std::string(8192, 'Z')}});
  long long end = largest(dir.at("modf"));
  ASSERT_GT(end, 0);
  cli::put(dir.at("modf"), "ABCDEFG");
  std::vector<Agree> cases = {
      {{"varnock", "modf", std::to_string(end - 2), "61 62"},
       "after " + std::to_string(end - 2) + " 61 62\nwarn file 'modf' grows from 7 to " +
           std::to_string(end) + " bytes, which no patch takes back\n",
       1,
       0},
      {{"varnock", "modf", std::to_string(end - 1), "61 62"},
       "refused it would end past the largest file the file system takes\n",
       2,
       2},
  };
  if (!*cli::uncappable())
    cases.push_back({{"varnock", "/proc/version", "0", "0x10000000"},
                     "refused memory for this pair's read cannot be had\n",
                     2,
                     2,
                     {.memory = 128ULL << 20}});
  expect_agreement(dir.path, cases);
  if (::geteuid() != 0) GTEST_SKIP() << "mounts, loop devices and another user need root";
  // Each setting in a folder of its own: a tmpfs mounted read-only, one with
  // two pages free, one full; a loop device attached read-only.
  struct Setting {
    std::string name;
    unsigned long long freepages; // a tmpfs with this many pages left, or a read-only one
    std::vector<Agree> cases;
  };
  constexpr unsigned long long readonly = ~0ULL;
  const std::vector<Setting> settings = {
      {"ro",
       readonly,
       {{{"varnock", "modf", "0", "61"}, "refused the file system is mounted read-only\n", 2, 2}}},
      {"full",
       0,
       {{{"varnock", "modf", "4097", "44"},
         "refused the file system has no room for the blocks it needs\n",
         2,
         2},
        {{"varnock", "modf", "3", "44"}, "after 3 44\n", 0, 0}}},
      {"room",
       2,
       {{{"varnock", "modf", "4097", "44", "0", "41", "8192", "42", "100", "43"},
         "after 4097 44\nafter 0 41\n"
         "refused the file system has no room for the blocks it needs\n"
         "after 100 43\nwarn file 'modf' grows from 0 to 4098 bytes, which no patch takes back\n",
         2,
         2}}},
  };
  for (const auto &s : settings) {
    SCOPED_TRACE(s.name);
    cli::Tmpfs fs(dir.at(s.name), 256 << 10);
    ASSERT_EQ(fs.why, "");
    cli::put(dir.at(s.name + "/modf"), s.name == "full" ? "ABCDEFG" : "");
    if (s.freepages == readonly) {
      ASSERT_EQ(::mount(nullptr, fs.path.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    } else {
      int fill = ::open(dir.at(s.name + "/fill").c_str(), O_WRONLY | O_CREAT, 0644);
      static const char page[4096] = {};
      while (::write(fill, page, sizeof page) > 0) {
      }
      ::close(fill);
      // Give back the pages the setting leaves free.
      struct stat st;
      ::stat(dir.at(s.name + "/fill").c_str(), &st);
      ASSERT_EQ(::truncate(dir.at(s.name + "/fill").c_str(),
                           st.st_size - static_cast<off_t>(s.freepages * 4096)),
                0);
    }
    expect_agreement(fs.path, s.cases);
  }
  cli::Loop ro(dir.at("image"), true);
  if (ro.dev.empty()) GTEST_SKIP() << ro.why;
  cli::putfiles(dir, {{"modro", "->" + ro.dev}});
  cli::Folder other;
  cli::putfiles(other, {{"modmine", "ABC"}, {"modtheirs", "ABC"}});
  ASSERT_EQ(::chown(other.at("modmine").c_str(), cli::nobody, cli::nobody), 0);
  ASSERT_EQ(::chmod(other.at("modmine").c_str(), 0444), 0);
  cli::Options nobody = cli::asnobody(other);
  expect_agreement(
      dir.path,
      {{{"varnock", "modro", "0", "61"}, "refused the block device is read-only\n", 2, 2}});
  expect_agreement(other.path, {{{"varnock", "modmine", "0", "61"},
                                 "refused the file cannot be opened for writing\n",
                                 2,
                                 2,
                                 nobody},
                                {{"varnock", "modtheirs", "0", "61"},
                                 "refused the file cannot be opened for writing\n",
                                 2,
                                 2,
                                 nobody}});
  EXPECT_EQ(cli::get(dir.at("image")), std::string(8192, 'Z'));
  EXPECT_EQ(cli::get(other.at("modtheirs")), "ABC");
}

// A seeded generator of command lines that patch a file: offsets around its
// end, pages and the file size limit, in every base and with every trap, and
// patterns of given bytes, wildcards and characters that are no hex digits.
struct Generator {
  std::mt19937 rng;
  std::size_t pick(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
  }
  std::string offset(std::size_t size) {
    static const char *odd[] = {"-1",
                                "",
                                "abc",
                                " 5",
                                "010",
                                "0x1f",
                                "4095",
                                "4096",
                                "4097",
                                "8191",
                                "8192",
                                "8193",
                                "63",
                                "64",
                                "0x7ffffffffffffff0",
                                "9223372036854775807",
                                "99999999999999999999"};
    if (pick(3) == 0) return odd[pick(sizeof odd / sizeof *odd)];
    return std::to_string(pick(size + 4));
  }
  std::string pattern() {
    static const char *odd[] = {"", ",", "a", "zz", ":", "0x", "4.2", "-1"};
    if (pick(8) == 0) return odd[pick(sizeof odd / sizeof *odd)];
    std::string text;
    for (std::size_t n = 1 + pick(5); n > 0; n--) {
      text += pick(4) == 0 ? std::string(".")
                           : cli::hextext(std::string(1, static_cast<char>(pick(256)))).substr(1);
      if (pick(3) == 0) text += pick(2) ? " " : ",";
    }
    return text;
  }
  std::vector<std::string> argv(const std::string &path, std::size_t size) {
    std::vector<std::string> line = {"varnock", path};
    for (std::size_t n = pick(4); n > 0; n--) line.insert(line.end(), {offset(size), pattern()});
    if (pick(7) == 0) line.push_back(offset(size));
    return line;
  }
};

// A file as an explanation says a run leaves it: its size, and the bytes
// it holds where they are known: those before the run, and those its after
// lines lay over them in order, a file growing to their last byte. Holes
// between read as zeros; a file may grow past 4 GiB, so it is kept sparse.
struct Foreseen {
  long long size;
  std::map<long long, char> bytes;
  std::string before;
};

Foreseen foreseen(const std::string &before, const std::string &said) {
  Foreseen f{static_cast<long long>(before.size()), {}, before};
  for (std::size_t k = 0; k < before.size(); k++) f.bytes[k] = before[k];
  std::string line;
  for (std::stringstream lines(said); std::getline(lines, line);) {
    if (line.rfind("after ", 0) != 0) continue;
    std::stringstream words(line.substr(6));
    long long at;
    words >> at;
    for (std::string b; words >> b; at++) {
      if (b == "--") continue;
      f.size = std::max(f.size, at + 1);
      f.bytes[at] = static_cast<char>(std::stoi(b, nullptr, 16));
    }
  }
  return f;
}

// Where the file at path, of size bytes, differs from what was foreseen,
// or "". Where the run may have refused some of it, each byte may also be
// the one before (0 past the old end), and the size anything between.
std::string unforeseen(const std::string &path, const Foreseen &f, long long size, bool some) {
  auto old = static_cast<long long>(f.before.size());
  bool sized = some ? size >= old && size <= f.size : size == f.size;
  std::string diff = sized ? "" : "size " + std::to_string(size) + "\n";
  int fd = ::open(path.c_str(), O_RDONLY);
  for (const auto &[at, byte] : f.bytes) {
    char got = 0, was = at < old ? f.before[at] : 0;
    bool read = ::pread(fd, &got, 1, at) == 1 || (some && at >= size);
    if (!read || (got != byte && !(some && got == was)))
      diff += "at " + std::to_string(at) + ": " + cli::hextext(std::string(1, got)) + "\n";
  }
  ::close(fd);
  return diff;
}

// The arguments of an explanation's undo line, taken back from their
// single quotes as a shell takes them ('\\'' a quote); none where it has no
// undo line.
std::vector<std::string> undone(const std::string &said) {
  std::vector<std::string> argv;
  std::size_t at = said.find("\nundo ");
  if (at == std::string::npos) return argv;
  std::string line = said.substr(at + 6, said.find('\n', at + 1) - at - 6);
  for (std::size_t k = 0; k < line.size() && line[k] == '\'';) {
    std::string word;
    for (;;) {
      std::size_t close = line.find('\'', k + 1);
      word += line.substr(k + 1, close - k - 1);
      k = close + 1;
      if (line.compare(k, 3, "\\''") != 0) break;
      word += '\'';
      k += 2;
    }
    argv.push_back(word);
    k += k < line.size() && line[k] == ' ';
  }
  return argv;
}

// A pattern of two-digit bytes and full stops as the search takes it:
// whether each position of it matches the file at pos.
bool occurs(const std::string &file, std::size_t pos, const std::string &pattern) {
  std::string compact;
  for (char c : pattern)
    if (c != ' ' && c != ',') compact += c;
  for (std::size_t k = 0; k < compact.size(); pos++) {
    if (pos >= file.size()) return false;
    if (compact[k] == '.') {
      k++;
      continue;
    }
    if (std::stoi(compact.substr(k, 2), nullptr, 16) != static_cast<unsigned char>(file[pos]))
      return false;
    k += 2;
  }
  return true;
}

// The counts an explanation of a search gives, against what the search
// prints for each pattern alone and against every occurrence of it.
void expect_search_counts(const std::string &dir, const std::string &path,
                          const std::vector<std::string> &patterns, const cli::Options &opts = {}) {
  std::vector<std::string> argv = {"varnock-search", path};
  argv.insert(argv.end(), patterns.begin(), patterns.end());
  SCOPED_TRACE(cli::joined(argv));
  cli::Outcome said = cli::run(explained(argv), dir, opts);
  std::string file = cli::get(path[0] == '/' ? path : dir + "/" + path), want;
  for (std::size_t i = 0; i < patterns.size(); i++) {
    cli::Outcome ran = cli::run({"varnock-search", path, patterns[i]}, dir, opts);
    long long prints = std::count(ran.out.begin(), ran.out.end(), '\n'), every = 0;
    for (std::size_t pos = 0; pos < file.size(); pos++) every += occurs(file, pos, patterns[i]);
    want += "finds " + std::to_string(i + 1) + " '" + patterns[i] + "' prints " +
            std::to_string(prints) + " misses " + std::to_string(every - prints) + "\n";
  }
  std::string got;
  std::stringstream lines(said.out);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("finds ", 0) == 0) got += line + "\n";
  EXPECT_EQ(got, want);
}

// The counts an explanation of a comparison gives, against the lines the
// comparison prints: a run's positions are those of its longer line.
void expect_compare_counts(const std::string &dir, const std::string &a, const std::string &b) {
  SCOPED_TRACE(a + " " + b);
  cli::Outcome said = cli::run(explained({"varnock-cmp", a, b}), dir);
  cli::Outcome ran = cli::run({"varnock-cmp", a, b}, dir);
  long long runs = 0, positions = 0, longest = 0, start = -1, wide = 0;
  std::stringstream lines(ran.out);
  for (std::string line; std::getline(lines, line);) {
    std::stringstream words(line.substr(2));
    long long at, n = -1;
    words >> at;
    for (std::string b; words; words >> b) n++;
    if (at != start) positions += wide, runs++, wide = 0, start = at;
    wide = std::max(wide, n), longest = std::max(longest, n);
  }
  positions += wide;
  std::string want = "differs runs " + std::to_string(runs) + " positions " +
                     std::to_string(positions) + " longest " + std::to_string(longest) + "\n";
  std::size_t at = said.out.rfind("differs ");
  EXPECT_EQ(at == std::string::npos ? said.out : said.out.substr(at), want);
}

// What a search would print and what it leaves out, and how much a
// comparison would print, counted from one read of the file: against the
// tools' own output.
TEST(Explain, Counts) {
  cli::Folder dir;
  cli::putfiles(dir, {{"a3", "\xaa\xaa\xaa"},
                      {"ab", "\xaa\xaa\xab"},
                      {"a3b", "\xaa\xaa\xaa\xab"},
                      {"abab", "\xaa\xab\xaa\xab"},
                      {"s", std::string("\0\0\x55\xaa", 4)},
                      {"m", "\x12\x34\x12\x34\x12\x56"},
                      {"AB", "AB"},
                      {"AC", "AC"},
                      {"AXY", "AXY"},
                      {"XYZ", "XYZ"},
                      {"A", "A"},
                      {"empty", ""}});
  expect_search_counts(dir.path, "a3", {"aa", "aa aa", "aa ab", ". ."});
  expect_search_counts(dir.path, "ab", {"aa ab", "ab", "."});
  expect_search_counts(dir.path, "a3b", {"aa aa ab", "aa ab", "aa . ab"});
  expect_search_counts(dir.path, "abab", {"aa ab", ". ab", "ab . ab"});
  expect_search_counts(dir.path, "s", {". 55 aa", "00 55 aa", "55 aa", "00"});
  expect_search_counts(dir.path, "m", {"12 34 12 56", "12 56", "12 . 12"});
  expect_search_counts(dir.path, "empty", {"00", "."});
  for (const auto &[a, b] : std::vector<std::pair<std::string, std::string>>{{"AB", "AC"},
                                                                             {"AB", "AB"},
                                                                             {"A", "AXY"},
                                                                             {"AXY", "A"},
                                                                             {"AB", "XYZ"},
                                                                             {"empty", "AB"},
                                                                             {"empty", "empty"}})
    expect_compare_counts(dir.path, a, b);
  // Files not read here have no counts.
  cli::Outcome proc = cli::run(explained({"varnock-search", "/proc/version", "41"}), dir.path);
  EXPECT_NE(proc.out.find("note not read here: what the search would find is not counted"),
            std::string::npos);
}

// The undo line of a patch: its pairs in reverse order, each with the bytes
// it finds (a wildcard where it writes nothing), every argument in single
// quotes; run after the patch, it leaves the file as it was. None, and a warn
// instead, where no line can take the patch back.
TEST(Explain, Undo) {
  struct Undo {
    std::vector<std::string> argv;
    std::string said; // the explanation's undo and warn lines
  };
  const std::string chr = "warn file 'modptmx' is a character device: whether it takes positions, "
                          "and what its reads return, only the device knows\n";
  const std::vector<Undo> cases = {
      {{"varnock", "modfw.bin", "2", "61 62", "3", ". 63"},
       "undo 'varnock' 'modfw.bin' '3' '62 45' '2' '43 44'\n"},
      {{"varnock", "mod'q", "0", "61", "6", "61 . ."},
       "undo 'varnock' 'mod'\\''q' '6' '47 . .' '0' '41'\n"},
      {{"./bin/varnock", "modfw.bin", "-1", "61", "9", ". .", "0", "78"},
       "undo './bin/varnock' 'modfw.bin' '0' '41'\n"},
      {{"varnock", "modfw.bin", "6", "61 62"},
       "warn file 'modfw.bin' grows from 7 to 8 bytes, which no patch takes back\n"},
      {{"varnock", "modptmx", "0", "61"},
       chr + "warn file 'modptmx' has no undo line: it is not read here\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(cli::joined(c.argv));
    cli::Folder dir;
    cli::putfiles(dir,
                  {{"modfw.bin", "ABCDEFG"}, {"mod'q", "ABCDEFG"}, {"modptmx", "->/dev/ptmx"}});
    ::mkdir(dir.at("bin").c_str(), 0755);
    ASSERT_EQ(::symlink((cli::bindir() + "/varnock").c_str(), dir.at("bin/varnock").c_str()), 0);
    cli::Outcome said = cli::run(explained(c.argv), dir.path);
    std::string got;
    std::stringstream lines(said.out);
    for (std::string line; std::getline(lines, line);)
      if (line.rfind("undo ", 0) == 0 || line.rfind("warn ", 0) == 0) got += line + "\n";
    EXPECT_EQ(got, c.said);
    std::vector<std::string> back = undone(said.out);
    if (back.empty()) continue;
    std::vector<std::string> argv = c.argv;
    argv[0] = back[0] = "varnock";
    cli::expect(cli::run(argv, dir.path), "", 0);
    cli::expect(cli::run(back, dir.path), "", 0);
    EXPECT_EQ(cli::get(dir.at(c.argv[1])), "ABCDEFG");
  }
}

// Lays out the file of a line of the differential run in its setting: its
// bytes, and the options the line runs with.
enum Setting { plain, limited, device, small, other };

std::string layout(Setting setting, Generator &gen, const cli::Folder &dir, const std::string &path,
                   const std::string &loopdev, cli::Options &opts, const cli::Options &nobody) {
  std::string bytes;
  for (std::size_t k = gen.pick(4) ? gen.pick(40) : 5000 + gen.pick(4000); k > 0; k--)
    bytes += static_cast<char>(gen.pick(256));
  opts = setting == limited ? cli::Options{.fsize = 8192} : cli::Options{};
  if (setting == device) {
    bytes.resize(8192);
    for (char &c : bytes) c = static_cast<char>(gen.pick(256));
    std::ofstream(loopdev, std::ios::binary) << bytes;
    return bytes;
  }
  ::unlink(path.c_str());
  ::unlink(dir.at("fs/fill").c_str());
  cli::put(path, bytes);
  if (setting == small) {
    // Full, then as many pages given back as the line may need.
    int fill = ::open(dir.at("fs/fill").c_str(), O_WRONLY | O_CREAT, 0644);
    static const char page[4096] = {};
    while (::write(fill, page, sizeof page) > 0) {
    }
    off_t full = ::lseek(fill, 0, SEEK_END), back = 4096 * static_cast<off_t>(gen.pick(3));
    EXPECT_EQ(::ftruncate(fill, std::max<off_t>(0, full - back)), 0);
    ::close(fill);
  }
  if (setting == other) {
    static const mode_t modes[] = {0644, 0444, 0200};
    EXPECT_EQ(::chown(path.c_str(), gen.pick(3) ? cli::nobody : 0, cli::nobody), 0);
    EXPECT_EQ(::chmod(path.c_str(), modes[gen.pick(3)]), 0);
    opts = nobody;
  }
  return bytes;
}

// The explanation agrees with the run: for random command lines, explained
// and then run on the same file, status 0 or 1 where the run ends 0 and 2
// where it ends 2, and the bytes its after lines foresee are the file's
// afterwards; its undo line puts back the bytes before. On regular files,
// under a file size limit, and as root on a loop device, a tmpfs with
// little or no room and as another user. Now and then the counts of a
// search and a comparison of the file, against the tools' output.
// VARNOCK_DIFFERENTIAL sets the number of lines per setting, VARNOCK_SEED
// the seed.
TEST(Explain, AgreesWithTheRun) {
  const char *many = std::getenv("VARNOCK_DIFFERENTIAL");
  const char *seed = std::getenv("VARNOCK_SEED");
  const long lines = many ? std::atol(many) : 40;
  Generator gen{std::mt19937(seed ? std::atoi(seed) : 1)};
  cli::Folder dir;
  cli::put(dir.at("image"), std::string(8192, '\0'));
  std::unique_ptr<cli::Loop> loop;
  std::unique_ptr<cli::Tmpfs> fs;
  std::vector<Setting> settings = {plain, limited};
  if (::geteuid() == 0) {
    loop = std::make_unique<cli::Loop>(dir.at("image"));
    fs = std::make_unique<cli::Tmpfs>(dir.at("fs"), 64 << 10);
    if (!loop->dev.empty()) settings.push_back(device);
    if (!loop->dev.empty()) cli::putfiles(dir, {{"modloop", "->" + loop->dev}});
    if (fs->why.empty()) settings.insert(settings.end(), {small, other});
  }
  cli::Options nobody = cli::asnobody(dir);
  for (Setting setting : settings) {
    for (long n = 0; n < lines; n++) {
      std::string where = setting == small ? dir.at("fs") : dir.path, path = where + "/modf";
      if (setting == device) path = dir.at("modloop");
      cli::Options opts;
      std::string bytes = layout(setting, gen, dir, path, loop ? loop->dev : "", opts, nobody);
      std::vector<std::string> argv = gen.argv(lastpart(path), bytes.size());
      SCOPED_TRACE("setting " + std::to_string(setting) + ": " + cli::joined(argv));
      cli::Outcome said = cli::run(explained(argv), where, opts);
      cli::Outcome ran = cli::run(argv, where, opts);
      ASSERT_EQ(said.err + ran.err, "");
      // A file that cannot be read here leaves the file system's room and
      // largest file unforeseen: the run may refuse more, whole, but never
      // write what was not foreseen.
      bool blind = said.out.find("note the file cannot be read") != std::string::npos;
      bool some = blind && ran.status == 2;
      if (!some) {
        ASSERT_EQ(said.status == 2 ? 2 : 0, ran.status) << said.out;
      }
      if (setting == other) ::chmod(path.c_str(), 0644);
      struct stat st;
      ASSERT_EQ(::stat(path.c_str(), &st), 0);
      long long size = setting == device ? 8192 : st.st_size;
      ASSERT_EQ(unforeseen(path, foreseen(bytes, said.out), size, some), "") << said.out;
      std::vector<std::string> back = undone(said.out);
      if (ran.status == 0 && !back.empty()) {
        ASSERT_EQ(cli::run(back, where, setting == other ? nobody : opts).status, 0);
        std::string after = cli::get(path).substr(0, setting == device ? 8192 : std::string::npos);
        ASSERT_TRUE(after == bytes) << said.out;
      }
      // The tools read a byte at a time: no counts of a file grown past 4 GiB.
      if (setting == device || setting == other || size > (1 << 20) || gen.pick(8) != 0) continue;
      cli::put(dir.at("was"), bytes);
      expect_compare_counts(where, path, dir.at("was"));
      std::string file = cli::get(path);
      std::size_t at = file.empty() ? 0 : gen.pick(file.size());
      std::string piece = file.substr(at, 1 + gen.pick(3)), pattern;
      for (char c : piece) pattern += gen.pick(3) ? cli::hextext(std::string(1, c)) : " .";
      expect_search_counts(where, "modf", {pattern.empty() ? "00" : pattern, "00 00"});
    }
  }
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
              "note the kernel decides at write time: whether the file opens for writing\n"
              "note the kernel decides at write time: whether the write-back succeeds\n"
              "note a FIFO has no positions: only a pattern with nothing to write passes\n"
              "offset '0' 0 0x0 octal whole\npattern '61' 1 61\nbefore 0 --\n"
              "refused a FIFO has no positions\n",
              2);
  if (*cli::unstraceable()) GTEST_SKIP() << cli::unstraceable();
  const std::string log = dir.at("trace");
  cli::Outcome got = cli::run(explained({"varnock", "modfw.bin", "0", "61 . 63", "9", "78"}),
                              dir.path, {.strace = {"-y", "-o", log}});
  EXPECT_EQ(got.status, 1);
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

// The explanation's status and output: a device's end foreseen, a wildcard
// whose read fails, and a standard output that cannot be written.
TEST(Explain, EndsAndOutput) {
  cli::Folder dir;
  cli::putfiles(dir, files);
  cli::expect(
      cli::run(explained({"varnock", "fw.bin", "0", "2"}), dir.path, {.mode = cli::Stdout::full}),
      "", 2);
  if (!*cli::unstraceable()) {
    cli::Outcome got =
        cli::run(explained({"varnock", "modfw.bin", "0", "61 . 63"}), dir.path,
                 {.strace = {"-P", "modfw.bin", "-e", "inject=read:error=EIO:when=2"}});
    got.out = verdict(got.out);
    cli::expect(got, "after 0 61 42 63\ntrouble a wildcard's read fails\n", 2);
  }
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
                           "note the bytes are read back from the medium after the sync\n"
                           "offset '8191' 8191 0x1fff decimal whole\n";
  cli::expect_cases({{"modblk", "->" + loop.dev}},
                    {
                        {explained({"varnock", "modblk", "8191", "61 62"}),
                         head + "pattern '61 62' 2 61 62\nbefore 8191 5a --\n"
                                "refused it would end past the end of the device or attribute\n",
                         2},
                        {explained({"varnock", "modblk", "8191", "61"}),
                         head + "pattern '61' 1 61\nbefore 8191 5a\nafter 8191 61\n"
                                "undo 'varnock' 'modblk' '8191' '5a'\n",
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
