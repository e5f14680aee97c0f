#include "hexcodec.h"

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>

char hexc(unsigned v) {
  static const char alph[] = "0123456789abcdef";
  // Masking to four bits keeps any value inside the alphabet.
  return alph[v & 0x0f];
}

namespace {

// The text of every byte value, " xy", as the 24 low bits of a word in
// memory order, so that words can be shifted together and stored whole.
struct Triples {
  std::uint32_t w[256];
};

Triples maketriples() {
  Triples t{};
  for (unsigned b = 0; b < 256; b++) {
    const unsigned char text[4] = {' ', static_cast<unsigned char>(hexc(b >> 4)),
                                   static_cast<unsigned char>(hexc(b)), 0};
    std::memcpy(&t.w[b], text, 4);
  }
  return t;
}

const Triples triples = maketriples();

// Renders n bytes to 3 * n characters. Four bytes at a time go out as two
// stores of 8 and 4 characters; a plain loop does the rest (and all of it
// where words do not hold characters from their low end up).
void render(const unsigned char *in, std::size_t n, char *p) {
  const std::uint32_t *t = triples.w;
  std::size_t i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (; i + 4 <= n; i += 4, p += 12) {
      std::uint64_t head =
          t[in[i]] | std::uint64_t{t[in[i + 1]]} << 24 | std::uint64_t{t[in[i + 2]]} << 48;
      std::uint32_t tail = t[in[i + 2]] >> 16 | t[in[i + 3]] << 8;
      std::memcpy(p, &head, 8);
      std::memcpy(p + 8, &tail, 4);
    }
  }
  for (; i < n; i++, p += 3) std::memcpy(p, &t[in[i]], 3);
}

int xdigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A pair converts as strtol with base 16 would: white space, a sign and
// non-digits all have their say. A "0x" prefix never does: within two
// characters no digit can follow it. Written out rather than called, since
// the C library's strtol brings its whole number scanner into a board binary.
unsigned char pairval(char c0, char c1) {
  int hi = xdigit(c0), lo = xdigit(c1);
  if (hi >= 0 && lo >= 0) return static_cast<unsigned char>(hi << 4 | lo);
  const char text[3] = {c0, c1, 0};
  const char *p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) p++;
  bool neg = *p == '-';
  if (*p == '-' || *p == '+') p++;
  unsigned v = 0;
  for (; xdigit(*p) >= 0; p++) v = v << 4 | static_cast<unsigned>(xdigit(*p));
  return static_cast<unsigned char>(neg ? 0 - v : v);
}

} // namespace

const char *tohex(const unsigned char *bytes, long count) {
  // The buffer is kept while it is large enough. A text is valid only until
  // the next call either way, and the tools render long lines in many calls
  // of one size: some allocators map and unmap a buffer that size each time.
  static char *out;
  static std::size_t room;
  if (count <= 0) return "";
  auto n = static_cast<std::size_t>(count);
  if (n > (SIZE_MAX - 1) / 3) return "";
  if (3 * n + 1 > room) {
    std::free(out);
    out = static_cast<char *>(std::malloc(3 * n + 1));
    room = out ? 3 * n + 1 : 0;
    if (!out) return "";
  }
  render(bytes, n, out);
  out[3 * n] = 0;
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
  HexWalk w{text};
  bool given;
  unsigned char byte;
  const char *first, *last;
  long n = 0;
  while (hexnext(w, given, byte, first, last)) {
    out[n] = given ? byte : 0;
    mask[n++] = given;
  }
  count = n;
  return out;
}

bool hexnext(HexWalk &w, bool &given, unsigned char &byte, const char *&first, const char *&last) {
  for (const char *c = w.at; *c; c++) {
    if (*c == ' ' || *c == ',') continue;
    w.at = c + 1;
    // A full stop is a wildcard at once, even between a pair's characters.
    given = *c != '.';
    first = last = c;
    if (!given) return true;
    if (!w.held) {
      w.held = c;
      continue;
    }
    first = w.held;
    w.held = nullptr;
    byte = pairval(*first, *c);
    return true;
  }
  while (*w.at) w.at++;
  return false;
}
