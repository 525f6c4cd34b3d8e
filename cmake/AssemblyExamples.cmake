# The example programs written in assembly, over the include files that the
# just-built carvex writes from mingw-w64's import libraries, each linked by
# lld-link into <build>/asm-examples/<program>/<program>.exe:
#   console_masm64  JWasm -win64  x86-64  libkernel32.inc (-l64)
#   window_masm     JWasm -coff   i386    libkernel32.inc, libuser32.inc (no switch)
#   console_fasm    fasm          i386    libkernel32.inc (-fi)
#   window_fasm     fasm          i386    libkernel32.inc, libuser32.inc (-fd)
# The sources are examples/console/<program>.asm and examples/window/<program>.asm.
#
# Finds the assemblers for these programs and for the tests of the include
# files: CARVEX_JWASM and CARVEX_FASM, empty when missing. Sets
# CARVEX_ASM_EXAMPLES_i686 and CARVEX_ASM_EXAMPLES_x86_64, the programs built
# for each machine, for the tests.
set(CARVEX_ASM_EXAMPLES_i686 "")
set(CARVEX_ASM_EXAMPLES_x86_64 "")
if(NOT CARVEX_WINDOWS_PROGRAMS)  # as asked, or off in an instrumented build
  return()
endif()

# fasm and Wine's 32-bit loader are i386 programs, which a kernel without
# 32-bit support refuses until qemu is registered for them
# (.ci/i386_programs.sh, which .ci/deps.sh runs): found but unable to run
# counts as missing.
function(carvex_i386_tool_runs var tests)
  if(NOT ${var})
    return()
  endif()
  execute_process(COMMAND ${${var}} --version RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
  if(status MATCHES "^[0-9]+$")
    return()
  endif()
  carvex_leave_out("${tests}" "a kernel or emulator that runs ${${var}}, an i386 program (${status}; .ci/i386_programs.sh sets up qemu for it)")
  set(${var} "" PARENT_SCOPE)
endfunction()

# JWasm, a MASM-compatible assembler, reads the PROTO include files. No
# distribution packages it: it is built from its sources and handed over as
# -DCARVEX_JWASM=<path> (what .ci/run does), or found on the PATH. Without
# it its programs and tests are left out even where every test is required;
# a JWasm found or named that does not run is an error.
find_program(CARVEX_JWASM NAMES jwasm DOC "JWasm: the MASM examples and the tests of the PROTO include files")
if(CARVEX_JWASM)
  execute_process(COMMAND ${CARVEX_JWASM} -? RESULT_VARIABLE status OUTPUT_VARIABLE banner ERROR_QUIET)
  if(NOT status EQUAL 0 OR NOT banner MATCHES "JWasm")
    message(FATAL_ERROR "CARVEX_JWASM (${CARVEX_JWASM}) does not run as JWasm: "
                        "\"-?\" gave ${status} and no JWasm banner")
  endif()
else()
  message(STATUS "Leaving out the JWasm examples and tests: jwasm not found (bash .ci/jwasm.sh <JWasm sources .tar.gz> "
                 "builds it; then configure with -DCARVEX_JWASM=<the path it prints>)")
endif()

set(fasm_users "the fasm examples and the tests of the FASM include files")
find_program(CARVEX_FASM NAMES fasm DOC "fasm: the fasm examples and the tests of the FASM include files")
if(NOT CARVEX_FASM)
  carvex_leave_out("${fasm_users}" "fasm")
endif()
carvex_i386_tool_runs(CARVEX_FASM "${fasm_users}")

# The linker the cross build uses too; the examples need no compiler.
find_program(CARVEX_CROSS_LLD_LINK NAMES lld-link lld-link-14)
if(NOT CARVEX_CROSS_LLD_LINK)
  carvex_leave_out("the example programs in assembly" "lld-link (lld)")
  return()
endif()
set(mingw_lib_i686 /usr/i686-w64-mingw32/lib)
set(mingw_lib_x86_64 /usr/x86_64-w64-mingw32/lib)
foreach(library ${mingw_lib_i686}/libkernel32.a ${mingw_lib_i686}/libuser32.a ${mingw_lib_x86_64}/libkernel32.a)
  if(NOT EXISTS ${library})
    carvex_leave_out("the example programs in assembly" "${library} (mingw-w64-i686-dev, mingw-w64-x86-64-dev)")
    return()
  endif()
endforeach()

# carvex, run in the program's folder, writes the include files of the given
# mingw-w64 libraries there. Sets includes (those files) and libraries (the
# archives, which the program is linked with).
#   carvex_asm_includes(<folder> i686|x86_64 "<carvex switch>" <library>...)
function(carvex_asm_includes folder machine switch)
  set(includes "")
  set(libraries "")
  foreach(library IN LISTS ARGN)
    set(archive ${mingw_lib_${machine}}/lib${library}.a)
    set(include ${folder}/lib${library}.inc)
    file(RELATIVE_PATH shown ${CMAKE_BINARY_DIR} ${include})
    add_custom_command(OUTPUT ${include} COMMAND carvex ${archive} ${switch} DEPENDS carvex ${archive}
                       WORKING_DIRECTORY ${folder} COMMENT "Include file ${shown}" VERBATIM)
    list(APPEND includes ${include})
    list(APPEND libraries ${archive})
  endforeach()
  set(includes ${includes} PARENT_SCOPE)
  set(libraries ${libraries} PARENT_SCOPE)
endfunction()

# One program, built in <build>/asm-examples/<name>/ from its include files:
# the assembler, run there, finds them; lld-link links the object with the
# libraries. The program's own first code is 'start'; objects from
# assembler sources carry no @feat.00, hence no SafeSEH for i386.
#   carvex_asm_program(<name> jwasm|fasm i686|x86_64 console|windows "<carvex switch>" <library>...)
function(carvex_asm_program name assembler machine subsystem switch)
  set(folder ${CMAKE_BINARY_DIR}/asm-examples/${name})
  file(MAKE_DIRECTORY ${folder})
  string(REGEX MATCH "^[a-z]+" kind ${name})  # console or window
  set(source ${CMAKE_SOURCE_DIR}/examples/${kind}/${name}.asm)
  set(object ${folder}/${name}.obj)
  set(program ${folder}/${name}.exe)
  carvex_asm_includes(${folder} ${machine} "${switch}" ${ARGN})

  if(assembler STREQUAL "jwasm" AND machine STREQUAL "i686")
    set(assemble ${CARVEX_JWASM} -q -coff -Fo${object} ${source})
  elseif(assembler STREQUAL "jwasm")
    set(assemble ${CARVEX_JWASM} -q -win64 -Fo${object} ${source})
  else()
    set(assemble ${CARVEX_FASM} ${source} ${object})
  endif()
  add_custom_command(OUTPUT ${object} COMMAND ${assemble} DEPENDS ${source} ${includes}
                     WORKING_DIRECTORY ${folder} COMMENT "${assembler} ${name}.asm" VERBATIM)

  if(machine STREQUAL "i686")
    set(machine_options /machine:x86 /safeseh:no)
  else()
    set(machine_options /machine:x64)
  endif()
  add_custom_command(OUTPUT ${program}
                     COMMAND ${CARVEX_CROSS_LLD_LINK} /nologo ${machine_options} /nodefaultlib /entry:start
                             /subsystem:${subsystem} /out:${program} ${object} ${libraries}
                     DEPENDS ${object} ${libraries} COMMENT "Linking ${name}.exe" VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${program})
  set(CARVEX_ASM_EXAMPLES_${machine} ${CARVEX_ASM_EXAMPLES_${machine}} ${program} PARENT_SCOPE)
endfunction()

if(CARVEX_JWASM)
  carvex_asm_program(console_masm64 jwasm x86_64 console -l64 kernel32)
  carvex_asm_program(window_masm jwasm i686 windows "" kernel32 user32)
endif()
if(CARVEX_FASM)
  carvex_asm_program(console_fasm fasm i686 console -fi kernel32)
  carvex_asm_program(window_fasm fasm i686 windows -fd kernel32 user32)
endif()
