# A board build carries musl (MIT) and libgcc (GPL 3 with the GCC Runtime
# Library Exception) inside the binary. Its tarball ships their notices and
# names the exact Debian packages and source versions they came from.
function(owner file out)
  execute_process(COMMAND dpkg-query -S ${file} OUTPUT_VARIABLE said COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX REPLACE ": .*" "" said "${said}") # keeps an architecture qualifier
  set(${out} ${said} PARENT_SCOPE)
endfunction()

function(debian_version package out)
  execute_process(COMMAND dpkg-query -W -f=\${Version} ${package}
    OUTPUT_VARIABLE version COMMAND_ERROR_IS_FATAL ANY)
  set(${out} ${version} PARENT_SCOPE)
endfunction()

owner(${libgcc} gcc_package)
debian_version(${gcc_package} gcc_binary)
# Debian's cross packages take the version of the source they were made from
# and add "crossN".
string(REGEX REPLACE "cross[0-9]+$" "" gcc_source ${gcc_binary})
string(REGEX MATCH "^[0-9]+" gcc_major ${CMAKE_CXX_COMPILER_VERSION})

if(VARNOCK_MUSL STREQUAL "source")
  file(GLOB dsc ${VARNOCK_MUSL_SOURCE}/../musl_*.dsc)
  string(REGEX REPLACE ".*/musl_(.*)\\.dsc$" "\\1" musl_version ${dsc})
  set(musl_origin "built from that source for this binary")
  set(musl_copyright ${VARNOCK_MUSL_SOURCE}/debian/copyright)
else()
  owner(${VARNOCK_MUSL_LIB}/libc.a musl_package)
  debian_version(${musl_package} musl_version)
  set(musl_origin "as built in Debian's binary package ${musl_package} ${musl_version}")
  set(musl_copyright /usr/share/doc/musl-dev/copyright)
endif()

configure_file(packaging/THIRD-PARTY.in THIRD-PARTY @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/THIRD-PARTY DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${musl_copyright} DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright.musl)
string(REGEX REPLACE ":.*" "" gcc_doc ${gcc_package})
install(FILES /usr/share/doc/${gcc_doc}/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright.gcc)
install(FILES /usr/share/common-licenses/GPL-3 DESTINATION ${CMAKE_INSTALL_DOCDIR})
