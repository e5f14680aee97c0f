# 32-bit PowerPC, big-endian. Debian has no musl for it: musl is built from
# Debian's source, with the 64-bit long double that musl needs on PowerPC.
set(VARNOCK_TRIPLET powerpc-linux-gnu)
set(VARNOCK_DEB_ARCH powerpc)
set(VARNOCK_QEMU ppc)
set(VARNOCK_MUSL source)
set(VARNOCK_MUSL_CFLAGS -mlong-double-64)
# The package check also runs the tools on an e500v2, which has no classic FPU.
set(VARNOCK_PACKAGE_CPUS e500v2)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
