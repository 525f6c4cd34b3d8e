# Packages, made by 'cmake --build <build> --target package':
#   carvex_<version>_amd64.deb      the Linux carvex and its manual page
#   carvex-<version>-windows.zip    the Windows programs, the README and the licence
# Each package holds one install component; PackageContents.cmake picks it
# for the generator at hand. The Windows files go into no other install.
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
set(CPACK_PACKAGE_DESCRIPTION
    "carvex reads Microsoft COFF import libraries (.lib archives) and writes, for each one, an include file of procedure declarations for an x86 or x64 assembler: MASM and POASM PROTO lines, 64-bit PROTO lines for JWasm, HJWasm and Poasm, FASM, LZASM and SOLASM declarations.")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
# Computed from the program: none for the static carvex of a Release build.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/PackageContents.cmake)
include(CPack)
