# 64-bit RISC-V, RV64GC (lp64d): RISC-V single-board computers. Debian 12 has
# no musl for it: musl is built from Debian's source.
set(VARNOCK_TRIPLET riscv64-linux-gnu)
set(VARNOCK_DEB_ARCH riscv64)
set(VARNOCK_QEMU riscv64)
set(VARNOCK_MUSL source)
# The package check runs the tools on qemu's generic RV64GC and on a SiFive
# U54, the core of the first RISC-V Linux boards.
set(VARNOCK_PACKAGE_CPUS rv64 sifive-u54)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
