# 32-bit x86, i686.
set(VARNOCK_TRIPLET i686-linux-gnu)
set(VARNOCK_DEB_ARCH i386)
set(VARNOCK_QEMU i386)
set(VARNOCK_MUSL i386-linux-musl)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
