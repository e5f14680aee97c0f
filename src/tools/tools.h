// What the three tools share with the fourth, varnock-explain: the reading of
// their arguments, their output lines and the dump of a pair, so that the
// explanation of a command line runs the very routines that the line would.
#pragma once

#include <cstddef>

#include "files.h"

int search_main(int argc, char **argv);
int varnock_main(int argc, char **argv);
int explain_main(int argc, char **argv);

// A number argument as it is read: its value, its base (8, 10 or 16) and the
// character where reading stopped (the terminator when it read all of it).
struct Number {
  long long value;
  unsigned base;
  const char *stop;
};
Number readnumber(const char *s);
const char *lastpart(const char *path);
// A file argument whose first three characters are "mod" patches.
bool patchmode(const char *path);

// Prints one line: prefix, position and the hex text of n bytes. False when
// memory for its text runs out.
bool putline(const char *prefix, long long pos, const unsigned char *bytes, long n);
// The run's status, or trouble where standard output lost what it was given.
int finish(int status);
[[noreturn]] void outofmemory();

// A working buffer that only grows: a later pair that fits reuses it.
struct Buffer {
  unsigned char *bytes = nullptr;
  std::size_t room = 0; // mapped when huge_page or more, from malloc below
};
void release(Buffer &b);
// A dump pair with a negative offset or length is skipped by rule.
bool dumpskipped(long long off, long long len);
// Dumps one pair of offset and length from fd, of kind kind: its line, if
// any, printed after prefix, and the pair's status. shown, where given, says
// whether a line was printed.
int dumppair(int fd, const Kind &kind, long long off, long long len, Buffer &buf,
             const char *prefix, bool *shown = nullptr);
