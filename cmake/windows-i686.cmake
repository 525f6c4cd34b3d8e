# 32-bit Windows programs (i686), built with clang and lld-link.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CARVEX_WINDOWS_TRIPLE i686-pc-windows-msvc)
set(CARVEX_DLLTOOL_MACHINE i386)
include(${CMAKE_CURRENT_LIST_DIR}/windows-clang.cmake)
