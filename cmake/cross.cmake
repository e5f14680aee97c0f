# Shared part of the 32-bit ARM toolchain files. Each sets VARNOCK_TRIPLET
# (Debian's cross toolchain), VARNOCK_DEB_ARCH, and may set VARNOCK_STATIC
# (link everything in, for boards with any C library or none) and
# VARNOCK_QEMU_CPU (the oldest CPU the build must run on).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER ${VARNOCK_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${VARNOCK_TRIPLET}-g++)
set(VARNOCK_SYSROOT /usr/${VARNOCK_TRIPLET})
set(CMAKE_FIND_ROOT_PATH ${VARNOCK_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
if(VARNOCK_STATIC)
  set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
endif()
# Tests run under user-mode emulation, with the target's libraries from
# Debian's cross packages; the emulator is looked for only when tests are built.
set(VARNOCK_EMULATOR_ARGS -L ${VARNOCK_SYSROOT})
if(VARNOCK_QEMU_CPU)
  list(APPEND VARNOCK_EMULATOR_ARGS -cpu ${VARNOCK_QEMU_CPU})
endif()
