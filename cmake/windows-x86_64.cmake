# 64-bit Windows programs (x86-64), built with clang and lld-link.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CARVEX_WINDOWS_TRIPLE x86_64-pc-windows-msvc)
set(CARVEX_DLLTOOL_MACHINE i386:x86-64)
include(${CMAKE_CURRENT_LIST_DIR}/windows-clang.cmake)
