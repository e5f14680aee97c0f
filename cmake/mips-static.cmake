# 32-bit MIPS, big-endian, MIPS32r2 (o32): OpenWrt's ath79 and other routers.
# Debian has no musl for it: musl is built from Debian's source.
set(VARNOCK_TRIPLET mips-linux-gnu)
set(VARNOCK_DEB_ARCH mips)
set(VARNOCK_QEMU mips)
set(VARNOCK_MUSL source)
# The package check also runs the tools on a 24Kc, which has no FPU.
set(VARNOCK_PACKAGE_CPUS 24Kc)
# Code for an executable, not a library: calls need no load of their
# address from the global offset table.
set(VARNOCK_SIZE_CFLAGS -mno-shared -mplt)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
