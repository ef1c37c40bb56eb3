# Cross-builds the Windows x86-64 program from Debian with MinGW-w64
# (package g++-mingw-w64-x86-64-posix):
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The posix flavour of the compiler is chosen because its libstdc++ has
# std::thread and friends, which GoogleTest uses.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUENDA_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUENDA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUENDA_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QUENDA_MINGW_PREFIX}-windres)

# Libraries and headers come from the MinGW-w64 sysroot only; programs (the
# build tools) from the build machine. Package configuration files are also
# taken from the build machine: the ones used here from Debian are
# header-only (nlohmann_json), so the same headers serve Windows code.
# GoogleTest is compiled from source in a cross build, never found.
set(CMAKE_FIND_ROOT_PATH /usr/${QUENDA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# The C and C++ runtimes and winpthreads are linked into the executable, so
# a copied .exe runs on a machine without MinGW's DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
