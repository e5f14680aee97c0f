// The plain types that every layer of the tools shares: exit statuses, the
// kind of a file and what was learned of it, what a patch works on, and why
// a pattern is refused. Types only, no routines: it uses nothing of the kit.
#pragma once

#include <cstddef>
#include <sys/stat.h>

// Scripts read the outcome from the exit status alone: nothing goes to
// standard error.
constexpr int exit_done = 0;
constexpr int exit_trouble = 2;

// The kinds of file the tools treat differently. Every routine that differs
// by kind is one switch over this value, without a default, so that a new
// kind is a build error until each of them says what it does with it.
enum class Kind : unsigned char {
  missing,     // nothing could be learned: stat or fstat failed
  regular,     // a regular file, on whatever file system
  block,       // a block device: disks, SD cards, eMMC, loop and mtdblock devices
  flash,       // MTD flash that did not say what it is (MEMGETINFO failed or was not asked)
  nand,        // MTD flash that takes one program per page between erases
  nor,         // MTD flash whose programming clears bits, but any of them
  mtdram,      // MTD RAM or NVRAM, which needs no erase
  volume,      // a dynamic UBI volume
  fixedvolume, // a static UBI volume, whose data is only ever replaced whole
  memory,      // /dev/null, /dev/zero or /dev/full: reads change nothing
  character,   // any other character device
  fifo,
  directory,
  socket,
};

// What a file is, learned once per run.
struct File {
  Kind kind = Kind::missing;
  struct stat st = {}; // all zero where stat could not tell
  long long end = -1;  // where a block device, MTD flash or UBI volume ends; -1 where unknown
  long leb = 0;        // a UBI volume's logical erase block size
  unsigned long erasesize = 0, pagesize = 0; // MTD flash's, as MEMGETINFO tells them
  unsigned long mtdflags = 0;                // and its flags
  unsigned long fstype = 0; // a regular file's file system (statfs's f_type); 0 where not asked
};

// The patterns that an explanation foresees, laid over what its reads see so
// that later pairs see them, as they would in a real run. A real run lays
// nothing. Bytes of [size, grown), where a pattern grows a regular file,
// that no pattern covers read as 0, as the gap before a pattern past the end
// does.
struct Laid {
  long long off;
  long count;
  unsigned char *bytes, *known;
};
struct View {
  Laid *laid = nullptr;
  long n = 0;
  long long size = -1, grown = -1;
};

// The room an explanation foresees a run taking on a file system: blocks of
// bsize bytes, avail of them free for this user (0 bsize: not learned yet,
// -1: cannot be learned), used by the pairs so far, each block counted
// once; spans holds n disjoint ranges [first, last] of the blocks counted.
struct Room {
  long long bsize = 0, avail = 0, used = 0;
  long long *spans = nullptr;
  long n = 0;
};

// What a patch works on. Reads for wildcards, and of what a write covers,
// go through r, with view laid over them where there is one; writes go
// through w. path opens r again where it had to be closed. end is where a
// device or an attribute ends and fsize the file size limit, -1 where there
// is none. known is the mask of bytes to write; old holds a regular file's
// bytes under them, read before a write so that a failed one can be taken
// back; onflash the bytes that flash holds there, read before a write and
// after it. Each holds room bytes, the longest pattern so far. wrote says
// that a write was issued; written holds the patterns written, for the read
// back from the medium after the run's sync.
struct Target {
  const char *path;
  int r, w;
  File file;
  long long end, fsize;
  bool wrote;
  unsigned char *known, *old, *onflash;
  std::size_t room;
  const View *view;
  View written;
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
  positions,   // a FIFO: it has no positions to write at
  full,        // /dev/full, which fails every write
  // Foreseen by an explanation only; a run meets them at the write.
  largest, // it would end past the largest file the file system takes
  room,    // the blocks it needs, after those of the pairs before it, are not free
  memory,  // memory ran out
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
