# 32-bit ARM, Debian's armhf (ARMv7, hard float), linked against the C library.
set(VARNOCK_TRIPLET arm-linux-gnueabihf)
set(VARNOCK_DEB_ARCH armhf)
include(${CMAKE_CURRENT_LIST_DIR}/arm-cross.cmake)
