// The floor of the tools' read discipline: one read(2) of one byte at a time
// through one file, or through two files in step, doing nothing else.
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char **argv) {
  if (argc < 2) return 2;
  int a = open(argv[1], O_RDONLY);
  int b = argc > 2 ? open(argv[2], O_RDONLY) : -1;
  unsigned char ca, cb;
  unsigned long sum = 0; // keeps the loop from being optimised away
  for (;;) {
    ssize_t ra = read(a, &ca, 1);
    ssize_t rb = b >= 0 ? read(b, &cb, 1) : 0;
    if (ra <= 0 && rb <= 0) break;
    sum += ca + cb;
  }
  return sum == 1 ? 1 : 0;
}
