# Read by cpack once per generator: which install components the package
# holds, and the zip's name (the .deb is named the Debian way).
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_COMPONENTS_ALL carvex debian)
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian/staged_tree.cmake)
elseif(CPACK_GENERATOR STREQUAL "ZIP")
  set(CPACK_COMPONENTS_ALL windows)
  set(CPACK_PACKAGE_FILE_NAME "carvex-${CPACK_PACKAGE_VERSION}-windows")
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()
