// Checks fromhex against a model written apart from it: the count formula,
// the set mask, every given byte, and the round trip through tohex.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "hexcodec.h"

namespace {

bool space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int digit(char c) {
  const std::string lower = "0123456789abcdef", upper = "0123456789ABCDEF";
  for (int i = 0; i < 16; i++)
    if (c == lower[i] || c == upper[i]) return i;
  return -1;
}

// strtol with base 16, written out: white space, sign, "0x" only when a digit
// follows it, then digits.
unsigned char convert(const std::string &s) {
  size_t i = 0;
  while (i < s.size() && space(s[i])) i++;
  bool neg = i < s.size() && s[i] == '-';
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) i++;
  if (i + 2 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X') &&
      digit(s[i + 2]) >= 0)
    i += 2;
  long v = 0;
  for (; i < s.size() && digit(s[i]) >= 0; i++) v = v * 16 + digit(s[i]);
  return static_cast<unsigned char>(neg ? -v : v);
}

[[noreturn]] void fail() {
  std::abort();
}

void check(const std::string &text) {
  std::vector<int> want; // -1 for a wildcard
  long others = 0, stops = 0;
  std::string pair;
  for (char c : text) {
    if (c == ' ' || c == ',') continue;
    if (c == '.') {
      stops++;
      want.push_back(-1);
      continue;
    }
    others++;
    pair += c;
    if (pair.size() == 2) {
      want.push_back(convert(pair));
      pair.clear();
    }
  }
  long count = -1;
  unsigned char *set = nullptr;
  unsigned char *data = fromhex(text.c_str(), count, set);
  if (!data || count != stops + others / 2 || count != static_cast<long>(want.size())) fail();
  for (long i = 0; i < count; i++) {
    if (set[i] > 1 || (set[i] == 0) != (want[i] < 0)) fail();
    if (want[i] >= 0 && data[i] != want[i]) fail();
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size) {
  std::string text(reinterpret_cast<const char *>(bytes), size);
  text = text.substr(0, text.find('\0'));
  check(text);
  return 0;
}
