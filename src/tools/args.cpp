#include "args.h"

#include <climits>
#include <cstring>

namespace {

int digitval(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

bool isspacec(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

} // namespace

// Reads like strtoll with base 0, but the same on every C library: hex after
// "0x", octal after "0", decimal otherwise, and never a "0b" binary prefix.
// Clamped to the 64-bit range so that offsets past 2 GiB work on 32-bit
// targets.
Number readnumber(const char *s) {
  while (isspacec(*s)) s++;
  bool neg = *s == '-';
  if (*s == '+' || *s == '-') s++;
  unsigned base = 10;
  if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X') && digitval(s[2]) < 16) {
    base = 16;
    s += 2;
  } else if (s[0] == '0') {
    base = 8;
  }
  const char *digits = s;
  unsigned long long v = 0;
  unsigned long long limit = neg ? 1ULL + LLONG_MAX : LLONG_MAX;
  bool over = false;
  for (unsigned d; (d = static_cast<unsigned>(digitval(*s))) < base; s++) {
    if (v > (limit - d) / base)
      over = true;
    else
      v = v * base + d;
  }
  if (over) return {neg ? LLONG_MIN : LLONG_MAX, base, digits, s, true};
  return {neg ? static_cast<long long>(0 - v) : static_cast<long long>(v), base, digits, s, false};
}

const char *lastpart(const char *path) {
  const char *slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

bool patchmode(const char *path) {
  return std::strncmp(path, "mod", 3) == 0;
}
