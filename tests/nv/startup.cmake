# Start-up of the support library. Two probe programs built like the installer (its manifest and
# version resource) run the whole start-up under the tests: the normal one, and one whose common
# controls report version 5.82, and one whose processor check finds no SSE2.
foreach(variant startup_probe startup_probe_old_controls startup_probe_no_sse2)
  add_executable(nv_${variant} ${CMAKE_CURRENT_SOURCE_DIR}/startup_probe.cpp ${NV_MANIFEST_RC}
                 ${NV_VERSION_RC})
  target_link_libraries(nv_${variant} PRIVATE nv)
  target_compile_options(nv_${variant} PRIVATE ${NV_WARNINGS})
  target_link_options(nv_${variant} PRIVATE -municode)
endforeach()
target_compile_definitions(nv_startup_probe_old_controls PRIVATE NV_PROBE_OLD_COMMON_CONTROLS)
target_compile_definitions(nv_startup_probe_no_sse2 PRIVATE NV_PROBE_NO_SSE2)

# A DLL beside the probes, which no load by name may find once start-up has restricted the search.
add_library(nv_planted_probe SHARED ${CMAKE_CURRENT_SOURCE_DIR}/planted_probe.cpp)
set_target_properties(nv_planted_probe PROPERTIES PREFIX "")

nv_add_test(nv_startup_tests SOURCES startup_test.cpp LIBRARIES nv GUI)
add_dependencies(nv_startup_tests nv_startup_probe nv_startup_probe_old_controls
                 nv_startup_probe_no_sse2 nv_planted_probe)
