#include "regular.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "kind.h"
#include "rawio.h"

namespace {

// A write that runs out of room (ENOSPC, EDQUOT) or meets the file system's
// largest file size (EFBIG) takes what fits before it fails: half a pattern.
bool roomerror(int e) {
  return e == ENOSPC || e == EDQUOT || e == EFBIG;
}

// Whether [from, to) holds data throughout: the first hole from there lies at
// or past to. Unwritten (preallocated) extents count as holes.
bool alldata(int fd, long long from, long long to) {
  return lseek(fd, from, SEEK_HOLE) >= to;
}

// Whether [from, to) is all holes: no data from there before to.
bool allholes(int fd, long long from, long long to) {
  off_t data = lseek(fd, from, SEEK_DATA);
  return data >= to || (data < 0 && errno == ENXIO);
}

// Reserving the span first has the file system refuse it whole, before
// anything is written, and costs nothing where the span is allocated already.
// Not posix_fallocate, which may write zeros. A file system that cannot
// reserve (procfs, sysfs, FUSE, UBIFS, JFFS2, and ext4 without extents, as
// it mounts ext2 and ext3 volumes) is written as before. A span that holds data throughout, below
// the file's size, is not reserved: XFS reserves for the whole range before
// it looks at what is allocated, and refuses a full file system's written
// bytes that a write would take.
bool reservespan(int w, long long from, long long to, long long size) {
  if (to <= size && alldata(w, from, to)) return true;
  int got;
  do got = fallocate(w, FALLOC_FL_KEEP_SIZE, from, to - from);
  while (got != 0 && errno == EINTR);
  return got == 0 || errno == EOPNOTSUPP || errno == ENOSYS;
}

// The file's bytes [from, to) into old, read before anything is written:
// what a failed write takes back. Holes read as zeros, so a span of holes is
// known without reading it. False where they cannot be had; failed says that
// their read failed.
bool readold(const Target &t, long long from, long long to, bool &failed) {
  auto n = static_cast<std::size_t>(to - from);
  if (n == 0) return true;
  if (t.r >= 0) {
    ssize_t got = readat(t.r, from, 0, t.old, n);
    failed = got < 0;
    return got == static_cast<ssize_t>(n);
  }
  std::memset(t.old, 0, n);
  return allholes(t.w, from, to);
}

// Takes back what a write that failed for room or size left of the
// pattern: the old bytes over each stretch it wrote, from the pattern's
// first known byte at from up to upto, and the size the file had before.
// Stretch by stretch: the gap of a wildcard with no byte was not written,
// and writing there could fail in a hole that needs room, before the
// stretches after it. False when that fails too, as on a copy-on-write file
// system, where the old bytes need new room as well.
bool restore(const Target &t, long long off, long count, long long upto, long long size,
             bool haveold) {
  bool ok = true;
  long long from = off, back = std::min(upto, size);
  for (long i = 0; i < count && !t.known[i]; i++) from++;
  for (long i = 0, j = 0; haveold && stretch(t.known, count, i, j) && off + i < back; i = j) {
    auto n = static_cast<std::size_t>(std::min(off + j, back) - (off + i));
    ok = seekto(t.w, off, i) && writeall(t.w, t.old + (off + i - from), n) && ok;
  }
  struct stat st;
  if (fstat(t.w, &st) != 0) return false;
  // The only shortening there is: back to the size the file had before the pair.
  if (st.st_size > size && ftruncate(t.w, size) != 0) ok = false;
  return ok;
}

} // namespace

// A sysfs attribute that reports a size above 0 (a binary one: an EEPROM, an
// nvmem cell, PCI config space) cannot grow: the kernel shortens a write that
// crosses its end and fails the next, leaving half a MAC address. So its size
// is its end, as a device's end is. Text attributes report 4096 and get that
// end too, more than they take anyway.
bool regularend(int fd, File &f, long long &end) {
  struct statfs fs;
  end = -1;
  if (fstatfs(fd, &fs) != 0) return false;
  learnfs(fs, f);
  if (sysfs(f) && f.st.st_size > 0) end = f.st.st_size;
  return true;
}

int writeregular(Target &t, long long off, const unsigned char *data, long count, long i, long j) {
  struct stat st;
  if (fstat(t.w, &st) != 0) return exit_trouble;
  long long from = off + i, to = off + j, size = st.st_size;
  if (!reservespan(t.w, from, to, size)) return exit_trouble;
  bool failed = false;
  bool haveold = readold(t, from, std::min(to, std::max(from, size)), failed);
  long long upto = from;
  if (writeknown(t, off, data, count, &upto) == exit_done) return failed ? exit_trouble : exit_done;
  if (roomerror(errno)) restore(t, off, count, upto, size, haveold);
  return exit_trouble;
}

namespace {

// Counts blocks [first, last] into room, each once: the number of them not
// counted before, or -1 when memory runs out.
long long countblocks(Room &room, long long first, long long last) {
  long long fresh = last - first + 1;
  for (long k = 0; k < room.n; k++) {
    long long a = std::max(first, room.spans[2 * k]), b = std::min(last, room.spans[2 * k + 1]);
    if (a <= b) fresh -= b - a + 1;
  }
  auto *more = static_cast<long long *>(std::realloc(room.spans, (room.n + 1) * 2 * sizeof first));
  if (!more) return -1;
  room.spans = more;
  // Kept apart, not merged: the ranges a run's pairs touch are few.
  room.spans[2 * room.n] = first, room.spans[2 * room.n + 1] = last, room.n++;
  return fresh;
}

// The blocks a write of [from, to) allocates: those that hold no data. A
// block where data begins holds data; so does the block of the file's end,
// where a hole may begin inside it. Counted in blocks, unsigned, so that
// the last block below the largest offset is no overflow.
long long holeblocks(int fd, long long from, long long to, Room &room) {
  unsigned long long bs = room.bsize, last = (0ULL + to - 1) / bs;
  long long fresh = 0;
  for (unsigned long long k = 0ULL + from / bs; k <= last;) {
    off_t data = lseek(fd, static_cast<off_t>(k * bs), SEEK_DATA);
    if (data < 0 && errno != ENXIO) return -1;
    unsigned long long stop = data < 0 ? last + 1 : std::min(last + 1, 0ULL + data / bs);
    long long got = stop > k ? countblocks(room, k, stop - 1) : 0;
    if (got < 0) return -1;
    fresh += got;
    if (data < 0 || stop > last) break;
    off_t hole = lseek(fd, data, SEEK_HOLE);
    if (hole < 0) return -1;
    k = (0ULL + hole + bs - 1) / bs;
  }
  return fresh;
}

} // namespace

bool roomfor(int fd, long long from, long long to, long long size, Room &room) {
  if (room.bsize == 0) {
    // fstatfs, not fstatvfs: the same counts, and the call a board binary
    // has already.
    struct statfs fs;
    bool known = fstatfs(fd, &fs) == 0 && fs.f_frsize > 0;
    room.bsize = known ? static_cast<long long>(fs.f_frsize) : -1;
    // The blocks the file system keeps back are root's to use.
    room.avail = known ? static_cast<long long>(geteuid() == 0 ? fs.f_bfree : fs.f_bavail) : 0;
  }
  // What the run writes without reserving takes no room.
  if (room.bsize < 0 || (to <= size && alldata(fd, from, to))) return true;
  long counted = room.n;
  long long need = holeblocks(fd, from, to, room);
  if (need < 0) return true; // what cannot be counted is the kernel's to tell
  // A pattern refused for room takes none: the pairs after it may fit.
  if (room.used + need > room.avail) {
    room.n = counted;
    return false;
  }
  room.used += need;
  return true;
}
