// The comparison's rule, one step at a time: where the two files agree and
// where a difference run begins and ends. Uses nothing of the kit.
#pragma once

#include <cstddef>

// Where the walk stands: in a run where the files agree or one where they
// differ, where that run began, and the position of the next step.
struct Walk {
  bool agree = true;
  long long start = 0, pos = 0;
};
// One step, with the byte each file gave, or none where it has ended: true
// when the step turns the walk from agreeing to differing or back, which
// ends the run before it (begun at what w.start held); w.agree then says
// which kind of run the step is in. A position where one file has ended
// differs.
bool walkstep(Walk &w, bool hasa, unsigned char a, bool hasb, unsigned char b);
// Steps w over the bytes of a and b that agree, from their start, while it
// is in a run where they agree: the count of steps taken. They change
// nothing but the position, so they need no step of their own.
std::size_t walksame(Walk &w, const unsigned char *a, const unsigned char *b, std::size_t n);
