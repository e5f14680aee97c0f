// varnock-explain: what a command line of the kit means and what it would do,
// told before it runs. It reads the arguments with the tools' own routines
// and foresees a dump with the dump's own pair, and a patch with the checks a
// patch makes before it writes (planpattern), but it never writes: no write
// open, no reservation, no sync, no LEB change. It opens for reading only
// the kinds of file whose reads change nothing; others it looks at with stat.
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
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

void decides(const char *what) {
  put("note the kernel decides at write time: ");
  put(what);
  put("\n");
}

// offset or length: its text, value in decimal and hex, base, and where
// reading stopped.
long long number(const char *keyword, const char *text) {
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
  return n.value;
}

bool hexdigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// A pattern as the codec reads it: each position with the characters that
// made it, a pair of other characters than hex digits marked.
void pattern(const char *text, long count) {
  put("pattern ");
  putquoted(text);
  put(" ");
  putint(count);
  put("\n");
  HexWalk w{text};
  bool given;
  unsigned char byte;
  const char *first, *last;
  for (long i = 0; hexnext(w, given, byte, first, last); i++) {
    put("position ");
    putint(i);
    put(" ");
    putquoted(first, last + 1);
    if (!given) {
      put(" .\n");
      continue;
    }
    std::putchar(' ');
    std::putchar(hexc(byte >> 4));
    std::putchar(hexc(byte));
    put(hexdigit(*first) && hexdigit(*last) ? "\n" : " not-hex\n");
  }
  if (w.held) {
    put("dropped ");
    putquoted(w.held, w.held + 1);
    put("\n");
  }
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

} // namespace

namespace {

// What the explanation knows of the file argument: its kind from stat, and
// for the kinds whose reads change nothing a read descriptor and what
// learnkind learns through it.
struct Seen {
  const char *path = nullptr;
  bool reached = false, reads = false; // stat succeeded; the kind is one read here
  int r = -1;
  bool learned = false;
  File file;
};

// What the explanation says of a kind of file and does with it.
struct About {
  const char *name;    // on the file line
  bool reads;          // opened for reading here: its reads change nothing
  bool asks;           // not read here, and a dump of it is shown as what it asks for
  long long size;      // on the file line; -1 where none is known
  const char *nopatch; // why a patch is refused before anything, or null
  const char *decides; // what the kernel decides at write time for this kind, or null
  const char *unread;  // what a patch of it that is not read here leaves out
  bool pipe;           // it has no positions: read once, from its start
};

const char *notread = "not read here: its bytes are not shown, nor its wildcards read";

// Regular files that report a size (procfs files report 0 and some stream),
// block devices, MTD flash and UBI volumes are read here. FIFOs wait for a
// writer, and a tty or a watchdog acts on its open: those are never opened.
About about(const Seen &s) {
  const File &f = s.file;
  switch (f.kind) {
  case Kind::missing:
    return {"missing", false,   false, -1, s.reached ? nullptr : "the path cannot be reached",
            nullptr,   notread, false};
  case Kind::regular:
    return {"regular",
            f.st.st_size > 0,
            f.st.st_size == 0,
            f.st.st_size,
            nullptr,
            "whether the file system has room",
            f.st.st_size > 0 ? "the file cannot be read: its wildcards stay untouched" : notread,
            false};
  case Kind::block:
    return {"block", true, false, f.end, nullptr, nullptr, notread, false};
  case Kind::flash:
    return {"flash",
            true,
            false,
            f.end,
            s.r < 0 ? "flash that cannot be read here, nor told NAND" : nullptr,
            nullptr,
            notread,
            false};
  case Kind::nand:
    return {"nand",  true, false, f.end, nullptr, "whether each stretch is whole pages",
            notread, false};
  case Kind::nor:
    return {"nor", true, false, f.end, nullptr, nullptr, notread, false};
  case Kind::mtdram:
    return {"mtd-ram", true, false, f.end, nullptr, nullptr, notread, false};
  case Kind::volume:
  case Kind::fixedvolume:
    return {f.kind == Kind::volume ? "volume" : "static-volume", true,    false, f.end, nullptr,
            "whether another process holds the volume",          notread, false};
  case Kind::character:
    return {"character", false, true, -1, nullptr, nullptr, notread, false};
  case Kind::fifo:
    return {"fifo", false, false, -1, nullptr, nullptr, notread, true};
  case Kind::directory:
    return {"directory", false,   false, -1, "a directory cannot be written",
            nullptr,     notread, false};
  case Kind::socket:
    return {"socket", false, false, -1, nullptr, nullptr, notread, false};
  }
  return {"missing", false, false, -1, nullptr, nullptr, notread, false};
}

Seen look(const char *path) {
  Seen s;
  s.path = path;
  struct stat st;
  s.reached = stat(path, &st) == 0;
  if (s.reached) s.file = statkind(st);
  s.reads = about(s).reads;
  if (s.reads) s.r = openread(path);
  if (s.r >= 0) s.learned = learnkind(s.r, s.file);
  return s;
}

// The file line: path, kind and size (a device's end; - where none is known).
void file(const Seen &s) {
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
}

// Whether the file can be opened for reading, without opening those that
// must not be opened.
bool openable(const Seen &s) {
  return s.r >= 0 || (s.reached && !s.reads && faccessat(AT_FDCWD, s.path, R_OK, AT_EACCESS) == 0);
}

} // namespace

// ---- the dump ----

namespace {

int dumppairs(Seen &s, int argc, char **argv) {
  int status = exit_done;
  // Character devices and files that report a size of 0 are not read here.
  // A FIFO, a directory or a socket fails its reads as a file that cannot be
  // opened does: each pair's line is its offset alone.
  About a = about(s);
  bool asks = a.asks;
  if (!s.reached)
    status = refuse("the path cannot be reached");
  else if (a.pipe)
    status = refuse("a FIFO has no positions");
  else if (!openable(s))
    status = refuse("the file cannot be opened for reading");
  else if (s.r >= 0 && !s.learned)
    status = refuse("the kind of the file or its end is unknown");
  else if (asks)
    say("note", "not read here: the dump's reads are shown as what they ask for");
  Buffer buf;
  for (int p = 2; p + 1 < argc; p += 2) {
    long long off = number("offset", argv[p]), len = number("length", argv[p + 1]);
    bool shown;
    if (dumpskipped(off, len)) {
      say("skipped", off < 0 ? "the offset is negative" : "the length is negative");
    } else if (asks) {
      put("asks ");
      putint(off);
      put(" ");
      putint(static_cast<long long>(readcap(s.file, off, len)));
      put("\n");
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
  case Refusal::memory:
    return "memory ran out";
  case Refusal::none:
    break;
  }
  return "";
}

// What only the kernel tells, at the write: the file's write open and the
// write-back always, and what each kind leaves to it. Status 2 for what the
// run would refuse before it writes.
int patchfile(Seen &s, Target &t) {
  About a = about(s);
  if (a.pipe) return refuse("a FIFO has no positions");
  if (a.nopatch) return refuse(a.nopatch);
  if (s.r >= 0 && !s.learned) return refuse("the kind of the file or its end is unknown");
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
  return s.r >= 0 ? exit_done : say("note", a.unread);
}

// The bytes at off now, as the run would find them: the file with the pairs
// foreseen before laid over it.
void before(const Target &t, long long off, unsigned char *b, unsigned char *have, long n) {
  ssize_t got = t.r >= 0 ? readseen(t, off, 0, b, static_cast<std::size_t>(n)) : 0;
  for (long k = 0; k < n; k++) have[k] = k < got;
  laidover(*t.view, off, b, have, n);
  bytes("before", off, b, have, n);
}

int patchpair(Target &t, View &view, const char *offtext, const char *text) {
  long long off = number("offset", offtext);
  long count;
  unsigned char *set;
  unsigned char *data = fromhex(text, count, set);
  if (!data) outofmemory();
  pattern(text, count);
  if (skipped(off, count))
    return say("skipped", count <= 0 ? "the pattern has no positions" : "the offset is negative");
  auto *old = static_cast<unsigned char *>(std::malloc(2 * static_cast<std::size_t>(count)));
  if (!old || !makeroom(t, count)) outofmemory();
  unsigned char *have = old + count;
  before(t, off, old, have, count);
  Plan p = planpattern(t, off, data, set, count);
  int status = exit_done;
  if (p.refusal != Refusal::none) {
    status = refuse(reason(p.refusal));
  } else {
    for (long k = 0; k < count; k++)
      if (t.known[k]) old[k] = data[k], have[k] = 1;
    bytes("after", off, old, have, count);
    if (!layover(view, off, data, t.known, count, grownfrom(t.file))) outofmemory();
    if (p.readfailed) status = say("trouble", "a wildcard's read fails", exit_trouble);
  }
  std::free(old);
  return status;
}

// A refused pair leaves the run's other pairs to go on; a refused file
// leaves only the reading of its arguments to tell.
int patchpairs(Seen &s, int argc, char **argv) {
  Target t{};
  View view;
  t.view = &view;
  int status = patchfile(s, t);
  bool planned = status == exit_done;
  for (int p = 2; p + 1 < argc; p += 2) {
    if (planned) {
      if (patchpair(t, view, argv[p], argv[p + 1]) != exit_done) status = exit_trouble;
      continue;
    }
    number("offset", argv[p]);
    long count;
    unsigned char *set;
    if (!fromhex(argv[p + 1], count, set)) outofmemory();
    pattern(argv[p + 1], count);
  }
  std::free(t.known);
  forget(view);
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
  file(s);
  int status = exit_done;
  if (!openable(s)) status = refuse("the file cannot be opened for reading");
  int patterns = 0;
  for (int p = 2; p < argc; p++) {
    long count;
    unsigned char *set;
    if (!fromhex(argv[p], count, set)) outofmemory();
    pattern(argv[p], count);
    if (count <= 0) say("skipped", "the pattern has no positions");
    if (count > 1) say("note", nomatch);
    if (count > 0 && ++patterns == 2 && about(s).pipe)
      status = refuse("a pipe serves only its first pattern");
  }
  return status;
}

int compareargs(int argc, char **argv) {
  if (argc < 3) return refuse("two files are needed");
  int status = exit_done;
  for (int i = 1; i <= 2; i++) {
    Seen s = look(argv[i]);
    file(s);
    if (!openable(s)) status = refuse("the file cannot be opened for reading");
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
  file(s);
  int status = modify ? patchpairs(s, argc, argv) : dumppairs(s, argc, argv);
  if (argc >= 3 && argc % 2 == 1) {
    put("leftover ");
    putquoted(argv[argc - 1]);
    put("\n");
  }
  return status;
}

} // namespace

int explain_main(int argc, char **argv) {
  if (argc < 2) return exit_trouble;
  const char *name = lastpart(argv[1]);
  if (std::strcmp(name, "varnock-explain") == 0)
    return finish(refuse("varnock-explain does not explain itself"));
  return finish(explain(name, argc - 1, argv + 1));
}
