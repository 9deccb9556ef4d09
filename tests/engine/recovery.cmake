# The run's journal file (its format under seeded damage) and the recovery of interrupted runs
# on real files in private folders and a scratch stand-in for HKEY_LOCAL_MACHINE; who may write
# what they read.
nv_add_test(engine_recovery_tests SOURCES journal_file_test.cpp interrupted_runs_test.cpp
                                          write_trust_test.cpp pending_deletions_test.cpp
            LIBRARIES engine)
