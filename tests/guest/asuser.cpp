// Runs a command as another user for the emulated ARM system, whose busybox
// cannot look users up:
//   asuser UID COMMAND [ARG]...
// The group is set to UID too. Exit status that of the command, or 126 when
// it cannot be started as that user, with the failed step on standard error.
#include <cstdio>
#include <cstdlib>
#include <grp.h>
#include <unistd.h>

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: asuser UID COMMAND [ARG]...\n");
    return 126;
  }
  auto id = static_cast<unsigned>(std::atoi(argv[1]));
  if (setgroups(0, nullptr) != 0 || setgid(id) != 0 || setuid(id) != 0) {
    std::perror("asuser");
    return 126;
  }
  execv(argv[2], argv + 2);
  std::perror(argv[2]);
  return 126;
}
