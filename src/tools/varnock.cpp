// varnock: dump and patch bytes of a file (main), search it for hex patterns
// (search_main), or list where two files differ (varnock_main). One
// executable; the name it is started under picks the tool.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <unistd.h>

#include "hexcodec.h"

// Offsets past 2 GiB must work on 32-bit targets too.
static_assert(sizeof(off_t) == 8, "build with 64-bit file offsets");

int search_main(int argc, char **argv);
int varnock_main(int argc, char **argv);
unsigned char *strnpe_c_(unsigned char *buf, long count, unsigned char byte);

// A binary copied onto a board must tell its release, though the tools print
// nothing but results: `strings varnock | grep 'varnock version'`. Kept where
// the compiler and linker drop data that nothing references.
[[gnu::used, gnu::retain]] extern const char varnock_version[] = "varnock version " VARNOCK_VERSION;

namespace {

// Scripts read the outcome from the exit status alone: nothing goes to
// standard error.
constexpr int exit_done = 0;
constexpr int exit_trouble = 2;

// The most one read(2) transfers on Linux; asking for more only wastes memory.
constexpr unsigned long long read_max = 0x7ffff000;

// With a standard descriptor closed, a file opened later would take its
// number; /dev/null opened read-only holds the place and makes writes to it
// fail, so lost output shows in the exit status.
void keepstd() {
  for (int fd = 0; fd <= 2; fd++)
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) open("/dev/null", O_RDONLY);
}

int openread(const char *path) {
  return open(path, O_RDONLY | O_NOCTTY);
}

ssize_t readsome(int fd, void *buf, std::size_t n) {
  ssize_t r;
  do r = read(fd, buf, n);
  while (r < 0 && errno == EINTR);
  return r;
}

bool writeall(int fd, const unsigned char *p, std::size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

// Positions fd at base + delta; false when that is out of range or the
// descriptor refuses, so that nothing is read or written at the old place.
bool seekto(int fd, long long base, long delta) {
  if (base < 0 || delta > LLONG_MAX - base) return false;
  off_t at = base + delta;
  // Some devices accept any position and report another; only -1 is refusal.
  return lseek(fd, at, SEEK_SET) != -1;
}

int finish(int status) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) return exit_trouble;
  return status;
}

[[noreturn]] void outofmemory() {
  std::exit(finish(exit_trouble));
}

// Prints one line: prefix, position and the hex text of n bytes. The text is
// rendered a slice at a time, so a long line needs no buffer three times its
// length and stays in cache. False when memory for a slice runs out: the line
// then ends where its text stopped, at worst after the position alone.
bool putline(const char *prefix, long long pos, const unsigned char *bytes, long n) {
  constexpr long slice = 16384;
  // The head is "%s%lld" converted by hand: printf costs more than a search
  // that prints a line per byte can afford.
  char head[32];
  std::size_t len = std::strlen(prefix);
  std::memcpy(head, prefix, len);
  char *end = std::to_chars(head + len, head + sizeof head, pos).ptr;
  std::fwrite(head, 1, static_cast<std::size_t>(end - head), stdout);
  bool ok = true;
  for (long done = 0; done < n; done += slice) {
    long k = n - done < slice ? n - done : slice;
    const char *text = tohex(bytes + done, k);
    if (!*text) {
      ok = false;
      break;
    }
    std::fwrite(text, 1, static_cast<std::size_t>(3 * k), stdout);
  }
  std::putchar('\n');
  return ok;
}

int digitval(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

bool isspacec(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Reads like strtoll with base 0, but the same on every C library: hex after
// "0x", octal after "0", decimal otherwise, and never a "0b" binary prefix.
// Clamped to the 64-bit range so that offsets past 2 GiB work on 32-bit
// targets.
long long readnum(const char *s) {
  while (isspacec(*s)) s++;
  bool neg = *s == '-';
  if (*s == '+' || *s == '-') s++;
  unsigned base = 10;
  if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X') && digitval(s[2]) < 16) {
    base = 16;
    s += 2;
  } else if (s[0] == '0') {
    base = 8;
  }
  unsigned long long v = 0;
  unsigned long long limit = neg ? 1ULL + LLONG_MAX : LLONG_MAX;
  bool over = false;
  for (unsigned d; (d = static_cast<unsigned>(digitval(*s))) < base; s++) {
    if (v > (limit - d) / base)
      over = true;
    else
      v = v * base + d;
  }
  if (over) return neg ? LLONG_MIN : LLONG_MAX;
  return neg ? static_cast<long long>(0 - v) : static_cast<long long>(v);
}

const char *lastpart(const char *path) {
  const char *slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

} // namespace

// ---- dump and patch ----

namespace {

// A working buffer that only grows: a later pair that fits reuses it. A dump
// fills its buffer with one read, and taking the page faults of a fresh
// buffer 4 KiB at a time costs about as much as the read itself, so large
// buffers come from memory advised for huge pages.
struct Buffer {
  unsigned char *bytes = nullptr;
  std::size_t room = 0; // mapped when huge_page or more, from malloc below
};

constexpr std::size_t huge_page = 2 << 20;

void release(Buffer &b) {
  if (b.room >= huge_page)
    munmap(b.bytes, b.room);
  else
    std::free(b.bytes);
  b = Buffer{};
}

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

// False when the memory cannot be had; the buffer is then empty.
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

// MTD character devices: raw flash, written straight to the chips.
bool isflash(const struct stat &st) {
  return S_ISCHR(st.st_mode) && major(st.st_rdev) == 90;
}

// What kind of file fd is: what fstat tells, or no kind at all (all zero)
// where it cannot tell.
struct stat kindof(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) st = {};
  return st;
}

// Block devices and MTD flash cannot grow, and report a size of 0 to fstat:
// their end is learned by positioning there. -1 for any other file.
long long deviceend(int fd, const struct stat &st) {
  if (!S_ISBLK(st.st_mode) && !isflash(st)) return -1;
  return lseek(fd, 0, SEEK_END);
}

// A huge length must neither crash nor allocate more than the one read can
// fill: cap it at what read(2) transfers, at what a regular file holds or a
// device has left after the offset (end, or -1 for a file that is not a
// device), and where the offset plus the length would leave the 64-bit range,
// which the kernel refuses (EINVAL) instead of reading nothing there.
// Pseudo files (procfs, debugfs, many sysfs attributes) report a size of 0
// whatever they hold, so 0 means the size is unknown, not that nothing is there.
std::size_t readcap(int fd, long long off, long long len, long long end) {
  unsigned long long cap = std::min<unsigned long long>(read_max, LLONG_MAX - off);
  struct stat st;
  if (end < 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) end = st.st_size;
  if (end >= 0) cap = std::min<unsigned long long>(cap, end > off ? end - off : 0);
  return static_cast<std::size_t>(std::min<unsigned long long>(len, cap));
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
int failpair(long long off) {
  putline("", off, nullptr, 0);
  return exit_trouble;
}

// end is the device's end, or -1 (see deviceend).
int dumppair(int fd, long long off, long long len, long long end, Buffer &buf) {
  if (off < 0 || len < 0) return exit_done;
  if (lseek(fd, off, SEEK_SET) == -1) return pastend(fd, off, errno) ? exit_done : failpair(off);
  std::size_t want = readcap(fd, off, len, end);
  // One spare byte, so that a length of 0 never asks for no memory at all.
  if (!reserve(buf, want + 1)) return failpair(off);
  ssize_t n = readsome(fd, buf.bytes, want);
  if (n < 0) return failpair(off);
  if (n > 0 && !putline("", off, buf.bytes, static_cast<long>(n))) return exit_trouble;
  // A device's read that meets a bad sector returns the bytes before it and
  // no error. The cap stops the read at the device's end, so a short one
  // ended early: the bytes are shown, but the dump is not whole.
  return end >= 0 && static_cast<std::size_t>(n) < want ? exit_trouble : exit_done;
}

// What a patch works on. Reads for wildcards go through r, writes through w.
// limit is where writing must stop (see writelimit), or -1. flash is set for
// MTD flash, and erase for flash whose bits a write can only clear. known is
// the mask of bytes to write, grown to room, the longest pattern so far; on
// flash the flash's bytes follow it. wrote says that a write was issued.
struct Target {
  int r, w;
  long long limit;
  bool flash, erase, wrote;
  unsigned char *known;
  std::size_t room;
};

// Block devices and MTD flash refuse writes past their end after taking the
// part of a pattern before it: a half-written header or checksum. A regular
// file does the same at the file size limit (RLIMIT_FSIZE). So the pattern
// that would cross either is not begun. Other files keep their own rules:
// /dev/null takes anything.
long long writelimit(int w, const struct stat &st) {
  struct rlimit lim;
  if (!S_ISREG(st.st_mode)) return deviceend(w, st);
  if (getrlimit(RLIMIT_FSIZE, &lim) != 0 || lim.rlim_cur == RLIM_INFINITY) return -1;
  return lim.rlim_cur > LLONG_MAX ? -1 : static_cast<long long>(lim.rlim_cur);
}

// MEMGETINFO's answer, the kernel's struct mtd_info_user: no C library has a
// header for it.
struct MtdInfo {
  std::uint8_t type;
  std::uint32_t flags, size, erasesize, writesize, oobsize;
  std::uint64_t padding;
};
static_assert(sizeof(MtdInfo) == 32, "the kernel's layout");
constexpr std::uint32_t mtd_no_erase = 0x1000;

// NAND and NOR flash take only writes that clear bits; RAM and NVRAM behind
// the same driver take any. Where the driver does not say, it is flash.
bool needserase(int w) {
  MtdInfo info{};
  unsigned long request = _IOR('M', 1, MtdInfo); // an int to musl, unsigned long to glibc
  return ioctl(w, request, &info) != 0 || !(info.flags & mtd_no_erase);
}

bool samefile(int a, int b) {
  struct stat sa, sb;
  return fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// Wildcard bytes must come from the file being written. Between the two opens
// the path may have come to name another file (a link switched, a file renamed
// over it), and on an overlay the write open may copy the file up, leaving r
// on the lower copy: so ask the path once more. False when r still names
// another file; a file that could not be opened for reading is left alone.
bool readsame(const char *path, int &r, int w) {
  if (r < 0 || samefile(r, w)) return true;
  close(r);
  r = openread(path);
  return r >= 0 && samefile(r, w);
}

// Room for the mask, and on flash for its bytes, of count positions; false
// when memory runs out.
bool makeroom(Target &t, long count) {
  auto n = static_cast<std::size_t>(count);
  if (n <= t.room) return true;
  std::free(t.known);
  t.known = static_cast<unsigned char *>(std::malloc(t.flash ? 2 * n : n));
  t.room = t.known ? n : 0;
  return t.known != nullptr;
}

// Fills the wildcard positions from the file. known[i] ends up 1 for each
// position that holds a byte to write: a wildcard whose byte cannot be read
// stays 0, since writing a made-up byte there would corrupt the file.
void fillwild(int r, long long off, unsigned char *data, const unsigned char *set,
              unsigned char *known, long count) {
  for (long i = 0; i < count; i++) {
    known[i] = set[i];
    unsigned char b;
    if (!set[i] && seekto(r, off, i) && readsome(r, &b, 1) == 1) {
      data[i] = b;
      known[i] = 1;
    }
  }
}

// The next stretch [i, j) of known positions from i on; false when none is left.
bool stretch(const unsigned char *known, long count, long &i, long &j) {
  while (i < count && !known[i]) i++;
  for (j = i; j < count && known[j];) j++;
  return i < count;
}

// One write per stretch of known positions; a fully known pattern is one write.
int writeknown(Target &t, long long off, const unsigned char *data, long count) {
  for (long i = 0, j = 0; stretch(t.known, count, i, j); i = j) {
    if (!seekto(t.w, off, i)) return exit_trouble;
    t.wrote = true;
    if (!writeall(t.w, data + i, static_cast<std::size_t>(j - i))) return exit_trouble;
  }
  return exit_done;
}

// True when the last byte to be written lies at or past the limit.
bool pastlimit(const Target &t, long long off, long count) {
  long last = count - 1;
  while (last >= 0 && !t.known[last]) last--;
  return t.limit >= 0 && last >= 0 && off >= t.limit - last;
}

// Reads each stretch from the flash, one read each. Before the write, the
// flash must hold every bit that the stretch sets: programming only clears
// bits, and a page written again without an erase ends as the AND of old and
// new bytes. After it, the flash must hold the stretch: programming a page
// that was not erased can spoil its error-correction bytes. A short or failed
// read fails either check.
bool flashholds(Target &t, long long off, const unsigned char *data, long count, bool written) {
  unsigned char *old = t.known + t.room;
  for (long i = 0, j = 0; stretch(t.known, count, i, j); i = j) {
    auto n = static_cast<std::size_t>(j - i);
    if (!seekto(t.r, off, i) || readsome(t.r, old, n) != static_cast<ssize_t>(n)) return false;
    for (std::size_t k = 0; k < n; k++) {
      unsigned char want = data[i + k], has = old[k];
      if (written ? has != want : (want & ~has) != 0) return false;
    }
  }
  return true;
}

int patchpair(Target &t, long long off, const char *pattern) {
  long count;
  unsigned char *set;
  unsigned char *data = fromhex(pattern, count, set);
  if (!data) outofmemory();
  if (count <= 0 || off < 0) return exit_done;
  if (!makeroom(t, count)) outofmemory();
  fillwild(t.r, off, data, set, t.known, count);
  if (pastlimit(t, off, count)) return exit_trouble;
  // Flash is checked where it can be read; a write-only device is just written.
  bool check = t.flash && t.r >= 0;
  if (check && t.erase && !flashholds(t, off, data, count, false)) return exit_trouble;
  int status = writeknown(t, off, data, count);
  if (check && status == exit_done && !flashholds(t, off, data, count, true)) return exit_trouble;
  return status;
}

// False when the path cannot be patched: it cannot be opened for writing, or
// wildcards could not be read from the file it names.
bool openpatch(const char *path, int r, Target &t) {
  // No O_CREAT and no O_TRUNC: a patch never makes a file or shortens one.
  t.w = open(path, O_WRONLY | O_NOCTTY);
  t.r = r;
  if (t.w < 0 || !readsame(path, t.r, t.w)) return false;
  struct stat st = kindof(t.w);
  t.limit = writelimit(t.w, st);
  t.flash = isflash(st);
  t.erase = t.flash && needserase(t.w);
  return true;
}

// A status of 0 means the bytes are on the medium. A write-back that fails
// later is reported only to a sync, and for a raw device that nobody else
// holds open it is dropped at the last close; so the run syncs once, after
// its last pair. Pipes, FIFOs, /dev/null, procfs and MTD character devices
// cannot be synced (EINVAL): their writes went where they go at once.
int syncpatch(const Target &t) {
  if (!t.wrote) return exit_done;
  bool synced = fdatasync(t.w) == 0 || errno == EINVAL;
  // Not retried on EINTR: Linux releases the descriptor whatever close reports.
  bool closed = close(t.w) == 0;
  return synced && closed ? exit_done : exit_trouble;
}

} // namespace

int main(int argc, char **argv) {
  keepstd();
  // Past the file size limit a write must fail (EFBIG), not end the tool.
  std::signal(SIGXFSZ, SIG_IGN);
  const char *name = argc > 0 && argv[0] ? lastpart(argv[0]) : "";
  if (std::strcmp(name, "varnock-search") == 0) return search_main(argc, argv);
  if (std::strcmp(name, "varnock-cmp") == 0) return varnock_main(argc, argv);
  if (argc < 2) return exit_trouble;

  const char *path = argv[1];
  int r = openread(path);
  bool modify = std::strncmp(path, "mod", 3) == 0;
  Target patch{};
  if (modify && !openpatch(path, r, patch)) return exit_trouble;
  // An unreadable file spoils a dump; a patch needs to read only wildcards.
  int status = r < 0 && !modify ? exit_trouble : exit_done;
  long long end = modify ? -1 : deviceend(r, kindof(r));
  Buffer buf;
  for (int p = 2; p + 1 < argc; p += 2) {
    long long off = readnum(argv[p]);
    int got = modify ? patchpair(patch, off, argv[p + 1])
                     : dumppair(r, off, readnum(argv[p + 1]), end, buf);
    if (got != exit_done) status = got;
  }
  if (modify && syncpatch(patch) != exit_done) status = exit_trouble;
  release(buf);
  std::free(patch.known);
  return finish(status);
}

// ---- pattern search ----

namespace {

// One forward pass, one byte per read request, never stepping back: a failed
// partial match is dropped together with the byte that broke it. False when a
// read fails, which ends the pass rather than looping on the failure.
bool scan(int fd, unsigned char *data, const unsigned char *set, long count) {
  long matched = 0;
  long long start = 0;
  for (long long pos = 0;; pos++) {
    unsigned char b;
    ssize_t got = readsome(fd, &b, 1);
    if (got == 0) return true;
    if (got < 0) return false;
    if (set[matched] && data[matched] != b) {
      matched = 0;
      continue;
    }
    // Wildcard positions take the file's byte, so the line shows what is there.
    data[matched] = b;
    if (matched == 0) start = pos;
    if (++matched == count) {
      if (!putline("", start, data, count)) outofmemory();
      matched = 0;
    }
  }
}

} // namespace

int search_main(int argc, char **argv) {
  if (argc < 2) return exit_trouble;
  int fd = openread(argv[1]);
  if (fd < 0) return exit_trouble;
  int status = exit_done;
  bool scanned = false;
  for (int p = 2; p < argc; p++) {
    long count;
    unsigned char *set;
    unsigned char *data = fromhex(argv[p], count, set);
    if (!data) outofmemory();
    if (count <= 0) continue;
    // Every pattern reads the file from its start. A file that cannot be
    // positioned (a pipe) still serves the first pattern.
    if (scanned && !seekto(fd, 0, 0)) {
      status = exit_trouble;
      continue;
    }
    scanned = true;
    if (!scan(fd, data, set, count)) status = exit_trouble;
  }
  return finish(status);
}

// ---- file comparison ----

// Appends byte at index count of buf, keeping room for one more, and returns
// the grown buffer; null when memory runs out, buf then still valid.
unsigned char *strnpe_c_(unsigned char *buf, long count, unsigned char byte) {
  auto *grown =
      static_cast<unsigned char *>(std::realloc(buf, static_cast<std::size_t>(count) + 2));
  if (!grown) return nullptr;
  grown[count] = byte;
  return grown;
}

namespace {

// The bytes one file has in the current difference run.
struct Run {
  unsigned char *bytes;
  long count;
};

void append(Run &run, unsigned char byte) {
  unsigned char *grown = strnpe_c_(run.bytes, run.count, byte);
  if (!grown) outofmemory();
  run.bytes = grown;
  run.count++;
}

void putrun(const char *prefix, Run &run, long long start) {
  if (run.count == 0) return;
  if (!putline(prefix, start, run.bytes, run.count)) outofmemory();
  run.count = 0;
}

// The second file's bytes come first, on the "<" line.
void flush(Run &a, Run &b, long long start) {
  putrun("< ", b, start);
  putrun("> ", a, start);
}

} // namespace

int varnock_main(int argc, char **argv) {
  if (argc < 3) return exit_trouble;
  // A missing file must not read as an empty one.
  int fa = openread(argv[1]), fb = openread(argv[2]);
  if (fa < 0 || fb < 0) return exit_trouble;
  Run a{static_cast<unsigned char *>(std::malloc(1)), 0};
  Run b{static_cast<unsigned char *>(std::malloc(1)), 0};
  if (!a.bytes || !b.bytes) outofmemory();
  bool agree = true;
  long long start = 0;
  for (long long pos = 0;; pos++) {
    unsigned char ca, cb;
    ssize_t ra = readsome(fa, &ca, 1);
    ssize_t rb = readsome(fb, &cb, 1);
    if (ra < 0 || rb < 0 || (ra == 0 && rb == 0)) {
      flush(a, b, start);
      std::free(a.bytes);
      std::free(b.bytes);
      return finish(ra < 0 || rb < 0 ? exit_trouble : exit_done);
    }
    bool same = ra == 1 && rb == 1 && ca == cb;
    if (same != agree) {
      flush(a, b, start);
      agree = same;
      start = pos;
    }
    if (agree) continue;
    if (ra == 1) append(a, ca);
    if (rb == 1) append(b, cb);
  }
}
