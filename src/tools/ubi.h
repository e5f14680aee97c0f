// UBI volumes (/dev/ubiN_M): they take no plain writes, only whole logical
// erase blocks (LEBs), each changed atomically.
#pragma once

#include "files.h"

// A volume's LEB size, from sysfs; 0 for a file that is not a volume.
long volumeleb(const struct stat &st);
// Whether a volume is static, from sysfs: its data is only replaced whole, by
// a volume update, and UBI refuses to change a LEB of it.
bool volumefixed(const struct stat &st);
// A volume's rules for a pattern, before anything is written.
Refusal planvolume(const Kind &kind);
// Writes the known bytes [i, j) of a pattern at off into a volume, one
// atomic change per LEB they touch.
int changelebs(Target &t, long long off, const unsigned char *data, long i, long j);
