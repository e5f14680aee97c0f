# Shared part of the cross toolchain files, one per preset. Each sets
# VARNOCK_TRIPLET (Debian's cross toolchain), VARNOCK_DEB_ARCH, VARNOCK_QEMU
# (the user-mode emulator's name without "qemu-"; unset where the host runs
# the build itself), and may set VARNOCK_QEMU_CPU (the oldest CPU the build
# must run on), VARNOCK_PACKAGE_CPUS (more CPUs that tests/package-check.sh
# runs the packaged tools on) and VARNOCK_MUSL: musl's triplet in Debian, or
# "source" where Debian has no musl for the processor. A musl build is a board
# build: the tools link statically against musl (see cmake/musl.cmake).
set(CMAKE_SYSTEM_NAME Linux)
string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR ${VARNOCK_TRIPLET})
set(CMAKE_C_COMPILER ${VARNOCK_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${VARNOCK_TRIPLET}-g++)
set(VARNOCK_SYSROOT /usr/${VARNOCK_TRIPLET})
set(CMAKE_FIND_ROOT_PATH ${VARNOCK_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
if(VARNOCK_MUSL)
  set(VARNOCK_STATIC ON)
  # Test programs too: see tests/CMakeLists.txt.
  set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
endif()
# Tests run under user-mode emulation, with the target's libraries from
# Debian's cross packages; the emulator is looked for only when tests are built.
set(VARNOCK_EMULATOR_ARGS -L ${VARNOCK_SYSROOT})
if(VARNOCK_QEMU_CPU)
  list(APPEND VARNOCK_EMULATOR_ARGS -cpu ${VARNOCK_QEMU_CPU})
endif()
