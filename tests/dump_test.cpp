#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli.h"

using cli::Case;

namespace {

const cli::Files files = {
    {"f", "ABCDEFG"},
    {"alpha", "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"},
    {"modfile", "ABCDEFG"},
    {"MODfile", "ABCDEFG"},
    {"high", cli::hexbytes(0x80, 0xff)},
    {"dir/", ""},
};

// Each pair prints at most one line, from a single read at its offset.
TEST(Dump, PairsOfOffsetAndLength) {
  const std::vector<cli::Case> cases = {
      {{"varnock", "f", "0", "4"}, "0 41 42 43 44\n", 0},
      {{"varnock", "f", "0x2", "3"}, "2 43 44 45\n", 0},
      {{"varnock", "f", "010", "1"}, "", 0},
      {{"varnock", "f", "5", "10"}, "5 46 47\n", 0},
      {{"varnock", "f", "7", "1"}, "", 0},
      {{"varnock", "f", "0", "0"}, "", 0},
      {{"varnock", "f", "-1", "4"}, "", 0},
      {{"varnock", "f", "0", "-4"}, "", 0},
      {{"varnock", "f", "0", "4", "2"}, "0 41 42 43 44\n", 0},
      {{"varnock", "f", "6", "1", "0", "1", "6", "1"}, "6 47\n0 41\n6 47\n", 0},
      {{"varnock", "f", "0", "4", "9", "1", "0", "2"}, "0 41 42 43 44\n0 41 42\n", 0},
      {{"varnock", "f"}, "", 0},
      {{"varnock", "high", "0", "128"}, "0" + cli::hextext(cli::hexbytes(0x80, 0xff)) + "\n", 0},
      {{"varnock", "high", "0x7f", "1"}, "127 ff\n", 0},
      // procfs reports a size of 0 whatever a file holds
      {{"varnock", "/proc/sys/kernel/ostype", "0", "16"}, "0 4c 69 6e 75 78 0a\n", 0},
  };
  cli::expect_cases(files, cases);
}

// Number arguments: base by prefix, trailing junk ignored, never a binary prefix.
TEST(Dump, NumberSyntax) {
  const std::vector<cli::Case> cases = {
      {{"varnock", "f", "abc", "2"}, "0 41 42\n", 0},
      {{"varnock", "f", "0b101", "1"}, "0 41\n", 0},
      {{"varnock", "f", "0B1", "1"}, "0 41\n", 0},
      {{"varnock", "f", " \t+3", "1"}, "3 44\n", 0},
      {{"varnock", "f", "0X4", "1"}, "4 45\n", 0},
      {{"varnock", "alpha", "0xA", "1", "0X1F", "1", "0xaB", "1"}, "10 4b\n31 35\n", 0},
      {{"varnock", "f", "\r3", "1"}, "3 44\n", 0},
      {{"varnock", "f", "0x", "1"}, "0 41\n", 0},
      {{"varnock", "f", "0xg", "1"}, "0 41\n", 0},
      {{"varnock", "f", "06", "1"}, "6 47\n", 0},
      {{"varnock", "f", "08", "1"}, "0 41\n", 0},
      {{"varnock", "f", "3junk", "1"}, "3 44\n", 0},
      {{"varnock", "f", "\2403", "1"}, "0 41\n", 0}, // no white space above 0x7f
      {{"varnock", "f", "-0x1", "1"}, "", 0},
      {{"varnock", "f", "4294967296", "1"}, "", 0},
      {{"varnock", "f", "-99999999999999999999", "1"}, "", 0},
      // lengths clamp at the 64-bit limits and never wrap to the other sign
      {{"varnock", "f", "1", "9223372036854775807"}, "1 42 43 44 45 46 47\n", 0},
      {{"varnock", "f", "1", "9223372036854775808"}, "1 42 43 44 45 46 47\n", 0},
      {{"varnock", "f", "1", "9223372036854775809"}, "1 42 43 44 45 46 47\n", 0},
      {{"varnock", "f", "1", "-9223372036854775807"}, "", 0},
      {{"varnock", "f", "1", "-9223372036854775808"}, "", 0},
      {{"varnock", "f", "1", "-9223372036854775809"}, "", 0},
  };
  cli::expect_cases(files, cases);
}

// Huge lengths are capped at what the file holds, never a crash or a giant buffer.
TEST(Dump, HugeLengths) {
  cli::expect_cases(
      files, {
                 {{"varnock", "f", "2", "99999999999999999999"}, "2 43 44 45 46 47\n", 0},
                 {{"varnock", "f", "0", "0x7fffffffffffffff"}, "0 41 42 43 44 45 46 47\n", 0},
                 {{"varnock", "f", "0", "2147483648"}, "0 41 42 43 44 45 46 47\n", 0},
                 {{"varnock", "f", "9", "0x7fffffffffffffff"}, "", 0},
                 {{"varnock", "/dev/zero", "5", "3"}, "5 00 00 00\n", 0},
             });
}

// Lines far longer than a rendering slice (16384 bytes), and dumps of several
// MiB, come out whole; a buffer grown for a big pair serves smaller ones after it.
TEST(Dump, LongLines) {
  std::string bytes;
  for (int i = 0; i < (3 << 20) + 7; i++) bytes += static_cast<char>(i * 131 % 251);
  auto line = [&](std::size_t off, std::size_t n) {
    return std::to_string(off) + cli::hextext(bytes.substr(off, n)) + "\n";
  };
  const std::vector<cli::Case> cases = {
      {{"varnock", "long", "3", "200000"}, line(3, 200000), 0},
      {{"varnock", "long", "0", "16383", "0", "16384", "1", "16385", "2", "32768"},
       line(0, 16383) + line(0, 16384) + line(1, 16385) + line(2, 32768),
       0},
      {{"varnock", "long", "3", "99999999", "0", "2", "5", "0x300000"},
       line(3, bytes.size() - 3) + line(0, 2) + line(5, 0x300000),
       0},
  };
  cli::expect_cases({{"long", bytes}}, cases);
}

// The mode follows the file argument's own text: "mod" at its start, case-sensitive.
TEST(Dump, ModeSelection) {
  const std::vector<cli::Case> cases = {
      {{"varnock", "./modfile", "0", "7"}, "0 41 42 43 44 45 46 47\n", 0},
      {{"varnock", "MODfile", "0", "2"}, "0 41 42\n", 0},
      {{"varnock", "modfile", "0", "2"}, "", 0},
  };
  cli::expect_cases(files, cases);
}

// Failures show as offset-only lines and status 2, never on standard error.
TEST(Dump, Failures) {
  const std::vector<cli::Case> cases = {
      {{"varnock"}, "", 2},
      {{"varnock", "missing"}, "", 2},
      {{"varnock", "missing", "0", "4", "8", "2"}, "0\n8\n", 2},
      {{"varnock", "missing", "-1", "4", "0", "0"}, "0\n", 2},
      {{"varnock", "dir", "0", "4"}, "0\n", 2},
  };
  cli::expect_cases(files, cases);
}

// Past the end prints nothing, also where the kernel refuses the position
// (ext4 beyond its largest file size) rather than reading nothing there.
TEST(Dump, PastTheEndOnAnyFileSystem) {
  const std::vector<cli::Case> cases = {
      {{"varnock", "f", "0x7fffffffffffffff", "1", "1", "1"}, "1 42\n", 0},
      {{"varnock", "f", "17592186040321", "1"}, "", 0},
      {{"varnock", "f", "0x4000000000000000", "1"}, "", 0},
      {{"varnock", "f", "99999999999999999999", "1"}, "", 0},
      {{"varnock", "empty", "17592186040321", "1"}, "", 0},
  };
  cli::expect_cases({{"f", "ABCDEFG"}, {"empty", ""}}, cases);
}

// /dev/kmsg refuses positions although its end can be asked for: no end to
// learn, so trouble. A file that cannot be opened gives the same line, so the
// case means something only where it opens.
TEST(Dump, RefusedPositionWithoutEnd) {
  int fd = ::open("/dev/kmsg", O_RDONLY);
  if (fd < 0) GTEST_SKIP() << "cannot open /dev/kmsg: " << std::strerror(errno);
  ::close(fd);
  cli::Folder dir;
  cli::expect(cli::run({"varnock", "/dev/kmsg", "5", "1"}, dir.path), "5\n", 2);
}

// 192 KiB for a loop device: "A" at its start and "Z" at its end.
std::string blockimage() {
  std::string image(196608, '\0');
  image.front() = 'A';
  image.back() = 'Z';
  return image;
}

// A block device refuses positions past its size: past the end all the same.
// A patch whose bytes would run past its end writes none of them; one that
// ends on its last byte is written whole.
TEST(Dump, BlockDevice) {
  cli::Folder dir;
  cli::put(dir.at("image"), blockimage());
  cli::Loop loop(dir.at("image"));
  if (loop.dev.empty()) GTEST_SKIP() << loop.why;
  cli::putfiles(dir, {{"blk", "->" + loop.dev}, {"modblk", "->" + loop.dev}});
  // fstat gives a device a size of 0: its end, not the length, sizes the
  // read's buffer, as under a 32-bit board's address space.
  if (!*cli::uncappable())
    cli::expect(
        cli::run({"varnock", "blk", "196604", "99999999999"}, dir.path, {.memory = 256ULL << 20}),
        "196604 00 00 00 5a\n", 0);
  cli::expect_steps(
      dir.path,
      {
          {{"varnock", "blk", "196607", "4", "0", "1"}, "196607 5a\n0 41\n", 0},
          {{"varnock", "blk", "196608", "1"}, "", 0},
          {{"varnock", "blk", "196609", "1", "1", "1"}, "1 00\n", 0},
          {{"varnock", "blk", "17592186040321", "1"}, "", 0},
          {{"varnock", "blk", "0x7fffffffffffffff", "1"}, "", 0},
          {{"varnock", "modblk", "196609", "61"}, "", 2},
          {{"varnock", "modblk", "196606", ". 61 62"}, "", 2},
          {{"varnock", "modblk", "196606", "61 62 63", "4096", "62 . 63"}, "", 2},
          {{"varnock", "blk", "4096", "3", "196605", "3"}, "4096 62 00 63\n196605 00 00 5a\n", 0},
          {{"varnock", "modblk", "196605", "63 64 65", "196606", "61 ."}, "", 0},
          {{"varnock", "modblk", "196607", "7a ."}, "", 0},
          {{"varnock", "blk", "196605", "3"}, "196605 63 61 7a\n", 0},
      });
}

// One read(2) transfers at most the largest int rounded down to a page
// (0x7ffff000 bytes on 4 KiB pages): a dump of a device larger than that asks
// for no more, or its read would look cut short.
TEST(Dump, LargestRead) {
  if (cli::emulated()) GTEST_SKIP() << "a 2 GiB read under user-mode emulation takes minutes";
  if (sizeof(void *) < 8) GTEST_SKIP() << "a 2 GiB buffer does not fit a 32-bit address space";
  cli::Folder dir;
  int fd = ::open(dir.at("image").c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_EQ(::ftruncate(fd, 3LL << 30), 0);
  ::close(fd);
  cli::Loop loop(dir.at("image"));
  if (loop.dev.empty()) GTEST_SKIP() << loop.why;
  cli::expect(cli::run({"varnock", loop.dev, "0", "0x80000000"}, dir.path,
                       {.mode = cli::Stdout::null, .timeout = 200}),
              "", 0);
}

// Calls the dump relies on fail as a failing kernel would fail them. A dump
// that cannot learn a file's kind or a device's end cannot tell a read cut
// short; a read that fails right after a short one tells that the file was
// cut; a patch of a device whose end is unknown writes nothing.
TEST(Dump, FailedCalls) {
  if (*cli::unstraceable()) GTEST_SKIP() << cli::unstraceable();
  auto failing = [](const std::string &path, const std::string &call) {
    return cli::Options{.strace = {"-P", path, "-e", "inject=" + call}};
  };
  // A sysfs attribute reports 4096 bytes and holds fewer: its read is short,
  // and it is read on. A procfs file reports 0, and is not.
  const std::string possible = "/sys/devices/system/cpu/possible",
                    ostype = "/proc/sys/kernel/ostype";
  const std::string cpus = "0" + cli::hextext(cli::get(possible)) + "\n";
  cli::expect_cases(
      files,
      {
          {{"varnock", possible, "0", "64"}, cpus, 2, failing(possible, "read:error=EIO:when=2")},
          {{"varnock", possible, "0", "64"}, cpus, 0, failing(possible, "read:error=EIO:when=3")},
          {{"varnock", ostype, "0", "16"},
           "0 4c 69 6e 75 78 0a\n",
           0,
           failing(ostype, "read:error=EIO:when=2")},
          {{"varnock", "f", "0", "4"}, "0 41 42 43 44\n", 2, failing("f", "%fstat:error=EIO")},
      });
  cli::Folder dir;
  cli::put(dir.at("image"), blockimage());
  cli::Loop loop(dir.at("image"));
  if (loop.dev.empty()) GTEST_SKIP() << "the block device cases: " << loop.why;
  cli::putfiles(dir, {{"blk", "->" + loop.dev}, {"modblk", "->" + loop.dev}});
  cli::expect_steps(
      dir.path,
      {
          {{"varnock", "blk", "0", "1"}, "0 41\n", 2, failing("blk", "lseek:error=EIO:when=1")},
          {{"varnock", "modblk", "196606", "61 62 63"},
           "",
           2,
           failing("modblk", "lseek:error=EIO:when=1")},
          {{"varnock", "blk", "196605", "3"}, "196605 00 00 5a\n", 0},
      });
}

// A file on ext4 whose second extent leaf is zeroed: past the first leaf's
// extents a read fails (EIO), and the read that meets the damage returns the
// bytes before it without an error, as at a bad sector of an SD card.
TEST(Dump, DamagedFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting an ext4 image needs root";
  cli::Folder dir;
  // 120 one-block extents of 1 KiB, each followed by a hole: a leaf holds 84.
  std::string content;
  for (int i = 0; i < 120; i++) {
    std::string n = std::to_string(i);
    content += std::string(1024 - n.size(), '0') + n + std::string(i < 119 ? 1024 : 0, '\0');
  }
  auto sh = [&](const std::string &script) {
    return std::system(("(cd '" + dir.path + "' && " + script + ") >/dev/null 2>&1").c_str()) == 0;
  };
  const char *why = "cannot make a damaged ext4 image (mkfs.ext4, debugfs and a loop mount)";
  if (!sh("truncate -s 2M img && mkfs.ext4 -q -b 1024 -O ^has_journal img && mkdir m && "
          "mount -o loop img m"))
    GTEST_SKIP() << why;
  // Each block of data written on its own, so that the holes stay holes.
  int fd = ::open(dir.at("m/a").c_str(), O_WRONLY | O_CREAT, 0644);
  for (std::size_t at = 0; at < content.size(); at += 2048)
    EXPECT_EQ(::pwrite(fd, content.data() + at, 1024, static_cast<off_t>(at)), 1024);
  ::close(fd);
  if (!sh(R"sh(umount m &&
    leaf=$(debugfs -R 'stat a' img | grep -o '(ETB0):[0-9]*' | sed -n 2p | cut -d: -f2) &&
    dd if=/dev/zero of=img bs=1024 seek="$leaf" count=1 conv=notrunc status=none &&
    mount -o loop,ro img m)sh"))
    GTEST_SKIP() << why;
  // Once more, with the pages before the damage cached: the short read then
  // ends pages before it.
  std::vector<cli::Outcome> cut;
  for (int i = 0; i < 2; i++) cut.push_back(cli::run({"varnock", "m/a", "0", "250000"}, dir.path));
  cli::expect(cli::run({"varnock", "m/a", "0", "2048"}, dir.path),
              "0" + cli::hextext(content.substr(0, 2048)) + "\n", 0);
  [[maybe_unused]] int unmounted = std::system(("umount '" + dir.at("m") + "'").c_str());
  for (const auto &got : cut) {
    std::size_t n = got.out.size() > 2 ? (got.out.size() - 2) / 3 : 0;
    EXPECT_GT(n, 0u);
    EXPECT_LT(n, content.size());
    cli::expect(got, "0" + cli::hextext(content.substr(0, n)) + "\n", 2);
  }
}

// Offsets past 4 GiB reach the right place of a sparse file.
TEST(Dump, PastFourGiB) {
  cli::Folder dir;
  int fd = ::open(dir.at("big").c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::pwrite(fd, "XY", 2, 5000000000LL), 2);
  ::close(fd);
  cli::expect(cli::run({"varnock", "big", "5000000000", "4", "0x12a05f1ff", "2"}, dir.path),
              "5000000000 58 59\n4999999999 00 58\n", 0);
}

// A FIFO cannot be positioned: its pair is trouble, not bytes from the wrong place.
TEST(Dump, Fifo) {
  cli::Folder dir;
  cli::expect(cli::runfed({"varnock", "fifo", "2", "2"}, dir.path, {{"fifo", "ABCD"}}), "2\n", 2);
}

} // namespace
