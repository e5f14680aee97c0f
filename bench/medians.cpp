// Times two commands, run in turn the given number of times each, and prints
// the median wall time of each in milliseconds and their ratio, for the
// emulated ARM system, whose busybox has no clock finer than 10 ms. What the
// commands print goes to /dev/null.
//   medians RUNS COMMAND... -- COMMAND...
// Exit status 0 when every run of both ended by itself with the status it
// had the first time, 1 otherwise: the commands timed may report trouble,
// as a search of flash with a bad block does, but always the same.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Wall time of one run in ms, or -1 when it did not end by itself with the
// given status (-1: the status of the first run, learned into it).
double timed(char **argv, int &want) {
  double start = now();
  pid_t pid = fork();
  if (pid == 0) {
    // Only the times are printed.
    int null = open("/dev/null", O_WRONLY);
    if (null < 0 || dup2(null, 1) < 0) _exit(127);
    execv(argv[0], argv);
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) == 127) return -1;
  if (want < 0) want = WEXITSTATUS(status);
  return WEXITSTATUS(status) == want ? now() - start : -1;
}

int compare(const void *a, const void *b) {
  double x = *static_cast<const double *>(a), y = *static_cast<const double *>(b);
  return (x > y) - (x < y);
}

double median(double *v, int n) {
  std::qsort(v, n, sizeof *v, compare);
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

int main(int argc, char **argv) {
  int split = 2;
  while (split < argc && std::strcmp(argv[split], "--") != 0) split++;
  constexpr int most = 1000;
  int runs = argc > 1 ? std::atoi(argv[1]) : 0;
  if (runs < 1 || runs > most || split == 2 || split + 1 >= argc) {
    std::fprintf(stderr, "usage: medians RUNS COMMAND... -- COMMAND...\n");
    return 1;
  }
  argv[split] = nullptr;
  static double a[most], b[most];
  int wanta = -1, wantb = -1;
  for (int i = 0; i < runs; i++) {
    a[i] = timed(argv + 2, wanta);
    b[i] = timed(argv + split + 1, wantb);
    if (a[i] < 0 || b[i] < 0) return 1;
  }
  double ma = median(a, runs), mb = median(b, runs);
  std::printf("%.2f ms %.2f ms ratio %.2f\n", ma, mb, ma / mb);
  return 0;
}
