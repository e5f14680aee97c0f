// The tools' output lines and how a run ends: standard output checked for
// what it lost, and memory running out. Uses: the codec.
#pragma once

// Prints one line: prefix, position and the hex text of n bytes. False when
// memory for its text runs out.
bool putline(const char *prefix, long long pos, const unsigned char *bytes, long n);
// The run's status, or trouble where standard output lost what it was given.
int finish(int status);
[[noreturn]] void outofmemory();
