# 32-bit ARM, Debian's armel (ARMv5TE, soft float), linked against glibc.
set(VARNOCK_TRIPLET arm-linux-gnueabi)
set(VARNOCK_DEB_ARCH armel)
set(VARNOCK_QEMU arm)
set(VARNOCK_QEMU_CPU arm926)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
