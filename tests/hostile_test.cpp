// Hostile inputs for every tool and mode: each run must end in time with the
// expected status, say nothing on standard error, and change no file that it
// was not asked to change.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "cli.h"

namespace {

constexpr long long big = 5000000000LL; // past 4 GiB

// The files every case finds in its folder.
void layout(const cli::Folder &dir) {
  cli::putfiles(dir, {{"file", "ABCDEFG"},
                      {"modfile", "ABCDEFG"},
                      {"empty", ""},
                      {"modempty", ""},
                      {"dir/", ""},
                      {"moddir/", ""},
                      {"modfull", "->/dev/full"},
                      {"modnull", "->/dev/null"}});
  for (const char *name : {"sparse", "modsparse"}) {
    int fd = ::open(dir.at(name).c_str(), O_WRONLY | O_CREAT, 0644);
    if (::pwrite(fd, "XY", 2, big) != 2) throw std::runtime_error("cannot make a sparse file");
    ::close(fd);
  }
  ::mkfifo(dir.at("fifo").c_str(), 0644);
  ::mkfifo(dir.at("modfifo").c_str(), 0644);
}

// Size and the bytes at both ends of each regular file: enough to see a change
// without reading gigabytes of holes.
std::map<std::string, std::string> snapshot(const cli::Folder &dir) {
  std::map<std::string, std::string> seen;
  for (const char *name : {"file", "modfile", "empty", "modempty", "sparse", "modsparse"}) {
    int fd = ::open(dir.at(name).c_str(), O_RDONLY);
    struct stat st;
    ::fstat(fd, &st);
    std::string ends(128, '\0');
    ssize_t head = ::pread(fd, ends.data(), 64, 0);
    ssize_t tail = ::pread(fd, ends.data() + 64, 64, std::max<off_t>(0, st.st_size - 64));
    ::close(fd);
    seen[name] = std::to_string(st.st_size) + ":" + std::to_string(head + tail) + ends;
  }
  return seen;
}

struct Hostile {
  std::vector<std::string> argv;
  int status;
  std::string changes; // the one file the run may change, if any
  cli::Stdout mode = cli::Stdout::capture;
  unsigned long long fsize = 0; // the file size limit, 0 for none
};

// head followed by n pairs of off and item.
std::vector<std::string> pairs(std::vector<std::string> head, std::string off, std::string item,
                               int n) {
  for (int i = 0; i < n; i++) head.insert(head.end(), {off, item});
  return head;
}

void expect_hostile(const std::vector<Hostile> &cases) {
  for (const auto &c : cases) {
    std::string shown = cli::joined(c.argv);
    SCOPED_TRACE(shown.size() > 200 ? shown.substr(0, 200) + "..." : shown);
    cli::Folder dir;
    layout(dir);
    auto before = snapshot(dir);
    cli::Files fifos;
    for (const auto &a : c.argv)
      if (a.ends_with("fifo")) fifos.push_back({a, "ABAB"});
    cli::Outcome got =
        cli::runfed(c.argv, dir.path, fifos, {.mode = c.mode, .timeout = 60, .fsize = c.fsize});
    EXPECT_EQ(got.status, c.status);
    EXPECT_EQ(got.err, "");
    auto after = snapshot(dir);
    for (const auto &[name, state] : before)
      if (name != c.changes) {
        EXPECT_EQ(after[name], state) << name << " changed";
      }
    EXPECT_NE(::access(dir.at("modmissing").c_str(), F_OK), 0) << "a patch created a file";
  }
}

} // namespace

using S = cli::Stdout;

// Inputs that are not plain files: each tool and mode ends, and says so in its status.
TEST(Hostile, UnusualFiles) {
  const std::vector<Hostile> cases = {
      {{"varnock", "missing", "0", "4"}, 2, ""},
      {{"varnock", "dir", "0", "4"}, 2, ""},
      {{"varnock", "empty", "0", "4"}, 0, ""},
      {{"varnock", "fifo", "0", "4"}, 2, ""},
      {{"varnock", "/dev/null", "0", "4"}, 0, ""},
      {{"varnock", "modmissing", "0", "61"}, 2, ""},
      {{"varnock", "moddir", "0", "61"}, 2, ""},
      {{"varnock", "modempty", "0", "61 ."}, 0, "modempty"},
      {{"varnock", "modfifo", "0", "61"}, 2, ""},
      {{"varnock", "modfull", "0", "61"}, 2, ""},
      {{"varnock", "modfull", "0", "."}, 2, ""},
      {{"varnock", "moddir"}, 2, ""},
      {{"varnock", "modnull", "0", "61 ."}, 0, ""},
      {{"varnock-search", "missing", "41"}, 2, ""},
      {{"varnock-search", "dir", "41"}, 2, ""},
      {{"varnock-search", "empty", "41"}, 0, ""},
      {{"varnock-search", "fifo", "41"}, 0, ""},
      {{"varnock-search", "fifo", "41", "42"}, 2, ""},
      {{"varnock-search", "/dev/null", "41", "."}, 0, ""},
      {{"varnock-cmp", "missing", "file"}, 2, ""},
      {{"varnock-cmp", "file", "dir"}, 2, ""},
      {{"varnock-cmp", "empty", "file"}, 0, ""},
      {{"varnock-cmp", "fifo", "file"}, 0, ""},
      {{"varnock-cmp", "/dev/null", "file"}, 0, ""},
      // under a file size limit of 1 KiB: failed writes, never a signal, and
      // a pattern that would cross the limit is not begun
      {{"varnock", "modfile", "1023", "61"}, 0, "modfile", S::capture, 1024},
      {{"varnock", "modfile", "1020", "61 62 63 64 65 66"}, 2, "", S::capture, 1024},
      {{"varnock", "/dev/zero", "0", "400"}, 2, "", S::capture, 1024},
  };
  expect_hostile(cases);
}

// A standard output that is closed or full loses output: status 2 whenever
// there was something to print.
TEST(Hostile, BrokenStandardOutput) {
  std::vector<Hostile> cases;
  for (S mode : {S::closed, S::full}) {
    cases.push_back({{"varnock", "file", "0", "4"}, 2, "", mode});
    cases.push_back({{"varnock", "file", "9", "4"}, 0, "", mode});
    cases.push_back({{"varnock", "modfile", "0", "61"}, 0, "modfile", mode});
    cases.push_back({{"varnock-search", "file", "."}, 2, "", mode});
    cases.push_back({{"varnock-cmp", "file", "empty"}, 2, "", mode});
  }
  expect_hostile(cases);
}

// Numbers at the 64-bit limits, negative ones, and offsets past 4 GiB.
TEST(Hostile, NumbersAtTheLimits) {
  const std::string max = "9223372036854775807", min = "-9223372036854775808",
                    over = "99999999999999999999999";
  const std::vector<Hostile> cases = {
      {{"varnock", "file", max, max}, 0, ""},
      {{"varnock", "file", over, "1"}, 0, ""},
      {{"varnock", "file", "0", max}, 0, ""},
      {{"varnock", "file", "0", over}, 0, ""},
      {{"varnock", "file", min, "1", "0", min}, 0, ""},
      {{"varnock", "sparse", "5000000000", max}, 0, ""},
      {{"varnock", "sparse", "0xffffffff", "2", "4294967296", "1"}, 0, ""},
      {{"varnock", "/dev/zero", max, "1"}, 0, ""},
      // where the offset plus the length would pass the 64-bit range
      {{"varnock", "empty", over, "8"}, 0, ""},
      {{"varnock", "/proc/version", "0x7ffffffffffffffe", "8"}, 0, ""},
      {{"varnock", "modfile", max, "61"}, 2, ""},
      {{"varnock", "modfile", over, ". ."}, 0, ""},
      {{"varnock", "modfile", min, "61"}, 0, ""},
      {{"varnock", "modsparse", "5000000001", ". 61 ."}, 0, "modsparse"},
  };
  expect_hostile(cases);
}

// Sheer size: the longest pattern Linux passes as one argument (128 KiB less
// its terminator), ten thousand pairs or patterns.
TEST(Hostile, LargeArguments) {
  constexpr size_t longest = 128 * 1024 - 1;
  std::string longhex(longest, 'a');
  std::string longwild = std::string(longest - 1, '.') + "4";
  const std::vector<Hostile> cases = {
      {{"varnock-search", "file", longhex}, 0, ""},
      {{"varnock-search", "file", longwild}, 0, ""},
      {{"varnock", "modfile", "0", longhex}, 0, "modfile"},
      {{"varnock", "modfile", "3", longwild}, 0, ""},
      {pairs({"varnock", "file"}, "3", "2", 10000), 0, ""},
      {pairs({"varnock", "modfile"}, "1", "62 .", 10000), 0, "modfile"},
      {pairs({"varnock-search", "file"}, "41", "47", 5000), 0, ""},
      {pairs({"varnock-cmp", "file", "modfile"}, "x", "y", 10000), 0, ""},
  };
  expect_hostile(cases);
}
