# 'dist': the release folder, <build>/dist, holding the Linux carvex, the
# three Windows programs, the manual page and the README. It needs the
# Windows programs, so a build without them has no such target.
if(NOT CARVEX_WINDOWS_PROGRAMS)
  return()
endif()

set(CARVEX_DIST_DIR ${CMAKE_BINARY_DIR}/dist)
add_custom_target(dist
  COMMAND ${CMAKE_COMMAND} -D DIST_DIR=${CARVEX_DIST_DIR} -D SOURCE_DIR=${CMAKE_SOURCE_DIR}
          "-D PROGRAMS=$<TARGET_FILE:carvex>;${CARVEX_EXE};${CONSOLE_EXAMPLE_EXE};${WINDOW_EXAMPLE_EXE}"
          -P ${CMAKE_SOURCE_DIR}/cmake/collect_release.cmake
  DEPENDS carvex windows_programs_i686 windows_programs_x86_64
  COMMENT "Release folder ${CARVEX_DIST_DIR}"
  VERBATIM)
