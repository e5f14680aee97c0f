# 64-bit PowerPC, little-endian, POWER8.
set(VARNOCK_TRIPLET powerpc64le-linux-gnu)
set(VARNOCK_DEB_ARCH ppc64el)
set(VARNOCK_QEMU ppc64le)
set(VARNOCK_MUSL powerpc64le-linux-musl)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
