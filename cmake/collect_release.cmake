# Run by the 'dist' target: fills DIST_DIR afresh with PROGRAMS, the manual
# page and the README from SOURCE_DIR, then lists the sizes. A file that is
# missing stops it: a release without its manual is not one.
file(REMOVE_RECURSE ${DIST_DIR})
file(MAKE_DIRECTORY ${DIST_DIR})

set(manual "")
foreach(candidate docs/carvex.1 carvex.1)
  if(EXISTS ${SOURCE_DIR}/${candidate})
    set(manual ${SOURCE_DIR}/${candidate})
    break()
  endif()
endforeach()
if(NOT manual)
  message(FATAL_ERROR "no manual page: neither docs/carvex.1 nor carvex.1 exists")
endif()

foreach(file IN LISTS PROGRAMS manual ITEMS ${SOURCE_DIR}/README.md)
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "missing from the release: ${file}")
  endif()
  file(COPY ${file} DESTINATION ${DIST_DIR})
  get_filename_component(name ${file} NAME)
  file(SIZE ${DIST_DIR}/${name} size)
  message(STATUS "${name}: ${size} bytes")
endforeach()
