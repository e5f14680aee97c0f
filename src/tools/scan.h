// The search's rule, one byte at a time: what the search prints, and, apart
// from it, every occurrence a pattern has. Uses nothing of the kit.
#pragma once

#include <cstddef>
#include <cstdint>

// Where the search stands in the file for one pattern: how many of its
// positions the bytes before matched, where that match began, and the
// position of the next byte.
struct Scan {
  long matched = 0;
  long long start = 0, pos = 0;
};
// Takes the next byte: true when it completes an occurrence the search
// prints, which begins at s.start and whose bytes data then holds (its
// wildcard positions take the file's bytes). One forward pass, never
// stepping back: a failed partial match is dropped together with the byte
// that broke it, and a full one starts afresh.
inline bool scanbyte(Scan &s, unsigned char b, unsigned char *data, const unsigned char *set,
                     long count) {
  long long pos = s.pos++;
  if (set[s.matched] && data[s.matched] != b) {
    s.matched = 0;
    return false;
  }
  // Wildcard positions take the file's byte, so the line shows what is there.
  data[s.matched] = b;
  if (s.matched == 0) s.start = pos;
  if (++s.matched < count) return false;
  s.matched = 0;
  return true;
}
// Steps s over the bytes from the start of bytes that cannot begin an
// occurrence, where no match is under way: the count of them. They change
// nothing but the position, so they need no step of their own.
std::size_t scanskip(Scan &s, const unsigned char *bytes, std::size_t n, const unsigned char *data,
                     const unsigned char *set);

// Every occurrence of a pattern, overlapping ones and those inside a failed
// partial match too, counted a byte at a time: for each position of the
// pattern, which bytes it takes, and which positions the bytes so far match
// (shift-and, 64 positions to a word).
struct Every {
  std::uint64_t *takes = nullptr, *state = nullptr;
  long words = 0, count = 0;
  long long found = 0;
};
// Readies e for a pattern of count positions; false when memory runs out.
bool everyready(Every &e, const unsigned char *data, const unsigned char *set, long count);
void everybytes(Every &e, const unsigned char *bytes, std::size_t n);
void everyfree(Every &e);
