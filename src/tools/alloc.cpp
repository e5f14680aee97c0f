// The memory of a board binary, in place of the C library's allocator: a
// board binary stays within 64 KiB, and musl's own allocator takes 9 to 11
// KiB of it. The tools ask for few blocks, in one thread, and give them back
// mostly whole: small blocks come in powers of two from chunks mapped 32 KiB
// at a time, each freed one kept on a list for its size; larger ones are
// mappings of their own, grown by mremap, so that a comparison that grows a
// line a byte at a time copies nothing. Linked only into board builds; the
// host builds keep their C library's. Uses nothing of the kit.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sys/mman.h>

namespace {

// Each block begins with its capacity, header included, and keeps what
// follows aligned as the C library's own allocator does.
constexpr std::size_t header = 16;
constexpr unsigned classes = 9; // 32 bytes to 8 KiB
constexpr std::size_t smallest = 32, largest = smallest << (classes - 1);
constexpr std::size_t chunk = 32 << 10, page = 4096;

struct Freed {
  Freed *next;
};

struct Heap {
  Freed *lists[classes];
  char *next, *end; // what is left of the chunk being cut up
};

Heap &heap() {
  static Heap h;
  return h;
}

std::size_t &capacity(void *p) {
  return *reinterpret_cast<std::size_t *>(static_cast<char *>(p) - header);
}

void *mapped(std::size_t n) {
  void *p = mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) {
    errno = ENOMEM;
    return nullptr;
  }
  return p;
}

// A block of its own mapping, for n bytes and the header.
void *large(std::size_t n) {
  if (n > SIZE_MAX - header - page) return nullptr;
  std::size_t size = (n + header + page - 1) & ~(page - 1);
  auto *p = static_cast<char *>(mapped(size));
  if (!p) return nullptr;
  *reinterpret_cast<std::size_t *>(p) = size;
  return p + header;
}

void *small(std::size_t n) {
  unsigned c = 0;
  while ((smallest << c) < n + header) c++;
  Heap &h = heap();
  if (Freed *f = h.lists[c]) {
    h.lists[c] = f->next;
    return f;
  }
  std::size_t size = smallest << c;
  if (static_cast<std::size_t>(h.end - h.next) < size) {
    // What is left of the old chunk is given up: it is less than one block.
    h.next = static_cast<char *>(mapped(chunk));
    h.end = h.next ? h.next + chunk : nullptr;
    if (!h.next) return nullptr;
  }
  char *p = h.next;
  h.next += size;
  *reinterpret_cast<std::size_t *>(p) = size;
  return p + header;
}

} // namespace

extern "C" {

void *malloc(std::size_t n) {
  return n <= largest - header ? small(n) : large(n);
}

void free(void *p) {
  if (!p) return;
  std::size_t size = capacity(p);
  if (size > largest) {
    munmap(static_cast<char *>(p) - header, size);
    return;
  }
  unsigned c = 0;
  while ((smallest << c) < size) c++;
  auto *f = static_cast<Freed *>(p);
  f->next = heap().lists[c];
  heap().lists[c] = f;
}

void *realloc(void *p, std::size_t n) {
  if (!p) return malloc(n);
  std::size_t size = capacity(p);
  if (n <= size - header) return p;
  if (size > largest && n < SIZE_MAX / 2) {
    // Half as much again as asked: a line grown a byte at a time moves
    // seldom.
    std::size_t want = (n + n / 2 + header + page - 1) & ~(page - 1);
    void *moved = mremap(static_cast<char *>(p) - header, size, want, MREMAP_MAYMOVE);
    if (moved == MAP_FAILED) {
      errno = ENOMEM;
      return nullptr;
    }
    *static_cast<std::size_t *>(moved) = want;
    return static_cast<char *>(moved) + header;
  }
  void *q = malloc(n);
  if (!q) return nullptr;
  std::memcpy(q, p, size - header);
  free(p);
  return q;
}

void *calloc(std::size_t count, std::size_t n) {
  if (n && count > SIZE_MAX / n) {
    errno = ENOMEM;
    return nullptr;
  }
  void *p = malloc(count * n);
  if (p) std::memset(p, 0, count * n);
  return p;
}

} // extern "C"
