# Third-party libraries, built from Debian's source packages (scripts/fetch-deps.sh) and
# /usr/src/googletest. Nothing is vendored into the repository.

set(NV_DEPS_DIR "$ENV{NV_DEPS_DIR}")
if(NOT NV_DEPS_DIR)
  if(DEFINED ENV{XDG_CACHE_HOME})
    set(NV_DEPS_DIR "$ENV{XDG_CACHE_HOME}/tessaline-deps")
  else()
    set(NV_DEPS_DIR "$ENV{HOME}/.cache/tessaline-deps")
  endif()
endif()
if(NOT EXISTS "${NV_DEPS_DIR}/.complete-v1")
  execute_process(COMMAND bash "${PROJECT_SOURCE_DIR}/scripts/fetch-deps.sh"
                  RESULT_VARIABLE fetch_result)
  if(NOT fetch_result EQUAL 0)
    message(FATAL_ERROR "scripts/fetch-deps.sh failed (${fetch_result})")
  endif()
endif()

# The dependencies' own paths appear in the binaries as deps/...
nv_map_build_path(${NV_DEPS_DIR} "deps/")

# libbz2 as a static library: the seven library sources, no tools, never BZ_IMPORT.
set(bz2_dir "${NV_DEPS_DIR}/bzip2-1.0.8")
add_library(bz2_static STATIC
  ${bz2_dir}/blocksort.c ${bz2_dir}/huffman.c ${bz2_dir}/crctable.c ${bz2_dir}/randtable.c
  ${bz2_dir}/compress.c ${bz2_dir}/decompress.c ${bz2_dir}/bzlib.c)
target_include_directories(bz2_static SYSTEM PUBLIC ${bz2_dir})
target_compile_options(bz2_static PRIVATE -w)
add_library(BZip2::BZip2 ALIAS bz2_static)

# Boost through its own CMake support, limited to what the installer uses.
set(BOOST_INCLUDE_LIBRARIES iostreams format uuid algorithm system)
# Boost.Uuid's target drags in Boost.Serialization for a header the installer does not use.
set(BOOST_EXCLUDE_LIBRARIES serialization)
set(BOOST_IOSTREAMS_ENABLE_BZIP2 ON)
set(BOOST_IOSTREAMS_ENABLE_ZLIB OFF)
set(BOOST_IOSTREAMS_ENABLE_LZMA OFF)
set(BOOST_IOSTREAMS_ENABLE_ZSTD OFF)
set(BUILD_TESTING_SAVED ${BUILD_TESTING})
set(BUILD_TESTING OFF)
add_library(boost_serialization_headers INTERFACE)
target_include_directories(boost_serialization_headers SYSTEM INTERFACE
  ${NV_DEPS_DIR}/boost/libs/serialization/include)
add_library(Boost::serialization ALIAS boost_serialization_headers)
add_subdirectory(${NV_DEPS_DIR}/boost ${CMAKE_BINARY_DIR}/_deps/boost EXCLUDE_FROM_ALL SYSTEM)
set(BUILD_TESTING ${BUILD_TESTING_SAVED})

# GoogleTest from Debian's googletest package.
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL SYSTEM)
