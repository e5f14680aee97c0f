// UBI volumes (/dev/ubiN_M): they take no plain writes, only whole logical
// erase blocks (LEBs), each changed atomically.
#pragma once

#include "files.h"

// A volume's LEB size, from sysfs; 0 for a file that is not a volume.
long volumeleb(const struct stat &st);
// Writes the known bytes [i, j) of a pattern at off into a volume, one
// atomic change per LEB they touch.
int changelebs(Target &t, long long off, const unsigned char *data, long i, long j);
