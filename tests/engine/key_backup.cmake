# The uninstall key's state saved to a file and put back, on a scratch stand-in for
# HKEY_LOCAL_MACHINE.
nv_add_test(engine_key_backup_tests SOURCES registry_key_backup_test.cpp LIBRARIES engine)
