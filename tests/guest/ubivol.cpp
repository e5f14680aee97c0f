// Makes and fills UBI volumes for the emulated ARM system, whose initramfs has
// no UBI tools:
//   ubivol mkvol /dev/ubiN NAME BYTES dynamic|static
//   ubivol update /dev/ubiN_M FILE
// mkvol makes a volume of at least BYTES (whole erase blocks); update replaces
// a volume's data with the bytes of FILE, the only way a static volume takes
// data. Exit status 0 when done, 1 otherwise, with the failed step on standard
// error.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mtd/ubi-user.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool fail(const char *what) {
  std::perror(what);
  return false;
}

bool mkvol(const char *dev, const char *name, long long bytes, const char *type) {
  ubi_mkvol_req req;
  std::memset(&req, 0, sizeof req);
  req.vol_id = UBI_VOL_NUM_AUTO;
  req.alignment = 1;
  req.bytes = bytes;
  req.vol_type = std::strcmp(type, "static") == 0 ? UBI_STATIC_VOLUME : UBI_DYNAMIC_VOLUME;
  req.name_len = static_cast<short>(std::strlen(name));
  std::snprintf(req.name, sizeof req.name, "%s", name);
  int fd = open(dev, O_RDONLY);
  if (fd < 0) return fail(dev);
  return ioctl(fd, UBI_IOCMKVOL, &req) == 0 || fail("UBI_IOCMKVOL");
}

// The update goes to the kernel in one write: the volume counts as damaged
// until all of its bytes have arrived.
bool update(const char *vol, const char *file) {
  int in = open(file, O_RDONLY), out = open(vol, O_WRONLY);
  struct stat st;
  if (in < 0 || fstat(in, &st) != 0) return fail(file);
  if (out < 0) return fail(vol);
  auto *bytes = static_cast<char *>(std::malloc(st.st_size + 1));
  long long size = st.st_size;
  if (!bytes || read(in, bytes, size) != size) return fail(file);
  if (ioctl(out, UBI_IOCVOLUP, &size) != 0) return fail("UBI_IOCVOLUP");
  if (write(out, bytes, size) != size) return fail("write");
  return close(out) == 0 || fail("close");
}

} // namespace

int main(int argc, char **argv) {
  bool done = false;
  if (argc == 6 && std::strcmp(argv[1], "mkvol") == 0)
    done = mkvol(argv[2], argv[3], std::atoll(argv[4]), argv[5]);
  else if (argc == 4 && std::strcmp(argv[1], "update") == 0)
    done = update(argv[2], argv[3]);
  else
    std::fprintf(stderr, "usage: ubivol mkvol /dev/ubiN NAME BYTES dynamic|static\n"
                         "       ubivol update /dev/ubiN_M FILE\n");
  return done ? 0 : 1;
}
