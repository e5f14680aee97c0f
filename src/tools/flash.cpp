#include "flash.h"

#include <cstdlib>
#include <sys/ioctl.h>
#include <unistd.h>

#include "rawio.h"
#include "view.h"

namespace {

// ECCGETSTATS's answer, the kernel's struct mtd_ecc_stats: no C library has
// a header for it.
struct EccStats {
  std::uint32_t corrected, failed, badblocks, bbtblocks;
};
static_assert(sizeof(EccStats) == 16, "the kernel's layout");

// The request numbers are an int to musl and an unsigned long to glibc.
const unsigned long getbadblock = _IOW('M', 11, std::int64_t);
const unsigned long geteccstats = _IOR('M', 18, EccStats);

// Reads of MTD flash return pages that the ECC could not correct, and bad
// blocks, without an error: those reads are watched. Other kinds report
// their failures themselves.
bool watched(const File &f) {
  switch (f.kind) {
  case Kind::flash:
  case Kind::nand:
  case Kind::nor:
  case Kind::mtdram:
    return true;
  case Kind::missing:
  case Kind::regular:
  case Kind::block:
  case Kind::volume:
  case Kind::fixedvolume:
  case Kind::memory:
  case Kind::character:
  case Kind::fifo:
  case Kind::directory:
  case Kind::socket:
    return false;
  }
  return false;
}

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
Refusal blocksgood(int fd, const File &f, long long from, long long to) {
  unsigned long long size = f.erasesize;
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
    if (readseen(t, off, i, t.onflash, n) != static_cast<ssize_t>(n)) return false;
    for (std::size_t k = 0; k < n; k++) {
      unsigned char want = data[i + k], has = t.onflash[k];
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
  std::size_t size = t.file.pagesize;
  if (size == 0) return Refusal::query;
  auto *page = static_cast<unsigned char *>(std::malloc(size));
  if (!page) return Refusal::memory;
  Refusal why = Refusal::none;
  long long checked = -1; // the last page checked
  for (long i = 0, j = 0; why == Refusal::none && stretch(t.known, count, i, j); i = j) {
    long long first = (0ULL + off + i) / size, last = (0ULL + off + j - 1) / size;
    if (first <= checked) why = Refusal::page;
    for (long long p = first; why == Refusal::none && p <= last; p++)
      if (readseen(t, p * static_cast<long long>(size), 0, page, size) !=
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
// that cannot be read is written without comparing; RAM takes any bits.
Refusal flashfits(Target &t, long long off, const unsigned char *data, long count, long i, long j) {
  Refusal why = blocksgood(t.r >= 0 ? t.r : t.w, t.file, off + i, off + j);
  if (why != Refusal::none) return why;
  switch (t.file.kind) {
  case Kind::flash: // flash that did not tell is taken for the strictest, NAND
  case Kind::nand:
    return t.r < 0 ? Refusal::unread : pagesclean(t, off, count);
  case Kind::nor:
    return t.r < 0 || flashholds(t, off, data, count, false) ? Refusal::none : Refusal::bits;
  case Kind::mtdram:
  case Kind::missing:
  case Kind::regular:
  case Kind::block:
  case Kind::volume:
  case Kind::fixedvolume:
  case Kind::memory:
  case Kind::character:
  case Kind::fifo:
  case Kind::directory:
  case Kind::socket:
    return Refusal::none;
  }
  return Refusal::none;
}

} // namespace

Watch watchreads(int fd, const File &f) {
  Watch w;
  EccStats now;
  if (fd >= 0 && watched(f)) {
    w.ok = eccstats(fd, now);
    w.failed = now.failed;
  }
  return w;
}

bool readswell(int fd, const File &f, const Watch &w, long long from, long long to) {
  if (fd < 0 || !watched(f)) return true;
  return eccsince(fd, w) == Refusal::none && blocksgood(fd, f, from, to) == Refusal::none;
}

bool passwell(int fd, const File &f, const Watch &w) {
  if (fd < 0 || !watched(f)) return true;
  off_t at = lseek(fd, 0, SEEK_CUR);
  return at >= 0 && readswell(fd, f, w, 0, at);
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
  Watch w = watchreads(t.r, t.file);
  bool holds = flashholds(t, off, data, count, true);
  return holds && eccsince(t.r, w) == Refusal::none ? exit_done : exit_trouble;
}
