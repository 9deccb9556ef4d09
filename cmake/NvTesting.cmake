# nv_add_test(NAME SOURCES ... [LIBRARIES ...] [GUI] [EXCLUDE pattern]) — one GoogleTest program
# in build/bin, run under Wine, each of its tests discovered as a CTest test. GUI programs run one
# at a time. EXCLUDE leaves out tests that only make sense in a separately registered run (for
# example with another user locale).
include(GoogleTest)

function(nv_add_test name)
  cmake_parse_arguments(arg "GUI" "EXCLUDE" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${name} ${arg_SOURCES} ${PROJECT_SOURCE_DIR}/tests/test_manifest.rc)
  # windres reads the manifest the script names; a changed manifest builds the resource again.
  set_source_files_properties(${PROJECT_SOURCE_DIR}/tests/test_manifest.rc PROPERTIES
                              OBJECT_DEPENDS ${PROJECT_SOURCE_DIR}/tests/test.manifest)
  target_link_libraries(${name} PRIVATE ${arg_LIBRARIES} GTest::gtest_main)
  target_compile_options(${name} PRIVATE ${NV_WARNINGS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  set(props TIMEOUT 300)
  if(arg_GUI)
    list(APPEND props RUN_SERIAL TRUE LABELS gui)
  endif()
  set(filter)
  if(arg_EXCLUDE)
    set(filter TEST_FILTER "-${arg_EXCLUDE}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 ${filter} PROPERTIES ${props})
endfunction()
