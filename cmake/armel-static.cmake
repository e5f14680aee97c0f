# 32-bit ARM, ARMv5TE, soft float: ARMv5, ARMv6 and ARMv7 boards.
set(VARNOCK_TRIPLET arm-linux-gnueabi)
set(VARNOCK_DEB_ARCH armel)
set(VARNOCK_QEMU arm)
set(VARNOCK_QEMU_CPU arm926)
set(VARNOCK_MUSL arm-linux-musleabi)
# The package check also runs the tools on the ARMv6 of the Raspberry Pi 1 and Zero.
set(VARNOCK_PACKAGE_CPUS arm1176)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
