# The Windows programs as part of the one top-level build: two cross builds
# of windows/, one per toolchain file, run as external projects so
# that none of this build's flags (the sanitizers among them) reach them.
# They are rebuilt whenever the top-level build runs; a build with nothing
# to do takes a fraction of a second.
#
# Sets CARVEX_EXE (the 32-bit carvex.exe), CARVEX64_EXE (the 64-bit one the
# tests run), CONSOLE_EXAMPLE_EXE and WINDOW_EXAMPLE_EXE for the tests and
# the release folder.
include(ExternalProject)

if(NOT CARVEX_WINDOWS_PROGRAMS)
  return()
endif()
# The toolchain files insist on these; looked for here as well, so that a
# machine without them configures, and builds everything else.
find_program(CARVEX_CROSS_CLANGXX NAMES clang++ clang++-14)
find_program(CARVEX_CROSS_LLD_LINK NAMES lld-link lld-link-14)
find_program(CARVEX_CROSS_LLVM_AR NAMES llvm-ar llvm-ar-14)
find_program(CARVEX_CROSS_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14)
if(NOT CARVEX_CROSS_CLANGXX OR NOT CARVEX_CROSS_LLD_LINK OR NOT CARVEX_CROSS_LLVM_AR OR NOT CARVEX_CROSS_DLLTOOL)
  carvex_leave_out("the Windows programs and their tests" "clang++, lld-link, llvm-ar or llvm-dlltool (clang, lld, llvm)")
  set(CARVEX_WINDOWS_PROGRAMS OFF)
  return()
endif()

foreach(machine i686 x86_64)
  set(binary_dir ${CMAKE_BINARY_DIR}/windows-${machine})
  if(machine STREQUAL "i686")
    set(byproducts ${binary_dir}/carvex.exe)
  else()
    set(byproducts ${binary_dir}/carvex64.exe ${binary_dir}/console_example.exe ${binary_dir}/window_example.exe)
  endif()
  ExternalProject_Add(windows_programs_${machine}
    SOURCE_DIR ${CMAKE_SOURCE_DIR}/windows
    BINARY_DIR ${binary_dir}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/windows-${machine}.cmake
               -DCMAKE_BUILD_TYPE=Release
               -DCARVEX_WARNINGS_AS_ERRORS=${CARVEX_WARNINGS_AS_ERRORS}
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${byproducts})
endforeach()

set(CARVEX_EXE ${CMAKE_BINARY_DIR}/windows-i686/carvex.exe)
set(CARVEX64_EXE ${CMAKE_BINARY_DIR}/windows-x86_64/carvex64.exe)
set(CONSOLE_EXAMPLE_EXE ${CMAKE_BINARY_DIR}/windows-x86_64/console_example.exe)
set(WINDOW_EXAMPLE_EXE ${CMAKE_BINARY_DIR}/windows-x86_64/window_example.exe)
