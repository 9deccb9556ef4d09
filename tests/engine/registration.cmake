# Product registration: uninstall key, product path value and the registration run of the product
# stand-in (tools/tessaline), which the tests copy into a folder with blanks in its name. The
# journal's implementation is needed to link; without it the tests are left out. GUI: the
# stand-in's plain start opens a window, and the tracker count must not see other test programs.
if(EXISTS ${PROJECT_SOURCE_DIR}/engine/install_journal.cpp)
  nv_add_test(engine_registration_tests SOURCES product_registration_test.cpp
              LIBRARIES engine uninstall_log GUI)
  add_dependencies(engine_registration_tests Tessaline)
endif()
