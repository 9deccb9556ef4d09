# The uninstall log: writer, reader, damaged-log reading and the search for a previous log.
nv_add_test(uninstall_log_tests
            SOURCES log_writer_test.cpp log_reader_test.cpp log_fuzz_test.cpp find_log_test.cpp
            LIBRARIES uninstall_log)
