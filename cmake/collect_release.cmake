# Run by the 'dist' target: fills DIST_DIR afresh with PROGRAMS, the manual
# page and the README from SOURCE_DIR, then lists the sizes. A file that is
# missing stops it: a release without its manual is not one.
file(REMOVE_RECURSE ${DIST_DIR})
file(MAKE_DIRECTORY ${DIST_DIR})

foreach(file IN LISTS PROGRAMS ITEMS ${SOURCE_DIR}/docs/carvex.1 ${SOURCE_DIR}/README.md)
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "missing from the release: ${file}")
  endif()
  file(COPY ${file} DESTINATION ${DIST_DIR})
  get_filename_component(name ${file} NAME)
  file(SIZE ${DIST_DIR}/${name} size)
  message(STATUS "${name}: ${size} bytes")
endforeach()
