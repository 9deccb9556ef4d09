# The installer's dialog templates and images, loaded from the linked resources and compared with
# the test's own table of controls and sizes.
nv_add_test(app_resource_tests
            SOURCES ${CMAKE_CURRENT_LIST_DIR}/resources_test.cpp
                    ${CMAKE_CURRENT_LIST_DIR}/image_resources_test.cpp ${NV_DIALOGS_RC} ${NV_IMAGES_RC}
            LIBRARIES comctl32 gdi32 user32
            GUI)


# The folder picker: its path rules as functions, and the shell's browser driven by a timer.
nv_add_test(app_folder_picker_tests
            SOURCES ${CMAKE_CURRENT_LIST_DIR}/folder_picker_test.cpp
            LIBRARIES app
            GUI)
