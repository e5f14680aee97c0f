#include "files.h"

#include "flash.h"
#include "regular.h"
#include "ubi.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

int openread(const char *path) {
  return open(path, O_RDONLY | O_NOCTTY);
}

ssize_t readsome(int fd, void *buf, std::size_t n) {
  ssize_t r;
  do r = read(fd, buf, n);
  while (r < 0 && errno == EINTR);
  return r;
}

bool seekto(int fd, long long base, long delta) {
  if (base < 0 || delta > LLONG_MAX - base) return false;
  off_t at = base + delta;
  // Some devices accept any position and report another; only -1 is refusal.
  return lseek(fd, at, SEEK_SET) != -1;
}

namespace {

// The patterns an explanation has laid over the file, and the stretch
// [size, grown) they grow a regular file by: every position there that no
// pattern covers reads as 0, as the gap before a pattern past the end does.
struct Laid {
  long long off;
  long count;
  unsigned char *bytes, *known;
};
Laid *laid;
long nlaid;
long long size = -1, grown = -1;

} // namespace

bool layover(long long off, const unsigned char *bytes, const unsigned char *known, long count,
             long long filesize) {
  auto *more = static_cast<Laid *>(std::realloc(laid, (nlaid + 1) * sizeof *laid));
  if (!more) return false;
  laid = more;
  auto n = static_cast<std::size_t>(count);
  auto *copy = static_cast<unsigned char *>(std::malloc(2 * n));
  if (!copy) return false;
  std::memcpy(copy, bytes, n);
  std::memcpy(copy + n, known, n);
  laid[nlaid++] = {off, count, copy, copy + n};
  size = filesize;
  for (long k = count; filesize >= 0 && k > 0; k--)
    if (known[k - 1]) {
      grown = std::max(grown, off + k);
      break;
    }
  return true;
}

namespace {

// Where n positions from off end, or the largest offset there is.
long long endof(long long off, long n) {
  return n > LLONG_MAX - off ? LLONG_MAX : off + n;
}

} // namespace

void laidover(long long off, unsigned char *bytes, unsigned char *have, long n) {
  for (long k = 0; k < n && k < grown - off; k++)
    if (!have[k] && k >= size - off) bytes[k] = 0, have[k] = 1;
  for (long i = 0; i < nlaid; i++) {
    const Laid &l = laid[i];
    // Only where the pattern and the bytes read overlap.
    for (long long at = std::max(off, l.off); at < std::min(endof(off, n), endof(l.off, l.count));
         at++)
      if (l.known[at - l.off]) bytes[at - off] = l.bytes[at - l.off], have[at - off] = 1;
  }
}

ssize_t readat(int fd, long long base, long delta, unsigned char *buf, std::size_t n) {
  if (!seekto(fd, base, delta)) return 0;
  ssize_t got = readsome(fd, buf, n);
  if (nlaid == 0 || got < 0) return got;
  // What the read returned, and after it what the patterns foreseen so far
  // make of the file, as far as it runs on without a gap.
  auto *have = static_cast<unsigned char *>(std::calloc(n ? n : 1, 1));
  if (!have) return -1;
  std::memset(have, 1, static_cast<std::size_t>(got));
  laidover(base + delta, buf, have, static_cast<long>(n));
  auto k = static_cast<std::size_t>(got);
  while (k < n && have[k]) k++;
  std::free(have);
  return static_cast<ssize_t>(k);
}

bool writeall(int fd, const unsigned char *p, std::size_t n, std::size_t *done) {
  for (std::size_t k = 0; k < n;) {
    ssize_t w = write(fd, p + k, n - k);
    if (w < 0 && errno == EINTR) continue;
    if (w == 0) errno = EIO;
    if (w <= 0) return false;
    k += static_cast<std::size_t>(w);
    if (done) *done = k;
  }
  return true;
}

namespace {

// The most one read(2) transfers on Linux: the largest int, rounded down to a
// page. Asking for more only wastes memory, and on a device would look like a
// read cut short.
unsigned long long readmax() {
  auto page = static_cast<unsigned long long>(sysconf(_SC_PAGESIZE));
  return INT_MAX & ~(page - 1);
}

} // namespace

bool learnkind(int fd, Kind &kind) {
  kind = Kind{};
  if (!learnflash(fd, kind)) return false;
  kind.leb = volumeleb(kind.st);
  kind.fixed = kind.leb > 0 && volumefixed(kind.st);
  if (!S_ISBLK(kind.st.st_mode) && !isflash(kind.st) && kind.leb == 0) return true;
  // Devices cannot grow and report a size of 0: their end is learned by
  // positioning there.
  kind.end = lseek(fd, 0, SEEK_END);
  return kind.end >= 0;
}

// A huge length must neither crash nor allocate more than the one read can
// fill: cap it at what read(2) transfers, at what a regular file holds or a
// device has left after the offset, and where the offset plus the length
// would leave the 64-bit range, which the kernel refuses (EINVAL) instead of
// reading nothing there. Pseudo files (procfs, debugfs, many sysfs
// attributes) report a size of 0 whatever they hold, so 0 means the size is
// unknown, not that nothing is there.
std::size_t readcap(const Kind &kind, long long off, long long len) {
  unsigned long long cap = std::min<unsigned long long>(readmax(), LLONG_MAX - off);
  long long end = kind.end;
  if (end < 0 && S_ISREG(kind.st.st_mode) && kind.st.st_size > 0) end = kind.st.st_size;
  if (end >= 0) cap = std::min<unsigned long long>(cap, end > off ? end - off : 0);
  return static_cast<std::size_t>(std::min<unsigned long long>(len, cap));
}

// A read that meets a bad sector or a damaged block returns the bytes before
// it and no error. On a device the cap stops the read at the device's end, so
// a short one ended early. A regular file that the read left short of what it
// reports to hold is read on, into the rest of the buffer, up to the length
// asked for: a failure on the way says the file was cut; its end (a file that
// shrank) or more bytes (a file system that returns short reads) say it was
// not. One byte more would not do: ext4 returns the pages it read ahead of a
// damaged block, which may end pages before it. A file that reports a size of
// 0 (procfs, debugfs) is not read on: some stream (kmsg, trace_pipe), and a
// read there would wait, or take bytes that are never shown.
bool cutshort(int fd, const Kind &kind, unsigned char *buf, std::size_t want, ssize_t got) {
  auto n = static_cast<std::size_t>(got);
  if (kind.end >= 0) return n < want;
  if (!S_ISREG(kind.st.st_mode) || kind.st.st_size == 0 || got <= 0) return false;
  while (n < want) {
    ssize_t more = readsome(fd, buf + n, want - n);
    if (more <= 0) return more < 0;
    n += static_cast<std::size_t>(more);
  }
  return false;
}

// ---- patches ----

namespace {

bool samefile(int fd, const struct stat &other) {
  struct stat st;
  return fstat(fd, &st) == 0 && st.st_dev == other.st_dev && st.st_ino == other.st_ino;
}

} // namespace

int reread(const Target &t) {
  int r = openread(t.path);
  if (r >= 0 && !samefile(r, t.kind.st)) {
    close(r);
    return -1;
  }
  return r;
}

namespace {

// Wildcard bytes must come from the file being written. Between the two opens
// the path may have come to name another file (a link switched, a file renamed
// over it), and on an overlay the write open may copy the file up, leaving r
// on the lower copy: so ask the path once more. False when r still names
// another file; a file that could not be opened for reading is left alone.
bool readsame(Target &t) {
  if (t.r < 0 || samefile(t.r, t.kind.st)) return true;
  close(t.r);
  t.r = reread(t);
  return t.r >= 0;
}

// Devices refuse writes past their end after taking the part of a pattern
// before it: a half-written header or checksum. A regular file does the same
// at the file size limit (RLIMIT_FSIZE), and a sysfs attribute at its size.
// So the pattern that would cross any of them is not begun. Other files keep
// their own rules: /dev/null takes anything. False when a limit cannot be
// learned.
} // namespace

bool learnlimits(Target &t, int fd) {
  t.end = t.kind.end;
  t.fsize = -1;
  if (!S_ISREG(t.kind.st.st_mode)) return true;
  if (!regularend(fd, t.kind.st, t.end)) return false;
  struct rlimit lim;
  if (getrlimit(RLIMIT_FSIZE, &lim) != 0) return false;
  if (lim.rlim_cur != RLIM_INFINITY && lim.rlim_cur <= LLONG_MAX) t.fsize = lim.rlim_cur;
  return true;
}

bool openpatch(const char *path, int r, Target &t) {
  t.path = path;
  t.r = r;
  // No O_CREAT and no O_TRUNC: a patch never makes a file or shortens one.
  t.w = open(path, O_WRONLY | O_NOCTTY);
  // A patch that cannot learn what its promises rest on writes nothing.
  return t.w >= 0 && learnkind(t.w, t.kind) && readsame(t) && learnlimits(t, t.w);
}

bool makeroom(Target &t, long count) {
  auto n = static_cast<std::size_t>(count);
  if (n <= t.room) return true;
  std::free(t.known);
  // Flash reads its bytes before and after a write, a regular file the bytes
  // that a failed write takes back.
  bool old = isflash(t.kind.st) || S_ISREG(t.kind.st.st_mode);
  t.known = static_cast<unsigned char *>(std::malloc(old ? 2 * n : n));
  t.room = t.known ? n : 0;
  t.old = t.known && old ? t.known + n : nullptr;
  return t.known != nullptr;
}

bool stretch(const unsigned char *known, long count, long &i, long &j) {
  while (i < count && !known[i]) i++;
  for (j = i; j < count && known[j];) j++;
  return i < count;
}

int writeknown(Target &t, long long off, const unsigned char *data, long count, long long *upto) {
  for (long i = 0, j = 0; stretch(t.known, count, i, j); i = j) {
    if (!seekto(t.w, off, i)) return exit_trouble;
    t.wrote = true;
    std::size_t done = 0;
    bool whole = writeall(t.w, data + i, static_cast<std::size_t>(j - i), &done);
    if (upto && done > 0) *upto = off + i + static_cast<long long>(done);
    if (!whole) return exit_trouble;
  }
  return exit_done;
}

namespace {

// Fills the wildcard positions from the file. known[i] ends up 1 for each
// position that holds a byte to write: a wildcard whose byte cannot be read
// stays 0, since writing a made-up byte there would corrupt the file. False
// when a read failed, which is trouble, unlike a position at or past the end
// or a file that cannot be read at all.
bool fillwild(const Target &t, long long off, unsigned char *data, const unsigned char *set,
              long count) {
  bool good = true;
  for (long i = 0; i < count; i++) {
    t.known[i] = set[i];
    if (set[i] || t.r < 0) continue;
    ssize_t got = readat(t.r, off, i, data + i, 1);
    t.known[i] = got == 1;
    if (got < 0) good = false;
  }
  return good;
}

// The ends that the last known byte, at off + j - 1, must not pass.
Refusal limits(const Target &t, long long off, long j) {
  if (S_ISREG(t.kind.st.st_mode) && off > LLONG_MAX - j) return Refusal::unreachable;
  if (t.end >= 0 && off >= t.end - (j - 1)) return Refusal::end;
  if (t.fsize >= 0 && off >= t.fsize - (j - 1)) return Refusal::fsize;
  return Refusal::none;
}

int writeplan(Target &t, long long off, const unsigned char *data, long count, const Plan &p) {
  if (t.kind.leb > 0) return changelebs(t, off, data, p.i, p.j);
  if (S_ISREG(t.kind.st.st_mode)) return writeregular(t, off, data, count, p.i, p.j);
  if (isflash(t.kind.st)) return writeflash(t, off, data, count);
  return writeknown(t, off, data, count);
}

} // namespace

bool skipped(long long off, long count) {
  return count <= 0 || off < 0;
}

Plan planpattern(Target &t, long long off, unsigned char *data, const unsigned char *set,
                 long count) {
  Watch watch = watchreads(t.r, t.kind);
  Plan p;
  p.readfailed = !fillwild(t, off, data, set, count);
  p.j = count; // from the first known byte to the last
  while (p.i < p.j && !t.known[p.i]) p.i++;
  while (p.j > p.i && !t.known[p.j - 1]) p.j--;
  if (p.i < p.j) p.refusal = limits(t, off, p.j);
  if (p.refusal == Refusal::none && isflash(t.kind.st))
    p.refusal = planflash(t, off, data, count, p.i, p.j, watch);
  if (p.refusal == Refusal::none && t.kind.leb > 0) p.refusal = planvolume(t.kind);
  return p;
}

int writepattern(Target &t, long long off, unsigned char *data, const unsigned char *set,
                 long count) {
  Plan p = planpattern(t, off, data, set, count);
  if (p.refusal != Refusal::none) return exit_trouble;
  int status = p.i < p.j ? writeplan(t, off, data, count, p) : exit_done;
  return p.readfailed ? exit_trouble : status;
}

// A status of 0 means the bytes are on the medium. A write-back that fails
// later is reported only to a sync, and for a raw device that nobody else
// holds open it is dropped at the last close; so the run syncs once, after
// its last pair. /dev/null, procfs files and MTD character devices cannot be
// synced (EINVAL): their writes went where they go at once.
int syncpatch(const Target &t) {
  if (!t.wrote) return exit_done;
  bool synced = fdatasync(t.w) == 0 || errno == EINVAL;
  // Not retried on EINTR: Linux releases the descriptor whatever close reports.
  bool closed = close(t.w) == 0;
  return synced && closed ? exit_done : exit_trouble;
}
