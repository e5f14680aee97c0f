#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/fanotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli.h"

namespace {

using cli::bytes;

struct Patch {
  std::vector<std::string> argv; // patches the file "modtest"
  std::string after;             // what "modtest" holds afterwards
  int status;
  cli::Options opts = {};
};

const std::string orig = "ABCDEFG";

void expect_patches(const std::vector<Patch> &cases) {
  for (const auto &c : cases) {
    SCOPED_TRACE(cli::joined(c.argv));
    cli::Folder dir;
    cli::put(dir.at("modtest"), orig);
    cli::expect(cli::run(c.argv, dir.path, c.opts), "", c.status);
    EXPECT_EQ(cli::get(dir.at("modtest")), c.after);
  }
}

// Given bytes are written at the offset; wildcards keep what the file holds.
TEST(Patch, GivenAndWildcardBytes) {
  expect_patches({
      {{"varnock", "modtest", "0", "61,62"}, "abCDEFG", 0},
      {{"varnock", "modtest", "2", "ff . ff"},
       "AB" + bytes({0xff}) + "D" + bytes({0xff}) + "FG",
       0},
      {{"varnock", "modtest", "1", "..."}, orig, 0},
      {{"varnock", "modtest", "0", "616"}, "aBCDEFG", 0},
      {{"varnock", "modtest", "0x3", "78"}, "ABCxEFG", 0},
      {{"varnock", "modtest", "0x1A", "2e"}, orig + std::string(19, '\0') + ".", 0},
      {{"varnock", "modtest", "0", "80 FF"}, bytes({0x80, 0xff}) + "CDEFG", 0},
      {{"varnock", "modtest", "0", "61", "0", "."}, "aBCDEFG", 0},
      {{"varnock", "modtest", "0", "61", "2"}, "aBCDEFG", 0},
      {{"varnock", "modtest", "0", "61", "1", "..62"}, "aBCbEFG", 0},
  });
}

// Pairs that ask for nothing leave the file exactly as it was.
TEST(Patch, SkippedPairs) {
  expect_patches({
      {{"varnock", "modtest"}, orig, 0},
      {{"varnock", "modtest", "0", ""}, orig, 0},
      {{"varnock", "modtest", "0", ",,"}, orig, 0},
      {{"varnock", "modtest", "0", "a"}, orig, 0},
      {{"varnock", "modtest", "-1", "61"}, orig, 0},
      {{"varnock", "modtest", "-1", "61", "1", "62"}, "AbCDEFG", 0},
      {{"varnock", "modtest", "0", "61", "1", "", "2", "63"}, "aBcDEFG", 0},
      {{"varnock", "modtest", "-9223372036854775807", "61"}, orig, 0},
      {{"varnock", "modtest", "-9223372036854775808", "61"}, orig, 0},
      {{"varnock", "modtest", "-9223372036854775809", "61"}, orig, 0},
  });
}

// Past the end: the file grows only as far as known bytes reach, holes read as zero,
// and a wildcard with no byte behind it is never made up.
TEST(Patch, PastTheEnd) {
  expect_patches({
      {{"varnock", "modtest", "9", "61"}, orig + bytes({0, 0}) + "a", 0},
      {{"varnock", "modtest", "6", "61 . ."}, "ABCDEFa", 0},
      {{"varnock", "modtest", "8", ". 61"}, orig + bytes({0, 0}) + "a", 0},
      {{"varnock", "modtest", "5", ". . . ."}, orig, 0},
      {{"varnock", "modtest", "5", "61 . . 62"}, "ABCDEaG" + bytes({0}) + "b", 0},
  });
}

// Offsets that cannot be reached write nothing and report trouble.
TEST(Patch, UnreachableOffsets) {
  expect_patches({
      {{"varnock", "modtest", "9223372036854775807", "61"}, orig, 2},
      {{"varnock", "modtest", "9223372036854775808", "61"}, orig, 2},
      {{"varnock", "modtest", "9223372036854775809", "61"}, orig, 2},
      {{"varnock", "modtest", "0x7fffffffffffffff", "61", "0", "62"}, "bBCDEFG", 2},
      {{"varnock", "modtest", "99999999999999999999", ". 61"}, orig, 2},
  });
}

// Makes path, a file in dir, writable but not readable for the tool. A
// user's own file of mode 0200 refuses reading, but root reads any file: root
// runs the tool as another user, and the options say so.
cli::Options writeonly(const cli::Folder &dir, const std::string &path) {
  if (::geteuid() == 0) {
    EXPECT_EQ(::chown(path.c_str(), cli::nobody, cli::nobody), 0);
  }
  EXPECT_EQ(::chmod(path.c_str(), 0200), 0);
  return cli::asnobody(dir);
}

// A file that can be written but not read takes given bytes; wildcards stay
// untouched.
TEST(Patch, WriteOnlyFile) {
  cli::Folder dir;
  std::string path = dir.at("modwo");
  cli::put(path, orig);
  cli::Options opts = writeonly(dir, path);
  cli::expect(cli::run({"varnock", "modwo", "0", "61 . 63", "5", "78"}, dir.path, opts), "", 0);
  cli::expect(cli::run({"varnock", "./modwo", "0", "1"}, dir.path, opts), "0\n", 2);
  ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
  EXPECT_EQ(cli::get(path), "aBcDExG");
}

// The path comes to name other files while the tool is held at its opens:
// wildcards must come from the file that is written, never from one that the
// path named before, and a path that names yet another file at the second
// look is not patched. Files with the same inode number on two file systems
// are not the same file.
TEST(Patch, PathReplacedBetweenOpens) {
  struct Switch {
    cli::Files files;              // "one/" and "two/" are tmpfs mounts of their own
    std::vector<std::string> held; // files whose opens are held, in the order the tool opens them
    std::vector<std::string> over; // renamed over "modf" at the first, second ... held open
    int status;
    cli::Files after;
  };
  // "old" and "keep" are second names of "modf" and "new".
  const cli::Files plain = {{"modf", "OLDOLD"}, {"new", "newnew"}, {"newer", "NEWERR"}};
  const cli::Files twofs = {{"one/", ""},        {"two/", ""},        {"one/f", "first!"},
                            {"two/f", "second"}, {"modf", "->one/f"}, {"link2", "->two/f"}};
  const std::vector<Switch> cases = {
      {plain, {"old"}, {"new"}, 0, {{"modf", "aecnex"}, {"old", "OLDOLD"}}},
      {plain,
       {"old", "keep"},
       {"new", "newer"},
       2,
       {{"modf", "NEWERR"}, {"keep", "newnew"}, {"old", "OLDOLD"}}},
      {twofs, {"one/f"}, {"link2"}, 0, {{"two/f", "aeconx"}, {"one/f", "first!"}}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.held.size() == 1 ? c.held[0] : "held twice");
    int fan = ::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY);
    if (fan < 0)
      GTEST_SKIP() << "no fanotify permission events (they need CAP_SYS_ADMIN): "
                   << std::strerror(errno);
    cli::Folder dir;
    std::vector<std::unique_ptr<cli::Tmpfs>> mounts;
    for (const auto &[name, bytes] : c.files) {
      if (name.back() == '/') {
        mounts.push_back(std::make_unique<cli::Tmpfs>(dir.at(name), 1 << 20));
        if (!mounts.back()->why.empty()) break;
      } else {
        cli::putfiles(dir, {{name, bytes}});
      }
    }
    if (!mounts.empty() && !mounts.back()->why.empty()) {
      ::close(fan);
      cli::skiprow(mounts.back()->why);
      continue;
    }
    if (!mounts.empty()) {
      struct stat a, b;
      ASSERT_EQ(::stat(dir.at("one/f").c_str(), &a) | ::stat(dir.at("two/f").c_str(), &b), 0);
      ASSERT_EQ(a.st_ino, b.st_ino) << "the two mounts gave their files other inode numbers";
    } else {
      ASSERT_EQ(::link(dir.at("modf").c_str(), dir.at("old").c_str()), 0);
      ASSERT_EQ(::link(dir.at("new").c_str(), dir.at("keep").c_str()), 0);
    }
    for (const auto &name : c.held)
      ASSERT_EQ(::fanotify_mark(fan, FAN_MARK_ADD, FAN_OPEN_PERM, AT_FDCWD, dir.at(name).c_str()),
                0);
    pid_t holder = ::fork();
    if (holder == 0) {
      ::alarm(60);
      struct fanotify_event_metadata ev;
      for (std::size_t n = 0; ::read(fan, &ev, sizeof ev) >= static_cast<ssize_t>(sizeof ev); n++) {
        if (n < c.over.size() && ::rename(dir.at(c.over[n]).c_str(), dir.at("modf").c_str()) != 0)
          _exit(1);
        struct fanotify_response allow = {ev.fd, FAN_ALLOW};
        if (::write(fan, &allow, sizeof allow) != sizeof allow) _exit(1);
        ::close(ev.fd);
      }
      _exit(0);
    }
    cli::Outcome got = cli::run({"varnock", "modf", "0", "61 . 63", "4", ". 78"}, dir.path);
    ::close(fan);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    cli::expect(got, "", c.status);
    for (const auto &[name, bytes] : c.after) EXPECT_EQ(cli::get(dir.at(name)), bytes) << name;
  }
}

// Status 0 means the bytes reached the medium. A loop device over a sparse
// file, on a small tmpfs of its own: the kernel's cache takes the patch either
// way, and writing it back into the file's hole fails where the tmpfs is full.
TEST(Patch, WriteBackToTheMedium) {
  struct WriteBack {
    bool full;
    int status;
    std::string back; // the backing file's bytes at the patch afterwards
  };
  int rows = 0, skipped = 0;
  for (const auto &c : {WriteBack{true, 2, bytes({0, 0, 0})}, WriteBack{false, 0, "abc"}}) {
    SCOPED_TRACE(c.full ? "full" : "with room left");
    rows++;
    cli::Folder dir;
    cli::Tmpfs fs(dir.at("fs"), 2 << 20);
    if (!fs.why.empty()) {
      skipped += cli::skiprow(fs.why);
      continue;
    }
    int back = ::open(dir.at("fs/back").c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_EQ(::ftruncate(back, 64 << 20), 0);
    int fill = ::open(dir.at("fs/fill").c_str(), O_WRONLY | O_CREAT, 0644);
    static const char block[65536] = {};
    while (c.full && ::write(fill, block, sizeof block) > 0) {
    }
    ::close(fill);
    cli::Loop loop(dir.at("fs/back"));
    if (loop.dev.empty()) {
      ::close(back);
      skipped += cli::skiprow(loop.why);
      continue;
    }
    cli::putfiles(dir, {{"modloop", "->" + loop.dev}});
    cli::expect(cli::run({"varnock", "modloop", "40000000", "61 62 63"}, dir.path), "", c.status);
    char got[3] = {};
    EXPECT_EQ(::pread(back, got, 3, 40000000), 3);
    EXPECT_EQ(std::string(got, 3), c.back);
    ::close(back);
  }
  if (skipped == rows) GTEST_SKIP() << "no row could run here";
}

// Calls the patch relies on fail as a failing kernel would fail them. What
// it cannot learn (the file's kind, the file size limit) stops the run before
// anything is written; a failed read leaves its wildcard untouched and is
// trouble; a failed reservation, sync or close is trouble; bytes written
// already need no reservation, and a file system that cannot reserve is
// written all the same; a write that fails for room takes back what the
// pattern wrote and the size it grew by, one that fails otherwise does not.
TEST(Patch, FailedCalls) {
  if (*cli::unstraceable()) GTEST_SKIP() << cli::unstraceable();
  auto failing = [](const std::string &call) {
    return cli::Options{.strace = {"-P", "modtest", "-e", "inject=" + call}};
  };
  std::vector<Patch> cases = {
      {{"varnock", "modtest", "0", "61 . 63"}, "aBcDEFG", 2, failing("read:error=EIO")},
      {{"varnock", "modtest", "0", "61 . 62"}, "aBbDEFG", 2, failing("read:error=EIO:when=1")},
      {{"varnock", "modtest", "0", "61 . 62"}, "aBbDEFG", 2, failing("read:error=EIO:when=2")},
      {{"varnock", "modtest", "0", "61"}, "aBCDEFG", 2, failing("close:error=EIO")},
      {{"varnock", "modtest", "0", "61"}, "aBCDEFG", 2, failing("fdatasync:error=EIO")},
      {{"varnock", "modtest", "0", "61"}, orig, 2, failing("%fstat:error=EIO:when=1")},
      {{"varnock", "modtest", "0", "61"}, orig, 2, failing("%fstatfs:error=EIO")},
      {{"varnock", "modtest", "7", "61"}, orig, 2, failing("fallocate:error=ENOSPC")},
      {{"varnock", "modtest", "0", "61"}, "aBCDEFG", 0, failing("fallocate:error=ENOSPC")},
      {{"varnock", "modtest", "6", "61 62 . . 63"}, orig, 2, failing("write:error=ENOSPC:when=2")},
      {{"varnock", "modtest", "6", "61 62 . . 63"}, orig, 2, failing("write:error=EFBIG:when=2")},
      {{"varnock", "modtest", "6", "61 62 . . 63"},
       "ABCDEFa",
       2,
       failing("write:error=ENOSPC:when=2+")},
      {{"varnock", "modtest", "6", "61 62 . . 63"},
       "ABCDEFab",
       2,
       failing("write:error=EIO:when=2")},
      {{"varnock", "modtest", "0", "61", "3", "64"},
       "aBCdEFG",
       0,
       failing("fallocate:error=EOPNOTSUPP")},
      // a quota's refusal is one of room: the pattern is taken back
      {{"varnock", "modtest", "6", "61 62 . . 63"}, orig, 2, failing("write:error=EDQUOT:when=2")},
      // the old bytes read short: not taken for whole, so never written back
      {{"varnock", "modtest", "5", "61 62 . . 63"},
       "ABCDEab",
       2,
       {.strace = {"-P", "modtest", "-e", "inject=read:retval=1:when=3", "-e",
                   "inject=write:error=ENOSPC:when=2"}}},
  };
  // The bytes are read back from the medium after the sync: a read back that
  // fails, or comes short, is trouble; where O_DIRECT is refused, the pages
  // dropped from the cache are read again. Not where the folder is memory.
  const std::vector<Patch> readback = {
      {{"varnock", "modtest", "0", "61"}, "aBCDEFG", 2, failing("read:error=EIO:when=2")},
      {{"varnock", "modtest", "5", "00 00"},
       "ABCDE" + bytes({0, 0}),
       2,
       failing("read:retval=6:when=2")},
      {{"varnock", "modtest", "0", "61 62"}, "abCDEFG", 0, failing("fcntl:error=EINVAL:when=2")},
  };
  cli::Folder probe;
  if (cli::inmemory(probe.path))
    cli::skiprow("the test folders are in memory: nothing is read back there");
  else
    cases.insert(cases.end(), readback.begin(), readback.end());
#if !defined(__SANITIZE_ADDRESS__)
  // A failing getrlimit fails the sanitizer's own at its start, which ends the tool.
  cases.push_back({{"varnock", "modtest", "1020", "61 62 63 64 65 66"},
                   orig,
                   2,
                   {.fsize = 1024, .strace = {"-e", "inject=prlimit64:error=EIO"}}});
#endif
  expect_patches(cases);
}

// Where a file system runs out of room or reaches its largest file size, a
// write takes what fits and fails: a pattern must be refused whole instead.
// The largest size is found by asking the file system (ext4: 16 TiB - 4 KiB).
TEST(Patch, WholeAtFileSystemLimits) {
  enum Where { full, room, largest, twopages };
  struct Limit {
    Where where; // a 64 KiB tmpfs of its own, filled after the file, or with room or two pages
                 // left; or the largest size
    long long from_end; // the offset, counted back from the end of the file
    std::string pattern;
    int status;
    std::string after;       // the file's last four bytes afterwards
    int grown = 0;           // and how many bytes it grew by
    bool unreadable = false; // the tool cannot read the file
    std::string inject = {}; // a call that strace makes fail, or ""
  };
  const std::string held = bytes({0, 0, 0, 0x11});
  // The wildcards cannot be read: the known bytes, and what must be reserved,
  // begin at the last four bytes of the file.
  const std::string blind = std::string(4092, '.') + "aa bb cc dd ee ff 00 11";
  // Where the file system cannot reserve, a file of holes takes the first two
  // stretches in pages of their own, and the third finds none: they are taken
  // back stretch by stretch, never over the hole between them.
  const std::string spread = "61" + std::string(8191, '.') + "62" + std::string(4095, '.') + "63";
  const std::vector<Limit> cases = {
      {largest, 1, "61 62", 2, held},
      {largest, 2, "61 62", 0, bytes({0, 0, 0x61, 0x62})},
      {full, 2, "aa bb cc dd", 2, held},
      {room, 2, "aa bb cc dd", 0, bytes({0xaa, 0xbb, 0xcc, 0xdd}), 2},
      {full, 4096, blind, 2, held, 0, true},
      {twopages, 8196, spread, 2, bytes({0, 0, 0, 0}), 0, true, "fallocate:error=EOPNOTSUPP"},
  };
  int skipped = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.where == largest ? "largest file size" : c.where == room ? "room" : "full");
    cli::Folder dir;
    std::unique_ptr<cli::Tmpfs> fs;
    if (c.where != largest) fs = std::make_unique<cli::Tmpfs>(dir.at("fs"), 64 << 10);
    std::string why = fs ? fs->why : "";
    if (why.empty() && !c.inject.empty()) why = cli::unstraceable();
    if (!why.empty()) {
      skipped += cli::skiprow(why);
      continue;
    }
    std::string in = c.where == largest ? dir.path : dir.at("fs");
    int fd = ::open((in + "/modf").c_str(), O_RDWR | O_CREAT, 0644);
    // A sparse file whose last block holds a byte: 8 KiB on the tmpfs, else
    // the largest size that the file system takes; or one of holes only.
    long long size = c.where == twopages ? 8196 : 8192;
    for (long long lo = 0, hi = LLONG_MAX; c.where == largest && hi - lo > 1;) {
      long long mid = lo + (hi - lo) / 2;
      (::ftruncate(fd, mid) == 0 ? lo : hi) = mid;
      size = lo;
    }
    ASSERT_EQ(::ftruncate(fd, size), 0);
    if (c.where != twopages) {
      ASSERT_EQ(::pwrite(fd, "\x11", 1, size - 1), 1);
    }
    static const char block[4096] = {};
    int fill = c.where == full || c.where == twopages
                   ? ::open((in + "/fill").c_str(), O_WRONLY | O_CREAT, 0644)
                   : -1;
    while (fill >= 0 && ::write(fill, block, sizeof block) > 0) {
    }
    if (c.where == twopages) {
      ASSERT_EQ(::ftruncate(fill, ::lseek(fill, 0, SEEK_END) - 8192), 0);
    }
    std::string off = std::to_string(size - c.from_end);
    cli::Options opts = c.unreadable ? writeonly(dir, in + "/modf") : cli::Options{};
    if (!c.inject.empty()) opts.strace = {"-P", "modf", "-e", "inject=" + c.inject};
    cli::expect(cli::run({"varnock", "modf", off, c.pattern}, in, opts), "", c.status);
    char got[4] = {};
    EXPECT_EQ(::pread(fd, got, 4, size + c.grown - 4), 4);
    EXPECT_EQ(std::string(got, 4), c.after);
    struct stat st;
    ::fstat(fd, &st);
    EXPECT_EQ(st.st_size, size + c.grown);
    ::close(fd);
  }
  if (skipped == static_cast<int>(cases.size())) GTEST_SKIP() << "no row could run here";
}

// File systems that cannot reserve (ext4 without extents, as it mounts ext2
// and ext3 volumes) or that refuse to reserve bytes already written (XFS),
// each full: a pattern over written bytes is written; one that needs room it
// cannot have is taken back whole, and the room it took is given back. Steps
// run in turn in the image's folder; the files are made by writing.
TEST(Patch, WholeOnFullFileSystems) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a file system image needs root";
  struct Step {
    std::string before; // shell commands run in the folder first, or ""
    std::vector<std::string> argv;
    int status;
    std::string file; // afterwards the file holds bytes at offset at, and has size bytes
    long long at;
    std::string bytes;
    long long size;
  };
  struct Full {
    const char *name, *make; // made, mounted on m and filled
    std::vector<Step> steps;
  };
  const std::string spans(1032, 'x'); // two blocks of 1 KiB past the end, and 8 bytes
  std::string across;
  for (std::size_t k = 0; k < spans.size(); k++) across += "77";
  const std::vector<Full> cases = {
      {"ext4 without extents",
       "truncate -s 2M img && mkfs.ext4 -q -F -b 1024 -m 0 -O ^extent,^64bit img && mkdir m && "
       "mount -o loop img m && head -c 4096 /dev/zero | tr '\\0' A > m/modf && "
       "head -c 1024 /dev/zero > m/spare && { dd if=/dev/zero of=m/fill bs=1024; true; } && sync",
       {
           {"",
            {"varnock", "modf", "100", "11 22 33 44"},
            0,
            "modf",
            100,
            "\x11\x22\x33\x44",
            4096},
           {"",
            {"varnock", "modf", "4092", "11 22 33 44 55 66 77 88"},
            2,
            "modf",
            4092,
            "AAAA",
            4096},
           // one block free, and a pattern over two new ones: the one it took comes back
           {"rm spare && sync", {"varnock", "modf", "4092", across}, 2, "modf", 4092, "AAAA", 4096},
           {"", {"varnock", "modf", "4094", "61 62 63 64"}, 0, "modf", 4092, "AAab", 4098},
       }},
      {"XFS",
       "truncate -s 320M img && mkfs.xfs -q img && mkdir m && mount -o loop img m && "
       "head -c 8192 /dev/zero | tr '\\0' A > m/modf && "
       "printf Z | dd of=m/modhole bs=1 seek=1048575 && at=0 && added=1 && "
       // XFS frees room in the background: fill in rounds, until one adds nothing
       "while [ $added = 1 ]; do added=0; sync; for step in 67108864 1048576 65536 4096; do "
       "while fallocate -o $at -l $step m/fill; do at=$((at + step)) added=1; done; done; done",
       {
           {"",
            {"varnock", "modf", "200", "11 22 33 44"},
            0,
            "modf",
            200,
            "\x11\x22\x33\x44",
            8192},
           // data up to its last byte, the file's last: no hole, no reservation
           {"",
            {"varnock", "modf", "8188", "11 22 33 44"},
            0,
            "modf",
            8188,
            "\x11\x22\x33\x44",
            8192},
           {"",
            {"varnock", "modhole", "131072", "11 22 33 44"},
            2,
            "modhole",
            131072,
            std::string(4, '\0'),
            1048576},
       }},
  };
  int skipped = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    cli::Folder dir;
    auto sh = [&](const std::string &script) {
      std::string cmd = "(cd '" + dir.path + "' && " + script + ") >/dev/null 2>&1";
      return std::system(cmd.c_str()) == 0;
    };
    if (!sh(c.make)) {
      skipped += cli::skiprow(std::string("cannot make a full ") + c.name + " image");
      continue;
    }
    for (const auto &step : c.steps) {
      SCOPED_TRACE(cli::joined(step.argv).substr(0, 80));
      if (!step.before.empty()) {
        ASSERT_TRUE(sh("cd m && " + step.before));
      }
      cli::expect(cli::run(step.argv, dir.at("m")), "", step.status);
      std::string got = cli::get(dir.at("m/" + step.file));
      EXPECT_EQ(got.substr(static_cast<std::size_t>(step.at), step.bytes.size()), step.bytes);
      EXPECT_EQ(static_cast<long long>(got.size()), step.size);
    }
    sh("umount m");
  }
  if (skipped == static_cast<int>(cases.size())) GTEST_SKIP() << "no image could be made here";
}

// One request end to end: patch, then dump the result through a path in dump mode.
TEST(Patch, PatchThenDump) {
  cli::Folder dir;
  cli::put(dir.at("modfile"), orig);
  cli::expect_steps(dir.path,
                    {{{"varnock", "modfile", "2", "ff . ff"}, "", 0},
                     {{"varnock", "./modfile", "0", "7"}, "0 41 42 ff 44 ff 46 47\n", 0}});
}

// Offsets past 4 GiB patch the right place of a sparse file and keep its size.
TEST(Patch, PastFourGiB) {
  cli::Folder dir;
  std::string path = dir.at("modbig");
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::pwrite(fd, "XYZ", 3, 5000000000LL), 3);
  cli::expect(cli::run({"varnock", "modbig", "5000000000", ". 61 ."}, dir.path), "", 0);
  char back[3] = {};
  EXPECT_EQ(::pread(fd, back, 3, 5000000000LL), 3);
  EXPECT_EQ(std::string(back, 3), "XaZ");
  struct stat st;
  ::fstat(fd, &st);
  EXPECT_EQ(st.st_size, 5000000003LL);
  ::close(fd);
}

} // namespace
