#include "kind.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "rawio.h"

namespace {

// The kernel's struct mtd_info_user, MEMGETINFO's answer: no C library has a
// header for it.
struct MtdInfo {
  std::uint8_t type;
  std::uint32_t flags, size, erasesize, writesize, oobsize;
  std::uint64_t padding;
};
static_assert(sizeof(MtdInfo) == 32, "the kernel's layout");
// The request number is an int to musl and an unsigned long to glibc.
const unsigned long getinfo = _IOR('M', 1, MtdInfo);
// MEMGETINFO's flags. NAND lacks bit_writeable: it takes one program per page
// between erases. RAM and NVRAM behind the same driver need no erase at all.
constexpr std::uint32_t mtd_bit_writeable = 0x800, mtd_no_erase = 0x1000;
// MTD character devices (/dev/mtdN) have a major number of their own.
constexpr unsigned mtd_major = 90;

// /dev/null, /dev/zero and /dev/full, of the memory devices' major: their
// reads and positions change nothing. Others of that major (/dev/mem,
// /dev/port, /dev/kmsg) are no such thing.
bool memorydevice(dev_t dev) {
  unsigned n = minor(dev);
  return major(dev) == 1 && (n == 3 || n == 5 || n == 7);
}

Kind modekind(const struct stat &st) {
  if (S_ISREG(st.st_mode)) return Kind::regular;
  if (S_ISBLK(st.st_mode)) return Kind::block;
  if (S_ISCHR(st.st_mode) && memorydevice(st.st_rdev)) return Kind::memory;
  if (S_ISCHR(st.st_mode)) return major(st.st_rdev) == mtd_major ? Kind::flash : Kind::character;
  if (S_ISFIFO(st.st_mode)) return Kind::fifo;
  if (S_ISDIR(st.st_mode)) return Kind::directory;
  return Kind::socket; // stat tells no other kind of file
}

// Reads the start of the device's sysfs entry called name into text; the
// count read, or -1.
ssize_t readentry(const struct stat &st, const char *name, char *text, std::size_t n) {
  // Built by hand, with the conversion that putline uses: printf would bring
  // a board binary most of musl's printf.
  char path[80] = "/sys/dev/char/";
  char *at = std::to_chars(path + 14, path + 34, 0ULL + major(st.st_rdev)).ptr;
  *at++ = ':';
  at = std::to_chars(at, path + 48, 0ULL + minor(st.st_rdev)).ptr;
  std::memcpy(at, name, std::strlen(name) + 1);
  int fd = openread(path);
  if (fd < 0) return -1;
  ssize_t got = readsome(fd, text, n);
  close(fd);
  return got;
}

// A UBI volume is a character device of a dynamic major, and no ioctl tells
// it from others or tells its erase block size; sysfs does. Where that cannot
// be learned the device is not taken for a volume, and the kernel refuses a
// plain write to a volume. A static volume's data is only replaced whole, by
// a volume update, and UBI refuses to change a LEB of it.
void probevolume(File &f) {
  if (f.kind != Kind::character) return;
  char text[24];
  ssize_t n = readentry(f.st, "/usable_eb_size", text, sizeof text);
  long leb = 0;
  if (n > 0) std::from_chars(text, text + n, leb);
  if (leb <= 0) return;
  f.leb = leb;
  bool fixed = readentry(f.st, "/type", text, 8) >= 6 && std::memcmp(text, "static", 6) == 0;
  f.kind = fixed ? Kind::fixedvolume : Kind::volume;
}

} // namespace

File statkind(const struct stat &st) {
  File f;
  f.st = st;
  f.kind = modekind(st);
  probevolume(f);
  return f;
}

bool learnstat(int fd, File &f) {
  f = File{};
  if (fstat(fd, &f.st) != 0) {
    f.st = {};
    return false;
  }
  f.kind = modekind(f.st);
  if (f.kind != Kind::flash) return true;
  MtdInfo info{};
  if (ioctl(fd, getinfo, &info) != 0) return false;
  bool clears = !(info.flags & mtd_no_erase);
  f.kind = !clears ? Kind::mtdram : !(info.flags & mtd_bit_writeable) ? Kind::nand : Kind::nor;
  f.mtdflags = info.flags;
  f.erasesize = info.erasesize;
  f.pagesize = info.writesize;
  return true;
}

namespace {

// statfs's f_type of the file systems told apart, as the kernel's magic.h
// has them: no C library has a header for it.
constexpr unsigned long proc_magic = 0x9fa0, sysfs_magic = 0x62656572, debugfs_magic = 0x64626720,
                        tracefs_magic = 0x74726163, securityfs_magic = 0x73636673,
                        configfs_magic = 0x62656570, cgroup_magic = 0x27e0eb,
                        cgroup2_magic = 0x63677270, bpf_magic = 0xcafe4a11,
                        pstore_magic = 0x6165676c, efivarfs_magic = 0xde5e81e4,
                        tmpfs_magic = 0x01021994, ramfs_magic = 0x858458f6;

} // namespace

void learnfs(const struct statfs &fs, File &f) {
  // f_type is signed on some processors; the magic numbers are 32 bits.
  f.fstype = static_cast<unsigned long>(fs.f_type) & 0xffffffffUL;
}

bool pseudofs(const File &f) {
  static constexpr unsigned long pseudo[] = {
      proc_magic,   sysfs_magic,   debugfs_magic, tracefs_magic, securityfs_magic, configfs_magic,
      cgroup_magic, cgroup2_magic, bpf_magic,     pstore_magic,  efivarfs_magic};
  for (unsigned long magic : pseudo)
    if (f.fstype == magic) return true;
  return false;
}

bool sysfs(const File &f) {
  return f.fstype == sysfs_magic;
}

bool memoryfs(const File &f) {
  return f.fstype == tmpfs_magic || f.fstype == ramfs_magic;
}

bool isfull(const File &f) {
  return f.kind == Kind::memory && minor(f.st.st_rdev) == 7;
}

bool learnkind(int fd, File &f) {
  if (!learnstat(fd, f)) return false;
  probevolume(f);
  switch (f.kind) {
  case Kind::block:
  case Kind::flash:
  case Kind::nand:
  case Kind::nor:
  case Kind::mtdram:
  case Kind::volume:
  case Kind::fixedvolume:
    break;
  case Kind::missing:
  case Kind::regular:
  case Kind::memory:
  case Kind::character:
  case Kind::fifo:
  case Kind::directory:
  case Kind::socket:
    return true;
  }
  // Devices cannot grow and report a size of 0: their end is learned by
  // positioning there.
  f.end = lseek(fd, 0, SEEK_END);
  return f.end >= 0;
}
