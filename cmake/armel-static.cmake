# 32-bit ARM, ARMv5TE soft float, fully static: runs on ARMv5, ARMv6 and ARMv7
# boards with any C library or none.
set(VARNOCK_TRIPLET arm-linux-gnueabi)
set(VARNOCK_DEB_ARCH armel)
set(VARNOCK_STATIC ON)
set(VARNOCK_QEMU_CPU arm926)
include(${CMAKE_CURRENT_LIST_DIR}/arm-cross.cmake)
