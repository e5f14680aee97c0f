// Hex text codec: bytes to the text every output line carries, and
// command-line hex patterns to bytes with a set mask.
#pragma once

// The digit for the low four bits of v, lowercase.
char hexc(unsigned v);

// " xx" for each of the first count bytes, zero-terminated. The text stays
// valid until the next call and is never a null pointer; a count of zero or
// less gives "". For a positive count the text is empty only when memory for
// it could not be had, which callers treat as running out of memory.
const char *tohex(const unsigned char *bytes, long count);

// Parses a hex pattern: two characters per given byte, "." per wildcard,
// spaces and commas skipped anywhere. Stores the number of positions in count
// and the set mask (1 given, 0 wildcard) in set, and returns the data, whose
// wildcard bytes are 0. Both buffers stay valid until the next call; callers
// may write into the data. Returns a null pointer, with count 0, only when
// memory runs out.
unsigned char *fromhex(const char *text, long &count, unsigned char *&set);

// A walk over a hex pattern, one position at a time, as fromhex reads it: at
// is the next character, held the first character of a pair still open.
struct HexWalk {
  const char *at;
  const char *held = nullptr;
};
// Reads the next position of the pattern: a given byte (given true, byte its
// value, first and last its two characters) or a wildcard (given false, first
// and last its full stop). False at the text's end, where held is a last
// character left alone, which is dropped, or null.
bool hexnext(HexWalk &w, bool &given, unsigned char &byte, const char *&first, const char *&last);
