// The dump of one pair of offset and length, with the buffer it reads into:
// how much a read asks for and whether it was cut short, by kind of file.
// Uses: output, flash, rawio, types.h.
#pragma once

#include <cstddef>
#include <sys/types.h>

#include "types.h"

// A working buffer that only grows: a later pair that fits reuses it.
struct Buffer {
  unsigned char *bytes = nullptr;
  std::size_t room = 0; // mapped when huge_page or more, from malloc below
};
// False when the memory cannot be had; the buffer is then empty.
bool reserve(Buffer &b, std::size_t need);
void release(Buffer &b);
// A dump pair with a negative offset or length is skipped by rule.
bool dumpskipped(long long off, long long len);
// How many bytes one read at off should ask for, for a dump of len bytes.
std::size_t readcap(const File &f, long long off, long long len);
// Dumps one pair of offset and length from fd, of kind f: its line, if any,
// printed after prefix, and the pair's status. shown, where given, says
// whether a line was printed.
int dumppair(int fd, const File &f, long long off, long long len, Buffer &buf, const char *prefix,
             bool *shown = nullptr);
