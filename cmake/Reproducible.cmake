# Builds that depend only on the sources: the same commit gives byte-identical programs in any
# folder at any time.
# - no time stamps in the PE headers (the linker would write the time of the link);
# - no folder of the build machine in the binaries: paths that reach them through __FILE__
#   (assertions, Boost's exception locations) are written relative to the source, build and
#   dependency folders;
# - static libraries without member time stamps, owners or modes (ar and ranlib D).
# The payload archive stores its sources relative to the manifest (payload pack) and the
# generated pictures are the same bytes on every run (resources/make_images.py).

add_link_options(-Wl,--no-insert-timestamp)

# Writes paths below `folder` as `replacement` followed by the rest. A later call takes
# precedence for paths that several folders contain (GCC tries the last map first).
function(nv_map_build_path folder replacement)
  add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${folder}/=${replacement}>")
endfunction()

nv_map_build_path(${PROJECT_SOURCE_DIR} "")
nv_map_build_path(${CMAKE_BINARY_DIR} "build/")

foreach(lang C CXX)
  set(CMAKE_${lang}_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
endforeach()

# The programs a release consists of: the shipped executables and the release engineers' tools.
# Their file names go to release-executables.txt in the build folder, one a line, and the
# folders they must not name to build-folders.txt, for scripts/check-reproducible.sh. Runs when
# the top folder's CMakeLists.txt has been read, after every program has been added.
function(nv_list_release_executables)
  get_property(shipped GLOBAL PROPERTY NV_SHIPPED_EXECUTABLES)
  get_property(tools GLOBAL PROPERTY NV_RELEASE_TOOLS)
  set(names)
  foreach(target IN LISTS shipped tools)
    list(APPEND names "$<TARGET_FILE_NAME:${target}>")
  endforeach()
  list(JOIN names "\n" names)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/release-executables.txt CONTENT "${names}\n")
  # The folders of this build that must not appear in them.
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/build-folders.txt
       CONTENT "${PROJECT_SOURCE_DIR}\n${CMAKE_BINARY_DIR}\n${NV_DEPS_DIR}\n")
  add_custom_target(release_executables)
  add_dependencies(release_executables ${shipped} ${tools})
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL nv_list_release_executables)
