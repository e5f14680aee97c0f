#include "hexcodec.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

char hexc(unsigned v) {
  static const char alph[] = "0123456789abcdef";
  // Masking to four bits keeps any value inside the alphabet.
  return alph[v & 0x0f];
}

namespace {

// Both digits of every byte, so that a long run costs one lookup per byte.
struct Pairs {
  char d[256][2];
};

Pairs makepairs() {
  Pairs t{};
  for (unsigned b = 0; b < 256; b++) {
    t.d[b][0] = hexc(b >> 4);
    t.d[b][1] = hexc(b);
  }
  return t;
}

const Pairs pairs = makepairs();

int xdigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A pair converts as strtol with base 16 would: white space, a sign, "0x"
// and non-digits all have their say. Two digits, the common case, skip it.
unsigned char pairval(char c0, char c1) {
  int hi = xdigit(c0), lo = xdigit(c1);
  if (hi >= 0 && lo >= 0) return static_cast<unsigned char>(hi << 4 | lo);
  const char text[3] = {c0, c1, 0};
  return static_cast<unsigned char>(std::strtol(text, nullptr, 16));
}

} // namespace

const char *tohex(const unsigned char *bytes, long count) {
  static char *out;
  std::free(out);
  out = nullptr;
  if (count <= 0) return "";
  auto n = static_cast<std::size_t>(count);
  if (n > (SIZE_MAX - 1) / 3) return "";
  out = static_cast<char *>(std::malloc(3 * n + 1));
  if (!out) return "";
  char *p = out;
  for (std::size_t i = 0; i < n; i++, p += 3) {
    p[0] = ' ';
    std::memcpy(p + 1, pairs.d[bytes[i]], 2);
  }
  *p = 0;
  return out;
}

unsigned char *fromhex(const char *text, long &count, unsigned char *&set) {
  static unsigned char *out, *mask;
  std::free(out);
  std::free(mask);
  // Every position takes at least one character, so the text's length bounds
  // the count and both buffers are sized once.
  std::size_t room = std::strlen(text) + 1;
  out = static_cast<unsigned char *>(std::malloc(room));
  mask = static_cast<unsigned char *>(std::malloc(room));
  count = 0;
  set = mask;
  if (!out || !mask) {
    std::free(out);
    std::free(mask);
    out = mask = nullptr;
    set = nullptr;
    return nullptr;
  }
  char pair[2];
  unsigned held = 0;
  long n = 0;
  for (const char *c = text; *c; c++) {
    if (*c == ' ' || *c == ',') continue;
    if (*c == '.') {
      out[n] = 0;
      mask[n++] = 0;
      continue;
    }
    pair[held++] = *c;
    if (held == 2) {
      held = 0;
      out[n] = pairval(pair[0], pair[1]);
      mask[n++] = 1;
    }
  }
  count = n;
  return out;
}
