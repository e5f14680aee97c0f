# 32-bit ARM, ARMv7 hard float, fully static: needs no C library on the board.
set(VARNOCK_TRIPLET arm-linux-gnueabihf)
set(VARNOCK_DEB_ARCH armhf)
set(VARNOCK_STATIC ON)
include(${CMAKE_CURRENT_LIST_DIR}/arm-cross.cmake)
