# The uninstaller's decisions and steps: which paths it may touch, the plan it makes from a log,
# the removals on disk and in the registry, and a whole run with its log, summary and exit code.
nv_add_test(uninstaller_tests
            SOURCES removal_plan_test.cpp removal_steps_test.cpp
                    uninstall_run_test.cpp uninstall_startup_test.cpp ${NV_STRINGS_RC}
            LIBRARIES uninstaller)
# The uninstaller's window on its own templates, images and strings.
nv_add_test(uninstaller_window_tests
            SOURCES uninstall_window_test.cpp
                    ${PROJECT_SOURCE_DIR}/resources/uninstaller_dialogs.rc ${NV_STRINGS_RC}
                    ${NV_IMAGES_RC}
            LIBRARIES uninstaller GUI)
