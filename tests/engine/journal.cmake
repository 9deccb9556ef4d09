# The rollback journal on real files in private folders and on a scratch stand-in for
# HKEY_LOCAL_MACHINE.
nv_add_test(engine_journal_tests SOURCES install_journal_test.cpp LIBRARIES engine)
