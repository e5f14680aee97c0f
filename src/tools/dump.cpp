#include "dump.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

#include "flash.h"
#include "output.h"
#include "rawio.h"

namespace {

// A dump fills its buffer with one read, and taking the page faults of a
// fresh buffer 4 KiB at a time costs about as much as the read itself, so
// large buffers come from memory advised for huge pages.
constexpr std::size_t huge_page = 2 << 20;

// n bytes, a multiple of huge_page, starting on a huge_page boundary so that
// every page of it can be a huge one.
unsigned char *maphuge(std::size_t n) {
  std::size_t span = n + huge_page;
  void *p = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  auto start = reinterpret_cast<std::uintptr_t>(p);
  std::uintptr_t at = (start + huge_page - 1) & ~(huge_page - 1);
  if (at > start) munmap(p, at - start);
  if (start + span > at + n) munmap(reinterpret_cast<void *>(at + n), start + span - (at + n));
  // Kernels without transparent huge pages refuse the advice; the memory
  // serves all the same.
  madvise(reinterpret_cast<void *>(at), n, MADV_HUGEPAGE);
  return reinterpret_cast<unsigned char *>(at);
}

// The most one read(2) transfers on Linux: the largest int, rounded down to a
// page. Asking for more only wastes memory, and on a device would look like a
// read cut short.
unsigned long long readmax() {
  auto page = static_cast<unsigned long long>(sysconf(_SC_PAGESIZE));
  return INT_MAX & ~(page - 1);
}

// Where a read of the file must stop: a regular file's size, where it reports
// one, and a device's end; -1 where nothing is known. Pseudo files (procfs,
// debugfs, many sysfs attributes) report a size of 0 whatever they hold, so
// 0 means the size is unknown, not that nothing is there.
long long readend(const File &f) {
  switch (f.kind) {
  case Kind::regular:
    return f.st.st_size > 0 ? f.st.st_size : -1;
  case Kind::block:
  case Kind::flash:
  case Kind::nand:
  case Kind::nor:
  case Kind::mtdram:
  case Kind::volume:
  case Kind::fixedvolume:
    return f.end;
  case Kind::missing:
  case Kind::memory:
  case Kind::character:
  case Kind::fifo:
  case Kind::directory:
  case Kind::socket:
    break;
  }
  return -1;
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
bool cutshort(int fd, const File &f, unsigned char *buf, std::size_t want, ssize_t got) {
  auto n = static_cast<std::size_t>(got);
  switch (f.kind) {
  case Kind::block:
  case Kind::flash:
  case Kind::nand:
  case Kind::nor:
  case Kind::mtdram:
  case Kind::volume:
  case Kind::fixedvolume:
    return f.end >= 0 && n < want;
  case Kind::regular:
    break;
  case Kind::missing:
  case Kind::memory:
  case Kind::character:
  case Kind::fifo:
  case Kind::directory:
  case Kind::socket:
    return false;
  }
  if (f.st.st_size == 0 || got <= 0) return false;
  while (n < want) {
    ssize_t more = readsome(fd, buf + n, want - n);
    if (more <= 0) return more < 0;
    n += static_cast<std::size_t>(more);
  }
  return false;
}

// Some kernels refuse to position past the end (ext4 past its largest file
// size, block and flash devices past their size) where others accept and
// then read nothing. Either way such a pair is past the end, provided the end
// can be learned; a file without positions at all (ESPIPE) has none to learn.
bool pastend(int fd, long long off, int refusal) {
  if (refusal == ESPIPE) return false;
  off_t end = lseek(fd, 0, SEEK_END);
  return end >= 0 && off >= end;
}

// A pair that cannot be read shows as its offset alone.
int failpair(const char *prefix, long long off, bool &shown) {
  shown = true;
  putline(prefix, off, nullptr, 0);
  return exit_trouble;
}

} // namespace

bool reserve(Buffer &b, std::size_t need) {
  if (need <= b.room) return true;
  release(b);
  if (need > SIZE_MAX - 2 * huge_page) return false;
  if (need < huge_page) {
    b.bytes = static_cast<unsigned char *>(std::malloc(need));
    b.room = b.bytes ? need : 0;
  } else {
    std::size_t n = (need + huge_page - 1) & ~(huge_page - 1);
    b.bytes = maphuge(n);
    b.room = b.bytes ? n : 0;
  }
  return b.bytes != nullptr;
}

void release(Buffer &b) {
  if (b.room >= huge_page)
    munmap(b.bytes, b.room);
  else
    std::free(b.bytes);
  b = Buffer{};
}

bool dumpskipped(long long off, long long len) {
  return off < 0 || len < 0;
}

// A huge length must neither crash nor allocate more than the one read can
// fill: cap it at what read(2) transfers, at what a regular file holds or a
// device has left after the offset, and where the offset plus the length
// would leave the 64-bit range, which the kernel refuses (EINVAL) instead of
// reading nothing there.
std::size_t readcap(const File &f, long long off, long long len) {
  unsigned long long cap = std::min<unsigned long long>(readmax(), LLONG_MAX - off);
  long long end = readend(f);
  if (end >= 0) cap = std::min<unsigned long long>(cap, end > off ? end - off : 0);
  return static_cast<std::size_t>(std::min<unsigned long long>(len, cap));
}

int dumppair(int fd, const File &f, long long off, long long len, Buffer &buf, const char *prefix,
             bool *shown) {
  bool printed;
  bool &line = shown ? *shown : printed;
  line = false;
  if (dumpskipped(off, len)) return exit_done;
  if (lseek(fd, off, SEEK_SET) == -1)
    return pastend(fd, off, errno) ? exit_done : failpair(prefix, off, line);
  std::size_t want = readcap(f, off, len);
  // One spare byte, so that a length of 0 never asks for no memory at all.
  if (!reserve(buf, want + 1)) return failpair(prefix, off, line);
  Watch watch = watchreads(fd, f);
  ssize_t n = readsome(fd, buf.bytes, want);
  if (n < 0) return failpair(prefix, off, line);
  line = n > 0;
  if (n > 0 && !putline(prefix, off, buf.bytes, static_cast<long>(n))) return exit_trouble;
  // The bytes are shown either way, but a dump cut short, or flash whose ECC
  // failed or whose block is bad, is not whole.
  bool whole = readswell(fd, f, watch, off, off + n);
  return cutshort(fd, f, buf.bytes, want, n) || !whole ? exit_trouble : exit_done;
}
