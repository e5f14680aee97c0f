// The one place that learns what kind of file a descriptor or a path is:
// fstat or stat, MTD flash's own description (MEMGETINFO), a UBI volume's
// entries in sysfs, and where a device ends. Uses: rawio, types.h.
#pragma once

#include <sys/vfs.h>

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
// A regular file's file system, from statfs or fstatfs, into f.fstype.
void learnfs(const struct statfs &fs, File &f);
// File systems whose files' bytes the kernel makes up as they are read
// (procfs, sysfs, debugfs, tracefs and the like): sizes of 0 or 4096 say
// nothing of what a file holds, and some files stream.
bool pseudofs(const File &f);
// sysfs, whose binary attributes (an EEPROM, an nvmem cell, PCI config
// space) report their size, and cannot grow.
bool sysfs(const File &f);
// tmpfs and ramfs: the medium is memory.
bool memoryfs(const File &f);
// /dev/full, which fails every write.
bool isfull(const File &f);
