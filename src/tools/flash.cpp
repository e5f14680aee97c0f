#include "flash.h"

#include <cstdlib>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

bool isflash(const struct stat &st) {
  return S_ISCHR(st.st_mode) && major(st.st_rdev) == 90;
}

namespace {

// The kernel's structs for the MTD ioctls: no C library has a header for them.
// MEMGETINFO's answer, struct mtd_info_user.
struct MtdInfo {
  std::uint8_t type;
  std::uint32_t flags, size, erasesize, writesize, oobsize;
  std::uint64_t padding;
};
static_assert(sizeof(MtdInfo) == 32, "the kernel's layout");
// ECCGETSTATS's answer, struct mtd_ecc_stats.
struct EccStats {
  std::uint32_t corrected, failed, badblocks, bbtblocks;
};
static_assert(sizeof(EccStats) == 16, "the kernel's layout");

// The request numbers are an int to musl and an unsigned long to glibc.
const unsigned long getinfo = _IOR('M', 1, MtdInfo);
const unsigned long getbadblock = _IOW('M', 11, std::int64_t);
const unsigned long geteccstats = _IOR('M', 18, EccStats);

// MEMGETINFO's flags. NAND lacks bit_writeable: it takes one program per page
// between erases. RAM and NVRAM behind the same driver need no erase at all.
constexpr std::uint32_t mtd_bit_writeable = 0x800, mtd_no_erase = 0x1000;

bool eccstats(int fd, EccStats &stats) {
  return ioctl(fd, geteccstats, &stats) == 0;
}

// Whether a read since w met a page that the ECC could not correct. The
// count is the partition's, for every reader of it: another one at the same
// time (UBI's background work too) raises it as well.
Refusal eccsince(int fd, const Watch &w) {
  EccStats now;
  if (!w.ok || !eccstats(fd, now)) return Refusal::query;
  return now.failed != w.failed ? Refusal::ecc : Refusal::none;
}

// Asks the flash about each erase block that [from, to) touches, never about
// each byte. Reading a bad block returns its bytes without an error.
Refusal blocksgood(int fd, const Kind &kind, long long from, long long to) {
  unsigned long long size = kind.erasesize;
  if (size == 0) return Refusal::query;
  // Unsigned, as the offsets are: 32-bit boards then need no signed 64-bit division.
  for (unsigned long long b = 0ULL + from / size; from < to && b <= (0ULL + to - 1) / size; b++) {
    std::int64_t at = static_cast<std::int64_t>(b * size);
    int bad = ioctl(fd, getbadblock, &at);
    if (bad != 0) return bad > 0 ? Refusal::badblock : Refusal::query;
  }
  return Refusal::none;
}

// Reads each stretch from the flash, one read each. Before the write, the
// flash must hold every bit that the stretch sets: programming only clears
// bits, and a page written again without an erase ends as the AND of old and
// new bytes. After it, the flash must hold the stretch. A short or failed
// read fails either check.
bool flashholds(Target &t, long long off, const unsigned char *data, long count, bool written) {
  for (long i = 0, j = 0; stretch(t.known, count, i, j); i = j) {
    auto n = static_cast<std::size_t>(j - i);
    if (readat(t.r, off, i, t.old, n) != static_cast<ssize_t>(n)) return false;
    for (std::size_t k = 0; k < n; k++) {
      unsigned char want = data[i + k], has = t.old[k];
      if (written ? has != want : (want & ~has) != 0) return false;
    }
  }
  return true;
}

bool erased(const unsigned char *page, std::size_t n) {
  for (std::size_t k = 0; k < n; k++)
    if (page[k] != 0xff) return false;
  return true;
}

// NAND takes one program per page between erases: the page's ECC bytes are
// programmed with it, and a second program spoils them even where it only
// clears bits. So every page that a stretch falls in must read all ff, and no
// two stretches may share a page. On chips that take subpage writes this
// refuses a second subpage of a page too.
Refusal pagesclean(Target &t, long long off, long count) {
  std::size_t size = t.kind.pagesize;
  if (size == 0) return Refusal::query;
  auto *page = static_cast<unsigned char *>(std::malloc(size));
  if (!page) return Refusal::memory;
  Refusal why = Refusal::none;
  long long checked = -1; // the last page checked
  for (long i = 0, j = 0; why == Refusal::none && stretch(t.known, count, i, j); i = j) {
    long long first = (0ULL + off + i) / size, last = (0ULL + off + j - 1) / size;
    if (first <= checked) why = Refusal::page;
    for (long long p = first; why == Refusal::none && p <= last; p++)
      if (readat(t.r, p * static_cast<long long>(size), 0, page, size) !=
              static_cast<ssize_t>(size) ||
          !erased(page, size))
        why = Refusal::page;
    checked = last;
  }
  std::free(page);
  return why;
}

// What must hold before known bytes [i, j) are written: no bad block under
// them, and bits or pages that can take them. NAND must be read to tell; NOR
// that cannot be read is written without comparing.
Refusal flashfits(Target &t, long long off, const unsigned char *data, long count, long i, long j) {
  Refusal why = blocksgood(t.r >= 0 ? t.r : t.w, t.kind, off + i, off + j);
  if (why != Refusal::none) return why;
  if (t.r < 0) return pageonce(t.kind) ? Refusal::unread : Refusal::none;
  if (!clearsonly(t.kind)) return Refusal::none;
  if (pageonce(t.kind)) return pagesclean(t, off, count);
  return flashholds(t, off, data, count, false) ? Refusal::none : Refusal::bits;
}

} // namespace

bool clearsonly(const Kind &kind) {
  return !(kind.mtdflags & mtd_no_erase);
}

bool pageonce(const Kind &kind) {
  return clearsonly(kind) && !(kind.mtdflags & mtd_bit_writeable);
}

bool learnflash(int fd, Kind &kind) {
  if (fstat(fd, &kind.st) != 0) {
    kind.st = {};
    return false;
  }
  if (!isflash(kind.st)) return true;
  MtdInfo info{};
  if (ioctl(fd, getinfo, &info) != 0) return false;
  kind.mtdflags = info.flags;
  kind.erasesize = info.erasesize;
  kind.pagesize = info.writesize;
  return true;
}

Watch watchreads(int fd, const Kind &kind) {
  Watch w;
  EccStats now;
  if (fd >= 0 && isflash(kind.st)) {
    w.ok = eccstats(fd, now);
    w.failed = now.failed;
  }
  return w;
}

bool readswell(int fd, const Kind &kind, const Watch &w, long long from, long long to) {
  if (fd < 0 || !isflash(kind.st)) return true;
  return eccsince(fd, w) == Refusal::none && blocksgood(fd, kind, from, to) == Refusal::none;
}

bool passwell(int fd, const Kind &kind, const Watch &w) {
  if (fd < 0 || !isflash(kind.st)) return true;
  off_t at = lseek(fd, 0, SEEK_CUR);
  return at >= 0 && readswell(fd, kind, w, 0, at);
}

Refusal planflash(Target &t, long long off, const unsigned char *data, long count, long i, long j,
                  const Watch &w) {
  Refusal why = i < j ? flashfits(t, off, data, count, i, j) : Refusal::none;
  // The reads above and the wildcards' before them must all have been good.
  if (why == Refusal::none && t.r >= 0) why = eccsince(t.r, w);
  return why;
}

int writeflash(Target &t, long long off, const unsigned char *data, long count) {
  int status = writeknown(t, off, data, count);
  if (status != exit_done || t.r < 0) return status;
  // Programming a page that was not erased can spoil its ECC bytes: the bytes
  // read back must be the stretch's, and their reads good.
  Watch w = watchreads(t.r, t.kind);
  bool holds = flashholds(t, off, data, count, true);
  return holds && eccsince(t.r, w) == Refusal::none ? exit_done : exit_trouble;
}
