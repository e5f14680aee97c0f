// Linked into statically linked test programs only. GoogleTest can stream its
// results to a network peer, which no run here asks for; pulled from a static
// C library, the name resolver it would use brings a link warning that it
// needs the shared libraries at run time. These stand in for it.
#include <netdb.h>

extern "C" int getaddrinfo(const char *, const char *, const struct addrinfo *,
                           struct addrinfo **) {
  return EAI_FAIL;
}

extern "C" void freeaddrinfo(struct addrinfo *) {}
