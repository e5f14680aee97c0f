# 64-bit ARM, ARMv8-A.
set(VARNOCK_TRIPLET aarch64-linux-gnu)
set(VARNOCK_DEB_ARCH arm64)
set(VARNOCK_QEMU aarch64)
set(VARNOCK_MUSL aarch64-linux-musl)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
