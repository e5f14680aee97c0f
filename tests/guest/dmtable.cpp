// Makes a device-mapper device from table lines, as `dmsetup create` does,
// or gives one that exists a new table, as `dmsetup reload` and `resume` do,
// for the emulated ARM system, whose initramfs has no dmsetup:
//   dmtable NAME 'START LENGTH TARGET ARGS' ...
// (sectors of 512 bytes). The device appears as /dev/dm-N. Exit status 0 when
// the table is live, 1 otherwise, with the failed step on standard error.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/dm-ioctl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// The header and what follows it, in one buffer the kernel reads and writes.
union Request {
  dm_ioctl head;
  char bytes[16384];
};

void start(Request &req, const char *name) {
  std::memset(&req, 0, sizeof req);
  req.head.version[0] = DM_VERSION_MAJOR;
  req.head.data_size = sizeof req;
  req.head.data_start = sizeof req.head;
  std::snprintf(req.head.name, sizeof req.head.name, "%s", name);
}

// Appends one target after the header: its fixed part, then its arguments,
// the next target starting on an 8-byte boundary.
bool addtarget(Request &req, unsigned &at, const char *line) {
  auto *target = reinterpret_cast<dm_target_spec *>(req.bytes + at);
  unsigned long long first, length;
  int used = 0;
  if (std::sscanf(line, "%llu %llu %15s %n", &first, &length, target->target_type, &used) < 3)
    return false;
  target->sector_start = first;
  target->length = length;
  char *args = reinterpret_cast<char *>(target + 1);
  std::size_t room = sizeof req - at - sizeof *target;
  if (std::strlen(line + used) + 1 > room) return false;
  std::strcpy(args, line + used);
  unsigned next = (sizeof *target + std::strlen(args) + 1 + 7) & ~7u;
  target->next = next;
  at += next;
  req.head.target_count++;
  return true;
}

bool call(int control, unsigned long request, Request &req, const char *what) {
  if (ioctl(control, request, &req) == 0) return true;
  std::perror(what);
  return false;
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: dmtable NAME 'START LENGTH TARGET ARGS' ...\n");
    return 1;
  }
  int control = open("/dev/mapper/control", O_RDWR);
  if (control < 0) {
    std::perror("/dev/mapper/control");
    return 1;
  }
  static Request req;
  start(req, argv[1]);
  bool made = ioctl(control, DM_DEV_CREATE, &req) == 0;
  if (!made && errno != EBUSY) {
    std::perror("create");
    return 1;
  }
  start(req, argv[1]);
  unsigned at = sizeof req.head;
  for (int i = 2; i < argc; i++)
    if (!addtarget(req, at, argv[i])) {
      std::fprintf(stderr, "bad table line: %s\n", argv[i]);
      return 1;
    }
  if (!call(control, DM_TABLE_LOAD, req, "load")) return 1;
  // A device that was live already is suspended, its writes flushed, before
  // the new table takes over.
  start(req, argv[1]);
  req.head.flags = DM_SUSPEND_FLAG;
  if (!made && !call(control, DM_DEV_SUSPEND, req, "suspend")) return 1;
  start(req, argv[1]); // without DM_SUSPEND_FLAG: resume, making the table live
  return call(control, DM_DEV_SUSPEND, req, "resume") ? 0 : 1;
}
