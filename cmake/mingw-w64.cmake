# Cross-builds kestal-cli.exe for 64-bit Windows with Debian's MinGW-w64 (the posix thread
# flavour, for std::thread). Everything is linked statically: the .exe imports nothing but
# Windows' own DLLs, so there is nothing to ship beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(ZLIB_USE_STATIC_LIBS ON)
# CLI11 and nlohmann_json are header-only; Debian's package configs would add all of
# /usr/include (glibc's headers among them), so configs of our own point at their headers alone.
set(CLI11_DIR ${CMAKE_CURRENT_LIST_DIR}/mingw-w64)
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/mingw-w64)

# 64-bit file sizes and offsets, as on Linux. The C runtime's open() flags under their POSIX
# names: its "not inherited" is close-on-exec, and Windows has no FIFO that open() could block
# on, so non-blocking opens need nothing.
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -DO_CLOEXEC=_O_NOINHERIT -DO_NONBLOCK=0")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
