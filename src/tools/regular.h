// Regular files, on whatever file system holds them: what a patch must do so
// that a pattern is written whole or not at all where the file system runs
// out of room or meets its largest file size, and where one cannot grow.
// Uses: kind, rawio, types.h.
#pragma once

#include "types.h"

// Where a regular file ends for a patch, into end (-1: it can grow), and its
// file system into f; false when that cannot be learned.
bool regularend(int fd, File &f, long long &end);
// Writes the known bytes of a planned pattern of count positions at off,
// whose known positions are [i, j), into a regular file.
int writeregular(Target &t, long long off, const unsigned char *data, long count, long i, long j);
// Whether the file system has room for what a write of [from, to) into the
// regular file fd of size bytes allocates, after what room counted for the
// pairs before it; it counts this one in. An explanation's foresight: a run
// learns it from the reservation at the write.
bool roomfor(int fd, long long from, long long to, long long size, Room &room);
