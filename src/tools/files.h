// What the tools know of the files they work on, as far as every kind shares
// it: reading raw descriptors, what kind of file a descriptor is and where it
// ends, and the walk of a patch that has each kind take it whole or not at
// all. What only MTD flash or UBI volumes need is in units of their own
// (flash.h, ubi.h), and so is what only regular files need (regular.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/stat.h>
#include <sys/types.h>

// Scripts read the outcome from the exit status alone: nothing goes to
// standard error.
constexpr int exit_done = 0;
constexpr int exit_trouble = 2;

int openread(const char *path);
// read(2), retried when a signal interrupts it.
ssize_t readsome(int fd, void *buf, std::size_t n);
// Positions fd at base + delta; false when that is out of range or the
// descriptor refuses, so that nothing is read or written at the old place.
bool seekto(int fd, long long base, long delta);
// One read of up to n bytes at base + delta: the count read, 0 where the
// position is out of range or refused (past a device's end), -1 when the read
// fails. The patches an explanation has foreseen are laid over what it reads.
ssize_t readat(int fd, long long base, long delta, unsigned char *buf, std::size_t n);

// The explanation of a patch lays each pattern it foresees over the file, so
// that later pairs see it, as they would in a real run: count positions at
// off, those whose known byte is 1, over a regular file of size bytes, which
// grows past its end (-1 for a file that cannot grow). A real run lays
// nothing.
bool layover(long long off, const unsigned char *bytes, const unsigned char *known, long count,
             long long size);
// Lays the patterns foreseen so far over n bytes at off, whatever fd read:
// have[k] says that byte k is known.
void laidover(long long off, unsigned char *bytes, unsigned char *have, long n);

// What a file is, learned once per run.
struct Kind {
  struct stat st;     // all zero where fstat could not tell
  long long end = -1; // where a block device, MTD flash or UBI volume ends; -1 for other files
  long leb = 0;       // a UBI volume's logical erase block size; 0 for other files
  bool fixed = false; // a static UBI volume, whose data is only ever replaced whole
  // MTD flash (MEMGETINFO): its flags, erase block and page sizes; 0 for other files
  std::uint32_t mtdflags = 0, erasesize = 0, pagesize = 0;
};
// False when fstat fails, when a device's end cannot be learned, or when MTD
// flash does not say what it is.
bool learnkind(int fd, Kind &kind);

// How many bytes one read at off should ask for, for a dump of len bytes.
std::size_t readcap(const Kind &kind, long long off, long long len);
// Whether a read of want bytes into buf that returned got stopped before the
// data did. May read on into buf, past the got bytes.
bool cutshort(int fd, const Kind &kind, unsigned char *buf, std::size_t want, ssize_t got);

// What a patch works on. Reads for wildcards, and of what a write covers,
// go through r; writes go through w, whose kind is kind; path opens r again
// where it had to be closed. end is where a device or an attribute ends and
// fsize the file size limit, -1 where there is none. known is the mask of
// bytes to write, and old (flash and regular files) the file's bytes under
// them, read before a write and on flash after it too; both hold room bytes,
// the longest pattern so far.
// wrote says that a write was issued.
struct Target {
  const char *path;
  int r, w;
  Kind kind;
  long long end, fsize;
  bool wrote;
  unsigned char *known, *old;
  std::size_t room;
};

// Why nothing of a pattern is written. The explanation names each.
enum class Refusal {
  none,
  unreachable, // its last byte would lie past the largest offset there is
  end,         // it would end past a device's end
  fsize,       // it would end past the file size limit
  badblock,    // it touches an erase block that the flash marks bad
  ecc,         // a read of the flash before the write failed its ECC
  query,       // the flash did not answer a query about its ECC or blocks
  unread,      // NAND flash that cannot be read
  bits,        // flash would have to set a bit that is clear
  page,        // NAND: a page it falls in is not erased, or takes two stretches
  fixed,       // a static UBI volume
  memory,      // memory ran out
};

// What a pattern will do, decided before anything is written: the known
// positions [i, j) (none when i == j) and what refuses it. readfailed says
// that a wildcard's read failed: that byte stays untouched, and the run is
// trouble.
struct Plan {
  long i = 0, j = 0;
  Refusal refusal = Refusal::none;
  bool readfailed = false;
};

// Pairs that ask for nothing are skipped by rule, in every mode.
bool skipped(long long off, long count);

// False when the path cannot be patched: it cannot be opened for writing,
// what it is or where it ends cannot be learned, or wildcards could not be
// read from the file it names.
bool openpatch(const char *path, int r, Target &t);
// Where writing into t must stop (its end and fsize), learned through fd on
// the file; false when that cannot be learned.
bool learnlimits(Target &t, int fd);
// Room for a pattern of count positions; false when memory runs out.
bool makeroom(Target &t, long count);
// Fills the wildcards of a pattern of count positions at off from the file
// and decides what it will do, reading but never writing.
Plan planpattern(Target &t, long long off, unsigned char *data, const unsigned char *set,
                 long count);
// Plans a pattern and writes its known bytes, whole or not at all where the
// kind of file allows.
int writepattern(Target &t, long long off, unsigned char *data, const unsigned char *set,
                 long count);
// Ends a patch: its bytes on the medium, or trouble.
int syncpatch(const Target &t);

// ---- for the units of each kind of file ----

// write(2) until all n bytes are taken; false when a write fails or takes
// none, with errno saying why. done, where given, counts the bytes taken.
bool writeall(int fd, const unsigned char *p, std::size_t n, std::size_t *done = nullptr);
// The next stretch [i, j) of known positions from i on; false when none is left.
bool stretch(const unsigned char *known, long count, long &i, long &j);
// One write per stretch of known positions; a fully known pattern is one write.
// upto, where given, is moved to the end of the bytes written; on trouble,
// errno says why the write stopped.
int writeknown(Target &t, long long off, const unsigned char *data, long count,
               long long *upto = nullptr);
// Opens the path for reading once more; -1 unless it names the file written.
int reread(const Target &t);
