// Checks tohex: three characters per byte, a space and two lowercase digits
// of the byte, and fromhex of the text giving back every byte as given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "hexcodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size) {
  const char *digits = "0123456789abcdef";
  long n = static_cast<long>(size);
  const char *text = tohex(bytes, n);
  if (!text || std::strlen(text) != 3 * size) std::abort();
  for (size_t i = 0; i < size; i++) {
    const char *t = text + 3 * i;
    if (t[0] != ' ' || t[1] != digits[bytes[i] >> 4] || t[2] != digits[bytes[i] & 15]) std::abort();
  }
  long count = -1;
  unsigned char *set = nullptr;
  unsigned char *data = fromhex(text, count, set);
  if (!data || count != n) std::abort();
  for (size_t i = 0; i < size; i++)
    if (set[i] != 1 || data[i] != bytes[i]) std::abort();
  return 0;
}
