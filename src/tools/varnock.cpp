// varnock: dump and patch bytes of a file (main), search it for hex patterns
// (search_main), or list where two files differ (varnock_main). One
// executable; the name it is started under picks the tool. The top layer:
// uses explain, dump, scan, walk, output, args, patch, flash, kind, rawio,
// the codec and types.h.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include "args.h"
#include "dump.h"
#include "explain.h"
#include "flash.h"
#include "hexcodec.h"
#include "kind.h"
#include "output.h"
#include "patch.h"
#include "rawio.h"
#include "scan.h"
#include "types.h"
#include "walk.h"

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

// With a standard descriptor closed, a file opened later would take its
// number; /dev/null opened read-only holds the place and makes writes to it
// fail, so lost output shows in the exit status.
void keepstd() {
  for (int fd = 0; fd <= 2; fd++)
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) open("/dev/null", O_RDONLY);
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
  File file;
  if (!modify && r >= 0 && !learnkind(r, file)) status = exit_trouble;
  Buffer buf;
  for (int p = 2; p + 1 < argc; p += 2) {
    long long off = readnumber(argv[p]).value;
    int got = modify ? patchpair(patch, off, argv[p + 1])
                     : dumppair(r, file, off, readnumber(argv[p + 1]).value, buf, "");
    if (got != exit_done) status = got;
  }
  if (modify && syncpatch(patch) != exit_done) status = exit_trouble;
  release(buf);
  std::free(patch.known);
  return finish(status);
}

// ---- pattern search ----

namespace {

// One forward pass, one byte per read request. False when a read fails,
// which ends the pass rather than looping on the failure.
bool scan(int fd, unsigned char *data, const unsigned char *set, long count) {
  Scan s;
  for (;;) {
    unsigned char b;
    ssize_t got = readsome(fd, &b, 1);
    if (got == 0) return true;
    if (got < 0) return false;
    if (scanbyte(s, b, data, set, count) && !putline("", s.start, data, count)) outofmemory();
  }
}

} // namespace

int search_main(int argc, char **argv) {
  if (argc < 2) return exit_trouble;
  int fd = openread(argv[1]);
  if (fd < 0) return exit_trouble;
  // Flash must say what it is for its reads to be watched.
  File file;
  int status = learnstat(fd, file) ? exit_done : exit_trouble;
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
    Watch watch = watchreads(fd, file);
    if (!scan(fd, data, set, count) || !passwell(fd, file, watch)) status = exit_trouble;
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
  Walk w;
  for (;;) {
    unsigned char ca, cb;
    ssize_t ra = readsome(fa, &ca, 1);
    ssize_t rb = readsome(fb, &cb, 1);
    if (ra < 0 || rb < 0 || (ra == 0 && rb == 0)) {
      flush(a, b, w.start);
      std::free(a.bytes);
      std::free(b.bytes);
      return ra >= 0 && rb >= 0;
    }
    long long start = w.start;
    if (walkstep(w, ra == 1, ca, rb == 1, cb)) flush(a, b, start);
    if (w.agree) continue;
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
  // Both learned, whatever the first gives: each file's reads are watched
  // by its own kind.
  File ka, kb;
  bool learneda = learnstat(fa, ka), learnedb = learnstat(fb, kb);
  Watch wa = watchreads(fa, ka), wb = watchreads(fb, kb);
  bool read = walk(fa, fb);
  bool well = passwell(fa, ka, wa) && passwell(fb, kb, wb);
  return finish(learneda && learnedb && read && well ? exit_done : exit_trouble);
}
