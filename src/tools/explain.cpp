// varnock-explain: what a command line of the kit means and what it would do,
// told before it runs. It reads the arguments with the tools' own routines
// and foresees a dump with the dump's own pair, and a patch with the checks a
// patch makes before it writes (planpattern), but it never writes: no write
// open, no reservation, no sync, no LEB change. It opens for reading only
// the kinds of file whose reads change nothing; others it looks at with stat.
// Its status: 2 where the run would end 2, 1 where it would not but a line
// warns that something reads otherwise than it looks, 0 otherwise.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
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
#include "view.h"
#include "walk.h"

namespace {

// Nothing refuses the line, but a warn line names a trap in it.
constexpr int exit_warned = 1;

// 2 wins over 1, and 1 over 0.
int worse(int a, int b) {
  return a > b ? a : b;
}

void put(const char *text) {
  std::fputs(text, stdout);
}

void putnum(unsigned long long v, int base) {
  char digits[24];
  char *end = std::to_chars(digits, digits + sizeof digits, v, base).ptr;
  std::fwrite(digits, 1, static_cast<std::size_t>(end - digits), stdout);
}

void putint(long long v) {
  if (v < 0) put("-");
  putnum(v < 0 ? 0 - static_cast<unsigned long long>(v) : v, 10);
}

// Command-line text in single quotes; a quote, a backslash and every byte a
// terminal would not show plainly as a backslash escape.
void putquoted(const char *text, const char *end) {
  std::putchar('\'');
  for (const char *c = text; c < end; c++) {
    auto b = static_cast<unsigned char>(*c);
    if (b == '\'' || b == '\\') std::putchar('\\');
    if (b >= 0x20 && b < 0x7f) {
      std::putchar(b);
      continue;
    }
    put("\\x");
    std::putchar(hexc(b >> 4));
    std::putchar(hexc(b));
  }
  std::putchar('\'');
}

// Prints fmt, where %s stands for a text, %q for one in single quotes as
// command-line text is shown, %c for the one character a pointer points at,
// in quotes, %d for a long long and %x for one in hex after 0x (-0x for a
// negative one). Each line of the explanation is one call: on a board, a
// call costs more bytes than a format does.
void line(const char *fmt, ...) {
  va_list args;
  va_start(args, fmt);
  for (const char *f = fmt; *f; f++) {
    if (*f != '%') {
      std::putchar(*f);
      continue;
    }
    const char *text;
    long long v;
    switch (*++f) {
    case 's':
      put(va_arg(args, const char *));
      break;
    case 'q':
      text = va_arg(args, const char *);
      putquoted(text, text + std::strlen(text));
      break;
    case 'c':
      text = va_arg(args, const char *);
      putquoted(text, text + 1);
      break;
    case 'd':
      putint(va_arg(args, long long));
      break;
    case 'x':
      v = va_arg(args, long long);
      put(v < 0 ? "-0x" : "0x");
      putnum(v < 0 ? 0 - static_cast<unsigned long long>(v) : v, 16);
      break;
    }
  }
  va_end(args);
}

// A line of a keyword and fixed text.
int say(const char *keyword, const char *text, int status = exit_done) {
  line("%s %s\n", keyword, text);
  return status;
}

int refuse(const char *why) {
  return say("refused", why, exit_trouble);
}

void decides(const char *what) {
  line("note the kernel decides at write time: %s\n", what);
}

bool decimal(char c) {
  return c >= '0' && c <= '9';
}

// What a number argument reads as where it does not read as it looks: no
// digits, digits left unread, a value clamped, or a leading 0 that makes it
// octal with a value its digits do not show (010 is 8; 007 is 7 either way).
int numberwarns(const char *keyword, const char *text, const Number &n) {
  if (n.stop == n.digits) {
    line("warn %s %q has no digits: it is 0\n", keyword, text);
    return exit_warned;
  }
  unsigned long long looks = 0; // the digits read in decimal, as far as they go
  for (const char *c = n.digits; decimal(*c) && looks < ULLONG_MAX / 20; c++)
    looks = looks * 10 + static_cast<unsigned>(*c - '0');
  unsigned long long value = n.value < 0 ? 0 - static_cast<unsigned long long>(n.value) : n.value;
  bool octal = !n.clamped && n.base == 8 && looks != value;
  if (!n.clamped && !octal && !*n.stop) return exit_done;
  line("warn %s %q", keyword, text);
  if (n.clamped) put(" is beyond the 64-bit range");
  if (octal) put(" is octal");
  if (*n.stop) line(octal ? " and stops at %c" : " stops at %c", n.stop);
  line(": it is %d\n", n.value);
  return exit_warned;
}

// offset or length: its text, value in decimal and hex, base, and where
// reading stopped; and what in it reads otherwise than it looks.
long long number(const char *keyword, const char *text, int &status) {
  Number n = readnumber(text);
  line("%s %q %d %x %s", keyword, text, n.value, n.value,
       n.base == 16  ? "hex"
       : n.base == 8 ? "octal"
                     : "decimal");
  if (*n.stop)
    line(" stopped %d %q\n", static_cast<long long>(n.stop - text), n.stop);
  else
    put(" whole\n");
  status = worse(status, numberwarns(keyword, text, n));
  return n.value;
}

bool hexdigit(char c) {
  return decimal(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// What in a pattern reads otherwise than it looks: a last character
// dropped, "0x", which is no prefix there, a character that is no hex digit
// or separator, and a full stop inside a byte, which puts the wildcard first.
int patternwarns(const char *text, const HexWalk &w, bool split) {
  int status = exit_done;
  if (w.held)
    status = exit_warned, line("warn pattern %q drops its last character %c\n", text, w.held);
  const char *odd = text, *prefix = nullptr;
  for (; *odd; odd++) {
    bool x = (*odd == 'x' || *odd == 'X') && odd > text && odd[-1] == '0';
    if (x && !prefix) prefix = odd - 1;
    if (!x && !hexdigit(*odd) && !std::strchr(" ,.", *odd)) break;
  }
  if (prefix)
    status = exit_warned,
    line("warn pattern %q holds 0x, which is no prefix in a pattern but two of its characters\n",
         text);
  if (*odd)
    status = exit_warned,
    line("warn pattern %q holds %c, which is no hex digit, space, comma or full stop\n", text, odd);
  if (split)
    status = exit_warned,
    line("warn pattern %q has a full stop inside a byte: the wildcard comes first\n", text);
  return status;
}

// A pattern as the codec reads it: its positions' bytes (a wildcard as ..),
// a line for each byte made of other characters than two hex digits, or with
// a full stop between them, and what reads otherwise than it looks.
int pattern(const char *text, long count, const unsigned char *data, const unsigned char *set) {
  line("pattern %q %d", text, static_cast<long long>(count));
  for (long k = 0; k < count; k++) put(set[k] ? tohex(data + k, 1) : " ..");
  put("\n");
  HexWalk w{text};
  bool given, split = false;
  unsigned char byte;
  const char *first, *last;
  for (long i = 0; hexnext(w, given, byte, first, last); i++) {
    bool odd = given && (!hexdigit(*first) || !hexdigit(*last));
    bool inside = given && std::memchr(first, '.', static_cast<std::size_t>(last - first));
    if (!odd && !inside) continue;
    split |= inside;
    line("position %d ", static_cast<long long>(i));
    putquoted(first, last + 1);
    line("%s%s\n", tohex(&byte, 1), odd ? " not-hex" : "");
  }
  return patternwarns(text, w, split);
}

// keyword, position, then the hex text of n bytes, " --" where have says
// there is no byte.
void bytes(const char *keyword, long long off, const unsigned char *b, const unsigned char *have,
           long n) {
  line("%s %d", keyword, off);
  for (long k = 0; k < n; k++) put(have[k] ? tohex(b + k, 1) : " --");
  put("\n");
}

// A pattern argument parsed, or the run's end where memory runs out.
unsigned char *parsed(const char *text, long &count, unsigned char *&set) {
  unsigned char *data = fromhex(text, count, set);
  if (!data) outofmemory();
  return data;
}

} // namespace

namespace {

// What the explanation knows of a file argument: its kind from stat, and
// for the kinds whose reads change nothing a read descriptor and what
// learnkind learns through it.
struct Seen {
  const char *path = nullptr;
  bool reached = false, reads = false; // stat succeeded; the kind is one read here
  int r = -1;
  bool learned = false;
  File file;
};

constexpr const char *notread = "not read here: its bytes are not shown, nor its wildcards read";
constexpr const char *noerase = "raw flash sets no bit back without an erase";

// What the explanation says of a kind of file and does with it.
struct About {
  const char *name;              // on the file line
  long long size = -1;           // on the file line; -1 where none is known
  bool reads = false;            // opened for reading here: its reads change nothing
  bool opens = true;             // an open for reading can succeed at all
  bool asks = false;             // not read here: a dump is shown as what it asks for
  bool pipe = false;             // no positions: read once, from its start
  const char *noread = nullptr;  // why every read of it fails
  const char *nopatch = nullptr; // why a patch is refused before anything
  const char *decides = nullptr; // what the kernel decides at write time for this kind
  const char *unread = notread;  // what a patch of it that is not read here leaves out
  const char *trap = nullptr;    // what only the device knows: a warn
  const char *noundo = nullptr;  // why no patch can take a patch of it back
  bool counts = false;           // read here to its end: a search or comparison is counted
};

// Regular files but those of pseudo file systems that report a size of 0,
// block devices, MTD flash, UBI volumes and the memory devices are read
// here. A FIFO waits for a writer, and a tty or a watchdog acts on its open:
// those are never opened.
About about(const Seen &s) {
  const File &f = s.file;
  switch (f.kind) {
  case Kind::missing:
    return {.name = "missing", .nopatch = s.reached ? nullptr : "the path cannot be reached"};
  case Kind::regular: {
    // The kernel makes up a pseudo file's bytes as they are read, and some
    // stream: reading one that reports a size of 0 could wait, or take bytes.
    bool made = f.st.st_size == 0 && pseudofs(f);
    return {.name = "regular",
            .size = f.st.st_size,
            .reads = !made,
            .asks = made,
            .decides = "whether a quota leaves room",
            .unread =
                made
                    ? notread
                    : "the file cannot be read: its wildcards stay untouched, and neither its file "
                      "system's room nor its largest file is foreseen",
            .counts = !made};
  }
  case Kind::block:
    return {.name = "block", .size = f.end, .reads = true, .counts = true};
  case Kind::flash:
    return {.name = "flash",
            .size = f.end,
            .reads = true,
            .nopatch = s.r < 0 ? "flash that cannot be read here, nor told NAND" : nullptr,
            .noundo = noerase,
            .counts = true};
  case Kind::nand:
    return {.name = "nand",
            .size = f.end,
            .reads = true,
            .decides = "whether each stretch is whole pages",
            .noundo = noerase,
            .counts = true};
  case Kind::nor:
    return {.name = "nor", .size = f.end, .reads = true, .noundo = noerase, .counts = true};
  case Kind::mtdram:
    return {.name = "mtd-ram", .size = f.end, .reads = true, .counts = true};
  case Kind::volume:
  case Kind::fixedvolume:
    return {.name = f.kind == Kind::volume ? "volume" : "static-volume",
            .size = f.end,
            .reads = true,
            .decides = "whether another process holds the volume",
            .counts = true};
  case Kind::memory:
    return {.name = "memory", .reads = true};
  case Kind::character:
    return {.name = "character",
            .asks = true,
            .trap = " is a character device: whether it takes positions, and what its reads "
                    "return, only the device knows\n"};
  case Kind::fifo:
    return {.name = "fifo", .pipe = true};
  case Kind::directory:
    return {.name = "directory",
            .noread = "a directory cannot be read",
            .nopatch = "a directory cannot be written"};
  case Kind::socket:
    return {.name = "socket", .opens = false, .nopatch = "a socket cannot be opened"};
  }
  return {.name = "missing"};
}

Seen look(const char *path) {
  Seen s;
  s.path = path;
  struct stat st;
  s.reached = stat(path, &st) == 0;
  if (s.reached) s.file = statkind(st);
  struct statfs fs;
  if (s.file.kind == Kind::regular && statfs(path, &fs) == 0) learnfs(fs, s.file);
  s.reads = about(s).reads;
  if (s.reads) s.r = openread(path);
  unsigned long fstype = s.file.fstype; // learnkind learns what fstat tells
  if (s.r >= 0) s.learned = learnkind(s.r, s.file);
  s.file.fstype = fstype;
  return s;
}

// The file line: path, kind and size (a device's end; - where none is known),
// and a warn for what only a device knows.
int file(const Seen &s) {
  About a = about(s);
  line(a.size >= 0 ? "file %q %s %d\n" : "file %q %s -\n", s.path, a.name, a.size);
  if (!a.trap) return exit_done;
  line("warn file %q%s", s.path, a.trap);
  return exit_warned;
}

// Whether the file can be opened for reading, without opening those that
// must not be opened.
bool openable(const Seen &s) {
  return s.r >= 0 || (s.reached && !s.reads && about(s).opens && access(s.path, R_OK) == 0);
}

// An argument left over after the last pair: the tools take pairs only.
int leftover(int argc, char **argv) {
  if (argc < 3 || argc % 2 == 0) return exit_done;
  line("warn leftover %q follows the last pair: it is not used\n", argv[argc - 1]);
  return exit_warned;
}

} // namespace

// ---- the dump ----

namespace {

// What a dump asks of a file that is not read here: the read of each pair,
// and the memory for it, which the dump's own buffer reserves.
int asks(const Seen &s, long long off, long long len, Buffer &buf) {
  std::size_t want = readcap(s.file, off, len);
  line("asks %d %d\n", off, static_cast<long long>(want));
  return reserve(buf, want + 1) ? exit_done : refuse("memory for this pair's read cannot be had");
}

int dumppairs(Seen &s, int argc, char **argv) {
  int status = exit_done;
  // Character devices and files that report a size of 0 are not read here.
  // A FIFO, a directory or a socket fails its reads as a file that cannot be
  // opened does: each pair's line is its offset alone.
  About a = about(s);
  if (!s.reached)
    status = refuse("the path cannot be reached");
  else if (a.pipe)
    say("note", "a FIFO has no positions: each pair prints its offset alone");
  else if (!openable(s))
    status = refuse("the file cannot be opened for reading");
  else if (s.r >= 0 && !s.learned)
    status = refuse("the kind of the file or its end is unknown");
  else if (a.asks)
    say("note", "not read here: the dump's reads are shown as what they ask for");
  Buffer buf;
  for (int p = 2; p + 1 < argc; p += 2) {
    long long off = number("offset", argv[p], status);
    long long len = number("length", argv[p + 1], status);
    bool shown;
    if (dumpskipped(off, len)) {
      say("skipped", off < 0 ? "the offset is negative" : "the length is negative");
    } else if (a.asks && s.reached) {
      status = worse(status, asks(s, off, len, buf));
    } else if (dumppair(s.r, s.file, off, len, buf, "prints ", &shown) != exit_done) {
      status = refuse("this pair's read is trouble");
    } else if (!shown) {
      say("silent", "the length is 0, or the offset at or past the end");
    }
  }
  release(buf);
  return status;
}

} // namespace

// ---- the patch ----

namespace {

const char *reason(Refusal why) {
  switch (why) {
  case Refusal::unreachable:
    return "its last byte would lie past the largest offset";
  case Refusal::end:
    return "it would end past the end of the device or attribute";
  case Refusal::fsize:
    return "it would end past the file size limit";
  case Refusal::badblock:
    return "it touches an erase block that the flash marks bad";
  case Refusal::ecc:
    return "a read of the flash failed its ECC";
  case Refusal::query:
    return "the flash did not answer about its ECC or blocks";
  case Refusal::unread:
    return "NAND flash that cannot be read";
  case Refusal::bits:
    return "the flash would have to set a bit that is clear";
  case Refusal::page:
    return "a NAND page it falls in is not erased";
  case Refusal::fixed:
    return "a static UBI volume";
  case Refusal::positions:
    return "a FIFO has no positions";
  case Refusal::full:
    return "the device fails every write";
  case Refusal::largest:
    return "it would end past the largest file the file system takes";
  case Refusal::room:
    return "the file system has no room for the blocks it needs";
  case Refusal::memory:
    return "memory ran out";
  case Refusal::none:
    break;
  }
  return "";
}

// Whether the device lets a write open in: a block device the kernel holds
// read-only (BLKROGET), a flash partition without MTD_WRITEABLE.
const char *readonly(const Seen &s) {
  constexpr unsigned long mtd_writeable = 0x400;
  // The request numbers are an int to musl and an unsigned long to glibc.
  const unsigned long blkroget = _IO(0x12, 94);
  int ro = 0;
  switch (s.file.kind) {
  case Kind::block:
    return ioctl(s.r, blkroget, &ro) == 0 && ro ? "the block device is read-only" : nullptr;
  case Kind::nand:
  case Kind::nor:
  case Kind::mtdram:
    return s.file.mtdflags & mtd_writeable ? nullptr : "the flash partition is read-only";
  case Kind::missing:
  case Kind::regular:
  case Kind::flash:
  case Kind::volume:
  case Kind::fixedvolume:
  case Kind::memory:
  case Kind::character:
  case Kind::fifo:
  case Kind::directory:
  case Kind::socket:
    break;
  }
  return nullptr;
}

// The write open, as far as it can be told without making it: this user's
// permission, a read-only mount (both from access, which reports EROFS), a
// device held read-only. access asks for the real user, not the effective
// one: the two differ only for a setuid program, which the tools never are,
// and musl's faccessat would bring a whole child process along for
// AT_EACCESS.
const char *unwritable(const Seen &s) {
  if (access(s.path, W_OK) != 0)
    return errno == EROFS ? "the file system is mounted read-only"
                          : "the file cannot be opened for writing";
  return readonly(s);
}

// A path that patches though its own name does not begin with mod; a link
// that the system made under /dev, named for the partition it reaches
// (/dev/block/by-name/modem, /dev/disk/by-partlabel/...): the line patches
// that partition.
int namewarns(const Seen &s) {
  int status = exit_done;
  if (!patchmode(lastpart(s.path)))
    status = exit_warned,
    line("warn file %q begins with mod but its own name does not: it is patched\n", s.path);
  // The link's folder, and those above it, until /dev or the root: no
  // realpath, which would bring the C library's own path walk along.
  struct stat st, dev, root, at;
  auto n = static_cast<std::size_t>(lastpart(s.path) - s.path);
  char up[4096] = "./";
  if (n + 40 > sizeof up || lstat(s.path, &st) != 0 || !S_ISLNK(st.st_mode) ||
      stat("/dev", &dev) != 0 || stat("/", &root) != 0)
    return status;
  if (n) std::memcpy(up, s.path, n), up[n] = 0;
  bool system = false;
  for (int depth = 0; depth < 12 && !system && stat(up, &at) == 0; depth++) {
    system = at.st_dev == dev.st_dev && at.st_ino == dev.st_ino;
    if (at.st_dev == root.st_dev && at.st_ino == root.st_ino) break;
    std::strcat(up, "../");
  }
  if (!system) return status;
  line("warn file %q is a link under /dev, named for the device it reaches: the line patches "
       "that device\n",
       s.path);
  return exit_warned;
}

// What only the kernel tells, at the write: the file's write open and the
// write-back always, and what each kind leaves to it. Status 2 for what the
// run would refuse before it writes.
int patchfile(Seen &s, Target &t) {
  About a = about(s);
  if (a.nopatch) return refuse(a.nopatch);
  if (s.r >= 0 && !s.learned) return refuse("the kind of the file or its end is unknown");
  if (const char *why = unwritable(s)) return refuse(why);
  // Where it has no read descriptor, an O_PATH one tells the limits: it opens
  // nothing of the file itself.
  int fd = s.r >= 0 ? s.r : open(s.path, O_PATH | O_CLOEXEC);
  t.path = s.path;
  t.r = s.r;
  t.w = -1;
  t.file = s.file;
  if (fd < 0 || !learnlimits(t, fd)) return refuse("the file's end or size limit is unknown");
  decides("whether the file opens for writing");
  if (a.decides) decides(a.decides);
  decides("whether the write-back succeeds");
  if (readsback(t)) say("note", "the bytes are read back from the medium after the sync");
  if (a.pipe) say("note", "a FIFO has no positions: only a pattern with nothing to write passes");
  return s.r >= 0 || a.pipe ? exit_done : say("note", a.unread);
}

// The bytes at off now, as the run would find them: the file with the pairs
// foreseen before laid over it.
void before(const Target &t, long long off, unsigned char *b, unsigned char *have, long n) {
  ssize_t got = t.r >= 0 ? readseen(t, off, 0, b, static_cast<std::size_t>(n)) : 0;
  for (long k = 0; k < n; k++) have[k] = k < got;
  laidover(*t.view, off, b, have, n);
  bytes("before", off, b, have, n);
}

// What a patch of a run foresees as it goes: the patterns laid over the
// file, the room they take, and, for the line that takes them back, each
// pair's offset and the bytes it finds, a wildcard where it writes none.
struct Foreseen {
  View view;
  Room room;
  char **undo = nullptr;
  int pairs = 0;
};

// A pair of the undo line: offset and pattern, each in single quotes.
void undopair(Foreseen &f, long long off, const unsigned char *b, const unsigned char *have,
              const unsigned char *known, long n) {
  auto *more = static_cast<char **>(std::realloc(f.undo, (f.pairs + 1) * sizeof *f.undo));
  auto *text = static_cast<char *>(std::malloc(3 * static_cast<std::size_t>(n) + 32));
  if (!more || !text) outofmemory();
  f.undo = more;
  char *at = std::to_chars(text, text + 24, off).ptr;
  for (long k = 0; k < n; k++) {
    *at++ = ' ';
    bool back = known[k] && have[k];
    *at++ = back ? hexc(b[k] >> 4) : '.';
    if (back) *at++ = hexc(b[k]);
  }
  *at = 0;
  f.undo[f.pairs++] = text;
}

int patchpair(Target &t, Foreseen &f, const char *offtext, const char *text) {
  int status = exit_done;
  long long off = number("offset", offtext, status);
  long count;
  unsigned char *set;
  unsigned char *data = parsed(text, count, set);
  status = worse(status, pattern(text, count, data, set));
  if (skipped(off, count))
    return worse(status, say("skipped", count <= 0 ? "the pattern has no positions"
                                                   : "the offset is negative"));
  auto *old = static_cast<unsigned char *>(std::malloc(2 * static_cast<std::size_t>(count)));
  if (!old || !makeroom(t, count)) outofmemory();
  unsigned char *have = old + count;
  before(t, off, old, have, count);
  Plan p = planpattern(t, off, data, set, count);
  if (p.refusal == Refusal::none) p.refusal = foresee(t, off, p, f.room);
  if (p.refusal != Refusal::none) {
    status = refuse(reason(p.refusal));
  } else {
    if (p.i < p.j) undopair(f, off, old, have, t.known, count);
    for (long k = 0; k < count; k++)
      if (t.known[k]) old[k] = data[k], have[k] = 1;
    bytes("after", off, old, have, count);
    if (!layover(f.view, off, data, t.known, count, grownfrom(t.file))) outofmemory();
    if (p.readfailed) status = say("trouble", "a wildcard's read fails", exit_trouble);
  }
  std::free(old);
  return status;
}

// A space, then command-line text in POSIX single quotes, as a shell takes
// it back.
void putshell(const char *text) {
  put(" '");
  for (const char *c = text; *c; c++) *c == '\'' ? put("'\\''") : (void)std::putchar(*c);
  std::putchar('\'');
}

// The line that puts back every byte the run would change: the pairs in
// reverse order, each with the bytes it found, so that where pairs overlap
// the first one's bytes come back last. None where the run would not run or
// would change nothing, and a warn where no line can take it back: raw flash, a file not read
// here, a file the run grows (the tools never shorten one).
int undo(const Seen &s, const char *tool, const Foreseen &f, int status) {
  long long size = grownfrom(s.file);
  if (size >= 0 && f.view.grown > size) {
    line("warn file %q grows from %d to %d bytes, which no patch takes back\n", s.path, size,
         f.view.grown);
    return exit_warned;
  }
  // A run that changes nothing needs no way back.
  if (status == exit_trouble || f.pairs == 0) return status;
  const char *why = about(s).noundo;
  if (!why && s.r < 0) why = "it is not read here";
  if (why) {
    line("warn file %q has no undo line: %s\n", s.path, why);
    return exit_warned;
  }
  put("undo");
  putshell(tool);
  putshell(s.path);
  for (int k = f.pairs; k-- > 0;) {
    char *pattern = std::strchr(f.undo[k], ' ');
    *pattern++ = 0; // the offset, then the pattern's positions, one space before each
    putshell(f.undo[k]);
    putshell(pattern);
  }
  put("\n");
  return status;
}

// A refused pair leaves the run's other pairs to go on; a refused file
// leaves only the reading of its arguments to tell.
int patchpairs(Seen &s, const char *tool, int argc, char **argv) {
  int status = namewarns(s);
  Target t{};
  Foreseen f;
  t.view = &f.view;
  int opened = patchfile(s, t);
  status = worse(status, opened);
  for (int p = 2; p + 1 < argc; p += 2) {
    if (opened == exit_done) {
      status = worse(status, patchpair(t, f, argv[p], argv[p + 1]));
      continue;
    }
    number("offset", argv[p], status);
    long count;
    unsigned char *set;
    unsigned char *data = parsed(argv[p + 1], count, set);
    status = worse(status, pattern(argv[p + 1], count, data, set));
  }
  if (opened == exit_done) status = worse(status, undo(s, tool, f, status));
  std::free(t.known);
  std::free(f.room.spans);
  for (int k = 0; k < f.pairs; k++) std::free(f.undo[k]);
  std::free(f.undo);
  forget(f.view);
  return status;
}

} // namespace

// ---- search and compare ----

namespace {

constexpr const char *nomatch =
    "an occurrence is not found when the bytes just before it begin the "
    "pattern, or when it overlaps a hit";

// A pattern of a search, and what the file holds of it: the lines the
// search prints, by its own scan, and every occurrence.
struct Counted {
  const char *text;
  int index;
  unsigned char *data, *set;
  long count;
  Scan scan;
  Every every;
  long long prints = 0;
};

// The file in large reads, into buf: the explanation is not the search or
// the comparison and keeps none of their read rules. Its callers watch the
// flash as the tools watch it: a read that fails, or that the flash says is
// not whole, is trouble.
bool nextread(const Seen &s, Buffer &buf, ssize_t &got) {
  got = readsome(s.r, buf.bytes, buf.room);
  return got >= 0;
}

int searchcounts(const Seen &s, Counted *c, int n) {
  Buffer buf;
  if (!reserve(buf, 1 << 20)) outofmemory();
  Watch watch = watchreads(s.r, s.file);
  ssize_t got = 0;
  bool read = seekto(s.r, 0, 0);
  while (read && nextread(s, buf, got) && got > 0)
    for (int i = 0; i < n; i++) {
      Counted &p = c[i];
      auto size = static_cast<std::size_t>(got);
      for (std::size_t k = 0; k < size; k++) {
        k += scanskip(p.scan, buf.bytes + k, size - k, p.data, p.set);
        if (k < size) p.prints += scanbyte(p.scan, buf.bytes[k], p.data, p.set, p.count);
      }
      everybytes(p.every, buf.bytes, size);
    }
  release(buf);
  if (!read || got < 0 || !passwell(s.r, s.file, watch))
    return say("trouble", "a read of the file fails or is not whole", exit_trouble);
  int status = exit_done;
  for (int i = 0; i < n; i++) {
    long long misses = c[i].every.found - c[i].prints;
    line("finds %d %q prints %d misses %d\n", static_cast<long long>(c[i].index), c[i].text,
         c[i].prints, misses);
    if (misses == 0) continue;
    status = exit_warned;
    line("warn pattern %q misses %d occurrences that overlap one it prints or begin inside a "
         "partial match\n",
         c[i].text, misses);
  }
  return status;
}

int searchargs(int argc, char **argv) {
  if (argc < 2) return refuse("no file argument");
  Seen s = look(argv[1]);
  About a = about(s);
  int status = file(s);
  bool opens = openable(s);
  if (!opens) status = refuse("the file cannot be opened for reading");
  bool counted = a.counts && s.r >= 0 && s.learned;
  auto *c = static_cast<Counted *>(std::calloc(static_cast<std::size_t>(argc), sizeof(Counted)));
  if (!c) outofmemory();
  int patterns = 0;
  for (int p = 2; p < argc; p++) {
    long count;
    unsigned char *set;
    unsigned char *data = parsed(argv[p], count, set);
    status = worse(status, pattern(argv[p], count, data, set));
    if (count <= 0) say("skipped", "the pattern has no positions");
    if (count > 1 && !counted) say("note", nomatch);
    if (count <= 0 || !opens) continue;
    if (++patterns == 1 && a.noread) status = refuse(a.noread);
    if (patterns == 2 && a.pipe) status = refuse("a pipe serves only its first pattern");
    // The scan writes the file's bytes into the wildcards: a copy of its own.
    auto n = static_cast<std::size_t>(count);
    Counted &k = c[patterns - 1];
    k.text = argv[p];
    k.index = p - 1;
    k.count = count;
    k.data = static_cast<unsigned char *>(std::malloc(2 * n));
    if (!k.data || !everyready(k.every, data, set, count)) outofmemory();
    k.set = k.data + n;
    std::memcpy(k.data, data, n);
    std::memcpy(k.set, set, n);
  }
  if (patterns > 0 && counted)
    status = worse(status, searchcounts(s, c, patterns));
  else if (patterns > 0 && opens && !a.noread)
    say("note", "not read here: what the search would find is not counted");
  for (int i = 0; i < patterns; i++) {
    std::free(c[i].data);
    everyfree(c[i].every);
  }
  std::free(c);
  return status;
}

// Both files from their start in large reads, walked as the comparison
// walks them: how many difference runs it prints, how many positions
// differ, and the most bytes one of its lines holds.
int comparecounts(const Seen &a, const Seen &b) {
  Buffer ba, bb;
  if (!reserve(ba, 1 << 20) || !reserve(bb, 1 << 20)) outofmemory();
  Walk w;
  long long runs = 0, positions = 0, longest = 0, na = 0, nb = 0;
  ssize_t la = 0, lb = 0;
  std::size_t ia = 0, ib = 0;
  Watch wa = watchreads(a.r, a.file), wb = watchreads(b.r, b.file);
  bool reads = seekto(a.r, 0, 0) && seekto(b.r, 0, 0), enda = false, endb = false;
  while (reads) {
    if (ia == static_cast<std::size_t>(la) && !enda)
      reads = nextread(a, ba, la), ia = 0, enda = la == 0;
    if (ib == static_cast<std::size_t>(lb) && !endb)
      reads = reads && nextread(b, bb, lb), ib = 0, endb = lb == 0;
    if (!reads || (enda && endb)) break;
    bool ha = !enda, hb = !endb;
    if (ha && hb) {
      std::size_t n = std::min(la - ia, lb - ib);
      std::size_t k = walksame(w, ba.bytes + ia, bb.bytes + ib, n);
      ia += k, ib += k;
      if (k == n) continue;
    }
    if (walkstep(w, ha, ha ? ba.bytes[ia] : 0, hb, hb ? bb.bytes[ib] : 0)) {
      runs += !w.agree;
      longest = std::max(longest, std::max(na, nb));
      na = nb = 0;
    }
    if (!w.agree) positions++, na += ha, nb += hb;
    ia += ha, ib += hb;
  }
  release(ba);
  release(bb);
  bool well = passwell(a.r, a.file, wa) && passwell(b.r, b.file, wb);
  if (!reads || !well)
    return say("trouble", "a read of the file fails or is not whole", exit_trouble);
  line("differs runs %d positions %d longest %d\n", runs, positions,
       std::max(longest, std::max(na, nb)));
  return exit_done;
}

int compareargs(int argc, char **argv) {
  if (argc < 3) return refuse("two files are needed");
  int status = exit_done;
  Seen s[2];
  bool counted = true;
  for (int i = 0; i < 2; i++) {
    s[i] = look(argv[i + 1]);
    status = worse(status, file(s[i]));
    counted = counted && about(s[i]).counts && s[i].r >= 0 && s[i].learned;
    if (!openable(s[i]))
      status = refuse("the file cannot be opened for reading");
    else if (const char *why = about(s[i]).noread)
      status = refuse(why);
  }
  if (status == exit_trouble) return status;
  if (!counted)
    return worse(status,
                 say("note", "not read here: what the comparison would print is not counted"));
  return worse(status, comparecounts(s[0], s[1]));
}

// The tool line: the name and the mode it picks, and why.
void tool(const char *name, const char *mode, const char *why) {
  line("tool %s %s %s\n", name, mode, why);
}

int explain(const char *name, int argc, char **argv) {
  if (std::strcmp(name, "varnock-search") == 0) {
    tool(name, "search", "the name varnock-search");
    return searchargs(argc, argv);
  }
  if (std::strcmp(name, "varnock-cmp") == 0) {
    tool(name, "compare", "the name varnock-cmp");
    return compareargs(argc, argv);
  }
  if (argc < 2) {
    tool(name, "dump-or-patch", "any other name");
    return refuse("no file argument");
  }
  bool modify = patchmode(argv[1]);
  tool(name, modify ? "patch" : "dump",
       modify ? "the file argument begins with mod" : "the file argument does not begin with mod");
  Seen s = look(argv[1]);
  int status = file(s);
  status = worse(status, modify ? patchpairs(s, argv[0], argc, argv) : dumppairs(s, argc, argv));
  return worse(status, leftover(argc, argv));
}

} // namespace

int explain_main(int argc, char **argv) {
  if (argc < 2) return exit_trouble;
  const char *name = lastpart(argv[1]);
  if (std::strcmp(name, "varnock-explain") == 0)
    return finish(refuse("varnock-explain does not explain itself"));
  return finish(explain(name, argc - 1, argv + 1));
}
