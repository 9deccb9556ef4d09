# The application object's settings and the Progress and End pages, on the installer's own
# dialog templates and string tables.
nv_add_test(app_pages_tests
            SOURCES pages_test.cpp ${NV_STRINGS_RC} ${PROJECT_SOURCE_DIR}/resources/dialogs.rc
            LIBRARIES app GUI)
