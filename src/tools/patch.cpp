#include "patch.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "flash.h"
#include "kind.h"
#include "rawio.h"
#include "regular.h"
#include "ubi.h"
#include "view.h"

namespace {

// Wildcard bytes must come from the file being written. Between the two opens
// the path may have come to name another file (a link switched, a file renamed
// over it), and on an overlay the write open may copy the file up, leaving r
// on the lower copy: so ask the path once more. False when r still names
// another file; a file that could not be opened for reading is left alone.
bool readsame(Target &t) {
  if (t.r < 0 || samefile(t.r, t.file.st)) return true;
  close(t.r);
  t.r = reopen(t.path, t.file.st);
  return t.r >= 0;
}

} // namespace

// Devices refuse writes past their end after taking the part of a pattern
// before it: a half-written header or checksum. A regular file does the same
// at the file size limit (RLIMIT_FSIZE), and a sysfs attribute at its size.
// So the pattern that would cross any of them is not begun. Other files keep
// their own rules: /dev/null takes anything.
bool learnlimits(Target &t, int fd) {
  t.end = t.file.end;
  t.fsize = -1;
  switch (t.file.kind) {
  case Kind::regular:
    break;
  case Kind::missing:
  case Kind::block:
  case Kind::flash:
  case Kind::nand:
  case Kind::nor:
  case Kind::mtdram:
  case Kind::volume:
  case Kind::fixedvolume:
  case Kind::memory:
  case Kind::character:
  case Kind::fifo:
  case Kind::directory:
  case Kind::socket:
    return true;
  }
  if (!regularend(fd, t.file, t.end)) return false;
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
  return t.w >= 0 && learnkind(t.w, t.file) && readsame(t) && learnlimits(t, t.w);
}

bool makeroom(Target &t, long count) {
  auto n = static_cast<std::size_t>(count);
  if (n <= t.room) return true;
  std::free(t.known);
  // A regular file reads the bytes that a failed write takes back, flash
  // what it holds before and after a write.
  bool old = false, onflash = false;
  switch (t.file.kind) {
  case Kind::regular:
    old = true;
    break;
  case Kind::flash:
  case Kind::nand:
  case Kind::nor:
  case Kind::mtdram:
    onflash = true;
    break;
  case Kind::missing:
  case Kind::block:
  case Kind::volume:
  case Kind::fixedvolume:
  case Kind::memory:
  case Kind::character:
  case Kind::fifo:
  case Kind::directory:
  case Kind::socket:
    break;
  }
  t.known = static_cast<unsigned char *>(std::malloc(old || onflash ? 2 * n : n));
  t.room = t.known ? n : 0;
  t.old = t.known && old ? t.known + n : nullptr;
  t.onflash = t.known && onflash ? t.known + n : nullptr;
  return t.known != nullptr;
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
    ssize_t got = readseen(t, off, i, data + i, 1);
    t.known[i] = got == 1;
    if (got < 0) good = false;
  }
  return good;
}

// The ends that the last known byte, at off + j - 1, must not pass. A file
// that grows has no end but the largest offset there is.
Refusal limits(const Target &t, long long off, long j) {
  if (grownfrom(t.file) >= 0 && off > LLONG_MAX - j) return Refusal::unreachable;
  if (t.end >= 0 && off >= t.end - (j - 1)) return Refusal::end;
  if (t.fsize >= 0 && off >= t.fsize - (j - 1)) return Refusal::fsize;
  // Each stretch is positioned before it is written: where the last one's
  // place cannot be, the stretches before it are not begun either.
  long last = j;
  while (last > 0 && t.known[last - 1]) last--;
  return off > LLONG_MAX - last ? Refusal::unreachable : Refusal::none;
}

// Each kind's own rules for a pattern, once its ends are respected.
Refusal plankind(Target &t, long long off, const unsigned char *data, long count, const Plan &p,
                 const Watch &watch) {
  switch (t.file.kind) {
  case Kind::flash:
  case Kind::nand:
  case Kind::nor:
  case Kind::mtdram:
    return planflash(t, off, data, count, p.i, p.j, watch);
  case Kind::volume:
  case Kind::fixedvolume:
    return planvolume(t.file);
  case Kind::fifo:
    return p.i < p.j ? Refusal::positions : Refusal::none;
  case Kind::memory:
    return p.i < p.j && isfull(t.file) ? Refusal::full : Refusal::none;
  case Kind::missing:
  case Kind::regular:
  case Kind::block:
  case Kind::character:
  case Kind::directory:
  case Kind::socket:
    break;
  }
  return Refusal::none;
}

int writeplan(Target &t, long long off, const unsigned char *data, long count, const Plan &p) {
  switch (t.file.kind) {
  case Kind::volume:
  case Kind::fixedvolume:
    return changelebs(t, off, data, p.i, p.j);
  case Kind::regular:
    return writeregular(t, off, data, count, p.i, p.j);
  case Kind::flash:
  case Kind::nand:
  case Kind::nor:
  case Kind::mtdram:
    return writeflash(t, off, data, count);
  case Kind::missing:
  case Kind::block:
  case Kind::memory:
  case Kind::character:
  case Kind::fifo:
  case Kind::directory:
  case Kind::socket:
    break;
  }
  return writeknown(t, off, data, count);
}

} // namespace

long long grownfrom(const File &f) {
  switch (f.kind) {
  case Kind::regular:
    return f.st.st_size;
  case Kind::missing:
  case Kind::block:
  case Kind::flash:
  case Kind::nand:
  case Kind::nor:
  case Kind::mtdram:
  case Kind::volume:
  case Kind::fixedvolume:
  case Kind::memory:
  case Kind::character:
  case Kind::fifo:
  case Kind::directory:
  case Kind::socket:
    break;
  }
  return -1;
}

bool skipped(long long off, long count) {
  return count <= 0 || off < 0;
}

Plan planpattern(Target &t, long long off, unsigned char *data, const unsigned char *set,
                 long count) {
  Watch watch = watchreads(t.r, t.file);
  Plan p;
  p.readfailed = !fillwild(t, off, data, set, count);
  p.j = count; // from the first known byte to the last
  while (p.i < p.j && !t.known[p.i]) p.i++;
  while (p.j > p.i && !t.known[p.j - 1]) p.j--;
  if (p.i < p.j) p.refusal = limits(t, off, p.j);
  if (p.refusal == Refusal::none) p.refusal = plankind(t, off, data, count, p, watch);
  return p;
}

// A file system takes no file past its largest size, and refuses a position
// past it as the dump finds (ext4: 16 TiB less 4 KiB): the end of the
// pattern must be a position it takes. And the blocks the pattern's span
// allocates must be free.
Refusal foresee(const Target &t, long long off, const Plan &p, Room &room) {
  switch (t.file.kind) {
  case Kind::regular:
    break;
  case Kind::missing:
  case Kind::block:
  case Kind::flash:
  case Kind::nand:
  case Kind::nor:
  case Kind::mtdram:
  case Kind::volume:
  case Kind::fixedvolume:
  case Kind::memory:
  case Kind::character:
  case Kind::fifo:
  case Kind::directory:
  case Kind::socket:
    return Refusal::none;
  }
  if (p.i >= p.j || t.r < 0) return Refusal::none;
  if (lseek(t.r, off + p.j, SEEK_SET) < 0) return Refusal::largest;
  return roomfor(t.r, off + p.i, off + p.j, t.file.st.st_size, room) ? Refusal::none
                                                                     : Refusal::room;
}

namespace {

// Where a patch's bytes are read back after the run's sync, past the page
// cache, and how: from a block device, and a regular file on a file system
// with a medium, with O_DIRECT; from a UBI volume, whose reads come from the
// flash; from the flash itself already as each pattern is written. Memory
// (tmpfs, ramfs), pseudo files and character devices have no medium to ask.
enum class Back { none, direct, plain };

Back backby(const Target &t) {
  if (t.r < 0) return Back::none; // a file that cannot be read here
  switch (t.file.kind) {
  case Kind::regular:
    return memoryfs(t.file) || pseudofs(t.file) ? Back::none : Back::direct;
  case Kind::block:
    return Back::direct;
  case Kind::volume:
  case Kind::fixedvolume:
    return Back::plain;
  case Kind::missing:
  case Kind::flash:
  case Kind::nand:
  case Kind::nor:
  case Kind::mtdram:
  case Kind::memory:
  case Kind::character:
  case Kind::fifo:
  case Kind::directory:
  case Kind::socket:
    break;
  }
  return Back::none;
}

// Whether the medium holds each stretch the run wrote as the file should
// after all its pairs: a later pair may have written over an earlier one.
bool holdswritten(const Target &t, Back how) {
  const View &v = t.written;
  bool holds = true;
  for (long p = 0; holds && p < v.n; p++) {
    const Laid &l = v.laid[p];
    for (long i = 0, j = 0; holds && stretch(l.known, l.count, i, j); i = j) {
      auto n = static_cast<std::size_t>(j - i);
      auto *both = static_cast<unsigned char *>(std::malloc(3 * n));
      if (!both) return false;
      unsigned char *want = both + n, *have = both + 2 * n;
      std::memset(have, 0, n);
      laidover(v, l.off + i, want, have, static_cast<long>(n));
      holds = how == Back::direct ? readmedium(t.r, l.off + i, both, n)
                                  : readat(t.r, l.off, i, both, n) == static_cast<ssize_t>(n);
      holds = holds && std::memcmp(both, want, n) == 0;
      std::free(both);
    }
  }
  return holds;
}

} // namespace

bool readsback(const Target &t) {
  return backby(t) != Back::none;
}

int writepattern(Target &t, long long off, unsigned char *data, const unsigned char *set,
                 long count) {
  Plan p = planpattern(t, off, data, set, count);
  if (p.refusal != Refusal::none) return exit_trouble;
  int status = p.i < p.j ? writeplan(t, off, data, count, p) : exit_done;
  // What was written is read back after the sync: it is kept till then.
  if (p.i < p.j && status == exit_done && backby(t) != Back::none &&
      !layover(t.written, off, data, t.known, count, -1))
    status = exit_trouble;
  return p.readfailed ? exit_trouble : status;
}

// A status of 0 means the bytes are on the medium. A write-back that fails
// later is reported only to a sync, and for a raw device that nobody else
// holds open it is dropped at the last close; so the run syncs once, after
// its last pair. /dev/null, procfs files and MTD character devices cannot be
// synced (EINVAL): their writes went where they go at once.
int syncpatch(Target &t) {
  if (!t.wrote) return exit_done;
  bool synced = fdatasync(t.w) == 0 || errno == EINVAL;
  // Not retried on EINTR: Linux releases the descriptor whatever close reports.
  bool closed = close(t.w) == 0;
  // A medium that takes writes and keeps its old bytes (an SD card at the end
  // of its life) reports nothing; the page cache holds the new bytes all the
  // same, so they are read back from past it.
  Back how = backby(t);
  bool held = how == Back::none || holdswritten(t, how);
  forget(t.written);
  return synced && closed && held ? exit_done : exit_trouble;
}
