# Writes a copy of a module-definition file with the stdcall sizes dropped
# from its export names ("LoadIconA@8" becomes "LoadIconA"): 64-bit exports
# carry none, while the 32-bit import libraries need them. Only a size that
# ends the first word of an indented export line is dropped, so a fastcall
# name ("@Fast@8") keeps its leading '@'.
#   cmake -D DEF=<in.def> -D PLAIN=<out.def> -P plain_def.cmake
if(NOT DEF OR NOT PLAIN)
  message(FATAL_ERROR "usage: cmake -D DEF=<in.def> -D PLAIN=<out.def> -P plain_def.cmake")
endif()
file(STRINGS ${DEF} lines)
set(plain "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^([ \t]+[A-Za-z_][A-Za-z0-9_]*)@[0-9]+" "\\1" line "${line}")
  string(APPEND plain "${line}\n")
endforeach()
file(WRITE ${PLAIN} "${plain}")
