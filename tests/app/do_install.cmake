# The install sequence run for real on the Progress page: archives built by the payload test
# helpers with the product stand-in (Tessaline), the DirectX setup stand-in (DSetup) and the
# file-holding helper of the payload tests. GUI: the page and its controls are real windows.
nv_add_test(app_do_install_tests
            SOURCES do_install_test.cpp ${NV_STRINGS_RC} ${NV_DIALOGS_RC}
            LIBRARIES app GUI)
target_include_directories(app_do_install_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests/engine)
add_dependencies(app_do_install_tests Tessaline DSetup payload_hold_file)
