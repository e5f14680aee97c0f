// What a read of a patch's file sees: the file alone in a real run, and in
// an explanation the file with the patterns foreseen so far laid over it.
// Uses: rawio, types.h.
#pragma once

#include <cstddef>
#include <sys/types.h>

#include "types.h"

// Lays a foreseen pattern over the view: count positions at off, those whose
// known byte is 1, over a regular file of size bytes, which grows past its
// end (-1 for a file that cannot grow). False when memory runs out.
bool layover(View &v, long long off, const unsigned char *bytes, const unsigned char *known,
             long count, long long size);
// Lays the view's patterns over n bytes at off, whatever a read found there:
// have[k] says that byte k is known.
void laidover(const View &v, long long off, unsigned char *bytes, unsigned char *have, long n);
// Releases what the view holds.
void forget(View &v);
// One read of up to n bytes at base + delta through t.r, as readat reads,
// with t.view laid over it where there is one: then the count runs on past
// the bytes read as far as the view knows the bytes without a gap.
ssize_t readseen(const Target &t, long long base, long delta, unsigned char *buf, std::size_t n);
