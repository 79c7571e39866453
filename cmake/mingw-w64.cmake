# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (posix thread model).
# COLLECTOR_WIN_PREFIX names the folder holding the cross-built static libraries.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT COLLECTOR_WIN_PREFIX AND DEFINED ENV{COLLECTOR_WIN_PREFIX})
  set(COLLECTOR_WIN_PREFIX "$ENV{COLLECTOR_WIN_PREFIX}")
endif()
set(CMAKE_FIND_ROOT_PATH ${COLLECTOR_WIN_PREFIX} /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static libraries only: one .exe that needs nothing but Windows' own DLLs.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest runs the tests under wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
