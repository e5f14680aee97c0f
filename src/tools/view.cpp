#include "view.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "rawio.h"

bool layover(View &v, long long off, const unsigned char *bytes, const unsigned char *known,
             long count, long long size) {
  auto *more = static_cast<Laid *>(std::realloc(v.laid, (v.n + 1) * sizeof *v.laid));
  if (!more) return false;
  v.laid = more;
  auto n = static_cast<std::size_t>(count);
  auto *copy = static_cast<unsigned char *>(std::malloc(2 * n));
  if (!copy) return false;
  std::memcpy(copy, bytes, n);
  std::memcpy(copy + n, known, n);
  v.laid[v.n++] = {off, count, copy, copy + n};
  v.size = size;
  for (long k = count; size >= 0 && k > 0; k--)
    if (known[k - 1]) {
      v.grown = std::max(v.grown, off + k);
      break;
    }
  return true;
}

namespace {

// Where n positions from off end, or the largest offset there is.
long long endof(long long off, long n) {
  return n > LLONG_MAX - off ? LLONG_MAX : off + n;
}

} // namespace

void laidover(const View &v, long long off, unsigned char *bytes, unsigned char *have, long n) {
  for (long k = 0; k < n && k < v.grown - off; k++)
    if (!have[k] && k >= v.size - off) bytes[k] = 0, have[k] = 1;
  for (long i = 0; i < v.n; i++) {
    const Laid &l = v.laid[i];
    // Only where the pattern and the bytes read overlap.
    for (long long at = std::max(off, l.off); at < std::min(endof(off, n), endof(l.off, l.count));
         at++)
      if (l.known[at - l.off]) bytes[at - off] = l.bytes[at - l.off], have[at - off] = 1;
  }
}

void forget(View &v) {
  for (long i = 0; i < v.n; i++) std::free(v.laid[i].bytes);
  std::free(v.laid);
  v = View{};
}

ssize_t readseen(const Target &t, long long base, long delta, unsigned char *buf, std::size_t n) {
  if (!seekto(t.r, base, delta)) return 0;
  ssize_t got = readsome(t.r, buf, n);
  if (!t.view || t.view->n == 0 || got < 0) return got;
  // What the read returned, and after it what the patterns foreseen so far
  // make of the file, as far as it runs on without a gap.
  auto *have = static_cast<unsigned char *>(std::calloc(n ? n : 1, 1));
  if (!have) return -1;
  std::memset(have, 1, static_cast<std::size_t>(got));
  laidover(*t.view, base + delta, buf, have, static_cast<long>(n));
  auto k = static_cast<std::size_t>(got);
  while (k < n && have[k]) k++;
  std::free(have);
  return static_cast<ssize_t>(k);
}
