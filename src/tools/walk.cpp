#include "walk.h"

#include <cstring>

bool walkstep(Walk &w, bool hasa, unsigned char a, bool hasb, unsigned char b) {
  bool same = hasa && hasb && a == b;
  bool turns = same != w.agree;
  if (turns) {
    w.agree = same;
    w.start = w.pos;
  }
  w.pos++;
  return turns;
}

std::size_t walksame(Walk &w, const unsigned char *a, const unsigned char *b, std::size_t n) {
  if (!w.agree) return 0;
  // Whole blocks that agree first, then the bytes up to the first that differs.
  constexpr std::size_t block = 256;
  std::size_t k = 0;
  while (k + block <= n && std::memcmp(a + k, b + k, block) == 0) k += block;
  while (k < n && a[k] == b[k]) k++;
  w.pos += static_cast<long long>(k);
  return k;
}
