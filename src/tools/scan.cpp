#include "scan.h"

#include <cstdlib>
#include <cstring>

std::size_t scanskip(Scan &s, const unsigned char *bytes, std::size_t n, const unsigned char *data,
                     const unsigned char *set) {
  if (s.matched != 0 || !set[0]) return 0;
  const void *next = std::memchr(bytes, data[0], n);
  std::size_t k =
      next ? static_cast<std::size_t>(static_cast<const unsigned char *>(next) - bytes) : n;
  s.pos += static_cast<long long>(k);
  return k;
}

bool everyready(Every &e, const unsigned char *data, const unsigned char *set, long count) {
  e.count = count;
  e.words = (count + 63) / 64;
  auto n = static_cast<std::size_t>(e.words);
  e.takes = static_cast<std::uint64_t *>(std::calloc(257 * n, sizeof *e.takes));
  if (!e.takes) return false;
  e.state = e.takes + 256 * n;
  for (long k = 0; k < count; k++)
    for (unsigned b = 0; b < 256; b++)
      if (!set[k] || data[k] == b) e.takes[b * n + k / 64] |= std::uint64_t{1} << (k % 64);
  return true;
}

void everybytes(Every &e, const unsigned char *bytes, std::size_t n) {
  auto words = static_cast<std::size_t>(e.words);
  std::uint64_t last = std::uint64_t{1} << ((e.count - 1) % 64);
  // A byte that the first position does not take leaves a pattern of one
  // word where no match is under way as it was: such bytes are passed over.
  int first = -1;
  for (unsigned b = 0; b < 256 && words == 1; b++)
    if (e.takes[b] & 1) first = first == -1 ? static_cast<int>(b) : 256;
  for (std::size_t i = 0; i < n; i++) {
    if (e.state[0] == 0 && first >= 0 && first < 256 && bytes[i] != first) {
      const void *next = std::memchr(bytes + i, first, n - i);
      if (!next) break;
      i = static_cast<std::size_t>(static_cast<const unsigned char *>(next) - bytes);
    }
    const std::uint64_t *takes = e.takes + bytes[i] * words;
    // Each position matched so far moves on by one, and a new match may
    // begin at every byte.
    std::uint64_t carry = 1;
    for (std::size_t w = 0; w < words; w++) {
      std::uint64_t next = e.state[w] >> 63;
      e.state[w] = (e.state[w] << 1 | carry) & takes[w];
      carry = next;
    }
    if (e.state[words - 1] & last) e.found++;
  }
}

void everyfree(Every &e) {
  std::free(e.takes);
  e = Every{};
}
