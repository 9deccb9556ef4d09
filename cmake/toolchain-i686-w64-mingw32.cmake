# Cross-compiles for 32-bit Windows with Debian's MinGW-w64 (posix thread model).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(NV_MINGW_PREFIX i686-w64-mingw32)
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
