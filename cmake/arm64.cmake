# 64-bit ARM, Debian's arm64, linked against glibc.
set(VARNOCK_TRIPLET aarch64-linux-gnu)
set(VARNOCK_DEB_ARCH arm64)
set(VARNOCK_QEMU aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
