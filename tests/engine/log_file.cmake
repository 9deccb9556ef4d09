# The /LOG file: its encoding, line breaks and banners, and the paths it refuses.
nv_add_test(engine_log_file_tests SOURCES log_file_test.cpp LIBRARIES engine)
