// The one place that learns what kind of file a descriptor or a path is:
// fstat or stat, MTD flash's own description (MEMGETINFO), a UBI volume's
// entries in sysfs, and where a device ends. Uses: rawio, types.h.
#pragma once

#include "types.h"

// The kind that stat alone tells, and for a character device that sysfs
// calls a UBI volume, that volume's kind and LEB size. MTD flash stays
// Kind::flash: only its descriptor tells more.
File statkind(const struct stat &st);
// fstat, and for MTD flash MEMGETINFO: enough to watch reads of flash. False
// when either fails.
bool learnstat(int fd, File &f);
// All of it: learnstat, whether a character device is a UBI volume, and
// where a device ends. False when any of that cannot be learned.
bool learnkind(int fd, File &f);
// Kinds of MTD flash, whatever MEMGETINFO said of them.
bool isflash(Kind k);
