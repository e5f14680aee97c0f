// The reading of the tools' arguments: number arguments, and the file
// argument's part in choosing the mode. Uses nothing of the kit.
#pragma once

// A number argument as it is read: its value, its base (8, 10 or 16), where
// its digits begin (after a "0x"; an octal number's leading 0 is a digit),
// the character where reading stopped (the terminator when it read all of
// it), and whether the value was clamped to the 64-bit range.
struct Number {
  long long value;
  unsigned base;
  const char *digits, *stop;
  bool clamped;
};
Number readnumber(const char *s);
// The last component of a path: what follows its last slash.
const char *lastpart(const char *path);
// A file argument whose first three characters are "mod" patches.
bool patchmode(const char *path);
