# Packages, made by 'cmake --build <build> --target package':
#   carvex_<version>_amd64.deb      the Linux carvex, its manual page and
#                                   what Debian asks for (see below)
#   carvex-<version>-windows.zip    the Windows programs, the README and the licence
# PackageContents.cmake picks each package's install components for the
# generator at hand. The Windows and Debian files go into no other install.
if(CARVEX_WINDOWS_PROGRAMS)
  install(FILES ${CARVEX_EXE} ${CARVEX64_EXE} ${CONSOLE_EXAMPLE_EXE} ${WINDOW_EXAMPLE_EXE}
                ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
          DESTINATION . COMPONENT windows EXCLUDE_FROM_ALL)
  set(CPACK_GENERATOR DEB ZIP)
else()
  set(CPACK_GENERATOR DEB)
endif()

set(CPACK_PACKAGE_NAME carvex)
set(CPACK_PACKAGE_CONTACT "carvex maintainers <maintainers@users.noreply.c-seed-a053d2c1.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "converts COFF import libraries to assembler include files")
# Wrapped as Debian wants it, below 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
    "carvex reads Microsoft COFF import libraries (.lib archives) and writes,
for each one, an include file of procedure declarations for an x86 or x64
assembler: MASM and POASM PROTO lines, 64-bit PROTO lines for JWasm, HJWasm
and Poasm, FASM, LZASM and SOLASM declarations.")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
# Computed from the program: none for the static carvex of a Release build.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)

# What Debian asks of the .deb beside the program and its page, made in
# <build>/debian and installed by the component 'debian', the .deb's alone:
# the copyright file, whose licence text is LICENSE's; a changelog; both the
# changelog and the manual page compressed with 'gzip -9n' (no name, no time:
# the same bytes at every build); lintian's override for the static link.
set(CARVEX_DEBIAN_DIR ${PROJECT_BINARY_DIR}/debian)
set(debian_sources ${PROJECT_SOURCE_DIR}/cmake/debian)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
if(NOT licence MATCHES "\nCopyright \\(c\\) ([^\n]+)\n+(.+)")
  message(FATAL_ERROR "LICENSE has no line 'Copyright (c) <holder>' above the licence text")
endif()
set(CARVEX_COPYRIGHT ${CMAKE_MATCH_1})
# A licence paragraph of the copyright file: each line indented by one
# space, an empty line written as ' .'.
string(STRIP "${CMAKE_MATCH_2}" licence)
string(REPLACE "\n\n" "\n.\n" licence "${licence}")
string(REPLACE "\n" "\n " CARVEX_LICENCE_TEXT " ${licence}")
configure_file(${debian_sources}/copyright.in ${CARVEX_DEBIAN_DIR}/copyright @ONLY)
configure_file(${debian_sources}/changelog.in ${CARVEX_DEBIAN_DIR}/changelog @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/docs/carvex.1 ${CARVEX_DEBIAN_DIR}/carvex.1 COPYONLY)
find_program(GZIP_PROGRAM gzip REQUIRED)
add_custom_command(OUTPUT ${CARVEX_DEBIAN_DIR}/changelog.gz ${CARVEX_DEBIAN_DIR}/carvex.1.gz
  COMMAND ${GZIP_PROGRAM} -9nkf changelog carvex.1
  DEPENDS ${CARVEX_DEBIAN_DIR}/changelog ${CARVEX_DEBIAN_DIR}/carvex.1
  WORKING_DIRECTORY ${CARVEX_DEBIAN_DIR}
  COMMENT "Compressing the .deb's changelog and manual page"
  VERBATIM)
add_custom_target(debian_files ALL DEPENDS ${CARVEX_DEBIAN_DIR}/changelog.gz ${CARVEX_DEBIAN_DIR}/carvex.1.gz)
install(FILES ${CARVEX_DEBIAN_DIR}/copyright ${CARVEX_DEBIAN_DIR}/changelog.gz
        DESTINATION share/doc/carvex COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${CARVEX_DEBIAN_DIR}/carvex.1.gz DESTINATION share/man/man1 COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${debian_sources}/lintian-overrides DESTINATION share/lintian/overrides RENAME carvex
        COMPONENT debian EXCLUDE_FROM_ALL)
# For cmake/debian/staged_tree.cmake, which cpack runs on the .deb's files.
set(CPACK_CARVEX_STRIP ${CMAKE_STRIP})

set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/PackageContents.cmake)
include(CPack)
