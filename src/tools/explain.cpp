// varnock-explain: what a command line of the kit means and what it would do,
// told before it runs. It reads the arguments with the tools' own routines
// and foresees a dump with the dump's own pair, and a patch with the checks a
// patch makes before it writes (planpattern), but it never writes: no write
// open, no reservation, no sync, no LEB change. It opens for reading only
// the kinds of file whose reads change nothing; others it looks at with stat.
// Its status: 2 where the run would end 2, 1 where it would not but a line
// warns that something reads otherwise than it looks, 0 otherwise.
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "args.h"
#include "dump.h"
#include "explain.h"
#include "hexcodec.h"
#include "kind.h"
#include "output.h"
#include "patch.h"
#include "rawio.h"
#include "types.h"
#include "view.h"

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

void putquoted(const char *text) {
  putquoted(text, text + std::strlen(text));
}

// A line of a keyword and fixed text.
int say(const char *keyword, const char *text, int status = exit_done) {
  put(keyword);
  put(" ");
  put(text);
  put("\n");
  return status;
}

int refuse(const char *why) {
  return say("refused", why, exit_trouble);
}

// The start of a warn line about an argument: "warn what 'text'".
int warn(const char *what, const char *text) {
  put("warn ");
  put(what);
  put(" ");
  putquoted(text);
  return exit_warned;
}

void decides(const char *what) {
  put("note the kernel decides at write time: ");
  put(what);
  put("\n");
}

bool decimal(char c) {
  return c >= '0' && c <= '9';
}

// What a number argument reads as where it does not read as it looks: no
// digits, digits left unread, a value clamped, or a leading 0 that makes it
// octal with a value its digits do not show (010 is 8; 007 is 7 either way).
int numberwarns(const char *keyword, const char *text, const Number &n) {
  if (n.stop == n.digits) {
    warn(keyword, text);
    put(" has no digits: it is 0\n");
    return exit_warned;
  }
  unsigned long long looks = 0; // the digits read in decimal, as far as they go
  for (const char *c = n.digits; decimal(*c) && looks < ULLONG_MAX / 20; c++)
    looks = looks * 10 + static_cast<unsigned>(*c - '0');
  unsigned long long value = n.value < 0 ? 0 - static_cast<unsigned long long>(n.value) : n.value;
  bool octal = !n.clamped && n.base == 8 && looks != value;
  if (!n.clamped && !octal && !*n.stop) return exit_done;
  warn(keyword, text);
  if (n.clamped) put(" is beyond the 64-bit range");
  if (octal) put(" is octal");
  if (*n.stop) {
    put(octal ? " and stops at " : " stops at ");
    putquoted(n.stop, n.stop + 1);
  }
  put(": it is ");
  putint(n.value);
  put("\n");
  return exit_warned;
}

// offset or length: its text, value in decimal and hex, base, and where
// reading stopped; and what in it reads otherwise than it looks.
long long number(const char *keyword, const char *text, int &status) {
  Number n = readnumber(text);
  put(keyword);
  put(" ");
  putquoted(text);
  put(" ");
  putint(n.value);
  put(n.value < 0 ? " -0x" : " 0x");
  putnum(n.value < 0 ? 0 - static_cast<unsigned long long>(n.value) : n.value, 16);
  put(n.base == 16 ? " hex" : n.base == 8 ? " octal" : " decimal");
  if (*n.stop) {
    put(" stopped ");
    putint(n.stop - text);
    put(" ");
    putquoted(n.stop);
    put("\n");
  } else {
    put(" whole\n");
  }
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
  if (w.held) {
    status = warn("pattern", text);
    put(" drops its last character ");
    putquoted(w.held, w.held + 1);
    put("\n");
  }
  const char *odd = text, *prefix = nullptr;
  for (; *odd; odd++) {
    bool x = (*odd == 'x' || *odd == 'X') && odd > text && odd[-1] == '0';
    if (x && !prefix) prefix = odd - 1;
    if (!x && !hexdigit(*odd) && !std::strchr(" ,.", *odd)) break;
  }
  if (prefix) {
    status = warn("pattern", text);
    put(" holds 0x, which is no prefix in a pattern but two of its characters\n");
  }
  if (*odd) {
    status = warn("pattern", text);
    put(" holds ");
    putquoted(odd, odd + 1);
    put(", which is no hex digit, space, comma or full stop\n");
  }
  if (split) {
    status = warn("pattern", text);
    put(" has a full stop inside a byte: the wildcard comes first\n");
  }
  return status;
}

// A pattern as the codec reads it: its positions' bytes (a wildcard as ..),
// a line for each byte made of other characters than two hex digits, or with
// a full stop between them, and what reads otherwise than it looks.
int pattern(const char *text, long count, const unsigned char *data, const unsigned char *set) {
  put("pattern ");
  putquoted(text);
  put(" ");
  putint(count);
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
    put("position ");
    putint(i);
    put(" ");
    putquoted(first, last + 1);
    std::putchar(' ');
    std::putchar(hexc(byte >> 4));
    std::putchar(hexc(byte));
    put(odd ? " not-hex\n" : "\n");
  }
  return patternwarns(text, w, split);
}

// keyword, position, then the hex text of n bytes, " --" where have says
// there is no byte.
void bytes(const char *keyword, long long off, const unsigned char *b, const unsigned char *have,
           long n) {
  put(keyword);
  put(" ");
  putint(off);
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

const char *notread = "not read here: its bytes are not shown, nor its wildcards read";

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
                      "system's room nor its largest file is foreseen"};
  }
  case Kind::block:
    return {.name = "block", .size = f.end, .reads = true};
  case Kind::flash:
    return {.name = "flash",
            .size = f.end,
            .reads = true,
            .nopatch = s.r < 0 ? "flash that cannot be read here, nor told NAND" : nullptr};
  case Kind::nand:
    return {.name = "nand",
            .size = f.end,
            .reads = true,
            .decides = "whether each stretch is whole pages"};
  case Kind::nor:
    return {.name = "nor", .size = f.end, .reads = true};
  case Kind::mtdram:
    return {.name = "mtd-ram", .size = f.end, .reads = true};
  case Kind::volume:
  case Kind::fixedvolume:
    return {.name = f.kind == Kind::volume ? "volume" : "static-volume",
            .size = f.end,
            .reads = true,
            .decides = "whether another process holds the volume"};
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
  put("file ");
  putquoted(s.path);
  put(" ");
  put(a.name);
  if (a.size >= 0) {
    put(" ");
    putint(a.size);
    put("\n");
  } else {
    put(" -\n");
  }
  if (!a.trap) return exit_done;
  warn("file", s.path);
  put(a.trap);
  return exit_warned;
}

// Whether the file can be opened for reading, without opening those that
// must not be opened.
bool openable(const Seen &s) {
  return s.r >= 0 || (s.reached && !s.reads && about(s).opens &&
                      faccessat(AT_FDCWD, s.path, R_OK, AT_EACCESS) == 0);
}

// An argument left over after the last pair: the tools take pairs only.
int leftover(int argc, char **argv) {
  if (argc < 3 || argc % 2 == 0) return exit_done;
  warn("leftover", argv[argc - 1]);
  put(" follows the last pair: it is not used\n");
  return exit_warned;
}

} // namespace

// ---- the dump ----

namespace {

// What a dump asks of a file that is not read here: the read of each pair,
// and the memory for it, which the dump's own buffer reserves.
int asks(const Seen &s, long long off, long long len, Buffer &buf) {
  std::size_t want = readcap(s.file, off, len);
  put("asks ");
  putint(off);
  put(" ");
  putint(static_cast<long long>(want));
  put("\n");
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
// permission, a read-only mount (both from faccessat, which reports EROFS),
// a device held read-only.
const char *unwritable(const Seen &s) {
  if (faccessat(AT_FDCWD, s.path, W_OK, AT_EACCESS) != 0)
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
  if (!patchmode(lastpart(s.path))) {
    status = warn("file", s.path);
    put(" begins with mod but its own name does not: it is patched\n");
  }
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
  warn("file", s.path);
  put(" is a link under /dev, named for the device it reaches: the line patches that device\n");
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
// file, and the room they take.
struct Foreseen {
  View view;
  Room room;
};

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
    for (long k = 0; k < count; k++)
      if (t.known[k]) old[k] = data[k], have[k] = 1;
    bytes("after", off, old, have, count);
    if (!layover(f.view, off, data, t.known, count, grownfrom(t.file))) outofmemory();
    if (p.readfailed) status = say("trouble", "a wildcard's read fails", exit_trouble);
  }
  std::free(old);
  return status;
}

// The size a run leaves a regular file with, where it grows it.
int growth(const Target &t, const View &v) {
  long long size = grownfrom(t.file);
  if (size < 0 || v.grown <= size) return exit_done;
  warn("file", t.path);
  put(" grows from ");
  putint(size);
  put(" to ");
  putint(v.grown);
  put(" bytes\n");
  return exit_warned;
}

// A refused pair leaves the run's other pairs to go on; a refused file
// leaves only the reading of its arguments to tell.
int patchpairs(Seen &s, int argc, char **argv) {
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
  if (opened == exit_done) status = worse(status, growth(t, f.view));
  std::free(t.known);
  std::free(f.room.spans);
  forget(f.view);
  return status;
}

} // namespace

// ---- search and compare ----

namespace {

const char *nomatch = "an occurrence is not found when the bytes just before it begin the "
                      "pattern, or when it overlaps a hit";

int searchargs(int argc, char **argv) {
  if (argc < 2) return refuse("no file argument");
  Seen s = look(argv[1]);
  About a = about(s);
  int status = file(s);
  if (!openable(s)) status = refuse("the file cannot be opened for reading");
  int patterns = 0;
  for (int p = 2; p < argc; p++) {
    long count;
    unsigned char *set;
    unsigned char *data = parsed(argv[p], count, set);
    status = worse(status, pattern(argv[p], count, data, set));
    if (count <= 0) say("skipped", "the pattern has no positions");
    if (count > 1) say("note", nomatch);
    if (count <= 0 || !openable(s)) continue;
    if (++patterns == 1 && a.noread) status = refuse(a.noread);
    if (patterns == 2 && a.pipe) status = refuse("a pipe serves only its first pattern");
  }
  return status;
}

int compareargs(int argc, char **argv) {
  if (argc < 3) return refuse("two files are needed");
  int status = exit_done;
  for (int i = 1; i <= 2; i++) {
    Seen s = look(argv[i]);
    status = worse(status, file(s));
    if (!openable(s))
      status = refuse("the file cannot be opened for reading");
    else if (const char *why = about(s).noread)
      status = refuse(why);
  }
  return status;
}

// The tool line: the name and the mode it picks, and why.
void tool(const char *name, const char *mode, const char *why) {
  put("tool ");
  put(name);
  put(" ");
  say(mode, why);
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
  status = worse(status, modify ? patchpairs(s, argc, argv) : dumppairs(s, argc, argv));
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
