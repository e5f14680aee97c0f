# A static build carries the C library (glibc, LGPL 2.1 or later) and GCC's
# runtime libraries (GPL 3 with the GCC Runtime Library Exception) inside the
# binary. Its tarball ships their notices and names the exact Debian packages
# and source versions they came from, so that the combination can be rebuilt
# and relinked as the LGPL asks.
function(debian_version package out)
  execute_process(COMMAND dpkg-query -W -f=\${Version} ${package}
    OUTPUT_VARIABLE version COMMAND_ERROR_IS_FATAL ANY)
  set(${out} ${version} PARENT_SCOPE)
endfunction()

set(VARNOCK_PRESET ${VARNOCK_DEB_ARCH}-static)
set(gcc_major ${CMAKE_CXX_COMPILER_VERSION_MAJOR})
if(NOT gcc_major)
  string(REGEX MATCH "^[0-9]+" gcc_major ${CMAKE_CXX_COMPILER_VERSION})
endif()
set(libc_package libc6-dev-${VARNOCK_DEB_ARCH}-cross)
set(gcc_package libgcc-${gcc_major}-dev-${VARNOCK_DEB_ARCH}-cross)
debian_version(${libc_package} libc_cross)
debian_version(${gcc_package} gcc_cross)
# Debian's cross packages take the version of the source they were made from
# and add "crossN".
string(REGEX REPLACE "cross[0-9]+$" "" libc_source ${libc_cross})
string(REGEX REPLACE "cross[0-9]+$" "" gcc_source ${gcc_cross})

configure_file(packaging/THIRD-PARTY.in THIRD-PARTY @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/THIRD-PARTY DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES /usr/share/doc/${libc_package}/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright.glibc)
install(FILES /usr/share/doc/${gcc_package}/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright.gcc)
install(FILES /usr/share/common-licenses/LGPL-2.1 /usr/share/common-licenses/GPL-3
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
