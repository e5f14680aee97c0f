// MTD flash through its character device (/dev/mtdN): what a patch must
// respect so that the flash ends with the bytes asked for, or keeps its own.
#pragma once

#include "files.h"

// An MTD character device: raw flash, written straight to the chips.
bool isflash(const struct stat &st);
// Whether the flash behind w takes only writes that clear bits.
bool needserase(int w);
// Writes the known bytes of a pattern of count positions at off into flash.
int writeflash(Target &t, long long off, const unsigned char *data, long count);
