// Regular files, on whatever file system holds them: what a patch must do so
// that a pattern is written whole or not at all where the file system runs
// out of room or meets its largest file size, and where one cannot grow.
// Uses: rawio, types.h.
#pragma once

#include "types.h"

// Where a regular file ends for a patch, into end (-1: it can grow); false
// when that cannot be learned.
bool regularend(int fd, const struct stat &st, long long &end);
// Writes the known bytes of a planned pattern of count positions at off,
// whose known positions are [i, j), into a regular file.
int writeregular(Target &t, long long off, const unsigned char *data, long count, long i, long j);
