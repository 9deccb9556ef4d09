# The uninstaller's decisions and steps: which paths it may touch, the plan it makes from a log,
# the removals on disk and in the registry, and a whole run with its log, summary and exit code.
nv_add_test(uninstaller_tests
            SOURCES removal_plan_test.cpp removal_steps_test.cpp
                    uninstall_run_test.cpp uninstall_startup_test.cpp ${NV_STRINGS_RC}
            LIBRARIES uninstaller)
