# The temporary working folder: its random name, its error texts and its clean-up, with a second
# process holding one of its files.
nv_add_test(engine_temporary_folder_tests SOURCES temporary_folder_test.cpp LIBRARIES engine)
add_dependencies(engine_temporary_folder_tests payload_hold_file)
