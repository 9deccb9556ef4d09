# Removal through a handle on real files and folders in private folders; the final path that a
# junction on the way would change comes from a stand-in query.
nv_add_test(engine_handle_removal_tests SOURCES handle_removal_test.cpp LIBRARIES engine)
