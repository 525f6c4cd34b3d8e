# Shared part of the Windows toolchain files: clang and lld-link building
# Windows programs that carry no C runtime. The including file sets
# CARVEX_WINDOWS_TRIPLE and CARVEX_DLLTOOL_MACHINE first.
set(CMAKE_SYSTEM_NAME Windows)

find_program(CARVEX_CLANGXX NAMES clang++ clang++-14 REQUIRED)
find_program(CARVEX_LLD_LINK NAMES lld-link lld-link-14 REQUIRED)
find_program(CARVEX_LLVM_AR NAMES llvm-ar llvm-ar-14 REQUIRED)
find_program(CARVEX_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)

set(CMAKE_CXX_COMPILER ${CARVEX_CLANGXX})
set(CMAKE_CXX_COMPILER_TARGET ${CARVEX_WINDOWS_TRIPLE})
set(CMAKE_LINKER ${CARVEX_LLD_LINK})
set(CMAKE_AR ${CARVEX_LLVM_AR})

# No runtime library exists to link a test program against, so the
# compiler checks build a static library instead.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# Freestanding code: no builtins that could become library calls, no stack
# cookies or probes (both live in the C runtime), no unwinding tables.
set(CMAKE_CXX_FLAGS_INIT
    "-ffreestanding -fno-builtin -fno-exceptions -fno-rtti -fno-stack-protector -mno-stack-arg-probe")
set(CMAKE_MSVC_RUNTIME_LIBRARY "")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
