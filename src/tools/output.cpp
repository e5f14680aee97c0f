#include "output.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hexcodec.h"
#include "types.h"

int finish(int status) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) return exit_trouble;
  return status;
}

[[noreturn]] void outofmemory() {
  std::exit(finish(exit_trouble));
}

// The text is rendered a slice at a time, so a long line needs no buffer three
// times its length and stays in cache. When memory for a slice runs out, the
// line ends where its text stopped, at worst after the position alone.
bool putline(const char *prefix, long long pos, const unsigned char *bytes, long n) {
  constexpr long slice = 16384;
  // The head is "%s%lld" converted by hand: printf costs more than a search
  // that prints a line per byte can afford.
  char head[32];
  std::size_t len = std::strlen(prefix);
  std::memcpy(head, prefix, len);
  char *end = std::to_chars(head + len, head + sizeof head, pos).ptr;
  std::fwrite(head, 1, static_cast<std::size_t>(end - head), stdout);
  bool ok = true;
  for (long done = 0; done < n; done += slice) {
    long k = n - done < slice ? n - done : slice;
    const char *text = tohex(bytes + done, k);
    if (!*text) {
      ok = false;
      break;
    }
    std::fwrite(text, 1, static_cast<std::size_t>(3 * k), stdout);
  }
  std::putchar('\n');
  return ok;
}
