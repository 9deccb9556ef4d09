# The wizard frame over stand-in pages, and the start-up decisions (classification against the
# product stand-ins in build/bin, start language, default folders).
nv_add_test(app_wizard_tests
            SOURCES wizard_test.cpp ${NV_STRINGS_RC} ${NV_DIALOGS_RC} ${NV_IMAGES_RC}
                    ${NV_VERSION_RC}
            LIBRARIES app GUI)
if(TARGET app_wizard_tests)
  add_dependencies(app_wizard_tests Tessaline tessaline_7_8_21_9 tessaline_7_8_22_2
                   tessaline_unversioned)
endif()

# Start-up from the application object, with the wizard replaced by a recorder.
nv_add_test(app_init_instance_tests
            SOURCES init_instance_test.cpp ${NV_STRINGS_RC} ${NV_DIALOGS_RC} ${NV_IMAGES_RC}
            LIBRARIES app GUI)
if(TARGET app_init_instance_tests)
  add_dependencies(app_init_instance_tests tessaline_7_8_21_9 tessaline_7_8_22_2)
endif()
