#include "ubi.h"

#include <cstdint>
#include <cstdlib>
#include <sys/ioctl.h>
#include <unistd.h>

#include "rawio.h"

Refusal planvolume(const File &f) {
  // A static volume's data is only replaced whole, by a volume update: UBI
  // refuses to change a LEB of it.
  return f.kind == Kind::fixedvolume ? Refusal::fixed : Refusal::none;
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
  auto leb = static_cast<std::size_t>(t.file.leb);
  if (t.r < 0) return false;
  for (std::size_t at = 0; at < size; at += leb)
    if (!seekto(t.r, first * t.file.leb, static_cast<long>(at)) ||
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
  long leb = t.file.leb;
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
    t.r = reopen(t.path, t.file.st);
  }
  std::free(lebs);
  return ok ? exit_done : exit_trouble;
}
