// varnock: dump and patch bytes of a file (main), search it for hex patterns
// (search_main), or list where two files differ (varnock_main). One
// executable; the name it is started under picks the tool.
#include <cerrno>
#include <charconv>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

#include "files.h"
#include "flash.h"
#include "hexcodec.h"
#include "tools.h"

// Offsets past 2 GiB must work on 32-bit targets too.
static_assert(sizeof(off_t) == 8, "build with 64-bit file offsets");

unsigned char *strnpe_c_(unsigned char *buf, long count, unsigned char byte);

// A binary copied onto a board must tell its release, though the tools print
// nothing but results: `strings varnock | grep 'varnock version'`. Kept where
// the compiler and linker drop data that nothing references.
[[gnu::used, gnu::retain]] extern const char varnock_version[] = "varnock version " VARNOCK_VERSION;

namespace {

// With a standard descriptor closed, a file opened later would take its
// number; /dev/null opened read-only holds the place and makes writes to it
// fail, so lost output shows in the exit status.
void keepstd() {
  for (int fd = 0; fd <= 2; fd++)
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) open("/dev/null", O_RDONLY);
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

} // namespace

int finish(int status) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) return exit_trouble;
  return status;
}

[[noreturn]] void outofmemory() {
  std::exit(finish(exit_trouble));
}

// The text is rendered a slice at a time, so a long line needs no buffer three
// times its length and stays in cache. When memory for a slice runs out, the
// line ends where its text stopped, at worst after the position alone.
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

// Reads like strtoll with base 0, but the same on every C library: hex after
// "0x", octal after "0", decimal otherwise, and never a "0b" binary prefix.
// Clamped to the 64-bit range so that offsets past 2 GiB work on 32-bit
// targets.
Number readnumber(const char *s) {
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
  if (over) return {neg ? LLONG_MIN : LLONG_MAX, base, s};
  return {neg ? static_cast<long long>(0 - v) : static_cast<long long>(v), base, s};
}

const char *lastpart(const char *path) {
  const char *slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

bool patchmode(const char *path) {
  return std::strncmp(path, "mod", 3) == 0;
}

// ---- dump and patch ----

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

int patchpair(Target &t, long long off, const char *pattern) {
  long count;
  unsigned char *set;
  unsigned char *data = fromhex(pattern, count, set);
  if (!data) outofmemory();
  if (skipped(off, count)) return exit_done;
  if (!makeroom(t, count)) outofmemory();
  return writepattern(t, off, data, set, count);
}

} // namespace

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

int dumppair(int fd, const Kind &kind, long long off, long long len, Buffer &buf,
             const char *prefix, bool *shown) {
  bool printed;
  bool &line = shown ? *shown : printed;
  line = false;
  if (dumpskipped(off, len)) return exit_done;
  if (lseek(fd, off, SEEK_SET) == -1)
    return pastend(fd, off, errno) ? exit_done : failpair(prefix, off, line);
  std::size_t want = readcap(kind, off, len);
  // One spare byte, so that a length of 0 never asks for no memory at all.
  if (!reserve(buf, want + 1)) return failpair(prefix, off, line);
  Watch watch = watchreads(fd, kind);
  ssize_t n = readsome(fd, buf.bytes, want);
  if (n < 0) return failpair(prefix, off, line);
  line = n > 0;
  if (n > 0 && !putline(prefix, off, buf.bytes, static_cast<long>(n))) return exit_trouble;
  // The bytes are shown either way, but a dump cut short, or flash whose ECC
  // failed or whose block is bad, is not whole.
  bool whole = readswell(fd, kind, watch, off, off + n);
  return cutshort(fd, kind, buf.bytes, want, n) || !whole ? exit_trouble : exit_done;
}

int main(int argc, char **argv) {
  keepstd();
  // Past the file size limit a write must fail (EFBIG), not end the tool.
  std::signal(SIGXFSZ, SIG_IGN);
  const char *name = argc > 0 && argv[0] ? lastpart(argv[0]) : "";
  if (std::strcmp(name, "varnock-search") == 0) return search_main(argc, argv);
  if (std::strcmp(name, "varnock-cmp") == 0) return varnock_main(argc, argv);
  if (std::strcmp(name, "varnock-explain") == 0) return explain_main(argc, argv);
  if (argc < 2) return exit_trouble;

  const char *path = argv[1];
  int r = openread(path);
  bool modify = patchmode(path);
  Target patch{};
  if (modify && !openpatch(path, r, patch)) return exit_trouble;
  // An unreadable file spoils a dump; a patch needs to read only wildcards.
  int status = r < 0 && !modify ? exit_trouble : exit_done;
  // Without its kind or its end, a dump cannot tell a read cut short.
  Kind kind{};
  if (!modify && r >= 0 && !learnkind(r, kind)) status = exit_trouble;
  Buffer buf;
  for (int p = 2; p + 1 < argc; p += 2) {
    long long off = readnumber(argv[p]).value;
    int got = modify ? patchpair(patch, off, argv[p + 1])
                     : dumppair(r, kind, off, readnumber(argv[p + 1]).value, buf, "");
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
  // Flash must say what it is for its reads to be watched.
  Kind kind;
  int status = learnflash(fd, kind) ? exit_done : exit_trouble;
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
    Watch watch = watchreads(fd, kind);
    if (!scan(fd, data, set, count) || !passwell(fd, kind, watch)) status = exit_trouble;
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

// Walks both files together, one byte of each per step, to the end of both;
// false when a read fails, which ends the walk rather than looping on the
// failure.
bool walk(int fa, int fb) {
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
      return ra >= 0 && rb >= 0;
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

} // namespace

int varnock_main(int argc, char **argv) {
  if (argc < 3) return exit_trouble;
  // A missing file must not read as an empty one.
  int fa = openread(argv[1]), fb = openread(argv[2]);
  if (fa < 0 || fb < 0) return exit_trouble;
  // Flash must say what it is for its reads to be watched.
  Kind ka, kb;
  bool learned = learnflash(fa, ka) && learnflash(fb, kb);
  Watch wa = watchreads(fa, ka), wb = watchreads(fb, kb);
  bool read = walk(fa, fb);
  bool well = passwell(fa, ka, wa) && passwell(fb, kb, wb);
  return finish(learned && read && well ? exit_done : exit_trouble);
}
