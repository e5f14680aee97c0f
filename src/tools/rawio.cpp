#include "rawio.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

int openread(const char *path) {
  return open(path, O_RDONLY | O_NOCTTY);
}

bool samefile(int fd, const struct stat &st) {
  struct stat now;
  return fstat(fd, &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino;
}

int reopen(const char *path, const struct stat &st) {
  int r = openread(path);
  if (r >= 0 && !samefile(r, st)) {
    close(r);
    return -1;
  }
  return r;
}

ssize_t readsome(int fd, void *buf, std::size_t n) {
  ssize_t r;
  do r = read(fd, buf, n);
  while (r < 0 && errno == EINTR);
  return r;
}

bool seekto(int fd, long long base, long delta) {
  if (base < 0 || delta > LLONG_MAX - base) return false;
  off_t at = base + delta;
  // Some devices accept any position and report another; only -1 is refusal.
  return lseek(fd, at, SEEK_SET) != -1;
}

ssize_t readat(int fd, long long base, long delta, unsigned char *buf, std::size_t n) {
  if (!seekto(fd, base, delta)) return 0;
  return readsome(fd, buf, n);
}

bool readmedium(int fd, long long off, unsigned char *out, std::size_t n) {
  // O_DIRECT wants its buffer, position and length aligned to the device's
  // logical block; 4 KiB covers every one there is, and mapped memory is
  // aligned to a page.
  constexpr long long block = 4096;
  // A stretch that ends in the last block below the largest offset (XFS
  // takes files that large) is read to that offset, unaligned: O_DIRECT
  // refuses it, and the dropped pages are read.
  long long end = off + static_cast<long long>(n);
  long long from = off / block * block;
  long long to = end > LLONG_MAX - (block - 1) ? LLONG_MAX : (end + block - 1) / block * block;
  auto span = static_cast<std::size_t>(to - from);
  void *map = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (map == MAP_FAILED) return false;
  auto *buf = static_cast<unsigned char *>(map);
  int flags = fcntl(fd, F_GETFL);
  bool direct = flags >= 0 && fcntl(fd, F_SETFL, flags | O_DIRECT) == 0;
  ssize_t got = direct ? readat(fd, from, 0, buf, span) : -1;
  if (direct && got < 0 && errno == EINVAL) {
    fcntl(fd, F_SETFL, flags);
    direct = false;
  }
  if (!direct) {
    // The sync made the span's pages clean: dropped, they are read anew.
    posix_fadvise(fd, from, to - from, POSIX_FADV_DONTNEED);
    got = readat(fd, from, 0, buf, span);
  }
  bool whole = got >= end - from;
  if (whole) std::memcpy(out, buf + (off - from), n);
  munmap(map, span);
  return whole;
}

bool writeall(int fd, const unsigned char *p, std::size_t n, std::size_t *done) {
  for (std::size_t k = 0; k < n;) {
    ssize_t w = write(fd, p + k, n - k);
    if (w < 0 && errno == EINTR) continue;
    if (w == 0) errno = EIO;
    if (w <= 0) return false;
    k += static_cast<std::size_t>(w);
    if (done) *done = k;
  }
  return true;
}

bool stretch(const unsigned char *known, long count, long &i, long &j) {
  while (i < count && !known[i]) i++;
  for (j = i; j < count && known[j];) j++;
  return i < count;
}

int writeknown(Target &t, long long off, const unsigned char *data, long count, long long *upto) {
  for (long i = 0, j = 0; stretch(t.known, count, i, j); i = j) {
    if (!seekto(t.w, off, i)) return exit_trouble;
    t.wrote = true;
    std::size_t done = 0;
    bool whole = writeall(t.w, data + i, static_cast<std::size_t>(j - i), &done);
    if (upto && done > 0) *upto = off + i + static_cast<long long>(done);
    if (!whole) return exit_trouble;
  }
  return exit_done;
}
