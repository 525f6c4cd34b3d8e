# The version, named once in the file VERSION at the top of the sources:
# sets CARVEX_VERSION, CARVEX_VERSION_MAJOR and CARVEX_VERSION_MINOR, and,
# with carvex_version_header(<dir>), writes <dir>/version.h for the programs.
get_filename_component(carvex_root ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
file(STRINGS ${carvex_root}/VERSION CARVEX_VERSION LIMIT_COUNT 1)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${carvex_root}/VERSION)
string(REPLACE "." ";" carvex_version_parts ${CARVEX_VERSION})
list(GET carvex_version_parts 0 CARVEX_VERSION_MAJOR)
list(GET carvex_version_parts 1 CARVEX_VERSION_MINOR)

function(carvex_version_header dir)
  configure_file(${carvex_root}/converter/version.h.in ${dir}/version.h @ONLY)
endfunction()
