# 32-bit MIPS, little-endian, MIPS32r2 (o32): OpenWrt's ramips and other
# routers.
set(VARNOCK_TRIPLET mipsel-linux-gnu)
set(VARNOCK_DEB_ARCH mipsel)
set(VARNOCK_QEMU mipsel)
set(VARNOCK_MUSL mipsel-linux-musl)
# The package check also runs the tools on a 24Kc, which has no FPU.
set(VARNOCK_PACKAGE_CPUS 24Kc)
# Code for an executable, not a library: calls need no load of their
# address from the global offset table.
set(VARNOCK_SIZE_CFLAGS -mno-shared -mplt)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
