// A patch's pattern, planned and written: what the file is and where writing
// into it must stop, the wildcards filled from the file, each kind's rules
// before the write, the write itself by kind, and the sync that ends a run.
// Uses: ubi, flash, regular, kind, view, rawio, types.h.
#pragma once

#include "types.h"

// The size past which a patch grows the file; -1 for a file that cannot grow.
long long grownfrom(const File &f);
// Pairs that ask for nothing are skipped by rule, in every mode.
bool skipped(long long off, long count);

// False when the path cannot be patched: it cannot be opened for writing,
// what it is or where it ends cannot be learned, or wildcards could not be
// read from the file it names.
bool openpatch(const char *path, int r, Target &t);
// Where writing into t must stop (its end and fsize), learned through fd on
// the file; false when that cannot be learned.
bool learnlimits(Target &t, int fd);
// Room for a pattern of count positions; false when memory runs out.
bool makeroom(Target &t, long count);
// Fills the wildcards of a pattern of count positions at off from the file
// and decides what it will do, reading but never writing.
Plan planpattern(Target &t, long long off, unsigned char *data, const unsigned char *set,
                 long count);
// What the kernel decides at the write, foreseen for a planned pattern where
// it can be without writing: a regular file's largest size and the room its
// file system has, counted into room over the pairs of a run. An
// explanation's foresight; a run meets these at the write.
Refusal foresee(const Target &t, long long off, const Plan &p, Room &room);
// Plans a pattern and writes its known bytes, whole or not at all where the
// kind of file allows.
int writepattern(Target &t, long long off, unsigned char *data, const unsigned char *set,
                 long count);
// Whether a run reads its bytes back from the medium after its sync.
bool readsback(const Target &t);
// Ends a patch: its bytes on the medium, synced and read back from past the
// page cache where there is a medium to ask, or trouble.
int syncpatch(Target &t);
