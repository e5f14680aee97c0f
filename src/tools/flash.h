// MTD flash through its character device (/dev/mtdN): what its reads say
// beyond their bytes, and what a patch must respect so that the flash ends
// with the bytes asked for, or keeps its own. Uses: view, rawio, types.h.
#pragma once

#include <cstdint>

#include "types.h"

// A watch over reads of MTD flash: the ECC's count of reads that it could
// not correct, taken before them. ok is false where the count was not had.
struct Watch {
  std::uint32_t failed = 0;
  bool ok = true;
};
// Begins watching reads of fd; nothing to watch where fd is not flash.
Watch watchreads(int fd, const File &f);
// Whether the reads of fd since w were good: none that the ECC could not
// correct, none of a block in [from, to) that the flash marks bad, and every
// question answered. True where fd is not flash.
bool readswell(int fd, const File &f, const Watch &w, long long from, long long to);
// The same for a forward pass from the start to where fd now stands.
bool passwell(int fd, const File &f, const Watch &w);

// The flash's rules for a pattern of count positions at off whose known
// positions are [i, j) (none when i == j), with the reads since w (its
// wildcards') watched.
Refusal planflash(Target &t, long long off, const unsigned char *data, long count, long i, long j,
                  const Watch &w);
// Writes the known bytes of a planned pattern into flash and reads them back.
int writeflash(Target &t, long long off, const unsigned char *data, long count);
