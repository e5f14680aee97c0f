#include "ubi.h"

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "flash.h"

// A UBI volume is a character device of a dynamic major, and no ioctl tells
// it from others or tells its erase block size; sysfs does. 0 where that
// cannot be learned: the device is then not taken for a volume, and the
// kernel refuses a plain write to a volume.
namespace {

// Reads the start of the device's sysfs entry called name into text; the
// count read, or -1.
ssize_t readentry(const struct stat &st, const char *name, char *text, std::size_t n) {
  // Built by hand, with the conversion that putline uses: printf would bring
  // a board binary most of musl's printf.
  char path[80] = "/sys/dev/char/";
  char *at = std::to_chars(path + 14, path + 34, 0ULL + major(st.st_rdev)).ptr;
  *at++ = ':';
  at = std::to_chars(at, path + 48, 0ULL + minor(st.st_rdev)).ptr;
  std::memcpy(at, name, std::strlen(name) + 1);
  int fd = openread(path);
  if (fd < 0) return -1;
  ssize_t got = readsome(fd, text, n);
  close(fd);
  return got;
}

} // namespace

long volumeleb(const struct stat &st) {
  if (!S_ISCHR(st.st_mode) || isflash(st)) return 0;
  char text[24];
  ssize_t n = readentry(st, "/usable_eb_size", text, sizeof text);
  long leb = 0;
  if (n > 0) std::from_chars(text, text + n, leb);
  return leb > 0 ? leb : 0;
}

bool volumefixed(const struct stat &st) {
  char text[8];
  return readentry(st, "/type", text, sizeof text) >= 6 && std::memcmp(text, "static", 6) == 0;
}

Refusal planvolume(const Kind &kind) {
  return kind.fixed ? Refusal::fixed : Refusal::none;
}

namespace {

// UBI_IOCEBCH's request, the kernel's packed struct ubi_leb_change_req. The
// request number gives the size of its first field only, but the kernel copies
// all 16 bytes.
struct LebChange {
  std::int32_t lnum, bytes;
  std::int8_t dtype, padding[7];
};
static_assert(sizeof(LebChange) == 16, "the kernel's layout");

bool changeleb(int w, long long lnum, const unsigned char *bytes, long n) {
  LebChange req{static_cast<std::int32_t>(lnum), static_cast<std::int32_t>(n), 0, {}};
  unsigned long request = _IOW('O', 2, std::int32_t);
  return ioctl(w, request, &req) == 0 && writeall(w, bytes, static_cast<std::size_t>(n));
}

// Reads the LEBs from first on into lebs, one read each. Bytes that were not
// read are never submitted: the LEB would take them.
bool readlebs(const Target &t, long long first, unsigned char *lebs, std::size_t size) {
  auto leb = static_cast<std::size_t>(t.kind.leb);
  if (t.r < 0) return false;
  for (std::size_t at = 0; at < size; at += leb)
    if (!seekto(t.r, first * t.kind.leb, static_cast<long>(at)) ||
        readsome(t.r, lebs + at, leb) != static_cast<ssize_t>(leb))
      return false;
  return true;
}

} // namespace

// A UBI volume takes no plain writes. It changes one logical erase block (LEB)
// at a time, atomically: the new contents go to a fresh physical block, and
// the LEB is switched to it only when all of them are there, also across a
// power cut. What a change does not submit becomes ff, so each LEB that the
// known span [i, j) touches is read whole, the known bytes are laid over it
// and the whole LEB is submitted: one change per LEB, in order. UBI refuses a
// change (EBUSY) while any other descriptor has the volume open, this tool's
// own read descriptor too, and holds the volume for w alone until the change
// is complete: so r is closed for the changes and opened again after them.
int changelebs(Target &t, long long off, const unsigned char *data, long i, long j) {
  long leb = t.kind.leb;
  // Unsigned, as the offsets are: 32-bit boards then need no signed 64-bit division.
  long long first = (0ULL + off + i) / leb, last = (0ULL + off + j - 1) / leb;
  auto size = static_cast<std::size_t>((last - first + 1) * leb);
  auto *lebs = static_cast<unsigned char *>(std::malloc(size));
  bool ok = lebs && readlebs(t, first, lebs, size);
  if (ok) {
    for (long k = i; k < j; k++)
      if (t.known[k]) lebs[off + k - first * leb] = data[k];
    close(t.r);
    t.wrote = true;
    for (long long k = 0; ok && first + k <= last; k++)
      ok = changeleb(t.w, first + k, lebs + k * leb, leb);
    t.r = reread(t);
  }
  std::free(lebs);
  return ok ? exit_done : exit_trouble;
}
