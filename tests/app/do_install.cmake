# The install sequence run for real on the Progress page: archives built by the payload test
# helpers with the product stand-in (Tessaline), the DirectX setup stand-in (DSetup) and the
# file-holding helper of the payload tests. GUI: the page and its controls are real windows.
nv_add_test(app_do_install_tests
            SOURCES do_install_test.cpp do_install_failure_test.cpp ${NV_STRINGS_RC} ${NV_DIALOGS_RC}
            LIBRARIES app GUI EXCLUDE "*DiskFull*")
add_dependencies(app_do_install_tests Tessaline DSetup payload_hold_file)

# The disk-full case runs on a small tmpfs mapped as drive N: around it (root only; it skips
# itself when the drive is missing).
set(do_install_drive ${CMAKE_BINARY_DIR}/small_drive)
set(do_install_drive_script ${CMAKE_CURRENT_SOURCE_DIR}/small_drive.sh)
add_test(NAME DoInstallSmallDriveMount
         COMMAND ${do_install_drive_script} mount ${do_install_drive} ${NV_WINEPREFIX}
                 ${PROJECT_SOURCE_DIR}/scripts/wine-run)
add_test(NAME DoInstallSmallDriveUnmount
         COMMAND ${do_install_drive_script} unmount ${do_install_drive} ${NV_WINEPREFIX}
                 ${PROJECT_SOURCE_DIR}/scripts/wine-run)
add_test(NAME DoInstallTest.DiskFullFailsWithCode112AndRollsBack
         COMMAND app_do_install_tests --gtest_filter=DoInstallTest.DiskFullFailsWithCode112AndRollsBack)
set_tests_properties(DoInstallSmallDriveMount PROPERTIES FIXTURES_SETUP do_install_small_drive
                     RUN_SERIAL TRUE)
set_tests_properties(DoInstallSmallDriveUnmount PROPERTIES FIXTURES_CLEANUP do_install_small_drive
                     RUN_SERIAL TRUE)
set_tests_properties(DoInstallTest.DiskFullFailsWithCode112AndRollsBack PROPERTIES
                     FIXTURES_REQUIRED do_install_small_drive RUN_SERIAL TRUE LABELS gui
                     TIMEOUT 300 SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
