# 64-bit x86; the host runs it, without emulation.
set(VARNOCK_TRIPLET x86_64-linux-gnu)
set(VARNOCK_DEB_ARCH amd64)
set(VARNOCK_MUSL x86_64-linux-musl)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
