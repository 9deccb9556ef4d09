# Chooses the cross compiler for this machine: 32-bit Windows, the installer's own kind, where the
# machine can run 32-bit x86 code (and so 32-bit Wine for the tests and the tools the build runs);
# 64-bit Windows from the same sources where its kernel runs 64-bit user code only
# (scripts/wine-arch; NV_WINEARCH=win32 or win64 overrides).
execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-arch
                OUTPUT_VARIABLE NV_WINE_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NV_WINE_ARCH STREQUAL "win64")
  include(${CMAKE_CURRENT_LIST_DIR}/toolchain-x86_64-w64-mingw32.cmake)
else()
  include(${CMAKE_CURRENT_LIST_DIR}/toolchain-i686-w64-mingw32.cmake)
endif()
