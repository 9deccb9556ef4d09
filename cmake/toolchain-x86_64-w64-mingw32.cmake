# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (posix thread model): the test build
# of a machine that runs no 32-bit code (toolchain-mingw.cmake).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(NV_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${NV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${NV_MINGW_PREFIX}-windres)
# CMake derives the wrong archiver names from the "-posix" suffix.
set(CMAKE_AR     /usr/bin/${NV_MINGW_PREFIX}-ar     CACHE FILEPATH "" FORCE)
set(CMAKE_RANLIB /usr/bin/${NV_MINGW_PREFIX}-ranlib CACHE FILEPATH "" FORCE)

set(CMAKE_FIND_ROOT_PATH /usr/${NV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
