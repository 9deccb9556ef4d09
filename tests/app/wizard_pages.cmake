# The Start, Mode, Folder and Shortcut pages on the installer's own dialog templates, string
# tables and flag icons, as children of a test window.
nv_add_test(app_wizard_pages_tests
            SOURCES wizard_pages_test.cpp wizard_folder_pages_test.cpp
                    ${NV_STRINGS_RC} ${NV_DIALOGS_RC} ${NV_IMAGES_RC}
            LIBRARIES app GUI)
