# 64-bit MIPS, big-endian, MIPS64r2 (n64): Octeon routers (OpenWrt's octeon
# target). Debian 12 has no musl for it: musl is built from Debian's source.
set(VARNOCK_TRIPLET mips64-linux-gnuabi64)
set(VARNOCK_DEB_ARCH mips64)
set(VARNOCK_QEMU mips64)
set(VARNOCK_MUSL source)
# The package check runs the tools on a generic MIPS64r2 core, the floor, and
# on an Octeon.
set(VARNOCK_PACKAGE_CPUS MIPS64R2-generic Octeon68XX)
# Code for an executable, not a library: calls need no load of their
# address from the global offset table.
set(VARNOCK_SIZE_CFLAGS -mno-shared -mplt)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
