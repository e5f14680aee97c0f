# What gets installed besides the tools, and the packages made from it:
# Debian packages, or for static builds a tarball to unpack on a board.

# Manual pages carry the project's version and go out compressed, as Debian
# wants them; -n keeps name and time out, so that rebuilds are identical.
set(gzipped)
foreach(page IN LISTS VARNOCK_PAGES)
  configure_file(man/${page}.1.in man/${page}.1 @ONLY)
  add_custom_command(OUTPUT man/${page}.1.gz
    COMMAND gzip -9nkf ${page}.1
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/man
    VERBATIM)
  list(APPEND gzipped ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1.gz)
endforeach()
add_custom_target(manpages ALL DEPENDS ${gzipped})
install(FILES ${gzipped} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The license in Debian's machine-readable copyright format, made from LICENSE
# so that its text stands in one place.
file(READ LICENSE license)
string(REGEX REPLACE "^MIT License\n\nCopyright[^\n]*\n\n" "" license "${license}")
string(STRIP "${license}" license)
string(REPLACE "\n\n" "\n.\n" license "${license}")
string(REPLACE "\n" "\n " license " ${license}")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: varnock
Upstream-Contact: varnock developers <varnock@example.org>

Files: *
Copyright: 2026 the varnock developers
License: Expat
${license}
")
configure_file(packaging/changelog changelog COPYONLY)
add_custom_command(OUTPUT changelog.gz
  COMMAND gzip -9nkf changelog
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog
  VERBATIM)
add_custom_target(changelog_gz ALL DEPENDS changelog.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# A stripped install (cpack, or cmake --install --strip) also drops the
# compiler's notes, as Debian's own packaging does, and on MIPS the procedure
# descriptors (.pdr) that only a debugger reads: a twelfth of a board binary.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment --remove-section=.note
      --remove-section=.pdr
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/varnock\"
      COMMAND_ERROR_IS_FATAL ANY)
  endif()")

set(CPACK_PACKAGE_NAME varnock)
set(CPACK_PACKAGE_VENDOR "varnock developers")
# The project has no mail host of its own; example.org is reserved for that.
set(CPACK_PACKAGE_CONTACT "varnock developers <varnock@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "dump, patch, search and compare files byte by byte")
set(CPACK_PACKAGE_DESCRIPTION "Command-line tools that dump bytes at an offset as hex lines, patch
bytes in place with wildcard positions that keep the file's bytes, search
for hex patterns with wildcards, and list where two files differ.")
set(CPACK_STRIP_FILES ON)
if(VARNOCK_STATIC)
  include(cmake/static-notices.cmake)
  set(CPACK_GENERATOR TGZ)
  set(CPACK_PACKAGE_FILE_NAME varnock-${PROJECT_VERSION}-${VARNOCK_DEB_ARCH}-static)
  # bin/, share/: unpacked into /usr/local or any other prefix.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_PACKAGING_INSTALL_PREFIX "/")
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  if(VARNOCK_DEB_ARCH)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${VARNOCK_DEB_ARCH})
  endif()
endif()
include(CPack)
