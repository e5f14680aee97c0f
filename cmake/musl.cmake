# Board builds: the tools link statically against musl, for a binary of a few
# dozen KiB that needs no C library on the board and checks no kernel version.
# Only the tool and codec targets are built this way; the test programs stay
# glibc programs (GoogleTest does not compile against musl with Debian's
# libstdc++). The tools use libstdc++'s headers but none of its runtime, so
# exceptions and RTTI are off and nothing of libstdc++ is linked.
if(NOT VARNOCK_MUSL)
  return()
endif()

function(compiler_says option out)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} ${option}
    OUTPUT_VARIABLE said OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  set(${out} ${said} PARENT_SCOPE)
endfunction()

# Where Debian has no musl for the processor, musl is built from Debian's own
# source package, fetched and built once per build folder (about a minute).
# VARNOCK_MUSL_SOURCE is the unpacked source, beside its .dsc. Its own
# warnings (-w) are not the kit's to mend, and would only bury the kit's.
function(build_musl work prefix)
  file(GLOB source LIST_DIRECTORIES true ${work}/musl-[0-9]*)
  if(NOT source)
    file(MAKE_DIRECTORY ${work})
    execute_process(COMMAND apt-get source -qq musl WORKING_DIRECTORY ${work}
      OUTPUT_QUIET ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(GLOB source LIST_DIRECTORIES true ${work}/musl-[0-9]*)
  endif()
  set(VARNOCK_MUSL_SOURCE ${source} PARENT_SCOPE)
  if(EXISTS ${prefix}/lib/libc.a)
    return()
  endif()
  message(STATUS "Building musl from ${source} for ${VARNOCK_TRIPLET}")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env "CFLAGS=-Os -w ${VARNOCK_MUSL_CFLAGS}"
      ./configure --target=${VARNOCK_TRIPLET} CROSS_COMPILE=${VARNOCK_TRIPLET}-
      --prefix=${prefix} --disable-shared
    WORKING_DIRECTORY ${source} OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND make -j2 install
    WORKING_DIRECTORY ${source} OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
endfunction()

if(VARNOCK_MUSL STREQUAL "source")
  build_musl(${CMAKE_BINARY_DIR}/musl-source ${CMAKE_BINARY_DIR}/musl)
  set(VARNOCK_MUSL_INCLUDE ${CMAKE_BINARY_DIR}/musl/include)
  set(VARNOCK_MUSL_LIB ${CMAKE_BINARY_DIR}/musl/lib)
else()
  set(VARNOCK_MUSL_INCLUDE /usr/include/${VARNOCK_MUSL})
  set(VARNOCK_MUSL_LIB /usr/lib/${VARNOCK_MUSL})
endif()

# Headers: libstdc++'s (its own folder and the target's), gcc's own, then
# musl's in place of glibc's. libstdc++'s os_defines.h asks for glibc's version.
set(includes)
foreach(dir IN LISTS CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES)
  if(dir MATCHES "/c\\+\\+/[0-9]+(/[^/]+-linux-[^/]+)?$")
    list(APPEND includes "SHELL:-isystem ${dir}")
  endif()
endforeach()
compiler_says(-print-file-name=include gcc_include)
compiler_says(-print-libgcc-file-name libgcc)
list(APPEND includes "SHELL:-isystem ${gcc_include}" "SHELL:-isystem ${VARNOCK_MUSL_INCLUDE}")
# A board binary stays within 64 KiB: a static program needs no position-
# independent code (on 32-bit x86 and MIPS it costs a register and an
# indirection per call), nor unwind tables (nothing throws, and nothing
# unwinds it but a debugger), and what nothing calls is dropped at the link.
# VARNOCK_SIZE_CFLAGS, from a toolchain file, adds the processor's own.
foreach(target hexcodec varnock)
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti -nostdinc ${includes}
    ${VARNOCK_MUSL_CFLAGS} "-D__GLIBC_PREREQ(a,b)=0"
    -fno-pie -ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables
    ${VARNOCK_SIZE_CFLAGS})
endforeach()

# The tools' own allocator in place of musl's (see src/tools/alloc.cpp).
# Without builtins: the compiler would make calloc's malloc and memset a
# call of calloc.
target_sources(varnock PRIVATE ${PROJECT_SOURCE_DIR}/src/tools/alloc.cpp)
set_source_files_properties(${PROJECT_SOURCE_DIR}/src/tools/alloc.cpp PROPERTIES
  COMPILE_OPTIONS -fno-builtin)

# musl's start files around the objects; libgcc calls back into libc (raise).
# A static musl program never makes its RELRO segment read-only (only musl's
# dynamic loader does), so the segment would be padding alone: on 64 KiB
# pages (powerpc) nearly 32 KiB of it. Nor is the data's start padded to a
# page in the file (a common page size of 16): its address keeps the offset
# it has in the file modulo the largest page size, so every kernel maps it,
# from the page it shares with the end of the code.
target_link_options(varnock PRIVATE -static -nostdlib -Wl,-z,norelro -Wl,-z,common-page-size=16
  -Wl,--gc-sections
  ${VARNOCK_MUSL_LIB}/crt1.o ${VARNOCK_MUSL_LIB}/crti.o)
target_link_libraries(varnock PRIVATE
  -Wl,--start-group ${VARNOCK_MUSL_LIB}/libc.a ${libgcc} -Wl,--end-group
  ${VARNOCK_MUSL_LIB}/crtn.o)
