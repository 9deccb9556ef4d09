# The command line: the parser's accepted and refused forms, the folder checks against the disk.
nv_add_test(app_command_line_tests SOURCES command_line_test.cpp ${NV_STRINGS_RC}
            LIBRARIES app)
