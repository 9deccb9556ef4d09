# Link files and the shortcut step, written into private folders and read back through the shell
# link object; the desktop lookup is pointed at private folders too.
nv_add_test(engine_shortcuts_tests SOURCES shortcuts_test.cpp ${NV_STRINGS_RC} LIBRARIES engine)
