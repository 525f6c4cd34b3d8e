# Run by cpack on the .deb's staged tree before packing it (see
# PackageContents.cmake). The carvex component installs the manual page
# uncompressed, as 'cmake --install' wants it; the .deb carries the compressed
# copy of the debian component in its place. And, as Debian's own packaging
# does, the stripped program loses the compilers' .comment section.
file(GLOB programs ${CPACK_TEMPORARY_DIRECTORY}/*/usr/bin/carvex)
list(LENGTH programs count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "not one staged usr/bin/carvex under ${CPACK_TEMPORARY_DIRECTORY}: '${programs}'")
endif()
cmake_path(GET programs PARENT_PATH bin)
cmake_path(GET bin PARENT_PATH usr)
if(NOT EXISTS ${usr}/share/man/man1/carvex.1.gz)
  message(FATAL_ERROR "the .deb's compressed manual page is not staged in ${usr}/share/man/man1")
endif()
file(REMOVE ${usr}/share/man/man1/carvex.1)
if(CPACK_CARVEX_STRIP)
  execute_process(COMMAND ${CPACK_CARVEX_STRIP} --remove-section=.comment ${programs} COMMAND_ERROR_IS_FATAL ANY)
endif()
