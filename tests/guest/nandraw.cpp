// Lays pages of raw NAND flash for the emulated ARM system, whose initramfs
// has no MTD tools, so that the device cases meet pages that their ECC
// corrects, pages it cannot correct, and pages whose ECC bytes are
// programmed. Offsets are the partition's own, in bytes, at page starts:
//   nandraw copy /dev/mtdN FROM TO [BYTE:XOR]...
//   nandraw lay /dev/mtdN TO BYTE OOB
//   nandraw erase /dev/mtdN OFFSET
// copy reads the page at FROM as the flash holds it, data and OOB, without
// error correction, XORs each BYTE of its data with XOR (both hex) and writes
// it so at TO: the ECC bytes of the clean data over data with flipped bits.
// lay writes at TO a page whose data bytes are all BYTE and whose OOB is the
// hex text OOB. erase erases the erase block at OFFSET. Exit status 0 when
// done, 1 otherwise, with the failed step on standard error.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

bool fail(const char *what) {
  std::perror(what);
  return false;
}

struct Page {
  unsigned char data[4096], oob[256];
  mtd_info_user info;
};

// A page's data and OOB as the flash holds them, without error correction:
// MEMREAD with a mtd_read_req, or MEMWRITE with a mtd_write_req, whose first
// fields are the same.
template <class Request>
bool raw(int fd, unsigned long request, long long at, const Page &p, const char *what) {
  Request req{};
  req.start = at;
  req.len = p.info.writesize;
  req.ooblen = p.info.oobsize;
  req.usr_data = reinterpret_cast<unsigned long>(p.data);
  req.usr_oob = reinterpret_cast<unsigned long>(p.oob);
  req.mode = MTD_OPS_RAW;
  return ioctl(fd, request, &req) == 0 || fail(what);
}

bool rawread(int fd, long long at, Page &p) {
  return raw<mtd_read_req>(fd, MEMREAD, at, p, "MEMREAD");
}

bool rawwrite(int fd, long long at, const Page &p) {
  return raw<mtd_write_req>(fd, MEMWRITE, at, p, "MEMWRITE");
}

bool open_page(const char *dev, int &fd, Page &p) {
  fd = open(dev, O_RDWR);
  if (fd < 0) return fail(dev);
  if (ioctl(fd, MEMGETINFO, &p.info) != 0) return fail("MEMGETINFO");
  if (p.info.writesize > sizeof p.data || p.info.oobsize > sizeof p.oob)
    return fail("page too large");
  return true;
}

bool copy(const char *dev, long long from, long long to, int nflips, char **flips) {
  int fd;
  static Page p;
  if (!open_page(dev, fd, p) || !rawread(fd, from, p)) return false;
  for (int i = 0; i < nflips; i++) {
    unsigned byte, mask;
    if (std::sscanf(flips[i], "%x:%x", &byte, &mask) != 2 || byte >= p.info.writesize)
      return fail(flips[i]);
    p.data[byte] ^= static_cast<unsigned char>(mask);
  }
  return rawwrite(fd, to, p);
}

bool lay(const char *dev, long long to, const char *byte, const char *oob) {
  int fd;
  static Page p;
  if (!open_page(dev, fd, p)) return false;
  std::memset(p.data, static_cast<int>(std::strtoul(byte, nullptr, 16)), p.info.writesize);
  if (std::strlen(oob) != 2 * p.info.oobsize) return fail("OOB of the wrong length");
  for (unsigned i = 0; i < p.info.oobsize; i++) {
    char pair[3] = {oob[2 * i], oob[2 * i + 1], 0};
    p.oob[i] = static_cast<unsigned char>(std::strtoul(pair, nullptr, 16));
  }
  return rawwrite(fd, to, p);
}

bool erase(const char *dev, long long at) {
  int fd;
  static Page p;
  if (!open_page(dev, fd, p)) return false;
  erase_info_user e{static_cast<__u32>(at), p.info.erasesize};
  return ioctl(fd, MEMERASE, &e) == 0 || fail("MEMERASE");
}

} // namespace

int main(int argc, char **argv) {
  bool done = false;
  if (argc >= 5 && std::strcmp(argv[1], "copy") == 0)
    done = copy(argv[2], std::atoll(argv[3]), std::atoll(argv[4]), argc - 5, argv + 5);
  else if (argc == 6 && std::strcmp(argv[1], "lay") == 0)
    done = lay(argv[2], std::atoll(argv[3]), argv[4], argv[5]);
  else if (argc == 4 && std::strcmp(argv[1], "erase") == 0)
    done = erase(argv[2], std::atoll(argv[3]));
  else
    std::fprintf(stderr, "usage: nandraw copy /dev/mtdN FROM TO [BYTE:XOR]...\n"
                         "       nandraw lay /dev/mtdN TO BYTE OOB\n"
                         "       nandraw erase /dev/mtdN OFFSET\n");
  return done ? 0 : 1;
}
