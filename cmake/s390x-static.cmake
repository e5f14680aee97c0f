# 64-bit IBM Z, big-endian, z196.
set(VARNOCK_TRIPLET s390x-linux-gnu)
set(VARNOCK_DEB_ARCH s390x)
set(VARNOCK_QEMU s390x)
set(VARNOCK_MUSL s390x-linux-musl)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
