#include "flash.h"

#include <cstdint>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>

bool isflash(const struct stat &st) {
  return S_ISCHR(st.st_mode) && major(st.st_rdev) == 90;
}

namespace {

// MEMGETINFO's answer, the kernel's struct mtd_info_user: no C library has a
// header for it.
struct MtdInfo {
  std::uint8_t type;
  std::uint32_t flags, size, erasesize, writesize, oobsize;
  std::uint64_t padding;
};
static_assert(sizeof(MtdInfo) == 32, "the kernel's layout");
constexpr std::uint32_t mtd_no_erase = 0x1000;

} // namespace

// NAND and NOR flash take only writes that clear bits; RAM and NVRAM behind
// the same driver take any. Where the driver does not say, it is flash.
bool needserase(int w) {
  MtdInfo info{};
  unsigned long request = _IOR('M', 1, MtdInfo); // an int to musl, unsigned long to glibc
  return ioctl(w, request, &info) != 0 || !(info.flags & mtd_no_erase);
}

namespace {

// Reads each stretch from the flash, one read each. Before the write, the
// flash must hold every bit that the stretch sets: programming only clears
// bits, and a page written again without an erase ends as the AND of old and
// new bytes. After it, the flash must hold the stretch: programming a page
// that was not erased can spoil its error-correction bytes. A short or failed
// read fails either check.
bool flashholds(Target &t, long long off, const unsigned char *data, long count, bool written) {
  for (long i = 0, j = 0; stretch(t.known, count, i, j); i = j) {
    auto n = static_cast<std::size_t>(j - i);
    if (!seekto(t.r, off, i) || readsome(t.r, t.old, n) != static_cast<ssize_t>(n)) return false;
    for (std::size_t k = 0; k < n; k++) {
      unsigned char want = data[i + k], has = t.old[k];
      if (written ? has != want : (want & ~has) != 0) return false;
    }
  }
  return true;
}

} // namespace

// Flash is checked where it can be read; a write-only device is just written.
int writeflash(Target &t, long long off, const unsigned char *data, long count) {
  if (t.r < 0) return writeknown(t, off, data, count);
  if (t.erase && !flashholds(t, off, data, count, false)) return exit_trouble;
  int status = writeknown(t, off, data, count);
  if (status == exit_done && !flashholds(t, off, data, count, true)) return exit_trouble;
  return status;
}
