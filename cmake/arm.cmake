# 32-bit ARM, Debian's armhf (ARMv7, hard float), linked against glibc.
set(VARNOCK_TRIPLET arm-linux-gnueabihf)
set(VARNOCK_DEB_ARCH armhf)
set(VARNOCK_QEMU arm)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
