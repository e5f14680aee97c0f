# Debian's hardening flags from dpkg-buildflags: stack protector, fortified
# functions, format checks, and with hardening=+all also full RELRO with
# immediate binding. VARNOCK_BUILDFLAGS is "all" for release and packaging
# builds, "compile" for static ones (the link-time part acts on dynamic
# linking only) and empty elsewhere: sanitizers and fuzzing want their own
# flags, and fortification warns without optimisation.
set(VARNOCK_BUILDFLAGS "" CACHE STRING "Debian's hardening flags: all, compile or empty")
if(NOT VARNOCK_BUILDFLAGS)
  return()
endif()

find_program(VARNOCK_DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
set(env DEB_BUILD_MAINT_OPTIONS=hardening=+all)
if(VARNOCK_DEB_ARCH)
  list(APPEND env DEB_HOST_ARCH=${VARNOCK_DEB_ARCH})
endif()
set(parts CPPFLAGS CXXFLAGS)
if(VARNOCK_BUILDFLAGS STREQUAL "all")
  list(APPEND parts LDFLAGS)
endif()
foreach(part IN LISTS parts)
  # Run from the source folder, so that its path maps to "." in debug data.
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env ${env} ${VARNOCK_DPKG_BUILDFLAGS} --get ${part}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  if(part STREQUAL "LDFLAGS")
    string(APPEND CMAKE_EXE_LINKER_FLAGS " ${flags}")
  else()
    string(APPEND CMAKE_CXX_FLAGS " ${flags}")
  endif()
endforeach()
