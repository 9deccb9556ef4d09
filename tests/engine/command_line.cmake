# The command line: the parser's accepted and refused forms for both programs, the folder checks
# against the disk.
nv_add_test(engine_command_line_tests SOURCES command_line_test.cpp ${NV_STRINGS_RC}
            LIBRARIES engine)
