# Cross-compiles for Windows with Debian's MinGW-w64 (posix thread model): for 32-bit Windows,
# the installer's own kind, where the machine can run 32-bit x86 code (and so 32-bit Wine for the
# tests and the tools the build runs); for 64-bit Windows from the same sources where its kernel
# runs 64-bit user code only, the test build of such a machine (scripts/wine-arch; NV_WINEARCH=win32
# or win64 overrides).
execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-arch
                OUTPUT_VARIABLE NV_WINE_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE)
set(CMAKE_SYSTEM_NAME Windows)
if(NV_WINE_ARCH STREQUAL "win64")
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
  set(NV_MINGW_PREFIX x86_64-w64-mingw32)
else()
  set(CMAKE_SYSTEM_PROCESSOR x86)
  set(NV_MINGW_PREFIX i686-w64-mingw32)
endif()

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
