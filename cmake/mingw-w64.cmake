# Cross build for 64-bit Windows with mingw-w64 (posix thread model, so
# std::thread and std::mutex work).
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
# Debian installs the 64-bit Wine loader as /usr/lib/wine/wine64, off the PATH.
find_program(KORVEX_WINE64 NAMES wine64 wine PATHS /usr/lib/wine)
if(KORVEX_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${KORVEX_WINE64}")
endif()
