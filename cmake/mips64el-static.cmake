# 64-bit MIPS, little-endian, MIPS64r2 (n64).
set(VARNOCK_TRIPLET mips64el-linux-gnuabi64)
set(VARNOCK_DEB_ARCH mips64el)
set(VARNOCK_QEMU mips64el)
set(VARNOCK_MUSL mips64el-linux-musl)
# Code for an executable, not a library: calls need no load of their
# address from the global offset table.
set(VARNOCK_SIZE_CFLAGS -mno-shared -mplt)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
