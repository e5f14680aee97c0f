# 32-bit ARM, ARMv7 with hard float.
set(VARNOCK_TRIPLET arm-linux-gnueabihf)
set(VARNOCK_DEB_ARCH armhf)
set(VARNOCK_QEMU arm)
set(VARNOCK_MUSL arm-linux-musleabihf)
# The package check also runs the tools on a Cortex-A7, the smallest ARMv7.
set(VARNOCK_PACKAGE_CPUS cortex-a7)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
