# One static library per source folder: every .cpp of the calling folder, the project root on the
# include path (includes name their folder: "payload/payload_format.h"), the project's warnings.
function(nv_add_library name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "LINKS")
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${NV_WARNINGS})
  target_link_libraries(${name} PUBLIC ${arg_LINKS})
endfunction()
