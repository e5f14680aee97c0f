// UBI volumes (/dev/ubiN_M): they take no plain writes, only whole logical
// erase blocks (LEBs), each changed atomically. Uses: rawio, types.h.
#pragma once

#include "types.h"

// A volume's rules for a pattern, before anything is written.
Refusal planvolume(const File &f);
// Writes the known bytes [i, j) of a pattern at off into a volume, one
// atomic change per LEB they touch.
int changelebs(Target &t, long long off, const unsigned char *data, long i, long j);
