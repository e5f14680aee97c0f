// Raw descriptor I/O: reads, writes and positioning, and the walk over the
// stretches of a pattern's known bytes. Nothing here asks what kind of file
// a descriptor is. Uses: types.h.
#pragma once

#include <cstddef>
#include <sys/types.h>

#include "types.h"

int openread(const char *path);
// Opens path for reading once more; -1 unless it still names the file st
// describes (a path may come to name another file between two opens).
int reopen(const char *path, const struct stat &st);
// Whether fd is the file st describes.
bool samefile(int fd, const struct stat &st);
// read(2), retried when a signal interrupts it.
ssize_t readsome(int fd, void *buf, std::size_t n);
// Positions fd at base + delta; false when that is out of range or the
// descriptor refuses, so that nothing is read or written at the old place.
bool seekto(int fd, long long base, long delta);
// One read of up to n bytes at base + delta: the count read, 0 where the
// position is out of range or refused (past a device's end), -1 when the read
// fails.
ssize_t readat(int fd, long long base, long delta, unsigned char *buf, std::size_t n);
// Reads n bytes at off into out from the medium, past the page cache: with
// O_DIRECT set on fd, over the span of whole 4 KiB blocks that covers them;
// where O_DIRECT is refused, with the span's clean pages dropped first. False
// when a read fails or does not reach the last of the n bytes.
bool readmedium(int fd, long long off, unsigned char *out, std::size_t n);
// write(2) until all n bytes are taken; false when a write fails or takes
// none, with errno saying why. done, where given, counts the bytes taken.
bool writeall(int fd, const unsigned char *p, std::size_t n, std::size_t *done = nullptr);
// The next stretch [i, j) of known positions from i on; false when none is left.
bool stretch(const unsigned char *known, long count, long &i, long &j);
// One write through t.w per stretch of t.known; a fully known pattern is one
// write. upto, where given, is moved to the end of the bytes written; on
// trouble, errno says why the write stopped.
int writeknown(Target &t, long long off, const unsigned char *data, long count,
               long long *upto = nullptr);
